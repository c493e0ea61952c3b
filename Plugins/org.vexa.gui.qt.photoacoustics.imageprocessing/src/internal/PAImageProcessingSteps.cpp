#include "PAImageProcessingSteps.h"

vexa::Image::Pointer PAImageProcessingSteps::Beamform(vexa::PhotoacousticFilterService &service,
                                                      const vexa::Image::Pointer &image,
                                                      const vexa::BeamformingSettings &settings,
                                                      const std::function<void(int, std::string)> &progress)
{
  const unsigned int dims[3] = {image->GetDimension(0), image->GetDimension(1), image->GetDimension(2)};
  const vexa::BeamformingSettings::Pointer fitted = vexa::BeamformingSettings::New(
    settings.GetPitchInMeters(), settings.GetSpeedOfSound(), settings.GetTimeSpacing(), settings.GetAngle(),
    settings.GetIsPhotoacousticImage(), settings.GetSamplesPerLine(), settings.GetReconstructionLines(), dims,
    settings.GetReconstructionDepth(), settings.GetUseGPU(), settings.GetGPUBatchSize(),
    settings.GetDelayCalculationMethod(), settings.GetApod(), settings.GetApodizationArraySize(),
    settings.GetAlgorithm());
  return service.ApplyBeamforming(image, fitted, progress);
}

vexa::Image::Pointer PAImageProcessingSteps::Crop(vexa::PhotoacousticFilterService &service,
                                                  const vexa::Image::Pointer &image,
                                                  int cutTop,
                                                  int cutBottom,
                                                  int firstSlice,
                                                  int lastSlice)
{
  const int slices = static_cast<int>(image->GetDimension(2));
  return service.ApplyCropping(image, cutTop, cutBottom, 0, 0, firstSlice, slices - lastSlice - 1);
}

vexa::Image::Pointer PAImageProcessingSteps::Bandpass(vexa::PhotoacousticFilterService &service,
                                                      const vexa::Image::Pointer &image,
                                                      const BandpassValues &values)
{
  return service.ApplyBandpassFilter(image, values.highPassHz, values.lowPassHz, values.alphaLowPass,
                                     values.alphaHighPass, values.timeSpacing, values.speedOfSound,
                                     values.spatialInput);
}

vexa::Image::Pointer PAImageProcessingSteps::BMode(vexa::PhotoacousticFilterService &service,
                                                   const vexa::Image::Pointer &image,
                                                   vexa::PhotoacousticFilterService::BModeMethod method,
                                                   bool logCompression,
                                                   double depthSpacing)
{
  vexa::Image::Pointer bmode = service.ApplyBmodeFilter(image, method, logCompression);
  if (depthSpacing != 0)
  {
    const double spacing[2] = {image->GetGeometry()->GetSpacing()[0], depthSpacing};
    bmode = service.ApplyResampling(bmode, spacing);
  }
  return bmode;
}
