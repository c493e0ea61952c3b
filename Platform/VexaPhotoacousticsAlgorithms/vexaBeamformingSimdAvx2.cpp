#include "vexaBeamformingSimd.h"

#include <immintrin.h>

// 8 rows per step (two per 16-row unit). The neighbours come from two loads
// of 16 consecutive samples, two in-register permutes and a blend when the 8
// rows reach back no further than 15 samples; otherwise from two gathers of
// (sample, next sample) pairs as 64-bit values.

namespace
{
  inline __m256 Pick(__m256 v0, __m256 v1, __m256i rel)
  {
    const __m256 high = _mm256_castsi256_ps(_mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7)));
    return _mm256_blendv_ps(_mm256_permutevar8x32_ps(v0, rel), _mm256_permutevar8x32_ps(v1, rel), high);
  }

  inline __m256 WeightedSample(const float *channel, unsigned int lastPair, const float *delay, __m256 w, __m256 on)
  {
    const __m256 t = _mm256_loadu_ps(delay);
    const __m256i i = _mm256_min_epi32(_mm256_cvttps_epi32(t), _mm256_set1_epi32(static_cast<int>(lastPair)));
    const __m256 f = _mm256_sub_ps(t, _mm256_cvtepi32_ps(i));
    unsigned int base = static_cast<unsigned int>(delay[0]);
    if (base > lastPair)
      base = lastPair;
    const __m256i rel = _mm256_sub_epi32(i, _mm256_set1_epi32(static_cast<int>(base)));
    const __m256i limit = _mm256_set1_epi32(14);
    __m256 a, b;
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_max_epu32(rel, limit), limit)) == -1)
    {
      const __m256 v0 = _mm256_loadu_ps(channel + base);
      const __m256 v1 = _mm256_loadu_ps(channel + base + 8);
      a = Pick(v0, v1, rel);
      b = Pick(v0, v1, _mm256_add_epi32(rel, _mm256_set1_epi32(1)));
    }
    else
    {
      const __m256d p0 = _mm256_i32gather_pd(reinterpret_cast<const double *>(channel), _mm256_castsi256_si128(i), 4);
      const __m256d p1 =
        _mm256_i32gather_pd(reinterpret_cast<const double *>(channel), _mm256_extracti128_si256(i, 1), 4);
      // (a0 b0 a1 b1 | a2 b2 a3 b3), (a4 b4 a5 b5 | a6 b6 a7 b7)
      const __m256 lo = _mm256_castpd_ps(p0), hi = _mm256_castpd_ps(p1);
      a = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(lo, hi, 0x88)), 0xD8));
      b = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(lo, hi, 0xDD)), 0xD8));
    }
    const __m256 v = _mm256_fmadd_ps(_mm256_sub_ps(b, a), f, a);
    return _mm256_and_ps(_mm256_mul_ps(w, v), on);
  }

  /** Adds the 8 floats of v to the double sums lo (first 4) and hi. */
  inline void AddWide(__m256d &lo, __m256d &hi, __m256 v)
  {
    lo = _mm256_add_pd(lo, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
    hi = _mm256_add_pd(hi, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
  }

  inline void AddTo(double *sum, __m256d v) { _mm256_storeu_pd(sum, _mm256_add_pd(_mm256_loadu_pd(sum), v)); }

  // WithDas: also the plain weighted sum (sDMAS takes its sign)
  template <bool WithDas>
  void DmasBlock(const vexa::BeamformingSimd::Track *tracks,
                 const unsigned int *from,
                 unsigned int count,
                 unsigned int lastPair,
                 const vexa::BeamformingSimd::BlockSums &sums,
                 unsigned int n)
  {
    constexpr unsigned int Group = vexa::BeamformingSimd::FloatGroup;
    const __m256 signBit = _mm256_set1_ps(-0.0f);
    unsigned int active = 0;
    for (unsigned int s = 0; s < n; s += 8)
    {
      while (active < count && from[active] <= s)
        ++active;
      __m256 ws = _mm256_setzero_ps();
      __m256d r0 = _mm256_setzero_pd(), r1 = r0, q0 = r0, q1 = r0;
      for (unsigned int k0 = 0; k0 < active; k0 += Group)
      {
        const unsigned int k1 = k0 + Group < active ? k0 + Group : active;
        __m256 r = _mm256_setzero_ps(), q = _mm256_setzero_ps();
        for (unsigned int k = k0; k < k1; ++k)
        {
          const vexa::BeamformingSimd::Track &t = tracks[k];
          const __m256 w = _mm256_loadu_ps(t.weight + s);
          const __m256 on = _mm256_cmp_ps(w, _mm256_setzero_ps(), _CMP_GT_OQ);
          const __m256 v = WeightedSample(t.channel, lastPair, t.delay + s, w, on);
          const __m256 mag = _mm256_andnot_ps(signBit, v);
          if (WithDas)
            ws = _mm256_add_ps(ws, v);
          r = _mm256_add_ps(r, _mm256_or_ps(_mm256_sqrt_ps(mag), _mm256_and_ps(v, signBit)));
          q = _mm256_add_ps(q, mag);
        }
        AddWide(r0, r1, r);
        AddWide(q0, q1, q);
      }
      if (WithDas)
        _mm256_storeu_ps(sums.ws + s, _mm256_add_ps(_mm256_loadu_ps(sums.ws + s), ws));
      AddTo(sums.r + s, r0);
      AddTo(sums.r + s + 4, r1);
      AddTo(sums.r2 + s, q0);
      AddTo(sums.r2 + s + 4, q1);
    }
  }
}

void vexa::BeamformingSimd::DasAvx2(const Track *tracks,
                                    const unsigned int *from,
                                    unsigned int count,
                                    unsigned int lastPair,
                                    const BlockSums &sums,
                                    unsigned int n)
{
  unsigned int active = 0;
  for (unsigned int s = 0; s < n; s += 8)
  {
    while (active < count && from[active] <= s)
      ++active;
    __m256 ws = _mm256_setzero_ps();
    for (unsigned int k = 0; k < active; ++k)
    {
      const Track &t = tracks[k];
      const __m256 w = _mm256_loadu_ps(t.weight + s);
      const __m256 on = _mm256_cmp_ps(w, _mm256_setzero_ps(), _CMP_GT_OQ);
      ws = _mm256_add_ps(ws, WeightedSample(t.channel, lastPair, t.delay + s, w, on));
    }
    _mm256_storeu_ps(sums.ws + s, _mm256_add_ps(_mm256_loadu_ps(sums.ws + s), ws));
  }
}

void vexa::BeamformingSimd::DmasAvx2(const Track *tracks,
                                     const unsigned int *from,
                                     unsigned int count,
                                     unsigned int lastPair,
                                     const BlockSums &sums,
                                     unsigned int n)
{
  if (sums.ws)
    DmasBlock<true>(tracks, from, count, lastPair, sums, n);
  else
    DmasBlock<false>(tracks, from, count, lastPair, sums, n);
}
