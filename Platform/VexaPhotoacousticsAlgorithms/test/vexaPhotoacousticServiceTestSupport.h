#ifndef vexaPhotoacousticServiceTestSupport_h
#define vexaPhotoacousticServiceTestSupport_h

// Toolkit images for the service tests: made from plain volumes, read back
// into plain volumes.

#include <vexaSampleVolume.h>

#include <vexaBaseGeometry.h>
#include <vexaImage.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelType.h>
#include <vexaPixelTypeTraits.h>

#include <cmath>

namespace vexa
{
  namespace test
  {
    template <class T = float>
    Image::Pointer MakeImage(const SampleVolume &v,
                             double sx,
                             double sy,
                             double sz = 1.0,
                             double ox = 0.0,
                             double oy = 0.0,
                             double oz = 0.0,
                             unsigned int dimension = 0)
    {
      if (dimension == 0)
        dimension = v.nz > 1 ? 3 : 2;
      const unsigned int dims[3] = {v.nx, v.ny, v.nz};
      Image::Pointer image = Image::New();
      image->Initialize(CreateScalarPixelType<T>(), dimension, dims);
      Vector3D spacing;
      spacing[0] = sx;
      spacing[1] = sy;
      spacing[2] = sz;
      Point3D origin;
      origin[0] = ox;
      origin[1] = oy;
      origin[2] = oz;
      image->GetGeometry(0)->SetSpacing(spacing);
      image->GetGeometry(0)->SetOrigin(origin);
      ImageWriteAccessor access(image);
      T *dst = static_cast<T *>(access.GetData());
      for (std::size_t i = 0; i < v.data.size(); ++i)
        dst[i] = static_cast<T>(std::is_integral<T>::value ? std::lround(v.data[i]) : v.data[i]);
      return image;
    }

    /** The pixels of a float image. */
    inline SampleVolume ReadVolume(const Image *image)
    {
      SampleVolume v(image->GetDimension(0), image->GetDimension(1), image->GetDimension(2));
      ImageReadAccessor access(image);
      const float *src = static_cast<const float *>(access.GetData());
      std::copy(src, src + v.data.size(), v.data.begin());
      return v;
    }
  }
}

#endif
