#ifndef vexaBeamformingTestSupport_h
#define vexaBeamformingTestSupport_h

// Synthetic raw data and a plain per-pixel reference reconstruction, shared by
// the kernel tests and the benchmark. The reference follows the documented
// geometry of BeamformingKernel literally, in double precision, one pixel at a
// time, so the optimised kernel can be checked against it.

#include <vexaBeamformingKernel.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace vexa
{
  namespace test
  {
    constexpr double Pi = 3.14159265358979323846;

    struct Absorber
    {
      double x = 0.0; // m, relative to the centre of element 0
      double z = 0.0; // m, depth
      double amplitude = 1.0;
    };

    /**
     * Raw channel data of point absorbers: element e receives a Gaussian pulse
     * (sigma in samples) at t = distance / c (photoacoustic) or
     * t = (depth + distance) / c (pulse-echo, plane wave sent straight down).
     */
    inline SampleVolume PointAbsorberFrame(unsigned int elements,
                                           unsigned int samples,
                                           double pitch,
                                           double speedOfSound,
                                           double timeSpacing,
                                           const std::vector<Absorber> &absorbers,
                                           bool photoacoustic = true,
                                           double sigmaSamples = 2.0)
    {
      SampleVolume raw(elements, samples, 1);
      for (const Absorber &a : absorbers)
        for (unsigned int e = 0; e < elements; ++e)
        {
          const double d = std::hypot(e * pitch - a.x, a.z);
          const double t = (photoacoustic ? d : a.z + d) / speedOfSound / timeSpacing;
          for (unsigned int i = 0; i < samples; ++i)
          {
            const double u = (i - t) / sigmaSamples;
            raw.At(e, i, 0) += static_cast<float>(a.amplitude * std::exp(-0.5 * u * u));
          }
        }
      return raw;
    }

    inline SampleVolume RandomVolume(unsigned int nx, unsigned int ny, unsigned int nz, unsigned int seed)
    {
      SampleVolume v(nx, ny, nz);
      std::mt19937 gen(seed);
      std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
      for (float &x : v.data)
        x = dist(gen);
      return v;
    }

    inline double WindowWeight(const std::vector<float> &table, double u)
    {
      if (table.size() == 1)
        return table[0];
      const double pos = std::min(std::max(u, 0.0), 1.0) * (table.size() - 1);
      const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(pos), table.size() - 2);
      return table[k] + (table[k + 1] - table[k]) * (pos - k);
    }

    /** The weight of the whole array with the window laid over it (W of BeamformingKernel). */
    inline double ArrayWeight(const BeamformingKernel::Parameters &p, unsigned int elements)
    {
      const std::vector<float> table = BeamformingKernel::MakeWindow(p.window, p.windowSize);
      double sum = 0.0;
      for (unsigned int e = 0; e < elements; ++e)
        sum += WindowWeight(table, (e + 0.5) / elements);
      return sum;
    }

    /**
     * The reference: for every pixel, every element, the delay, the angle test,
     * the window weight and the linearly interpolated sample; DMAS either by
     * the explicit loop over all pairs (pairLoop) or by the one-pass identity.
     */
    inline SampleVolume ReferenceBeamform(const SampleVolume &raw,
                                          const BeamformingKernel::Parameters &p,
                                          bool pairLoop = false)
    {
      using Algorithm = BeamformingKernel::Algorithm;
      const std::vector<float> table = BeamformingKernel::MakeWindow(p.window, p.windowSize);
      const double sx = raw.nx * p.pitch / p.lines;
      const double dz = p.depth / p.samplesPerLine;
      const bool limited = p.angle < 180.0;
      const double tanHalf = std::tan(p.angle * 0.5 * Pi / 180.0);
      const double arrayWeight = ArrayWeight(p, raw.nx);
      SampleVolume out(p.lines, p.samplesPerLine, raw.nz);
      std::vector<double> w, v;
      for (unsigned int f = 0; f < raw.nz; ++f)
        for (unsigned int l = 0; l < p.lines; ++l)
          for (unsigned int s = 0; s < p.samplesPerLine; ++s)
          {
            const double xl = -0.5 * p.pitch + (l + 0.5) * sx;
            const double z = s * dz;
            const double h = limited ? std::max(z * tanHalf, 0.5 * p.pitch) : raw.nx * p.pitch;
            w.clear();
            v.clear();
            for (unsigned int e = 0; e < raw.nx; ++e)
            {
              const double dx = e * p.pitch - xl;
              if (std::fabs(dx) > h)
                continue;
              const double d = std::sqrt(dx * dx + z * z);
              const double t = (p.photoacoustic ? d : z + d) / p.speedOfSound / p.timeSpacing;
              if (t > raw.ny - 1.0)
                continue;
              double value;
              if (raw.ny == 1)
                value = raw.At(e, 0, f);
              else
              {
                const unsigned int i0 = std::min<unsigned int>(static_cast<unsigned int>(t), raw.ny - 2);
                value = raw.At(e, i0, f) + (raw.At(e, i0 + 1, f) - raw.At(e, i0, f)) * (t - i0);
              }
              const double weight = WindowWeight(table, 0.5 + dx / (2.0 * h));
              if (weight <= 0.0)
                continue;
              w.push_back(weight);
              v.push_back(value);
            }
            double das = 0.0, sumW = 0.0;
            for (std::size_t i = 0; i < w.size(); ++i)
            {
              das += w[i] * v[i];
              sumW += w[i];
            }
            double result = 0.0;
            if (p.algorithm == Algorithm::DAS)
              result = das / arrayWeight;
            else if (w.size() >= 2)
            {
              double pairs = 0.0, pairWeights = 0.0;
              if (pairLoop)
              {
                for (std::size_t i = 0; i < w.size(); ++i)
                  for (std::size_t j = i + 1; j < w.size(); ++j)
                  {
                    const double prod = w[i] * v[i] * w[j] * v[j];
                    pairs += (prod > 0 ? 1 : (prod < 0 ? -1 : 0)) * std::sqrt(std::fabs(prod));
                    pairWeights += std::sqrt(w[i] * w[j]);
                  }
              }
              else
              {
                double sr = 0.0, sr2 = 0.0, ssw = 0.0;
                for (std::size_t i = 0; i < w.size(); ++i)
                {
                  const double ws = w[i] * v[i];
                  sr += std::copysign(std::sqrt(std::fabs(ws)), ws);
                  sr2 += std::fabs(ws);
                  ssw += std::sqrt(w[i]);
                }
                pairs = (sr * sr - sr2) / 2.0;
                pairWeights = (ssw * ssw - sumW) / 2.0;
              }
              result = pairWeights > 0.0 ? pairs / pairWeights * sumW / arrayWeight : 0.0;
              if (p.algorithm == Algorithm::sDMAS)
                result = das > 0 ? result : (das < 0 ? -result : 0.0);
            }
            out.At(l, s, f) = static_cast<float>(result);
          }
      return out;
    }

    struct Peak
    {
      unsigned int line = 0;
      unsigned int row = 0;
      float value = 0.0f;
    };

    inline Peak FindPeak(const SampleVolume &v, unsigned int frame = 0)
    {
      Peak best;
      best.value = -std::numeric_limits<float>::infinity();
      for (unsigned int y = 0; y < v.ny; ++y)
        for (unsigned int x = 0; x < v.nx; ++x)
          if (v.At(x, y, frame) > best.value)
            best = Peak{x, y, v.At(x, y, frame)};
      return best;
    }
  }
}

#endif
