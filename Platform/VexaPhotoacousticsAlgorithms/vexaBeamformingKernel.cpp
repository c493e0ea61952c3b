#include "vexaBeamformingKernel.h"

#include <vexaException.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>

namespace
{
  constexpr double Pi = 3.14159265358979323846;

  bool PositiveFinite(double v) { return std::isfinite(v) && v > 0.0; }

  /**
   * Everything about one frame size and parameter set that does not depend on
   * the line. The lateral offset between line l and element e is
   *   dx = e p - x_l = p K / (2 lines),  K = (2e + 1) lines - (2l + 1) elements,
   * an exact integer K, so pairs with the same |K| share their delays and
   * weights (the windows are symmetric). On regular grids there are few such
   * offsets (2 elements - 1 when lines = elements), and their tracks are
   * computed once and shared by all lines and frames.
   */
  struct Plan
  {
    unsigned int elements = 0;
    unsigned int samples = 0;       // input samples per element
    unsigned int channelStride = 0; // samples per element in the channel copy (at least 2)
    unsigned int rows = 0;          // output samples per line
    unsigned int lines = 0;
    double pitch = 0.0;
    double lineSpacing = 0.0;
    float toSamples = 0.0f; // 1 / (c dt): metres of path to input samples
    bool limited = true;    // false: the angle limits nothing
    double tanHalf = 0.0;
    std::vector<float> z2;        // depth squared per row
    std::vector<float> zTerm;     // extra path per row: 0 (one-way) or the depth (pulse-echo)
    std::vector<float> halfWidth; // active half-width of the aperture per row
    std::vector<float> inv2h;     // 1 / (2 half-width) per row
    std::vector<float> window;
    bool box = true;

    // shared tracks, one per distinct |K| (empty when they would not fit the budget)
    std::vector<unsigned int> trackOf; // per (line, element): index of its track
    std::vector<unsigned int> first, end;
    // per track: rows values each, only [first, end) written; left
    // uninitialised so that fresh pages are first touched by the workers
    std::unique_ptr<float[]> delay, weight, rootWeight;
    bool roots = false; // DMAS needs the square roots of the weights

    long long OffsetKey(unsigned int line, unsigned int e) const
    {
      return (2LL * e + 1) * lines - (2LL * line + 1) * elements;
    }
    double OffsetOfKey(long long key) const { return pitch * static_cast<double>(key) / (2.0 * lines); }
  };

  /** First row in which an element at lateral distance adx is active (rows when never). */
  unsigned int FirstActiveRow(const Plan &plan, float adx)
  {
    const unsigned int rows = plan.rows;
    if (adx <= plan.halfWidth[0])
      return 0;
    if (adx > plan.halfWidth[rows - 1])
      return rows;
    // halfWidth grows with the row: binary search for the first row that holds adx
    unsigned int lo = 0, hi = rows - 1; // halfWidth[lo] < adx <= halfWidth[hi]
    while (hi - lo > 1)
    {
      const unsigned int mid = lo + (hi - lo) / 2;
      if (adx <= plan.halfWidth[mid])
        hi = mid;
      else
        lo = mid;
    }
    return hi;
  }

  /**
   * The delay (in input samples) and the weight of an element at lateral
   * offset dx, for the rows [first, end) in which it is active and its delay
   * lies within the recording. The delay only grows with depth, so the rows
   * past the recording form the tail.
   */
  void BuildTrack(const Plan &plan,
                  double dx,
                  unsigned int &first,
                  unsigned int &end,
                  float *delay,
                  float *weight,
                  float *rootWeight)
  {
    const float adx = static_cast<float>(std::fabs(dx));
    const float dx2 = static_cast<float>(dx * dx);
    const float lastSample = static_cast<float>(plan.samples - 1);
    const unsigned int windowLast = static_cast<unsigned int>(plan.window.size()) - 1;
    const float windowScale = static_cast<float>(windowLast);
    first = FirstActiveRow(plan, adx);
    end = first;
    for (unsigned int s = first; s < plan.rows; ++s)
    {
      const float t = (std::sqrt(dx2 + plan.z2[s]) + plan.zTerm[s]) * plan.toSamples;
      if (t > lastSample)
        break;
      delay[s] = t;
      float w = 1.0f;
      if (!plan.box)
      {
        const float pos = (0.5f + adx * plan.inv2h[s]) * windowScale;
        unsigned int k = pos <= 0.0f ? 0u : static_cast<unsigned int>(pos);
        if (k > windowLast - 1)
          k = windowLast - 1;
        const float f = std::min(std::max(pos - static_cast<float>(k), 0.0f), 1.0f);
        w = plan.window[k] + (plan.window[k + 1] - plan.window[k]) * f;
      }
      weight[s] = std::max(w, 0.0f);
      if (plan.roots)
        rootWeight[s] = std::sqrt(weight[s]);
      end = s + 1;
    }
  }

  /** Per-row sums of one line. */
  template <vexa::BeamformingKernel::Algorithm Alg>
  struct LineSums
  {
    static constexpr bool NeedDas = Alg != vexa::BeamformingKernel::Algorithm::DMAS;
    static constexpr bool NeedDmas = Alg != vexa::BeamformingKernel::Algorithm::DAS;

    explicit LineSums(unsigned int rows)
      : sumW(rows, 0.0f),
        sumWS(NeedDas ? rows : 0, 0.0f),
        sumR(NeedDmas ? rows : 0, 0.0),
        sumR2(NeedDmas ? rows : 0, 0.0),
        sumSqrtW(NeedDmas ? rows : 0, 0.0),
        sumWd(NeedDmas ? rows : 0, 0.0),
        count(NeedDmas ? rows : 0, 0u)
    {
    }

    void Add(const float *channel, unsigned int stride, unsigned int first, unsigned int end, const float *delay,
             const float *weight,
             const float *rootWeight)
    {
      const unsigned int lastPair = stride - 2;
      for (unsigned int s = first; s < end; ++s)
      {
        const float t = delay[s];
        unsigned int i0 = static_cast<unsigned int>(t);
        if (i0 > lastPair)
          i0 = lastPair;
        const float v = channel[i0] + (channel[i0 + 1] - channel[i0]) * (t - static_cast<float>(i0));
        const float w = weight[s];
        const float ws = w * v;
        sumW[s] += w;
        if (NeedDas)
          sumWS[s] += ws;
        if (NeedDmas)
        {
          const float mag = std::fabs(ws);
          sumR[s] += std::copysign(std::sqrt(mag), ws);
          sumR2[s] += mag;
          sumSqrtW[s] += rootWeight[s];
          sumWd[s] += w;
          count[s] += w > 0.0f ? 1u : 0u;
        }
      }
    }

    float Value(unsigned int s) const
    {
      using Algorithm = vexa::BeamformingKernel::Algorithm;
      if (!(sumW[s] > 0.0f))
        return 0.0f;
      if (Alg == Algorithm::DAS)
        return sumWS[s] / sumW[s];
      // the sums over all pairs, from the sums over the elements
      const double pairs = (sumR[s] * sumR[s] - sumR2[s]) * 0.5;
      const double pairWeights = (sumSqrtW[s] * sumSqrtW[s] - sumWd[s]) * 0.5;
      double dmas = count[s] >= 2 && pairWeights > 0.0 ? pairs / pairWeights : 0.0;
      if (Alg == Algorithm::sDMAS)
        dmas = sumWS[s] > 0.0f ? dmas : (sumWS[s] < 0.0f ? -dmas : 0.0);
      return static_cast<float>(dmas);
    }

    std::vector<float> sumW, sumWS;
    // The pair sums are differences of two close sums: double precision keeps
    // them accurate; the count tells a single contribution from a pair.
    std::vector<double> sumR, sumR2, sumSqrtW, sumWd;
    std::vector<unsigned int> count;
  };

  template <vexa::BeamformingKernel::Algorithm Alg>
  void ReconstructLine(const Plan &plan, const float *channels, unsigned int line, float *out, std::size_t outStride)
  {
    LineSums<Alg> sums(plan.rows);
    const bool shared = plan.delay != nullptr;
    std::vector<float> delay(shared ? 0 : plan.rows), weight(shared ? 0 : plan.rows),
      rootWeight(shared || !plan.roots ? 0 : plan.rows);
    if (shared)
    {
      // Rows in blocks, all elements per block: the block's sums stay in the
      // first-level cache instead of streaming the whole line's sums once per
      // element.
      constexpr unsigned int RowBlock = 256;
      const unsigned int *tracks = plan.trackOf.data() + static_cast<std::size_t>(line) * plan.elements;
      for (unsigned int b0 = 0; b0 < plan.rows; b0 += RowBlock)
      {
        const unsigned int b1 = std::min(b0 + RowBlock, plan.rows);
        for (unsigned int e = 0; e < plan.elements; ++e)
        {
          const unsigned int k = tracks[e];
          const unsigned int first = std::max(plan.first[k], b0), end = std::min(plan.end[k], b1);
          if (first >= end)
            continue;
          const std::size_t at = static_cast<std::size_t>(k) * plan.rows;
          sums.Add(channels + static_cast<std::size_t>(e) * plan.channelStride, plan.channelStride, first, end,
                   plan.delay.get() + at, plan.weight.get() + at, plan.roots ? plan.rootWeight.get() + at : nullptr);
        }
      }
    }
    else
    {
      for (unsigned int e = 0; e < plan.elements; ++e)
      {
        unsigned int first = 0, end = 0;
        BuildTrack(plan, plan.OffsetOfKey(plan.OffsetKey(line, e)), first, end, delay.data(), weight.data(),
                   rootWeight.data());
        sums.Add(channels + static_cast<std::size_t>(e) * plan.channelStride, plan.channelStride, first, end,
                 delay.data(), weight.data(), rootWeight.data());
      }
    }
    for (unsigned int s = 0; s < plan.rows; ++s)
      out[s * outStride] = sums.Value(s);
  }

  using LineFunction = void (*)(const Plan &, const float *, unsigned int, float *, std::size_t);

  LineFunction SelectLineFunction(vexa::BeamformingKernel::Algorithm a)
  {
    using A = vexa::BeamformingKernel::Algorithm;
    switch (a)
    {
      case A::DMAS:
        return &ReconstructLine<A::DMAS>;
      case A::sDMAS:
        return &ReconstructLine<A::sDMAS>;
      case A::DAS:
      default:
        return &ReconstructLine<A::DAS>;
    }
  }

  /**
   * Finds the distinct offsets and allocates their tracks when they fit the
   * budget (the tracks are built by the caller); leaves the plan without
   * them otherwise. Returns the offsets.
   */
  std::vector<long long> PlanSharedTracks(Plan &plan, std::size_t budgetBytes)
  {
    const std::size_t pairs = static_cast<std::size_t>(plan.lines) * plan.elements;
    std::vector<long long> keys;
    keys.reserve(pairs);
    for (unsigned int l = 0; l < plan.lines; ++l)
      for (unsigned int e = 0; e < plan.elements; ++e)
        keys.push_back(std::llabs(plan.OffsetKey(l, e)));
    std::vector<long long> distinct = keys;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    const double bytes =
      double(distinct.size()) * plan.rows * (plan.roots ? 3 : 2) * sizeof(float) + double(pairs) * sizeof(unsigned);
    if (bytes > double(budgetBytes))
      return {};

    plan.trackOf.resize(pairs);
    for (std::size_t i = 0; i < pairs; ++i)
      plan.trackOf[i] = static_cast<unsigned int>(
        std::lower_bound(distinct.begin(), distinct.end(), keys[i]) - distinct.begin());
    plan.first.assign(distinct.size(), 0);
    plan.end.assign(distinct.size(), 0);
    plan.delay.reset(new float[distinct.size() * plan.rows]);
    plan.weight.reset(new float[distinct.size() * plan.rows]);
    if (plan.roots)
      plan.rootWeight.reset(new float[distinct.size() * plan.rows]);
    return distinct;
  }
}

const char *vexa::BeamformingKernel::AlgorithmName(Algorithm a)
{
  switch (a)
  {
    case Algorithm::DMAS:
      return "DMAS";
    case Algorithm::DAS:
      return "DAS";
    case Algorithm::sDMAS:
      return "sDMAS";
  }
  return "unknown";
}

std::vector<float> vexa::BeamformingKernel::MakeWindow(Window window, unsigned int size)
{
  std::vector<float> w(size, 1.0f);
  if (size < 2 || window == Window::Box)
    return w;
  // computed for the first half and mirrored, so the table is exactly symmetric
  for (unsigned int n = 0; n <= (size - 1) / 2; ++n)
  {
    const double c = std::cos(2.0 * Pi * n / (size - 1));
    w[n] = w[size - 1 - n] = static_cast<float>(window == Window::Hamming ? 0.54 - 0.46 * c : 0.5 * (1.0 - c));
  }
  return w;
}

void vexa::BeamformingKernel::Validate(const Parameters &p, const SampleVolume &raw)
{
  if (raw.Empty())
    vexaThrow() << "Beamforming needs raw data with at least one element, one sample and one frame; got "
                << raw.nx << " x " << raw.ny << " x " << raw.nz << ".";
  if (raw.data.size() != static_cast<std::size_t>(raw.nx) * raw.ny * raw.nz)
    vexaThrow() << "Beamforming: the raw data holds " << raw.data.size() << " values instead of " << raw.nx << " x "
                << raw.ny << " x " << raw.nz << ".";
  if (!PositiveFinite(p.pitch))
    vexaThrow() << "Beamforming needs a positive element pitch; got " << p.pitch << " m.";
  if (!PositiveFinite(p.speedOfSound))
    vexaThrow() << "Beamforming needs a positive speed of sound; got " << p.speedOfSound << " m/s.";
  if (!PositiveFinite(p.timeSpacing))
    vexaThrow() << "Beamforming needs a positive time spacing of the samples; got " << p.timeSpacing << " s.";
  if (!PositiveFinite(p.angle))
    vexaThrow() << "Beamforming needs a positive element angle; got " << p.angle << " degrees.";
  if (!PositiveFinite(p.depth))
    vexaThrow() << "Beamforming needs a positive reconstruction depth; got " << p.depth << " m.";
  if (p.lines == 0)
    vexaThrow() << "Beamforming needs at least one reconstruction line; got 0.";
  if (p.samplesPerLine == 0)
    vexaThrow() << "Beamforming needs at least one sample per reconstructed line; got 0.";
  if (p.windowSize == 0)
    vexaThrow() << "Beamforming needs an apodization window of at least one point; got 0.";
  if (p.windowSize > MaxWindowSize)
    vexaThrow() << "Beamforming accepts apodization windows of up to " << MaxWindowSize << " points; got "
                << p.windowSize << ".";
  if (p.window != Window::Hamming && p.window != Window::Hann && p.window != Window::Box)
    vexaThrow() << "Beamforming: unknown apodization " << static_cast<int>(p.window)
                << " (Hamming 0, Von Hann 1, Box 2).";
  if (p.algorithm != Algorithm::DAS && p.algorithm != Algorithm::DMAS && p.algorithm != Algorithm::sDMAS)
    vexaThrow() << "Beamforming: unknown algorithm " << static_cast<int>(p.algorithm)
                << " (DMAS 0, DAS 1, sDMAS 2).";
  const double outputPixels = double(p.lines) * p.samplesPerLine * raw.nz;
  if (outputPixels > double(std::numeric_limits<std::ptrdiff_t>::max() / sizeof(float)))
    vexaThrow() << "Beamforming: an output of " << p.lines << " x " << p.samplesPerLine << " x " << raw.nz
                << " pixels is too large.";
}

vexa::SampleVolume vexa::BeamformingKernel::Reconstruct(const SampleVolume &raw,
                                                        const Parameters &p,
                                                        unsigned int threads,
                                                        const ProgressCallback &progress,
                                                        std::size_t trackBudgetBytes)
{
  Validate(p, raw);

  Plan plan;
  plan.elements = raw.nx;
  plan.samples = raw.ny;
  plan.channelStride = std::max(raw.ny, 2u);
  plan.rows = p.samplesPerLine;
  plan.lines = p.lines;
  plan.pitch = p.pitch;
  plan.lineSpacing = LineSpacing(p, raw.nx);
  plan.toSamples = static_cast<float>(1.0 / (p.speedOfSound * p.timeSpacing));
  plan.limited = p.angle < 180.0;
  plan.tanHalf = plan.limited ? std::tan(p.angle * 0.5 * Pi / 180.0) : 0.0;
  plan.window = MakeWindow(p.window, p.windowSize);
  plan.box = p.window == Window::Box || p.windowSize == 1;
  plan.roots = p.algorithm != Algorithm::DAS;

  const double dz = DepthSpacing(p);
  const double minHalfWidth = 0.5 * p.pitch;
  // no line is as far as the array's width from any element
  const double fullWidth = raw.nx * p.pitch;
  plan.z2.resize(plan.rows);
  plan.zTerm.resize(plan.rows);
  plan.halfWidth.resize(plan.rows);
  plan.inv2h.resize(plan.rows);
  for (unsigned int s = 0; s < plan.rows; ++s)
  {
    const double z = s * dz;
    const double h = plan.limited ? std::max(z * plan.tanHalf, minHalfWidth) : fullWidth;
    plan.z2[s] = static_cast<float>(z * z);
    plan.zTerm[s] = p.photoacoustic ? 0.0f : static_cast<float>(z);
    plan.halfWidth[s] = static_cast<float>(h);
    plan.inv2h[s] = static_cast<float>(0.5 / h);
  }
  const std::vector<long long> offsets = PlanSharedTracks(plan, trackBudgetBytes);

  // Element-major copy of each frame: the inner loop walks one element's
  // samples in order instead of striding across the elements. A single
  // sample is doubled so that interpolation always has two neighbours.
  // The copy (in blocks of elements, so that reads stay in cache lines) and
  // the shared tracks are made in one parallel pass.
  constexpr unsigned int Block = 16;
  const std::size_t frameSize = static_cast<std::size_t>(raw.nx) * raw.ny;
  const std::size_t channelFrame = static_cast<std::size_t>(raw.nx) * plan.channelStride;
  const std::size_t blocks = (raw.nx + Block - 1) / Block;
  std::unique_ptr<float[]> channels(new float[channelFrame * raw.nz]);
  ParallelFor(offsets.size() + raw.nz * blocks, threads, [&](std::size_t item) {
    if (item < offsets.size())
    {
      const std::size_t at = item * plan.rows;
      BuildTrack(plan, plan.OffsetOfKey(offsets[item]), plan.first[item], plan.end[item], plan.delay.get() + at,
                 plan.weight.get() + at, plan.roots ? plan.rootWeight.get() + at : nullptr);
      return;
    }
    item -= offsets.size();
    const std::size_t f = item / blocks;
    const unsigned int e0 = static_cast<unsigned int>((item % blocks) * Block);
    const unsigned int e1 = std::min(e0 + Block, raw.nx);
    const float *src = raw.data.data() + f * frameSize;
    float *dst = channels.get() + f * channelFrame;
    for (unsigned int i = 0; i < raw.ny; ++i)
      for (unsigned int e = e0; e < e1; ++e)
        dst[static_cast<std::size_t>(e) * plan.channelStride + i] = src[static_cast<std::size_t>(i) * raw.nx + e];
    if (raw.ny == 1)
      for (unsigned int e = e0; e < e1; ++e)
        dst[static_cast<std::size_t>(e) * 2 + 1] = dst[static_cast<std::size_t>(e) * 2];
  });

  SampleVolume out(p.lines, p.samplesPerLine, raw.nz);
  const LineFunction lineFunction = SelectLineFunction(p.algorithm);
  const std::size_t outFrame = static_cast<std::size_t>(p.lines) * p.samplesPerLine;
  const std::size_t items = static_cast<std::size_t>(raw.nz) * p.lines;
  const std::string name = AlgorithmName(p.algorithm);
  const unsigned int frames = raw.nz;
  const unsigned int lines = p.lines;

  ParallelFor(
    items, threads,
    [&](std::size_t item) {
      const unsigned int f = static_cast<unsigned int>(item / lines);
      const unsigned int l = static_cast<unsigned int>(item % lines);
      lineFunction(plan, channels.get() + f * channelFrame, l, out.data.data() + f * outFrame + l, lines);
    },
    progress,
    [&](std::size_t done) {
      std::ostringstream text;
      if (done >= items)
        text << name << " beamforming done";
      else
        text << name << " beamforming, frame " << (done / lines + 1) << " of " << frames;
      return text.str();
    });
  return out;
}
