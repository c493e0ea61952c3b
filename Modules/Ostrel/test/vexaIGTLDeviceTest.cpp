#include "vexaIGTLTestSupport.h"

#include <vorlenLogSink.h>

#include <igtlBindMessage.h>
#include <igtlQuaternionTrackingDataMessage.h>
#include <igtlStatusMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace vexa;
using namespace vexa::test;

namespace
{
  /** A server and one client connected to it over the loopback, both running. */
  struct Pair
  {
    IGTLServer::Pointer server;
    IGTLClient::Pointer client;

    explicit Pair(bool clientReadsFully = true, bool serverReadsFully = true)
    {
      server = StartServer(serverReadsFully);
      if (server.IsNull())
        return;
      client = StartClient(server->GetPortNumber(), clientReadsFully);
      if (client.IsNotNull() && !WaitUntil([&] { return server->GetNumberOfConnections() == 1; }))
        client = nullptr;
    }
    bool Ok() const { return server.IsNotNull() && client.IsNotNull(); }
  };

  void SomeMatrix(float seed, igtl::Matrix4x4 &m)
  {
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        m[r][c] = r == 3 ? (c == 3 ? 1.0f : 0.0f) : seed + r * 4 + c;
  }

  bool SameMatrix(igtl::Matrix4x4 &a, igtl::Matrix4x4 &b)
  {
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        if (a[r][c] != b[r][c])
          return false;
    return true;
  }

  bool SameImage(igtl::ImageMessage *sent, igtl::ImageMessage *got)
  {
    int a[3], b[3];
    sent->GetDimensions(a);
    got->GetDimensions(b);
    return std::memcmp(a, b, sizeof(a)) == 0 && sent->GetScalarType() == got->GetScalarType() &&
           sent->GetImageSize() == got->GetImageSize() &&
           std::memcmp(sent->GetScalarPointer(), got->GetScalarPointer(), sent->GetImageSize()) == 0;
  }

  struct RoundTrip
  {
    const char *type;
    std::function<igtl::MessageBase::Pointer()> make;
    std::function<igtl::MessageBase::Pointer(IGTLDevice *)> pull;
    std::function<bool(igtl::MessageBase *sent, igtl::MessageBase *got)> same;
  };

  std::vector<RoundTrip> RoundTrips()
  {
    return {
      {"TRANSFORM",
       [] {
         igtl::TransformMessage::Pointer m = igtl::TransformMessage::New();
         m->SetDeviceName("Tool");
         igtl::Matrix4x4 matrix;
         SomeMatrix(1.5f, matrix);
         m->SetMatrix(matrix);
         return igtl::MessageBase::Pointer(m.GetPointer());
       },
       [](IGTLDevice *d) { return igtl::MessageBase::Pointer(d->GetNextTransformMessage().GetPointer()); },
       [](igtl::MessageBase *sent, igtl::MessageBase *got) {
         igtl::Matrix4x4 a, b;
         static_cast<igtl::TransformMessage *>(sent)->GetMatrix(a);
         static_cast<igtl::TransformMessage *>(got)->GetMatrix(b);
         return SameMatrix(a, b);
       }},
      {"TDATA",
       [] {
         igtl::TrackingDataMessage::Pointer m = igtl::TrackingDataMessage::New();
         m->SetDeviceName("Tracker");
         for (const char *name : {"Needle", "Probe"})
         {
           igtl::TrackingDataElement::Pointer e = igtl::TrackingDataElement::New();
           e->SetName(name);
           igtl::Matrix4x4 matrix;
           SomeMatrix(name[0], matrix);
           e->SetMatrix(matrix);
           m->AddTrackingDataElement(e);
         }
         return igtl::MessageBase::Pointer(m.GetPointer());
       },
       [](IGTLDevice *d) { return igtl::MessageBase::Pointer(d->GetNextTrackingDataMessage().GetPointer()); },
       [](igtl::MessageBase *, igtl::MessageBase *got) {
         auto *m = static_cast<igtl::TrackingDataMessage *>(got);
         if (m->GetNumberOfTrackingDataElements() != 2)
           return false;
         igtl::TrackingDataElement::Pointer e;
         m->GetTrackingDataElement(1, e);
         igtl::Matrix4x4 matrix, expected;
         SomeMatrix('P', expected);
         e->GetMatrix(matrix);
         return std::string("Probe") == e->GetName() && SameMatrix(matrix, expected);
       }},
      {"QTDATA",
       [] {
         igtl::QuaternionTrackingDataMessage::Pointer m = igtl::QuaternionTrackingDataMessage::New();
         m->SetDeviceName("Tracker");
         igtl::QuaternionTrackingDataElement::Pointer e = igtl::QuaternionTrackingDataElement::New();
         e->SetName("Pointer");
         e->SetPosition(1.0f, 2.0f, 3.0f);
         e->SetQuaternion(0.0f, 0.0f, 0.6f, 0.8f);
         m->AddQuaternionTrackingDataElement(e);
         return igtl::MessageBase::Pointer(m.GetPointer());
       },
       [](IGTLDevice *d) { return d->GetNextMiscMessage(); },
       [](igtl::MessageBase *, igtl::MessageBase *got) {
         auto *m = dynamic_cast<igtl::QuaternionTrackingDataMessage *>(got);
         if (m == nullptr || m->GetNumberOfQuaternionTrackingDataElements() != 1)
           return false;
         igtl::QuaternionTrackingDataElement::Pointer e;
         m->GetQuaternionTrackingDataElement(0, e);
         float q[4];
         e->GetQuaternion(q);
         return std::string("Pointer") == e->GetName() && q[2] == 0.6f && q[3] == 0.8f;
       }},
      {"STRING", [] { return MakeString("Grüße, 0.5 mm"); },
       [](IGTLDevice *d) { return igtl::MessageBase::Pointer(d->GetNextStringMessage().GetPointer()); },
       [](igtl::MessageBase *, igtl::MessageBase *got) {
         return std::string("Grüße, 0.5 mm") == static_cast<igtl::StringMessage *>(got)->GetString();
       }},
      {"STATUS",
       [] {
         igtl::StatusMessage::Pointer m = igtl::StatusMessage::New();
         m->SetDeviceName("Robot");
         m->SetCode(igtl::StatusMessage::STATUS_OK);
         m->SetErrorName("none");
         m->SetStatusString("all well");
         return igtl::MessageBase::Pointer(m.GetPointer());
       },
       [](IGTLDevice *d) { return d->GetNextMiscMessage(); },
       [](igtl::MessageBase *, igtl::MessageBase *got) {
         auto *m = dynamic_cast<igtl::StatusMessage *>(got);
         return m != nullptr && m->GetCode() == igtl::StatusMessage::STATUS_OK &&
                std::string("all well") == m->GetStatusString();
       }},
      {"IMAGE",
       [] { return igtl::MessageBase::Pointer(MakeImage(64, 48, 1, igtl::ImageMessage::TYPE_UINT8).GetPointer()); },
       [](IGTLDevice *d) { return igtl::MessageBase::Pointer(d->GetNextImage2dMessage().GetPointer()); },
       [](igtl::MessageBase *sent, igtl::MessageBase *got) {
         return SameImage(static_cast<igtl::ImageMessage *>(sent), static_cast<igtl::ImageMessage *>(got));
       }},
      {"IMAGE",
       [] { return igtl::MessageBase::Pointer(MakeImage(16, 8, 4, igtl::ImageMessage::TYPE_INT16).GetPointer()); },
       [](IGTLDevice *d) { return igtl::MessageBase::Pointer(d->GetNextImage3dMessage().GetPointer()); },
       [](igtl::MessageBase *sent, igtl::MessageBase *got) {
         return SameImage(static_cast<igtl::ImageMessage *>(sent), static_cast<igtl::ImageMessage *>(got));
       }},
    };
  }

  /** A client whose sending step fails. */
  class ThrowingClient : public IGTLClient
  {
  public:
    vexaClassMacro(ThrowingClient, IGTLClient);
    vexaFactorylessNewMacro(ThrowingClient);

  protected:
    ThrowingClient() : IGTLClient(true) {}
    ~ThrowingClient() override { StopThreads(); }
    void Send() override { throw std::runtime_error("sending is broken"); }
  };
}

TEST(IGTLDevice, ANewDeviceIsInSetup)
{
  IGTLClient::Pointer client = IGTLClient::New(true);
  EXPECT_EQ(IGTLDevice::Setup, client->GetState());
  EXPECT_EQ("Unspecified Device", client->GetName());
  EXPECT_EQ(-1, client->GetPortNumber());
  EXPECT_EQ("127.0.0.1", client->GetHostname());
  EXPECT_FALSE(client->GetLogMessages());
  EXPECT_FALSE(client->StartCommunication());
  EXPECT_TRUE(client->StopCommunication());
  EXPECT_TRUE(client->CloseConnection());
  EXPECT_EQ(IGTLDevice::Setup, client->GetState());
  const std::vector<std::string> hierarchy = {"IGTLClient", "IGTLDevice", "itk::Object", "itk::LightObject"};
  EXPECT_EQ(hierarchy, client->GetClassHierarchy());
}

TEST(IGTLDevice, EveryKindOfMessageMakesTheRoundTripIntoItsList)
{
  for (bool readFully : {true, false})
  {
    Pair pair(readFully, readFully);
    ASSERT_TRUE(pair.Ok());
    for (bool fromClient : {true, false})
    {
      IGTLDevice *sender = fromClient ? static_cast<IGTLDevice *>(pair.client) : pair.server.GetPointer();
      IGTLDevice *receiver = fromClient ? static_cast<IGTLDevice *>(pair.server) : pair.client.GetPointer();
      EventCounter received(receiver, MessageReceivedEvent());
      EventCounter sent(sender, MessageSentEvent());
      int expected = 0;
      for (const RoundTrip &trip : RoundTrips())
      {
        SCOPED_TRACE(std::string(trip.type) + (fromClient ? " client to server" : " server to client") +
                     (readFully ? ", reading fully" : ""));
        igtl::MessageBase::Pointer message = trip.make();
        ASSERT_TRUE(sender->SendMessage(IGTLMessage::New(message)));
        ++expected;
        ASSERT_TRUE(WaitUntil([&] { return received.Count() == expected; }));
        igtl::MessageBase::Pointer got = trip.pull(receiver);
        ASSERT_TRUE(got.IsNotNull()) << "not in its list";
        EXPECT_STREQ(trip.type, got->GetDeviceType());
        EXPECT_STREQ(message->GetDeviceName(), got->GetDeviceName());
        EXPECT_TRUE(trip.same(message, got));
        EXPECT_EQ(0, receiver->GetMessageQueue()->GetSize()) << "nothing else arrived";
      }
      EXPECT_TRUE(WaitUntil([&] { return sent.Count() == expected; }));
    }
  }
}

TEST(IGTLDevice, LargeImagesArriveWholeWhateverTheReadMode)
{
  for (bool readFully : {true, false})
  {
    Pair pair(readFully, readFully);
    ASSERT_TRUE(pair.Ok());
    EventCounter received(pair.client, MessageReceivedEvent());
    igtl::ImageMessage::Pointer image = MakeImage(1024, 1024, 1, igtl::ImageMessage::TYPE_UINT16);
    ASSERT_TRUE(pair.server->SendMessage(IGTLMessage::New(image.GetPointer())));
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
    igtl::ImageMessage::Pointer got = pair.client->GetNextImage2dMessage();
    ASSERT_TRUE(got.IsNotNull());
    EXPECT_TRUE(SameImage(image, got));
  }
}

TEST(IGTLDevice, RequestsGoToTheCommandList)
{
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  IGTLClientSocket::Pointer peer = ConnectRaw(server->GetPortNumber());
  ASSERT_TRUE(peer.IsNotNull());
  EventCounter commands(server, CommandReceivedEvent());
  EventCounter messages(server, MessageReceivedEvent());

  // GET_: a bare header; no igtl::GetImageMessage is made
  igtl::GetImageMessage::Pointer get = igtl::GetImageMessage::New();
  get->SetDeviceName("Viewer");
  ASSERT_TRUE(SendBytes(peer, Packed(get)));
  ASSERT_TRUE(WaitUntil([&] { return commands.Count() == 1; }));
  igtl::MessageBase::Pointer command = server->GetNextCommand();
  ASSERT_TRUE(command.IsNotNull());
  EXPECT_STREQ("GET_IMAGE", command->GetDeviceType());
  EXPECT_STREQ("Viewer", command->GetDeviceName());
  EXPECT_EQ(nullptr, dynamic_cast<igtl::GetImageMessage *>(command.GetPointer()));

  // STT_: the whole message, unpacked
  igtl::StartTrackingDataMessage::Pointer start = igtl::StartTrackingDataMessage::New();
  start->SetResolution(50);
  start->SetCoordinateName("Patient");
  ASSERT_TRUE(SendBytes(peer, Packed(start)));
  ASSERT_TRUE(WaitUntil([&] { return commands.Count() == 2; }));
  command = server->GetNextCommand();
  auto *startCommand = dynamic_cast<igtl::StartTrackingDataMessage *>(command.GetPointer());
  ASSERT_NE(nullptr, startCommand);
  EXPECT_EQ(50, startCommand->GetResolution());

  // STT_BIND, with its resolution (64-bit, after the table of wanted messages)
  std::vector<unsigned char> bind = {0, 1,   'T', 'R', 'A', 'N', 'S', 'F', 'O', 'R', 'M', 0, 0, 0,  0,
                                     5, 'T', 'o', 'o', 'l', 0,   0,   0,   0,   1,   0,   0, 0, 100};
  ASSERT_TRUE(SendBytes(peer, Concat(RawHeader("STT_BIND", bind.size(), IGTL_HEADER_VERSION, bind), bind)));
  ASSERT_TRUE(WaitUntil([&] { return commands.Count() == 3; }));
  command = server->GetNextCommand();
  auto *startBind = dynamic_cast<igtl::StartBindMessage *>(command.GetPointer());
  ASSERT_NE(nullptr, startBind);
  EXPECT_EQ((std::uint64_t(1) << 32) + 100, startBind->GetResolution());

  // STT_ of a type without a message class (STT_IMAGE is a header only): a
  // bare header like GET_, an announced body skipped exactly
  vorlen::CapturingSink sink;
  const std::vector<unsigned char> extra = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(SendBytes(peer, Concat(RawHeader("STT_IMAGE", extra.size(), IGTL_HEADER_VERSION, extra), extra)));
  ASSERT_TRUE(WaitUntil([&] { return commands.Count() == 4; }));
  command = server->GetNextCommand();
  ASSERT_TRUE(command.IsNotNull());
  EXPECT_STREQ("STT_IMAGE", command->GetDeviceType());
  EXPECT_FALSE(sink.Contains("Unknown IGT message type"));

  // STP_ and RTS_ (with the reply's one status byte) as bare headers too; kept both
  server->EnableNoBufferingMode(false);
  ASSERT_TRUE(SendBytes(peer, Packed(igtl::StopTrackingDataMessage::New())));
  ASSERT_TRUE(SendBytes(peer, Packed(igtl::RTSTrackingDataMessage::New())));
  ASSERT_TRUE(SendBytes(peer, Packed(MakeString("after"))));
  ASSERT_TRUE(WaitUntil([&] { return messages.Count() == 1; }));
  EXPECT_EQ(6, commands.Count());
  for (const char *type : {"STP_TDATA", "RTS_TDATA"})
  {
    command = server->GetNextCommand();
    ASSERT_TRUE(command.IsNotNull()) << type;
    EXPECT_STREQ(type, command->GetDeviceType());
  }
  igtl::StringMessage::Pointer after = server->GetNextStringMessage();
  ASSERT_TRUE(after.IsNotNull());
  EXPECT_STREQ("after", after->GetString());
  server->CloseConnection();
}

TEST(IGTLDevice, ALowerCaseTypeIsSkippedAsUnknown)
{
  vorlen::CapturingSink sink;
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  IGTLClientSocket::Pointer peer = ConnectRaw(server->GetPortNumber());
  ASSERT_TRUE(peer.IsNotNull());
  EventCounter commands(server, CommandReceivedEvent());
  EventCounter messages(server, MessageReceivedEvent());

  // Upper-cased, "get_image" and "image" find classes that refuse these headers.
  const std::vector<unsigned char> body(100, 7);
  ASSERT_TRUE(SendBytes(peer, RawHeader("get_image", 0)));
  ASSERT_TRUE(SendBytes(peer, Concat(RawHeader("image", body.size(), 1, body), body)));
  ASSERT_TRUE(SendBytes(peer, Packed(MakeString("after"))));
  ASSERT_TRUE(WaitUntil([&] { return messages.Count() == 1; }));
  EXPECT_EQ("after", TextOf(server->GetNextStringMessage()));
  EXPECT_EQ(0, commands.Count());
  EXPECT_EQ(0, server->GetMessageQueue()->GetSize());
  EXPECT_EQ(1u, server->GetNumberOfConnections());
  EXPECT_TRUE(sink.Contains("Unknown IGT message type: image"));
  server->CloseConnection();
}

TEST(IGTLDevice, RTSRepliesAreQueuedForKnownTypesOnly)
{
  vorlen::CapturingSink sink;
  Pair pair;
  ASSERT_TRUE(pair.Ok());
  EventCounter commands(pair.client, CommandReceivedEvent());
  EventCounter messages(pair.client, MessageReceivedEvent());
  EXPECT_TRUE(pair.server->SendRTSMessage("TDATA"));
  EXPECT_FALSE(pair.server->SendRTSMessage("tdata"));
  EXPECT_TRUE(sink.Contains("RTS_tdata message type is not registered to factory!", 2));
  ASSERT_TRUE(pair.server->SendMessage(IGTLMessage::New(MakeString("after"))));
  ASSERT_TRUE(WaitUntil([&] { return messages.Count() == 1; }));
  EXPECT_EQ(1, commands.Count());
  EXPECT_EQ("RTS_TDATA", TypeOf(pair.client->GetNextCommand()));
  EXPECT_EQ("after", TextOf(pair.client->GetNextStringMessage())) << "the reply's body did not break the stream";
}

TEST(IGTLDevice, LogMessagesPrintsEverySentAndReceivedMessage)
{
  vorlen::CapturingSink sink;
  Pair pair;
  ASSERT_TRUE(pair.Ok());
  pair.client->SetLogMessages(true);
  pair.server->SetLogMessages(true);
  EventCounter messages(pair.server, MessageReceivedEvent());
  ASSERT_TRUE(pair.client->SendMessage(IGTLMessage::New(MakeString("logged", "Logger"))));
  ASSERT_TRUE(WaitUntil([&] { return messages.Count() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return sink.Contains("Received Message: ", 0); }));
  EXPECT_TRUE(WaitUntil([&] { return sink.Contains("Send IGTL message: ", 0); })) << "logged after the write";
  bool printed = false;
  for (const std::string &text : sink.Texts(0))
    printed = printed || (text.find("Received Message: ") == 0 && text.find("name: Logger") != std::string::npos &&
                          text.find("type: STRING") != std::string::npos);
  EXPECT_TRUE(printed);
}

TEST(IGTLDevice, MessagesThatCannotBePackedAreRefused)
{
  vorlen::CapturingSink sink;
  Pair pair;
  ASSERT_TRUE(pair.Ok());

  igtl::ImageMessage::Pointer noScalars = igtl::ImageMessage::New();
  noScalars->SetDimensions(4, 4, 1);
  EXPECT_FALSE(pair.client->SendMessage(IGTLMessage::New(noScalars.GetPointer())));
  EXPECT_TRUE(sink.Contains("AllocateScalars() was not called", 2));

  igtl::ImageMessage::Pointer resized = MakeImage(4, 4, 1, igtl::ImageMessage::TYPE_UINT8);
  resized->SetDimensions(400, 400, 1);
  EXPECT_FALSE(pair.client->SendMessage(IGTLMessage::New(resized.GetPointer())));

  igtl::ImageMessage::Pointer badType = MakeImage(4, 4, 1, igtl::ImageMessage::TYPE_UINT8);
  badType->SetScalarType(9);
  EXPECT_FALSE(pair.client->SendMessage(IGTLMessage::New(badType.GetPointer())));

  EXPECT_FALSE(pair.client->SendMessage(nullptr));
  EXPECT_FALSE(pair.client->SendMessage(IGTLMessage::New())) << "a message without type";
  EXPECT_TRUE(sink.Contains("Could not send message because message is not valid. Please check.", 2));

  // the connection is untouched
  EventCounter messages(pair.server, MessageReceivedEvent());
  ASSERT_TRUE(pair.client->SendMessage(IGTLMessage::New(MakeString("after"))));
  ASSERT_TRUE(WaitUntil([&] { return messages.Count() == 1; }));
}

TEST(IGTLDevice, AMessageThatSaysItIsPackedIsSentAsPacked)
{
  Pair pair;
  ASSERT_TRUE(pair.Ok());
  pair.client->EnableNoBufferingMode(false);
  EventCounter received(pair.client, MessageReceivedEvent());
  igtl::StringMessage::Pointer text = igtl::StringMessage::New();
  text->SetString("as packed");
  text->Pack();
  text->SetString("changed since");
  IGTLMessage::Pointer packed = IGTLMessage::New(text.GetPointer());
  packed->SetPacked(true);
  ASSERT_TRUE(pair.server->SendMessage(packed));
  ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
  EXPECT_EQ("as packed", TextOf(pair.client->GetNextStringMessage()));

  // Without the word of its producer a message is packed as it stands.
  ASSERT_TRUE(pair.server->SendMessage(IGTLMessage::New(text.GetPointer())));
  ASSERT_TRUE(WaitUntil([&] { return received.Count() == 2; }));
  EXPECT_EQ("changed since", TextOf(pair.client->GetNextStringMessage()));
}

TEST(IGTLDevice, AThrowingStepStopsAllThreadsAndLeavesReady)
{
  vorlen::CapturingSink sink;
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  const int threadsBefore = CountThreads();
  ThrowingClient::Pointer client = ThrowingClient::New();
  client->SetPortNumber(server->GetPortNumber());
  ASSERT_TRUE(client->OpenConnection());
  ASSERT_TRUE(client->StartCommunication());
  ASSERT_TRUE(WaitUntil([&] { return client->GetState() == IGTLDevice::Ready; }));
  ASSERT_TRUE(WaitUntil([&] { return CountThreads() == threadsBefore; })) << "all three loops ended";
  int failures = 0;
  for (const vorlen::LogRecord &r : sink.Records())
    if (r.text.find("Error while communicating. Thread stopped.") == 0)
    {
      ++failures;
      EXPECT_EQ(std::vector<std::string>{"IGTLDevice::RunCommunication"}, r.categories);
      EXPECT_EQ(2, r.level);
    }
  EXPECT_EQ(1, failures) << "logged by the one thread that threw";
  EXPECT_TRUE(client->StopCommunication());
  EXPECT_EQ(IGTLDevice::Ready, client->GetState());
}

TEST(IGTLDevice, StartAndStopAHundredTimes)
{
  Pair pair;
  ASSERT_TRUE(pair.Ok());
  const int threads = CountThreads();
  for (int i = 0; i < 100; ++i)
  {
    ASSERT_TRUE(pair.client->StopCommunication());
    ASSERT_EQ(IGTLDevice::Ready, pair.client->GetState());
    ASSERT_TRUE(pair.client->StartCommunication());
    ASSERT_EQ(IGTLDevice::Running, pair.client->GetState());
  }
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads; }))
    << CountThreads() << " threads, " << threads << " before";
  EventCounter messages(pair.server, MessageReceivedEvent());
  ASSERT_TRUE(pair.client->SendMessage(IGTLMessage::New(MakeString("still here"))));
  EXPECT_TRUE(WaitUntil([&] { return messages.Count() == 1; }));
}

TEST(IGTLDevice, ConcurrentStopsDoNotDeadlock)
{
  Pair pair;
  ASSERT_TRUE(pair.Ok());
  std::vector<std::thread> stoppers;
  std::atomic<int> stopped(0);
  for (int i = 0; i < 4; ++i)
    stoppers.emplace_back([&] {
      if (pair.client->StopCommunication())
        ++stopped;
    });
  for (std::thread &t : stoppers)
    t.join();
  EXPECT_EQ(4, stopped.load());
  EXPECT_EQ(IGTLDevice::Ready, pair.client->GetState());
}

TEST(IGTLDevice, AStopFromAnObserverOnlyRequestsIt)
{
  Pair pair;
  ASSERT_TRUE(pair.Ok());
  std::atomic<bool> returned(false);
  EventCounter stopping(pair.server, MessageReceivedEvent(), [&] { returned = pair.server->StopCommunication(); });
  const int threadsBefore = CountThreads();
  ASSERT_TRUE(pair.client->SendMessage(IGTLMessage::New(MakeString("stop, please"))));
  ASSERT_TRUE(WaitUntil([&] { return stopping.Count() == 1; }));
  EXPECT_TRUE(returned);
  EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threadsBefore - 3; })) << "the server's loops ended";
  EXPECT_EQ(IGTLDevice::Running, pair.server->GetState()) << "until the owner stops it";
  EXPECT_TRUE(pair.server->StopCommunication());
  EXPECT_EQ(IGTLDevice::Ready, pair.server->GetState());
  EXPECT_TRUE(pair.server->StartCommunication());
}

TEST(IGTLDevice, ObserversCanComeAndGoWhileEventsFire)
{
  Pair pair;
  ASSERT_TRUE(pair.Ok());
  std::atomic<bool> sending(true);
  std::thread sender([&] {
    while (sending)
    {
      pair.client->SendMessage(IGTLMessage::New(MakeString("tick")));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  EventCounter total(pair.server, MessageReceivedEvent());
  for (int i = 0; i < 20; ++i)
  {
    std::atomic<int> count{0};
    const unsigned long tag = pair.server->AddObserver(
      MessageReceivedEvent(), FunctionCommand::New([&](itk::Object *, const itk::EventObject &) { ++count; }));
    ASSERT_TRUE(WaitUntil([&] { return count > 0; }));
    pair.server->RemoveObserver(tag);
    const int countAtRemoval = count;
    const int totalAtRemoval = total.Count();
    ASSERT_TRUE(WaitUntil([&] { return total.Count() > totalAtRemoval + 2; }));
    EXPECT_EQ(countAtRemoval, count.load()) << "a removed observer is not called again";
  }
  sending = false;
  sender.join();
  EXPECT_GT(total.Count(), 0);
}

TEST(IGTLDevice, AMessageCutByASendFailureClosesThatConnection)
{
  vorlen::CapturingSink sink;
  IGTLServer::Pointer server = StartServer();
  ASSERT_TRUE(server.IsNotNull());
  server->SetTransferTimeout(200);
  IGTLClientSocket::Pointer peer = ConnectRaw(server->GetPortNumber());
  ASSERT_TRUE(peer.IsNotNull());
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
  EventCounter lost(server, LostConnectionEvent());

  // the peer reads nothing: the 16 MiB image cannot go out within the time-out
  ASSERT_TRUE(
    server->SendMessage(IGTLMessage::New(MakeImage(4096, 4096, 1, igtl::ImageMessage::TYPE_UINT8).GetPointer())));
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 0; }));
  EXPECT_TRUE(WaitUntil([&] { return lost.Count() == 1; }));
  EXPECT_TRUE(sink.Contains("closing that connection", 1));

  // what the peer can still read ends before the image does
  igtl::ImageMessage::Pointer image = igtl::ImageMessage::New();
  EXPECT_TRUE(ReceiveRaw(peer, image.GetPointer(), 2000).IsNull());
  EXPECT_TRUE(server->StopCommunication());
}
