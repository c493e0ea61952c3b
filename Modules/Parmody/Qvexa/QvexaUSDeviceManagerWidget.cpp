#include "QvexaUSDeviceManagerWidget.h"

#include "QvexaUSPanelWarning.h"
#include "ui_QvexaUSDeviceManagerWidget.h"

#include <vexaQtEventBridge.h>
#include <vexaLog.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>
#include <usServiceEvent.h>

#include <QApplication>
#include <QMessageBox>

#include <exception>

const std::string QvexaUSDeviceManagerWidget::VIEW_ID = "org.vexa.views.QvexaUSDeviceManagerWidget";

namespace
{
  const QString kTitle = QStringLiteral("Ultrasound Devices");
  const std::string kVideoDeviceClass = "org.vexa.modules.us.USVideoDevice";

  /**
   * The device selected in the list, held for one slot: a reference to the
   * object and one use of its service, given back when this goes, also when
   * the slot ends by an exception or the service was withdrawn meanwhile.
   */
  class SelectedDevice
  {
  public:
    explicit SelectedDevice(QvexaServiceListWidget *list)
      : m_Context(us::GetModuleContext()), m_Reference(list->GetSelectedServiceReference())
    {
      if (!m_Reference)
        return;
      if (vexa::USDevice *device = m_Context->GetService(m_Reference))
      {
        m_InUse = true;
        m_Device = device;
      }
    }
    ~SelectedDevice()
    {
      if (!m_InUse)
        return;
      try
      {
        m_Context->UngetService(m_Reference);
      }
      catch (const std::exception &e) // the module is being unloaded
      {
        VEXA_WARN << "Could not give back the ultrasound device service: " << e.what();
      }
    }
    SelectedDevice(const SelectedDevice &) = delete;
    SelectedDevice &operator=(const SelectedDevice &) = delete;

    vexa::USDevice *operator->() const { return m_Device.GetPointer(); }
    vexa::USDevice::Pointer Get() const { return m_Device; }
    explicit operator bool() const { return m_Device.IsNotNull(); }

  private:
    us::ModuleContext *const m_Context;
    const us::ServiceReference<vexa::USDevice> m_Reference;
    bool m_InUse = false;
    vexa::USDevice::Pointer m_Device;
  };

  /** The wait cursor while a device connects; the previous cursor comes back on every way out. */
  class WaitCursor
  {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
  };
}

QvexaUSDeviceManagerWidget::QvexaUSDeviceManagerWidget(QWidget *parent, Qt::WindowFlags f)
  : QWidget(parent, f), m_Controls(nullptr)
{
  qRegisterMetaType<vexa::USDevice::Pointer>("vexa::USDevice::Pointer");
  QvexaUSDeviceManagerWidget::CreateQtPartControl(this);
}

QvexaUSDeviceManagerWidget::~QvexaUSDeviceManagerWidget()
{
  if (m_Listener)
  {
    try
    {
      us::GetModuleContext()->RemoveServiceListener(m_Listener);
    }
    catch (const std::exception &e)
    {
      VEXA_WARN << "Could not remove the device listener: " << e.what();
    }
  }
  delete m_Controls;
  m_Controls = nullptr;
}

void QvexaUSDeviceManagerWidget::CreateQtPartControl(QWidget *parent)
{
  if (!m_Controls)
  {
    m_Controls = new Ui::QvexaUSDeviceManagerWidgetControls;
    m_Controls->setupUi(parent);
    this->CreateConnections();
    m_Controls->m_ConnectedDevices->SetAutomaticallySelectFirstEntry(true);

    // The list says nothing when the selected device's properties change, yet a
    // device may deactivate itself (a server that went away): follow those changes
    // so that the buttons never offer what the device no longer is.
    const vexa::USDevice::PropertyKeys &keys = vexa::USDevice::GetPropertyKeys();
    m_Listener = us::GetModuleContext()->AddServiceListener(
      vexa::MakeQueuedServiceListener(this,
                                      [this](const us::ServiceEvent &event) {
                                        if (event.GetType() != us::ServiceEvent::MODIFIED || !m_Controls)
                                          return;
                                        const us::ServiceReferenceU selected =
                                          m_Controls->m_ConnectedDevices->GetSelectedServiceReference();
                                        if (selected && selected == event.GetServiceReference())
                                          OnDeviceSelectionChanged(selected);
                                      }),
      "(objectclass=" + keys.US_INTERFACE_NAME + ")");
  }
  const vexa::USDevice::PropertyKeys &keys = vexa::USDevice::GetPropertyKeys();
  m_Controls->m_ConnectedDevices->SetInterfaceName(keys.US_INTERFACE_NAME);
  m_Controls->m_ConnectedDevices->InitPrivate(keys.US_PROPKEY_DISPLAYNAME, "");
}

void QvexaUSDeviceManagerWidget::CreateConnections()
{
  if (!m_Controls)
    return;
  connect(m_Controls->m_BtnActivate, SIGNAL(clicked()), this, SLOT(OnClickedActivateDevice()));
  connect(m_Controls->m_BtnRemove, SIGNAL(clicked()), this, SLOT(OnClickedRemoveDevice()));
  connect(m_Controls->m_BtnNewDevice, SIGNAL(clicked()), this, SLOT(OnClickedNewDevice()));
  connect(m_Controls->m_ConnectedDevices, SIGNAL(ServiceSelectionChanged(us::ServiceReferenceU)), this,
          SLOT(OnDeviceSelectionChanged(us::ServiceReferenceU)));
  connect(m_Controls->m_BtnEdit, SIGNAL(clicked()), this, SLOT(OnClickedEditDevice()));
}

void QvexaUSDeviceManagerWidget::DisconnectAllDevices()
{
  us::ModuleContext *context = us::GetModuleContext();
  for (const us::ServiceReference<vexa::USDevice> &reference : context->GetServiceReferences<vexa::USDevice>(""))
  {
    vexa::USDevice *device = context->GetService(reference);
    if (!device)
      continue; // withdrawn meanwhile
    try
    {
      vexa::USDevice::Pointer held = device;
      held->Disconnect();
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR << "Could not disconnect an ultrasound device: " << e.what();
    }
    context->UngetService(reference);
  }
  VEXA_INFO << "Disconnected ALL US devises!";
}

void QvexaUSDeviceManagerWidget::OnClickedActivateDevice()
{
  vexa::RunGuarded(
    [this] {
      SelectedDevice device(m_Controls->m_ConnectedDevices);
      if (!device)
        return;
      if (device->GetIsActive())
      {
        device->Deactivate();
        device->Disconnect();
      }
      else
      {
        {
          WaitCursor wait;
          if (device->GetDeviceState() < vexa::USDevice::State_Connected)
            device->Connect();
          if (device->GetIsConnected())
            device->Activate();
        }
        if (device->GetIsActive())
          emit DeviceActivated();
        else
          QMessageBox::warning(this, "Activation failed", "Could not activate device. Check logging for details.",
                               QMessageBox::Ok);
      }
    },
    vexa::parmody::WarningBox(this, kTitle, "activate the device"));
  // also after a failure: the buttons show what the device is now
  OnDeviceSelectionChanged(m_Controls->m_ConnectedDevices->GetSelectedServiceReference());
}

void QvexaUSDeviceManagerWidget::OnClickedDisconnectDevice()
{
  vexa::RunGuarded(
    [this] {
      SelectedDevice device(m_Controls->m_ConnectedDevices);
      if (!device)
        return;
      if (device->GetIsConnected())
        device->Disconnect();
      else
      {
        bool connected = false;
        {
          WaitCursor wait;
          connected = device->Connect();
        }
        if (!connected)
          QMessageBox::warning(this, "Connecting failed", "Could not connect to device. Check logging for details.",
                               QMessageBox::Ok);
      }
    },
    vexa::parmody::WarningBox(this, kTitle, "connect or disconnect the device"));
}

void QvexaUSDeviceManagerWidget::OnClickedRemoveDevice()
{
  vexa::RunGuarded(
    [this] {
      SelectedDevice device(m_Controls->m_ConnectedDevices);
      if (!device)
        return;
      if (device->GetIsActive())
        device->Deactivate();
      if (device->GetIsConnected())
        device->Disconnect();
      device->UnregisterOnService();
    },
    vexa::parmody::WarningBox(this, kTitle, "remove the device"));
}

void QvexaUSDeviceManagerWidget::OnClickedNewDevice() { emit NewDeviceButtonClicked(); }

void QvexaUSDeviceManagerWidget::OnClickedEditDevice()
{
  vexa::USDevice::Pointer selected;
  vexa::RunGuarded([&] { selected = SelectedDevice(m_Controls->m_ConnectedDevices).Get(); },
                   vexa::parmody::WarningBox(this, kTitle, "find the device to edit"));
  emit EditDeviceButtonClicked(selected);
}

void QvexaUSDeviceManagerWidget::OnDeviceSelectionChanged(us::ServiceReferenceU reference)
{
  if (!reference)
  {
    m_Controls->m_BtnActivate->setEnabled(false);
    m_Controls->m_BtnRemove->setEnabled(false);
    m_Controls->m_BtnEdit->setEnabled(false);
    return;
  }
  const vexa::USDevice::PropertyKeys &keys = vexa::USDevice::GetPropertyKeys();
  const bool inactive = reference.GetProperty(keys.US_PROPKEY_ISACTIVE).ToString() == "false";
  const bool video = reference.GetProperty(keys.US_PROPKEY_DEVICECLASS).ToString() == kVideoDeviceClass;
  m_Controls->m_BtnActivate->setEnabled(true);
  m_Controls->m_BtnActivate->setText(inactive ? "Activate" : "Deactivate");
  m_Controls->m_BtnRemove->setEnabled(true);
  m_Controls->m_BtnEdit->setEnabled(video && inactive);
}
