// The device manager driven by clicks over real device services: its
// buttons over every kind of selection, activation and its failures, removal,
// and whole ways through the manager and the new-device form with real
// devices (a video device on a generated clip, OpenIGTLink clients against a
// loopback server and against ports where nobody listens).

#include <QvexaUSDeviceManagerWidget.h>
#include <QvexaUSNewVideoDeviceWidget.h>

#include <vexaIGTLServer.h>
#include <vexaImageToIGTLMessageFilter.h>
#include <vexaImageWriteAccessor.h>
#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaUSIGTLDevice.h>
#include <vexaUSDeviceTestSupport.h>
#include <vexaTestVideos.h>
#include <vexaUSVideoDevice.h>
#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <QApplication>
#include <QAbstractScrollArea>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using vexa::test::DialogDriver;
using vexa::test::QtApplication;
using vexa::test::USTestDevice;

namespace
{
  const std::string kVideoClass = "org.vexa.modules.us.USVideoDevice";
  const std::string kOtherClass = "org.vexa.modules.us.USTestDevice";
  const QString kActivationFailed = "Could not activate device. Check logging for details.";

  /** A device whose connection step fails by throwing, as a driver may. */
  class ThrowingDevice : public USTestDevice
  {
  public:
    vexaClassMacro(ThrowingDevice, USTestDevice);
    static Pointer New()
    {
      Pointer p = new ThrowingDevice;
      p->UnRegister();
      return p;
    }

  protected:
    ThrowingDevice() : USTestDevice(1, "Broken", "Driver", kOtherClass) {}
    bool OnConnection() override { throw std::runtime_error("driver crashed"); }
  };

  QStringList Texts(const DialogDriver &dialogs, int first = 0)
  {
    QStringList texts;
    for (const DialogDriver::Shown &shown : dialogs.ShownDialogs())
      texts << (shown.kind == DialogDriver::Shown::FileDialog ? "file dialog: " + shown.title
                                                              : shown.title + ": " + shown.text);
    return texts.mid(first);
  }

  /** A port on the loopback address where nobody listens (kept bound, so nobody will). */
  class ClosedPort
  {
  public:
    ClosedPort()
    {
      m_Socket = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t length = sizeof(address);
      if (m_Socket >= 0 && ::bind(m_Socket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
          ::getsockname(m_Socket, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        m_Port = ntohs(address.sin_port);
    }
    ~ClosedPort()
    {
      if (m_Socket >= 0)
        ::close(m_Socket);
    }
    int Port() const { return m_Port; }

  private:
    int m_Socket = -1;
    int m_Port = 0;
  };

  class DeviceManager : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      manager.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&manager));
    }
    void TearDown() override
    {
      for (const vexa::USDevice::Pointer &device : vexa::test::RegisteredUSDevices())
        device->UnregisterOnService();
      EXPECT_TRUE(QtApplication::ProcessEventsUntil([this] { return List()->count() == 0; }));
      EXPECT_EQ(nullptr, QApplication::overrideCursor());
      EXPECT_EQ(0, dialogs.PendingAnswers()) << "a dialog the test expected did not come";
    }

    QListWidget *List() { return manager.findChild<QListWidget *>("m_ServiceList"); }
    QPushButton *Button(const char *name) { return manager.findChild<QPushButton *>(name); }
    void Click(const char *name) { QTest::mouseClick(Button(name), Qt::LeftButton); }

    /** "<Activate enabled> <its text> | <Remove enabled> | <Edit enabled>", e.g. "on Activate | on | off". */
    std::string Buttons()
    {
      const auto on = [](QPushButton *b) { return std::string(b->isEnabled() ? "on" : "off"); };
      return on(Button("m_BtnActivate")) + " " + Button("m_BtnActivate")->text().toStdString() + " | " +
             on(Button("m_BtnRemove")) + " | " + on(Button("m_BtnEdit"));
    }
    bool WaitForButtons(const std::string &expected)
    {
      return QtApplication::ProcessEventsUntil([&] { return Buttons() == expected; });
    }
    bool WaitForEntries(int count)
    {
      return QtApplication::ProcessEventsUntil([&] { return List()->count() == count; });
    }

    /** A registered test device (the list selects it when it is the only one). */
    USTestDevice::Pointer Register(const std::string &deviceClass, const std::string &model = "Model")
    {
      USTestDevice::Pointer device = USTestDevice::New(1, "Maker", model, deviceClass);
      EXPECT_TRUE(device->Initialize());
      return device;
    }

    QApplication *app = QtApplication::Instance();
    DialogDriver dialogs;
    vexa::test::TemporaryFolder folder;
    QvexaUSDeviceManagerWidget manager;
  };
}

TEST_F(DeviceManager, IsBuiltAsDesigned)
{
  EXPECT_EQ(QSize(405, 234), manager.size());
  EXPECT_EQ("QvexaUSDeviceManagerWidget", manager.windowTitle());
  EXPECT_EQ("org.vexa.views.QvexaUSDeviceManagerWidget", QvexaUSDeviceManagerWidget::VIEW_ID);
  EXPECT_EQ("New Video Device", Button("m_BtnNewDevice")->text());
  EXPECT_EQ("Remove", Button("m_BtnRemove")->text());
  EXPECT_EQ("Edit Video Device", Button("m_BtnEdit")->text());
  EXPECT_EQ("off Activate | off | off", Buttons());
  EXPECT_FALSE(Button("m_BtnNewDevice")->icon().isNull());
  EXPECT_FALSE(Button("m_BtnRemove")->icon().isNull());

  // the form is built and connected once, however often it is asked for; the list is set up anew
  USTestDevice::Pointer device = Register(kOtherClass);
  ASSERT_TRUE(WaitForEntries(1));
  manager.CreateQtPartControl(&manager);
  QSignalSpy newDevice(&manager, SIGNAL(NewDeviceButtonClicked()));
  Click("m_BtnNewDevice");
  EXPECT_EQ(1, newDevice.count());
  ASSERT_TRUE(WaitForEntries(1));
  EXPECT_EQ("Maker Model", List()->item(0)->text());
}

TEST_F(DeviceManager, ButtonsFollowTheSelectedDevice)
{
  const vexa::USDevice::PropertyKeys &keys = vexa::USDevice::GetPropertyKeys();
  struct Case
  {
    const char *name;
    std::string deviceClass;
    std::function<void(USTestDevice *)> bring; // into the state to show
    std::string buttons;
  };
  const std::vector<Case> cases = {
    {"video device, inactive", kVideoClass, [](USTestDevice *) {}, "on Activate | on | on"},
    {"video device, connected", kVideoClass, [](USTestDevice *d) { d->Connect(); }, "on Activate | on | on"},
    {"video device, active", kVideoClass,
     [](USTestDevice *d) {
       d->Connect();
       d->Activate();
     },
     "on Deactivate | on | off"},
    {"other device, inactive", kOtherClass, [](USTestDevice *) {}, "on Activate | on | off"},
    {"other device, active", kOtherClass,
     [](USTestDevice *d) {
       d->Connect();
       d->Activate();
     },
     "on Deactivate | on | off"},
    {"a device deactivated by others", kVideoClass,
     [this](USTestDevice *d) {
       d->Connect();
       d->Activate();
       EXPECT_TRUE(WaitForButtons("on Deactivate | on | off"));
       d->Deactivate();
     },
     "on Activate | on | on"},
  };
  const auto nothingSelected = [this] {
    return !Button("m_BtnActivate")->isEnabled() && !Button("m_BtnRemove")->isEnabled() &&
           !Button("m_BtnEdit")->isEnabled();
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    USTestDevice::Pointer device = Register(c.deviceClass);
    ASSERT_TRUE(WaitForEntries(1));
    c.bring(device);
    EXPECT_TRUE(WaitForButtons(c.buttons)) << Buttons();
    device->UnregisterOnService();
    EXPECT_TRUE(QtApplication::ProcessEventsUntil(nothingSelected)) << Buttons();
  }

  // is-active texts as other device libraries may publish them: only exactly "false" is inactive
  for (const char *isActive : {"False", "FALSE", "0", "", "true"})
  {
    SCOPED_TRACE(isActive);
    USTestDevice::Pointer device = USTestDevice::New(1, "Maker", "Model", kVideoClass);
    us::ServiceProperties properties;
    properties[keys.US_PROPKEY_DISPLAYNAME] = std::string("Foreign");
    properties[keys.US_PROPKEY_DEVICECLASS] = kVideoClass;
    properties[keys.US_PROPKEY_ISACTIVE] = std::string(isActive);
    us::ServiceRegistration<vexa::USDevice> registration =
      us::GetModuleContext()->RegisterService<vexa::USDevice>(device.GetPointer(), properties);
    EXPECT_TRUE(WaitForButtons("on Deactivate | on | off")) << Buttons();
    registration.Unregister();
    EXPECT_TRUE(QtApplication::ProcessEventsUntil(nothingSelected)) << Buttons();
  }
  EXPECT_TRUE(Texts(dialogs).isEmpty());
}

TEST_F(DeviceManager, ActivatesAndDeactivatesTheSelectedDevice)
{
  USTestDevice::Pointer device = Register(kVideoClass);
  ASSERT_TRUE(WaitForEntries(1));
  ASSERT_TRUE(WaitForButtons("on Activate | on | on"));
  QSignalSpy activated(&manager, SIGNAL(DeviceActivated()));

  Click("m_BtnActivate");
  EXPECT_TRUE(device->GetIsActive());
  EXPECT_EQ(1, activated.count());
  EXPECT_EQ("on Deactivate | on | off", Buttons()) << "refreshed at once";

  Click("m_BtnActivate");
  EXPECT_EQ(vexa::USDevice::State_Initialized, device->GetDeviceState()) << "deactivated and disconnected";
  EXPECT_EQ(1, activated.count());
  EXPECT_EQ("on Activate | on | on", Buttons());

  // a connected device is not connected again
  ASSERT_TRUE(device->Connect());
  device->Steps.Clear();
  Click("m_BtnActivate");
  EXPECT_EQ(std::vector<std::string>{"OnActivation"}, device->Steps.Calls());
  EXPECT_EQ(2, activated.count());

  // Edit hands the selected device on
  Click("m_BtnActivate");
  QSignalSpy edit(&manager, SIGNAL(EditDeviceButtonClicked(vexa::USDevice::Pointer)));
  Click("m_BtnEdit");
  ASSERT_EQ(1, edit.count());
  EXPECT_EQ(vexa::USDevice::Pointer(device.GetPointer()), edit.at(0).at(0).value<vexa::USDevice::Pointer>());
  EXPECT_TRUE(Texts(dialogs).isEmpty());
}

TEST_F(DeviceManager, FailuresAreShownAndTheWidgetKeepsWorking)
{
  struct Case
  {
    const char *name;
    std::function<USTestDevice::Pointer()> make;
    QString shown;
    vexa::USDevice::DeviceStates after;
  };
  const std::vector<Case> cases = {
    {"connecting fails",
     [] {
       USTestDevice::Pointer d = USTestDevice::New(1, "Maker", "Model", kOtherClass);
       d->FailConnection = true;
       return d;
     },
     "Activation failed: " + kActivationFailed, vexa::USDevice::State_Initialized},
    {"activating fails",
     [] {
       USTestDevice::Pointer d = USTestDevice::New(1, "Maker", "Model", kOtherClass);
       d->FailActivation = true;
       return d;
     },
     "Activation failed: " + kActivationFailed, vexa::USDevice::State_Connected},
    {"the driver throws", [] { return USTestDevice::Pointer(ThrowingDevice::New().GetPointer()); },
     "Ultrasound Devices: Could not activate the device: driver crashed", vexa::USDevice::State_Initialized},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    USTestDevice::Pointer device = c.make();
    ASSERT_TRUE(device->Initialize());
    ASSERT_TRUE(WaitForEntries(1));
    ASSERT_TRUE(WaitForButtons("on Activate | on | off"));
    const int shown = Texts(dialogs).size();
    dialogs.AnswerMessageBox(QMessageBox::Ok);
    QSignalSpy activated(&manager, SIGNAL(DeviceActivated()));
    Click("m_BtnActivate");
    EXPECT_EQ(QStringList{c.shown}, Texts(dialogs, shown));
    EXPECT_EQ(nullptr, QApplication::overrideCursor()) << "the wait cursor is gone";
    EXPECT_EQ(0, activated.count());
    EXPECT_EQ(c.after, device->GetDeviceState());
    EXPECT_EQ("on Activate | on | off", Buttons());
    device->UnregisterOnService();
    ASSERT_TRUE(WaitForEntries(0));
  }

  // connecting alone (reached through the meta-object system only)
  USTestDevice::Pointer device = Register(kOtherClass);
  ASSERT_TRUE(WaitForEntries(1));
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return Button("m_BtnActivate")->isEnabled(); }));
  device->FailConnection = true;
  const int shown = Texts(dialogs).size();
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  ASSERT_TRUE(QMetaObject::invokeMethod(&manager, "OnClickedDisconnectDevice"));
  EXPECT_EQ(QStringList{"Connecting failed: Could not connect to device. Check logging for details."},
            Texts(dialogs, shown));
  device->FailConnection = false;
  ASSERT_TRUE(QMetaObject::invokeMethod(&manager, "OnClickedDisconnectDevice"));
  EXPECT_TRUE(device->GetIsConnected());
  ASSERT_TRUE(QMetaObject::invokeMethod(&manager, "OnClickedDisconnectDevice"));
  EXPECT_FALSE(device->GetIsConnected());
}

TEST_F(DeviceManager, RemovesDevicesOfEveryClassAndDisconnectsAll)
{
  USTestDevice::Pointer other = Register(kOtherClass, "Other");
  USTestDevice::Pointer video = Register(kVideoClass, "Video");
  ASSERT_TRUE(WaitForEntries(2));
  ASSERT_TRUE(other->Connect());
  ASSERT_TRUE(video->Connect());
  vorlen::CapturingSink sink;
  manager.DisconnectAllDevices();
  EXPECT_FALSE(other->GetIsConnected());
  EXPECT_FALSE(video->GetIsConnected());
  EXPECT_TRUE(sink.Contains("Disconnected ALL US devises!", 0));

  // the first entry (the other class) is selected; active devices go too
  ASSERT_TRUE(other->Connect());
  ASSERT_TRUE(other->Activate());
  ASSERT_TRUE(WaitForButtons("on Deactivate | on | off"));
  Click("m_BtnRemove");
  EXPECT_EQ(vexa::USDevice::State_NoState, other->GetDeviceState());
  ASSERT_TRUE(WaitForEntries(1));
  EXPECT_EQ("Maker Video", List()->item(0)->text());
  EXPECT_TRUE(WaitForButtons("on Activate | on | on")) << "the remaining device is selected";
  Click("m_BtnRemove");
  ASSERT_TRUE(WaitForEntries(0));
  EXPECT_TRUE(WaitForButtons("off Activate | off | off"));
  EXPECT_TRUE(vexa::test::RegisteredUSDevices().empty());

  sink.Clear();
  manager.DisconnectAllDevices();
  EXPECT_EQ(std::vector<std::string>{"Disconnected ALL US devises!"}, sink.Texts(0));
  EXPECT_TRUE(Texts(dialogs).isEmpty());
}

namespace
{
  /** The manager and the form, connected as the ultrasound view connects them. */
  class DeviceWays : public DeviceManager
  {
  protected:
    void SetUp() override
    {
      DeviceManager::SetUp();
      QObject::connect(&manager, SIGNAL(NewDeviceButtonClicked()), &form, SLOT(CreateNewDevice()));
      QObject::connect(&manager, SIGNAL(EditDeviceButtonClicked(vexa::USDevice::Pointer)), &form,
                       SLOT(EditDevice(vexa::USDevice::Pointer)));
      form.show();
    }

    void FormClick(const char *name) { QTest::mouseClick(form.findChild<QAbstractButton *>(name), Qt::LeftButton); }

    /** Fills in an OpenIGTLink client on the form and presses done. */
    void CreateClient(const QString &host, int port)
    {
      Click("m_BtnNewDevice");
      FormClick("m_RadioOIGTLClientSource");
      auto *hostEdit = form.findChild<QLineEdit *>("m_OIGTLClientHost");
      hostEdit->selectAll();
      QTest::keyClicks(hostEdit, host);
      form.findChild<QSpinBox *>("m_OIGTLClientPort")->setValue(port);
      FormClick("m_BtnDone");
    }

    QvexaUSNewVideoDeviceWidget form;
  };

  /** A 32 x 16 image of 16-bit ramps as an OpenIGTLink image message. */
  vexa::IGTLMessage::Pointer ImageMessage()
  {
    vexa::Image::Pointer image = vexa::Image::New();
    const unsigned int size[2] = {32, 16};
    image->Initialize(vexa::CreateScalarPixelType<unsigned short>(), 2, size);
    {
      vexa::ImageWriteAccessor access(image);
      auto *pixels = static_cast<unsigned short *>(access.GetData());
      for (unsigned int i = 0; i < 32 * 16; ++i)
        pixels[i] = static_cast<unsigned short>(i);
    }
    vexa::ImageToIGTLMessageFilter::Pointer filter = vexa::ImageToIGTLMessageFilter::New();
    filter->SetInput(image);
    filter->Update();
    vexa::IGTLMessage::Pointer message = filter->GetOutput();
    return message;
  }
}

TEST_F(DeviceWays, AVideoDeviceOnAClipFromCreationToRemoval)
{
  const std::string clip = folder.File("clip.avi");
  vexa::test::WriteNumberedVideo(clip, 10, 64, 48);

  Click("m_BtnNewDevice");
  dialogs.AnswerFileDialog(QString::fromStdString(clip));
  FormClick("m_OpenFileButton");
  FormClick("m_BtnDone");
  ASSERT_TRUE(WaitForEntries(1));
  EXPECT_EQ("Unknown Manufacturer Unknown Model", List()->item(0)->text());
  ASSERT_TRUE(WaitForButtons("on Activate | on | on"));
  const std::vector<vexa::USDevice::Pointer> devices = vexa::test::RegisteredUSDevices();
  ASSERT_EQ(1u, devices.size());
  vexa::USDevice::Pointer device = devices[0];

  QSignalSpy activated(&manager, SIGNAL(DeviceActivated()));
  Click("m_BtnActivate");
  ASSERT_EQ(1, activated.count());
  ASSERT_TRUE(device->GetIsActive());
  EXPECT_EQ("on Deactivate | on | off", Buttons());
  // the pipeline as a view runs it: update until the clip's frames arrive
  EXPECT_TRUE(QtApplication::ProcessEventsUntil([&] {
    device->Modified();
    device->Update();
    return !device->GetOutput()->IsEmpty();
  }));
  EXPECT_EQ(64u, device->GetOutput()->GetDimension(0));
  EXPECT_EQ(48u, device->GetOutput()->GetDimension(1));

  Click("m_BtnActivate");
  EXPECT_FALSE(device->GetIsConnected());
  ASSERT_TRUE(WaitForButtons("on Activate | on | on"));

  // edit through the manager: the form gets the device
  Click("m_BtnEdit");
  EXPECT_EQ("Apply Changes", form.findChild<QPushButton *>("m_BtnDone")->text());
  auto *model = form.findChild<QLineEdit *>("m_Model");
  model->selectAll();
  QTest::keyClicks(model, "Renamed");
  FormClick("m_BtnDone");
  EXPECT_EQ("Renamed", device->GetName());
  EXPECT_TRUE(
    QtApplication::ProcessEventsUntil([&] { return List()->item(0)->text() == "Unknown Manufacturer Renamed"; }));

  Click("m_BtnRemove");
  ASSERT_TRUE(WaitForEntries(0));
  EXPECT_TRUE(vexa::test::RegisteredUSDevices().empty());
  EXPECT_EQ(QStringList{"file dialog: Open Video File"}, Texts(dialogs));
}

TEST_F(DeviceWays, AnOpenIGTLinkClientAgainstATestServer)
{
  vexa::IGTLServer::Pointer server = vexa::IGTLServer::New(true);
  server->SetPortNumber(0);
  ASSERT_TRUE(server->OpenConnection());
  ASSERT_TRUE(server->StartCommunication());

  CreateClient("127.0.0.1", server->GetPortNumber());
  ASSERT_TRUE(WaitForEntries(1));
  ASSERT_TRUE(WaitForButtons("on Activate | on | off"));
  vexa::USDevice::Pointer device = vexa::test::RegisteredUSDevices().at(0);

  Click("m_BtnActivate");
  ASSERT_TRUE(device->GetIsActive());
  EXPECT_EQ("on Deactivate | on | off", Buttons());
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return server->GetNumberOfConnections() == 1; }));
  vexa::IGTLMessage::Pointer message = ImageMessage();
  EXPECT_TRUE(QtApplication::ProcessEventsUntil([&] {
    server->SendMessage(message);
    QtApplication::ProcessEventsFor(std::chrono::milliseconds(5));
    device->Modified();
    device->Update();
    return !device->GetOutput()->IsEmpty();
  }));
  EXPECT_EQ(32u, device->GetOutput()->GetDimension(0));

  // the server goes away: the device deactivates itself, and the buttons say so
  server->CloseConnection();
  EXPECT_TRUE(WaitForButtons("on Activate | on | off")) << Buttons();
  EXPECT_FALSE(device->GetIsActive());

  Click("m_BtnRemove");
  ASSERT_TRUE(WaitForEntries(0));
  EXPECT_TRUE(Texts(dialogs).isEmpty());
}

TEST_F(DeviceWays, AnOpenIGTLinkClientWhereNobodyListensFailsInTime)
{
  const ClosedPort closed;
  ASSERT_GT(closed.Port(), 0);
  struct Case
  {
    const char *name;
    QString host;
    int port;
  };
  // 192.0.2.1 is reserved for documentation: never routed, so the connection cannot succeed
  for (const Case &c :
       {Case{"a closed port", "127.0.0.1", closed.Port()}, Case{"an unreachable address", "192.0.2.1", 18944}})
  {
    SCOPED_TRACE(c.name);
    CreateClient(c.host, c.port);
    ASSERT_TRUE(WaitForEntries(1));
    ASSERT_TRUE(WaitForButtons("on Activate | on | off"));
    const int shown = Texts(dialogs).size();
    dialogs.AnswerMessageBox(QMessageBox::Ok);
    const auto start = std::chrono::steady_clock::now();
    Click("m_BtnActivate");
    const auto took = std::chrono::steady_clock::now() - start;
    // Ostrel gives up after its 5 s connect time-out; the kernel alone would wait about two minutes
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_EQ(QStringList{"Activation failed: " + kActivationFailed}, Texts(dialogs, shown));
    EXPECT_EQ(nullptr, QApplication::overrideCursor());
    EXPECT_EQ("on Activate | on | off", Buttons());
    Click("m_BtnRemove");
    ASSERT_TRUE(WaitForEntries(0));
  }
}

TEST_F(DeviceWays, Screenshots)
{
  // what a person sees: both widgets drawn with a device listed (PNGs in the build tree)
  USTestDevice::Pointer device = Register(kVideoClass, "L14 Linear");
  ASSERT_TRUE(WaitForEntries(1));
  ASSERT_TRUE(WaitForButtons("on Activate | on | on"));
  form.CreateNewDevice();
  // a probe with depths, so that the editor shows its values
  auto *name = form.findChild<QLineEdit *>("m_ProbeNameLineEdit");
  QTest::keyClicks(name, "Linear");
  FormClick("m_AddNewProbePushButton");
  QTest::keyClicks(form.findChild<QLineEdit *>("m_AddDepths"), "30,50");
  FormClick("m_BtnAddDepths");
  QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
  for (QWidget *widget : std::initializer_list<QWidget *>{&manager, &form})
  {
    // the height a host's layout gives it at this width (a top-level window ignores the word wrap)
    if (widget->hasHeightForWidth())
      widget->resize(widget->width(), widget->heightForWidth(widget->width()));
    QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
    const QImage image = widget->grab().toImage();
    ASSERT_FALSE(image.isNull());
    const QString name = widget->objectName() + ".png";
    EXPECT_TRUE(image.save(name)) << name.toStdString();
    // not blank: more than the background colour
    const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
    int differing = 0;
    for (int y = 0; y < image.height(); y += 4)
      for (int x = 0; x < image.width(); x += 4)
        differing += image.pixel(x, y) != background;
    EXPECT_GT(differing, 100) << name.toStdString();

    // nothing squashed or cut: every shown control has the room its contents need
    for (QWidget *child : widget->findChildren<QWidget *>())
    {
      // the form's own widgets (Qt's inner ones, "qt_...", size themselves)
      if (!child->isVisible() || child->objectName().isEmpty() || child->objectName().startsWith("qt_") ||
          qobject_cast<QAbstractScrollArea *>(child))
        continue;
      const QSize needed = child->minimumSizeHint();
      if (auto *label = qobject_cast<QLabel *>(child); label && label->wordWrap())
        continue; // wraps into the width it gets
      EXPECT_GE(child->height(), needed.height()) << child->objectName().toStdString();
      EXPECT_GE(child->width(), needed.width()) << child->objectName().toStdString();
    }
  }
}
