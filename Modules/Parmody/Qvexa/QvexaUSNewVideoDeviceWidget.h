#ifndef QvexaUSNewVideoDeviceWidget_h
#define QvexaUSNewVideoDeviceWidget_h

#include "ParmodyExports.h"

#include <vexaUSDevice.h>
#include <vexaUSDeviceReaderXML.h>
#include <vexaUSProbe.h>
#include <vexaUSVideoDevice.h>

#include <QString>
#include <QWidget>

#include <string>
#include <vector>

class QListWidgetItem;

namespace Ui
{
  class QvexaUSNewVideoDeviceWidgetControls;
}

/**
 * The form that creates an ultrasound device (a video device on a camera or
 * a file, or an OpenIGTLink client or server) or edits an existing video
 * device, with an editor for the probes of a video device (names, scanning
 * depths, x/y spacing per depth, one cropping per probe), and that saves its
 * contents to a device configuration file or fills itself from one.
 *
 * The host calls CreateNewDevice() or EditDevice(device) before it shows the
 * form and goes back to its device list on Finished(), which comes once after
 * a device was created, after an edit was applied, and after Cancel. The done
 * button is tied to exactly one of creating and applying at a time, so one
 * click makes one device.
 *
 * The probe list holds the probes in the order of the entries of the probe
 * combo box (an entry's index is its probe's index); while a device is
 * edited these are the device's own probe objects, which the editor changes
 * in place. Showing a probe or a depth fills the spin boxes without writing
 * anything back: a stored value outside a spin box's range stays as stored.
 * Depth texts are split at commas; parts that are not whole numbers of 0 or
 * more are ignored with a warning.
 *
 * A device's source (camera index or file, or an OpenIGTLink peer) is fixed
 * once the device is made: while a device is edited, the source choices show
 * that device's source, cannot be changed, and a line under them says so;
 * loading a configuration then leaves them as they are. While creating, the
 * fields of the checked source only are open, and a loaded configuration
 * that names a file chooses that file as the source.
 *
 * GUI thread only. No exception leaves a slot: failures are logged and shown
 * in a message box, and the form stays as it was (a device that could not
 * be made is dropped; an edit that failed half-way keeps what was applied).
 * Texts go to the devices and files as UTF-8.
 */
class PARMODY_EXPORT QvexaUSNewVideoDeviceWidget : public QWidget
{
  Q_OBJECT

public:
  static const std::string VIEW_ID;

  explicit QvexaUSNewVideoDeviceWidget(QWidget *parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
  ~QvexaUSNewVideoDeviceWidget() override;

  /** Builds the form on `parent` and connects it, unless the form exists (it always does once constructed). */
  virtual void CreateQtPartControl(QWidget *parent);
  /** Connects the form's widgets to the slots (the done button excepted); nothing before the form exists. */
  virtual void CreateConnections();

signals:
  void Finished();

public slots:
  /**
   * Prepares the form for editing a video device: its probes, names, comment
   * and video options, its source shown and fixed, the done button reading
   * "Apply Changes". A device of another class is refused (error record and
   * message box), changing nothing; a null device is ignored with a warning.
   */
  void EditDevice(vexa::USDevice::Pointer device);
  /**
   * Prepares the form for creating a device: default names, no probes, the
   * source choices open, the done button reading "Add Video Device".
   */
  void CreateNewDevice();

protected slots:
  /** Creates the device the radio buttons choose, registers it as a service and emits Finished(). */
  void OnClickedDone();
  /** Applies names, comment, probes, colour and resolution to the edited device and emits Finished(). */
  void OnClickedFinishedEditing();
  void OnClickedCancel();
  /** Enables the source fields of the checked radio button only; while the source is fixed, none. */
  void OnDeviceTypeSelection();
  void OnOpenFileButtonClicked();
  void OnClickedRemoveProbe();
  void OnClickedRemoveDepth();
  void OnClickedAddDepths();
  /** Shows the depths of the probe of that name and the first depth's values. */
  void OnProbeChanged(const QString &probename);
  /** Shows the spacing at `depth` and the cropping of `probe` (writing nothing back). */
  void OnDepthChanged(int depth, vexa::USProbe::Pointer probe);
  void OnDepthChanged(const QString &depth);
  void OnSaveButtonClicked();
  /**
   * Fills the form from a configuration file the user chooses. While
   * creating, a record naming a file checks "From File:"; one without a
   * path keeps the checked source. While editing, the camera index and the
   * file path are not taken: the edited device's source stays shown.
   */
  void OnLoadConfigurationButtonClicked();
  void OnAddNewProbeClicked();
  void OnXSpacingSpinBoxChanged(double value);
  void OnYSpacingSpinBoxChanged(double value);
  void OnCroppingTopSpinBoxChanged(int value);
  void OnCroppingRightSpinBoxChanged(int value);
  void OnCroppingBottomSpinBoxChanged(int value);
  void OnCroppingLeftSpinBoxChanged(int value);

protected:
  /** Replaces the device's probes by the probe list; a probe without depths gets depth 0 first. */
  void AddProbesToDevice(vexa::USVideoDevice::Pointer device);
  void ChangeUIEditingUSVideoDevice();
  /** The first probe of the probe list named exactly `name`, or null. */
  vexa::USProbe::Pointer CheckIfProbeExistsAlready(const std::string &name);
  void CleanUpAfterCreatingNewDevice();
  void CleanUpAfterEditingOfDevice();
  void CollectUltrasoundVideoDeviceConfigInformation(vexa::USDeviceReaderXML::USVideoDeviceConfigData_ &config);
  /** A new list item (the caller owns it) reading "<manufacturer>|<name>". */
  QListWidgetItem *ConstructItemFromDevice(vexa::USDevice::Pointer device);
  void EnableDisableSpacingAndCropping(bool enable);

private:
  /** Empties the probe and depth boxes and the probe list together, keeping entry and probe indices in step. */
  void ClearProbes();
  /** Gives the device the probe list, or the one probe "default" (depth 0) when the list is empty. */
  void GiveProbes(vexa::USVideoDevice *device);
  /** Gives the video device the colour and resolution of the form; false (logged, shown) without a video source. */
  bool ApplyVideoOptions(vexa::USVideoDevice *device);
  /** The probe named by the probe box's current text (null when none). */
  vexa::USProbe::Pointer CurrentProbe();
  /** The depth named by the depth box's current text (0 when none). */
  int CurrentDepth() const;
  /**
   * Fixes the source choices (all closed, the line that says why shown) or
   * opens them again as the checked radio button has them.
   */
  void SetSourceFixed(bool fixed);

  Ui::QvexaUSNewVideoDeviceWidgetControls *m_Controls;
  vexa::USDevice::Pointer m_TargetDevice;
  std::vector<vexa::USProbe::Pointer> m_ConfigProbes;
  bool m_SourceFixed = false;
};

#endif
