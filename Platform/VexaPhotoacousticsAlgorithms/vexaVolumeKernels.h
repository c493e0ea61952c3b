#ifndef vexaVolumeKernels_h
#define vexaVolumeKernels_h

#include "VexaPhotoacousticsAlgorithmsExports.h"
#include "vexaSampleVolume.h"

namespace vexa
{
  /** Geometry operations on plain volumes: cropping and resampling along y. */
  class VEXAPHOTOACOUSTICSALGORITHMS_EXPORT VolumeKernels
  {
  public:
    /**
     * Removes `top` rows at the start of y and `bottom` at its end, `left`
     * columns at the start of x and `right` at its end, `first` frames at the
     * start of z and `last` at its end. Throws vexa::Exception when a count is
     * negative or a dimension would keep nothing.
     */
    static SampleVolume Crop(const SampleVolume &in, int top, int bottom, int left, int right, int first, int last);

    /**
     * Linear resampling along y from `inSpacing` to `outSpacing` (any unit,
     * the same for both). The first row stays where it is; the output holds
     * every row at i * outSpacing that lies within the input's rows, the last
     * one included, so a whole multiple of the spacing is met exactly:
     * rows = floor((ny - 1) * inSpacing / outSpacing) + 1. Throws
     * vexa::Exception for a non-positive or non-finite spacing, an empty
     * volume or an output too large to hold.
     */
    static SampleVolume ResampleY(const SampleVolume &in, double inSpacing, double outSpacing);

    /** The number of rows ResampleY makes. */
    static unsigned long long ResampledRows(unsigned int ny, double inSpacing, double outSpacing);
  };
}

#endif
