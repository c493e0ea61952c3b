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

void vexa::BeamformingSimd::DasBaseline(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n)
{
  for (unsigned int s = 0; s < n; ++s)
  {
    const float w = rows.weight[s];
    rows.ws[s] += w > 0.0f ? w * Sample(channel, lastPair, rows.delay[s]) : 0.0f;
  }
}

void vexa::BeamformingSimd::DmasBaseline(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n)
{
  for (unsigned int s = 0; s < n; ++s)
  {
    const float w = rows.weight[s];
    const float ws = w > 0.0f ? w * Sample(channel, lastPair, rows.delay[s]) : 0.0f;
    const float mag = std::fabs(ws);
    if (rows.ws)
      rows.ws[s] += ws;
    rows.r[s] += std::copysign(std::sqrt(mag), ws);
    rows.r2[s] += mag;
  }
}
