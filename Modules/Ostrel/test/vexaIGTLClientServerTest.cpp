#include "vexaIGTLTestSupport.h"

#include <vexaException.h>
#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

using namespace vexa;
using namespace vexa::test;

namespace
{
  /** A port that nobody listens on (just released by a listener). */
  int FreePort()
  {
    IGTLServerSocket::Pointer listener = IGTLServerSocket::New();
    if (listener->CreateServer(0) != 0)
      return -1;
    return listener->GetServerPort();
  }

  int CountRecords(const vorlen::CapturingSink &sink, const std::string &text, int level)
  {
    int n = 0;
    for (const vorlen::LogRecord &r : sink.Records())
      if (r.text == text && r.level == level)
        ++n;
    return n;
  }
}

TEST(IGTLClient, OpenConnectionNeedsAPortAndAHost)
{
  vorlen::CapturingSink sink;
  IGTLClient::Pointer client = IGTLClient::New(true);
  client->SetHostname("127.0.0.1");
  EXPECT_FALSE(client->OpenConnection());
  client->SetPortNumber(FreePort());
  client->SetHostname("");
  EXPECT_FALSE(client->OpenConnection());
  EXPECT_EQ(IGTLDevice::Setup, client->GetState());
  EXPECT_EQ(2, CountRecords(sink, "Port number or hostname was not correct", 1));
  EXPECT_TRUE(sink.Records()[0].categories.empty());
}

TEST(IGTLClient, AFailedConnectLeavesSetup)
{
  vorlen::CapturingSink sink;
  IGTLClient::Pointer client = IGTLClient::New(true);
  const int port = FreePort();
  client->SetPortNumber(port);
  EXPECT_FALSE(client->OpenConnection());
  EXPECT_EQ(IGTLDevice::Setup, client->GetState());
  EXPECT_EQ(0u, client->GetNumberOfConnections());
  EXPECT_EQ(1, CountRecords(sink, "The client could not connect to 127.0.0.1 port: " + std::to_string(port), 2));
}

TEST(IGTLClientServer, OpenConnectionOnlyInSetup)
{
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  try
  {
    server->OpenConnection();
    FAIL() << "no exception";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_STREQ("Can only try to create a server if in setup mode", e.GetDescription());
  }

  IGTLClient::Pointer client = IGTLClient::New(true);
  client->SetPortNumber(server->GetPortNumber());
  NewClientConnectionEvent event;
  EventCounter connected(client, event);
  ASSERT_TRUE(client->OpenConnection());
  EXPECT_EQ(1, connected.Count()) << "fired on the caller's thread, before OpenConnection returns";
  EXPECT_EQ(IGTLDevice::Ready, client->GetState());
  try
  {
    client->OpenConnection();
    FAIL() << "no exception";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_STREQ("Can only try to open the connection if in setup mode. State was 1", e.GetDescription());
  }
}

TEST(IGTLServer, APortInUseOrMissing)
{
  vorlen::CapturingSink sink;
  IGTLServer::Pointer first = StartServer();
  ASSERT_TRUE(first.IsNotNull());
  IGTLServer::Pointer second = IGTLServer::New(true);
  second->SetPortNumber(first->GetPortNumber());
  try
  {
    second->OpenConnection();
    FAIL() << "no exception";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_EQ("The server could not be created. Port: " + std::to_string(first->GetPortNumber()),
              std::string(e.GetDescription()));
  }
  EXPECT_EQ(IGTLDevice::Setup, second->GetState());

  sink.Clear();
  IGTLServer::Pointer third = IGTLServer::New(true);
  EXPECT_FALSE(third->OpenConnection()) << "port -1";
  EXPECT_TRUE(sink.Records().empty());
}

TEST(IGTLClientServer, NumberOfConnections)
{
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  EXPECT_EQ(0u, server->GetNumberOfConnections());
  EventCounter accepted(server, NewClientConnectionEvent());

  IGTLClient::Pointer client = IGTLClient::New(true);
  EXPECT_EQ(0u, client->GetNumberOfConnections());
  client->SetPortNumber(server->GetPortNumber());
  ASSERT_TRUE(client->OpenConnection());
  EXPECT_EQ(1u, client->GetNumberOfConnections());
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
  EXPECT_TRUE(WaitUntil([&] { return accepted.Count() == 1; })) << "fired after the client joined the list";

  EXPECT_TRUE(client->CloseConnection());
  EXPECT_EQ(0u, client->GetNumberOfConnections());
  EXPECT_EQ(IGTLDevice::Setup, client->GetState());
  EXPECT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 0; }));
}

TEST(IGTLServer, TwoClientsGetEveryMessageAndALostOneLeavesTheOther)
{
  vorlen::CapturingSink sink;
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  IGTLClient::Pointer first = StartClient(server->GetPortNumber());
  IGTLClient::Pointer second = StartClient(server->GetPortNumber());
  ASSERT_TRUE(first.IsNotNull() && second.IsNotNull());
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 2; }));

  EventCounter sent(server, MessageSentEvent());
  EventCounter lost(server, LostConnectionEvent());
  EventCounter firstGot(first, MessageReceivedEvent());
  EventCounter secondGot(second, MessageReceivedEvent());

  ASSERT_TRUE(server->SendMessage(IGTLMessage::New(MakeString("to both"))));
  ASSERT_TRUE(WaitUntil([&] { return firstGot.Count() == 1 && secondGot.Count() == 1; }));
  EXPECT_TRUE(WaitUntil([&] { return sent.Count() == 2; })) << "one event per client";
  EXPECT_EQ("to both", TextOf(first->GetNextStringMessage()));
  EXPECT_EQ("to both", TextOf(second->GetNextStringMessage()));

  first->CloseConnection();
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return lost.Count() == 1; })) << "fired after the client left the list";
  EXPECT_EQ(1, CountRecords(sink, "Lost connection to a client socket. ", 1));
  EXPECT_EQ(1, CountRecords(sink, "Removed client socket from server client list.", 0));

  ASSERT_TRUE(server->SendMessage(IGTLMessage::New(MakeString("to one"))));
  ASSERT_TRUE(WaitUntil([&] { return secondGot.Count() == 2; }));
  EXPECT_EQ("to one", TextOf(second->GetNextStringMessage()));

  // and the remaining client still reaches the server
  EventCounter serverGot(server, MessageReceivedEvent());
  ASSERT_TRUE(second->SendMessage(IGTLMessage::New(MakeString("back"))));
  EXPECT_TRUE(WaitUntil([&] { return serverGot.Count() == 1; }));
}

TEST(IGTLServer, ALostClientIsNamedWhetherItClosedOrResetItsConnection)
{
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  std::mutex mutex;
  std::vector<std::vector<std::string>> passes; // the clients each lost event names
  const unsigned long tag = server->AddObserver(
    LostConnectionEvent(), FunctionCommand::New([&](itk::Object *, const itk::EventObject &event) {
      const auto *lost = dynamic_cast<const LostClientsEvent *>(&event);
      std::lock_guard<std::mutex> lock(mutex);
      passes.push_back(lost ? lost->GetClients() : std::vector<std::string>{"(a lost event without clients)"});
    }));

  // a reset connection answers no peer address any more: the server still names it
  for (const bool reset : {false, true})
  {
    const std::string how = reset ? "reset" : "closed";
    IGTLClientSocket::Pointer peer = ConnectRaw(server->GetPortNumber());
    ASSERT_TRUE(peer.IsNotNull()) << how;
    const std::string address = LocalAddressOf(peer);
    ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; })) << how;
    if (reset)
      ResetConnection(peer);
    else
      peer->Close();
    ASSERT_TRUE(WaitUntil([&] {
      std::lock_guard<std::mutex> lock(mutex);
      return !passes.empty();
    }))
      << how;
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(std::vector<std::vector<std::string>>{{address}}, passes) << how;
    passes.clear();
  }
  server->RemoveObserver(tag);
}

TEST(IGTLClient, ALostServerEndsTheThreadsButNotTheRunningState)
{
  vorlen::CapturingSink sink;
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  IGTLClient::Pointer client = IGTLClient::New(true);
  client->SetPortNumber(server->GetPortNumber());
  ASSERT_TRUE(client->OpenConnection());
  const int threadsWithoutClientLoops = CountThreads();
  EventCounter lost(client, LostConnectionEvent());
  ASSERT_TRUE(client->StartCommunication());
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));

  server->CloseConnection();
  ASSERT_TRUE(WaitUntil([&] { return lost.Count() == 1; }));
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threadsWithoutClientLoops - 3; }))
    << "neither the server's nor the client's loops run";
  EXPECT_EQ(IGTLDevice::Running, client->GetState());
  EXPECT_EQ(1, CountRecords(sink, "Lost connection to server socket.", 1));
  EXPECT_TRUE(client->StopCommunication());
  EXPECT_EQ(IGTLDevice::Ready, client->GetState());
}

TEST(IGTLServer, ClosingDisconnectsEveryClientAndTheServerCanBeOpenedAgainOnItsPort)
{
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  const int port = server->GetPortNumber();
  for (int round = 0; round < 3; ++round)
  {
    IGTLClientSocket::Pointer a = ConnectRaw(port);
    IGTLClientSocket::Pointer b = ConnectRaw(port);
    ASSERT_TRUE(a.IsNotNull() && b.IsNotNull());
    ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 2; }));
    ASSERT_TRUE(SendBytes(a, Packed(MakeString("hello"))));

    ASSERT_TRUE(server->CloseConnection());
    EXPECT_EQ(IGTLDevice::Setup, server->GetState());
    EXPECT_EQ(0u, server->GetNumberOfConnections());
    char byte;
    EXPECT_EQ(IGTLSocketResult::Closed, a->ReceiveExactly(&byte, 1, 5000));
    EXPECT_EQ(IGTLSocketResult::Closed, b->ReceiveExactly(&byte, 1, 5000));

    // at once, on the same port, with the old connections in TIME_WAIT
    ASSERT_TRUE(server->OpenConnection());
    EXPECT_EQ(port, server->GetPortNumber());
    ASSERT_TRUE(server->StartCommunication());
  }
}

TEST(IGTLServer, AClientInTheMiddleOfAMessageDoesNotStallTheOthers)
{
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  server->SetTransferTimeout(60000);
  IGTLClientSocket::Pointer slow = ConnectRaw(server->GetPortNumber());
  ASSERT_TRUE(slow.IsNotNull());
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
  const std::vector<unsigned char> message = Packed(MakeString("slow"));
  ASSERT_TRUE(SendBytes(slow, std::vector<unsigned char>(message.begin(), message.begin() + 30)));

  IGTLClient::Pointer fast = StartClient(server->GetPortNumber());
  ASSERT_TRUE(fast.IsNotNull());
  EventCounter got(server, MessageReceivedEvent());
  for (int i = 0; i < 5; ++i)
  {
    ASSERT_TRUE(fast->SendMessage(IGTLMessage::New(MakeString("fast " + std::to_string(i)))));
    ASSERT_TRUE(WaitUntil([&] { return got.Count() == i + 1; }));
  }
  EXPECT_EQ(2u, server->GetNumberOfConnections()) << "the slow client is still there, half a header sent";

  ASSERT_TRUE(SendBytes(slow, std::vector<unsigned char>(message.begin() + 30, message.end())));
  ASSERT_TRUE(WaitUntil([&] { return got.Count() == 6; }));
  EXPECT_EQ("slow", TextOf(server->GetNextStringMessage()));
}
