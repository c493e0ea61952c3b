// Many connections, closings and reopenings in one process: nothing may leak
// (descriptors, threads) and nothing may stay bound.

#include "vexaIGTLTestSupport.h"

#include <gtest/gtest.h>

using namespace vexa;
using namespace vexa::test;

TEST(IGTLStability, TwoHundredConnectAndCloseCyclesKeepTheDescriptorCount)
{
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  const int descriptors = CountOpenDescriptors();
  const int threads = CountThreads();
  for (int i = 0; i < 200; ++i)
  {
    IGTLClient::Pointer client = StartClient(server->GetPortNumber());
    ASSERT_TRUE(client.IsNotNull()) << "cycle " << i;
    ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; })) << "cycle " << i;
    ASSERT_TRUE(client->CloseConnection());
    client = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 0; })) << "cycle " << i;
  }
  EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == descriptors; }))
    << CountOpenDescriptors() << " descriptors open, " << descriptors << " before";
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads; }))
    << CountThreads() << " threads, " << threads << " before";
}

TEST(IGTLStability, AServerClosedAndReopenedOnItsPortWithClientsComingBack)
{
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  const int port = server->GetPortNumber();
  const int descriptors = CountOpenDescriptors();
  for (int i = 0; i < 20; ++i)
  {
    IGTLClient::Pointer client = StartClient(port);
    ASSERT_TRUE(client.IsNotNull()) << "round " << i;
    EventCounter toServer(server, MessageReceivedEvent());
    EventCounter toClient(client, MessageReceivedEvent());
    ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
    ASSERT_TRUE(client->SendMessage(IGTLMessage::New(MakeString("ping"))));
    ASSERT_TRUE(server->SendMessage(IGTLMessage::New(MakeString("pong"))));
    ASSERT_TRUE(WaitUntil([&] { return toServer.Count() == 1 && toClient.Count() == 1; })) << "round " << i;

    ASSERT_TRUE(server->CloseConnection()); // the server's ends go to TIME_WAIT
    ASSERT_TRUE(server->OpenConnection()) << "round " << i;
    ASSERT_EQ(port, server->GetPortNumber());
    ASSERT_TRUE(server->StartCommunication());
  }
  EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == descriptors; }));
}

TEST(IGTLStability, DevicesDestroyedWhileRunningStopTheirThreads)
{
  int descriptors = 0;
  int threads = 0;
  for (int i = 0; i < 31; ++i)
  {
    if (i == 1)
    {
      // counted after a first round: a sanitizer's runtime starts a thread of its own on first use
      descriptors = CountOpenDescriptors();
      threads = CountThreads();
    }
    IGTLServer::Pointer server = StartServer();
    ASSERT_TRUE(server.IsNotNull());
    IGTLClient::Pointer client = StartClient(server->GetPortNumber());
    ASSERT_TRUE(client.IsNotNull());
    ASSERT_TRUE(
      client->SendMessage(IGTLMessage::New(MakeImage(320, 240, 1, igtl::ImageMessage::TYPE_UINT8).GetPointer())));
    if (i % 2 == 0)
      server = nullptr; // the server goes first, with its client still talking
    client = nullptr;
    server = nullptr;
  }
  EXPECT_TRUE(WaitUntil([&] { return CountOpenDescriptors() == descriptors; }));
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads; }))
    << CountThreads() << " threads, " << threads << " before";
}
