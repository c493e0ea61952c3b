#ifndef vexaSignalKernels_h
#define vexaSignalKernels_h

#include "VexaPhotoacousticsAlgorithmsExports.h"
#include "vexaSampleVolume.h"

#include <vector>

namespace vexa
{
  /**
   * Filters along dimension 1 (y: time or depth) of a plain volume, one
   * column (x, frame) at a time, on all cores. Safe to call from several
   * threads at once.
   */
  class VEXAPHOTOACOUSTICSALGORITHMS_EXPORT SignalKernels
  {
  public:
    /**
     * Envelope of every column: the magnitude of its analytic signal
     * |x + i H(x)|, with the Hilbert transform H taken by FFT (positive
     * frequencies doubled, negative ones removed, DC and Nyquist kept).
     */
    static SampleVolume Envelope(const SampleVolume &in, unsigned int threads = 0);

    /** |x| of every value. */
    static SampleVolume AbsoluteValue(const SampleVolume &in);

    /** The floor of the log compression, in dB below the image's maximum. */
    static constexpr float LogCompressionFloorDecibels = -120.0f;

    /**
     * Log compression of a non-negative (envelope or absolute) image, in place:
     *
     *   out = 20 * log10(v / vmax)   [dB, 0 at the brightest pixel]
     *
     * with vmax the largest value of the whole image (all frames share one
     * scale), limited below at LogCompressionFloorDecibels, which is also the
     * value of zero pixels and of every pixel of an all-zero image.
     */
    static void LogCompress(SampleVolume &volume);

    /**
     * Band-pass along y by FFT. The column is zero-padded to twice its length
     * (so that the filter does not wrap the end of a column onto its start),
     * transformed, multiplied with a Tukey-tapered band and transformed back.
     *
     * The band over frequency f (Hz) runs from the high-pass cut-off H to the
     * low-pass cut-off L; with B = L - H:
     *   0 for f <= H and for f >= L;
     *   rising as a half cosine from H to H + alphaHighPass * B / 2
     *     (alphaHighPass tapers the high-pass edge, the lower one);
     *   1 in between;
     *   falling as a half cosine from L - alphaLowPass * B / 2 to L
     *     (alphaLowPass tapers the low-pass edge, the upper one).
     * Alphas of 0 give a rectangular band, 1 on both edges a Hann-shaped one.
     * H = 0 removes no low frequencies (the band starts flat at DC); L = 0, or
     * L above Nyquist, removes no high frequencies (the band stays flat up to
     * Nyquist, which then takes L's place in B). `sampleSpacing` is the time
     * between two samples in seconds.
     *
     * Throws vexa::Exception for a non-positive or non-finite spacing,
     * negative or non-finite cut-offs, H at or above L (when L is set) or at
     * or above Nyquist, alphas outside [0, 1] and an empty volume.
     */
    static SampleVolume Bandpass(const SampleVolume &in,
                                 double highPassHz,
                                 double lowPassHz,
                                 double alphaLowPass,
                                 double alphaHighPass,
                                 double sampleSpacing,
                                 unsigned int threads = 0);

    /** The gain of the band-pass at frequency f (Hz), as described at Bandpass. */
    static double BandGain(
      double f, double highPassHz, double lowPassHz, double alphaLowPass, double alphaHighPass, double nyquistHz);
  };
}

#endif
