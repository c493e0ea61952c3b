#include "QvexaUltrasoundSupport.h"

#include "ui_QvexaUltrasoundSupportControls.h"
#include "vexaTirrickActivator.h"

#include <QvexaUSAbstractCustomWidget.h>
#include <QvexaUSControlsBModeWidget.h>
#include <QvexaUSControlsDopplerWidget.h>
#include <QvexaUSControlsProbesWidget.h>

#include <ctkPluginContext.h>
#include <usServiceProperties.h>

#include <vexaImage.h>
#include <vexaImageGenerator.h>
#include <vexaLevelWindow.h>
#include <vexaLog.h>
#include <vexaRenderingManager.h>
#include <vexaSlotGuard.h>

#include <QSettings>
#include <QTimer>

#include <cmath>
#include <exception>
#include <limits>

const std::string QvexaUltrasoundSupport::VIEW_ID = "org.vexa.views.ultrasoundsupport";

namespace
{
  const char *const DEVICE_INTERFACE = "org.vexa.services.UltrasoundDevice";
  const char *const CUSTOM_PANEL_INTERFACE = "org.vexa.QvexaUSAbstractCustomWidget";
  const char *const NO_DATA_NAME = "No Data received yet ...";

  std::string StreamNodeName(unsigned int output) { return "US Viewing Stream - Image " + std::to_string(output); }

  vexa::Image::Pointer PlaceholderImage(unsigned int size)
  {
    return vexa::ImageGenerator::GenerateRandomImage<float>(size, size, 1, 1, 1, 1, 1, 255, 0);
  }

  /** An independent copy of a geometry as a sliced geometry; null when it is none. */
  vexa::SlicedGeometry3D::Pointer CopyOfGeometry(const vexa::BaseGeometry *geometry)
  {
    if (!dynamic_cast<const vexa::SlicedGeometry3D *>(geometry))
      return nullptr;
    vexa::BaseGeometry::Pointer copy = geometry->Clone();
    return dynamic_cast<vexa::SlicedGeometry3D *>(copy.GetPointer());
  }

  /** The context of the started plug-in, or null (also when the host has already invalidated it). */
  ctkPluginContext *PluginContext()
  {
    ctkPluginContext *context = vexa::Tirrick_Activator::GetContext();
    return context && context->isValid() ? context : nullptr;
  }

  unsigned int IntervalFor(int rate) { return rate > 0 ? static_cast<unsigned int>(1000 / rate) : 1000u; }
}

QvexaUltrasoundSupport::QvexaUltrasoundSupport() : m_LastWatchedValue(std::numeric_limits<double>::quiet_NaN())
{
  if (ctkPluginContext *context = PluginContext())
  {
    try
    {
      context->connectServiceListener(
        this, "OnDeviceServiceEvent",
        QString::fromStdString("(" + us::ServiceConstants::OBJECTCLASS() + "=" + DEVICE_INTERFACE + ")"));
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("UltrasoundSupport") << "The view will not follow device changes: " << e.what();
    }
  }
}

QvexaUltrasoundSupport::~QvexaUltrasoundSupport()
{
  m_Destroying = true;
  try
  {
    // nothing may call back into the view from here on
    if (ctkPluginContext *context = PluginContext())
      context->disconnectServiceListener(this, "OnDeviceServiceEvent");
    if (m_ObservedStorage)
      m_ObservedStorage->RemoveObserver(m_RemovalObserver);
    if (m_Form && m_FormParent)
    {
      SaveSettings();
      StopTimers();
      QObject::disconnect(m_Form->m_ActiveVideoDevices, nullptr, this, nullptr);
      ClearControlToolBox();
      RemoveStreamNodes();
      m_ActiveDevice = nullptr;
      for (vexa::USDevice *device : m_Form->m_ActiveVideoDevices->GetAllServiceObjects<vexa::USDevice>())
      {
        if (!device)
          continue;
        const vexa::USDevice::Pointer hold = device;
        if (hold->GetIsActive())
        {
          hold->Deactivate();
          hold->Disconnect();
        }
      }
    }
    else
    {
      ClearControlToolBox();
      RemoveStreamNodes();
    }
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR("UltrasoundSupport") << "Exception during call of destructor! Message: " << e.what();
  }
  catch (...)
  {
    VEXA_ERROR("UltrasoundSupport") << "Exception during call of destructor! Message: unknown";
  }
  m_ActiveDevice = nullptr;
  m_LastGeometry = nullptr;
  delete m_Form;
}

void QvexaUltrasoundSupport::CreateQtPartControl(QWidget *parent)
{
  if (!m_PipelineTimer)
  {
    m_PipelineTimer = new QTimer(this);
    m_Render2dTimer = new QTimer(this);
    m_Render3dTimer = new QTimer(this);
  }
  if (m_Form)
    return;

  m_Form = new Ui::UltrasoundSupportControls;
  m_Form->setupUi(parent);
  m_FormParent = parent;

  RestoreSettings();

  connect(m_Form->m_DeviceManagerWidget, SIGNAL(NewDeviceButtonClicked()), this, SLOT(OnClickedAddNewDevice()));
  connect(m_Form->m_DeviceManagerWidget, SIGNAL(NewDeviceButtonClicked()), m_Form->m_NewVideoDeviceWidget,
          SLOT(CreateNewDevice()));
  connect(m_Form->m_ActiveVideoDevices, SIGNAL(ServiceSelectionChanged(us::ServiceReferenceU)), this,
          SLOT(OnChangedActiveDevice()));
  connect(m_Form->m_RunImageTimer, SIGNAL(clicked()), this, SLOT(OnChangedActiveDevice()));
  connect(m_Form->m_ShowImageStream, SIGNAL(clicked()), this, SLOT(OnChangedActiveDevice()));
  connect(m_Form->m_NewVideoDeviceWidget, SIGNAL(Finished()), this, SLOT(OnNewDeviceWidgetDone()));
  connect(m_Form->m_FrameRatePipeline, SIGNAL(valueChanged(int)), this, SLOT(OnChangedFramerateLimit()));
  connect(m_Form->m_FrameRate2d, SIGNAL(valueChanged(int)), this, SLOT(OnChangedFramerateLimit()));
  connect(m_Form->m_FrameRate3d, SIGNAL(valueChanged(int)), this, SLOT(OnChangedFramerateLimit()));
  connect(m_Form->m_FreezeButton, SIGNAL(clicked()), this, SLOT(OnClickedFreezeButton()));
  connect(m_PipelineTimer, SIGNAL(timeout()), this, SLOT(UpdateImage()));
  connect(m_Render2dTimer, SIGNAL(timeout()), this, SLOT(RenderImage2d()));
  connect(m_Render3dTimer, SIGNAL(timeout()), this, SLOT(RenderImage3d()));
  connect(m_Form->m_Update2DView, SIGNAL(clicked()), this, SLOT(StartTimers()));
  connect(m_Form->m_Update3DView, SIGNAL(clicked()), this, SLOT(StartTimers()));
  connect(m_Form->m_DeviceManagerWidget, SIGNAL(EditDeviceButtonClicked(vexa::USDevice::Pointer)), this,
          SLOT(OnClickedEditDevice()));
  connect(m_Form->m_DeviceManagerWidget, SIGNAL(EditDeviceButtonClicked(vexa::USDevice::Pointer)),
          m_Form->m_NewVideoDeviceWidget, SLOT(EditDevice(vexa::USDevice::Pointer)));

  m_Form->m_NewVideoDeviceWidget->hide();
  // before the list is set up: a device active already is selected (and
  // activated here) as soon as the list shows it, and its tab must stay usable
  m_Form->tabWidget->setTabEnabled(1, false);

  const vexa::USDevice::PropertyKeys &keys = vexa::USDevice::GetPropertyKeys();
  m_Form->m_ActiveVideoDevices->InitializeForInterface<vexa::USDevice>(
    keys.US_PROPKEY_DISPLAYNAME,
    "(&(" + us::ServiceConstants::OBJECTCLASS() + "=" + DEVICE_INTERFACE + ")(" + keys.US_PROPKEY_ISACTIVE + "=true))");
  m_Form->m_ActiveVideoDevices->SetAutomaticallySelectFirstEntry(true);

  // the storage delivers its events on the GUI thread, with the node they are about
  m_ObservedStorage = GetDataStorage();
  if (m_ObservedStorage)
    m_RemovalObserver = m_ObservedStorage->AddObserver(vexa::DataStorage::RemoveNodeEvent(),
                                                       [this](const itk::EventObject &event) { OnNodeRemoved(event); });
}

// ------------------------------------------------------------ device handling

void QvexaUltrasoundSupport::OnClickedAddNewDevice()
{
  m_Form->m_NewVideoDeviceWidget->show();
  m_Form->m_DeviceManagerWidget->hide();
  m_Form->m_Headline->setText("Add New Video Device:");
  m_Form->m_WidgetActiveDevices->hide();
}

void QvexaUltrasoundSupport::OnClickedEditDevice()
{
  m_Form->m_NewVideoDeviceWidget->show();
  m_Form->m_DeviceManagerWidget->hide();
  m_Form->m_Headline->setText("Edit Video Device:");
  m_Form->m_WidgetActiveDevices->hide();
}

void QvexaUltrasoundSupport::OnNewDeviceWidgetDone()
{
  m_Form->m_NewVideoDeviceWidget->hide();
  m_Form->m_DeviceManagerWidget->show();
  m_Form->m_Headline->setText("Ultrasound Devices:");
  m_Form->m_WidgetActiveDevices->show();
}

void QvexaUltrasoundSupport::OnChangedActiveDevice()
{
  if (m_Destroying || !m_Form)
    return;
  vexa::RunGuarded(
    [this] {
      const bool run = m_Form->m_RunImageTimer->isChecked();
      StopTimers();
      if (run)
        ActivateSelectedDevice();
      else
        KeepWhatIsShown();
    },
    FailureReport{this, "Switching the active ultrasound device"});
}

void QvexaUltrasoundSupport::KeepWhatIsShown()
{
  // Paused: nodes, panels and the frame being looked at stay, whichever
  // device is selected now. Only a device that is gone takes them along.
  if (ShownDeviceIsGone())
    TakeDownShownDevice();
  // The run box lives on the "US Imaging" tab: while a device is shown or
  // selected the tab stays in reach, so that the user can resume.
  const bool selected = static_cast<bool>(m_Form->m_ActiveVideoDevices->GetSelectedServiceReference());
  m_Form->tabWidget->setTabEnabled(1, m_ActiveDevice || selected);
  // its rates and render boxes start the pipeline timer (and so new frames)
  // whatever the run box says: they wait until it is checked again
  m_Form->m_TimerWidget->setEnabled(false);
}

bool QvexaUltrasoundSupport::ShownDeviceIsGone() const
{
  // the device's own state, not the list's (which follows the registry a little later)
  return m_ActiveDevice && (!m_ActiveDeviceService || !m_ActiveDevice->GetIsActive());
}

void QvexaUltrasoundSupport::TakeDownShownDevice()
{
  StopTimers();
  ClearControlToolBox();
  RemoveStreamNodes();
  m_ActiveDevice = nullptr;
  m_ActiveDeviceService = us::ServiceReferenceU();
  m_LastWatchedValue = std::numeric_limits<double>::quiet_NaN();
}

void QvexaUltrasoundSupport::ActivateSelectedDevice()
{
  // Every activation tears down what the previous one built.
  TakeDownShownDevice();
  m_ActiveDevice = m_Form->m_ActiveVideoDevices->GetSelectedServiceObject<vexa::USDevice>();
  if (!m_ActiveDevice)
  {
    m_Form->tabWidget->setTabEnabled(1, false);
    return;
  }
  m_ActiveDeviceService = m_Form->m_ActiveVideoDevices->GetSelectedServiceReference();

  m_OutputCount = static_cast<std::uint32_t>(m_ActiveDevice->GetNumberOfIndexedOutputs());
  const bool show = m_Form->m_ShowImageStream->isChecked();
  vexa::DataStorage::Pointer storage = GetDataStorage();
  for (std::uint32_t i = 0; i < m_OutputCount; ++i)
  {
    vexa::DataNode::Pointer node = vexa::DataNode::New();
    node->SetName(StreamNodeName(i));
    vexa::Image::Pointer image = PlaceholderImage(100);
    node->SetData(image);
    m_LastGeometry = CopyOfGeometry(image->GetGeometry(0));
    m_StreamNodes.push_back(node);
    if (show && storage)
      storage->AddNode(node);
  }

  BuildControlToolBox();
  m_Form->tabWidget->setTabEnabled(1, true);
  m_Form->m_FreezeButton->setText(m_ActiveDevice->GetIsFrozen() ? "Start Viewing Again" : "Freeze");

  if (m_Form->m_RunImageTimer->isChecked())
  {
    SetTimerIntervals();
    StartTimers();
    m_Form->m_TimerWidget->setEnabled(true);
  }
  else
    m_Form->m_TimerWidget->setEnabled(false);
}

void QvexaUltrasoundSupport::RemoveStreamNodes()
{
  vexa::DataStorage::Pointer storage = GetDataStorage();
  for (const vexa::DataNode::Pointer &node : m_StreamNodes)
  {
    if (!node)
      continue;
    if (storage && storage->Exists(node))
      storage->RemoveNode(node);
    // the node lets go of its datum; the device's output itself stays as the device keeps it
    node->SetData(nullptr);
  }
  m_StreamNodes.clear();
  m_LastGeometry = nullptr;
}

void QvexaUltrasoundSupport::OnNodeRemoved(const itk::EventObject &event)
{
  if (m_Destroying)
    return;
  vexa::RunGuarded(
    [this, &event] {
      const auto *removal = dynamic_cast<const vexa::DataStorage::RemoveNodeEvent *>(&event);
      const vexa::DataNode *removed = removal ? removal->GetNode() : nullptr;
      if (!removed || m_ObservedStorage->Exists(removed))
        return;
      // Not kept, not filled and not added again: the next frame makes the
      // output a node of its own (the events of the view's own removals find no entry).
      for (vexa::DataNode::Pointer &node : m_StreamNodes)
        if (node == removed)
          node = nullptr;
    },
    FailureReport{this, "Following a removed node"});
}

void QvexaUltrasoundSupport::BuildControlToolBox()
{
  QToolBox *toolBox = m_Form->m_ToolBoxControlWidgets;
  // which pages are enabled, as set here: the tool box answers for its
  // buttons, which read as disabled while the tab around them is
  std::vector<bool> enabled;
  auto addPage = [&](QWidget *page, const char *title, bool on) {
    toolBox->addItem(page, QIcon(), title);
    toolBox->setItemEnabled(toolBox->count() - 1, on);
    enabled.push_back(on);
  };

  m_ProbesPanel = new QvexaUSControlsProbesWidget(m_ActiveDevice->GetProbesControlInterface(), toolBox);
  m_Form->probesWidgetContainer->addWidget(m_ProbesPanel, 0);

  vexa::USControlInterfaceBMode::Pointer bMode = m_ActiveDevice->GetBModeControlInterface();
  m_BModePanel = new QvexaUSControlsBModeWidget(bMode, toolBox);
  addPage(m_BModePanel, "B Mode Controls", bMode.IsNotNull());

  vexa::USControlInterfaceDoppler::Pointer doppler = m_ActiveDevice->GetDopplerControlInterface();
  m_DopplerPanel = new QvexaUSControlsDopplerWidget(doppler, toolBox);
  addPage(m_DopplerPanel, "Doppler Controls", doppler.IsNotNull());

  if (ctkPluginContext *context = PluginContext())
  {
    const QString filter = QString::fromStdString("(" + QvexaUSAbstractCustomWidget::US_DEVICE_PROPKEY_CLASS() + "=" +
                                                  m_ActiveDevice->GetDeviceClass() + ")");
    m_CustomPanelReferences = context->getServiceReferences(CUSTOM_PANEL_INTERFACE, filter);
    QvexaUSAbstractCustomWidget *prototype = nullptr;
    if (!m_CustomPanelReferences.isEmpty())
    {
      QObject *service = context->getService(m_CustomPanelReferences.first());
      m_HoldsCustomPanelService = service != nullptr;
      prototype = qobject_cast<QvexaUSAbstractCustomWidget *>(service);
      if (!prototype)
        VEXA_WARN("UltrasoundSupport") << "The custom control panel for " << m_ActiveDevice->GetDeviceClass()
                                       << " could not be had; its page stays empty.";
    }
    if (prototype)
    {
      m_CustomPanel = prototype->CloneForQt(m_Form->tab2);
      m_CustomPanel->SetDevice(m_ActiveDevice);
      addPage(m_CustomPanel, "Custom Controls", true);
    }
    else
    {
      m_EmptyCustomPage = new QWidget(toolBox);
      addPage(m_EmptyCustomPage, "Custom Controls", false);
      if (m_HoldsCustomPanelService)
      {
        context->ungetService(m_CustomPanelReferences.first());
        m_HoldsCustomPanelService = false;
      }
    }
  }

  for (int i = 0; i < static_cast<int>(enabled.size()); ++i)
    if (enabled[i])
    {
      toolBox->setCurrentIndex(i);
      break;
    }
}

void QvexaUltrasoundSupport::ClearControlToolBox()
{
  // tolerant of a tool box built only in part (a build that failed half-way)
  if (m_Form && m_FormParent)
  {
    QToolBox *toolBox = m_Form->m_ToolBoxControlWidgets;
    while (toolBox->count() > 0)
      toolBox->removeItem(0);
    if (m_ProbesPanel)
      m_Form->probesWidgetContainer->removeWidget(m_ProbesPanel);
  }
  delete m_ProbesPanel;
  delete m_BModePanel;
  delete m_DopplerPanel;
  delete m_EmptyCustomPage;
  m_ProbesPanel = nullptr;
  m_BModePanel = nullptr;
  m_DopplerPanel = nullptr;
  m_EmptyCustomPage = nullptr;

  delete m_CustomPanel;
  m_CustomPanel = nullptr;
  if (m_HoldsCustomPanelService)
  {
    m_HoldsCustomPanelService = false;
    if (ctkPluginContext *context = PluginContext())
      if (!m_CustomPanelReferences.isEmpty())
        context->ungetService(m_CustomPanelReferences.first());
  }
  m_CustomPanelReferences.clear();
}

void QvexaUltrasoundSupport::OnDeviceServiceEvent(ctkServiceEvent event)
{
  if (m_Destroying)
    return;
  vexa::RunGuarded([this, &event] { HandleServiceEvent(event); }, FailureReport{this, "Following a device change"});
}

void QvexaUltrasoundSupport::HandleServiceEvent(const ctkServiceEvent &event)
{
  if (!m_ActiveDevice || !m_Form || !m_FormParent)
    return;
  const ctkServiceReference reference = event.getServiceReference();
  // the active device's own service, not another one that shares its names
  if (reference.GetUsReference() != m_ActiveDeviceService)
    return;
  // Paused, the shown device need not be the selected one, so no selection
  // change follows when it goes: its nodes and panels are taken down here.
  if (!m_Form->m_RunImageTimer->isChecked() && ShownDeviceIsGone())
  {
    KeepWhatIsShown();
    return;
  }
  if (event.getType() != ctkServiceEvent::MODIFIED)
    return;

  if (!m_ActiveDevice->GetIsActive() && m_PipelineTimer && m_PipelineTimer->isActive())
    StopTimers();

  const QVariant property =
    reference.getProperty(QString::fromStdString(vexa::USDevice::GetPropertyKeys().US_PROPKEY_BMODE_DEPTH));
  bool isNumber = false;
  double value = property.toDouble(&isNumber);
  if (!isNumber)
    value = std::numeric_limits<double>::quiet_NaN();
  if (value == m_LastWatchedValue) // NaN differs from everything
    return;
  m_LastWatchedValue = value;
  if (m_StreamNodes.empty())
    return;

  vexa::DataNode *node = m_StreamNodes.front();
  if (!node) // removed from the storage, made again by the next frame
    return;
  vexa::LevelWindow levelWindow(127.5, 255.0);
  node->GetLevelWindow(levelWindow);
  if (auto *image = dynamic_cast<vexa::Image *>(node->GetData().GetPointer()))
    levelWindow.SetAuto(image, true, true);
  node->SetLevelWindow(levelWindow);
}

void QvexaUltrasoundSupport::OnClickedFreezeButton()
{
  vexa::RunGuarded(
    [this] {
      if (!m_ActiveDevice)
      {
        VEXA_WARN("UltrasoundSupport") << "Freeze button clicked though no device is selected.";
        return;
      }
      if (m_ActiveDevice->GetIsFrozen())
      {
        m_ActiveDevice->SetIsFrozen(false);
        m_Form->m_FreezeButton->setText("Freeze");
      }
      else
      {
        m_ActiveDevice->SetIsFrozen(true);
        m_Form->m_FreezeButton->setText("Start Viewing Again");
      }
    },
    FailureReport{this, "Freezing the ultrasound device"});
}

// ------------------------------------------------------------ streaming

void QvexaUltrasoundSupport::UpdateImage()
{
  if (!m_ActiveDevice || m_Destroying)
    return;
  vexa::RunGuarded([this] { UpdateImageNow(); }, FailureReport{this, "Updating the ultrasound device"});
}

void QvexaUltrasoundSupport::UpdateImageNow()
{
  m_ActiveDevice->Modified();
  m_ActiveDevice->Update();

  if (m_Form->m_ShowImageStream->isChecked())
  {
    // the count is fixed while the device is active; a device that went
    // inactive meanwhile may have fewer outputs
    const std::size_t outputs =
      std::min<std::size_t>({m_OutputCount, m_StreamNodes.size(), m_ActiveDevice->GetNumberOfIndexedOutputs()});
    vexa::DataStorage::Pointer storage = GetDataStorage();
    for (std::size_t i = 0; i < outputs; ++i)
    {
      vexa::Image::Pointer output = m_ActiveDevice->GetOutput(i);
      if (!output)
        continue;
      // a node removed from the storage since the last frame: the output gets a new one
      const bool remade = !m_StreamNodes[i];
      if (remade)
        m_StreamNodes[i] = vexa::DataNode::New();
      vexa::DataNode *node = m_StreamNodes[i];
      if (output->IsEmpty())
      {
        if (node->GetName() != NO_DATA_NAME)
          node->SetName(NO_DATA_NAME);
        vexa::Image::Pointer placeholder = PlaceholderImage(32);
        node->SetData(placeholder);
        output->SetGeometry(placeholder->GetGeometry(0));
      }
      else
      {
        const std::string name = StreamNodeName(static_cast<unsigned int>(i));
        if (node->GetName() != name)
          node->SetName(name);
        if (node->GetData() != output.GetPointer())
          node->SetData(output);
        node->Modified();
      }
      if (remade && storage)
        storage->AddNode(node); // named and filled first, as the storage's observers see it

      const vexa::BaseGeometry *geometry = output->GetGeometry(0);
      if (i == 0 && m_LastGeometry && geometry && !vexa::Equal(*geometry, *m_LastGeometry, 0.0001, false))
      {
        vexa::IRenderWindowPart *part = GetRenderWindowPart();
        const vexa::TimeGeometry *timeGeometry = output->GetTimeGeometry();
        if (part && timeGeometry && timeGeometry->IsValid())
        {
          part->GetRenderingManager()->FitViewsToGeometry(geometry, vexa::RenderingManager::REQUEST_UPDATE_ALL, true);
          part->GetRenderingManager()->RequestUpdateAll(vexa::RenderingManager::REQUEST_UPDATE_ALL);
        }
        m_LastGeometry = CopyOfGeometry(geometry);
      }
    }
  }

  if (!m_PipelineClock.isValid())
    m_PipelineClock.start();
  const qint64 elapsed = m_PipelineClock.nsecsElapsed();
  m_PipelineClock.restart();
  if (elapsed > 0)
    m_PipelineFps = static_cast<int>(1.0e9 / static_cast<double>(elapsed));

  int shown = m_PipelineFps;
  if (m_Form->m_Update2DView->isChecked())
    shown = std::min(shown, m_Render2dFps);
  if (m_Form->m_Update3DView->isChecked())
    shown = std::min(shown, m_Render3dFps);
  m_Form->m_FramerateLabel->setText("Current Framerate: " + QString::number(shown) + " FPS");
}

namespace
{
  // One render tick: the rate is the inverse of the time since the last tick.
  int RenderRate(QElapsedTimer &clock, int previous)
  {
    if (!clock.isValid())
    {
      clock.start();
      return previous;
    }
    const qint64 elapsed = clock.nsecsElapsed();
    clock.restart();
    return elapsed > 0 ? static_cast<int>(1.0e9f / static_cast<float>(elapsed)) : previous;
  }
}

void QvexaUltrasoundSupport::RenderImage2d()
{
  if (!m_ActiveDevice || m_Destroying || !m_Form->m_Update2DView->isChecked())
    return;
  vexa::RunGuarded(
    [this] {
      RequestRenderWindowUpdate(vexa::RenderingManager::REQUEST_UPDATE_2DWINDOWS);
      m_Render2dFps = RenderRate(m_Render2dClock, m_Render2dFps);
    },
    FailureReport{this, "Redrawing the 2-D views"});
}

void QvexaUltrasoundSupport::RenderImage3d()
{
  if (!m_ActiveDevice || m_Destroying || !m_Form->m_Update3DView->isChecked())
    return;
  vexa::RunGuarded(
    [this] {
      RequestRenderWindowUpdate(vexa::RenderingManager::REQUEST_UPDATE_3DWINDOWS);
      m_Render3dFps = RenderRate(m_Render3dClock, m_Render3dFps);
    },
    FailureReport{this, "Redrawing the 3-D views"});
}

void QvexaUltrasoundSupport::StartTimers()
{
  if (!m_ActiveDevice || !m_Form || m_Destroying)
    return;
  // the clocks run before the first tick, so the first rate is a real one
  m_PipelineClock.start();
  m_Render2dClock.start();
  m_Render3dClock.start();
  m_PipelineTimer->start();
  if (m_Form->m_Update2DView->isChecked())
    m_Render2dTimer->start();
  if (m_Form->m_Update3DView->isChecked())
    m_Render3dTimer->start();
}

void QvexaUltrasoundSupport::StopTimers()
{
  if (!m_PipelineTimer)
    return;
  m_PipelineTimer->stop();
  m_Render2dTimer->stop();
  m_Render3dTimer->stop();
}

void QvexaUltrasoundSupport::SetTimerIntervals()
{
  m_PipelineTimer->setInterval(IntervalFor(m_Form->m_FrameRatePipeline->value()));
  m_Render2dTimer->setInterval(IntervalFor(m_Form->m_FrameRate2d->value()));
  m_Render3dTimer->setInterval(IntervalFor(m_Form->m_FrameRate3d->value()));
}

void QvexaUltrasoundSupport::OnChangedFramerateLimit()
{
  if (!m_PipelineTimer || m_Destroying)
    return;
  StopTimers();
  SetTimerIntervals();
  StartTimers();
}

void QvexaUltrasoundSupport::FailureReport::operator()(const vexa::GuardedFailure &failure) const
{
  view->ReportFailure(what, failure);
}

void QvexaUltrasoundSupport::ReportFailure(const char *what, const vexa::GuardedFailure &failure)
{
  const std::string message = failure.standard ? failure.what : "unknown error";
  VEXA_ERROR("UltrasoundSupport") << what << " failed: " << message;
  StopTimers();
  if (m_Form && m_FormParent)
    m_Form->m_FramerateLabel->setText(
      QString("%1 failed: %2. The timers are stopped.").arg(what, QString::fromStdString(message)));
}

// ------------------------------------------------------------ settings

void QvexaUltrasoundSupport::RestoreSettings()
{
  QSettings settings;
  settings.beginGroup(QString::fromStdString(VIEW_ID));
  m_Form->m_ShowImageStream->setChecked(settings.value("DisplayImage", true).toBool());
  m_Form->m_RunImageTimer->setChecked(settings.value("RunImageTimer", true).toBool());
  m_Form->m_Update2DView->setChecked(settings.value("Update2DView", true).toBool());
  m_Form->m_Update3DView->setChecked(settings.value("Update3DView", true).toBool());
  m_Form->m_FrameRatePipeline->setValue(settings.value("UpdateRatePipeline", 50).toInt());
  m_Form->m_FrameRate2d->setValue(settings.value("UpdateRate2d", 20).toInt());
  m_Form->m_FrameRate3d->setValue(settings.value("UpdateRate3d", 5).toInt());
  settings.endGroup();
}

void QvexaUltrasoundSupport::SaveSettings()
{
  QSettings settings;
  settings.beginGroup(QString::fromStdString(VIEW_ID));
  settings.setValue("DisplayImage", m_Form->m_ShowImageStream->isChecked());
  settings.setValue("RunImageTimer", m_Form->m_RunImageTimer->isChecked());
  settings.setValue("Update2DView", m_Form->m_Update2DView->isChecked());
  settings.setValue("Update3DView", m_Form->m_Update3DView->isChecked());
  settings.setValue("UpdateRatePipeline", m_Form->m_FrameRatePipeline->value());
  settings.setValue("UpdateRate2d", m_Form->m_FrameRate2d->value());
  settings.setValue("UpdateRate3d", m_Form->m_FrameRate3d->value());
  settings.endGroup();
}
