#ifndef vexaBeamformingSimd_h
#define vexaBeamformingSimd_h

// The innermost loops of the beamforming kernel, once per instruction set.
// Each set lives in a source file of its own, compiled with its own target
// flags, and includes nothing but this header and the intrinsics: an inline
// function of a shared header (the standard library's, for one) instantiated
// there could be chosen by the linker for the baseline code as well, and
// would then fault on a processor without those instructions.

namespace vexa
{
  namespace BeamformingSimd
  {
    /** Rows per step; every range handed to a loop is a multiple of it. */
    constexpr unsigned int Lanes = 16;

    /** Readable floats after each channel's samples, so a loop may load 32 values from any sample. */
    constexpr unsigned int ChannelPadding = 32;

    /** Channels longer than this go to the baseline loops (their indices leave exact float range). */
    constexpr unsigned int MaxVectorSamples = 1u << 24;

    /**
     * One element's contribution to `n` rows (a multiple of Lanes), every
     * pointer already at the first of them. Per row s, with t = delay[s]:
     *   i = min(floor(t), lastPair), v = channel[i] + (channel[i + 1] - channel[i]) (t - i);
     *   ws = weight[s] v when weight[s] > 0, else 0 (a zero weight contributes
     *   nothing, not even a NaN of its sample);
     *   ws[s] += ws;
     * and for the multiplicative algorithms also
     *   r[s] += sign(ws) sqrt(|ws|); r2[s] += |ws|,
     * where their `ws` may be null (plain DMAS has no use for that sum).
     * The sums of the weights themselves do not depend on the data; the
     * caller has them. Delays are non-negative and at most lastPair + 1.
     */
    struct Rows
    {
      const float *delay;
      const float *weight;
      float *ws;
      float *r;
      float *r2;
    };

    using Accumulate = void (*)(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n);

    void DasBaseline(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n);
    void DmasBaseline(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n);
    void DasAvx2(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n);
    void DmasAvx2(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n);
    void DasAvx512(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n);
    void DmasAvx512(const float *channel, unsigned int lastPair, const Rows &rows, unsigned int n);
  }
}

#endif
