#ifndef QvexaUSAbstractCustomWidget_h
#define QvexaUSAbstractCustomWidget_h

#include "ParmodyExports.h"

#include <vexaUSDevice.h>

#include <usServiceInterface.h>
#include <usServiceProperties.h>

#include <QWidget>

#include <string>

/**
 * Base of the control panels that belong to one class of ultrasound device
 * (the video device's crop and probe panel, the DiPhAS panel).
 *
 * The library registers one prototype of each panel as a service under
 * "org.vexa.QvexaUSAbstractCustomWidget", with the device class it serves as
 * the property US_DEVICE_PROPKEY_CLASS(). A consumer finds the prototype for
 * its device's class, asks it for a copy under its own parent widget
 * (CloneForQt), gives the copy the device (SetDevice) and shows the copy.
 *
 * Only copies made by CloneForQt may be shown. Showing anything else (the
 * prototype itself, a panel made with its constructor or by Clone alone)
 * writes an error record and the panel hides itself again as soon as the
 * event loop runs, before it is drawn; nothing is thrown.
 *
 * GUI thread only, except US_DEVICE_PROPKEY_CLASS().
 */
class PARMODY_EXPORT QvexaUSAbstractCustomWidget : public QWidget
{
  Q_OBJECT

public:
  explicit QvexaUSAbstractCustomWidget(QWidget *parent = nullptr);
  ~QvexaUSAbstractCustomWidget() override;

  /** Called by SetDevice after a device (not null) was stored: fetch its control interface, fill the controls. */
  virtual void OnDeviceSet() = 0;
  /** The class of the devices this panel serves (as vexa::USDevice::GetDeviceClass answers it). */
  virtual std::string GetDeviceClass() const = 0;
  /** A new panel of the same class under `parent`, given this panel's device (SetDevice(GetDevice())). */
  virtual QvexaUSAbstractCustomWidget *Clone(QWidget *parent = nullptr) const = 0;
  /** Builds the panel's form on the panel itself and makes its connections. */
  virtual void Initialize() = 0;

  /**
   * The copy to show: Clone(parent), then Initialize() on the copy, which is
   * marked as made for showing. The copy belongs to `parent` (or to the
   * caller when there is none); this panel is unchanged.
   */
  QvexaUSAbstractCustomWidget *CloneForQt(QWidget *parent = nullptr) const;

  /** Stores `device` in place of the previous one (released); calls OnDeviceSet() unless it is null. */
  void SetDevice(vexa::USDevice::Pointer device);
  vexa::USDevice::Pointer GetDevice() const;

  /** The registration properties: exactly US_DEVICE_PROPKEY_CLASS() = GetDeviceClass() (a std::string). */
  us::ServiceProperties GetServiceProperties() const;

  /** "org.vexa.services.UltrasoundCustomWidget.deviceClass"; any thread. */
  static std::string US_DEVICE_PROPKEY_CLASS();

protected:
  void showEvent(QShowEvent *event) override;

private:
  vexa::USDevice::Pointer m_Device;
  bool m_IsClonedForQt;
};

US_DECLARE_SERVICE_INTERFACE(QvexaUSAbstractCustomWidget, "org.vexa.QvexaUSAbstractCustomWidget")

#endif
