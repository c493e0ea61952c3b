#ifndef PAImageProcessingThreads_h
#define PAImageProcessingThreads_h

#include "PAImageProcessingSteps.h"

#include <vexaBeamformingSettings.h>
#include <vexaImage.h>
#include <vexaPhotoacousticFilterService.h>
#include <vexaSlotGuard.h>

#include <QMetaType>
#include <QThread>

#include <functional>
#include <string>

// carried by the workers' queued signals
Q_DECLARE_METATYPE(vexa::Image::Pointer)
Q_DECLARE_METATYPE(std::string)

/*
 * The workers of the processing view: each runs one processing step
 * (PAImageProcessingSteps) on its own thread. The view fills every member on
 * the GUI thread before start(); run() only reads them. Each worker owns its
 * image (the view hands it a deep copy) and holds the service while it runs.
 *
 * run() never lets an exception out: it runs under vexa::RunGuarded, and a
 * failure is emitted as failed(text) instead of result(...). The signals
 * reach the view queued, on the GUI thread.
 */

/** What the four workers share: their input, the service, the two signals and the failure report. */
class PAImageProcessingWorker : public QThread
{
  Q_OBJECT
public:
  ~PAImageProcessingWorker() override;

  void SetImage(vexa::Image::Pointer image) { m_Image = image; }
  void SetService(vexa::PhotoacousticFilterService::Pointer service) { m_Service = service; }

signals:
  void result(vexa::Image::Pointer image, std::string nameExtension);
  void failed(std::string message);

protected:
  PAImageProcessingWorker() = default;

  /**
   * The reporter that run() hands to vexa::RunGuarded, called on the
   * worker's thread: it logs what the step `what` threw and emits
   * failed("<what> failed: <description>"), or failed("<what> failed.") for
   * an exception that is no std::exception.
   */
  std::function<void(const vexa::GuardedFailure &)> FailureReporter(const char *what);

  vexa::Image::Pointer m_Image;
  vexa::PhotoacousticFilterService::Pointer m_Service;
};

class BeamformingThread : public PAImageProcessingWorker
{
  Q_OBJECT
public:
  BeamformingThread() = default;
  ~BeamformingThread() override;

  void SetSettings(itk::SmartPointer<vexa::BeamformingSettings> settings) { m_Settings = settings; }
  /** Microseconds of hardware delay cut from the top of the image before beamforming (0: none). */
  float m_DelayMicroseconds = 0;

signals:
  void updateProgress(int progress, std::string progressInfo);
  void message(std::string message);

protected:
  void run() override;

private:
  itk::SmartPointer<vexa::BeamformingSettings> m_Settings;
};

class BmodeThread : public PAImageProcessingWorker
{
  Q_OBJECT
public:
  BmodeThread() = default;
  ~BmodeThread() override;

  vexa::PhotoacousticFilterService::BModeMethod m_Method = vexa::PhotoacousticFilterService::EnvelopeDetection;
  bool m_LogCompression = false;
  /** Depth spacing (mm) resampled to after the B-mode filter; 0: no resampling. */
  double m_DepthSpacing = 0;

protected:
  void run() override;
};

class CropThread : public PAImageProcessingWorker
{
  Q_OBJECT
public:
  CropThread() = default;
  ~CropThread() override;

  int m_CutTop = 0;
  int m_CutBottom = 0;
  int m_LastSlice = 0;
  int m_FirstSlice = 0;

protected:
  void run() override;
};

class BandpassThread : public PAImageProcessingWorker
{
  Q_OBJECT
public:
  BandpassThread() = default;
  ~BandpassThread() override;

  float m_HighPassHz = 0;
  float m_LowPassHz = 0;
  float m_AlphaLowPass = 0;
  float m_AlphaHighPass = 0;
  float m_TimeSpacing = 0;
  float m_SpeedOfSound = 0;
  bool m_SpatialInput = false;

protected:
  void run() override;
};

#endif
