#include "vexaBeamformingSimd.h"

#include <cmath>

// The loops for any x86-64 (or other) processor; the reference for the
// vector versions.

namespace
{
  inline float Sample(const float *channel, unsigned int lastPair, float t)
  {
    unsigned int i = static_cast<unsigned int>(t);
    if (i > lastPair)
      i = lastPair;
    return channel[i] + (channel[i + 1] - channel[i]) * (t - static_cast<float>(i));
  }
}

namespace
{
  template <bool Roots>
  void Block(const vexa::BeamformingSimd::Track *tracks,
             const unsigned int *from,
             unsigned int count,
             unsigned int lastPair,
             const vexa::BeamformingSimd::BlockSums &sums,
             unsigned int n)
  {
    using namespace vexa::BeamformingSimd;
    unsigned int active = 0;
    for (unsigned int s0 = 0; s0 < n; s0 += Lanes)
    {
      while (active < count && from[active] <= s0)
        ++active;
      // a track's rows one after the other (its delays and samples are neighbours), each row's sums apart
      float ws[Lanes] = {};
      double r[Lanes] = {}, r2[Lanes] = {};
      for (unsigned int k0 = 0; k0 < active; k0 += FloatGroup)
      {
        const unsigned int k1 = k0 + FloatGroup < active ? k0 + FloatGroup : active;
        float rf[Lanes] = {}, r2f[Lanes] = {};
        for (unsigned int k = k0; k < k1; ++k)
        {
          const Track &t = tracks[k];
          for (unsigned int i = 0; i < Lanes; ++i)
          {
            const float w = t.weight[s0 + i];
            const float v = w > 0.0f ? w * Sample(t.channel, lastPair, t.delay[s0 + i]) : 0.0f;
            ws[i] += v;
            if (Roots)
            {
              const float mag = std::fabs(v);
              rf[i] += std::copysign(std::sqrt(mag), v);
              r2f[i] += mag;
            }
          }
        }
        if (Roots)
          for (unsigned int i = 0; i < Lanes; ++i)
          {
            r[i] += rf[i];
            r2[i] += r2f[i];
          }
      }
      for (unsigned int i = 0; i < Lanes; ++i)
      {
        if (sums.ws)
          sums.ws[s0 + i] += ws[i];
        if (Roots)
        {
          sums.r[s0 + i] += r[i];
          sums.r2[s0 + i] += r2[i];
        }
      }
    }
  }
}

void vexa::BeamformingSimd::DasBaseline(const Track *tracks,
                                        const unsigned int *from,
                                        unsigned int count,
                                        unsigned int lastPair,
                                        const BlockSums &sums,
                                        unsigned int n)
{
  Block<false>(tracks, from, count, lastPair, sums, n);
}

void vexa::BeamformingSimd::DmasBaseline(const Track *tracks,
                                         const unsigned int *from,
                                         unsigned int count,
                                         unsigned int lastPair,
                                         const BlockSums &sums,
                                         unsigned int n)
{
  Block<true>(tracks, from, count, lastPair, sums, n);
}
