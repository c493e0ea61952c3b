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
     * One element's contribution to a row s, with t = delay[s]:
     *   i = min(floor(t), lastPair), v = channel[i] + (channel[i + 1] - channel[i]) (t - i);
     *   ws = weight[s] v when weight[s] > 0, else 0 (a zero weight contributes
     *   nothing, not even a NaN of its sample);
     * and for the multiplicative algorithms also sign(ws) sqrt(|ws|) and |ws|.
     * Delays are non-negative and at most lastPair + 1.
     */
    struct Track
    {
      const float *delay;   // from the block's first row on
      const float *weight;  // likewise
      const float *channel; // the element's samples
    };

    /**
     * The sums of a block's rows, added to: ws the weighted samples (DAS,
     * sDMAS; null for plain DMAS), r and r2 the signed roots and the
     * magnitudes (DMAS, sDMAS; null for DAS).
     */
    struct BlockSums
    {
      float *ws;
      double *r;
      double *r2;
    };

    /** Tracks whose roots and magnitudes are summed in float before they go to the double sums. */
    constexpr unsigned int FloatGroup = 32;

    /**
     * All tracks of one block of one line, n rows (a multiple of Lanes). For
     * the Lanes rows from s on, the tracks [0, a) count, a = the number of
     * tracks with from[k] <= s (from ascending, multiples of Lanes; rows of a
     * track outside the rows it counts in have weight 0). Per row the
     * contributions are added up in registers in track order (r and r2 in
     * float per FloatGroup tracks, then in double), then added to the sums:
     * the same order for every instruction set.
     */
    using Accumulate = void (*)(const Track *tracks,
                                const unsigned int *from,
                                unsigned int count,
                                unsigned int lastPair,
                                const BlockSums &sums,
                                unsigned int n);

    void DasBaseline(const Track *, const unsigned int *, unsigned int, unsigned int, const BlockSums &, unsigned int);
    void DmasBaseline(const Track *, const unsigned int *, unsigned int, unsigned int, const BlockSums &, unsigned int);
    void DasAvx2(const Track *, const unsigned int *, unsigned int, unsigned int, const BlockSums &, unsigned int);
    void DmasAvx2(const Track *, const unsigned int *, unsigned int, unsigned int, const BlockSums &, unsigned int);
    void DasAvx512(const Track *, const unsigned int *, unsigned int, unsigned int, const BlockSums &, unsigned int);
    void DmasAvx512(const Track *, const unsigned int *, unsigned int, unsigned int, const BlockSums &, unsigned int);
  }
}

#endif
