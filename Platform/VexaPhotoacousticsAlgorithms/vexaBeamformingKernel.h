#ifndef vexaBeamformingKernel_h
#define vexaBeamformingKernel_h

#include "VexaPhotoacousticsAlgorithmsExports.h"
#include "vexaParallelFor.h"
#include "vexaSampleVolume.h"

#include <cstddef>
#include <vector>

namespace vexa
{
  /**
   * Reconstruction of raw channel data of a linear array on plain buffers.
   *
   * Raw data: x = transducer element, y = time sample, z = frame; each frame
   * is reconstructed on its own. The output has `lines` columns spread evenly
   * over the array's width (number of elements times pitch) and
   * `samplesPerLine` rows spread evenly over [0, depth).
   *
   * Geometry (relative to the centre of element 0, in metres):
   *   element e sits at x_e = e * pitch;
   *   line l sits at x_l = -pitch / 2 + (l + 0.5) * lineSpacing,
   *     lineSpacing = elements * pitch / lines;
   *   row s lies at depth z_s = s * depthSpacing, depthSpacing = depth / samplesPerLine.
   *
   * Delay of element e for the point (x_l, z), with d = sqrt((x_l - x_e)^2 + z^2):
   *   photoacoustic (one-way):  t = d / c;
   *   ultrasound (pulse-echo, a plane wave sent straight down): t = (z + d) / c.
   * The sample at t / timeSpacing is interpolated linearly between its two
   * neighbours; a delay past the last sample contributes nothing.
   *
   * Element angle: the angle is the full field of view of one element; an
   * element sees a point when the direction to it lies within angle / 2 of
   * the element's normal, i.e. |x_l - x_e| <= z * tan(angle / 2). The element
   * right under a line always counts (the active half-width is at least
   * pitch / 2). An angle of 180 degrees or more limits nothing: the active
   * half-width is then the array's width (elements times pitch).
   *
   * Apodization: a symmetric window of `windowSize` points (Hamming,
   * Von Hann or Box) is laid over the active aperture centred on the line, so that an
   * aperture cut by the end of the array keeps the line at the window's peak;
   * weights between table points are interpolated linearly.
   *
   * Algorithms, with w_e the weights and s_e the delayed samples of the
   * elements that contribute to a pixel:
   *   DAS   = sum(w s) / W;
   *   DMAS  = sum_{i<j} r_i r_j / sum_{i<j} sqrt(w_i w_j) * sum(w) / W,
   *           r = sign(w s) sqrt(|w s|), the pair sums computed as
   *           ((sum r)^2 - sum r^2) / 2 and ((sum sqrt w)^2 - sum w) / 2,
   *           which needs one pass over the elements instead of all pairs;
   *   sDMAS = sign(DAS) * DMAS.
   * W, one constant for the whole image, is the weight of the whole array
   * with the window laid over it: for N elements
   *   W = sum_e v_e,  v_e = the window at 0.5 + |e + 1/2 - N/2| / N
   * (Box: W = N). Each pixel is thus scaled by the share sum(w) / W of the
   * array's weight that sees it: a coherent signal of amplitude a returns a
   * times that share with every algorithm (with the Box window a K / N, K of
   * the N elements counting), a focus of the whole array returns a, and the
   * three algorithms' images share one scale. This keeps the coherent gain:
   * a pixel that few elements see (near the array, at its ends) stays as
   * faint as their share of the array instead of being drawn as bright as a
   * focus of many.
   * A pixel without contributions (or DMAS with fewer than two) is 0.
   */
  class VEXAPHOTOACOUSTICSALGORITHMS_EXPORT BeamformingKernel
  {
  public:
    enum class Window
    {
      Hamming = 0,
      Hann = 1,
      Box = 2
    };
    enum class Algorithm
    {
      DMAS = 0,
      DAS = 1,
      sDMAS = 2
    };

    struct Parameters
    {
      double pitch = 0.0;        // m
      double speedOfSound = 0.0; // m/s
      double timeSpacing = 0.0;  // s
      double angle = 0.0;        // degrees, full field of view of one element
      bool photoacoustic = true;
      unsigned int samplesPerLine = 0;
      unsigned int lines = 0;
      double depth = 0.0; // m
      Window window = Window::Box;
      unsigned int windowSize = 0;
      Algorithm algorithm = Algorithm::DAS;
    };

    /**
     * Throws vexa::Exception when the parameters or the raw data cannot give
     * an image (non-positive or non-finite physical values, no lines, no
     * samples, no window points, an empty input).
     */
    static void Validate(const Parameters &p, const SampleVolume &raw);
    static void Validate(const Parameters &p, unsigned int nx, unsigned int ny, unsigned int nz);

    /** The vector instructions of the inner loops; the best one the processor has is used by default. */
    enum class InstructionSet
    {
      Baseline = 0,
      AVX2 = 1,
      AVX512 = 2,
      Best = 3
    };

    /** The best instruction set of this processor (never Best itself). */
    static InstructionSet BestInstructionSet();

    /**
     * Reconstructs every frame of `raw`. `threads` 0 uses all cores; work is
     * split over frames, blocks of rows and groups of lines. Progress is
     * reported on the calling thread (see ParallelFor). Safe to call from
     * several threads at once. `instructions` caps the instruction set (for
     * comparisons; the result is the same within float rounding).
     *
     * What depends only on the geometry (the delays and weights, see
     * TrackBudgetBytes) is kept for the next calls with the same geometry, as
     * are the buffers of a call, so that a steady stream of frames allocates
     * only the images it returns.
     */
    static SampleVolume Reconstruct(const SampleVolume &raw,
                                    const Parameters &p,
                                    unsigned int threads = 0,
                                    const ProgressCallback &progress = ProgressCallback(),
                                    std::size_t trackBudgetBytes = DefaultTrackBudgetBytes,
                                    InstructionSet instructions = InstructionSet::Best);

    /**
     * Reconstruct on plain buffers: `raw` holds nx x ny x nz samples (x
     * fastest), `out` receives lines x samplesPerLine x nz pixels, every one
     * of them written. Lets a caller read from and write into buffers it
     * already has (an image's own pixels) instead of copies.
     */
    static void ReconstructInto(const float *raw,
                                unsigned int nx,
                                unsigned int ny,
                                unsigned int nz,
                                const Parameters &p,
                                float *out,
                                unsigned int threads = 0,
                                const ProgressCallback &progress = ProgressCallback(),
                                std::size_t trackBudgetBytes = DefaultTrackBudgetBytes,
                                InstructionSet instructions = InstructionSet::Best);

    /**
     * Delays and weights depend only on the lateral offset between a line
     * and an element; on the usual grids few offsets occur, and their tracks
     * (one delay and one weight per row), together with the table of which
     * track each line and element use and which of each line's rows have a
     * value, are computed once per geometry when they fit this many
     * bytes. The budget is checked before anything of the
     * kind is allocated; beyond it each line computes its own delays on the
     * fly, with the same result, in memory that does not grow with the
     * number of lines or elements.
     */
    static constexpr std::size_t DefaultTrackBudgetBytes = 64u << 20;

    /** The bytes the shared tracks of this geometry would take (0 when they exceed the budget). */
    static std::size_t SharedTrackBytes(unsigned int elements,
                                        const Parameters &p,
                                        std::size_t trackBudgetBytes = DefaultTrackBudgetBytes);

    /** The largest window table accepted (a larger one adds nothing but memory). */
    static constexpr unsigned int MaxWindowSize = 1u << 20;

    /** The window table of `size` points. */
    static std::vector<float> MakeWindow(Window window, unsigned int size);

    /** Spacing between output lines and between output rows, in metres. */
    static double LineSpacing(const Parameters &p, unsigned int elements) { return elements * p.pitch / p.lines; }
    static double DepthSpacing(const Parameters &p) { return p.depth / p.samplesPerLine; }

    static const char *AlgorithmName(Algorithm a);
  };
}

#endif
