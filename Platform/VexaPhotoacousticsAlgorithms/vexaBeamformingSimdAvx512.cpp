#include "vexaBeamformingSimd.h"

#include <immintrin.h>

// 16 rows per step. The two neighbours of each row's sample come from two
// loads of 32 consecutive samples and a two-source permute when the 16 rows
// reach back no further than 31 samples (the usual case: the delay grows by
// about one sample per row); otherwise from two gathers of (sample, next
// sample) pairs as 64-bit values.

namespace
{
  inline void Neighbours(const float *channel, unsigned int lastPair, const float *delay, __m512 &a, __m512 &b, __m512 &f)
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

  // WithDas: also the plain weighted sum (sDMAS takes its sign)
  template <bool WithDas>
  void DmasRows(const float *channel, unsigned int lastPair, const vexa::BeamformingSimd::Rows &rows, unsigned int n)
  {
    // locals, so the sums' stores cannot be taken to change where they go
    const float *__restrict delay = rows.delay;
    const float *__restrict weight = rows.weight;
    float *__restrict sumWs = rows.ws;
    float *__restrict sumR = rows.r;
    float *__restrict sumR2 = rows.r2;
    const __m512i signBit = _mm512_set1_epi32(static_cast<int>(0x80000000u));
    for (unsigned int s = 0; s < n; s += 16)
    {
      const __m512 w = _mm512_loadu_ps(weight + s);
      const __mmask16 on = _mm512_cmp_ps_mask(w, _mm512_setzero_ps(), _CMP_GT_OQ);
      const __m512 ws = WeightedSample(channel, lastPair, delay + s, w, on);
      const __m512 mag = _mm512_abs_ps(ws);
      const __m512i sign = _mm512_and_si512(_mm512_castps_si512(ws), signBit);
      const __m512 r = _mm512_castsi512_ps(_mm512_or_si512(_mm512_castps_si512(_mm512_sqrt_ps(mag)), sign));
      if (WithDas)
        _mm512_storeu_ps(sumWs + s, _mm512_add_ps(_mm512_loadu_ps(sumWs + s), ws));
      _mm512_storeu_ps(sumR + s, _mm512_add_ps(_mm512_loadu_ps(sumR + s), r));
      _mm512_storeu_ps(sumR2 + s, _mm512_add_ps(_mm512_loadu_ps(sumR2 + s), mag));
    }
  }
}

void vexa::BeamformingSimd::DasAvx512(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n)
{
  // locals, so the sums' stores cannot be taken to change where they go
  const float *__restrict delay = rows.delay;
  const float *__restrict weight = rows.weight;
  float *__restrict sumWs = rows.ws;
  for (unsigned int s = 0; s < n; s += 16)
  {
    const __m512 w = _mm512_loadu_ps(weight + s);
    const __mmask16 on = _mm512_cmp_ps_mask(w, _mm512_setzero_ps(), _CMP_GT_OQ);
    const __m512 ws = WeightedSample(channel, lastPair, delay + s, w, on);
    _mm512_storeu_ps(sumWs + s, _mm512_add_ps(_mm512_loadu_ps(sumWs + s), ws));
  }
}

void vexa::BeamformingSimd::DmasAvx512(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n)
{
  if (rows.ws)
    DmasRows<true>(channel, lastPair, rows, n);
  else
    DmasRows<false>(channel, lastPair, rows, n);
}
