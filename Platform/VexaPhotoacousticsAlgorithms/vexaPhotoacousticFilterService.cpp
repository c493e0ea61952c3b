#include "vexaPhotoacousticFilterService.h"
#include "vexaBeamformingKernel.h"
#include "vexaPhotoacousticImageBridge.h"
#include "vexaSignalKernels.h"
#include "vexaVolumeKernels.h"

#include <vexaBaseGeometry.h>
#include <vexaException.h>
#include <vexaImageWriteAccessor.h>
#include <vexaLog.h>

#include <cmath>
#include <mutex>
#include <new>

namespace Bridge = vexa::PhotoacousticImageBridge;

namespace
{
  /** Runs one operation; an exhausted memory becomes a vexa::Exception that names it. */
  template <class F>
  vexa::Image::Pointer Guarded(const char *operation, F &&f)
  {
    try
    {
      return f();
    }
    catch (const std::bad_alloc &)
    {
      vexaThrow() << operation << ": not enough memory for the result.";
    }
  }

  void WarnOnceAboutGpu()
  {
    static std::once_flag once;
    std::call_once(once, [] {
      VEXA_WARN("PhotoacousticFilterService")
        << "GPU beamforming is not available in this build; beamforming runs on the CPU.";
    });
  }
}

vexa::PhotoacousticFilterService::PhotoacousticFilterService() = default;
vexa::PhotoacousticFilterService::~PhotoacousticFilterService() = default;

vexa::Image::Pointer vexa::PhotoacousticFilterService::ApplyBmodeFilter(Image::Pointer inputImage,
                                                                        BModeMethod method,
                                                                        bool useLogFilter)
{
  return Guarded("B-mode filter", [&] {
    if (method != EnvelopeDetection && method != Abs)
      vexaThrow() << "B-mode filter: unknown method " << static_cast<int>(method)
                  << " (0 envelope detection, 1 absolute value).";
    const SampleVolume in = Bridge::ToVolume(inputImage, "B-mode filter");
    SampleVolume out = method == EnvelopeDetection ? SignalKernels::Envelope(in) : SignalKernels::AbsoluteValue(in);
    if (useLogFilter)
      SignalKernels::LogCompress(out);
    return Bridge::ToImage(out, inputImage);
  });
}

vexa::Image::Pointer vexa::PhotoacousticFilterService::ApplyResampling(Image::Pointer inputImage,
                                                                       const double (&outputSpacing)[2])
{
  return Guarded("Resampling", [&] {
    const SampleVolume in = Bridge::ToVolume(inputImage, "Resampling");
    Vector3D spacing = Bridge::SpacingOf(inputImage);
    const double sx = outputSpacing[0];
    if (!(std::fabs(sx - spacing[0]) <= 1e-6 * std::max(std::fabs(spacing[0]), 1e-12)))
      vexaThrow() << "Resampling changes only the y spacing: the x spacing " << sx << " mm differs from the image's "
                  << spacing[0] << " mm.";
    const SampleVolume out = VolumeKernels::ResampleY(in, spacing[1], outputSpacing[1]);
    spacing[1] = outputSpacing[1];
    return Bridge::ToImage(out, inputImage, spacing, Bridge::OriginOf(inputImage));
  });
}

vexa::Image::Pointer vexa::PhotoacousticFilterService::ApplyCropping(
  Image::Pointer inputImage, int above, int below, int left, int right, int sliceCutStart, int sliceCutEnd)
{
  return Guarded("Cropping", [&] {
    const SampleVolume in = Bridge::ToVolume(inputImage, "Cropping");
    const SampleVolume out = VolumeKernels::Crop(in, above, below, left, right, sliceCutStart, sliceCutEnd);
    // the first kept pixel's world position, through the image's own transform
    Point3D firstKept;
    firstKept[0] = left;
    firstKept[1] = above;
    firstKept[2] = sliceCutStart;
    const Point3D origin = inputImage->GetGeometry(0)->IndexToWorld(firstKept);
    return Bridge::ToImage(out, inputImage, Bridge::SpacingOf(inputImage), origin);
  });
}

vexa::Image::Pointer vexa::PhotoacousticFilterService::ApplyBeamforming(
  Image::Pointer inputImage, BeamformingSettings::Pointer config, std::function<void(int, std::string)> progressHandle)
{
  return Guarded("Beamforming", [&] {
    if (!config)
      vexaThrow() << "Beamforming needs settings; got none.";
    // float pixels are read in place; the result is written straight into the new image
    const Bridge::FloatPixels raw(inputImage, "Beamforming");
    const unsigned int *dims = config->GetInputDim();
    if (dims[0] != raw.nx || dims[1] != raw.ny || dims[2] != raw.nz)
      vexaThrow() << "Beamforming: the settings were made for an image of " << dims[0] << " x " << dims[1] << " x "
                  << dims[2] << ", but the image is " << raw.nx << " x " << raw.ny << " x " << raw.nz << ".";
    if (config->GetDelayCalculationMethod() != BeamformingSettings::Spherical)
      vexaThrow() << "Beamforming: delay calculation method " << static_cast<int>(config->GetDelayCalculationMethod())
                  << " is not available; use the spherical delays (1).";
    if (config->GetUseGPU())
      WarnOnceAboutGpu();

    BeamformingKernel::Parameters p;
    p.pitch = config->GetPitchInMeters();
    p.speedOfSound = config->GetSpeedOfSound();
    p.timeSpacing = config->GetTimeSpacing();
    p.angle = config->GetAngle();
    p.photoacoustic = config->GetIsPhotoacousticImage();
    p.samplesPerLine = config->GetSamplesPerLine();
    p.lines = config->GetReconstructionLines();
    p.depth = config->GetReconstructionDepth();
    p.window = static_cast<BeamformingKernel::Window>(config->GetApod());
    p.windowSize = config->GetApodizationArraySize();
    p.algorithm = static_cast<BeamformingKernel::Algorithm>(config->GetAlgorithm());

    BeamformingKernel::Validate(p, raw.nx, raw.ny, raw.nz);

    const Vector3D inSpacing = Bridge::SpacingOf(inputImage);
    const Point3D inOrigin = Bridge::OriginOf(inputImage);
    Vector3D spacing;
    spacing[0] = BeamformingKernel::LineSpacing(p, raw.nx) * 1000.0;
    spacing[1] = BeamformingKernel::DepthSpacing(p) * 1000.0;
    spacing[2] = inSpacing[2];
    // line 0 lies half a line spacing inside the aperture, which starts half a
    // pitch before element 0; depth starts at the array
    Point3D origin;
    origin[0] = inOrigin[0] - 0.5 * p.pitch * 1000.0 + 0.5 * spacing[0];
    origin[1] = 0.0;
    origin[2] = inOrigin[2];
    Image::Pointer out = Bridge::NewImage(p.lines, p.samplesPerLine, raw.nz, inputImage, spacing, origin);
    {
      ImageWriteAccessor access(out);
      BeamformingKernel::ReconstructInto(raw.Data(), raw.nx, raw.ny, raw.nz, p, static_cast<float *>(access.GetData()),
                                         0, progressHandle);
    }
    return out;
  });
}

vexa::Image::Pointer vexa::PhotoacousticFilterService::ApplyBandpassFilter(Image::Pointer data,
                                                                           float highPassHz,
                                                                           float lowPassHz,
                                                                           float alphaLowPass,
                                                                           float alphaHighPass,
                                                                           float timeSpacing,
                                                                           float speedOfSound,
                                                                           bool isBFImage)
{
  return Guarded("Bandpass", [&] {
    const SampleVolume in = Bridge::ToVolume(data, "Bandpass");
    double sampleSpacing = timeSpacing;
    if (isBFImage)
    {
      if (!std::isfinite(speedOfSound) || speedOfSound <= 0.0f)
        vexaThrow() << "Bandpass of a beamformed image needs a positive speed of sound; got " << speedOfSound
                    << " m/s.";
      const double dy = Bridge::SpacingOf(data)[1];
      sampleSpacing = dy / 1000.0 / speedOfSound;
    }
    else if (!std::isfinite(timeSpacing) || timeSpacing <= 0.0f)
    {
      vexaThrow() << "Bandpass of raw data needs a positive time spacing; got " << timeSpacing << " s.";
    }
    const SampleVolume out =
      SignalKernels::Bandpass(in, highPassHz, lowPassHz, alphaLowPass, alphaHighPass, sampleSpacing);
    return Bridge::ToImage(out, data);
  });
}
