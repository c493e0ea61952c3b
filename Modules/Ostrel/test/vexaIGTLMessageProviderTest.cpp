#include "vexaIGTLPipelineTestSupport.h"

#include <vexaIGTLMessageProvider.h>
#include <vexaImageToIGTLMessageFilter.h>

#include <vexaCallbackFromGUIThread.h>
#include <vexaImageReadAccessor.h>
#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

// A standard peer's image stream requests: OpenIGTLink 1.11 has no classes
// for them, only the macro that makes such header-only query messages.
namespace igtl
{
  igtlCreateDefaultQueryMessageClass(StartImageMessage, "STT_IMAGE");
  igtlCreateDefaultQueryMessageClass(StopImageMessage, "STP_IMAGE");
}

using namespace vexa;
using namespace vexa::test;
using namespace std::chrono_literals;

namespace
{
  /** The provider with its protected inputs in view. */
  class ProbeProvider : public IGTLMessageProvider
  {
  public:
    vexaClassMacro(ProbeProvider, IGTLMessageProvider);
    vexaNewMacro(ProbeProvider);

    bool HasInput(const IGTLMessage *message)
    {
      for (DataObjectPointerArraySizeType i = 0; i < this->GetNumberOfIndexedInputs(); ++i)
        if (this->GetInput(static_cast<unsigned int>(i)) == message)
          return true;
      return false;
    }
  };

  /** Counts an event of the provider and notes the thread it was raised on. */
  class EventProbe
  {
  public:
    EventProbe(itk::Object *object, const itk::EventObject &event) : m_Object(object)
    {
      m_Command = itk::CStyleCommand::New();
      m_Command->SetClientData(this);
      m_Command->SetCallback([](itk::Object *, const itk::EventObject &, void *data) {
        auto *self = static_cast<EventProbe *>(data);
        self->thread = std::this_thread::get_id();
        ++self->count;
      });
      m_Tag = object->AddObserver(event, m_Command);
    }
    ~EventProbe() { m_Object->RemoveObserver(m_Tag); }

    std::atomic<int> count{0};
    std::thread::id thread;

  private:
    itk::Object *m_Object;
    itk::CStyleCommand::Pointer m_Command;
    unsigned long m_Tag;
  };

  CallbackFromGUIThread *GUI() { return CallbackFromGUIThread::GetInstance(); }

  /** Pumps the GUI-thread calls on this thread (the tests' GUI thread) until the condition holds. */
  template <class Condition>
  bool PumpUntil(Condition condition, std::chrono::milliseconds timeout = 10s)
  {
    return WaitUntil(
      [&] {
        GUI()->ProcessPendingCalls();
        return condition();
      },
      timeout);
  }

  /** A server with a provider, started, and a standard OpenIGTLink client connected to it. */
  class Provider : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      GUI()->ProcessPendingCalls(); // nothing of an earlier test
      m_Server = IGTLServer::New(true);
      m_Server->SetName("Provider server");
      m_Server->SetPortNumber(0);
      m_Provider = ProbeProvider::New();
      m_Provider->SetIGTLDevice(m_Server);
      m_Provider->Connect();
      m_Provider->StartCommunication();
      ASSERT_TRUE(m_Peer.Connect(m_Server->GetPortNumber()));
      ASSERT_TRUE(WaitUntil([&] { return m_Server->GetNumberOfConnections() == 1; }));
    }

    void TearDown() override
    {
      m_Peer.Close();
      m_Provider = nullptr;
      GUI()->ProcessPendingCalls();
    }

    /** Sends "STT_TDATA" with a resolution (milliseconds between frames). */
    void RequestTrackingStream(int resolution)
    {
      igtl::StartTrackingDataMessage::Pointer start = igtl::StartTrackingDataMessage::New();
      start->SetDeviceName("Peer");
      start->SetResolution(resolution);
      start->SetCoordinateName("Patient");
      ASSERT_TRUE(m_Peer.Send(start));
    }

    /** The next message of the peer, or a message of type "(none)". */
    Received Next()
    {
      Received r;
      if (!m_Peer.Receive(r))
        r.type = "(none)";
      return r;
    }

    IGTLServer::Pointer m_Server;
    ProbeProvider::Pointer m_Provider;
    Peer m_Peer;
  };

  void ExpectImageMessageOf(const Image *image, const Received &received)
  {
    ASSERT_EQ("IMAGE", received.type);
    ASSERT_TRUE(received.crcOk);
    auto *message = dynamic_cast<igtl::ImageMessage *>(received.message.GetPointer());
    ASSERT_NE(nullptr, message);
    int dims[3];
    message->GetDimensions(dims);
    for (int d = 0; d < 3; ++d)
      EXPECT_EQ(static_cast<int>(image->GetDimension(d)), dims[d]) << d;
    ImageReadAccessor access(image);
    ASSERT_EQ(access.GetSize(), static_cast<std::size_t>(message->GetImageSize()));
    EXPECT_EQ(0, std::memcmp(access.GetData(), message->GetScalarPointer(), access.GetSize()));
    ExpectGeometryOf(image, message);
  }

  ImageToIGTLMessageFilter::Pointer RegisteredImageSource(const Image *image)
  {
    ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
    filter->SetInput(image);
    filter->SetType("IMAGE");
    filter->SetName("Test images");
    filter->RegisterAsMicroservice();
    return filter;
  }

  TrackingDataSource::Pointer RegisteredTrackingSource(const std::string &type = "TDATA")
  {
    TrackingDataSource::Pointer source = TrackingDataSource::New();
    source->SetType(type);
    source->RegisterAsMicroservice();
    return source;
  }
}

TEST_F(Provider, GetImageIsAnsweredWithTheImage)
{
  Image::Pointer image = MakeImage<unsigned short>({6, 4, 3});
  ImageToIGTLMessageFilter::Pointer filter = RegisteredImageSource(image);
  igtl::GetImageMessage::Pointer request = igtl::GetImageMessage::New();
  request->SetDeviceName("Peer");
  ASSERT_TRUE(m_Peer.Send(request));
  ExpectImageMessageOf(image, Next());
  EXPECT_TRUE(filter->GetOutput()->IsDataValid());
}

TEST_F(Provider, GetWithoutASourceWarnsAndSendsNothing)
{
  vorlen::CapturingSink sink;
  ASSERT_TRUE(m_Peer.SendRequest("GET_IMAGE"));
  ASSERT_TRUE(WaitUntil([&] {
    return sink.Contains("Tried to send a RTS message but did not succeed. Check if this type ( IMAGE ) was added "
                         "to the message factory. ",
                         1);
  }));
  // The next reply is the first thing the peer gets: nothing went out before it.
  TrackingDataSource::Pointer source = RegisteredTrackingSource();
  ASSERT_TRUE(m_Peer.SendRequest("GET_TDATA"));
  const Received reply = Next();
  EXPECT_EQ("TDATA", reply.type);
  EXPECT_EQ(1.0f, TrackingX(reply.message));
}

TEST_F(Provider, HostileRequestsAreIgnoredAndTheNextRequestIsStillAnswered)
{
  vorlen::CapturingSink sink;
  Image::Pointer image = MakeImage<unsigned char>({5, 4});
  ImageToIGTLMessageFilter::Pointer images = RegisteredImageSource(image); // registered first
  TrackingDataSource::Pointer tracking = RegisteredTrackingSource();

  // Unescaped, "*" would match any source (the image source first) and "("
  // would break the filter; both are text to match, and match nothing.
  for (const std::string &hostile : {std::string("GET_*"), std::string("GET_("), std::string("GET_)(|(x=*"),
                                     std::string("GET_\\2a"), std::string("GET_\x01\xff", 6)})
    ASSERT_TRUE(m_Peer.SendRequest(hostile));
  ASSERT_TRUE(m_Peer.SendRequest("GET_TDATA"));
  igtl::GetImageMessage::Pointer request = igtl::GetImageMessage::New();
  ASSERT_TRUE(m_Peer.Send(request));

  EXPECT_EQ("TDATA", Next().type);
  ExpectImageMessageOf(image, Next());
  EXPECT_TRUE(sink.Contains("( * )", 1));
  EXPECT_TRUE(sink.Contains("( ( )", 1));
  EXPECT_TRUE(sink.Contains("( \\x01\\xff )", 1));
  EXPECT_EQ(IGTLDevice::Running, m_Server->GetState());
  EXPECT_EQ(1u, m_Server->GetNumberOfConnections());
}

TEST_F(Provider, StreamingAtTheRequestedIntervalUntilStopped)
{
  TrackingDataSource::Pointer source = RegisteredTrackingSource();
  EventProbe started(m_Provider, StreamingStartRequiredEvent());
  EventProbe stopped(m_Provider, StreamingStopRequiredEvent());

  RequestTrackingStream(20);
  ASSERT_TRUE(WaitUntil([&] { return m_Provider->IsStreaming(); }));
  EXPECT_EQ(20u, m_Provider->GetStreamingTime());
  EXPECT_EQ(0, started.count.load()); // raised on the GUI thread, not by the request's handler
  EXPECT_TRUE(m_Provider->HasInput(source->GetOutput()));

  // The peer takes five frames, then asks to stop.
  std::vector<float> frames;
  std::thread peer([&] {
    while (frames.size() < 5)
    {
      Received r;
      if (!m_Peer.Receive(r))
        return;
      if (r.type == "TDATA")
        frames.push_back(TrackingX(r.message));
    }
    m_Peer.SendRequest("STP_TDATA");
  });

  // The GUI thread: an observer of the start updates the provider every interval until the stop.
  auto next = std::chrono::steady_clock::now();
  PumpUntil([&] {
    if (started.count > 0 && stopped.count == 0 && std::chrono::steady_clock::now() >= next)
    {
      m_Provider->Update();
      next = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_Provider->GetStreamingTime());
    }
    return stopped.count > 0;
  });
  peer.join();

  EXPECT_EQ(1, started.count.load());
  EXPECT_EQ(std::this_thread::get_id(), started.thread);
  EXPECT_EQ(1, stopped.count.load());
  EXPECT_EQ(std::this_thread::get_id(), stopped.thread);
  EXPECT_FALSE(m_Provider->IsStreaming());
  EXPECT_FALSE(m_Provider->HasInput(source->GetOutput()));
  ASSERT_EQ(5u, frames.size());
  for (std::size_t i = 1; i < frames.size(); ++i)
    EXPECT_GT(frames[i], frames[i - 1]); // a new frame every update
}

TEST_F(Provider, ImageStreamOfAStandardPeer)
{
  vorlen::CapturingSink sink;
  EventProbe started(m_Provider, StreamingStartRequiredEvent());
  EventProbe stopped(m_Provider, StreamingStopRequiredEvent());

  // Without an image source: the factory has no RTS_IMAGE, so only the warning.
  ASSERT_TRUE(m_Peer.Send(igtl::StartImageMessage::New()));
  ASSERT_TRUE(WaitUntil([&] { return sink.Contains("( IMAGE )", 1); }));
  EXPECT_FALSE(sink.Contains("Unknown IGT message type"));
  EXPECT_FALSE(m_Provider->IsStreaming());

  Image::Pointer image = MakeImage<unsigned char>({8, 6});
  ImageToIGTLMessageFilter::Pointer images = RegisteredImageSource(image);
  ASSERT_TRUE(m_Peer.Send(igtl::StartImageMessage::New()));
  ASSERT_TRUE(WaitUntil([&] { return m_Provider->IsStreaming(); }));
  EXPECT_EQ(100u, m_Provider->GetStreamingTime()); // 10 frames per second

  // The peer takes four frames, noting for each how many updates had begun
  // by its arrival, then asks to stop.
  std::atomic<int> updates{0};
  std::vector<int> updatesAtArrival;
  std::thread peer([&] {
    while (updatesAtArrival.size() < 4)
    {
      Received r;
      if (!m_Peer.Receive(r))
        return;
      if (r.type == "IMAGE" && r.crcOk)
        updatesAtArrival.push_back(updates.load());
    }
    m_Peer.Send(igtl::StopImageMessage::New());
  });
  auto next = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([&] {
    if (started.count > 0 && stopped.count == 0 && std::chrono::steady_clock::now() >= next)
    {
      image->Modified();
      ++updates;
      m_Provider->Update();
      next = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_Provider->GetStreamingTime());
    }
    return stopped.count > 0;
  }));
  peer.join();
  ASSERT_EQ(4u, updatesAtArrival.size());
  // One frame per update, not a burst: the n-th frame comes after the n-th
  // update began. (Arrival times would say more on a quiet machine, but the
  // peer's thread may be kept away and then read several frames at once.)
  for (std::size_t i = 0; i < updatesAtArrival.size(); ++i)
    EXPECT_GE(updatesAtArrival[i], static_cast<int>(i) + 1) << "frame " << i;
  EXPECT_FALSE(m_Provider->IsStreaming());
  EXPECT_FALSE(m_Provider->HasInput(images->GetOutput()));
  // Frames of the updates before the stop took effect may still be on their
  // way (how many depends on the scheduler); the answer to a request sent now
  // comes after all of them.
  ASSERT_TRUE(m_Peer.SendRequest("GET_TDATA")); // no tracking source: an error reply
  Received fence;
  do
    fence = Next();
  while (fence.type == "IMAGE");
  ASSERT_EQ("RTS_TDATA", fence.type);

  // A start request with a body it should not have: the body is skipped, and
  // the GET_IMAGE right behind it is read as the next message.
  const std::vector<unsigned char> body = {9, 8, 7, 6, 5};
  std::vector<unsigned char> bytes = Concat(RawHeader("STT_IMAGE", body.size(), IGTL_HEADER_VERSION, body), body);
  ASSERT_TRUE(m_Peer.SendBytes(Concat(bytes, Packed(igtl::GetImageMessage::New()))));
  ExpectImageMessageOf(image, Next());
  EXPECT_TRUE(m_Provider->IsStreaming());
  ASSERT_TRUE(m_Peer.Send(igtl::StopImageMessage::New()));
  ASSERT_TRUE(WaitUntil([&] { return !m_Provider->IsStreaming(); }));
  EXPECT_EQ(1u, m_Server->GetNumberOfConnections());
}

TEST_F(Provider, StreamingIntervalsOfTheRequests)
{
  TrackingDataSource::Pointer tdata = RegisteredTrackingSource("TDATA");
  TrackingDataSource::Pointer qtdata = RegisteredTrackingSource("QTDATA");
  TrackingDataSource::Pointer bind = RegisteredTrackingSource("BIND");
  struct Case
  {
    const char *what;
    std::function<igtl::MessageBase::Pointer()> request;
    unsigned int interval;
  };
  const std::vector<Case> cases = {
    {"TDATA 50 ms",
     [] {
       igtl::StartTrackingDataMessage::Pointer m = igtl::StartTrackingDataMessage::New();
       m->SetResolution(50);
       return igtl::MessageBase::Pointer(m.GetPointer());
     },
     50},
    {"TDATA as fast as possible",
     [] {
       igtl::StartTrackingDataMessage::Pointer m = igtl::StartTrackingDataMessage::New();
       m->SetResolution(0);
       return igtl::MessageBase::Pointer(m.GetPointer());
     },
     1},
    {"QTDATA 7 ms",
     [] {
       igtl::StartQuaternionTrackingDataMessage::Pointer m = igtl::StartQuaternionTrackingDataMessage::New();
       m->SetResolution(7);
       return igtl::MessageBase::Pointer(m.GetPointer());
     },
     7},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(m_Peer.Send(c.request()));
    ASSERT_TRUE(WaitUntil([&] { return m_Provider->IsStreaming(); }));
    EXPECT_EQ(c.interval, m_Provider->GetStreamingTime());
    m_Provider->StopStreamingOfAllSources();
    GUI()->ProcessPendingCalls();
  }

  // STT_BIND as the protocol lays it out: the GET_BIND table (here an empty
  // one), then the resolution in 32.32 fixed-point seconds, network order.
  for (const auto &row : std::vector<std::pair<igtlUint64, unsigned int>>{
         {igtlUint64(1) << 30, 250}, {(igtlUint64(1) << 32) + (igtlUint64(1) << 31), 1500}, {0, 1}})
  {
    std::vector<unsigned char> body(4, 0);
    for (int shift = 56; shift >= 0; shift -= 8)
      body.push_back(static_cast<unsigned char>(row.first >> shift));
    ASSERT_TRUE(m_Peer.SendBytes(Concat(RawHeader("STT_BIND", body.size(), IGTL_HEADER_VERSION, body), body)));
    ASSERT_TRUE(WaitUntil([&] { return m_Provider->IsStreaming(); }));
    EXPECT_EQ(row.second, m_Provider->GetStreamingTime()) << row.first;
    m_Provider->StopStreamingOfAllSources();
    GUI()->ProcessPendingCalls();
  }

  // OpenIGTLink 1.11's own STT_BIND is not in that layout: it starts nothing,
  // and the next request is served.
  igtl::StartBindMessage::Pointer broken = igtl::StartBindMessage::New();
  broken->SetResolution(igtlUint64(1) << 30);
  ASSERT_TRUE(m_Peer.Send(broken));
  RequestTrackingStream(33);
  ASSERT_TRUE(WaitUntil([&] { return m_Provider->IsStreaming(); }));
  EXPECT_EQ(33u, m_Provider->GetStreamingTime());
  EXPECT_TRUE(m_Provider->HasInput(tdata->GetOutput()));
  m_Provider->StopStreamingOfAllSources();
  GUI()->ProcessPendingCalls();
  EXPECT_EQ(IGTLDevice::Running, m_Server->GetState());
}

TEST_F(Provider, ErrorRepliesWhenNoSourceFits)
{
  vorlen::CapturingSink sink;
  RequestTrackingStream(10);
  Received reply = Next();
  ASSERT_EQ("RTS_TDATA", reply.type);
  ASSERT_TRUE(reply.crcOk);
  EXPECT_EQ(igtl::RTSTrackingDataMessage::STATUS_ERROR,
            dynamic_cast<igtl::RTSTrackingDataMessage *>(reply.message.GetPointer())->GetStatus());

  ASSERT_TRUE(m_Peer.SendRequest("STP_QTDATA"));
  reply = Next();
  ASSERT_EQ("RTS_QTDATA", reply.type);
  EXPECT_EQ(igtl::RTSQuaternionTrackingDataMessage::STATUS_ERROR,
            dynamic_cast<igtl::RTSQuaternionTrackingDataMessage *>(reply.message.GetPointer())->GetStatus());

  // A reply of the peer is no request: it is not answered (two providers would answer each other for ever).
  ASSERT_TRUE(m_Peer.SendBytes(Concat(RawHeader("RTS_TDATA", 1, IGTL_HEADER_VERSION, {0}), {0})));
  ASSERT_TRUE(m_Peer.SendRequest("GET_BIND"));
  reply = Next();
  ASSERT_EQ("RTS_BIND", reply.type);
  EXPECT_EQ(igtl::RTSBindMessage::STATUS_ERROR,
            dynamic_cast<igtl::RTSBindMessage *>(reply.message.GetPointer())->GetStatus());
  EXPECT_TRUE(sink.Contains("Ignored the message RTS_TDATA", 0));
  EXPECT_FALSE(m_Provider->IsStreaming());
}

TEST_F(Provider, OneStreamedSourceAtATime)
{
  vorlen::CapturingSink sink;
  TrackingDataSource::Pointer first = TrackingDataSource::New();
  TrackingDataSource::Pointer second = TrackingDataSource::New();
  m_Provider->StartStreamingOfSource(nullptr, 10);
  EXPECT_FALSE(m_Provider->IsStreaming());
  m_Provider->StartStreamingOfSource(first, 10);
  m_Provider->StartStreamingOfSource(second, 50);
  EXPECT_TRUE(sink.Contains("This provider just supports the streaming of one source.", 1));
  EXPECT_EQ(100u, m_Provider->GetStreamingTime());
  EXPECT_TRUE(m_Provider->HasInput(first->GetOutput()));
  EXPECT_FALSE(m_Provider->HasInput(second->GetOutput()));

  // Updates send the streamed source's frames.
  GUI()->ProcessPendingCalls();
  m_Provider->Update();
  EXPECT_EQ(1.0f, TrackingX(Next().message));
  m_Provider->Update();
  EXPECT_EQ(2.0f, TrackingX(Next().message));

  m_Provider->StopStreamingOfSource(first);
  EXPECT_FALSE(m_Provider->HasInput(first->GetOutput()));
  EXPECT_FALSE(m_Provider->IsStreaming());
}

TEST_F(Provider, IntervalsOfFrameRates)
{
  TrackingDataSource::Pointer source = TrackingDataSource::New();
  const std::vector<std::pair<unsigned int, unsigned int>> table = {{10, 100}, {30, 33},  {60, 16}, {3, 333},
                                                                    {1000, 1}, {1001, 0}, {0, 0}};
  for (const auto &row : table)
  {
    m_Provider->StartStreamingOfSource(source, row.first);
    EXPECT_EQ(row.second, m_Provider->GetStreamingTime()) << row.first << " fps";
    m_Provider->StopStreamingOfAllSources();
  }
  GUI()->ProcessPendingCalls();
}

TEST_F(Provider, StopEventsOfTheIdleProviderAndOfALostPeer)
{
  EventProbe stopped(m_Provider, StreamingStopRequiredEvent());
  m_Provider->StopStreamingOfAllSources(); // idle: observers hear of it all the same
  EXPECT_EQ(0, stopped.count.load());
  ASSERT_TRUE(PumpUntil([&] { return stopped.count == 1; }));

  // A peer that goes while nothing streams: nothing is posted.
  EventCounter lost(m_Server, LostConnectionEvent()); // runs after the provider's observer
  m_Peer.Close();
  ASSERT_TRUE(WaitUntil([&] { return lost.Count() == 1; }));
  EXPECT_EQ(0u, GUI()->GetNumberOfPendingCalls());

  // A peer that goes while streaming: the stream stops.
  Peer second;
  ASSERT_TRUE(second.Connect(m_Server->GetPortNumber()));
  ASSERT_TRUE(WaitUntil([&] { return m_Server->GetNumberOfConnections() == 1; }));
  TrackingDataSource::Pointer source = TrackingDataSource::New();
  m_Provider->StartStreamingOfSource(source, 10);
  GUI()->ProcessPendingCalls();
  second.Close();
  ASSERT_TRUE(WaitUntil([&] { return lost.Count() == 2; }));
  EXPECT_FALSE(m_Provider->IsStreaming());
  ASSERT_TRUE(PumpUntil([&] { return stopped.count == 2; }));
}

TEST_F(Provider, GetRequestsWhileStreaming)
{
  // The receiving thread answers GET_ requests from the same source the GUI
  // thread streams: the two never run the pipeline at the same time.
  TrackingDataSource::Pointer source = RegisteredTrackingSource();
  m_Provider->StartStreamingOfSource(source, 1000);
  std::atomic<int> replies{0};
  std::thread peer([&] {
    for (int i = 0; i < 50; ++i)
      m_Peer.SendRequest("GET_TDATA");
    Received r;
    while (replies < 150 && m_Peer.Receive(r))
      if (r.type == "TDATA")
        ++replies;
  });
  ASSERT_TRUE(PumpUntil([&] {
    m_Provider->Update();
    return replies >= 150;
  }));
  peer.join();
  m_Provider->StopStreamingOfAllSources();
}

TEST(IGTLMessageProvider, DestructionCancelsWhatItPostedAndRaisesNothing)
{
  GUI()->ProcessPendingCalls();
  IGTLMessageProvider::Pointer provider = IGTLMessageProvider::New();
  EXPECT_EQ("IGTLMessageProvider", provider->GetName());
  EXPECT_EQ(0u, provider->GetStreamingTime());
  auto started = std::make_unique<EventProbe>(provider, StreamingStartRequiredEvent());
  auto stopped = std::make_unique<EventProbe>(provider, StreamingStopRequiredEvent());
  std::atomic<int> *startCount = &started->count;
  TrackingDataSource::Pointer source = TrackingDataSource::New();
  provider->StartStreamingOfSource(source, 10);
  provider->StopStreamingOfAllSources();
  EXPECT_EQ(2u, GUI()->GetNumberOfPendingCalls());
  EXPECT_EQ(0, startCount->load());
  started.reset();
  stopped.reset();
  provider = nullptr;
  EXPECT_EQ(0u, GUI()->GetNumberOfPendingCalls());
  EXPECT_EQ(0u, GUI()->ProcessPendingCalls());
}

TEST(IGTLMessageProvider, SendQueuesTheMessage)
{
  vorlen::CapturingSink sink;
  IGTLServer::Pointer server = IGTLServer::New(true);
  server->SetPortNumber(0);
  IGTLMessageProvider::Pointer provider = IGTLMessageProvider::New();
  provider->Send(IGTLMessage::New(MakeString("no device"))); // refused, logged, no crash
  EXPECT_TRUE(sink.Contains("the provider has no OpenIGTLink device", 2));
  provider->SetIGTLDevice(server);
  provider->Connect();
  provider->StartCommunication();
  Peer peer;
  ASSERT_TRUE(peer.Connect(server->GetPortNumber()));
  ASSERT_TRUE(WaitUntil([&] { return server->GetNumberOfConnections() == 1; }));
  provider->Send(nullptr);
  provider->Send(IGTLMessage::New(MakeTrackingData(42.0f).GetPointer()));
  EXPECT_TRUE(sink.Contains("Sending OpenIGTLink Message: ", 0));
  Received r;
  ASSERT_TRUE(peer.Receive(r));
  EXPECT_EQ(42.0f, TrackingX(r.message));
  peer.Close();
}
