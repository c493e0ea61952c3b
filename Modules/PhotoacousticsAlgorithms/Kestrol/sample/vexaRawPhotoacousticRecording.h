#ifndef vexaRawPhotoacousticRecording_h
#define vexaRawPhotoacousticRecording_h

// What the generated raw recordings share: a linear array listening to point
// absorbers in a medium of one speed of sound. Each absorber sends the bipolar
// pulse of a small sphere (the derivative of a Gaussian) that reaches element e
// after its distance / c, weakened by a spreading law of that distance; the
// elements add seeded Gaussian noise, so every machine makes the same bytes.
//
// Image axes as Kestrol reads them: x = element (spacing: pitch in mm),
// y = time sample (spacing: microseconds per sample); one frame.

#include <vexaBaseGeometry.h>
#include <vexaImage.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelType.h>
#include <vexaPixelTypeTraits.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace vexa
{
  struct RawPhotoacousticRecording
  {
    struct Source
    {
      double xMm; // lateral, from the centre of element 0
      double zMm; // depth
      double amplitude;
    };

    struct Array
    {
      unsigned int elements;
      unsigned int samples;
      double pitchMm;
      double sampleTimeUs;
      double speedOfSound; // m/s
    };

    /**
     * The recording of `sources`; `spreading(d)` scales a pulse that has
     * travelled d mm, the noise has the standard deviation `noise` and is drawn
     * from a generator seeded with `seed`.
     */
    template <typename Spreading>
    static Image::Pointer Make(
      const Array &array, const std::vector<Source> &sources, Spreading spreading, float noise, std::uint32_t seed)
    {
      std::vector<float> data(static_cast<std::size_t>(array.elements) * array.samples, 0.0f);
      const double sigmaUs = 0.05;
      for (const Source &src : sources)
        for (unsigned int e = 0; e < array.elements; ++e)
        {
          const double d = std::hypot(e * array.pitchMm - src.xMm, src.zMm); // mm
          const double arrivalUs = d / array.speedOfSound * 1000.0;          // mm / (m/s) = ms; * 1000 = us
          const double scale = spreading(d);
          for (unsigned int i = 0; i < array.samples; ++i)
          {
            const double u = (i * array.sampleTimeUs - arrivalUs) / sigmaUs;
            if (std::fabs(u) > 8.0)
              continue;
            data[static_cast<std::size_t>(i) * array.elements + e] +=
              static_cast<float>(-src.amplitude * scale * u * std::exp(-0.5 * u * u));
          }
        }
      std::mt19937 generator(seed);
      std::normal_distribution<float> gauss(0.0f, noise);
      for (float &v : data)
        v += gauss(generator);

      const unsigned int dims[2] = {array.elements, array.samples};
      Image::Pointer image = Image::New();
      image->Initialize(CreateScalarPixelType<float>(), 2, dims);
      Vector3D spacing;
      spacing[0] = array.pitchMm;
      spacing[1] = array.sampleTimeUs;
      spacing[2] = 1.0;
      image->GetGeometry(0)->SetSpacing(spacing);
      ImageWriteAccessor access(image);
      std::copy(data.begin(), data.end(), static_cast<float *>(access.GetData()));
      return image;
    }
  };
}

#endif
