#include "PAImageProcessingThreads.h"

#include <vexaException.h>
#include <vexaLog.h>

#include <cmath>
#include <exception>

PAImageProcessingWorker::~PAImageProcessingWorker() = default;

void PAImageProcessingWorker::RunGuarded(const char *what, const std::function<void()> &work)
{
  try
  {
    work();
  }
  catch (const vexa::Exception &e)
  {
    VEXA_ERROR << what << " failed: " << e.what();
    emit failed(std::string(what) + " failed: " + e.GetDescription());
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << what << " failed: " << e.what();
    emit failed(std::string(what) + " failed: " + e.what());
  }
  catch (...)
  {
    VEXA_ERROR << what << " failed.";
    emit failed(std::string(what) + " failed.");
  }
}

BeamformingThread::~BeamformingThread() = default;
BmodeThread::~BmodeThread() = default;
CropThread::~CropThread() = default;
BandpassThread::~BandpassThread() = default;

void BeamformingThread::run()
{
  RunGuarded("Beamforming", [this] {
    vexa::Image::Pointer image = m_Image;
    if (m_DelayMicroseconds != 0)
    {
      const float rows = std::round(m_DelayMicroseconds / m_Settings->GetTimeSpacing() / 1000000.0f);
      VEXA_INFO << rows;
      image = m_Service->ApplyCropping(image, static_cast<int>(rows), 0, 0, 0, 0, 0);
    }
    // the (possibly cropped) image's sizes, everything else as the view set it
    const unsigned int dims[3] = {image->GetDimension(0), image->GetDimension(1), image->GetDimension(2)};
    m_Settings = vexa::BeamformingSettings::New(
      m_Settings->GetPitchInMeters(), m_Settings->GetSpeedOfSound(), m_Settings->GetTimeSpacing(),
      m_Settings->GetAngle(), m_Settings->GetIsPhotoacousticImage(), m_Settings->GetSamplesPerLine(),
      m_Settings->GetReconstructionLines(), dims, m_Settings->GetReconstructionDepth(), m_Settings->GetUseGPU(),
      m_Settings->GetGPUBatchSize(), m_Settings->GetDelayCalculationMethod(), m_Settings->GetApod(),
      m_Settings->GetApodizationArraySize(), m_Settings->GetAlgorithm());
    std::function<void(int, std::string)> progress = [this](int percent, std::string text) {
      emit updateProgress(percent, text);
    };
    vexa::Image::Pointer beamformed = m_Service->ApplyBeamforming(image, m_Settings, progress);
    emit result(beamformed, "_bf");
  });
}

void BmodeThread::run()
{
  RunGuarded("B-mode filtering", [this] {
    vexa::Image::Pointer bmode = m_Service->ApplyBmodeFilter(m_Image, m_Method, m_LogCompression);
    if (m_DepthSpacing != 0)
    {
      const double spacing[2] = {m_Image->GetGeometry()->GetSpacing()[0], m_DepthSpacing};
      bmode = m_Service->ApplyResampling(bmode, spacing);
    }
    emit result(bmode, "_bmode");
  });
}

void CropThread::run()
{
  RunGuarded("Cropping", [this] {
    const int slices = static_cast<int>(m_Image->GetDimension(2));
    vexa::Image::Pointer cropped =
      m_Service->ApplyCropping(m_Image, m_CutTop, m_CutBottom, 0, 0, m_FirstSlice, slices - m_LastSlice - 1);
    emit result(cropped, "_cropped");
  });
}

void BandpassThread::run()
{
  RunGuarded("Bandpass filtering", [this] {
    vexa::Image::Pointer filtered =
      m_Service->ApplyBandpassFilter(m_Image, m_HighPassHz, m_LowPassHz, m_AlphaLowPass, m_AlphaHighPass, m_TimeSpacing,
                                     m_SpeedOfSound, m_SpatialInput);
    emit result(filtered, "_bandpassed");
  });
}
