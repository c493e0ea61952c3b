// The device base through the test device: life cycle, the published
// properties and their events, and the hand-over of pictures to the outputs.

#include <vexaUSDeviceTestSupport.h>

#include <vexaImageReadAccessor.h>
#include <vexaPixelTypeTraits.h>
#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

using vexa::USDevice;
using vexa::test::USTestDevice;

namespace
{
  /** The registry's events about device services, with the is-active text each carried. */
  class DeviceEvents
  {
  public:
    DeviceEvents()
    {
      m_Token = us::GetModuleContext()->AddServiceListener(
        [this](const us::ServiceEvent &event) {
          std::lock_guard<std::mutex> lock(m_Mutex);
          m_Events.push_back(
            {event.GetType(),
             event.GetServiceReference().GetProperty(USDevice::GetPropertyKeys().US_PROPKEY_ISACTIVE).ToString()});
        },
        "(objectclass=org.vexa.services.UltrasoundDevice)");
    }
    ~DeviceEvents() { us::GetModuleContext()->RemoveServiceListener(m_Token); }

    std::vector<std::pair<us::ServiceEvent::Type, std::string>> Take()
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      return std::move(m_Events);
    }

  private:
    std::mutex m_Mutex;
    std::vector<std::pair<us::ServiceEvent::Type, std::string>> m_Events;
    us::ListenerToken m_Token;
  };

  us::ServiceReference<USDevice> OnlyDeviceReference()
  {
    auto references = us::GetModuleContext()->GetServiceReferences<USDevice>();
    return references.size() == 1 ? references.front() : us::ServiceReference<USDevice>();
  }

  std::vector<unsigned char> Pixels(const vexa::Image *image)
  {
    vexa::ImageReadAccessor access(image);
    const auto *data = static_cast<const unsigned char *>(access.GetConstData());
    return std::vector<unsigned char>(data, data + access.GetSize());
  }
}

TEST(USDevice, PropertyKeysArePrefixedAndInTheirPlaces)
{
  const USDevice::PropertyKeys &k = USDevice::GetPropertyKeys();
  const std::string p = "org.vexa.services.UltrasoundDevice.";
  const std::vector<std::pair<std::string, std::string>> expected = {
    {k.US_PROPKEY_ID, p + "id"},
    {k.US_PROPKEY_MANUFACTURER, p + "manufacturer"},
    {k.US_PROPKEY_NAME, p + "name"},
    {k.US_PROPKEY_COMMENT, p + "comment"},
    {k.US_PROPKEY_DISPLAYNAME, p + "displayName"},
    {k.US_PROPKEY_ISCONNECTED, p + "isConnected"},
    {k.US_PROPKEY_ISACTIVE, p + "isActive"},
    {k.US_PROPKEY_DEVICECLASS, p + "deviceClass"},
    {k.US_PROPKEY_PROBES_SELECTED, p + "probes.selected"},
    {k.US_PROPKEY_BMODE_FREQUENCY, p + "bmode.frequency"},
    {k.US_PROPKEY_BMODE_POWER, p + "bmode.power"},
    {k.US_PROPKEY_BMODE_DYNAMIC_RANGE, p + "bmode.dynamicRange"},
    {k.US_PROPKEY_BMODE_GAIN, p + "bmode.gain"},
    {k.US_PROPKEY_BMODE_REJECTION, p + "bmode.rejection"},
    {k.US_PROPKEY_BMODE_DEPTH, p + "bmode.depth"},
    {k.US_PROPKEY_STOP_REASON, p + "stopReason"},
    {k.US_PROPKEY_LOST_CLIENT, p + "lostClient"},
  };
  for (const auto &entry : expected)
    EXPECT_EQ(entry.second, entry.first);
  EXPECT_EQ("org.vexa.services.UltrasoundDevice", us_service_interface_iid<USDevice>());

  // every key is published, so a device list's filter on any of them works
  USTestDevice::Pointer device = USTestDevice::New(1, "Acme", "Scanner");
  const us::ServiceProperties properties = device->GetServiceProperties();
  for (const auto &entry : expected)
    EXPECT_EQ(1u, properties.count(entry.first)) << entry.first;
  EXPECT_EQ("Acme Scanner", properties.at(k.US_PROPKEY_DISPLAYNAME).ToString());
  EXPECT_EQ("org.vexa.modules.us.USTestDevice", properties.at(k.US_PROPKEY_DEVICECLASS).ToString());
  EXPECT_EQ("0", properties.at(k.US_PROPKEY_BMODE_DEPTH).ToString());
  EXPECT_EQ("", properties.at(k.US_PROPKEY_STOP_REASON).ToString());
  EXPECT_NE(properties.at(k.US_PROPKEY_ID).ToString(),
            USTestDevice::New()->GetServiceProperties().at(k.US_PROPKEY_ID).ToString());
}

TEST(USDevice, LifeCyclePublishesEveryStateBeforeReturning)
{
  const USDevice::PropertyKeys &k = USDevice::GetPropertyKeys();
  DeviceEvents events;
  USTestDevice::Pointer device = USTestDevice::New(1, "Acme", "Scanner");
  EXPECT_EQ(USDevice::State_NoState, device->GetDeviceState());
  EXPECT_FALSE(device->Connect()) << "not initialised";

  ASSERT_TRUE(device->Initialize());
  EXPECT_FALSE(device->Initialize()) << "only once";
  us::ServiceReference<USDevice> reference = OnlyDeviceReference();
  ASSERT_TRUE(reference);
  EXPECT_EQ(device.GetPointer(), us::GetModuleContext()->GetService(reference));
  us::GetModuleContext()->UngetService(reference);

  // state, is-active text and is-connected text after each step, read right after it returned
  struct Row
  {
    const char *step;
    std::function<bool()> call;
    USDevice::DeviceStates state;
    const char *active;
    const char *connected;
  };
  const std::vector<Row> rows = {
    {"Activate before Connect", [&] { return !device->Activate(); }, USDevice::State_Initialized, "false", "false"},
    {"Connect", [&] { return device->Connect(); }, USDevice::State_Connected, "false", "true"},
    {"Activate", [&] { return device->Activate(); }, USDevice::State_Activated, "true", "true"},
    {"Activate again", [&] { return device->Activate(); }, USDevice::State_Activated, "true", "true"},
    {"Deactivate",
     [&] {
       device->Deactivate();
       return true;
     },
     USDevice::State_Connected, "false", "true"},
    {"Activate", [&] { return device->Activate(); }, USDevice::State_Activated, "true", "true"},
    {"Disconnect an active device", [&] { return device->Disconnect(); }, USDevice::State_Initialized, "false",
     "false"},
  };
  for (const Row &row : rows)
  {
    EXPECT_TRUE(row.call()) << row.step;
    EXPECT_EQ(row.state, device->GetDeviceState()) << row.step;
    EXPECT_EQ(row.active, reference.GetProperty(k.US_PROPKEY_ISACTIVE).ToString()) << row.step;
    EXPECT_EQ(row.connected, reference.GetProperty(k.US_PROPKEY_ISCONNECTED).ToString()) << row.step;
  }
  EXPECT_EQ((std::vector<std::string>{"OnInitialization", "OnConnection", "OnActivation", "OnDeactivation",
                                      "OnActivation", "OnDeactivation", "OnDisconnection"}),
            device->Steps.Calls());

  using E = us::ServiceEvent;
  EXPECT_EQ((std::vector<std::pair<E::Type, std::string>>{{E::REGISTERED, "false"},
                                                          {E::MODIFIED, "false"}, // connected
                                                          {E::MODIFIED, "true"},
                                                          {E::MODIFIED, "false"},
                                                          {E::MODIFIED, "true"},
                                                          {E::MODIFIED, "false"},   // deactivated by Disconnect
                                                          {E::MODIFIED, "false"}}), // disconnected
            events.Take());

  // names re-publish; an unchanged value does not
  device->SetName("Renamed");
  device->SetName("Renamed");
  device->SetComment("öffnen");
  device->UpdateServiceProperty(k.US_PROPKEY_BMODE_DEPTH, 60.0);
  device->UpdateServiceProperty(k.US_PROPKEY_BMODE_DEPTH, 60.0);
  EXPECT_EQ(3u, events.Take().size());
  EXPECT_EQ("Acme Renamed", reference.GetProperty(k.US_PROPKEY_DISPLAYNAME).ToString());
  EXPECT_EQ("öffnen", reference.GetProperty(k.US_PROPKEY_COMMENT).ToString());
  EXPECT_EQ(60.0, us::any_cast<double>(reference.GetProperty(k.US_PROPKEY_BMODE_DEPTH)));

  // names and state are not settable as properties
  vorlen::CapturingSink sink;
  device->UpdateServiceProperty(k.US_PROPKEY_ISACTIVE, std::string("true"));
  EXPECT_TRUE(sink.Contains("is not a settable property", 1));
  EXPECT_EQ("false", reference.GetProperty(k.US_PROPKEY_ISACTIVE).ToString());

  device->UnregisterOnService();
  EXPECT_EQ(USDevice::State_NoState, device->GetDeviceState());
  EXPECT_FALSE(OnlyDeviceReference());
  EXPECT_EQ(E::UNREGISTERING, events.Take().back().first);
  EXPECT_EQ(1, device->GetReferenceCount()) << "the service's reference is released";
}

TEST(USDevice, FailingStepsLeaveTheStateAndAreLogged)
{
  USTestDevice::Pointer device = USTestDevice::New();
  device->FailInitialization = true;
  vorlen::CapturingSink sink;
  EXPECT_FALSE(device->Initialize());
  EXPECT_FALSE(OnlyDeviceReference());
  device->FailInitialization = false;
  ASSERT_TRUE(device->Initialize());

  device->FailConnection = true;
  EXPECT_FALSE(device->Connect());
  EXPECT_EQ(USDevice::State_Initialized, device->GetDeviceState());
  device->FailConnection = false;
  ASSERT_TRUE(device->Connect());
  device->FailActivation = true;
  EXPECT_FALSE(device->Activate());
  EXPECT_FALSE(device->GetIsActive());
  EXPECT_EQ("false", OnlyDeviceReference().GetProperty(USDevice::GetPropertyKeys().US_PROPKEY_ISACTIVE).ToString());
  EXPECT_TRUE(sink.Contains("Activating the device \"Test Model\" failed.", 2));

  // UnregisterOnService of a connected device disconnects it first
  device->UnregisterOnService();
  EXPECT_EQ("OnDisconnection", device->Steps.Calls().back());
}

TEST(USDevice, OutputsStayEmptyUntilAPictureArrivesAndTakeItsWholeGeometry)
{
  USTestDevice::Pointer device = USTestDevice::New(3);
  ASSERT_EQ(3u, device->GetNumberOfIndexedOutputs());
  ASSERT_TRUE(device->Initialize() && device->Connect() && device->Activate());
  EXPECT_FALSE(device->SetNumberOfImageOutputs(2)) << "fixed while active";
  EXPECT_EQ(3u, device->GetNumberOfIndexedOutputs());

  device->Modified();
  device->Update();
  for (unsigned int i = 0; i < 3; ++i)
    EXPECT_TRUE(device->GetOutput(i)->IsEmpty()) << i;

  device->PushFrame(1, 8, 6, 7, 0.5, 0.25, 10.0, -3.0);
  device->Modified();
  device->Update();
  EXPECT_TRUE(device->GetOutput(0)->IsEmpty());
  EXPECT_TRUE(device->GetOutput(2)->IsEmpty());
  vexa::Image *output = device->GetOutput(1);
  ASSERT_FALSE(output->IsEmpty());
  EXPECT_EQ(8u, output->GetDimension(0));
  EXPECT_EQ(6u, output->GetDimension(1));
  EXPECT_EQ(0.5, output->GetGeometry()->GetSpacing()[0]);
  EXPECT_EQ(0.25, output->GetGeometry()->GetSpacing()[1]);
  EXPECT_EQ(10.0, output->GetGeometry()->GetOrigin()[0]);
  EXPECT_EQ(-3.0, output->GetGeometry()->GetOrigin()[1]);
  EXPECT_EQ(std::vector<unsigned char>(48, 7), Pixels(output));

  // a consumer that gave the output a placeholder's geometry gets the picture's back with the next one
  vexa::Image::Pointer placeholder = vexa::Image::New();
  const unsigned int size32[2] = {32, 32};
  placeholder->Initialize(vexa::CreateScalarPixelType<float>(), 2, size32);
  output->SetGeometry(placeholder->GetGeometry());
  device->PushFrame(1, 8, 6, 9, 0.5, 0.25, 10.0, -3.0);
  device->Modified();
  device->Update();
  EXPECT_DOUBLE_EQ(8.0, output->GetGeometry()->GetExtent(0));
  EXPECT_DOUBLE_EQ(6.0, output->GetGeometry()->GetExtent(1));
  EXPECT_EQ(10.0, output->GetGeometry()->GetOrigin()[0]);

  // nothing new: the output keeps its picture
  device->Modified();
  device->Update();
  EXPECT_EQ(std::vector<unsigned char>(48, 9), Pixels(output));
  device->UnregisterOnService();
}

TEST(USDevice, PicturesOfTheSameSizeReuseTheOutputsMemoryAndAFrozenDeviceDeliversNothingNew)
{
  USTestDevice::Pointer device = USTestDevice::New();
  ASSERT_TRUE(device->Initialize() && device->Connect() && device->Activate());
  device->PushFrame(0, 16, 16, 1);
  device->Update();
  const void *memory = vexa::ImageReadAccessor(device->GetOutput()).GetConstData();
  for (unsigned char value = 2; value < 6; ++value)
  {
    device->PushFrame(0, 16, 16, value);
    device->Modified();
    device->Update();
    EXPECT_EQ(memory, vexa::ImageReadAccessor(device->GetOutput()).GetConstData());
    EXPECT_EQ(value, Pixels(device->GetOutput())[0]);
  }

  EXPECT_EQ(5u, device->GetNumberOfAcquiredPictures());

  device->SetIsFrozen(true);
  EXPECT_TRUE(device->GetIsFrozen());
  device->PushFrame(0, 16, 16, 42);
  device->Modified();
  device->Update();
  EXPECT_EQ(5, Pixels(device->GetOutput())[0]);
  EXPECT_EQ(6u, device->GetNumberOfAcquiredPictures()) << "a frozen device's source still delivers";
  device->SetIsFrozen(false);
  device->Modified();
  device->Update();
  EXPECT_EQ(42, Pixels(device->GetOutput())[0]) << "the newest picture follows the thaw";

  // a picture of another size reshapes the output
  device->PushFrame(0, 4, 2, 3);
  device->Modified();
  device->Update();
  EXPECT_EQ(4u, device->GetOutput()->GetDimension(0));
  EXPECT_EQ(8u, Pixels(device->GetOutput()).size());
  device->Deactivate();
  ASSERT_TRUE(device->Activate());
  EXPECT_EQ(0u, device->GetNumberOfAcquiredPictures()) << "counted from the activation on";
  device->UnregisterOnService();
}

TEST(USDevice, UpdatesRaceWithAnAcquisitionThreadAndNeverSeeATornPicture)
{
  USTestDevice::Pointer device = USTestDevice::New(2);
  device->SetGeneratedFrames(std::chrono::milliseconds(1), 32, 16);
  ASSERT_TRUE(device->Initialize() && device->Connect() && device->Activate());
  int delivered = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (std::chrono::steady_clock::now() < end)
  {
    device->Modified();
    device->Update();
    for (unsigned int i = 0; i < 2; ++i)
    {
      if (device->GetOutput(i)->IsEmpty())
        continue;
      const std::vector<unsigned char> pixels = Pixels(device->GetOutput(i));
      ASSERT_EQ(512u, pixels.size());
      ASSERT_EQ(std::vector<unsigned char>(512, pixels[0]), pixels) << "one picture, whole";
      ++delivered;
    }
  }
  EXPECT_GT(delivered, 0);
  device->UnregisterOnService();
}

TEST(USDevice, ControlInterfacesPublishWhatTheySetAndDiPhASBatchesApplyOnce)
{
  const USDevice::PropertyKeys &k = USDevice::GetPropertyKeys();
  vexa::test::USTestDiPhASDevice::Pointer device = vexa::test::USTestDiPhASDevice::New();
  ASSERT_TRUE(device->Initialize());
  EXPECT_EQ("org.vexa.modules.us.USDiPhASDevice",
            OnlyDeviceReference().GetProperty(k.US_PROPKEY_DEVICECLASS).ToString());
  DeviceEvents events;

  // B mode: the value reaches the device and its property (the depth is the fifteenth key)
  USDevice::Pointer asDevice = device.GetPointer();
  asDevice->GetBModeControlInterface()->SetScanningDepth(60.0);
  asDevice->GetBModeControlInterface()->SetScanningGain(57.0);
  EXPECT_EQ((std::vector<std::string>{"SetScanningDepth 60", "SetScanningGain 57"}),
            device->GetTestBModeControls()->Record.Calls());
  EXPECT_EQ(60.0, us::any_cast<double>(OnlyDeviceReference().GetProperty(k.US_PROPKEY_BMODE_DEPTH)));
  EXPECT_EQ(57.0, us::any_cast<double>(OnlyDeviceReference().GetProperty(k.US_PROPKEY_BMODE_GAIN)));

  // probes: a valid index selects and publishes, one past the list is ignored
  device->GetTestProbesControls()->SetProbeNames({"A", "B", "C"});
  vexa::USControlInterfaceProbes::Pointer probes = asDevice->GetProbesControlInterface();
  probes->SelectProbe(2);
  vorlen::CapturingSink sink;
  probes->SelectProbe(3);
  EXPECT_TRUE(sink.Contains("There is no probe 3", 1));
  EXPECT_EQ((std::vector<std::string>{"SelectProbe 2"}), device->GetTestProbesControls()->Record.Calls());
  EXPECT_EQ("C", OnlyDeviceReference().GetProperty(k.US_PROPKEY_PROBES_SELECTED).ToString());
  EXPECT_EQ(3u, events.Take().size()) << "depth, gain, probe: one MODIFIED each";

  // DiPhAS: outside a batch every setter applies; inside, the batch applies once when it closes
  auto *controls =
    dynamic_cast<vexa::USDiPhASDeviceCustomControls *>(asDevice->GetCustomControlInterface().GetPointer());
  ASSERT_NE(nullptr, controls);
  controls->SetVoltage(70);
  controls->SetBatchUpdate(true);
  controls->SetTransmitEvents(3);
  controls->SetDataType(vexa::USDiPhASDeviceCustomControls::Beamformed_Short);
  controls->SetSavingSettings({true, false});
  EXPECT_TRUE(controls->GetBatchUpdate());
  controls->SetBatchUpdate(false);
  controls->SetBatchUpdate(false);
  EXPECT_EQ((std::vector<std::string>{"SetVoltage 70", "Apply", "SetTransmitEvents 3", "SetDataType 1",
                                      "SetSavingSettings raw true, beamformed false", "Apply"}),
            device->GetDiPhASControls()->Record.Calls());
  EXPECT_EQ(3u, controls->GetParameters().transmitEvents);

  // the device's state texts reach the receiver the panel installs, until it is replaced
  std::vector<QString> states;
  controls->SetStateCallback([&](QString state) { states.push_back(state); });
  device->GetDiPhASControls()->ReportState("Ready");
  controls->SetStateCallback({});
  device->GetDiPhASControls()->ReportState("Gone");
  EXPECT_EQ(std::vector<QString>{"Ready"}, states);
  device->UnregisterOnService();
}

TEST(USDevice, ChangesFromSeveralThreadsAndListenersNeitherDeadlockNorLeaveStaleValues)
{
  const USDevice::PropertyKeys &k = USDevice::GetPropertyKeys();
  USTestDevice::Pointer device = USTestDevice::New();
  ASSERT_TRUE(device->Initialize());
  // a listener that changes the device from inside a publication must not wait for itself
  std::atomic<int> nested{0};
  // the device publishes on one thread at a time: its publications never overlap
  std::atomic<int> publishing{0}, overlaps{0};
  const us::ListenerToken token = us::GetModuleContext()->AddServiceListener(
    [&](const us::ServiceEvent &event) {
      if (event.GetType() != us::ServiceEvent::MODIFIED)
        return;
      overlaps += publishing.fetch_add(1) != 0;
      if (nested.fetch_add(1) < 50)
        device->UpdateServiceProperty(k.US_PROPKEY_BMODE_POWER, static_cast<double>(nested.load()));
      --publishing;
    },
    "(objectclass=org.vexa.services.UltrasoundDevice)");
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
      {
        if (t == 0)
          device->SetComment("comment " + std::to_string(i));
        else if (t == 1)
          device->UpdateServiceProperty(k.US_PROPKEY_BMODE_DEPTH, static_cast<double>(i));
        else
          i % 2 ? device->Connect() : device->Disconnect();
      }
    });
  for (std::thread &thread : threads)
    thread.join();
  us::GetModuleContext()->RemoveServiceListener(token);
  EXPECT_EQ(0, overlaps.load()) << "two threads published at once";

  const us::ServiceProperties now = device->GetServiceProperties();
  us::ServiceReference<USDevice> reference = OnlyDeviceReference();
  for (const std::string &key :
       {k.US_PROPKEY_COMMENT, k.US_PROPKEY_BMODE_DEPTH, k.US_PROPKEY_ISCONNECTED, k.US_PROPKEY_BMODE_POWER})
    EXPECT_EQ(now.at(key).ToString(), reference.GetProperty(key).ToString()) << key;
  EXPECT_EQ("comment 199", now.at(k.US_PROPKEY_COMMENT).ToString());
  EXPECT_EQ("199", now.at(k.US_PROPKEY_BMODE_DEPTH).ToString());
  device->UnregisterOnService();
}

TEST(USDevice, AChangeMadeByAListenerOfTheRegistrationIsPublished)
{
  const USDevice::PropertyKeys &k = USDevice::GetPropertyKeys();
  USTestDevice::Pointer device = USTestDevice::New(1, "Acme", "Scanner");
  const us::ListenerToken token = us::GetModuleContext()->AddServiceListener(
    [&](const us::ServiceEvent &event) {
      if (event.GetType() == us::ServiceEvent::REGISTERED)
        device->SetComment("named by a listener");
    },
    "(objectclass=org.vexa.services.UltrasoundDevice)");
  ASSERT_TRUE(device->Initialize());
  us::GetModuleContext()->RemoveServiceListener(token);
  EXPECT_EQ("named by a listener", OnlyDeviceReference().GetProperty(k.US_PROPKEY_COMMENT).ToString());
  device->UnregisterOnService();
}
