#ifndef PAImageProcessingTestSupport_h
#define PAImageProcessingTestSupport_h

// Images and a stand-in workbench for the processing view's tests; the
// workbench's own test images and nodes come with it.

#include <QvexaViewHost.h>

#include <vexaWorkbenchTestSupport.h>

#include <vexaBaseGeometry.h>
#include <vexaDataNode.h>
#include <vexaDataStorage.h>
#include <vexaImage.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelType.h>
#include <vexaPixelTypeTraits.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace vexa
{
  namespace test
  {
    /**
     * Raw photoacoustic data of one point absorber, as a linear array records
     * it: `elements` columns of pitch `pitchMm`, `samples` rows of `sampleUs`
     * microseconds, `frames` equal frames; the absorber at (xMm, zMm) in a
     * medium of 1540 m/s sends the bipolar pulse of a small sphere.
     */
    inline Image::Pointer MakePointAbsorber(unsigned int elements = 128,
                                            unsigned int samples = 1024,
                                            double xMm = 19.2,
                                            double zMm = 15.0,
                                            unsigned int frames = 1,
                                            double pitchMm = 0.3,
                                            double sampleUs = 0.025)
    {
      const double speedOfSound = 1540.0;
      std::vector<float> frame(static_cast<std::size_t>(elements) * samples, 0.0f);
      for (unsigned int e = 0; e < elements; ++e)
      {
        const double d = std::hypot(e * pitchMm - xMm, zMm);
        const double arrivalUs = d / speedOfSound * 1000.0;
        for (unsigned int i = 0; i < samples; ++i)
        {
          const double u = (i * sampleUs - arrivalUs) / 0.05;
          if (std::fabs(u) < 8.0)
            frame[static_cast<std::size_t>(i) * elements + e] =
              static_cast<float>(-u * std::exp(-0.5 * u * u) / std::sqrt(std::max(d, 1.0)));
        }
      }
      const unsigned int dims[3] = {elements, samples, frames};
      Image::Pointer image = Image::New();
      image->Initialize(CreateScalarPixelType<float>(), frames > 1 ? 3 : 2, dims);
      Vector3D spacing;
      spacing[0] = pitchMm;
      spacing[1] = sampleUs;
      spacing[2] = 1.0;
      image->GetGeometry(0)->SetSpacing(spacing);
      ImageWriteAccessor access(image);
      auto *dst = static_cast<float *>(access.GetData());
      for (unsigned int f = 0; f < frames; ++f)
        std::copy(frame.begin(), frame.end(), dst + static_cast<std::size_t>(f) * frame.size());
      return image;
    }

    /** A float image of the sizes and spacing, values rising along x. */
    inline Image::Pointer MakeRamp(unsigned int nx, unsigned int ny, unsigned int nz, double sx, double sy)
    {
      const unsigned int dims[3] = {nx, ny, nz};
      Image::Pointer image = Image::New();
      image->Initialize(CreateScalarPixelType<float>(), nz > 1 ? 3 : 2, dims);
      Vector3D spacing;
      spacing[0] = sx;
      spacing[1] = sy;
      spacing[2] = 1.0;
      image->GetGeometry(0)->SetSpacing(spacing);
      ImageWriteAccessor access(image);
      auto *dst = static_cast<float *>(access.GetData());
      for (std::size_t i = 0; i < static_cast<std::size_t>(nx) * ny * nz; ++i)
        dst[i] = static_cast<float>(i % nx);
      return image;
    }

    /** The row and column of the largest value of frame 0 of a float image. */
    inline std::pair<unsigned int, unsigned int> PeakOf(const Image *image)
    {
      ImageReadAccessor access(image);
      const auto *src = static_cast<const float *>(access.GetData());
      const std::size_t n = static_cast<std::size_t>(image->GetDimension(0)) * image->GetDimension(1);
      const std::size_t at = std::max_element(src, src + n) - src;
      return {static_cast<unsigned int>(at / image->GetDimension(0)),
              static_cast<unsigned int>(at % image->GetDimension(0))};
    }

    /** What the workbench lends a view: a data storage and a selection the test sets. */
    class TestViewHost : public QvexaViewHost
    {
    public:
      DataStorage::Pointer GetDataStorage() const override { return m_Storage; }
      QList<DataNode::Pointer> GetDataManagerSelection() const override { return m_Selection; }
      IRenderWindowPart *GetRenderWindowPart() const override { return nullptr; }

      DataStorage::Pointer m_Storage = DataStorage::New();
      QList<DataNode::Pointer> m_Selection;
    };
  }
}

#endif
