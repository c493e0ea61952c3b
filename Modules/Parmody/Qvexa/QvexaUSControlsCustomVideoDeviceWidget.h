#ifndef QvexaUSControlsCustomVideoDeviceWidget_h
#define QvexaUSControlsCustomVideoDeviceWidget_h

#include "QvexaUSAbstractCustomWidget.h"

#include <vexaUSImageVideoSource.h>
#include <vexaUSVideoDeviceCustomControls.h>

#include <string>

namespace Ui
{
  class QvexaUSControlsCustomVideoDeviceWidget;
}

/**
 * The custom panel of video devices ("org.vexa.modules.us.USVideoDevice"):
 * the crop of the device's pictures (pixels cut away at the top, bottom,
 * left and right), the probe and the imaging depth, all through the device's
 * vexa::USVideoDeviceCustomControls.
 *
 * A crop is always sent whole: when the panel loads one (a device is set, a
 * probe is chosen) the four boxes are filled silently and the crop goes to
 * the device once. A crop the device refuses with a vexa::Exception is
 * undone: device, probe and boxes go back to the last crop the device
 * accepted and the user is told. A side whose crop is larger than its box can
 * show keeps the device's value until the user changes that box. Clearing the
 * depth list (a probe without depths) sends no depth.
 *
 * Without video custom controls (no device, another kind of device) the crop
 * boxes are disabled and the lists stay empty. GUI thread only; a failure of
 * the device is logged and shown, never thrown on.
 */
class PARMODY_EXPORT QvexaUSControlsCustomVideoDeviceWidget : public QvexaUSAbstractCustomWidget
{
  Q_OBJECT

public:
  /** The prototype's constructor (no parent). */
  QvexaUSControlsCustomVideoDeviceWidget();
  explicit QvexaUSControlsCustomVideoDeviceWidget(QWidget *parent);
  ~QvexaUSControlsCustomVideoDeviceWidget() override;

  /**
   * Takes the device's video custom controls and fills the panel from them:
   * probes (the device's default probe shown and made current), its depths
   * (the first one sent), its crop (applied once). The last accepted crop
   * starts anew with every device. Does nothing visible before Initialize().
   */
  void OnDeviceSet() override;
  /** vexa::USVideoDevice::GetDeviceClassStatic(). */
  std::string GetDeviceClass() const override;
  QvexaUSAbstractCustomWidget *Clone(QWidget *parent = nullptr) const override;
  /** Builds the form and connects it; fills it when a device is set already. */
  void Initialize() override;

private slots:
  /** Sends the crop of the four boxes; a refused crop is undone (see the class comment). */
  void OnCropAreaChanged();
  /** Sends the depth shown (nothing when the list is empty). */
  void OnDepthChanged();
  /** Makes the probe shown current: its depths are listed, the first sent, its crop applied. */
  void OnProbeChanged();

private:
  using Cropping = vexa::USImageVideoSource::USImageCropping;

  void FillDepths(const std::string &probe);
  void SendShownDepth();
  /** Shows `crop` in the boxes without signals, then applies it to the device (undone when refused). */
  void ApplyCrop(const Cropping &crop);
  void ShowCrop(const Cropping &crop);
  Cropping CropOfTheBoxes() const;
  Cropping DeviceCrop() const;
  void EnableCropBoxes(bool enabled);

  Cropping m_CropArea; // the last crop the device accepted
  Ui::QvexaUSControlsCustomVideoDeviceWidget *m_Controls;
  bool m_FormBuilt = false;
  itk::SmartPointer<vexa::USVideoDeviceCustomControls> m_ControlInterface;
};

#endif
