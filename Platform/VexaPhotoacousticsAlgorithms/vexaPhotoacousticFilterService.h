#ifndef vexaPhotoacousticFilterService_h
#define vexaPhotoacousticFilterService_h

#include "VexaPhotoacousticsAlgorithmsExports.h"
#include "vexaBeamformingSettings.h"

#include <vexaCommon.h>
#include <vexaImage.h>

#include <itkObject.h>

#include <functional>
#include <string>

namespace vexa
{
  /**
   * The photoacoustic processing steps on toolkit images. Every operation
   * takes an image of any scalar pixel type, leaves it untouched and returns
   * a new float image; bad input is refused with a vexa::Exception whose text
   * says what is wrong. The service holds no state, so one object may serve
   * several threads at once.
   *
   * Image axes: x (dimension 0), y (dimension 1), frames (dimension 2, each
   * processed on its own). Raw data has transducer elements along x (spacing:
   * pitch in mm) and time along y (spacing: microseconds per sample);
   * beamformed images have millimetres on both axes.
   */
  class VEXAPHOTOACOUSTICSALGORITHMS_EXPORT PhotoacousticFilterService : public itk::Object
  {
  public:
    vexaClassMacroItkParent(PhotoacousticFilterService, itk::Object);
    vexaNewMacro(PhotoacousticFilterService);

    // a fixed underlying type: any int a caller passes is a value, and is checked
    enum BModeMethod : int
    {
      EnvelopeDetection = 0,
      Abs = 1
    };

    /**
     * B-mode image: the envelope of every y line (magnitude of its analytic
     * signal) or the absolute value; with useLogFilter then log-compressed to
     * decibels below the image's maximum, 20 log10(v / vmax), limited below at
     * -120 dB. The geometry stays the input's.
     */
    Image::Pointer ApplyBmodeFilter(Image::Pointer inputImage,
                                    BModeMethod method = EnvelopeDetection,
                                    bool useLogFilter = false);

    /**
     * Linear resampling along y to outputSpacing[1] (mm); outputSpacing[0] is
     * the image's own x spacing, which this resampling keeps (a different one
     * is refused). The first row and the origin stay; the output holds every
     * row that fits within the input's rows.
     */
    Image::Pointer ApplyResampling(Image::Pointer inputImage, const double (&outputSpacing)[2]);

    /**
     * Removes `above` rows at the top (start of y), `below` at the bottom,
     * `left` columns at the start of x and `right` at its end, and
     * `sliceCutStart` and `sliceCutEnd` frames at the start and end of z. The
     * origin moves to the first kept pixel, so the kept pixels stay where
     * they were in the world.
     */
    Image::Pointer ApplyCropping(
      Image::Pointer inputImage, int above, int below, int left, int right, int sliceCutStart, int sliceCutEnd);

    /**
     * Reconstructs every frame of raw channel data (see BeamformingKernel for
     * the geometry, delays, angle limit, apodization and algorithms). The
     * settings' input sizes must be the image's. The output has
     * GetReconstructionLines() columns of spacing elements * pitch / lines
     * and GetSamplesPerLine() rows of spacing depth / samples (both in mm);
     * its first column lies under the aperture's start, its first row at
     * depth 0. Progress goes to the callback on the calling thread: 0 first,
     * then at most once per percent, 100 last.
     */
    Image::Pointer ApplyBeamforming(Image::Pointer inputImage,
                                    BeamformingSettings::Pointer config,
                                    std::function<void(int, std::string)> progressHandle = {});

    /**
     * Band-pass along y between the high-pass cut-off and the low-pass
     * cut-off (both Hz), with Tukey tapers: alphaLowPass tapers the low-pass
     * (upper) edge, alphaHighPass the high-pass (lower) edge, each over its
     * alpha times half the band (see SignalKernels::Bandpass). A cut-off of 0
     * leaves that side open. With isBFImage false y is time and timeSpacing
     * (s) the time between samples; with it true y is depth in mm and a
     * sample step lasts y spacing / 1000 / speedOfSound seconds.
     */
    Image::Pointer ApplyBandpassFilter(Image::Pointer data,
                                       float highPassHz,
                                       float lowPassHz,
                                       float alphaLowPass,
                                       float alphaHighPass,
                                       float timeSpacing,
                                       float speedOfSound,
                                       bool isBFImage);

  protected:
    PhotoacousticFilterService();
    ~PhotoacousticFilterService() override;
  };
}

#endif
