#ifndef QvexaUSDeviceManagerWidget_h
#define QvexaUSDeviceManagerWidget_h

#include "ParmodyExports.h"

#include <vexaUSDevice.h>

#include <usServiceListener.h>
#include <usServiceReference.h>

#include <QMetaType>
#include <QWidget>

#include <string>

namespace Ui
{
  class QvexaUSDeviceManagerWidgetControls;
}

// Signals and slots carry devices by smart pointer (also across threads).
Q_DECLARE_METATYPE(vexa::USDevice::Pointer)

/**
 * The list of every ultrasound device registered as a service under
 * "org.vexa.services.UltrasoundDevice", with buttons to activate or
 * deactivate the selected device, to remove it (any class of device), and to
 * ask the host for the form that creates a new video device or edits the
 * selected one (signals NewDeviceButtonClicked, EditDeviceButtonClicked).
 * The buttons follow the selected device's service properties:
 *
 *   selection                   Activate       Remove    Edit
 *   none                        disabled       disabled  disabled
 *   video device, inactive      "Activate"     enabled   enabled
 *   video device, active        "Deactivate"   enabled   disabled
 *   other device, inactive      "Activate"     enabled   disabled
 *   other device, active        "Deactivate"   enabled   disabled
 *
 * A device counts as active unless its is-active property reads exactly
 * "false".
 *
 * GUI thread only. The slots hold the selected device (a reference and one
 * use of its service) for their whole run and give both back on every path.
 * Activation blocks while the device connects (an OpenIGTLink client gives
 * up after Ostrel's connect time-out) with the wait cursor shown; a failure
 * is shown in a message box. No exception leaves a slot: it is logged and
 * shown, and the widget keeps working.
 */
class PARMODY_EXPORT QvexaUSDeviceManagerWidget : public QWidget
{
  Q_OBJECT

public:
  static const std::string VIEW_ID;

  explicit QvexaUSDeviceManagerWidget(QWidget *parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
  ~QvexaUSDeviceManagerWidget() override;

  /**
   * Builds the form on `parent` and connects it (the first call only), then
   * sets the list up for the device services, on every call.
   */
  virtual void CreateQtPartControl(QWidget *parent);
  /** Connects the buttons and the list to the slots; nothing before the form exists. */
  virtual void CreateConnections();
  /** Disconnects every registered ultrasound device; a device that fails is logged and the rest go on. */
  virtual void DisconnectAllDevices();

signals:
  void NewDeviceButtonClicked();
  void EditDeviceButtonClicked(vexa::USDevice::Pointer);
  void DeviceActivated();

protected slots:
  /** Deactivates and disconnects an active device; connects and activates an inactive one. */
  void OnClickedActivateDevice();
  /** Disconnects a connected device, connects one that is not (no button is tied to it). */
  void OnClickedDisconnectDevice();
  /** Deactivates, disconnects and withdraws the selected device's service. */
  void OnClickedRemoveDevice();
  void OnClickedNewDevice();
  void OnClickedEditDevice();
  /** Sets the buttons from the properties of the service now selected (invalid: nothing selected). */
  void OnDeviceSelectionChanged(us::ServiceReferenceU reference);

private:
  Ui::QvexaUSDeviceManagerWidgetControls *m_Controls;
  us::ListenerToken m_Listener; // MODIFIED events of the devices, taken to the GUI thread
};

#endif
