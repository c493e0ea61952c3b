// Peers that no one here wrote, and hostile ones. Every case sends its bytes,
// then a valid message: that message must arrive with the connection intact,
// or the connection must be dropped (when the stream's framing is lost). In
// every case the device stops communication at the end.

#include "vexaIGTLTestSupport.h"

#include <vorlenLogSink.h>

#include <igtlTrackingDataMessage.h>

#include <gtest/gtest.h>

#include <sys/socket.h>

using namespace vexa;
using namespace vexa::test;

namespace
{
  enum class Outcome
  {
    Arrives, ///< the valid message after the case arrives; the connection stays
    Dropped  ///< the connection is dropped
  };

  struct HostileCase
  {
    const char *name;
    std::function<void(IGTLClientSocket *peer)> send;
    Outcome outcome;
    int messagesBefore = 0;       ///< messages the case itself delivers before the valid one
    int commands = 0;             ///< requests the case itself delivers
    const char *logged = nullptr; ///< a text some record must contain
  };

  std::vector<unsigned char> StringBody(const std::string &text)
  {
    const std::vector<unsigned char> packed = Packed(MakeString(text));
    return std::vector<unsigned char>(packed.begin() + IGTL_HEADER_SIZE, packed.end());
  }

  void SendAnnouncing(IGTLClientSocket *peer, std::uint64_t bodySize)
  {
    const std::vector<unsigned char> body = StringBody("whatever follows");
    SendBytes(peer, Concat(RawHeader("STRING", bodySize, IGTL_HEADER_VERSION, body), body));
  }

  const std::vector<HostileCase> &Cases()
  {
    static const std::vector<HostileCase> cases = {
      {"UnknownTypeWithBody",
       [](IGTLClientSocket *peer) {
         const std::vector<unsigned char> body(100, 0xab);
         SendBytes(peer, Concat(RawHeader("FOOBAR", body.size(), IGTL_HEADER_VERSION, body), body));
       },
       Outcome::Arrives, 0, 0, "Unknown IGT message type: FOOBAR"},
      {"BodySizeAbove4GiB", [](IGTLClientSocket *peer) { SendAnnouncing(peer, (std::uint64_t(1) << 32) + 100); },
       Outcome::Dropped, 0, 0, "announces a body of 4294967396 bytes"},
      {"BodySize0x7FFFFFF0", [](IGTLClientSocket *peer) { SendAnnouncing(peer, 0x7FFFFFF0); }, Outcome::Dropped, 0, 0,
       "announces a body of 2147483632 bytes"},
      {"BodySize1GiB", [](IGTLClientSocket *peer) { SendAnnouncing(peer, std::uint64_t(1) << 30); }, Outcome::Dropped,
       0, 0, "more than the maximum"},
      {"WrongVersion",
       [](IGTLClientSocket *peer) {
         std::vector<unsigned char> bytes = Packed(MakeString("version 2"));
         bytes[1] = 2; // the version field is big-endian
         SendBytes(peer, bytes);
       },
       Outcome::Dropped, 0, 0, "has the version 2"},
      {"GarbageBytes",
       [](IGTLClientSocket *peer) {
         std::vector<unsigned char> garbage(200);
         unsigned int x = 12345;
         for (unsigned char &b : garbage)
           b = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 16);
         garbage[0] = 0xde;
         garbage[1] = 0xad;
         SendBytes(peer, garbage);
       },
       Outcome::Dropped, 0, 0, "Dropping the connection"},
      {"HeaderSplitWithAPause",
       [](IGTLClientSocket *peer) {
         const std::vector<unsigned char> bytes = Packed(MakeString("split"));
         SendBytes(peer, std::vector<unsigned char>(bytes.begin(), bytes.begin() + 30));
         std::this_thread::sleep_for(100ms); // the peer pauses; shorter than the transfer time-out
         SendBytes(peer, std::vector<unsigned char>(bytes.begin() + 30, bytes.end()));
       },
       Outcome::Arrives, 1},
      {"BodyThatStalls",
       [](IGTLClientSocket *peer) {
         const std::vector<unsigned char> body = StringBody("never finished");
         SendBytes(peer, RawHeader("STRING", 1000));
         SendBytes(peer, body); // then nothing more, ever (the valid message only adds to the body)
       },
       Outcome::Dropped, 0, 0, "ms in the middle of a message"},
      {"RTSWithItsBody", [](IGTLClientSocket *peer) { SendBytes(peer, Packed(igtl::RTSTrackingDataMessage::New())); },
       Outcome::Arrives, 0, 1},
      {"GETWithABody",
       [](IGTLClientSocket *peer) {
         const std::vector<unsigned char> body(10, 1);
         SendBytes(peer, Concat(RawHeader("GET_IMAGE", body.size(), IGTL_HEADER_VERSION, body), body));
       },
       Outcome::Arrives, 0, 1},
      {"CorruptedBodyCRC",
       [](IGTLClientSocket *peer) {
         std::vector<unsigned char> bytes = Packed(MakeString("corrupted"));
         bytes[IGTL_HEADER_SIZE + 6] ^= 0x20;
         SendBytes(peer, bytes);
       },
       Outcome::Arrives},
      {"StringLengthPastItsBody",
       [](IGTLClientSocket *peer) {
         // a correct CRC over a body whose string length says 28524 bytes
         std::vector<unsigned char> body(70, 'x');
         body[2] = 0x6f;
         body[3] = 0x6c;
         SendBytes(peer, Concat(RawHeader("STRING", body.size(), IGTL_HEADER_VERSION, body), body));
       },
       Outcome::Arrives, 0, 0, "Dropped a malformed STRING message"},
      {"EmptyBodyOfAStatus", [](IGTLClientSocket *peer) { SendBytes(peer, RawHeader("STATUS", 0)); }, Outcome::Arrives},
      {"LowerCaseType",
       [](IGTLClientSocket *peer) {
         const std::vector<unsigned char> body = StringBody("lower");
         SendBytes(peer, Concat(RawHeader("string", body.size(), IGTL_HEADER_VERSION, body), body));
       },
       Outcome::Arrives, 0, 0, "Unknown IGT message type: string"},
      {"Reset",
       [](IGTLClientSocket *peer) {
         const std::vector<unsigned char> bytes = Packed(MakeString("cut"));
         SendBytes(peer, std::vector<unsigned char>(bytes.begin(), bytes.begin() + 40));
         linger abort = {1, 0}; // close with a reset instead of an orderly end
         ::setsockopt(peer->GetDescriptor(), SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
         peer->Close();
       },
       Outcome::Dropped},
      {"Close", [](IGTLClientSocket *peer) { peer->Close(); }, Outcome::Dropped},
    };
    return cases;
  }

  class HostilePeer : public ::testing::TestWithParam<std::tuple<std::size_t, bool>>
  {
  };

  std::string CaseName(const ::testing::TestParamInfo<std::tuple<std::size_t, bool>> &info)
  {
    return std::string(Cases()[std::get<0>(info.param)].name) + (std::get<1>(info.param) ? "ToServer" : "ToClient");
  }
}

TEST_P(HostilePeer, TheNextMessageArrivesOrTheConnectionIsDropped)
{
  const HostileCase &c = Cases()[std::get<0>(GetParam())];
  const bool toServer = std::get<1>(GetParam());
  vorlen::CapturingSink sink;

  // the device under attack, and the hostile peer's end of its connection
  IGTLDevice::Pointer device;
  IGTLServer::Pointer server;
  IGTLServerSocket::Pointer listener;
  IGTLClientSocket::Pointer peer;
  if (toServer)
  {
    server = StartServer();
    ASSERT_TRUE(server.IsNotNull());
    device = server.GetPointer();
    peer = ConnectRaw(server->GetPortNumber());
    ASSERT_TRUE(peer.IsNotNull());
    ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
  }
  else
  {
    listener = IGTLServerSocket::New();
    ASSERT_EQ(0, listener->CreateServer(0));
    IGTLClient::Pointer client = StartClient(listener->GetServerPort());
    ASSERT_TRUE(client.IsNotNull());
    device = client.GetPointer();
    peer = listener->WaitForConnection(10000);
    ASSERT_TRUE(peer.IsNotNull());
  }
  device->SetTransferTimeout(500);
  device->EnableNoBufferingMode(false);
  EventCounter messages(device, MessageReceivedEvent());
  EventCounter commands(device, CommandReceivedEvent());
  EventCounter lost(device, LostConnectionEvent());

  c.send(peer);
  if (peer->IsOpen())
    SendBytes(peer, Packed(MakeString("after")));

  if (c.outcome == Outcome::Arrives)
  {
    ASSERT_TRUE(WaitUntil([&] { return messages.Count() == c.messagesBefore + 1; }));
    std::vector<std::string> texts;
    for (igtl::StringMessage::Pointer m = device->GetNextStringMessage(); m.IsNotNull();
         m = device->GetNextStringMessage())
      texts.push_back(m->GetString());
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ("after", texts.back());
    EXPECT_EQ(static_cast<std::size_t>(c.messagesBefore + 1), texts.size());
    EXPECT_EQ(0, device->GetMessageQueue()->GetSize() - c.commands) << "nothing else was delivered";
    EXPECT_EQ(c.commands, commands.Count());
    EXPECT_EQ(0, lost.Count());
    EXPECT_EQ(1u, device->GetNumberOfConnections());
  }
  else
  {
    ASSERT_TRUE(WaitUntil([&] { return lost.Count() == 1; }));
    EXPECT_EQ(0, messages.Count());
    if (toServer)
    {
      EXPECT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 0; }));
    }
    if (peer->IsOpen())
    {
      // the peer sees its connection end (after whatever it may still read)
      char byte;
      EXPECT_NE(IGTLSocketResult::TimedOut, peer->ReceiveExactly(&byte, 1, 5000));
    }
  }
  if (c.logged != nullptr)
  {
    EXPECT_TRUE(sink.Contains(c.logged)) << c.logged;
  }

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(device->StopCommunication());
  RecordProperty(
    "StopMilliseconds",
    static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count()));
  EXPECT_EQ(IGTLDevice::Ready, device->GetState());
}

INSTANTIATE_TEST_SUITE_P(Cases,
                         HostilePeer,
                         ::testing::Combine(::testing::Range<std::size_t>(0, Cases().size()), ::testing::Bool()),
                         CaseName);
