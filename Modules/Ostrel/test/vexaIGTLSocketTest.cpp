#include "vexaIGTLTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>

using namespace vexa;
using namespace vexa::test;

namespace
{
  /** A listening socket, a connected client and the accepted end. */
  struct Connection
  {
    IGTLServerSocket::Pointer listener = IGTLServerSocket::New();
    IGTLClientSocket::Pointer client;
    IGTLClientSocket::Pointer accepted;

    Connection()
    {
      if (listener->CreateServer(0) != 0)
        return;
      client = ConnectRaw(listener->GetServerPort());
      if (client.IsNotNull())
        accepted = listener->WaitForConnection(10000);
    }
    bool Ok() const { return client.IsNotNull() && accepted.IsNotNull(); }
  };
}

TEST(IGTLSocket, ClosingReleasesEveryDescriptor)
{
  const int before = CountOpenDescriptors();
  for (int i = 0; i < 50; ++i)
  {
    Connection c;
    ASSERT_TRUE(c.Ok());
    if (i % 2 == 0)
    {
      // OpenIGTLink's own CloseSocket() only shuts the descriptor down; ours is released all the same.
      c.client->CloseSocket();
      c.accepted->CloseSocket();
    }
  }
  EXPECT_EQ(before, CountOpenDescriptors());
}

TEST(IGTLSocket, AClosedServersPortCanBeListenedOnAgainAtOnce)
{
  int port = -1;
  {
    Connection c;
    ASSERT_TRUE(c.Ok());
    port = c.listener->GetServerPort();
    const char byte = 'x';
    ASSERT_EQ(IGTLSocketResult::Done, c.client->SendExactly(&byte, 1, 1000));
    char got = 0;
    ASSERT_EQ(IGTLSocketResult::Done, c.accepted->ReceiveExactly(&got, 1, 1000));
    // The server's end closes first, so the port's connection lingers in TIME_WAIT.
    c.accepted->Close();
    c.listener->Close();
  }
  IGTLServerSocket::Pointer again = IGTLServerSocket::New();
  EXPECT_EQ(0, again->CreateServer(port));
  EXPECT_EQ(port, again->GetServerPort());

  IGTLServerSocket::Pointer second = IGTLServerSocket::New();
  EXPECT_EQ(-1, second->CreateServer(port)) << "two listeners on one port";
}

TEST(IGTLSocket, ConnectedSocketsHaveTimeOutsAndCloseOnExec)
{
  Connection c;
  ASSERT_TRUE(c.Ok());
  for (IGTLClientSocket *s : {c.client.GetPointer(), c.accepted.GetPointer()})
  {
    EXPECT_NE(0, ::fcntl(s->GetDescriptor(), F_GETFD) & FD_CLOEXEC);
  }
  timeval timeout = {0, 0};
  socklen_t length = sizeof(timeout);
  ASSERT_EQ(0, ::getsockopt(c.accepted->GetDescriptor(), SOL_SOCKET, SO_RCVTIMEO, &timeout, &length));
  EXPECT_EQ(100000, timeout.tv_sec * 1000000 + timeout.tv_usec);
  EXPECT_NE(0, ::fcntl(c.listener->GetDescriptor(), F_GETFD) & FD_CLOEXEC);
}

TEST(IGTLSocket, ConnectingToAPortWithoutListenerFails)
{
  int port = -1;
  {
    IGTLServerSocket::Pointer listener = IGTLServerSocket::New();
    ASSERT_EQ(0, listener->CreateServer(0));
    port = listener->GetServerPort();
  }
  IGTLClientSocket::Pointer client = IGTLClientSocket::New();
  EXPECT_EQ(-1, client->ConnectToServer("127.0.0.1", port));
  EXPECT_FALSE(client->IsOpen());
  EXPECT_EQ(-1, client->ConnectToServer("127.0.0.1", 70000));
  EXPECT_EQ(-1, client->ConnectToServer("", port));
}

TEST(IGTLSocket, ReceiveExactlyWaitsAcrossPausesAndSkips)
{
  Connection c;
  ASSERT_TRUE(c.Ok());
  std::thread writer([&] {
    const std::string first = "abc", second = "defghij";
    c.client->SendExactly(first.data(), first.size(), 1000);
    std::this_thread::sleep_for(50ms);
    c.client->SendExactly(second.data(), second.size(), 1000);
  });
  char text[5] = {};
  ASSERT_EQ(IGTLSocketResult::Done, c.accepted->ReceiveExactly(text, 4, 5000));
  EXPECT_STREQ("abcd", text);
  ASSERT_EQ(IGTLSocketResult::Done, c.accepted->ReceiveExactly(nullptr, 3, 5000)); // skips "efg"
  ASSERT_EQ(IGTLSocketResult::Done, c.accepted->ReceiveExactly(text, 2, 5000));
  EXPECT_EQ('h', text[0]);
  EXPECT_EQ('i', text[1]);
  writer.join();

  // one byte ("j") is left: asking for two stalls
  EXPECT_EQ(IGTLSocketResult::TimedOut, c.accepted->ReceiveExactly(text, 2, 50));

  IGTLWakeUpSignal wake;
  wake.Raise();
  EXPECT_EQ(IGTLSocketResult::Interrupted, c.accepted->ReceiveExactly(text, 1, 5000, wake.GetDescriptor()));
  wake.Clear();

  c.client->Close();
  EXPECT_EQ(IGTLSocketResult::Closed, c.accepted->ReceiveExactly(text, 1, 5000));
}

TEST(IGTLSocket, SendingToAPeerThatDoesNotReadGivesUpWithThePartialCount)
{
  Connection c;
  ASSERT_TRUE(c.Ok());
  std::vector<unsigned char> big(64 << 20, 0x5a);
  std::uint64_t sent = 0;
  EXPECT_EQ(IGTLSocketResult::TimedOut, c.client->SendExactly(big.data(), big.size(), 100, -1, &sent));
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, big.size());
}

TEST(IGTLSocket, WaitingForSeveralSockets)
{
  Connection a, b;
  ASSERT_TRUE(a.Ok());
  ASSERT_TRUE(b.Ok());
  IGTLWakeUpSignal wake;
  IGTLPollSet set;
  set.Reset({wake.GetDescriptor(), -1});
  set.AddSocket(a.accepted);
  set.AddSocket(b.accepted);
  ASSERT_EQ(2u, set.GetNumberOfSockets());
  EXPECT_EQ(IGTLSocketResult::TimedOut, set.Wait(10));

  const char byte = 1;
  ASSERT_EQ(IGTLSocketResult::Done, b.client->SendExactly(&byte, 1, 1000));
  for (int wait = 0; wait < 2; ++wait) // the same set again: nothing left over from the last wait
  {
    ASSERT_EQ(IGTLSocketResult::Done, set.Wait(10000));
    EXPECT_FALSE(set.IsReadable(0));
    EXPECT_TRUE(set.IsReadable(1));
  }

  wake.Raise();
  EXPECT_EQ(IGTLSocketResult::Interrupted, set.Wait(10000));
}

TEST(IGTLSocket, ShutdownEndsTheConnectionButKeepsTheDescriptor)
{
  Connection c;
  ASSERT_TRUE(c.Ok());
  c.accepted->Shutdown();
  EXPECT_TRUE(c.accepted->IsOpen());
  char byte;
  EXPECT_EQ(IGTLSocketResult::Closed, c.accepted->ReceiveExactly(&byte, 1, 5000)) << "this side";
  EXPECT_EQ(IGTLSocketResult::Closed, c.client->ReceiveExactly(&byte, 1, 5000)) << "the peer";
}
