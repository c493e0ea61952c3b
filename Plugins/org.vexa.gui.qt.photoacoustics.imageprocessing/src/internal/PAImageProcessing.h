#ifndef PAImageProcessing_h
#define PAImageProcessing_h

#include "PAImageProcessingThreads.h"
#include "ui_PAImageProcessingControls.h"

#include <QvexaAbstractView.h>

#include <vexaBeamformingSettings.h>
#include <vexaPhotoacousticFilterService.h>
#include <vexaQtEventBridge.h>
#include <vexaSlotGuard.h>

#include <QList>
#include <QPointer>

#include <string>
#include <vector>

/**
 * The workbench view "PA Image Processing": B-mode, bandpass, crop and
 * beamforming of the selected image, each run on a worker thread that adds
 * its result to the data storage as a new node, and batch processing of
 * NRRD files into a folder.
 *
 * GUI thread only. The image processed is always the first node of the data
 * manager's selection that holds an image; its worker gets a deep copy of
 * it. One run at a time: while a worker or a batch runs, the controls stay
 * locked and the start slots refuse. A worker's failure is shown in a
 * message box and unlocks the controls. The view reports running work to
 * the workbench, and its destructor waits for its workers (busy cursor), so
 * no worker outlives it.
 */
class PAImageProcessing : public QvexaAbstractView
{
  Q_OBJECT

public:
  static const std::string VIEW_ID;

  PAImageProcessing();
  ~PAImageProcessing() override;

  bool HasRunningWork() const override;

  /** The beamforming settings the controls describe for `image`. */
  itk::SmartPointer<vexa::BeamformingSettings> CreateBeamformingSettings(vexa::Image::Pointer image);

  /** The form (null before CreateQtPartControl). */
  Ui::PAImageProcessingControls *GetControls() { return m_PartCreated ? &m_Form : nullptr; }
  double GetDepthSpacing() const { return m_DepthSpacing; }
  bool GetLogCompression() const { return m_LogCompression; }

  void LockControls();
  void UnlockControls();

public slots:
  void UpperSliceBoundChanged();
  void LowerSliceBoundChanged();
  void SliceBoundsEnabled();
  void UseResampling();
  void UseLogfilter();
  void SetResampling();
  void UseImageSpacing();
  void UpdateImageInfo();
  void UseSignalDelay();
  void StartBeamformingThread();
  void StartBmodeThread();
  void StartCropThread();
  void HandleResults(vexa::Image::Pointer image, std::string nameExtension);
  void StartBandpassThread();
  void UpdateProgress(int progress, std::string progressInfo);
  void PAMessageBox(std::string message);
  void BatchProcessing();
  void UpdateSaveBoxes();
  void ChangedSOSBandpass();
  void ChangedSOSBeamforming();
  /** A worker failed: the message in a box, the controls unlocked. */
  void HandleFailure(std::string message);

protected:
  void CreateQtPartControl(QWidget *parent) override;
  void OnNodeSelectionChanged(wick::WorkbenchPart *source, const QList<vexa::DataNode::Pointer> &nodes) override;
  void SetViewFocus() override;

private:
  /** The Apply buttons and warnings as the current selection asks (after a run). */
  void FollowSelection();
  /** The first node of `nodes` that holds an initialised image, or null. */
  static vexa::DataNode::Pointer FirstImageNode(const QList<vexa::DataNode::Pointer> &nodes);
  /** Time between samples (s) for an image of n_y rows and y spacing s_y, as the controls say. */
  float TimeSpacing(unsigned int ny, double sy);
  /**
   * The node and its image for a start slot; null (and `m_SourceName` kept)
   * when nothing can start: no selection, no image, or a run in progress.
   */
  vexa::Image::Pointer TakeImageForRun(const char *missingText, const char *leadText);
  /**
   * Results, failures (and progress) of the worker to the view, handed over
   * through the view's event bridge; the result is named after the source
   * the worker was started on.
   */
  template <class Worker>
  void ConnectWorker(Worker *worker);
  /** Starts the worker, which is tracked until it ends. */
  void Launch(QThread *worker);
  /**
   * The reporter of a start slot's guard: logs what starting `what` threw,
   * unlocks the controls unless a run is in progress, and shows "<what> could
   * not start: <description>".
   */
  void ReportStartFailure(const char *what, const vexa::GuardedFailure &failure);
  /** The controls a run locks, in one list for LockControls and UnlockControls. */
  std::vector<QWidget *> LockedControls() const;
  /** The B-mode method `BModeMethod` names, by its text (the list order is not the service's numbering). */
  vexa::PhotoacousticFilterService::BModeMethod BModeMethodFromForm() const;
  /** The bandpass the form describes, with the time spacing and speed of sound of `settings`. */
  PAImageProcessingSteps::BandpassValues BandpassFromForm(const vexa::BeamformingSettings &settings) const;
  void RunBatch(const QStringList &files, const QString &folder);
  bool ProcessBatchFile(const QString &path,
                        const QString &folder,
                        const QStringList &inputs,
                        const bool (&steps)[4],
                        const bool (&saves)[4]);
  void WaitForWorkers();

  Ui::PAImageProcessingControls m_Form;
  bool m_PartCreated = false;
  float m_DepthSpacing = 0;
  bool m_LogCompression = false;
  std::string m_SourceName;
  vexa::PhotoacousticFilterService::Pointer m_FilterService;

  bool m_RunInProgress = false;
  bool m_BatchRunning = false;
  QList<QPointer<QThread>> m_Workers;
  /** Carries the workers' signals to the GUI thread; closed, with their calls dropped, when the view goes. */
  vexa::QtEventBridge m_Bridge;
};

#endif
