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
    const __m256 signBit = _mm256_set1_ps(-0.0f);
    for (unsigned int s = 0; s < n; s += 8)
    {
      const __m256 w = _mm256_loadu_ps(weight + s);
      const __m256 on = _mm256_cmp_ps(w, _mm256_setzero_ps(), _CMP_GT_OQ);
      const __m256 ws = WeightedSample(channel, lastPair, delay + s, w, on);
      const __m256 mag = _mm256_andnot_ps(signBit, ws);
      const __m256 r = _mm256_or_ps(_mm256_sqrt_ps(mag), _mm256_and_ps(ws, signBit));
      if (WithDas)
        _mm256_storeu_ps(sumWs + s, _mm256_add_ps(_mm256_loadu_ps(sumWs + s), ws));
      _mm256_storeu_ps(sumR + s, _mm256_add_ps(_mm256_loadu_ps(sumR + s), r));
      _mm256_storeu_ps(sumR2 + s, _mm256_add_ps(_mm256_loadu_ps(sumR2 + s), mag));
    }
  }
}

void vexa::BeamformingSimd::DasAvx2(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n)
{
  // locals, so the sums' stores cannot be taken to change where they go
  const float *__restrict delay = rows.delay;
  const float *__restrict weight = rows.weight;
  float *__restrict sumWs = rows.ws;
  for (unsigned int s = 0; s < n; s += 8)
  {
    const __m256 w = _mm256_loadu_ps(weight + s);
    const __m256 on = _mm256_cmp_ps(w, _mm256_setzero_ps(), _CMP_GT_OQ);
    const __m256 ws = WeightedSample(channel, lastPair, delay + s, w, on);
    _mm256_storeu_ps(sumWs + s, _mm256_add_ps(_mm256_loadu_ps(sumWs + s), ws));
  }
}

void vexa::BeamformingSimd::DmasAvx2(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n)
{
  if (rows.ws)
    DmasRows<true>(channel, lastPair, rows, n);
  else
    DmasRows<false>(channel, lastPair, rows, n);
}
