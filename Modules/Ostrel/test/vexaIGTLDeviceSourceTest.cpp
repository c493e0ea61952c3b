#include "vexaIGTLPipelineTestSupport.h"

#include <vexaIGTL2DImageDeviceSource.h>
#include <vexaIGTL3DImageDeviceSource.h>
#include <vexaIGTLDeviceSource.h>
#include <vexaIGTLTrackingDataDeviceSource.h>

#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace vexa;
using namespace vexa::test;

namespace
{
  /** A device source that counts how often its handlers run. */
  class CountingSource : public IGTLDeviceSource
  {
  public:
    vexaClassMacro(CountingSource, IGTLDeviceSource);
    vexaNewMacro(CountingSource);
    std::atomic<int> messages{0}, commands{0}, losses{0};

  protected:
    void OnIncomingMessage() override { ++messages; }
    void OnIncomingCommand() override { ++commands; }
    void OnLostConnection() override { ++losses; }
  };

  bool HasAnyObserver(IGTLDevice *device)
  {
    return device->HasObserver(MessageReceivedEvent()) || device->HasObserver(CommandReceivedEvent()) ||
           device->HasObserver(LostConnectionEvent());
  }

  /**
   * A standard OpenIGTLink server (OpenIGTLink's own server socket) with one
   * vexa::IGTLClient connected to it through a device source.
   */
  class StandardServer : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      m_Listener = igtl::ServerSocket::New();
      ASSERT_EQ(0, m_Listener->CreateServer(0));
      m_Client = IGTLClient::New(true);
      m_Client->SetName("Standard");
      m_Client->SetHostname("127.0.0.1");
      m_Client->SetPortNumber(m_Listener->GetServerPort());
    }

    void TearDown() override
    {
      if (m_Client->GetState() != IGTLDevice::Setup)
        m_Client->CloseConnection();
      m_Listener->CloseSocket();
    }

    /** Connects `source` (which feeds from the client) and accepts the connection. */
    void Start(IGTLDeviceSource *source)
    {
      source->SetIGTLDevice(m_Client);
      source->Connect();
      source->StartCommunication();
      igtl::ClientSocket::Pointer accepted = m_Listener->WaitForConnection(10000);
      ASSERT_TRUE(accepted.IsNotNull());
      m_Peer = Peer(accepted.GetPointer());
      m_Received.reset(new EventCounter(m_Client, MessageReceivedEvent()));
    }

    /** Sends the messages and waits until the client has received them. */
    void SendAndWait(const std::vector<igtl::MessageBase::Pointer> &messages)
    {
      const int before = m_Received->Count();
      for (const igtl::MessageBase::Pointer &m : messages)
        ASSERT_TRUE(m_Peer.Send(m));
      ASSERT_TRUE(WaitUntil([&] { return m_Received->Count() >= before + static_cast<int>(messages.size()); }));
    }

    igtl::ServerSocket::Pointer m_Listener;
    IGTLClient::Pointer m_Client;
    Peer m_Peer;
    std::unique_ptr<EventCounter> m_Received;
  };
}

TEST(IGTLDeviceSource, WithoutDevice)
{
  IGTLDeviceSource::Pointer source = IGTLDeviceSource::New();
  EXPECT_EQ("IGTLDeviceSource (no defined type)", source->GetName());
  EXPECT_EQ("NONE", source->GetType());
  EXPECT_EQ(0u, source->GetNumberOfIndexedOutputs());
  EXPECT_FALSE(source->IsConnected());
  EXPECT_FALSE(source->IsCommunicating());
  const std::string text = "vexa::IGTLDeviceSource: No OpenIGTLink device set";
  EXPECT_EQ(text, ExceptionText([&] { source->Connect(); }));
  EXPECT_EQ(text, ExceptionText([&] { source->Disconnect(); }));
  EXPECT_EQ(text, ExceptionText([&] { source->StartCommunication(); }));
  EXPECT_EQ(text, ExceptionText([&] { source->StopCommunication(); }));
  EXPECT_THROW(source->Connect(), std::invalid_argument);
  source->Update(); // nothing to take, nothing breaks
}

TEST(IGTLDeviceSource, NamesOfTheKinds)
{
  EXPECT_EQ("IGTLDeviceSource (2D Images)", IGTL2DImageDeviceSource::New()->GetName());
  EXPECT_EQ("IGTLDeviceSource (2D Images)", IGTL3DImageDeviceSource::New()->GetName());
  IGTLTrackingDataDeviceSource::Pointer tracking = IGTLTrackingDataDeviceSource::New();
  EXPECT_EQ("IGTLDeviceSource (tracking data)", tracking->GetName());
  EXPECT_EQ(IGTLTrackingDataDeviceSource::TDATA_OR_TRANSFORM, tracking->GettrackingDataType());
  const itk::ModifiedTimeType before = tracking->GetMTime();
  tracking->SettrackingDataType(IGTLTrackingDataDeviceSource::TDATA_OR_TRANSFORM);
  EXPECT_EQ(before, tracking->GetMTime());
  tracking->SettrackingDataType(IGTLTrackingDataDeviceSource::TRANSFORM);
  EXPECT_GT(tracking->GetMTime(), before);
}

TEST(IGTLDeviceSource, SettingTheDeviceNamesTheSourceAndMovesTheObservers)
{
  IGTLClient::Pointer first = IGTLClient::New(true);
  first->SetName("D");
  IGTLServer::Pointer second = IGTLServer::New(true);
  second->SetName("E");
  CountingSource::Pointer source = CountingSource::New();

  source->SetIGTLDevice(first);
  EXPECT_EQ("OIGTL Device Source ( D )", source->GetName());
  ASSERT_EQ(1u, source->GetNumberOfIndexedOutputs());
  IGTLMessage::Pointer output = source->GetOutput(); // held, so that a new output cannot take its address
  ASSERT_TRUE(output.IsNotNull());
  source->SetIGTLDevice(first); // the same device: nothing changes, no second set of observers
  EXPECT_EQ(output.GetPointer(), source->GetOutput());
  first->InvokeEvent(MessageReceivedEvent());
  first->InvokeEvent(CommandReceivedEvent());
  first->InvokeEvent(LostConnectionEvent());
  EXPECT_EQ(1, source->messages.load());
  EXPECT_EQ(1, source->commands.load());
  EXPECT_EQ(1, source->losses.load());

  source->SetIGTLDevice(second);
  EXPECT_EQ("OIGTL Device Source ( E )", source->GetName());
  EXPECT_FALSE(HasAnyObserver(first));
  EXPECT_TRUE(second->HasObserver(MessageReceivedEvent()));
  EXPECT_NE(output.GetPointer(), source->GetOutput()); // a new output
  first->InvokeEvent(MessageReceivedEvent());
  EXPECT_EQ(1, source->messages.load());

  source->SetIGTLDevice(nullptr);
  EXPECT_FALSE(HasAnyObserver(second));
  EXPECT_EQ(0u, source->GetNumberOfIndexedOutputs());
  EXPECT_EQ(nullptr, source->GetIGTLDevice());
}

TEST(IGTLDeviceSource, ConnectReportsFailures)
{
  // a client without a port cannot open a connection: reported, not swallowed
  IGTLClient::Pointer client = IGTLClient::New(true);
  IGTL2DImageDeviceSource::Pointer clientSource = IGTL2DImageDeviceSource::New();
  clientSource->SetIGTLDevice(client);
  EXPECT_THROW(clientSource->Connect(), std::runtime_error);
  EXPECT_FALSE(clientSource->IsConnected());

  // a server whose port is taken: the server's own description follows
  IGTLServer::Pointer taken = StartServer();
  ASSERT_TRUE(taken.IsNotNull());
  IGTLServer::Pointer server = IGTLServer::New(true);
  server->SetPortNumber(taken->GetPortNumber());
  IGTL2DImageDeviceSource::Pointer serverSource = IGTL2DImageDeviceSource::New();
  serverSource->SetIGTLDevice(server);
  const std::string text = ExceptionText([&] { serverSource->Connect(); });
  EXPECT_EQ(0u, text.rfind("vexa::IGTLDeviceSource: Could not openconnection to OpenIGTLink device. Error: ", 0))
    << text;
  EXPECT_NE(std::string::npos,
            text.find("The server could not be created. Port: " + std::to_string(taken->GetPortNumber())))
    << text;
  EXPECT_FALSE(serverSource->IsConnected());
}

TEST(IGTLDeviceSource, LifeCycleStates)
{
  IGTLServer::Pointer server = IGTLServer::New(true);
  server->SetPortNumber(0);
  IGTLDeviceSource::Pointer source = IGTLDeviceSource::New();
  source->SetIGTLDevice(server);
  source->Connect();
  EXPECT_TRUE(source->IsConnected());
  EXPECT_FALSE(source->IsCommunicating());
  source->Connect(); // connected already: nothing
  source->StartCommunication();
  EXPECT_TRUE(source->IsCommunicating());
  source->StartCommunication(); // running already: nothing
  source->StopCommunication();
  EXPECT_EQ(IGTLDevice::Ready, server->GetState());
  source->Disconnect();
  EXPECT_EQ(IGTLDevice::Setup, server->GetState());
}

TEST(IGTLDeviceSource, RegistersUnderItsOwnInterfaceNotAsMessageSource)
{
  vorlen::CapturingSink sink;
  IGTLServer::Pointer server = IGTLServer::New(true);
  server->SetName("Reg");
  IGTLDeviceSource::Pointer source = IGTLDeviceSource::New();
  source->SetIGTLDevice(server);
  source->SetType("DEVSRC");
  source->RegisterAsMicroservice();
  const std::string filter = "(" + IGTLMessageSource::US_PROPKEY_DEVICETYPE + "=DEVSRC)";
  us::ModuleContext *context = us::GetModuleContext();
  EXPECT_TRUE(context->GetServiceReferences(IGTLMessageSource::US_INTERFACE_NAME, filter).empty());
  std::vector<us::ServiceReferenceU> refs = context->GetServiceReferences("vexa::IGTLDeviceSource", filter);
  ASSERT_EQ(1u, refs.size());
  const std::string id = refs[0].GetProperty(IGTLMessageSource::US_PROPKEY_ID).ToString();
  EXPECT_EQ(0u, id.rfind("org.vexa.services.IGTLDeviceSource.id_", 0)) << id;
  EXPECT_EQ(id, source->GetMicroserviceID());
  EXPECT_EQ("OIGTL Device Source ( Reg )", refs[0].GetProperty(IGTLMessageSource::US_PROPKEY_DEVICENAME).ToString());
  EXPECT_EQ("OIGTL Device Source ( Reg )", refs[0].GetProperty(IGTLDeviceSource::US_PROPKEY_IGTLDEVICENAME).ToString());
  // the record names the id that was registered
  EXPECT_TRUE(sink.Contains("Registered new DeviceSource as microservice: " + id, 0));
  source = nullptr;
  EXPECT_TRUE(context->GetServiceReferences("vexa::IGTLDeviceSource", filter).empty());
}

TEST_F(StandardServer, ImagesOfTwoAndThreeDimensions)
{
  IGTL2DImageDeviceSource::Pointer source2d = IGTL2DImageDeviceSource::New();
  IGTL3DImageDeviceSource::Pointer source3d = IGTL3DImageDeviceSource::New();
  Start(source2d);
  source3d->SetIGTLDevice(m_Client);
  EXPECT_EQ("OIGTL Device Source ( Standard )", source2d->GetName());

  igtl::ImageMessage::Pointer flat = MakeImage(8, 6, 1, igtl::ImageMessage::TYPE_UINT8, "Flat");
  igtl::ImageMessage::Pointer volume = MakeImage(4, 3, 5, igtl::ImageMessage::TYPE_INT16, "Volume");
  SendAndWait({flat.GetPointer(), volume.GetPointer()});

  source2d->Update();
  source3d->Update();
  ASSERT_TRUE(source2d->GetOutput()->IsDataValid());
  ASSERT_TRUE(source3d->GetOutput()->IsDataValid());
  EXPECT_STREQ("Flat", source2d->GetOutput()->GetName());
  EXPECT_STREQ("Volume", source3d->GetOutput()->GetName());
  auto *image2d = dynamic_cast<igtl::ImageMessage *>(source2d->GetOutput()->GetMessage().GetPointer());
  auto *image3d = dynamic_cast<igtl::ImageMessage *>(source3d->GetOutput()->GetMessage().GetPointer());
  ASSERT_NE(nullptr, image2d);
  ASSERT_NE(nullptr, image3d);
  int dims[3];
  image3d->GetDimensions(dims);
  EXPECT_EQ(5, dims[2]);
  ASSERT_EQ(flat->GetImageSize(), image2d->GetImageSize());
  EXPECT_EQ(0, std::memcmp(flat->GetScalarPointer(), image2d->GetScalarPointer(), flat->GetImageSize()));
  EXPECT_EQ(0, std::memcmp(volume->GetScalarPointer(), image3d->GetScalarPointer(), volume->GetImageSize()));

  // nothing new waiting: the output keeps its message
  igtl::MessageBase *kept = source2d->GetOutput()->GetMessage().GetPointer();
  source2d->Update();
  EXPECT_EQ(kept, source2d->GetOutput()->GetMessage().GetPointer());
}

TEST_F(StandardServer, TheFourTrackingModes)
{
  typedef IGTLTrackingDataDeviceSource S;
  IGTLTrackingDataDeviceSource::Pointer source = IGTLTrackingDataDeviceSource::New();
  Start(source);
  auto transform = [] {
    igtl::TransformMessage::Pointer m = igtl::TransformMessage::New();
    m->SetDeviceName("Transform");
    return igtl::MessageBase::Pointer(m.GetPointer());
  };
  auto tdata = [] { return igtl::MessageBase::Pointer(MakeTrackingData(7.0f, "Tracking").GetPointer()); };

  struct Case
  {
    S::TrackingMessageType mode;
    bool sendTracking, sendTransform;
    const char *expected; // the output's name afterwards, "" for unchanged
  };
  const std::vector<Case> cases = {
    {S::TDATA, true, true, "Tracking"},
    {S::TRANSFORM, true, true, "Transform"},
    {S::TDATA_OR_TRANSFORM, true, false, "Tracking"},
    {S::TDATA_OR_TRANSFORM, false, true, "Transform"},
    {S::TDATA_OR_TRANSFORM, true, true, "Transform"},
    {S::QTDATA, true, true, ""},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(std::to_string(c.mode) + (c.sendTracking ? " tdata" : "") + (c.sendTransform ? " transform" : ""));
    // empty the queue of earlier cases and start from a fresh output
    while (m_Client->GetNextTrackingDataMessage().IsNotNull() || m_Client->GetNextTransformMessage().IsNotNull())
    {
    }
    source->GetOutput()->SetName("");
    std::vector<igtl::MessageBase::Pointer> messages;
    if (c.sendTracking)
      messages.push_back(tdata());
    if (c.sendTransform)
      messages.push_back(transform());
    SendAndWait(messages);

    vorlen::CapturingSink sink;
    source->SettrackingDataType(c.mode);
    source->Update();
    EXPECT_STREQ(c.expected, source->GetOutput()->GetName());
    if (c.mode == S::QTDATA)
    {
      EXPECT_TRUE(sink.Contains("Receiving QTDATA is not implemented yet!", 1));
    }
    const bool both = c.mode == S::TDATA_OR_TRANSFORM && c.sendTracking && c.sendTransform;
    const std::vector<std::string> infos = sink.Texts(0);
    EXPECT_EQ(both ? 1 : 0, std::count(infos.begin(), infos.end(),
                                       "Found both: TDATA and TRANSFORM messages. Using TRANSFORM as default."));
    if (both)
    {
      // both were taken from the queue
      EXPECT_TRUE(m_Client->GetNextTrackingDataMessage().IsNull());
      EXPECT_TRUE(m_Client->GetNextTransformMessage().IsNull());
    }
  }
}

TEST_F(StandardServer, DestroyingTheSourceStopsAndDisconnectsItsDevice)
{
  IGTL2DImageDeviceSource::Pointer source = IGTL2DImageDeviceSource::New();
  Start(source);
  m_Received.reset();
  ASSERT_EQ(IGTLDevice::Running, m_Client->GetState());
  source = nullptr;
  EXPECT_EQ(IGTLDevice::Setup, m_Client->GetState());
  EXPECT_FALSE(HasAnyObserver(m_Client));
}
