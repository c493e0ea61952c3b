#include "vexaBeamformingKernel.h"
#include "vexaBeamformingCaches.h"
#include "vexaBeamformingSimd.h"
#include "vexaSlotScratch.h"

#include <vexaException.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace
{
  constexpr double Pi = 3.14159265358979323846;
  namespace Simd = vexa::BeamformingSimd;
  using Kernel = vexa::BeamformingKernel;

  bool PositiveFinite(double v) { return std::isfinite(v) && v > 0.0; }

  // Rows per work item: the tracks of one block of rows for all elements stay
  // in the second-level cache, the sums of a line in the first, and a frame
  // of the usual size makes enough items (128 for 128 x 2048) for eight
  // threads to end within a small item of each other.
  constexpr unsigned int RowBlock = 128;
  // Lines per work item: they share most of their tracks, and a row of their
  // output fills a cache line.
  constexpr unsigned int LineGroup = 16;
  // The channel copies of one call are made for this many bytes of frames at a time.
  constexpr std::size_t ChannelBatchBytes = 16u << 20;

  unsigned int RoundUp(unsigned int v, unsigned int m) { return (v + m - 1) / m * m; }

  /** What decides a plan; two calls with equal keys share one. */
  struct PlanKey
  {
    unsigned int elements = 0, samples = 0, rows = 0, lines = 0, windowSize = 0;
    double pitch = 0, speedOfSound = 0, timeSpacing = 0, angle = 0, depth = 0;
    int window = 0;
    bool photoacoustic = true, roots = false;
    std::size_t budget = 0;

    bool operator==(const PlanKey &o) const
    {
      return elements == o.elements && samples == o.samples && rows == o.rows && lines == o.lines &&
             windowSize == o.windowSize && pitch == o.pitch && speedOfSound == o.speedOfSound &&
             timeSpacing == o.timeSpacing && angle == o.angle && depth == o.depth && window == o.window &&
             photoacoustic == o.photoacoustic && roots == o.roots && budget == o.budget;
    }
  };

  /**
   * Everything about one frame size and parameter set that does not depend on
   * the line; immutable once made, shared by the calls that use it. The
   * lateral offset between line l and element e is
   *   dx = e p - x_l = p K / (2 lines),  K = (2e + 1) lines - (2l + 1) elements,
   * an exact integer K, so pairs with the same |K| share their delays and
   * weights (the windows are symmetric). On regular grids there are few such
   * offsets (2 elements - 1 when lines = elements), and their tracks are
   * computed once and shared by all lines and frames.
   *
   * Rows are padded to a multiple of the vector width; padded rows and rows
   * where an element does not count have weight 0, and every track's delays
   * grow with the row and stay within the recording, so the inner loops need
   * no masks for their ends.
   */
  struct Plan
  {
    PlanKey key;
    unsigned int elements = 0;
    unsigned int samples = 0;       // input samples per element
    unsigned int channelStride = 0; // floats per element in the channel copy
    unsigned int rows = 0;          // output samples per line
    unsigned int paddedRows = 0;
    unsigned int lines = 0;
    double pitch = 0.0;
    double lineSpacing = 0.0;
    float toSamples = 0.0f; // 1 / (c dt): metres of path to input samples
    bool limited = true;    // false: the angle limits nothing
    double tanHalf = 0.0;
    std::vector<float> z2;        // depth squared per (padded) row
    std::vector<float> zTerm;     // extra path per row: 0 (one-way) or the depth (pulse-echo)
    std::vector<float> halfWidth; // active half-width of the aperture per row
    std::vector<float> inv2h;     // 1 / (2 half-width) per row
    std::vector<float> window;
    bool box = true;
    bool roots = false;       // DMAS: the pair weights enter the norm, not W alone
    double arrayWeight = 0.0; // W of the kernel's header, see ArrayWeight

    // shared tracks, one per distinct |K| (empty when they would not fit the budget)
    bool shared = false;
    std::vector<std::uint32_t> trackOf; // per (line, element): index of its track
    std::vector<unsigned int> first, end;
    std::vector<float> delay, weight; // paddedRows values per track
    // per (line, padded row): what the pixel's sum is divided by (0: no value), see WeightSums
    std::vector<float> norm;
    std::size_t bytes = 0;

    // The reconstruction items of a frame, costliest first: line group g and
    // row block b as g * rowBlocks + b. Handed out in this order, the cheap
    // items come last and fill the gaps, so the threads end together.
    unsigned int rowBlocks = 0;
    std::vector<std::uint32_t> order;

    // shared tracks: per line, the elements of its range by the first row in
    // which they count (line l's from byFirst[byFirstAt[l]] on)
    std::vector<std::uint32_t> byFirst;
    std::vector<std::size_t> byFirstAt;

    long long OffsetKey(unsigned int line, unsigned int e) const
    {
      return (2LL * e + 1) * lines - (2LL * line + 1) * elements;
    }
    double OffsetOfKey(long long key) const { return pitch * static_cast<double>(key) / (2.0 * lines); }

    /** The elements that may count for a line at some row (a superset; the rows decide exactly). */
    void ElementRange(unsigned int line, unsigned int &e0, unsigned int &e1) const
    {
      const double xl = -0.5 * pitch + (line + 0.5) * lineSpacing;
      const double reach = halfWidth[rows - 1];
      const double lo = std::floor((xl - reach) / pitch) - 1.0;
      const double hi = std::ceil((xl + reach) / pitch) + 2.0;
      e0 = lo <= 0.0 ? 0u : static_cast<unsigned int>(std::min<double>(lo, elements));
      e1 = hi <= 0.0 ? 0u : static_cast<unsigned int>(std::min<double>(hi, elements));
    }
  };

  /**
   * The window table (at least two entries) at position pos of it, linearly
   * interpolated, the position clamped to the table and the weight to 0 or
   * more: the one way the tracks and the array's weight lay the window over
   * an aperture. In float for the tracks, in double for the array's sum.
   */
  template <typename T>
  T WindowAt(const std::vector<float> &window, T pos)
  {
    const unsigned int last = static_cast<unsigned int>(window.size()) - 1;
    unsigned int k = pos <= T(0) ? 0u : static_cast<unsigned int>(pos);
    if (k > last - 1)
      k = last - 1;
    const T f = std::min(std::max(pos - static_cast<T>(k), T(0)), T(1));
    return std::max(window[k] + (window[k + 1] - window[k]) * f, T(0));
  }

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
   * offset dx for the rows [r0, r1) (written from delay[0]); [first, end) are
   * the rows among them in which it counts: active under the angle and with
   * a delay within the recording. The delay only grows with depth, so the
   * rows past the recording form the tail; their delay is held at the last
   * sample.
   */
  void BuildTrack(const Plan &plan,
                  double dx,
                  unsigned int r0,
                  unsigned int r1,
                  float *delay,
                  float *weight,
                  unsigned int &first,
                  unsigned int &end)
  {
    const float adx = static_cast<float>(std::fabs(dx));
    const float dx2 = static_cast<float>(dx * dx);
    const float lastSample = static_cast<float>(plan.samples - 1);
    const float windowScale = static_cast<float>(plan.window.size() - 1);
    const unsigned int on = FirstActiveRow(plan, adx);
    first = std::max(on, r0);
    end = first;
    for (unsigned int s = r0; s < r1; ++s)
    {
      float t = (std::sqrt(dx2 + plan.z2[s]) + plan.zTerm[s]) * plan.toSamples;
      const bool inside = t <= lastSample;
      if (!inside)
        t = lastSample;
      float w = 0.0f;
      if (inside && s >= on && s < plan.rows)
      {
        w = 1.0f;
        if (!plan.box)
          w = WindowAt(plan.window, (0.5f + adx * plan.inv2h[s]) * windowScale);
        end = s + 1;
      }
      delay[s - r0] = t;
      weight[s - r0] = w;
    }
    if (end < first)
      end = first;
  }

  Simd::Accumulate SelectAccumulate(bool dmas, Kernel::InstructionSet set, unsigned int samples)
  {
    if (samples > Simd::MaxVectorSamples)
      set = Kernel::InstructionSet::Baseline;
    switch (set)
    {
      case Kernel::InstructionSet::AVX512:
        return dmas ? &Simd::DmasAvx512 : &Simd::DasAvx512;
      case Kernel::InstructionSet::AVX2:
        return dmas ? &Simd::DmasAvx2 : &Simd::DasAvx2;
      default:
        return dmas ? &Simd::DmasBaseline : &Simd::DasBaseline;
    }
  }

  /**
   * The weight of the whole array, with the window laid over it as the
   * tracks lay it over an aperture: W of the kernel's header.
   */
  double ArrayWeight(const std::vector<float> &window, bool box, unsigned int elements)
  {
    if (box)
      return elements;
    const double windowScale = static_cast<double>(window.size() - 1);
    double sum = 0.0;
    for (unsigned int e = 0; e < elements; ++e)
      sum += WindowAt(window, (0.5 + std::fabs(e + 0.5 - 0.5 * elements) / elements) * windowScale);
    return sum;
  }

  /**
   * The sums of the weights of the elements that count for the rows of one
   * block of one line; they do not depend on the data. The pixel's sum is
   * divided by Norm (see the kernel's header): for DAS the array's weight W,
   * for DMAS the sum of the pair weights ((sum sqrt w)^2 - sum w) / 2 times
   * W / sum w; 0 when the pixel has no value (no contribution, or DMAS with
   * fewer than two).
   */
  struct WeightSums
  {
    float w[RowBlock];
    double wide[RowBlock], sqrtW[RowBlock];
    unsigned int count[RowBlock];

    void Clear(unsigned int n)
    {
      std::fill(w, w + n, 0.0f);
      std::fill(wide, wide + n, 0.0);
      std::fill(sqrtW, sqrtW + n, 0.0);
      std::fill(count, count + n, 0u);
    }

    /** Weights of one element for the rows at, at + 1, ... of the block. */
    void Add(const float *weight, unsigned int at, unsigned int n, bool roots)
    {
      for (unsigned int i = 0; i < n; ++i)
        w[at + i] += weight[i];
      if (roots)
        for (unsigned int i = 0; i < n; ++i)
        {
          wide[at + i] += weight[i];
          sqrtW[at + i] += std::sqrt(weight[i]);
          count[at + i] += weight[i] > 0.0f ? 1u : 0u;
        }
    }

    float Norm(unsigned int i, bool roots, double arrayWeight) const
    {
      if (!roots)
        return w[i] > 0.0f ? static_cast<float>(arrayWeight) : 0.0f;
      if (!(wide[i] > 0.0) || count[i] < 2)
        return 0.0f;
      const double pairWeights = (sqrtW[i] * sqrtW[i] - wide[i]) * 0.5;
      return pairWeights > 0.0 ? static_cast<float>(pairWeights * arrayWeight / wide[i]) : 0.0f;
    }
  };

  /** Buffers of the line loops, one per participant of a call; kept across calls. */
  struct Scratch
  {
    // sums of one block (DMAS: in double, see BeamformingSimd::Accumulate)
    float ws[RowBlock];
    double r[RowBlock], r2[RowBlock];
    // tracks made per line (no shared ones): up to a float group of them at a time, and their weight sums
    float delay[Simd::FloatGroup][RowBlock], weight[Simd::FloatGroup][RowBlock];
    WeightSums weights;
    // the tracks that count in a block, by the row from which they count
    std::vector<Simd::Track> tracks;
    std::vector<unsigned int> from;
  };

  vexa::SlotScratch<Scratch> &Scratches()
  {
    static vexa::SlotScratch<Scratch> scratches;
    return scratches;
  }

  /**
   * Rows [b0, b1) of one line: every element that counts there adds its
   * delayed, weighted samples to the block's sums; then the pixels.
   */
  void ReconstructBlock(const Plan &plan,
                        Kernel::Algorithm algorithm,
                        Simd::Accumulate accumulate,
                        const float *channels,
                        unsigned int line,
                        unsigned int b0,
                        unsigned int b1,
                        float *out,
                        std::size_t outStride,
                        Scratch &scratch)
  {
    using Algorithm = Kernel::Algorithm;
    const bool dmas = algorithm != Algorithm::DAS;
    const unsigned int rowsEnd = std::min(RoundUp(b1, Simd::Lanes), plan.paddedRows);
    const unsigned int n = rowsEnd - b0;
    const unsigned int lastPair = std::max(plan.samples, 2u) - 2;
    std::fill(scratch.ws, scratch.ws + n, 0.0f);
    if (dmas)
    {
      std::fill(scratch.r, scratch.r + n, 0.0);
      std::fill(scratch.r2, scratch.r2 + n, 0.0);
    }
    const Simd::BlockSums sums{algorithm == Algorithm::DMAS ? nullptr : scratch.ws, dmas ? scratch.r : nullptr,
                               dmas ? scratch.r2 : nullptr};
    auto fromRow = [&](unsigned int first) { return first <= b0 ? 0u : (first - b0) / Simd::Lanes * Simd::Lanes; };

    if (plan.shared)
    {
      // the line's elements by the row from which they count: those that
      // start below the block end the list
      const std::size_t a0 = plan.byFirstAt[line], a1 = plan.byFirstAt[line + 1];
      if (scratch.tracks.size() < a1 - a0)
      {
        scratch.tracks.resize(a1 - a0);
        scratch.from.resize(a1 - a0);
      }
      const std::uint32_t *trackOf = plan.trackOf.data() + static_cast<std::size_t>(line) * plan.elements;
      unsigned int count = 0;
      for (std::size_t i = a0; i < a1; ++i)
      {
        const std::uint32_t e = plan.byFirst[i];
        const std::uint32_t k = trackOf[e];
        if (plan.first[k] >= b1)
          break;
        if (plan.end[k] <= b0 || plan.first[k] >= plan.end[k])
          continue;
        const std::size_t at = static_cast<std::size_t>(k) * plan.paddedRows + b0;
        scratch.tracks[count] = {plan.delay.data() + at, plan.weight.data() + at,
                                 channels + static_cast<std::size_t>(e) * plan.channelStride};
        scratch.from[count] = fromRow(plan.first[k]);
        ++count;
      }
      accumulate(scratch.tracks.data(), scratch.from.data(), count, lastPair, sums, n);
    }
    else
    {
      // tracks made here, a float group at a time, each group by the row from which its tracks count
      scratch.weights.Clear(n);
      if (scratch.tracks.size() < Simd::FloatGroup)
      {
        scratch.tracks.resize(Simd::FloatGroup);
        scratch.from.resize(Simd::FloatGroup);
      }
      unsigned int e0 = 0, e1 = 0;
      plan.ElementRange(line, e0, e1);
      for (unsigned int e = e0; e < e1;)
      {
        unsigned int count = 0;
        for (; e < e1 && count < Simd::FloatGroup; ++e)
        {
          float *delay = scratch.delay[count], *weight = scratch.weight[count];
          unsigned int first = 0, end = 0;
          BuildTrack(plan, plan.OffsetOfKey(plan.OffsetKey(line, e)), b0, rowsEnd, delay, weight, first, end);
          end = std::min(end, b1);
          if (first >= end)
            continue;
          scratch.weights.Add(weight + (first - b0), first - b0, end - first, plan.roots);
          // insertion by the row from which it counts (its buffers stay where they are)
          const Simd::Track track{delay, weight, channels + static_cast<std::size_t>(e) * plan.channelStride};
          const unsigned int from = fromRow(first);
          unsigned int at = count++;
          for (; at > 0 && scratch.from[at - 1] > from; --at)
          {
            scratch.tracks[at] = scratch.tracks[at - 1];
            scratch.from[at] = scratch.from[at - 1];
          }
          scratch.tracks[at] = track;
          scratch.from[at] = from;
        }
        accumulate(scratch.tracks.data(), scratch.from.data(), count, lastPair, sums, n);
      }
    }

    const float *norm = plan.shared ? plan.norm.data() + static_cast<std::size_t>(line) * plan.paddedRows : nullptr;
    for (unsigned int s = b0; s < b1; ++s)
    {
      const unsigned int i = s - b0;
      const float divisor = norm ? norm[s] : scratch.weights.Norm(i, plan.roots, plan.arrayWeight);
      float value = 0.0f;
      if (!(divisor > 0.0f))
        value = 0.0f;
      else if (!dmas)
        value = scratch.ws[i] / divisor;
      else
      {
        // the sum over all pairs, from the sums over the elements
        const double sumR = scratch.r[i];
        double dmasValue = (sumR * sumR - scratch.r2[i]) * 0.5 / divisor;
        if (algorithm == Algorithm::sDMAS)
        {
          const float das = scratch.ws[i];
          dmasValue = das > 0.0f ? dmasValue : (das < 0.0f ? -dmasValue : 0.0);
        }
        value = static_cast<float>(dmasValue);
      }
      out[static_cast<std::size_t>(s) * outStride] = value;
    }
  }

  /**
   * Decides whether the shared tracks fit the budget, checking before each
   * allocation that it stays within it: the table of which track each pair
   * uses (lines x elements) first, then a bitmap of the offsets that occur,
   * then the tracks themselves. Returns the bytes they take, 0 when they do
   * not fit. With `plan` set, fills its tables and allocates its tracks (the
   * tracks are computed by the caller); `distinct` receives the offsets.
   */
  std::size_t PlanSharedTracks(unsigned int elements,
                               unsigned int lines,
                               unsigned int paddedRows,
                               bool roots,
                               std::size_t budget,
                               Plan *plan,
                               std::vector<std::uint64_t> *distinct)
  {
    const double pairs = double(lines) * elements;
    const double trackOfBytes = pairs * sizeof(std::uint32_t);
    // largest |K|, at the corners of the grid
    const double maxKey = std::max((2.0 * elements - 1) * lines - elements, (2.0 * lines - 1) * elements - lines);
    const double words = std::floor(maxKey / 64) + 1;
    const double bitmapBytes = words * (sizeof(std::uint64_t) + sizeof(std::uint32_t));
    const double trackBytes = double(paddedRows) * 2 * sizeof(float);
    const double normBytes = double(lines) * paddedRows * sizeof(float);
    if (trackOfBytes + bitmapBytes + normBytes + trackBytes > double(budget))
      return 0;

    auto keyOf = [&](unsigned int l, unsigned int e) {
      return static_cast<std::uint64_t>(std::llabs((2LL * e + 1) * lines - (2LL * l + 1) * elements));
    };
    std::vector<std::uint64_t> bitmap(static_cast<std::size_t>(words), 0);
    for (unsigned int l = 0; l < lines; ++l)
      for (unsigned int e = 0; e < elements; ++e)
      {
        const std::uint64_t k = keyOf(l, e);
        bitmap[k >> 6] |= std::uint64_t(1) << (k & 63);
      }
    std::vector<std::uint32_t> rank(bitmap.size());
    std::size_t tracks = 0;
    for (std::size_t w = 0; w < bitmap.size(); ++w)
    {
      rank[w] = static_cast<std::uint32_t>(tracks);
      tracks += static_cast<std::size_t>(__builtin_popcountll(bitmap[w]));
    }
    const double total = trackOfBytes + bitmapBytes + normBytes + double(tracks) * trackBytes;
    if (total > double(budget))
      return 0;
    if (plan)
    {
      plan->trackOf.resize(static_cast<std::size_t>(pairs));
      for (unsigned int l = 0; l < lines; ++l)
        for (unsigned int e = 0; e < elements; ++e)
        {
          const std::uint64_t k = keyOf(l, e);
          const std::uint64_t below = bitmap[k >> 6] & ((std::uint64_t(1) << (k & 63)) - 1);
          plan->trackOf[static_cast<std::size_t>(l) * elements + e] =
            rank[k >> 6] + static_cast<std::uint32_t>(__builtin_popcountll(below));
        }
      distinct->clear();
      distinct->reserve(tracks);
      for (std::size_t w = 0; w < bitmap.size(); ++w)
        for (std::uint64_t bits = bitmap[w]; bits; bits &= bits - 1)
          distinct->push_back(w * 64 + static_cast<std::uint64_t>(__builtin_ctzll(bits)));
      plan->first.assign(tracks, 0);
      plan->end.assign(tracks, 0);
      const std::size_t values = tracks * paddedRows;
      plan->delay.resize(values);
      plan->weight.resize(values);
      plan->norm.resize(static_cast<std::size_t>(lines) * paddedRows);
      plan->shared = true;
    }
    return static_cast<std::size_t>(total);
  }

  PlanKey KeyOf(unsigned int elements, unsigned int samples, const Kernel::Parameters &p, std::size_t budget)
  {
    PlanKey k;
    k.elements = elements;
    k.samples = samples;
    k.rows = p.samplesPerLine;
    k.lines = p.lines;
    k.windowSize = p.windowSize;
    k.pitch = p.pitch;
    k.speedOfSound = p.speedOfSound;
    k.timeSpacing = p.timeSpacing;
    k.angle = p.angle;
    k.depth = p.depth;
    k.window = static_cast<int>(p.window);
    k.photoacoustic = p.photoacoustic;
    k.roots = p.algorithm != Kernel::Algorithm::DAS;
    k.budget = budget;
    return k;
  }

  /**
   * Orders the items of a frame by their work: the rows in which each
   * element counts (with its vector rounding), plus a fixed share per
   * element and line for the loop around them. Made from the rows per line
   * group where elements come in and drop out, so it takes lines x elements
   * + groups x rows steps whatever the geometry.
   */
  void OrderItems(Plan &plan)
  {
    const unsigned int padded = plan.paddedRows;
    plan.rowBlocks = (plan.rows + RowBlock - 1) / RowBlock;
    const unsigned int groups = (plan.lines + LineGroup - 1) / LineGroup;
    std::vector<double> cost(static_cast<std::size_t>(groups) * plan.rowBlocks, 0.0);
    std::vector<int> change(padded + 1);
    constexpr double PerElement = Simd::Lanes; // the loop's own work, in rows
    for (unsigned int g = 0; g < groups; ++g)
    {
      std::fill(change.begin(), change.end(), 0);
      const unsigned int l1 = std::min((g + 1) * LineGroup, plan.lines);
      unsigned int elementsOfGroup = 0;
      for (unsigned int l = g * LineGroup; l < l1; ++l)
      {
        unsigned int e0 = 0, e1 = 0;
        plan.ElementRange(l, e0, e1);
        elementsOfGroup += e1 - e0;
        for (unsigned int e = e0; e < e1; ++e)
        {
          unsigned int first, end;
          if (plan.shared)
          {
            const std::uint32_t k = plan.trackOf[static_cast<std::size_t>(l) * plan.elements + e];
            first = plan.first[k];
            end = plan.end[k];
          }
          else
          {
            // the recording's end is left out: an estimate is all it takes
            first = FirstActiveRow(plan, static_cast<float>(std::fabs(plan.OffsetOfKey(plan.OffsetKey(l, e)))));
            end = plan.rows;
          }
          if (first >= end)
            continue;
          ++change[first / Simd::Lanes * Simd::Lanes];
          --change[std::min(RoundUp(end, Simd::Lanes), padded)];
        }
      }
      int active = 0;
      for (unsigned int r = 0; r < padded; ++r)
      {
        active += change[r];
        cost[static_cast<std::size_t>(g) * plan.rowBlocks + r / RowBlock] += active;
      }
      for (unsigned int b = 0; b < plan.rowBlocks; ++b)
        cost[static_cast<std::size_t>(g) * plan.rowBlocks + b] += PerElement * elementsOfGroup;
    }
    plan.order.resize(cost.size());
    for (std::uint32_t i = 0; i < plan.order.size(); ++i)
      plan.order[i] = i;
    std::stable_sort(plan.order.begin(), plan.order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return cost[a] > cost[b]; });
  }

  std::shared_ptr<const Plan> MakePlan(const PlanKey &key, const Kernel::Parameters &p, unsigned int threads)
  {
    auto plan = std::make_shared<Plan>();
    plan->key = key;
    plan->elements = key.elements;
    plan->samples = key.samples;
    plan->channelStride = std::max(key.samples, 2u) + Simd::ChannelPadding;
    plan->rows = key.rows;
    plan->paddedRows = RoundUp(key.rows, Simd::Lanes);
    plan->lines = key.lines;
    plan->pitch = p.pitch;
    plan->lineSpacing = Kernel::LineSpacing(p, key.elements);
    plan->toSamples = static_cast<float>(1.0 / (p.speedOfSound * p.timeSpacing));
    plan->limited = p.angle < 180.0;
    plan->tanHalf = plan->limited ? std::tan(p.angle * 0.5 * Pi / 180.0) : 0.0;
    plan->window = Kernel::MakeWindow(p.window, p.windowSize);
    plan->box = p.window == Kernel::Window::Box || p.windowSize == 1;
    plan->roots = key.roots;
    plan->arrayWeight = ArrayWeight(plan->window, plan->box, key.elements);

    const double dz = Kernel::DepthSpacing(p);
    const double minHalfWidth = 0.5 * p.pitch;
    // no line is as far as the array's width from any element
    const double fullWidth = key.elements * p.pitch;
    const unsigned int padded = plan->paddedRows;
    plan->z2.resize(padded);
    plan->zTerm.resize(padded);
    plan->halfWidth.resize(padded);
    plan->inv2h.resize(padded);
    for (unsigned int s = 0; s < padded; ++s)
    {
      const double z = s * dz;
      const double h = plan->limited ? std::max(z * plan->tanHalf, minHalfWidth) : fullWidth;
      plan->z2[s] = static_cast<float>(z * z);
      plan->zTerm[s] = p.photoacoustic ? 0.0f : static_cast<float>(z);
      plan->halfWidth[s] = static_cast<float>(h);
      plan->inv2h[s] = static_cast<float>(0.5 / h);
    }

    std::vector<std::uint64_t> offsets;
    plan->bytes = PlanSharedTracks(key.elements, key.lines, padded, key.roots, key.budget, plan.get(), &offsets);
    if (plan->shared)
    {
      Plan &pl = *plan;
      vexa::ParallelForEach((offsets.size() + 7) / 8, threads, [&](std::size_t item) {
        const std::size_t last = std::min(offsets.size(), (item + 1) * 8);
        for (std::size_t k = item * 8; k < last; ++k)
        {
          const std::size_t at = k * padded;
          BuildTrack(pl, pl.OffsetOfKey(static_cast<long long>(offsets[k])), 0, padded, pl.delay.data() + at,
                     pl.weight.data() + at, pl.first[k], pl.end[k]);
        }
      });
      // what each pixel is divided by, from the weights alone
      vexa::ParallelForEach(pl.lines, threads, [&](std::size_t line) {
        WeightSums sums;
        unsigned int e0 = 0, e1 = 0;
        pl.ElementRange(static_cast<unsigned int>(line), e0, e1);
        for (unsigned int b0 = 0; b0 < padded; b0 += RowBlock)
        {
          const unsigned int b1 = std::min(b0 + RowBlock, padded);
          sums.Clear(b1 - b0);
          for (unsigned int e = e0; e < e1; ++e)
          {
            const std::uint32_t k = pl.trackOf[line * pl.elements + e];
            const unsigned int first = std::max(pl.first[k], b0), end = std::min(pl.end[k], b1);
            if (first < end)
              sums.Add(pl.weight.data() + static_cast<std::size_t>(k) * padded + first, first - b0, end - first,
                       pl.roots);
          }
          float *norm = pl.norm.data() + line * padded;
          for (unsigned int r = b0; r < b1; ++r)
            norm[r] = sums.Norm(r - b0, pl.roots, pl.arrayWeight);
        }
      });
    }
    if (plan->shared)
    {
      Plan &pl = *plan;
      pl.byFirstAt.assign(pl.lines + 1, 0);
      for (unsigned int l = 0; l < pl.lines; ++l)
      {
        unsigned int e0 = 0, e1 = 0;
        pl.ElementRange(l, e0, e1);
        pl.byFirstAt[l] = pl.byFirst.size();
        for (unsigned int e = e0; e < e1; ++e)
          pl.byFirst.push_back(e);
        const std::uint32_t *trackOf = pl.trackOf.data() + static_cast<std::size_t>(l) * pl.elements;
        std::stable_sort(pl.byFirst.begin() + pl.byFirstAt[l], pl.byFirst.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return pl.first[trackOf[a]] < pl.first[trackOf[b]]; });
      }
      pl.byFirstAt[pl.lines] = pl.byFirst.size();
      pl.bytes += pl.byFirst.size() * sizeof(std::uint32_t) + pl.byFirstAt.size() * sizeof(std::size_t);
    }
    OrderItems(*plan);
    plan->bytes += plan->order.size() * sizeof(std::uint32_t);
    return plan;
  }

  vexa::BeamformingPlanCache<Plan> &Plans()
  {
    // the last few geometries, within twice the default track budget
    static vexa::BeamformingPlanCache<Plan> cache(4, 2 * Kernel::DefaultTrackBudgetBytes);
    return cache;
  }
}

vexa::BeamformingKernel::InstructionSet vexa::BeamformingKernel::BestInstructionSet()
{
  static const InstructionSet best = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
      return InstructionSet::AVX512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
      return InstructionSet::AVX2;
    return InstructionSet::Baseline;
  }();
  return best;
}

std::size_t vexa::BeamformingKernel::SharedTrackBytes(unsigned int elements,
                                                      const Parameters &p,
                                                      std::size_t trackBudgetBytes)
{
  return PlanSharedTracks(elements, p.lines, RoundUp(p.samplesPerLine, Simd::Lanes), p.algorithm != Algorithm::DAS,
                          trackBudgetBytes, nullptr, nullptr);
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
  if (!raw.Empty() && raw.data.size() != static_cast<std::size_t>(raw.nx) * raw.ny * raw.nz)
    vexaThrow() << "Beamforming: the raw data holds " << raw.data.size() << " values instead of " << raw.nx << " x "
                << raw.ny << " x " << raw.nz << ".";
  Validate(p, raw.nx, raw.ny, raw.nz);
}

void vexa::BeamformingKernel::Validate(const Parameters &p, unsigned int nx, unsigned int ny, unsigned int nz)
{
  if (nx == 0 || ny == 0 || nz == 0)
    vexaThrow() << "Beamforming needs raw data with at least one element, one sample and one frame; got " << nx << " x "
                << ny << " x " << nz << ".";
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
    vexaThrow() << "Beamforming: unknown algorithm " << static_cast<int>(p.algorithm) << " (DMAS 0, DAS 1, sDMAS 2).";
  const double outputPixels = double(p.lines) * p.samplesPerLine * nz;
  if (outputPixels > double(std::numeric_limits<std::ptrdiff_t>::max() / sizeof(float)))
    vexaThrow() << "Beamforming: an output of " << p.lines << " x " << p.samplesPerLine << " x " << nz
                << " pixels is too large.";
}

vexa::SampleVolume vexa::BeamformingKernel::Reconstruct(const SampleVolume &raw,
                                                        const Parameters &p,
                                                        unsigned int threads,
                                                        const ProgressCallback &progress,
                                                        std::size_t trackBudgetBytes,
                                                        InstructionSet instructions)
{
  Validate(p, raw);
  SampleVolume out(p.lines, p.samplesPerLine, raw.nz);
  ReconstructInto(raw.data.data(), raw.nx, raw.ny, raw.nz, p, out.data.data(), threads, progress, trackBudgetBytes,
                  instructions);
  return out;
}

void vexa::BeamformingKernel::ReconstructInto(const float *raw,
                                              unsigned int nx,
                                              unsigned int ny,
                                              unsigned int nz,
                                              const Parameters &p,
                                              float *out,
                                              unsigned int threads,
                                              const ProgressCallback &progress,
                                              std::size_t trackBudgetBytes,
                                              InstructionSet instructions)
{
  Validate(p, nx, ny, nz);
  const InstructionSet best = BestInstructionSet();
  if (instructions == InstructionSet::Best || static_cast<int>(instructions) > static_cast<int>(best))
    instructions = best;

  const std::size_t outFrame = static_cast<std::size_t>(p.lines) * p.samplesPerLine;
  const unsigned int rowBlocks = (p.samplesPerLine + RowBlock - 1) / RowBlock;
  const unsigned int lineGroups = (p.lines + LineGroup - 1) / LineGroup;
  const std::size_t perFrame = static_cast<std::size_t>(rowBlocks) * lineGroups;
  const std::size_t items = perFrame * nz;
  const std::string name = AlgorithmName(p.algorithm);
  const unsigned int frames = nz;

  ProgressReporter reporter(
    progress,
    [&](std::size_t done) {
      std::ostringstream text;
      if (done >= items)
        text << name << " beamforming done";
      else
        text << name << " beamforming, frame " << (done / perFrame + 1) << " of " << frames;
      return text.str();
    },
    items);
  reporter.Start(); // before the plan, which the first call of a geometry makes

  const PlanKey key = KeyOf(nx, ny, p, trackBudgetBytes);
  const std::shared_ptr<const Plan> planRef = Plans().Get(key, [&] { return MakePlan(key, p, threads); });
  const Plan &plan = *planRef;
  const Simd::Accumulate accumulate = SelectAccumulate(p.algorithm != Algorithm::DAS, instructions, ny);

  // Element-major copies of the frames: the inner loop walks one element's
  // samples in order instead of striding across the elements. A single
  // sample is doubled so that interpolation always has two neighbours; the
  // padding after each channel is zero. Made in blocks of elements (so that
  // reads stay in cache lines) and of samples (so that all threads share the
  // copy, and the reconstruction waits for it only briefly), for a batch of
  // frames at a time.
  constexpr unsigned int Block = 16;
  constexpr unsigned int SampleBlock = 512;
  const std::size_t frameSize = static_cast<std::size_t>(nx) * ny;
  const std::size_t channelFrame = static_cast<std::size_t>(nx) * plan.channelStride;
  const unsigned int batch = static_cast<unsigned int>(
    std::max<std::size_t>(1, std::min<std::size_t>(nz, ChannelBatchBytes / (channelFrame * sizeof(float)))));
  const std::size_t sampleBlocks = (ny + SampleBlock - 1) / SampleBlock;
  const std::size_t blocks = (nx + Block - 1) / Block * sampleBlocks;
  BeamformingBufferLoan channels(channelFrame * batch);

  // One job per batch of frames. Each frame is a run of items: first the
  // blocks of its channel copy, then its reconstruction items, which wait
  // (briefly) until the copy of their frame is complete. Items are handed
  // out in order, so every copy item a reconstruction item waits for is
  // already running on some thread.
  const std::size_t perUnit = blocks + perFrame;
  const auto scratch = Scratches().Take(ParallelSlots(threads));
  for (unsigned int f0 = 0; f0 < nz; f0 += batch)
  {
    const unsigned int nf = std::min(batch, nz - f0);
    std::vector<std::atomic<std::size_t>> copied(nf);
    for (auto &c : copied)
      c.store(0, std::memory_order_relaxed);
    const std::size_t done0 = static_cast<std::size_t>(f0) * perFrame;
    ParallelForEachSlot(
      nf * perUnit, threads,
      [&](std::size_t item, unsigned int slot) {
        const std::size_t f = item / perUnit;
        const std::size_t r = item % perUnit;
        if (r < blocks)
        {
          const unsigned int e0 = static_cast<unsigned int>(r / sampleBlocks * Block);
          const unsigned int e1 = std::min(e0 + Block, nx);
          const unsigned int i0 = static_cast<unsigned int>(r % sampleBlocks * SampleBlock);
          const unsigned int i1 = std::min(i0 + SampleBlock, ny);
          const float *src = raw + (f0 + f) * frameSize;
          float *dst = channels.Get() + f * channelFrame;
          for (unsigned int i = i0; i < i1; ++i)
            for (unsigned int e = e0; e < e1; ++e)
              dst[static_cast<std::size_t>(e) * plan.channelStride + i] = src[static_cast<std::size_t>(i) * nx + e];
          if (i1 == ny) // the block of the channels' ends
            for (unsigned int e = e0; e < e1; ++e)
            {
              float *channel = dst + static_cast<std::size_t>(e) * plan.channelStride;
              if (ny == 1)
                channel[1] = channel[0];
              std::fill(channel + std::max(ny, 2u), channel + plan.channelStride, 0.0f);
            }
          copied[f].fetch_add(1, std::memory_order_release);
          return;
        }
        while (copied[f].load(std::memory_order_acquire) < blocks)
          std::this_thread::yield();
        const std::uint32_t q = plan.order[r - blocks];
        const unsigned int rb = q % rowBlocks;
        const unsigned int l0 = q / rowBlocks * LineGroup;
        const unsigned int l1 = std::min(l0 + LineGroup, p.lines);
        const unsigned int b0 = rb * RowBlock;
        const unsigned int b1 = std::min(b0 + RowBlock, p.samplesPerLine);
        const float *frameChannels = channels.Get() + f * channelFrame;
        float *frameOut = out + (f0 + f) * outFrame;
        for (unsigned int l = l0; l < l1; ++l)
          ReconstructBlock(plan, p.algorithm, accumulate, frameChannels, l, b0, b1, frameOut + l, p.lines,
                           (*scratch)[slot]);
      },
      [&](std::size_t done) {
        // in reconstruction items, roughly: the copies are a small share
        reporter.Report(done0 + done * perFrame / perUnit);
      });
  }
  reporter.Report(items);
}
