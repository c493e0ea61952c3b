#ifndef vexaPhotoacousticImageBridge_h
#define vexaPhotoacousticImageBridge_h

// Between toolkit images and the kernels' plain volumes; used inside this
// library only.

#include "vexaSampleVolume.h"

#include <vexaImage.h>
#include <vexaImageReadAccessor.h>
#include <vexaPoint.h>
#include <vexaVector.h>

#include <memory>
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

    /**
     * The pixels of such an image as floats, without a copy when it holds
     * floats already (the image is then read-locked while this object
     * lives), converted otherwise. Throws like ToVolume.
     */
    class FloatPixels
    {
    public:
      FloatPixels(const Image *image, const std::string &operation);
      ~FloatPixels();
      FloatPixels(const FloatPixels &) = delete;
      FloatPixels &operator=(const FloatPixels &) = delete;
      const float *Data() const { return m_Data; }
      unsigned int nx = 0, ny = 0, nz = 0;

    private:
      SampleVolume m_Copy;
      std::unique_ptr<ImageReadAccessor> m_Access;
      const float *m_Data = nullptr;
    };

    /**
     * A new float image of nx x ny x nz pixels with the given spacing and
     * origin and the direction of `reference`, of the reference's number of
     * dimensions (at least two, three when there are several frames). Its
     * pixels are for the caller to fill.
     */
    Image::Pointer NewImage(unsigned int nx,
                            unsigned int ny,
                            unsigned int nz,
                            const Image *reference,
                            const Vector3D &spacing,
                            const Point3D &origin);

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
