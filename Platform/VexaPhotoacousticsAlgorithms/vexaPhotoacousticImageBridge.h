#ifndef vexaPhotoacousticImageBridge_h
#define vexaPhotoacousticImageBridge_h

// Between toolkit images and the kernels' plain volumes; used inside this
// library only.

#include "vexaSampleVolume.h"

#include <vexaImage.h>
#include <vexaPoint.h>
#include <vexaVector.h>

#include <string>

namespace vexa
{
  namespace PhotoacousticImageBridge
  {
    /**
     * The pixels of a scalar image of one to three dimensions and one time
     * step, converted to float. Throws vexa::Exception naming `operation`
     * when the image is null, not initialised, without pixels, not scalar or
     * has several time steps.
     */
    SampleVolume ToVolume(const Image *image, const std::string &operation);

    /** The input's spacing and origin (the geometry of time step 0). */
    Vector3D SpacingOf(const Image *image);
    Point3D OriginOf(const Image *image);

    /**
     * A new float image holding the volume, with the given spacing and
     * origin and the direction of `reference`. It has the reference's number
     * of dimensions (at least two, three when the volume has several frames).
     */
    Image::Pointer ToImage(const SampleVolume &volume,
                           const Image *reference,
                           const Vector3D &spacing,
                           const Point3D &origin);

    /** The same with the reference's spacing and origin. */
    Image::Pointer ToImage(const SampleVolume &volume, const Image *reference);
  }
}

#endif
