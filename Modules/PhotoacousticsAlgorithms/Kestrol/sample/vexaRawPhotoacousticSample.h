#ifndef vexaRawPhotoacousticSample_h
#define vexaRawPhotoacousticSample_h

// A small raw photoacoustic recording made from scratch, the same on every
// machine: a linear array of 128 elements (pitch 0.3 mm) sampled at 40 MHz
// for 1024 samples, listening to a few point absorbers and a short vessel-like
// row of absorbers in a medium of 1500 m/s (Kestrol's default speed of sound).
// Each absorber sends the bipolar pulse of a small sphere (the derivative of
// a Gaussian); the elements add a little seeded noise.
//
// Image axes as Kestrol reads them: x = element (spacing: pitch in mm),
// y = time sample (spacing: microseconds per sample).

#include <vexaBaseGeometry.h>
#include <vexaImage.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelType.h>
#include <vexaPixelTypeTraits.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace vexa
{
  struct RawPhotoacousticSample
  {
    static constexpr unsigned int Elements = 128;
    static constexpr unsigned int Samples = 1024;
    static constexpr double PitchMm = 0.3;
    static constexpr double SampleTimeUs = 0.025;
    static constexpr double SpeedOfSound = 1500.0;

    struct Source
    {
      double xMm; // lateral, from element 0
      double zMm; // depth
      double amplitude;
    };

    static std::vector<Source> Sources()
    {
      std::vector<Source> s = {{10.0, 8.0, 1.0}, {19.0, 15.0, 0.8}, {28.0, 22.0, 0.6}, {9.0, 30.0, 0.7}};
      for (int i = 0; i < 9; ++i) // a vessel crossing the field at an angle
        s.push_back({22.0 + 0.5 * i, 10.0 + 0.3 * i, 0.35});
      return s;
    }

    /** The recording as a float image (one frame). */
    static Image::Pointer Make()
    {
      std::vector<float> data(static_cast<std::size_t>(Elements) * Samples, 0.0f);
      const double sigmaUs = 0.05;
      for (const Source &src : Sources())
        for (unsigned int e = 0; e < Elements; ++e)
        {
          const double d = std::hypot(e * PitchMm - src.xMm, src.zMm); // mm
          const double arrivalUs = d / SpeedOfSound * 1000.0;          // mm / (m/s) = ms; * 1000 = us
          const double spreading = 1.0 / std::sqrt(std::max(d, 1.0));
          for (unsigned int i = 0; i < Samples; ++i)
          {
            const double u = (i * SampleTimeUs - arrivalUs) / sigmaUs;
            if (std::fabs(u) > 8.0)
              continue;
            data[static_cast<std::size_t>(i) * Elements + e] +=
              static_cast<float>(-src.amplitude * spreading * u * std::exp(-0.5 * u * u));
          }
        }
      std::mt19937 noise(20240611u);
      std::normal_distribution<float> gauss(0.0f, 0.002f);
      for (float &v : data)
        v += gauss(noise);

      const unsigned int dims[2] = {Elements, Samples};
      Image::Pointer image = Image::New();
      image->Initialize(CreateScalarPixelType<float>(), 2, dims);
      Vector3D spacing;
      spacing[0] = PitchMm;
      spacing[1] = SampleTimeUs;
      spacing[2] = 1.0;
      image->GetGeometry(0)->SetSpacing(spacing);
      ImageWriteAccessor access(image);
      std::copy(data.begin(), data.end(), static_cast<float *>(access.GetData()));
      return image;
    }
  };
}

#endif
