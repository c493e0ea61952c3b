#include "PAImageProcessingThreads.h"

#include <vexaLog.h>

#include <cmath>

PAImageProcessingWorker::~PAImageProcessingWorker() = default;

std::function<void(const vexa::GuardedFailure &)> PAImageProcessingWorker::FailureReporter(const char *what)
{
  return [this, what](const vexa::GuardedFailure &failure) {
    if (failure.standard)
    {
      VEXA_ERROR << what << " failed: " << failure.what;
      emit failed(std::string(what) + " failed: " + failure.description);
    }
    else
    {
      VEXA_ERROR << what << " failed.";
      emit failed(std::string(what) + " failed.");
    }
  };
}

BeamformingThread::~BeamformingThread() = default;
BmodeThread::~BmodeThread() = default;
CropThread::~CropThread() = default;
BandpassThread::~BandpassThread() = default;

void BeamformingThread::run()
{
  vexa::RunGuarded(
    [this] {
      vexa::Image::Pointer image = m_Image;
      if (m_DelayMicroseconds != 0)
      {
        // the rows the hardware delay takes at the top of every frame
        const float rows = std::round(m_DelayMicroseconds / m_Settings->GetTimeSpacing() / 1000000.0f);
        VEXA_INFO << rows;
        image = PAImageProcessingSteps::Crop(*m_Service, image, static_cast<int>(rows), 0, 0,
                                             static_cast<int>(image->GetDimension(2)) - 1);
      }
      vexa::Image::Pointer beamformed = PAImageProcessingSteps::Beamform(
        *m_Service, image, *m_Settings, [this](int percent, std::string text) { emit updateProgress(percent, text); });
      emit result(beamformed, "_bf");
    },
    FailureReporter("Beamforming"));
}

void BmodeThread::run()
{
  vexa::RunGuarded(
    [this] {
      emit result(PAImageProcessingSteps::BMode(*m_Service, m_Image, m_Method, m_LogCompression, m_DepthSpacing),
                  "_bmode");
    },
    FailureReporter("B-mode filtering"));
}

void CropThread::run()
{
  vexa::RunGuarded(
    [this] {
      emit result(PAImageProcessingSteps::Crop(*m_Service, m_Image, m_CutTop, m_CutBottom, m_FirstSlice, m_LastSlice),
                  "_cropped");
    },
    FailureReporter("Cropping"));
}

void BandpassThread::run()
{
  vexa::RunGuarded(
    [this] {
      PAImageProcessingSteps::BandpassValues values;
      values.highPassHz = m_HighPassHz;
      values.lowPassHz = m_LowPassHz;
      values.alphaHighPass = m_AlphaHighPass;
      values.alphaLowPass = m_AlphaLowPass;
      values.timeSpacing = m_TimeSpacing;
      values.speedOfSound = m_SpeedOfSound;
      values.spatialInput = m_SpatialInput;
      emit result(PAImageProcessingSteps::Bandpass(*m_Service, m_Image, values), "_bandpassed");
    },
    FailureReporter("Bandpass filtering"));
}
