#ifndef vexaRawPhotoacousticPhantom_h
#define vexaRawPhotoacousticPhantom_h

// A phantom for judging beamformed images: the array of the raw sample (128
// elements, pitch 0.3 mm, 40 MHz) listening for 2048 samples to five point
// absorbers of equal strength between 5 and 35 mm deep in a medium of
// 1540 m/s, with 1 / distance spreading (1 at 10 mm) and a little noise (see
// RawPhotoacousticRecording). Four lie inside the field; the fifth lies
// 0.6 mm inside the array's end, where only half an aperture sees it.
//
// The absorbers sit on the lines Kestrol reconstructs (one per element,
// x = e * pitch) so that a peak can land exactly on them, and between the
// depths at which Kestrol's aperture (27 degrees) takes in the next pair of
// elements (every 0.3 mm / tan(13.5 degrees) = 1.25 mm): a point right on
// such a step would have the two halves of its pulse seen by different
// numbers of elements.

#include "vexaRawPhotoacousticRecording.h"
#include "vexaRawPhotoacousticSample.h"

#include <vexaImageReadAccessor.h>

#include <limits>

namespace vexa
{
  struct RawPhotoacousticPhantom
  {
    // the sample's array, listening twice as long
    static constexpr unsigned int Elements = RawPhotoacousticSample::Elements;
    static constexpr double PitchMm = RawPhotoacousticSample::PitchMm;
    static constexpr double SampleTimeUs = RawPhotoacousticSample::SampleTimeUs;
    static constexpr unsigned int Samples = 2048;
    static constexpr double SpeedOfSound = 1540.0;

    using Source = RawPhotoacousticRecording::Source;

    /** The absorbers inside the field, from the shallowest to the deepest. */
    static std::vector<Source> InnerAbsorbers()
    {
      return {{8.1, 5.6, 1.0}, {30.0, 12.0, 1.0}, {14.1, 20.6, 1.0}, {26.1, 34.4, 1.0}};
    }

    /** The absorber 0.6 mm inside the end of the array (element 127 lies at 38.1 mm). */
    static Source EdgeAbsorber() { return {(Elements - 1) * PitchMm - 0.6, 27.0, 1.0}; }

    static std::vector<Source> Absorbers()
    {
      std::vector<Source> all = InnerAbsorbers();
      all.push_back(EdgeAbsorber());
      return all;
    }

    /** The recording as a float image (one frame). */
    static Image::Pointer Make()
    {
      return RawPhotoacousticRecording::Make(
        {Elements, Samples, PitchMm, SampleTimeUs, SpeedOfSound}, Absorbers(),
        [](double d) { return 10.0 / std::max(d, 1.0); }, 0.005f, 20250301u);
    }

    /** Radius around an absorber within which its peak is looked for (mm). */
    static constexpr double PeakRadiusMm = 1.0;
    /** Pixels at least this far from every absorber are background (mm). */
    static constexpr double BackgroundDistanceMm = 2.5;

    struct Peak
    {
      double value = 0.0;
      double xMm = 0.0, zMm = 0.0; // where it lies
    };

    struct Figures
    {
      std::vector<Peak> absorbers; // in the order of Absorbers()
      Peak background;             // the brightest pixel farther than BackgroundDistanceMm from every absorber

      /** Peak of absorber i over the brightest background pixel. */
      double Contrast(std::size_t i) const { return absorbers[i].value / background.value; }
    };

    /**
     * The peaks of a reconstructed image of the phantom (float, first frame; its
     * spacing and origin in mm place the pixels, x from the centre of element 0,
     * y the depth) and of its background.
     */
    static Figures Measure(const Image *image)
    {
      const unsigned int nx = image->GetDimension(0), ny = image->GetDimension(1);
      const auto spacing = image->GetGeometry(0)->GetSpacing();
      const auto origin = image->GetGeometry(0)->GetOrigin();
      ImageReadAccessor access(image);
      const float *pixels = static_cast<const float *>(access.GetData());
      const std::vector<Source> absorbers = Absorbers();
      Figures f;
      f.absorbers.assign(absorbers.size(), Peak{-std::numeric_limits<double>::infinity(), 0.0, 0.0});
      f.background.value = -std::numeric_limits<double>::infinity();
      auto raise = [](Peak &peak, double value, double x, double z) {
        if (value > peak.value)
          peak = Peak{value, x, z};
      };
      for (unsigned int y = 0; y < ny; ++y)
        for (unsigned int x = 0; x < nx; ++x)
        {
          const double xMm = origin[0] + x * spacing[0], zMm = origin[1] + y * spacing[1];
          const double value = pixels[static_cast<std::size_t>(y) * nx + x];
          bool background = true;
          for (std::size_t i = 0; i < absorbers.size(); ++i)
          {
            const double d = std::hypot(xMm - absorbers[i].xMm, zMm - absorbers[i].zMm);
            if (d <= PeakRadiusMm)
              raise(f.absorbers[i], value, xMm, zMm);
            background = background && d > BackgroundDistanceMm;
          }
          if (background)
            raise(f.background, value, xMm, zMm);
        }
      return f;
    }
  };
}

#endif
