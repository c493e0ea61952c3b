#include "PAImageProcessing.h"

#include <vexaIOUtil.h>
#include <vexaImage.h>
#include <vexaLevelWindow.h>
#include <vexaLog.h>
#include <vexaRenderingManager.h>

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <sstream>

const std::string PAImageProcessing::VIEW_ID = "org.vexa.views.paimageprocessing";

namespace
{
  // The batch's file base name: the last piece of the path split at "/",
  // without its last five characters (".nrrd") when it has more than that.
  QString BatchBaseName(const QString &path)
  {
    const std::string text = path.toUtf8().toStdString();
    const std::size_t slash = text.rfind('/');
    std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    if (last.size() >= 5)
      last = last.substr(0, last.size() - 5);
    return QString::fromUtf8(last.c_str());
  }

  bool PositiveFinite(double value) { return std::isfinite(value) && value > 0; }

  // A modal message box without parent, as the batch and the slots show them.
  void ShowMessage(const QString &text)
  {
    QMessageBox box;
    box.setText(text);
    box.exec();
  }
}

PAImageProcessing::PAImageProcessing() : m_FilterService(vexa::PhotoacousticFilterService::New()), m_Bridge(this)
{
  qRegisterMetaType<vexa::Image::Pointer>("vexa::Image::Pointer");
  qRegisterMetaType<std::string>("std::string");
}

PAImageProcessing::~PAImageProcessing()
{
  // The workbench waits for HasRunningWork to turn false; a view destroyed
  // some other way still lets no worker outlive it. What they still send is dropped.
  m_Bridge.Close();
  WaitForWorkers();
}

void PAImageProcessing::WaitForWorkers()
{
  bool busyCursor = false;
  for (const QPointer<QThread> &worker : m_Workers)
    if (worker && worker->isRunning())
    {
      if (!busyCursor && qobject_cast<QApplication *>(QCoreApplication::instance()))
      {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        busyCursor = true;
      }
      worker->wait();
    }
  if (busyCursor)
    QApplication::restoreOverrideCursor();
}

bool PAImageProcessing::HasRunningWork() const
{
  if (m_BatchRunning)
    return true;
  for (const QPointer<QThread> &worker : m_Workers)
    if (worker && worker->isRunning())
      return true;
  return false;
}

void PAImageProcessing::SetViewFocus()
{
  if (m_PartCreated)
    m_Form.buttonApplyBModeFilter->setFocus(Qt::OtherFocusReason);
}

void PAImageProcessing::CreateQtPartControl(QWidget *parent)
{
  m_Form.setupUi(parent);
  m_PartCreated = true;

  connect(m_Form.buttonApplyBModeFilter, SIGNAL(clicked()), this, SLOT(StartBmodeThread()));
  connect(m_Form.DoResampling, SIGNAL(clicked()), this, SLOT(UseResampling()));
  connect(m_Form.Logfilter, SIGNAL(clicked()), this, SLOT(UseLogfilter()));
  connect(m_Form.ResamplingValue, SIGNAL(valueChanged(double)), this, SLOT(SetResampling()));
  connect(m_Form.buttonApplyBeamforming, SIGNAL(clicked()), this, SLOT(StartBeamformingThread()));
  connect(m_Form.buttonApplyCropFilter, SIGNAL(clicked()), this, SLOT(StartCropThread()));
  connect(m_Form.buttonApplyBandpass, SIGNAL(clicked()), this, SLOT(StartBandpassThread()));
  connect(m_Form.UseImageSpacing, SIGNAL(clicked()), this, SLOT(UseImageSpacing()));
  connect(m_Form.ScanDepth, SIGNAL(valueChanged(double)), this, SLOT(UpdateImageInfo()));
  connect(m_Form.SpeedOfSound, SIGNAL(valueChanged(double)), this, SLOT(UpdateImageInfo()));
  connect(m_Form.SpeedOfSound, SIGNAL(valueChanged(double)), this, SLOT(ChangedSOSBeamforming()));
  connect(m_Form.BPSpeedOfSound, SIGNAL(valueChanged(double)), this, SLOT(ChangedSOSBandpass()));
  connect(m_Form.Samples, SIGNAL(valueChanged(int)), this, SLOT(UpdateImageInfo()));
  connect(m_Form.UseImageSpacing, SIGNAL(clicked()), this, SLOT(UpdateImageInfo()));
  connect(m_Form.boundLow, SIGNAL(valueChanged(int)), this, SLOT(LowerSliceBoundChanged()));
  connect(m_Form.boundHigh, SIGNAL(valueChanged(int)), this, SLOT(UpperSliceBoundChanged()));
  connect(m_Form.Partial, SIGNAL(clicked()), this, SLOT(SliceBoundsEnabled()));
  connect(m_Form.BatchProcessing, SIGNAL(clicked()), this, SLOT(BatchProcessing()));
  connect(m_Form.StepBeamforming, SIGNAL(clicked()), this, SLOT(UpdateSaveBoxes()));
  connect(m_Form.StepCropping, SIGNAL(clicked()), this, SLOT(UpdateSaveBoxes()));
  connect(m_Form.StepBandpass, SIGNAL(clicked()), this, SLOT(UpdateSaveBoxes()));
  connect(m_Form.StepBMode, SIGNAL(clicked()), this, SLOT(UpdateSaveBoxes()));
  connect(m_Form.UseSignalDelay, SIGNAL(clicked()), this, SLOT(UseSignalDelay()));
  connect(m_Form.IsBFImage, SIGNAL(clicked()), this, SLOT(UpdateImageInfo()));

  // start states that hold over the form's
  UpdateSaveBoxes();
  m_Form.SignalDelay->setEnabled(m_Form.UseSignalDelay->isChecked());
  m_Form.DoResampling->setChecked(false);
  m_Form.ResamplingValue->setEnabled(false);
  m_Form.progressBar->setMinimum(0);
  m_Form.progressBar->setMaximum(100);
  m_Form.progressBar->setVisible(false);
  m_Form.UseImageSpacing->setToolTip("Image spacing of y-Axis must be in us, x-Axis in mm.");
  m_Form.UseImageSpacing->setToolTipDuration(5000);
  m_Form.ProgressInfo->setVisible(false);
  m_Form.UseGPUBmode->hide();
  m_Form.ScanDepth->setEnabled(!m_Form.UseImageSpacing->isChecked());
}

vexa::DataNode::Pointer PAImageProcessing::FirstImageNode(const QList<vexa::DataNode::Pointer> &nodes)
{
  // an image without pixels yet (a device's output before its first frame) has no sizes to process
  for (const vexa::DataNode::Pointer &node : nodes)
    if (const auto *image = node ? dynamic_cast<vexa::Image *>(node->GetData().GetPointer()) : nullptr)
      if (image->IsInitialized())
        return node;
  return nullptr;
}

void PAImageProcessing::FollowSelection()
{
  // the selection may have changed while the controls were locked
  OnNodeSelectionChanged(nullptr, GetDataManagerSelection());
}

void PAImageProcessing::OnNodeSelectionChanged(wick::WorkbenchPart *, const QList<vexa::DataNode::Pointer> &nodes)
{
  if (!m_PartCreated)
    return;
  const bool image = FirstImageNode(nodes).IsNotNull();
  m_Form.labelWarning->setVisible(!image);
  m_Form.labelWarning2->setVisible(!image);
  m_Form.labelWarning3->setVisible(!image);
  m_Form.labelWarning4->setVisible(!image);
  // a run in progress keeps its buttons locked until it ends
  const bool enable = image && !m_RunInProgress && !m_BatchRunning;
  m_Form.buttonApplyBModeFilter->setEnabled(enable);
  m_Form.buttonApplyCropFilter->setEnabled(enable);
  m_Form.buttonApplyBandpass->setEnabled(enable);
  m_Form.buttonApplyBeamforming->setEnabled(enable);
  if (image)
    UpdateImageInfo();
}

float PAImageProcessing::TimeSpacing(unsigned int ny, double sy)
{
  const float speedOfSound = static_cast<float>(m_Form.SpeedOfSound->value());
  if (m_Form.UseImageSpacing->isChecked())
  {
    VEXA_INFO << "Calculated Scan Depth of " << (ny * sy / 1000000 * speedOfSound * 100 * 0.5) << "cm";
    return static_cast<float>(sy / 1000000);
  }
  return static_cast<float>(m_Form.ScanDepth->value() * 2 / 1000 / speedOfSound / ny);
}

void PAImageProcessing::UpdateImageInfo()
{
  if (!m_PartCreated)
    return;
  const vexa::DataNode::Pointer node = FirstImageNode(GetDataManagerSelection());
  if (!node)
    return;
  const auto *image = static_cast<vexa::Image *>(node->GetData().GetPointer());
  const unsigned int nx = image->GetDimension(0);
  const unsigned int ny = image->GetDimension(1);
  const unsigned int nz = image->GetDimension(2);
  const vexa::Vector3D spacing = image->GetGeometry()->GetSpacing();

  if (m_Form.UseImageSpacing->isChecked())
  {
    m_Form.ElementCount->setValue(static_cast<int>(nx));
    m_Form.Pitch->setValue(spacing[0]);
  }
  const int lastSlice = nz > 0 ? static_cast<int>(nz) - 1 : 0;
  m_Form.boundLow->setMaximum(lastSlice);
  m_Form.boundHigh->setMaximum(lastSlice);

  const float speedOfSound = static_cast<float>(m_Form.SpeedOfSound->value());
  const float timeSpacing = TimeSpacing(ny, spacing[1]);
  const double stepSeconds = m_Form.IsBFImage->isChecked() ? spacing[1] / 1000 / speedOfSound : timeSpacing;
  if (!PositiveFinite(stepSeconds))
  {
    VEXA_WARN << "The time between samples (" << stepSeconds
              << " s) is not positive: the bandpass limits stay as they are.";
    return;
  }
  // the highest frequency the samples carry: the Nyquist frequency
  const float limit = static_cast<float>(0.5 / stepSeconds);
  const double limitMHz = limit / 1e6;
  m_Form.BPhigh->setMaximum(limitMHz);
  m_Form.BPlow->setMaximum(limitMHz);
  std::ostringstream tip;
  tip << limitMHz << "MHz"
      << " is the maximal allowed frequency for the selected image.";
  m_Form.BPhigh->setToolTip(QString::fromStdString(tip.str()));
  m_Form.BPlow->setToolTip(QString::fromStdString(tip.str()));
  m_Form.BPhigh->setToolTipDuration(5000);
  m_Form.BPlow->setToolTipDuration(5000);
}

itk::SmartPointer<vexa::BeamformingSettings> PAImageProcessing::CreateBeamformingSettings(vexa::Image::Pointer image)
{
  const QString apodizationText = m_Form.Apodization->currentText();
  const auto apodization = apodizationText == "Von Hann"  ? vexa::BeamformingSettings::Hann
                           : apodizationText == "Hamming" ? vexa::BeamformingSettings::Hamm
                                                          : vexa::BeamformingSettings::Box;
  const QString algorithmText = m_Form.BFAlgorithm->currentText();
  const auto algorithm = algorithmText == "DMAS"    ? vexa::BeamformingSettings::DMAS
                         : algorithmText == "sDMAS" ? vexa::BeamformingSettings::sDMAS
                                                    : vexa::BeamformingSettings::DAS;
  const unsigned int dims[3] = {image->GetDimension(0), image->GetDimension(1), image->GetDimension(2)};
  const float timeSpacing = TimeSpacing(dims[1], image->GetGeometry()->GetSpacing()[1]);
  const auto lines = static_cast<unsigned int>(m_Form.Lines->value());
  return vexa::BeamformingSettings::New(
    static_cast<float>(m_Form.Pitch->value() / 1000), static_cast<float>(m_Form.SpeedOfSound->value()), timeSpacing,
    static_cast<float>(m_Form.Angle->value()), m_Form.ImageType->currentText() != "US Image",
    static_cast<unsigned int>(m_Form.Samples->value()), lines, dims,
    static_cast<float>(m_Form.ReconstructionDepth->value() / 1000), m_Form.UseGPUBf->isChecked(), 16,
    vexa::BeamformingSettings::Spherical, apodization, lines, algorithm);
}

// ------------------------------------------------------------ small slots

void PAImageProcessing::LowerSliceBoundChanged()
{
  if (m_Form.boundHigh->value() < m_Form.boundLow->value())
    m_Form.boundHigh->setValue(m_Form.boundLow->value());
}

void PAImageProcessing::UpperSliceBoundChanged()
{
  if (m_Form.boundHigh->value() < m_Form.boundLow->value())
    m_Form.boundLow->setValue(m_Form.boundHigh->value());
}

void PAImageProcessing::SliceBoundsEnabled()
{
  m_Form.boundLow->setEnabled(m_Form.Partial->isChecked());
  m_Form.boundHigh->setEnabled(m_Form.Partial->isChecked());
}

void PAImageProcessing::UseResampling()
{
  if (m_Form.DoResampling->isChecked())
  {
    m_Form.ResamplingValue->setEnabled(true);
    m_DepthSpacing = static_cast<float>(m_Form.ResamplingValue->value());
  }
  else
  {
    m_Form.ResamplingValue->setEnabled(false);
    m_DepthSpacing = 0;
  }
}

void PAImageProcessing::UseLogfilter() { m_LogCompression = m_Form.Logfilter->isChecked(); }

void PAImageProcessing::SetResampling() { m_DepthSpacing = static_cast<float>(m_Form.ResamplingValue->value()); }

void PAImageProcessing::UseImageSpacing() { m_Form.ScanDepth->setEnabled(!m_Form.UseImageSpacing->isChecked()); }

void PAImageProcessing::UseSignalDelay() { m_Form.SignalDelay->setEnabled(m_Form.UseSignalDelay->isChecked()); }

void PAImageProcessing::UpdateSaveBoxes()
{
  m_Form.SaveBeamforming->setEnabled(m_Form.StepBeamforming->isChecked());
  m_Form.SaveCropping->setEnabled(m_Form.StepCropping->isChecked());
  m_Form.SaveBandpass->setEnabled(m_Form.StepBandpass->isChecked());
  m_Form.SaveBMode->setEnabled(m_Form.StepBMode->isChecked());
}

void PAImageProcessing::ChangedSOSBandpass() { m_Form.SpeedOfSound->setValue(m_Form.BPSpeedOfSound->value()); }

void PAImageProcessing::ChangedSOSBeamforming() { m_Form.BPSpeedOfSound->setValue(m_Form.SpeedOfSound->value()); }

void PAImageProcessing::PAMessageBox(std::string message)
{
  if (message != "noMessage")
    ShowMessage(QString::fromStdString(message));
}

std::vector<QWidget *> PAImageProcessing::LockedControls() const
{
  return {m_Form.BatchProcessing,
          m_Form.StepBeamforming,
          m_Form.StepCropping,
          m_Form.StepBandpass,
          m_Form.StepBMode,
          m_Form.SaveBeamforming,
          m_Form.SaveCropping,
          m_Form.SaveBandpass,
          m_Form.SaveBMode,
          m_Form.DoResampling,
          m_Form.ResamplingValue,
          m_Form.Logfilter,
          m_Form.BModeMethod,
          m_Form.buttonApplyBModeFilter,
          m_Form.CutoffAbove,
          m_Form.CutoffBelow,
          m_Form.buttonApplyCropFilter,
          m_Form.BPSpeedOfSound,
          m_Form.buttonApplyBandpass,
          m_Form.Partial,
          m_Form.boundHigh,
          m_Form.boundLow,
          m_Form.BFAlgorithm,
          m_Form.ReconstructionDepth,
          m_Form.ImageType,
          m_Form.Apodization,
          m_Form.UseGPUBf,
          m_Form.UseGPUBmode,
          m_Form.BPhigh,
          m_Form.BPlow,
          m_Form.BPFalloffLow,
          m_Form.BPFalloffHigh,
          m_Form.UseImageSpacing,
          m_Form.ScanDepth,
          m_Form.Pitch,
          m_Form.ElementCount,
          m_Form.SpeedOfSound,
          m_Form.Samples,
          m_Form.Lines,
          m_Form.Angle,
          m_Form.buttonApplyBeamforming,
          m_Form.UseSignalDelay,
          m_Form.SignalDelay};
}

void PAImageProcessing::LockControls()
{
  for (QWidget *widget : LockedControls())
    widget->setEnabled(false);
}

void PAImageProcessing::UnlockControls()
{
  for (QWidget *widget : LockedControls())
    widget->setEnabled(true);
  // the controls that follow a check box follow it again (the slice bounds and the delay do not)
  UpdateSaveBoxes();
  UseResampling();
  UseImageSpacing();
}

vexa::PhotoacousticFilterService::BModeMethod PAImageProcessing::BModeMethodFromForm() const
{
  return m_Form.BModeMethod->currentText() == "Absolute Filter" ? vexa::PhotoacousticFilterService::Abs
                                                                : vexa::PhotoacousticFilterService::EnvelopeDetection;
}

PAImageProcessingSteps::BandpassValues PAImageProcessing::BandpassFromForm(
  const vexa::BeamformingSettings &settings) const
{
  PAImageProcessingSteps::BandpassValues values;
  values.highPassHz = static_cast<float>(m_Form.BPhigh->value() * 1e6);
  values.lowPassHz = static_cast<float>(m_Form.BPlow->value() * 1e6);
  values.alphaHighPass = static_cast<float>(m_Form.BPFalloffHigh->value());
  values.alphaLowPass = static_cast<float>(m_Form.BPFalloffLow->value());
  values.timeSpacing = settings.GetTimeSpacing();
  values.speedOfSound = settings.GetSpeedOfSound();
  values.spatialInput = m_Form.IsBFImage->isChecked();
  return values;
}

// ------------------------------------------------------------ workers

vexa::Image::Pointer PAImageProcessing::TakeImageForRun(const char *missingText, const char *leadText)
{
  if (!m_PartCreated || m_RunInProgress || m_BatchRunning)
  {
    if (m_RunInProgress || m_BatchRunning)
      VEXA_INFO << "A run is in progress: the new one is not started.";
    return nullptr;
  }
  const QList<vexa::DataNode::Pointer> selection = GetDataManagerSelection();
  if (selection.isEmpty())
    return nullptr;
  const vexa::DataNode::Pointer node = FirstImageNode(selection);
  if (!node)
  {
    QMessageBox::information(nullptr, "Template", missingText, QMessageBox::Ok);
    return nullptr;
  }
  std::string name;
  if (node->GetName(name))
  {
    VEXA_INFO << leadText << "'" << name << "'.";
    m_SourceName = name;
  }
  else
  {
    VEXA_INFO << leadText << ".";
    m_SourceName = " ";
  }
  // the worker's own copy: a live node may be rewritten while it runs
  const auto *image = static_cast<vexa::Image *>(node->GetData().GetPointer());
  return image->Clone();
}

template <class Worker>
void PAImageProcessing::ConnectWorker(Worker *worker)
{
  // The signals are taken on the worker's thread and posted through the
  // bridge, which hands them over visibly to the thread sanitizer and drops
  // them once the view is gone.
  const vexa::QtEventBridge bridge = m_Bridge;
  connect(
    worker, &Worker::result, worker,
    [this, bridge, source = m_SourceName](vexa::Image::Pointer image, std::string suffix) {
      bridge.Post([this, source, image, suffix] {
        m_SourceName = source;
        HandleResults(image, suffix);
      });
    },
    Qt::DirectConnection);
  connect(
    worker, &Worker::failed, worker,
    [this, bridge](std::string message) { bridge.Post([this, message] { HandleFailure(message); }); },
    Qt::DirectConnection);
}

void PAImageProcessing::ReportStartFailure(const char *what, const vexa::GuardedFailure &failure)
{
  if (failure.standard)
    VEXA_ERROR << what << " could not start: " << failure.what;
  else
    VEXA_ERROR << what << " could not start.";
  if (!m_RunInProgress)
  {
    m_Form.progressBar->setVisible(false);
    m_Form.ProgressInfo->setVisible(false);
    UnlockControls();
    FollowSelection();
  }
  ShowMessage(QString("%1 could not start: %2").arg(what, QString::fromStdString(failure.description)));
}

void PAImageProcessing::Launch(QThread *worker)
{
  m_RunInProgress = true;
  connect(worker, &QThread::finished, worker, &QObject::deleteLater);
  // the list forgets finished workers on the way
  m_Workers.erase(std::remove_if(m_Workers.begin(), m_Workers.end(),
                                 [](const QPointer<QThread> &w) { return w.isNull() || w->isFinished(); }),
                  m_Workers.end());
  m_Workers << worker;
  worker->start(QThread::InheritPriority);
}

void PAImageProcessing::StartBeamformingThread()
{
  vexa::RunGuarded(
    [&] {
      vexa::Image::Pointer image = TakeImageForRun("Please load and select an image before starting image processing.",
                                                   "Performing beamforming for image ");
      if (!image)
        return;
      itk::SmartPointer<vexa::BeamformingSettings> settings = CreateBeamformingSettings(image);
      m_Form.progressBar->setValue(0);
      m_Form.progressBar->setVisible(true);
      m_Form.ProgressInfo->setVisible(true);
      m_Form.ProgressInfo->setText("started");
      LockControls();
      auto *worker = new BeamformingThread;
      ConnectWorker(worker);
      const vexa::QtEventBridge bridge = m_Bridge;
      connect(
        worker, &BeamformingThread::updateProgress, worker,
        [this, bridge](int percent, std::string text) {
          bridge.Post([this, percent, text] { UpdateProgress(percent, text); });
        },
        Qt::DirectConnection);
      worker->SetSettings(settings);
      if (m_Form.UseSignalDelay->isChecked())
        worker->m_DelayMicroseconds = static_cast<float>(m_Form.SignalDelay->value());
      worker->SetImage(image);
      worker->SetService(m_FilterService);
      VEXA_INFO << "Started new thread for Beamforming";
      Launch(worker);
    },
    [this](const vexa::GuardedFailure &failure) { ReportStartFailure("Beamforming", failure); });
}

void PAImageProcessing::StartBmodeThread()
{
  vexa::RunGuarded(
    [&] {
      vexa::Image::Pointer image = TakeImageForRun("Please load and select an image before starting image processing.",
                                                   "Performing image processing for image ");
      if (!image)
        return;
      LockControls();
      auto *worker = new BmodeThread;
      ConnectWorker(worker);
      worker->m_Method = BModeMethodFromForm();
      worker->m_LogCompression = m_LogCompression;
      worker->m_DepthSpacing = m_DepthSpacing;
      worker->SetImage(image);
      worker->SetService(m_FilterService);
      VEXA_INFO << "Started new thread for Image Processing";
      Launch(worker);
    },
    [this](const vexa::GuardedFailure &failure) { ReportStartFailure("B-mode filtering", failure); });
}

void PAImageProcessing::StartCropThread()
{
  vexa::RunGuarded(
    [&] {
      vexa::Image::Pointer image = TakeImageForRun("Please load and select an image before starting image cropping.",
                                                   "Performing image cropping for image ");
      if (!image)
        return;
      LockControls();
      auto *worker = new CropThread;
      ConnectWorker(worker);
      worker->m_CutTop = m_Form.CutoffAbove->value();
      worker->m_CutBottom = m_Form.CutoffBelow->value();
      if (m_Form.Partial->isChecked())
      {
        worker->m_LastSlice = m_Form.boundHigh->value();
        worker->m_FirstSlice = m_Form.boundLow->value();
      }
      else
      {
        worker->m_LastSlice = static_cast<int>(image->GetDimension(2)) - 1;
        worker->m_FirstSlice = 0;
      }
      worker->SetImage(image);
      worker->SetService(m_FilterService);
      VEXA_INFO << "Started new thread for Image Cropping";
      Launch(worker);
    },
    [this](const vexa::GuardedFailure &failure) { ReportStartFailure("Cropping", failure); });
}

void PAImageProcessing::StartBandpassThread()
{
  vexa::RunGuarded(
    [&] {
      vexa::Image::Pointer image = TakeImageForRun("Please load and select an image before applying a bandpass filter.",
                                                   "Performing Bandpass filter on image ");
      if (!image)
        return;
      itk::SmartPointer<vexa::BeamformingSettings> settings = CreateBeamformingSettings(image);
      LockControls();
      auto *worker = new BandpassThread;
      ConnectWorker(worker);
      const PAImageProcessingSteps::BandpassValues values = BandpassFromForm(*settings);
      worker->m_HighPassHz = values.highPassHz;
      worker->m_LowPassHz = values.lowPassHz;
      worker->m_AlphaLowPass = values.alphaLowPass;
      worker->m_AlphaHighPass = values.alphaHighPass;
      worker->m_TimeSpacing = values.timeSpacing;
      worker->m_SpeedOfSound = values.speedOfSound;
      worker->m_SpatialInput = values.spatialInput;
      worker->SetImage(image);
      worker->SetService(m_FilterService);
      VEXA_INFO << "Started new thread for Bandpass filter";
      Launch(worker);
    },
    [this](const vexa::GuardedFailure &failure) { ReportStartFailure("Bandpass filtering", failure); });
}

void PAImageProcessing::HandleResults(vexa::Image::Pointer image, std::string nameExtension)
{
  VEXA_INFO << "Handling results...";
  if (!image)
  {
    HandleFailure("The processing gave no image.");
    return;
  }
  m_RunInProgress = false;
  vexa::RunGuarded(
    [&] {
      auto node = vexa::DataNode::New();
      node->SetData(image);
      node->SetName(m_SourceName + nameExtension);
      vexa::LevelWindow levelWindow(127.5, 255);
      node->GetLevelWindow(levelWindow);
      levelWindow.SetAuto(image, true, true, 0);
      node->SetLevelWindow(levelWindow);
      GetDataStorage()->AddNode(node);
    },
    [](const vexa::GuardedFailure &failure) {
      VEXA_ERROR << "Could not add the result: " << failure.what;
      ShowMessage(QString("Could not add the result: %1").arg(QString::fromStdString(failure.description)));
    });
  m_Form.progressBar->setVisible(false);
  m_Form.ProgressInfo->setVisible(false);
  UnlockControls();
  FollowSelection();
  vexa::IRenderWindowPart *part = GetRenderWindowPart();
  vexa::RenderingManager *manager = part ? part->GetRenderingManager() : vexa::RenderingManager::GetInstance();
  manager->FitViewsToGeometry(image->GetTimeGeometry(), vexa::RenderingManager::REQUEST_UPDATE_ALL, true);
  manager->RequestUpdateAll(vexa::RenderingManager::REQUEST_UPDATE_ALL);
  VEXA_INFO << "Handling results...[Done]";
}

void PAImageProcessing::HandleFailure(std::string message)
{
  m_RunInProgress = false;
  m_Form.progressBar->setVisible(false);
  m_Form.ProgressInfo->setVisible(false);
  UnlockControls();
  FollowSelection();
  PAMessageBox(message);
}

void PAImageProcessing::UpdateProgress(int progress, std::string progressInfo)
{
  m_Form.progressBar->setValue(std::min(progress, 100));
  m_Form.ProgressInfo->setText(QString::fromStdString(progressInfo));
  QCoreApplication::processEvents();
}

// ------------------------------------------------------------ batch

void PAImageProcessing::BatchProcessing()
{
  if (!m_PartCreated || m_RunInProgress || m_BatchRunning)
    return;
  QStringList files;
  {
    QFileDialog dialog(nullptr, "Select Files to be processed");
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(tr("Images (*.nrrd)"));
    dialog.setViewMode(QFileDialog::Detail);
    if (dialog.exec())
      files = dialog.selectedFiles();
  }
  const QString folder = QFileDialog::getExistingDirectory(
    nullptr, tr("Select Directory To Save To"), "", QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  if (files.isEmpty())
    return;
  if (folder.isEmpty())
  {
    ShowMessage("No folder to save the results to was chosen: nothing is processed.");
    return;
  }
  RunBatch(files, folder);
}

void PAImageProcessing::RunBatch(const QStringList &files, const QString &folder)
{
  m_BatchRunning = true;
  LockControls();
  const bool steps[4] = {m_Form.StepBeamforming->isChecked(), m_Form.StepCropping->isChecked(),
                         m_Form.StepBandpass->isChecked(), m_Form.StepBMode->isChecked()};
  const bool saves[4] = {m_Form.SaveBeamforming->isChecked(), m_Form.SaveCropping->isChecked(),
                         m_Form.SaveBandpass->isChecked(), m_Form.SaveBMode->isChecked()};
  for (const QString &path : files)
  {
    if (IsCloseRequested())
    {
      VEXA_INFO << "The view is closing: batch processing stops before " << path.toStdString();
      break;
    }
    // a file that fails is reported, and the batch goes on with the next
    vexa::RunGuarded([&] { ProcessBatchFile(path, folder, files, steps, saves); },
                     [&](const vexa::GuardedFailure &failure) {
                       if (failure.standard)
                       {
                         VEXA_ERROR << "Batch processing of " << path.toStdString() << " failed: " << failure.what;
                         ShowMessage(
                           QString("Processing %1 failed: %2").arg(path, QString::fromStdString(failure.description)));
                       }
                       else
                       {
                         VEXA_ERROR << "Batch processing of " << path.toStdString() << " failed.";
                         ShowMessage(QString("Processing %1 failed.").arg(path));
                       }
                     });
    m_Form.progressBar->setVisible(false);
  }
  m_BatchRunning = false;
  UnlockControls();
  FollowSelection();
}

bool PAImageProcessing::ProcessBatchFile(
  const QString &path, const QString &folder, const QStringList &inputs, const bool (&steps)[4], const bool (&saves)[4])
{
  m_Form.progressBar->setValue(0);
  m_Form.progressBar->setVisible(true);
  m_Form.ProgressInfo->setVisible(true);
  m_Form.ProgressInfo->setText("loading file");
  const QString base = BatchBaseName(path);

  vexa::Image::Pointer image = vexa::IOUtil::LoadFirstAs<vexa::Image>(path.toStdString());
  if (!image)
  {
    ShowMessage(QString("%1 holds no image: it is skipped.").arg(path));
    return false;
  }
  itk::SmartPointer<vexa::BeamformingSettings> settings = CreateBeamformingSettings(image);

  // Saves the step's result unless that would overwrite one of the batch's inputs.
  auto save = [&](const char *suffix) {
    const QString target = folder + "/" + base + suffix + ".nrrd";
    for (const QString &input : inputs)
      if (QFileInfo(input).absoluteFilePath() == QFileInfo(target).absoluteFilePath())
      {
        ShowMessage(QString("%1 is an input of this batch: the result is not saved over it.").arg(target));
        return;
      }
    vexa::IOUtil::Save(image, target.toStdString());
  };
  // the view may be closed while the events of a step are processed
  auto stopped = [this] { return IsCloseRequested(); };

  if (steps[0])
  {
    m_Form.progressBar->setValue(100);
    image = PAImageProcessingSteps::Beamform(*m_FilterService, image, *settings,
                                             [this](int percent, std::string text) { UpdateProgress(percent, text); });
    if (saves[0])
      save(" beamformed");
    if (stopped())
      return false;
  }
  if (steps[1])
  {
    // the batch keeps every frame: the slice selection is the Apply button's
    m_Form.ProgressInfo->setText("cropping image");
    image = PAImageProcessingSteps::Crop(*m_FilterService, image, m_Form.CutoffAbove->value(),
                                         m_Form.CutoffBelow->value(), 0, static_cast<int>(image->GetDimension(2)) - 1);
    if (saves[1])
      save(" cropped");
    if (stopped())
      return false;
  }
  if (steps[2])
  {
    m_Form.ProgressInfo->setText("applying bandpass");
    PAImageProcessingSteps::BandpassValues values = BandpassFromForm(*settings);
    const unsigned int rows = image->GetDimension(1);
    const double sy = image->GetGeometry()->GetSpacing()[1];
    // true cut-offs, limited by the Nyquist frequency of the rows as the service will read them
    const double stepSeconds = values.spatialInput ? sy / 1000 / values.speedOfSound : values.timeSpacing;
    const double limit = PositiveFinite(stepSeconds) && rows > 0 ? 0.5 / stepSeconds : 0;
    double high = m_Form.BPhigh->value() * 1e6;
    double low = m_Form.BPlow->value() * 1e6;
    if (low < 0)
    {
      ShowMessage("LowPass too low, disabled it.");
      low = 0;
    }
    if (low >= limit)
    {
      ShowMessage("LowPass too high, disabled it.");
      low = 0;
    }
    if (high > limit)
    {
      ShowMessage("HighPass too high, disabled it.");
      high = 0;
    }
    if (low != 0 && high >= low)
    {
      ShowMessage("HighPass higher than LowPass, disabled both.");
      high = 0;
      low = 0;
    }
    values.highPassHz = static_cast<float>(high);
    values.lowPassHz = static_cast<float>(low);
    image = PAImageProcessingSteps::Bandpass(*m_FilterService, image, values);
    if (saves[2])
      save(" bandpassed");
    if (stopped())
      return false;
  }
  if (steps[3])
  {
    m_Form.ProgressInfo->setText("applying bmode filter");
    image =
      PAImageProcessingSteps::BMode(*m_FilterService, image, BModeMethodFromForm(), m_LogCompression, m_DepthSpacing);
    if (saves[3])
      save(" bmode");
  }
  return true;
}
