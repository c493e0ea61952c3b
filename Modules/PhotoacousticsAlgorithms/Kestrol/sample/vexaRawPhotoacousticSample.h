#ifndef vexaRawPhotoacousticSample_h
#define vexaRawPhotoacousticSample_h

// A small raw photoacoustic recording made from scratch, the same on every
// machine: a linear array of 128 elements (pitch 0.3 mm) sampled at 40 MHz
// for 1024 samples, listening to a few point absorbers and a short vessel-like
// row of absorbers in a medium of 1500 m/s (Kestrol's default speed of sound),
// with 1 / sqrt(distance) spreading and a little noise (see
// RawPhotoacousticRecording).

#include "vexaRawPhotoacousticRecording.h"

namespace vexa
{
  struct RawPhotoacousticSample
  {
    static constexpr unsigned int Elements = 128;
    static constexpr unsigned int Samples = 1024;
    static constexpr double PitchMm = 0.3;
    static constexpr double SampleTimeUs = 0.025;
    static constexpr double SpeedOfSound = 1500.0;

    using Source = RawPhotoacousticRecording::Source;

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
      return RawPhotoacousticRecording::Make(
        {Elements, Samples, PitchMm, SampleTimeUs, SpeedOfSound}, Sources(),
        [](double d) { return 1.0 / std::sqrt(std::max(d, 1.0)); }, 0.002f, 20240611u);
    }
  };
}

#endif
