#ifndef PAImageProcessingSteps_h
#define PAImageProcessingSteps_h

#include <vexaBeamformingSettings.h>
#include <vexaImage.h>
#include <vexaPhotoacousticFilterService.h>

#include <functional>
#include <string>

/*
 * The processing steps of the view, once: the Apply workers call them on
 * their threads and the batch on the GUI thread, each with values already
 * read from the form and checked. What only one of them does stays with it:
 * the workers' hardware-delay crop and slice selection, the batch's
 * frequency checks.
 *
 * Each step returns a new image and leaves its input untouched. They touch
 * no widget and keep no state, so any thread may call them with a service
 * shared between threads; they throw what the service throws (a
 * vexa::Exception that says what is wrong with the input).
 */
namespace PAImageProcessingSteps
{
  /**
   * Beamforms `image` with `settings` made to fit its sizes: the settings'
   * input dimensions become the image's, every other value stays.
   * `progress` (percent, text) is called on the calling thread.
   */
  vexa::Image::Pointer Beamform(vexa::PhotoacousticFilterService &service,
                                const vexa::Image::Pointer &image,
                                const vexa::BeamformingSettings &settings,
                                const std::function<void(int, std::string)> &progress);

  /** Cuts rows at the top and bottom and keeps the frames firstSlice to lastSlice (both kept). */
  vexa::Image::Pointer Crop(vexa::PhotoacousticFilterService &service,
                            const vexa::Image::Pointer &image,
                            int cutTop,
                            int cutBottom,
                            int firstSlice,
                            int lastSlice);

  /** The bandpass as the service takes it; a cut-off of 0 leaves its side open. */
  struct BandpassValues
  {
    float highPassHz = 0;
    float lowPassHz = 0;
    float alphaHighPass = 0;
    float alphaLowPass = 0;
    /** Seconds between samples, for raw input. */
    float timeSpacing = 0;
    float speedOfSound = 0;
    /** y is depth in mm, not time. */
    bool spatialInput = false;
  };
  vexa::Image::Pointer Bandpass(vexa::PhotoacousticFilterService &service,
                                const vexa::Image::Pointer &image,
                                const BandpassValues &values);

  /** The B-mode filter, then, unless `depthSpacing` (mm) is 0, resampling in depth to it; x keeps its spacing. */
  vexa::Image::Pointer BMode(vexa::PhotoacousticFilterService &service,
                             const vexa::Image::Pointer &image,
                             vexa::PhotoacousticFilterService::BModeMethod method,
                             bool logCompression,
                             double depthSpacing);
}

#endif
