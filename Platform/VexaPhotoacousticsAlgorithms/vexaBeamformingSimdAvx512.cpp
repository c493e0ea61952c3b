#include "vexaBeamformingSimd.h"

#include <immintrin.h>

// 16 rows per step. The two neighbours of each row's sample come from two
// loads of 32 consecutive samples and a two-source permute when the 16 rows
// reach back no further than 31 samples (the usual case: the delay grows by
// about one sample per row); otherwise from two gathers of (sample, next
// sample) pairs as 64-bit values.

namespace
{
  inline void Neighbours(
    const float *channel, unsigned int lastPair, const float *delay, __m512 &a, __m512 &b, __m512 &f)
  {
    const __m512 t = _mm512_loadu_ps(delay);
    const __m512i i = _mm512_min_epi32(_mm512_cvttps_epi32(t), _mm512_set1_epi32(static_cast<int>(lastPair)));
    f = _mm512_sub_ps(t, _mm512_cvtepi32_ps(i));
    unsigned int base = static_cast<unsigned int>(delay[0]);
    if (base > lastPair)
      base = lastPair;
    const __m512i rel = _mm512_sub_epi32(i, _mm512_set1_epi32(static_cast<int>(base)));
    if (_mm512_cmpgt_epu32_mask(rel, _mm512_set1_epi32(30)) == 0)
    {
      const __m512 v0 = _mm512_loadu_ps(channel + base);
      const __m512 v1 = _mm512_loadu_ps(channel + base + 16);
      a = _mm512_permutex2var_ps(v0, rel, v1);
      b = _mm512_permutex2var_ps(v0, _mm512_add_epi32(rel, _mm512_set1_epi32(1)), v1);
      return;
    }
    const __m512d p0 = _mm512_i32gather_pd(_mm512_castsi512_si256(i), channel, 4);
    const __m512d p1 = _mm512_i32gather_pd(_mm512_extracti64x4_epi64(i, 1), channel, 4);
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd = _mm512_add_epi32(even, _mm512_set1_epi32(1));
    a = _mm512_permutex2var_ps(_mm512_castpd_ps(p0), even, _mm512_castpd_ps(p1));
    b = _mm512_permutex2var_ps(_mm512_castpd_ps(p0), odd, _mm512_castpd_ps(p1));
  }

  inline __m512 WeightedSample(const float *channel, unsigned int lastPair, const float *delay, __m512 w, __mmask16 on)
  {
    __m512 a, b, f;
    Neighbours(channel, lastPair, delay, a, b, f);
    const __m512 v = _mm512_fmadd_ps(_mm512_sub_ps(b, a), f, a);
    return _mm512_maskz_mul_ps(on, w, v);
  }

  /** Adds the 16 floats of v to the double sums lo (first 8) and hi. */
  inline void AddWide(__m512d &lo, __m512d &hi, __m512 v)
  {
    lo = _mm512_add_pd(lo, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
    hi = _mm512_add_pd(hi, _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1))));
  }

  inline void AddTo(double *sum, __m512d v) { _mm512_storeu_pd(sum, _mm512_add_pd(_mm512_loadu_pd(sum), v)); }

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
    const __m512i signBit = _mm512_set1_epi32(static_cast<int>(0x80000000u));
    unsigned int active = 0;
    for (unsigned int s = 0; s < n; s += 16)
    {
      while (active < count && from[active] <= s)
        ++active;
      __m512 ws = _mm512_setzero_ps();
      __m512d r0 = _mm512_setzero_pd(), r1 = r0, q0 = r0, q1 = r0;
      for (unsigned int k0 = 0; k0 < active; k0 += Group)
      {
        const unsigned int k1 = k0 + Group < active ? k0 + Group : active;
        __m512 r = _mm512_setzero_ps(), q = _mm512_setzero_ps();
        for (unsigned int k = k0; k < k1; ++k)
        {
          const vexa::BeamformingSimd::Track &t = tracks[k];
          const __m512 w = _mm512_loadu_ps(t.weight + s);
          const __mmask16 on = _mm512_cmp_ps_mask(w, _mm512_setzero_ps(), _CMP_GT_OQ);
          const __m512 v = WeightedSample(t.channel, lastPair, t.delay + s, w, on);
          const __m512 mag = _mm512_abs_ps(v);
          const __m512i sign = _mm512_and_si512(_mm512_castps_si512(v), signBit);
          if (WithDas)
            ws = _mm512_add_ps(ws, v);
          r = _mm512_add_ps(r, _mm512_castsi512_ps(_mm512_or_si512(_mm512_castps_si512(_mm512_sqrt_ps(mag)), sign)));
          q = _mm512_add_ps(q, mag);
        }
        AddWide(r0, r1, r);
        AddWide(q0, q1, q);
      }
      if (WithDas)
        _mm512_storeu_ps(sums.ws + s, _mm512_add_ps(_mm512_loadu_ps(sums.ws + s), ws));
      AddTo(sums.r + s, r0);
      AddTo(sums.r + s + 8, r1);
      AddTo(sums.r2 + s, q0);
      AddTo(sums.r2 + s + 8, q1);
    }
  }
}

void vexa::BeamformingSimd::DasAvx512(const Track *tracks,
                                      const unsigned int *from,
                                      unsigned int count,
                                      unsigned int lastPair,
                                      const BlockSums &sums,
                                      unsigned int n)
{
  unsigned int active = 0;
  for (unsigned int s = 0; s < n; s += 16)
  {
    while (active < count && from[active] <= s)
      ++active;
    __m512 ws = _mm512_setzero_ps();
    for (unsigned int k = 0; k < active; ++k)
    {
      const Track &t = tracks[k];
      const __m512 w = _mm512_loadu_ps(t.weight + s);
      const __mmask16 on = _mm512_cmp_ps_mask(w, _mm512_setzero_ps(), _CMP_GT_OQ);
      ws = _mm512_add_ps(ws, WeightedSample(t.channel, lastPair, t.delay + s, w, on));
    }
    _mm512_storeu_ps(sums.ws + s, _mm512_add_ps(_mm512_loadu_ps(sums.ws + s), ws));
  }
}

void vexa::BeamformingSimd::DmasAvx512(const Track *tracks,
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
