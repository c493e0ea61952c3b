#ifndef QvexaUltrasoundSupport_h
#define QvexaUltrasoundSupport_h

#include <QvexaAbstractView.h>

#include <ctkServiceEvent.h>
#include <ctkServiceReference.h>

#include <vexaDataNode.h>
#include <vexaDataStorage.h>
#include <vexaSlicedGeometry3D.h>
#include <vexaUSDevice.h>

#include <usServiceReference.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QList>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QTimer;
class QWidget;
class QvexaUSAbstractCustomWidget;
class QvexaUSControlsBModeWidget;
class QvexaUSControlsDopplerWidget;
class QvexaUSControlsProbesWidget;

namespace Ui
{
  class UltrasoundSupportControls;
}
namespace vexa
{
  struct GuardedFailure;
}

/**
 * The "Ultrasound Support" view: Parmody's device list and new-device form
 * on the "Device Management" tab, the list of active devices below them,
 * and for the active device selected there one data node per image output
 * and its control panels on the "US Imaging" tab.
 *
 * While a device is active three timers run (each limited by its spin box):
 * the pipeline timer updates the device and puts every output into its node,
 * the 2-D and 3-D timers ask the workbench to redraw. The check boxes and
 * rates are kept in the settings group VIEW_ID.
 *
 * Every selection change and every click of "Update Image Data
 * Automatically" or "Show US image in VEXA" stops the timers; with the run
 * box checked it then rebuilds nodes and panels for the selected device.
 * With it unchecked the view is paused (the rate controls wait): nodes,
 * panels and the frame shown stay, until the device they belong to is
 * deactivated or withdrawn, which takes them down (noticed by the selection
 * change or, when another device is selected, by the device's service
 * event).
 *
 * A stream node removed from the data storage by someone else (the user, in
 * the data manager) is let go of when its remove event arrives: while the
 * device streams, the next frame makes the output's node again and adds it
 * to the storage; paused, the output has no node until then (or until the
 * next activation rebuilds them all).
 *
 * GUI thread only: the constructor, the slots, the service listener (the
 * plug-in context delivers on the GUI thread) and the destructor. No
 * exception leaves a slot or tick: it is logged, the timers stop and the
 * frame-rate label tells the user; the workbench goes on.
 *
 * The plug-in context is taken from the activator each time it is needed
 * and never kept; once the plug-in has stopped the view looks up no panel
 * and gives back none.
 */
class QvexaUltrasoundSupport : public QvexaAbstractView
{
  Q_OBJECT

public:
  static const std::string VIEW_ID;

  QvexaUltrasoundSupport();
  ~QvexaUltrasoundSupport() override;

  // Read access for tests and for the workbench's tools.
  Ui::UltrasoundSupportControls *GetControls() const { return m_Form; }
  vexa::USDevice::Pointer GetActiveDevice() const { return m_ActiveDevice; }
  /** One entry per output; null from the removal of its node from the storage until the next frame. */
  const std::vector<vexa::DataNode::Pointer> &GetStreamNodes() const { return m_StreamNodes; }
  QTimer *GetPipelineTimer() const { return m_PipelineTimer; }
  QTimer *GetRender2dTimer() const { return m_Render2dTimer; }
  QTimer *GetRender3dTimer() const { return m_Render3dTimer; }
  QvexaUSAbstractCustomWidget *GetCustomPanel() const { return m_CustomPanel; }
  double GetLastWatchedValue() const { return m_LastWatchedValue; }
  const vexa::SlicedGeometry3D *GetLastGeometry() const { return m_LastGeometry; }

public slots:
  void OnNewDeviceWidgetDone();

protected slots:
  void OnClickedAddNewDevice();
  void OnChangedFramerateLimit();
  void OnClickedEditDevice();
  void OnChangedActiveDevice();
  void OnClickedFreezeButton();
  void OnDeviceServiceEvent(ctkServiceEvent event);
  void UpdateImage();
  void RenderImage2d();
  void RenderImage3d();
  void StartTimers();
  void StopTimers();

protected:
  void CreateQtPartControl(QWidget *parent) override;

  void BuildControlToolBox();
  void ClearControlToolBox();
  void RestoreSettings();
  void SaveSettings();

private:
  void ActivateSelectedDevice();
  /** Paused: keeps what is shown unless its device is gone, and keeps the run box in reach. */
  void KeepWhatIsShown();
  /** Whether the device whose nodes and panels are shown is no longer active or registered. */
  bool ShownDeviceIsGone() const;
  /** Stops the timers and removes the panels and nodes of the shown device; none is shown then. */
  void TakeDownShownDevice();
  void RemoveStreamNodes();
  /** A node left the data storage: a stream node among them is let go of. */
  void OnNodeRemoved(const itk::EventObject &event);
  void HandleServiceEvent(const ctkServiceEvent &event);
  void UpdateImageNow();
  void SetTimerIntervals();
  /** Logs a failure of `what`, stops the timers and shows it in the frame-rate label. */
  void ReportFailure(const char *what, const vexa::GuardedFailure &failure);
  /** The reporter that the view's slots and ticks hand to vexa::RunGuarded: ReportFailure. */
  struct FailureReport
  {
    QvexaUltrasoundSupport *view;
    const char *what;
    void operator()(const vexa::GuardedFailure &failure) const;
  };

  Ui::UltrasoundSupportControls *m_Form = nullptr;
  // the widget the form is built on; the form's widgets are gone once it is
  QPointer<QWidget> m_FormParent;
  QvexaUSAbstractCustomWidget *m_CustomPanel = nullptr;
  QvexaUSControlsBModeWidget *m_BModePanel = nullptr;
  QvexaUSControlsDopplerWidget *m_DopplerPanel = nullptr;
  QvexaUSControlsProbesWidget *m_ProbesPanel = nullptr;
  // the disabled page that stands for a missing custom panel; deleted with the tool box's pages
  QWidget *m_EmptyCustomPage = nullptr;
  std::uint32_t m_OutputCount = 0;
  vexa::USDevice::Pointer m_ActiveDevice;
  // the active device's service, to match service events by identity
  us::ServiceReferenceU m_ActiveDeviceService;

  QTimer *m_PipelineTimer = nullptr;
  QTimer *m_Render2dTimer = nullptr;
  QTimer *m_Render3dTimer = nullptr;
  QElapsedTimer m_PipelineClock;
  QElapsedTimer m_Render2dClock;
  QElapsedTimer m_Render3dClock;
  int m_PipelineFps = 0;
  int m_Render2dFps = 0;
  int m_Render3dFps = 0;

  std::vector<vexa::DataNode::Pointer> m_StreamNodes;
  // the data storage whose remove events the view follows once its form exists, and the observer's tag
  vexa::DataStorage::Pointer m_ObservedStorage;
  unsigned long m_RemovalObserver = 0;
  // a copy of the geometry output 0 had last (the device's own changes in place)
  vexa::SlicedGeometry3D::Pointer m_LastGeometry;
  QList<ctkServiceReference> m_CustomPanelReferences;
  // whether the custom panel service of the first reference is held (to be given back)
  bool m_HoldsCustomPanelService = false;
  double m_LastWatchedValue;
  bool m_Destroying = false;
};

#endif
