// The "Ultrasound Support" view on the offscreen platform, with test devices
// of N outputs, a real video device on a clip written here, a plug-in
// context over the test program's registry and a host that lends a data
// storage and a render window that counts how often it is fitted. With
// "Update Image Data Automatically" off the view is paused: what it shows
// stays until its device goes.

#include "QvexaUltrasoundSupport.h"
#include "ui_QvexaUltrasoundSupportControls.h"
#include "vexaTirrickActivator.h"

#include <QvexaDataManagerView.h>
#include <QvexaUSAbstractCustomWidget.h>
#include <QvexaViewHost.h>

#include <ctkPluginContext.h>
#include <usGetModuleContext.h>
#include <usModuleContext.h>
#include <usModuleRegistry.h>

#include <vexaImage.h>
#include <vexaImageReadAccessor.h>
#include <vexaLevelWindow.h>
#include <vexaRenderingManager.h>
#include <vexaUSDeviceTestSupport.h>
#include <vexaTestVideos.h>
#include <vexaUSVideoDevice.h>

#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <vorlenLogSink.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPointer>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolBox>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

using vexa::test::QtApplication;
using vexa::test::USTestDevice;
using namespace std::chrono_literals;

namespace
{
  const char *const kTestClass = "org.vexa.modules.us.USTestDevice";

  /** A render window that counts the fits and repaints it is asked for. */
  class CountingRenderWindow : public vexa::RenderingManager::RenderWindow
  {
  public:
    void Repaint() override { ++repaints; }
    void FitToGeometry(const vexa::BaseGeometry *) override { ++fits; }
    int repaints = 0;
    int fits = 0;
  };

  /** What the workbench lends a view: a data storage and a render-window part. */
  class TestHost : public QvexaViewHost, public vexa::IRenderWindowPart
  {
  public:
    vexa::DataStorage::Pointer storage = vexa::DataStorage::New();
    vexa::DataStorage::Pointer GetDataStorage() const override { return storage; }
    QList<vexa::DataNode::Pointer> GetDataManagerSelection() const override { return {}; }
    vexa::IRenderWindowPart *GetRenderWindowPart() const override { return const_cast<TestHost *>(this); }
    vexa::RenderingManager *GetRenderingManager() const override { return vexa::RenderingManager::GetInstance(); }
    void RequestUpdate(int type) override
    {
      GetRenderingManager()->RequestUpdateAll(static_cast<vexa::RenderingManager::RequestType>(type));
    }
  };

  /** A custom panel prototype for the test device class; counts its copies. */
  class TestPanel : public QvexaUSAbstractCustomWidget
  {
  public:
    explicit TestPanel(QWidget *parent = nullptr) : QvexaUSAbstractCustomWidget(parent) {}
    void OnDeviceSet() override {}
    std::string GetDeviceClass() const override { return kTestClass; }
    QvexaUSAbstractCustomWidget *Clone(QWidget *parent) const override
    {
      ++clones;
      auto *copy = new TestPanel(parent);
      copy->SetDevice(GetDevice());
      return copy;
    }
    void Initialize() override { new QVBoxLayout(this); }
    static int clones;
  };
  int TestPanel::clones = 0;

  // the application, with the GUI-thread callback on its event loop (as the workbench program has it)
  const auto Application = &QtApplication::WithGuiThreadCallback;

  std::string Name(const vexa::DataNode::Pointer &node) { return node->GetName(); }

  std::vector<unsigned char> Pixels(const vexa::DataNode::Pointer &node)
  {
    auto *image = dynamic_cast<vexa::Image *>(node->GetData().GetPointer());
    if (!image)
      return {};
    vexa::ImageReadAccessor access(image);
    const auto *data = static_cast<const unsigned char *>(access.GetData());
    return std::vector<unsigned char>(data, data + access.GetSize());
  }

  unsigned int Width(const vexa::BaseData *data)
  {
    auto *image = dynamic_cast<const vexa::Image *>(data);
    return image ? image->GetDimension(0) : 0;
  }

  /**
   * A view on a parent widget with the test host, the plug-in started on a
   * context of the test program's registry (unless told otherwise).
   */
  class UltrasoundSupport : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      QCoreApplication::setOrganizationName("VexaTests");
      QCoreApplication::setApplicationName("UltrasoundSupportTest");
      QSettings().clear();
      vexa::RenderingManager::GetInstance()->AddRenderWindow(&window);
    }

    void TearDown() override
    {
      DestroyView();
      for (auto &device : devices)
        device->UnregisterOnService();
      devices.clear();
      QtApplication::ProcessEventsFor(20ms);
      vexa::RenderingManager::GetInstance()->RemoveRenderWindow(&window);
      StopPlugin();
    }

    void StartPlugin()
    {
      context = std::make_unique<ctkPluginContext>(us::GetModuleContext(), "org.vexa.gui.qt.ultrasound");
      activator.start(context.get());
    }

    void StopPlugin()
    {
      if (!context)
        return;
      activator.stop(context.get());
      context->invalidate();
      context.reset();
    }

    void MakeView()
    {
      parent = std::make_unique<QWidget>();
      view = new QvexaUltrasoundSupport();
      view->SetViewHost(&host);
      view->CreatePartControl(parent.get());
      form = view->GetControls();
    }

    void DestroyView()
    {
      vexa::DeleteUltrasoundSupportView(view);
      view = nullptr;
      form = nullptr;
      parent.reset();
    }

    /** A test device, registered, connected and active; the view has switched to it. */
    USTestDevice::Pointer ActiveDevice(unsigned int outputs,
                                       const std::string &model = "Test Model",
                                       bool selected = true)
    {
      USTestDevice::Pointer device = USTestDevice::New(outputs, "Test Manufacturer", model, kTestClass);
      devices.push_back(device.GetPointer());
      EXPECT_TRUE(device->Initialize());
      EXPECT_TRUE(device->Connect());
      EXPECT_TRUE(device->Activate());
      if (view && selected)
      {
        EXPECT_TRUE(QtApplication::ProcessEventsUntil(
          [&] { return view->GetActiveDevice().GetPointer() == device.GetPointer(); }));
      }
      return device;
    }

    void Tick() { QMetaObject::invokeMethod(view, "UpdateImage", Qt::DirectConnection); }

    /** Unchecks "Update Image Data Automatically" as the user does: ticks are driven by hand from here on. */
    void Pause()
    {
      ASSERT_TRUE(form->m_RunImageTimer->isChecked());
      form->m_RunImageTimer->click();
      ASSERT_FALSE(view->GetPipelineTimer()->isActive());
    }

    /** Selects the entry of the active-device list in that row, as a click does. */
    void SelectActiveRow(int row)
    {
      form->m_ActiveVideoDevices->findChild<QListWidget *>("m_ServiceList")->setCurrentRow(row);
    }

    /** Waits until the active-device list lists `count` devices. */
    bool ListedActive(std::size_t count)
    {
      return QtApplication::ProcessEventsUntil(
        [&] { return form->m_ActiveVideoDevices->GetAllServiceReferences().size() == count; });
    }

    /** The panels shown now: the probes panel and every page of the tool box. */
    std::vector<QPointer<QWidget>> Panels() const
    {
      std::vector<QPointer<QWidget>> panels;
      for (int i = 0; i < form->probesWidgetContainer->count(); ++i)
        panels.emplace_back(form->probesWidgetContainer->itemAt(i)->widget());
      for (int i = 0; i < form->m_ToolBoxControlWidgets->count(); ++i)
        panels.emplace_back(form->m_ToolBoxControlWidgets->widget(i));
      return panels;
    }

    std::vector<std::string> PageTitles() const
    {
      std::vector<std::string> titles;
      for (int i = 0; i < form->m_ToolBoxControlWidgets->count(); ++i)
        titles.push_back(form->m_ToolBoxControlWidgets->itemText(i).toStdString() +
                         (form->m_ToolBoxControlWidgets->isItemEnabled(i) ? "" : " (disabled)"));
      return titles;
    }

    QApplication *app = Application();
    CountingRenderWindow window;
    TestHost host;
    vexa::Tirrick_Activator activator;
    std::unique_ptr<ctkPluginContext> context;
    std::unique_ptr<QWidget> parent;
    QvexaUltrasoundSupport *view = nullptr;
    Ui::UltrasoundSupportControls *form = nullptr;
    std::vector<vexa::USDevice::Pointer> devices;
  };
}

TEST_F(UltrasoundSupport, AFreshFormShowsTheDeviceListsAndTheStoredOrDefaultSettings)
{
  MakeView();
  EXPECT_EQ(0, form->tabWidget->currentIndex());
  EXPECT_EQ("Device Management", form->tabWidget->tabText(0).toStdString());
  EXPECT_EQ("US Imaging", form->tabWidget->tabText(1).toStdString());
  EXPECT_FALSE(form->tabWidget->isTabEnabled(1));
  EXPECT_EQ("Ultrasound Devices:", form->m_Headline->text().toStdString());
  EXPECT_EQ("Active Devices:", form->m_HeadlineActive->text().toStdString());
  EXPECT_TRUE(form->m_NewVideoDeviceWidget->isHidden());
  EXPECT_FALSE(form->m_DeviceManagerWidget->isHidden());
  EXPECT_TRUE(form->m_ActiveVideoDevices->GetAllServiceReferences().empty());
  EXPECT_NE(std::string::npos, form->label_3->text().toStdString().find("Framrate Settings:"));
  EXPECT_EQ("Current overall Framerate: 0 FPS", form->m_FramerateLabel->text().toStdString());
  EXPECT_EQ("Freeze", form->m_FreezeButton->text().toStdString());

  // without stored settings both render boxes are on (the form's own default is off)
  EXPECT_TRUE(form->m_ShowImageStream->isChecked());
  EXPECT_TRUE(form->m_RunImageTimer->isChecked());
  EXPECT_TRUE(form->m_Update2DView->isChecked());
  EXPECT_TRUE(form->m_Update3DView->isChecked());
  const std::vector<std::tuple<QSpinBox *, int, int, int>> spins = {
    {form->m_FrameRatePipeline, 1, 500, 50}, {form->m_FrameRate2d, 1, 100, 20}, {form->m_FrameRate3d, 1, 100, 5}};
  for (const auto &s : spins)
  {
    EXPECT_EQ(std::get<1>(s), std::get<0>(s)->minimum());
    EXPECT_EQ(std::get<2>(s), std::get<0>(s)->maximum());
    EXPECT_EQ(std::get<3>(s), std::get<0>(s)->value());
  }

  // the new-device form and back
  QMetaObject::invokeMethod(view, "OnClickedAddNewDevice");
  EXPECT_EQ("Add New Video Device:", form->m_Headline->text().toStdString());
  EXPECT_FALSE(form->m_NewVideoDeviceWidget->isHidden());
  EXPECT_TRUE(form->m_DeviceManagerWidget->isHidden());
  EXPECT_TRUE(form->m_WidgetActiveDevices->isHidden());
  QMetaObject::invokeMethod(view, "OnClickedEditDevice");
  EXPECT_EQ("Edit Video Device:", form->m_Headline->text().toStdString());
  view->OnNewDeviceWidgetDone();
  EXPECT_EQ("Ultrasound Devices:", form->m_Headline->text().toStdString());
  EXPECT_TRUE(form->m_NewVideoDeviceWidget->isHidden());
  EXPECT_FALSE(form->m_WidgetActiveDevices->isHidden());
}

TEST_F(UltrasoundSupport, ActivationBuildsNodesAndPanelsAndStartsTheTimers)
{
  MakeView();
  struct Case
  {
    unsigned int outputs;
    bool show;
  };
  for (const Case c : {Case{1, true}, Case{3, true}, Case{3, false}, Case{2, false}})
  {
    SCOPED_TRACE(testing::Message() << c.outputs << " outputs, show " << c.show);
    form->m_ShowImageStream->setChecked(c.show);
    USTestDevice::Pointer device = ActiveDevice(c.outputs);

    ASSERT_EQ(c.outputs, view->GetStreamNodes().size());
    for (unsigned int i = 0; i < c.outputs; ++i)
    {
      const vexa::DataNode::Pointer &node = view->GetStreamNodes()[i];
      // the activation's placeholder, or the empty output's of a tick since (the timers run)
      const bool activation =
        Name(node) == "US Viewing Stream - Image " + std::to_string(i) && Width(node->GetData()) == 100u;
      const bool ticked = Name(node) == "No Data received yet ..." && Width(node->GetData()) == 32u;
      EXPECT_TRUE(activation || ticked) << Name(node) << ", " << Width(node->GetData());
      EXPECT_EQ(c.show, host.storage->Exists(node));
    }
    EXPECT_EQ(c.show ? c.outputs : 0u, host.storage->GetNumberOfNodes());
    EXPECT_TRUE(form->tabWidget->isTabEnabled(1));
    EXPECT_TRUE(view->GetPipelineTimer()->isActive());
    EXPECT_TRUE(view->GetRender2dTimer()->isActive());
    EXPECT_TRUE(form->m_TimerWidget->isEnabled());
    // the test device has no B-mode and no Doppler controls; no plug-in context: no custom page
    EXPECT_EQ((std::vector<std::string>{"B Mode Controls (disabled)", "Doppler Controls (disabled)"}), PageTitles());
    EXPECT_EQ(1, form->probesWidgetContainer->count());

    device->UnregisterOnService(); // leaves the active list: nothing is selected any more
    ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return !view->GetActiveDevice(); }));
    EXPECT_FALSE(form->tabWidget->isTabEnabled(1));
    EXPECT_TRUE(view->GetStreamNodes().empty());
    EXPECT_EQ(0u, host.storage->GetNumberOfNodes());
    EXPECT_FALSE(view->GetPipelineTimer()->isActive());
    EXPECT_EQ(0, form->m_ToolBoxControlWidgets->count());
    EXPECT_EQ(0, form->probesWidgetContainer->count());
  }
}

TEST_F(UltrasoundSupport, WithTheRunBoxOffAnActivationBuildsNothingUntilTheBoxIsCheckedAgain)
{
  // both ways the box is off at an activation: stored so from the last session, or unchecked by
  // the user while another device was shown, which has gone since
  for (const bool stored : {true, false})
  {
    SCOPED_TRACE(stored ? "stored off" : "unchecked by the user");
    if (stored)
    {
      QSettings settings;
      settings.setValue("org.vexa.views.ultrasoundsupport/RunImageTimer", false);
    }
    USTestDevice::Pointer device;
    if (stored)
      device = ActiveDevice(2); // active before the view is built
    MakeView();
    if (!stored)
    {
      USTestDevice::Pointer before = ActiveDevice(1, "Before");
      Pause();
      before->UnregisterOnService();
      ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return !view->GetActiveDevice(); }));
      EXPECT_FALSE(form->tabWidget->isTabEnabled(1)) << "nothing shown, nothing selected";
      device = ActiveDevice(2, "Test Model", false);
    }
    ASSERT_FALSE(form->m_RunImageTimer->isChecked());
    ASSERT_TRUE(QtApplication::ProcessEventsUntil(
      [&] { return static_cast<bool>(form->m_ActiveVideoDevices->GetSelectedServiceReference()); }));
    QtApplication::ProcessEventsFor(20ms);

    EXPECT_EQ(nullptr, view->GetActiveDevice());
    EXPECT_TRUE(view->GetStreamNodes().empty());
    EXPECT_EQ(0u, host.storage->GetNumberOfNodes());
    EXPECT_EQ(0, form->m_ToolBoxControlWidgets->count());
    EXPECT_EQ(0, form->probesWidgetContainer->count());
    EXPECT_FALSE(view->GetPipelineTimer()->isActive());
    // the box lives on the "US Imaging" tab: it stays in reach
    EXPECT_TRUE(form->tabWidget->isTabEnabled(1));
    EXPECT_FALSE(form->m_TimerWidget->isEnabled());

    form->m_RunImageTimer->click();
    EXPECT_EQ(device.GetPointer(), view->GetActiveDevice().GetPointer());
    ASSERT_EQ(2u, view->GetStreamNodes().size());
    for (unsigned int i = 0; i < 2; ++i)
    {
      EXPECT_EQ("US Viewing Stream - Image " + std::to_string(i), Name(view->GetStreamNodes()[i]));
      EXPECT_EQ(100u, Width(view->GetStreamNodes()[i]->GetData()));
    }
    EXPECT_EQ(2u, host.storage->GetNumberOfNodes());
    EXPECT_EQ(2, form->m_ToolBoxControlWidgets->count());
    EXPECT_TRUE(view->GetPipelineTimer()->isActive());
    EXPECT_TRUE(form->m_TimerWidget->isEnabled());

    DestroyView();
    for (auto &d : devices)
      d->UnregisterOnService();
    devices.clear();
    QSettings().clear();
  }
}

TEST_F(UltrasoundSupport, PausingKeepsTheFrameNodesAndPanelsThroughEveryTrigger)
{
  MakeView();
  USTestDevice::Pointer device = ActiveDevice(1);
  USTestDevice::Pointer second = ActiveDevice(1, "Second", false);
  ASSERT_TRUE(ListedActive(2));
  device->PushFrame(0, 64, 48, 7);
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return Width(view->GetStreamNodes()[0]->GetData()) == 64; }));
  Pause();

  const vexa::DataNode::Pointer node = view->GetStreamNodes()[0];
  const vexa::BaseData *shown = node->GetData();
  const std::vector<unsigned char> pixels = Pixels(node);
  ASSERT_EQ(64u * 48u, pixels.size());
  const std::vector<QPointer<QWidget>> panels = Panels();
  ASSERT_EQ(3u, panels.size());
  const std::vector<std::string> titles = PageTitles();
  QtApplication::ProcessEventsFor(50ms); // the fit the first frame asked for, before the pause
  const int fits = window.fits;
  // what the device delivers from now on is not looked at
  device->PushFrame(0, 80, 60, 99);

  auto stays = [&](const char *after) {
    SCOPED_TRACE(after);
    QtApplication::ProcessEventsFor(30ms);
    EXPECT_EQ(device.GetPointer(), view->GetActiveDevice().GetPointer());
    ASSERT_EQ(1u, view->GetStreamNodes().size());
    EXPECT_EQ(node, view->GetStreamNodes()[0]);
    EXPECT_EQ(shown, node->GetData().GetPointer());
    EXPECT_EQ(pixels, Pixels(node));
    EXPECT_EQ("US Viewing Stream - Image 0", Name(node));
    EXPECT_TRUE(host.storage->Exists(node));
    for (const QPointer<QWidget> &panel : panels)
      EXPECT_FALSE(panel.isNull());
    EXPECT_EQ(panels.size(), Panels().size());
    EXPECT_EQ(titles, PageTitles());
    EXPECT_TRUE(form->tabWidget->isTabEnabled(1));
    EXPECT_FALSE(view->GetPipelineTimer()->isActive());
    EXPECT_FALSE(view->GetRender2dTimer()->isActive());
    EXPECT_EQ(fits, window.fits);
    // a rate or render box would start the pipeline again: they wait for the run box
    EXPECT_FALSE(form->m_TimerWidget->isEnabled());
  };
  form->m_ShowImageStream->click();
  stays("\"Show US image in VEXA\" unchecked");
  form->m_ShowImageStream->click();
  stays("\"Show US image in VEXA\" checked");
  SelectActiveRow(1);
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] {
    return form->m_ActiveVideoDevices->GetSelectedServiceReference() ==
           form->m_ActiveVideoDevices->GetAllServiceReferences()[1];
  }));
  stays("another device selected");

  // resuming shows the selected device
  form->m_RunImageTimer->click();
  EXPECT_EQ(second.GetPointer(), view->GetActiveDevice().GetPointer());
  EXPECT_TRUE(view->GetPipelineTimer()->isActive());
  EXPECT_TRUE(form->m_TimerWidget->isEnabled());
  for (const QPointer<QWidget> &panel : panels)
    EXPECT_TRUE(panel.isNull());
  EXPECT_FALSE(host.storage->Exists(node));
}

TEST_F(UltrasoundSupport, ADeviceGoneWhilePausedLeavesNoNodeAndNoPanel)
{
  struct Case
  {
    const char *how;
    bool otherSelected; // the shown device is not the selected one: no selection change follows its going
    bool removed;       // withdrawn from the registry, not only deactivated
  };
  for (const Case c : {Case{"deactivated while selected", false, false}, Case{"removed while selected", false, true},
                       Case{"deactivated while another is selected", true, false},
                       Case{"removed while another is selected", true, true}})
  {
    SCOPED_TRACE(c.how);
    // a device that is not selected is followed through the plug-in context's service events
    if (c.otherSelected)
      StartPlugin();
    MakeView();
    USTestDevice::Pointer device = ActiveDevice(2);
    USTestDevice::Pointer other;
    if (c.otherSelected)
    {
      other = ActiveDevice(1, "Other", false);
      ASSERT_TRUE(ListedActive(2));
    }
    Pause();
    if (c.otherSelected)
    {
      SelectActiveRow(1);
      QtApplication::ProcessEventsFor(30ms);
      ASSERT_EQ(device.GetPointer(), view->GetActiveDevice().GetPointer());
    }
    const std::vector<vexa::DataNode::Pointer> nodes = view->GetStreamNodes();
    const std::vector<QPointer<QWidget>> panels = Panels();
    ASSERT_EQ(2u, nodes.size());
    // probes, B mode, Doppler; with the plug-in context the (empty) custom page too
    ASSERT_EQ(c.otherSelected ? 4u : 3u, panels.size());

    if (c.removed)
      device->UnregisterOnService();
    else
      device->Deactivate();
    ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return !view->GetActiveDevice(); }));
    EXPECT_TRUE(view->GetStreamNodes().empty());
    for (const vexa::DataNode::Pointer &node : nodes)
    {
      EXPECT_FALSE(host.storage->Exists(node));
      EXPECT_EQ(nullptr, node->GetData());
    }
    for (const QPointer<QWidget> &panel : panels)
      EXPECT_TRUE(panel.isNull());
    EXPECT_EQ(0, form->m_ToolBoxControlWidgets->count());
    EXPECT_EQ(0, form->probesWidgetContainer->count());
    EXPECT_FALSE(view->GetPipelineTimer()->isActive());
    // still paused: a device still selected keeps the run box in reach, and resuming shows it
    EXPECT_EQ(c.otherSelected, form->tabWidget->isTabEnabled(1));
    if (c.otherSelected)
    {
      form->m_RunImageTimer->click();
      EXPECT_EQ(other.GetPointer(), view->GetActiveDevice().GetPointer());
      EXPECT_TRUE(view->GetPipelineTimer()->isActive());
    }

    DestroyView();
    for (auto &d : devices)
      d->UnregisterOnService();
    devices.clear();
    StopPlugin();
    QSettings().clear();
  }
}

// A stream node that the user removes in the data manager is let go of.
// While the device streams, the next frame makes the output's node again;
// paused, the output stays without one (the device change that re-levels
// the first node finds none) until the view streams again.
TEST_F(UltrasoundSupport, AStreamNodeRemovedInTheDataManagerIsLetGoAndMadeAgainByTheNextFrame)
{
  StartPlugin(); // the device's changes reach the view
  MakeView();
  QvexaDataManagerView manager;
  manager.SetDataStorage(host.storage);
  manager.show();
  manager.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&manager));
  auto *list = manager.findChild<QListWidget *>("m_NodeList");
  const auto removeInTheDataManager = [&](const vexa::DataNode::Pointer &node) {
    ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return manager.GetItem(node) != nullptr; }));
    manager.SetSelectedNodes({node});
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_FALSE(host.storage->Exists(node));
  };

  USTestDevice::Pointer device = ActiveDevice(2);
  device->PushFrame(0, 64, 48, 7);
  device->PushFrame(1, 64, 48, 9);
  const auto streamed = [&](std::size_t i) {
    const vexa::DataNode::Pointer &node = view->GetStreamNodes()[i];
    return node && host.storage->Exists(node) && node->GetData() == device->GetOutput(i);
  };
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return streamed(0) && streamed(1); }));

  vexa::DataNode::Pointer removed = view->GetStreamNodes()[1];
  removeInTheDataManager(removed);
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return streamed(1) && view->GetStreamNodes()[1] != removed; }));
  EXPECT_EQ("US Viewing Stream - Image 1", Name(view->GetStreamNodes()[1]));
  EXPECT_EQ(2u, host.storage->GetNumberOfNodes());
  EXPECT_FALSE(host.storage->Exists(removed));
  EXPECT_EQ(1, removed->GetReferenceCount()) << "only this test holds the removed node";

  Pause();
  const std::size_t panels = Panels().size();
  removed = view->GetStreamNodes()[0];
  removeInTheDataManager(removed);
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return !view->GetStreamNodes()[0]; }));
  EXPECT_EQ(1, removed->GetReferenceCount()) << "only this test holds the removed node";
  device->UpdateServiceProperty(vexa::USDevice::GetPropertyKeys().US_PROPKEY_BMODE_DEPTH, us::Any(40.0));
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return view->GetLastWatchedValue() == 40.0; }));
  EXPECT_FALSE(view->GetStreamNodes()[0]);
  EXPECT_TRUE(streamed(1));
  EXPECT_EQ(1u, host.storage->GetNumberOfNodes());
  EXPECT_EQ(panels, Panels().size());
  EXPECT_TRUE(form->tabWidget->isTabEnabled(1));

  form->m_RunImageTimer->click();
  EXPECT_TRUE(QtApplication::ProcessEventsUntil([&] { return streamed(0) && streamed(1); }));
  EXPECT_EQ(2u, host.storage->GetNumberOfNodes());
  EXPECT_FALSE(host.storage->Exists(removed));
}

TEST_F(UltrasoundSupport, ADeviceActiveBeforeTheViewIsBuiltIsStreamedAtOnce)
{
  USTestDevice::Pointer device = ActiveDevice(1);
  MakeView();
  ASSERT_TRUE(
    QtApplication::ProcessEventsUntil([&] { return view->GetActiveDevice().GetPointer() == device.GetPointer(); }));
  EXPECT_TRUE(form->tabWidget->isTabEnabled(1));
  EXPECT_EQ(1u, view->GetStreamNodes().size());
  EXPECT_TRUE(view->GetPipelineTimer()->isActive());
}

TEST_F(UltrasoundSupport, TicksShowPlaceholdersThenFramesAndFitTheViewsOnlyWhenTheGeometryChanges)
{
  MakeView();
  USTestDevice::Pointer device = ActiveDevice(2);
  Pause();
  const std::vector<vexa::DataNode::Pointer> nodes = view->GetStreamNodes();

  // nothing arrived yet: fresh 32 x 32 placeholders, and the output takes the placeholder's geometry
  Tick();
  const vexa::BaseData *first = nodes[0]->GetData();
  for (const auto &node : nodes)
  {
    EXPECT_EQ("No Data received yet ...", Name(node));
    EXPECT_EQ(32u, Width(node->GetData()));
  }
  ASSERT_NE(nullptr, device->GetOutput(0)->GetGeometry(0));
  Tick();
  EXPECT_NE(first, nodes[0]->GetData().GetPointer()); // a new placeholder every tick
  const auto random = dynamic_cast<vexa::Image *>(nodes[1]->GetData().GetPointer());
  vexa::ImageReadAccessor access(random);
  const float *pixels = static_cast<const float *>(access.GetData());
  for (unsigned int i = 0; i < 32 * 32; ++i)
    ASSERT_TRUE(pixels[i] >= 0.0f && pixels[i] < 255.0f) << pixels[i];

  // the placeholders' own geometry (32 x 32 after the activation's 100 x 100) fitted the views once
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return window.fits >= 1; }));
  QtApplication::ProcessEventsFor(20ms);
  const int fitsBefore = window.fits;

  // the first frame of output 0: its node shows the output itself; the views are fitted once more
  device->PushFrame(0, 64, 48, 7);
  Tick();
  EXPECT_EQ("US Viewing Stream - Image 0", Name(nodes[0]));
  EXPECT_EQ(device->GetOutput(0), nodes[0]->GetData().GetPointer());
  EXPECT_EQ("No Data received yet ...", Name(nodes[1]));
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return window.fits > fitsBefore; }));
  const vexa::SlicedGeometry3D *seen = view->GetLastGeometry();
  ASSERT_NE(nullptr, seen);
  EXPECT_NE(device->GetOutput(0)->GetGeometry(0), seen); // a copy, not the device's own

  // same size again: no new fit; another size: one more
  for (int i = 0; i < 3; ++i)
  {
    device->PushFrame(0, 64, 48, 9);
    Tick();
  }
  QtApplication::ProcessEventsFor(30ms);
  EXPECT_EQ(fitsBefore + 1, window.fits);
  EXPECT_EQ(seen, view->GetLastGeometry());
  device->PushFrame(0, 80, 60, 9, 0.5, 0.5);
  Tick();
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return window.fits == fitsBefore + 2; }));

  // "Show US image" off: nodes keep what they had, the rate label still changes
  form->m_ShowImageStream->setChecked(false);
  form->m_FramerateLabel->clear();
  const vexa::BaseData *kept = nodes[1]->GetData();
  Tick();
  EXPECT_EQ(kept, nodes[1]->GetData().GetPointer());
  EXPECT_EQ(0, form->m_FramerateLabel->text().indexOf("Current Framerate: "));
  EXPECT_TRUE(form->m_FramerateLabel->text().endsWith(" FPS"));
}

TEST_F(UltrasoundSupport, TheRateLabelIsThePipelineRateCappedByTheEnabledRenderRates)
{
  MakeView();
  form->m_Update3DView->setChecked(false);
  USTestDevice::Pointer device = ActiveDevice(1);
  Pause(); // ticks driven by hand, at known intervals
  auto shown = [&] {
    const QString text = form->m_FramerateLabel->text();
    EXPECT_TRUE(text.startsWith("Current Framerate: ") && text.endsWith(" FPS")) << text.toStdString();
    return text.mid(19).section(' ', 0, 0).toInt();
  };
  // 2-D ticks at least 100 ms apart: at most 10 per second, whatever the pipeline does
  QMetaObject::invokeMethod(view, "RenderImage2d");
  std::this_thread::sleep_for(100ms);
  QMetaObject::invokeMethod(view, "RenderImage2d");
  Tick();
  Tick();
  EXPECT_GE(10, shown());
  EXPECT_LT(0, shown());
  // without the 2-D view the pipeline's own rate: two ticks in a row
  form->m_Update2DView->setChecked(false);
  Tick();
  Tick();
  EXPECT_LT(10, shown());
}

TEST_F(UltrasoundSupport, IntervalsFollowTheRatesInWholeMilliseconds)
{
  MakeView();
  ActiveDevice(1);
  EXPECT_EQ(20, view->GetPipelineTimer()->interval());
  EXPECT_EQ(50, view->GetRender2dTimer()->interval());
  EXPECT_EQ(200, view->GetRender3dTimer()->interval());
  const std::vector<std::pair<int, int>> cases = {{3, 333}, {500, 2}, {1, 1000}, {7, 142}};
  for (const auto &c : cases)
  {
    form->m_FrameRatePipeline->setValue(c.first);
    EXPECT_EQ(c.second, view->GetPipelineTimer()->interval()) << c.first;
    EXPECT_TRUE(view->GetPipelineTimer()->isActive());
  }
  form->m_FrameRate2d->setValue(3);
  form->m_FrameRate3d->setValue(100);
  EXPECT_EQ(333, view->GetRender2dTimer()->interval());
  EXPECT_EQ(10, view->GetRender3dTimer()->interval());
}

TEST_F(UltrasoundSupport, SettingsAreStoredWhenTheViewGoesAndReadBackByTheNext)
{
  MakeView();
  form->m_Update2DView->setChecked(false);
  form->m_ShowImageStream->setChecked(false);
  form->m_FrameRate3d->setValue(10);
  form->m_FrameRatePipeline->setValue(123);
  DestroyView();

  QSettings settings;
  settings.beginGroup("org.vexa.views.ultrasoundsupport");
  EXPECT_FALSE(settings.value("Update2DView").toBool());
  EXPECT_EQ(10, settings.value("UpdateRate3d").toInt());
  settings.endGroup();

  MakeView();
  EXPECT_FALSE(form->m_Update2DView->isChecked());
  EXPECT_TRUE(form->m_Update3DView->isChecked());
  EXPECT_FALSE(form->m_ShowImageStream->isChecked());
  EXPECT_TRUE(form->m_RunImageTimer->isChecked());
  EXPECT_EQ(10, form->m_FrameRate3d->value());
  EXPECT_EQ(123, form->m_FrameRatePipeline->value());
  EXPECT_EQ(20, form->m_FrameRate2d->value());
}

TEST_F(UltrasoundSupport, FreezeTogglesTheDeviceAndTheButtonFollowsTheDeviceAtActivation)
{
  MakeView();
  {
    vorlen::CapturingSink log;
    QMetaObject::invokeMethod(view, "OnClickedFreezeButton"); // no device
    EXPECT_TRUE(log.Contains("Freeze button clicked though no device is selected.", 1));
  }
  USTestDevice::Pointer device = ActiveDevice(1);
  QMetaObject::invokeMethod(view, "OnClickedFreezeButton");
  EXPECT_TRUE(device->GetIsFrozen());
  EXPECT_EQ("Start Viewing Again", form->m_FreezeButton->text().toStdString());
  QMetaObject::invokeMethod(view, "OnClickedFreezeButton");
  EXPECT_FALSE(device->GetIsFrozen());
  EXPECT_EQ("Freeze", form->m_FreezeButton->text().toStdString());

  // a device frozen elsewhere: the next activation shows it
  device->SetIsFrozen(true);
  form->m_ShowImageStream->click();
  EXPECT_EQ("Start Viewing Again", form->m_FreezeButton->text().toStdString());
  device->SetIsFrozen(false);
}

TEST_F(UltrasoundSupport, ADeviceThatThrowsStopsTheTimersAndTheViewGoesOn)
{
  MakeView();
  USTestDevice::Pointer device = ActiveDevice(1);
  ASSERT_TRUE(view->GetPipelineTimer()->isActive());
  vorlen::CapturingSink log;
  device->ThrowOnUpdate = true;
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return !view->GetPipelineTimer()->isActive(); }));
  EXPECT_FALSE(view->GetRender2dTimer()->isActive());
  EXPECT_TRUE(log.Contains("update failed on request", 2));
  EXPECT_TRUE(form->m_FramerateLabel->text().contains("timers are stopped"))
    << form->m_FramerateLabel->text().toStdString();

  // the user starts again once the device is well
  device->ThrowOnUpdate = false;
  device->PushFrame(0, 8, 8, 3);
  form->m_RunImageTimer->click(); // off
  form->m_RunImageTimer->click(); // on: a new activation
  EXPECT_TRUE(view->GetPipelineTimer()->isActive());
  ASSERT_TRUE(QtApplication::ProcessEventsUntil(
    [&] { return form->m_FramerateLabel->text().startsWith("Current Framerate: "); }));
}

TEST_F(UltrasoundSupport, ServiceEventsAreMatchedByTheDeviceServiceNotByItsNames)
{
  StartPlugin();
  MakeView();
  USTestDevice::Pointer device = ActiveDevice(1, "Probe A");
  Pause();
  EXPECT_TRUE(std::isnan(view->GetLastWatchedValue()));

  // the first change of the active device re-levels the first node from its image
  device->PushFrame(0, 32, 32, 200);
  Tick();
  const auto &keys = vexa::USDevice::GetPropertyKeys();
  device->UpdateServiceProperty(keys.US_PROPKEY_BMODE_DEPTH, us::Any(50.0));
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return view->GetLastWatchedValue() == 50.0; }));
  vexa::LevelWindow levelWindow;
  ASSERT_TRUE(view->GetStreamNodes()[0]->GetLevelWindow(levelWindow));

  // another device with the same manufacturer (and even the same name) is not the active one
  USTestDevice::Pointer other = USTestDevice::New(1, "Test Manufacturer", "Probe A", kTestClass);
  devices.push_back(other.GetPointer());
  ASSERT_TRUE(other->Initialize());
  other->UpdateServiceProperty(keys.US_PROPKEY_BMODE_DEPTH, us::Any(70.0));
  QtApplication::ProcessEventsFor(50ms);
  EXPECT_EQ(50.0, view->GetLastWatchedValue());

  // events of other types are ignored, also for the active device
  const ctkServiceReference active =
    context
      ->getServiceReferences("org.vexa.services.UltrasoundDevice",
                             QString("(%1=Probe A)").arg(QString::fromStdString(keys.US_PROPKEY_NAME)))
      .first();
  device->UpdateServiceProperty(keys.US_PROPKEY_BMODE_DEPTH, us::Any(60.0));
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return view->GetLastWatchedValue() == 60.0; }));
  QMetaObject::invokeMethod(view, "OnDeviceServiceEvent",
                            Q_ARG(ctkServiceEvent, ctkServiceEvent(ctkServiceEvent::REGISTERED, active)));
  QMetaObject::invokeMethod(view, "OnDeviceServiceEvent",
                            Q_ARG(ctkServiceEvent, ctkServiceEvent(ctkServiceEvent::UNREGISTERING, active)));
  EXPECT_EQ(60.0, view->GetLastWatchedValue());

  // the active device reported inactive: the timers stop
  form->m_RunImageTimer->click(); // on
  ASSERT_TRUE(view->GetPipelineTimer()->isActive());
  device->Deactivate();
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return !view->GetPipelineTimer()->isActive(); }));
}

TEST_F(UltrasoundSupport, TheCustomPanelIsACloneForTheDeviceAndItsServiceIsGivenBack)
{
  StartPlugin();
  TestPanel prototype;
  auto registration =
    us::GetModuleContext()->RegisterService<QvexaUSAbstractCustomWidget>(&prototype, prototype.GetServiceProperties());
  const ctkServiceReference panelService =
    context->getServiceReferences("org.vexa.QvexaUSAbstractCustomWidget").first();
  MakeView();
  TestPanel::clones = 0;
  USTestDevice::Pointer device = ActiveDevice(1);

  EXPECT_EQ((std::vector<std::string>{"B Mode Controls (disabled)", "Doppler Controls (disabled)", "Custom Controls"}),
            PageTitles());
  QPointer<QvexaUSAbstractCustomWidget> panel = view->GetCustomPanel();
  ASSERT_TRUE(panel);
  EXPECT_NE(&prototype, panel.data());
  EXPECT_EQ(device.GetPointer(), panel->GetDevice().GetPointer());
  EXPECT_EQ(2, form->m_ToolBoxControlWidgets->currentIndex()); // the first enabled page
  EXPECT_EQ(1, TestPanel::clones);

  // a rebuild gives the old copy and the service back before the new look-up
  form->m_ShowImageStream->click();
  EXPECT_TRUE(panel.isNull());
  EXPECT_EQ(2, TestPanel::clones);
  ASSERT_TRUE(view->GetCustomPanel());

  DestroyView();
  EXPECT_FALSE(context->ungetService(panelService)); // nothing held any more
  registration.Unregister();
}

TEST_F(UltrasoundSupport, ACustomPanelThatCannotBeHadIsADisabledEmptyPageDeletedOnRebuild)
{
  StartPlugin();
  // a service under the panel interface that is no panel
  QObject notAPanel;
  us::InterfaceMap interfaces;
  interfaces["org.vexa.QvexaUSAbstractCustomWidget"] = &notAPanel;
  us::ServiceProperties properties;
  properties[QvexaUSAbstractCustomWidget::US_DEVICE_PROPKEY_CLASS()] = std::string(kTestClass);
  auto registration = us::GetModuleContext()->RegisterService(interfaces, properties, &notAPanel);
  const ctkServiceReference service = context->getServiceReferences("org.vexa.QvexaUSAbstractCustomWidget").first();

  MakeView();
  vorlen::CapturingSink log;
  ActiveDevice(1);
  EXPECT_EQ((std::vector<std::string>{"B Mode Controls (disabled)", "Doppler Controls (disabled)",
                                      "Custom Controls (disabled)"}),
            PageTitles());
  EXPECT_EQ(nullptr, view->GetCustomPanel());
  EXPECT_FALSE(context->ungetService(service)); // given back at once
  QPointer<QWidget> emptyPage = form->m_ToolBoxControlWidgets->widget(2);
  form->m_ShowImageStream->click();
  EXPECT_TRUE(emptyPage.isNull());
  EXPECT_EQ(3, form->m_ToolBoxControlWidgets->count());
  registration.Unregister();
}

TEST_F(UltrasoundSupport, ARealVideoDeviceStreamsTheClipsFrames)
{
  vexa::test::TemporaryFolder folder;
  const std::string clip = folder.File("clip.avi");
  vexa::test::WriteNumberedVideo(clip, 10, 64, 48, 25.0);
  // Parmody's own panels, as the workbench starts them
  us::ModuleRegistry::StartAll();
  StartPlugin();
  MakeView();
  vexa::USVideoDevice::Pointer device = vexa::USVideoDevice::New(clip, "Clip", "Numbered");
  devices.push_back(device.GetPointer());
  ASSERT_TRUE(device->Initialize());
  ASSERT_TRUE(device->Connect());
  ASSERT_TRUE(device->Activate());
  ASSERT_TRUE(QtApplication::ProcessEventsUntil(
    [&] { return !view->GetStreamNodes().empty() && Width(view->GetStreamNodes()[0]->GetData()) == 64; }));
  EXPECT_EQ("US Viewing Stream - Image 0", Name(view->GetStreamNodes()[0]));
  const vexa::DataNode::Pointer node = view->GetStreamNodes()[0];
  EXPECT_EQ(64u, Width(node->GetData()));
  EXPECT_TRUE(host.storage->Exists(node));
  // the video device's own panel, a copy of Parmody's prototype, steers this device
  EXPECT_EQ((std::vector<std::string>{"B Mode Controls (disabled)", "Doppler Controls (disabled)", "Custom Controls"}),
            PageTitles());
  ASSERT_NE(nullptr, view->GetCustomPanel());
  EXPECT_EQ(vexa::USVideoDevice::GetDeviceClassStatic(), view->GetCustomPanel()->GetDeviceClass());
  EXPECT_EQ(device.GetPointer(), view->GetCustomPanel()->GetDevice().GetPointer());
  EXPECT_EQ(1, form->probesWidgetContainer->count());

  // frames move: the node's picture changes while the clip plays
  const std::vector<unsigned char> before = Pixels(node);
  EXPECT_TRUE(QtApplication::ProcessEventsUntil([&] { return Pixels(node) != before; }, 5s));

  DestroyView();
  device->UnregisterOnService();
  devices.clear();
  us::ModuleRegistry::StopAll(); // Parmody deletes its prototypes
}

TEST_F(UltrasoundSupport, DestructionTakesDownWhatTheViewBuiltAndDeactivatesTheListedDevices)
{
  StartPlugin();
  TestPanel prototype;
  auto registration =
    us::GetModuleContext()->RegisterService<QvexaUSAbstractCustomWidget>(&prototype, prototype.GetServiceProperties());
  const ctkServiceReference panelService =
    context->getServiceReferences("org.vexa.QvexaUSAbstractCustomWidget").first();

  // a view that was never built goes quietly
  {
    vorlen::CapturingSink log;
    vexa::DeleteUltrasoundSupportView(new QvexaUltrasoundSupport());
    vexa::DeleteUltrasoundSupportView(nullptr);
    EXPECT_TRUE(log.Texts(2).empty());
  }

  MakeView();
  USTestDevice::Pointer device = ActiveDevice(2);
  USTestDevice::Pointer second = ActiveDevice(1, "Second", false);
  ASSERT_TRUE(QtApplication::ProcessEventsUntil(
    [&] { return form->m_ActiveVideoDevices->GetAllServiceReferences().size() == 2; }));
  ASSERT_EQ(2u, host.storage->GetNumberOfNodes());
  QPointer<QvexaUSAbstractCustomWidget> panel = view->GetCustomPanel();
  ASSERT_TRUE(panel);
  device->Steps.Clear();
  DestroyView();

  EXPECT_EQ(0u, host.storage->GetNumberOfNodes());
  EXPECT_TRUE(panel.isNull());
  EXPECT_FALSE(context->ungetService(panelService));
  EXPECT_FALSE(device->GetIsConnected());
  EXPECT_FALSE(second->GetIsConnected());
  EXPECT_EQ((std::vector<std::string>{"OnDeactivation", "OnDisconnection"}), device->Steps.Calls());
  // devices going inactive after the view went reach no part of it
  QtApplication::ProcessEventsFor(50ms);
  registration.Unregister();
}

TEST_F(UltrasoundSupport, AfterThePlugInStoppedTheViewNeedsNoContext)
{
  StartPlugin();
  TestPanel prototype;
  auto registration =
    us::GetModuleContext()->RegisterService<QvexaUSAbstractCustomWidget>(&prototype, prototype.GetServiceProperties());
  MakeView();
  USTestDevice::Pointer device = ActiveDevice(1);
  ASSERT_TRUE(view->GetCustomPanel());
  StopPlugin();
  EXPECT_EQ(nullptr, vexa::Tirrick_Activator::GetContext());

  // a rebuild finds no panel (no context) and the view goes without touching one
  form->m_ShowImageStream->click();
  EXPECT_EQ(nullptr, view->GetCustomPanel());
  EXPECT_EQ(2, form->m_ToolBoxControlWidgets->count());
  vorlen::CapturingSink log;
  DestroyView();
  EXPECT_TRUE(log.Texts(2).empty());
  registration.Unregister();
}
