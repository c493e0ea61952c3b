#include "vexaLevelWindow.h"

#include "vexaImage.h"
#include "vexaImageReadAccessor.h"
#include "vexaPixelType.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
  // The automatic window reads the pixels once, in blocks, for the exact
  // extremes of each block; the ranks at the ends of the histogram come from
  // those block extremes and a second look at the few blocks that hold them,
  // and the bulk's percentiles from a sample of at most SampleSize values:
  // a display window needs no exact percentile, but it must not miss the
  // few bright pixels of a point absorber, which a sample would.
  constexpr std::size_t BlockSize = 256;
  constexpr std::size_t SampleSize = std::size_t(1) << 16;
  // The share of the pixels that a widened window may leave beyond its ends,
  // so that a few stray pixels do not set it.
  constexpr double OutlierShare = 1e-5;
  constexpr double Infinity = std::numeric_limits<double>::infinity();

  struct Summary
  {
    std::size_t finite = 0;
    double min = Infinity;
    double max = -Infinity;
    std::vector<double> blockMin; // +inf for a block without a finite value
    std::vector<double> blockMax; // -inf for a block without a finite value
    std::vector<double> sample;
  };

  template <typename T>
  bool IsFinite(T value)
  {
    if constexpr (std::is_floating_point_v<T>)
      return std::isfinite(value);
    else
      return true;
  }

  // The extremes of the finite values among n values `stride` apart.
  template <typename T>
  void ScanBlock(const T *pixels, std::size_t n, std::size_t stride, double &low, double &high, std::size_t &finite)
  {
    for (std::size_t i = 0; i < n; ++i)
    {
      const T value = pixels[i * stride];
      if (!IsFinite(value))
        continue;
      const double v = static_cast<double>(value);
      low = std::min(low, v);
      high = std::max(high, v);
      ++finite;
    }
  }

#if defined(__SSE2__)
  // The same for plain float images, eight at a time in two independent
  // halves: the pass over a large beamformed result is the automatic
  // window's main cost, and it should run at the speed of memory. MINPS and
  // MAXPS return their second operand when the first is NaN, so NaN drops
  // out by itself; a block that holds NaN or an infinity is scanned again
  // one value at a time for its count of finite values.
  void ScanFloats(const float *pixels, std::size_t n, double &low, double &high, std::size_t &finite)
  {
    const __m128 inf = _mm_set1_ps(std::numeric_limits<float>::infinity());
    const __m128 negInf = _mm_set1_ps(-std::numeric_limits<float>::infinity());
    __m128 lows[2] = {inf, inf};
    __m128 highs[2] = {negInf, negInf};
    __m128 nan[2] = {_mm_setzero_ps(), _mm_setzero_ps()};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
      for (int h = 0; h < 2; ++h)
      {
        const __m128 v = _mm_loadu_ps(pixels + i + 4 * h);
        lows[h] = _mm_min_ps(v, lows[h]);
        highs[h] = _mm_max_ps(v, highs[h]);
        nan[h] = _mm_or_ps(nan[h], _mm_cmpunord_ps(v, v));
      }
    const __m128 blockLows = _mm_min_ps(lows[0], lows[1]);
    const __m128 blockHighs = _mm_max_ps(highs[0], highs[1]);
    const bool special =
      _mm_movemask_ps(_mm_or_ps(_mm_or_ps(nan[0], nan[1]),
                                _mm_or_ps(_mm_cmpeq_ps(blockLows, negInf), _mm_cmpeq_ps(blockHighs, inf)))) != 0;
    if (special)
    {
      ScanBlock(pixels, n, 1, low, high, finite);
      return;
    }
    float l[4], h[4];
    _mm_storeu_ps(l, blockLows);
    _mm_storeu_ps(h, blockHighs);
    for (int k = 0; k < 4; ++k)
      if (i > 0)
      {
        low = std::min(low, static_cast<double>(l[k]));
        high = std::max(high, static_cast<double>(h[k]));
      }
    finite += i;
    ScanBlock(pixels + i, n - i, 1, low, high, finite);
  }
#endif

  template <typename T>
  void Scan(const T *pixels, std::size_t n, std::size_t stride, double &low, double &high, std::size_t &finite)
  {
#if defined(__SSE2__)
    if constexpr (std::is_same_v<T, float>)
      if (stride == 1)
        return ScanFloats(pixels, n, low, high, finite);
#endif
    ScanBlock(pixels, n, stride, low, high, finite);
  }

  // A fixed scatter of the sample positions: the same image always gets the
  // same window, and the sample does not fall into step with rows or columns.
  std::uint64_t Scatter(std::uint64_t x)
  {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
  }

  template <typename T>
  void Summarise(const T *pixels, std::size_t count, std::size_t stride, Summary &summary)
  {
    const std::size_t blocks = (count + BlockSize - 1) / BlockSize;
    summary.blockMin.assign(blocks, Infinity);
    summary.blockMax.assign(blocks, -Infinity);
    // small images give every value; larger ones their sample, taken from
    // each block while it is in the cache for its extremes
    const bool sampled = count > 2 * SampleSize;
    summary.sample.reserve(sampled ? SampleSize : count);
    for (std::size_t b = 0; b < blocks; ++b)
    {
      const std::size_t first = b * BlockSize;
      const std::size_t n = std::min(BlockSize, count - first);
      const T *block = pixels + first * stride;
      double &low = summary.blockMin[b];
      double &high = summary.blockMax[b];
      Scan(block, n, stride, low, high, summary.finite);

      const std::size_t picks = sampled ? (b + 1) * SampleSize / blocks - b * SampleSize / blocks : n;
      for (std::size_t k = 0; k < picks; ++k)
      {
        // a scattered position in the block (the scatter's top half scaled to n)
        const std::size_t at = sampled ? static_cast<std::size_t>((Scatter(b * BlockSize + k) >> 32) * n >> 32) : k;
        const T value = block[at * stride];
        if (IsFinite(value))
          summary.sample.push_back(static_cast<double>(value));
      }
    }
    for (std::size_t b = 0; b < blocks; ++b)
    {
      summary.min = std::min(summary.min, summary.blockMin[b]);
      summary.max = std::max(summary.max, summary.blockMax[b]);
    }
    if (summary.finite > 0 && summary.sample.size() < std::min(summary.finite, SampleSize / 16))
    {
      // the sample found too little (an image of mostly NaN): every finite value
      summary.sample.clear();
      for (std::size_t i = 0; i < count; ++i)
        if (IsFinite(pixels[i * stride]))
          summary.sample.push_back(static_cast<double>(pixels[i * stride]));
    }
  }

  // The value that `rank` finite values exceed (`top`) or undercut, exactly:
  // found among the blocks whose extremes reach past the block extreme of that rank.
  template <typename T>
  double ExtremeRank(
    const T *pixels, std::size_t count, std::size_t stride, const Summary &summary, std::size_t rank, bool top)
  {
    if (rank == 0)
      return top ? summary.max : summary.min;
    const std::vector<double> &extremes = top ? summary.blockMax : summary.blockMin;
    // a key that sorts the wanted end first
    const auto key = [top](double v) { return top ? -v : v; };
    std::vector<double> keys;
    keys.reserve(extremes.size());
    for (double e : extremes)
      if (std::isfinite(e))
        keys.push_back(key(e));
    double bound = Infinity; // every block qualifies
    if (keys.size() > rank)
    {
      // rank + 1 blocks reach this far, so rank + 1 values do
      std::nth_element(keys.begin(), keys.begin() + rank, keys.end());
      bound = keys[rank];
    }
    std::vector<double> candidates;
    for (std::size_t b = 0; b < extremes.size(); ++b)
    {
      if (!std::isfinite(extremes[b]) || key(extremes[b]) > bound)
        continue;
      const std::size_t first = b * BlockSize;
      const std::size_t n = std::min(BlockSize, count - first);
      for (std::size_t i = first; i < first + n; ++i)
      {
        const T value = pixels[i * stride];
        if (IsFinite(value) && key(static_cast<double>(value)) <= bound)
          candidates.push_back(key(static_cast<double>(value)));
      }
    }
    if (candidates.size() <= rank)
      return top ? summary.min : summary.max; // cannot happen with rank < finite values
    std::nth_element(candidates.begin(), candidates.begin() + rank, candidates.end());
    return key(candidates[rank]);
  }

  // The value at quantile q of `values` (nearest rank), reordering them.
  double Quantile(std::vector<double> &values, double q)
  {
    const std::size_t rank = static_cast<std::size_t>(std::floor(q * static_cast<double>(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + rank, values.end());
    return values[rank];
  }

  // How far a window end moves from its percentile towards the image's
  // extreme, for a tail that reaches `tail` bulk widths beyond the
  // percentile: not at all for the tails of speckle and noise (about one
  // width), all the way for the long tail of a sparse image's bright
  // structures, a gradual move between so that similar images get similar
  // windows.
  double Widening(double tail) { return std::clamp((tail - 3.0) / 3.0, 0.0, 1.0); }

  struct Bounds
  {
    double lower, upper, min, max;
  };

  template <typename T>
  bool AutoBounds(const void *buffer,
                  std::size_t first,
                  std::size_t count,
                  std::size_t components,
                  std::size_t component,
                  Bounds &bounds)
  {
    const T *pixels = static_cast<const T *>(buffer) + first * components + component;
    Summary summary;
    Summarise(pixels, count, components, summary);
    if (summary.finite == 0)
      return false;
    std::vector<double> &sample = summary.sample;
    double upper = Quantile(sample, 0.98);
    double lower = Quantile(sample, 0.02);
    const std::size_t outliers = static_cast<std::size_t>(static_cast<double>(summary.finite) * OutlierShare);
    const double spread = upper - lower;
    if (!(spread > 0))
    {
      // a flat bulk: the extremes (bar stray pixels) decide
      lower = ExtremeRank(pixels, count, components, summary, outliers, false);
      upper = ExtremeRank(pixels, count, components, summary, outliers, true);
    }
    else
    {
      // the exact ends are looked for only when even the extremes would widen the window
      if (Widening((summary.max - upper) / spread) > 0)
      {
        const double top = ExtremeRank(pixels, count, components, summary, outliers, true);
        upper += Widening((top - upper) / spread) * std::max(0.0, top - upper);
      }
      if (Widening((lower - summary.min) / spread) > 0)
      {
        const double bottom = ExtremeRank(pixels, count, components, summary, outliers, false);
        lower -= Widening((lower - bottom) / spread) * std::max(0.0, lower - bottom);
      }
    }
    if (upper <= lower)
    {
      lower = summary.min;
      upper = summary.max;
    }
    bounds = {lower, upper, summary.min, summary.max};
    return true;
  }

  bool AutoBounds(int componentType,
                  const void *buffer,
                  std::size_t first,
                  std::size_t count,
                  std::size_t components,
                  std::size_t component,
                  Bounds &bounds)
  {
    bool found = false;
    const bool known = vexa::ForComponentType(componentType, [&](auto tag) {
      found = AutoBounds<decltype(tag)>(buffer, first, count, components, component, bounds);
    });
    return known && found;
  }
}

namespace vexa
{
  LevelWindow::LevelWindow(double level, double window) : m_Lower(0), m_Upper(1), m_RangeMin(0), m_RangeMax(1)
  {
    SetLevelWindow(level, window);
    m_RangeMin = m_Lower;
    m_RangeMax = m_Upper;
  }

  void LevelWindow::SetLevelWindow(double level, double window)
  {
    if (!std::isfinite(level) || !std::isfinite(window))
      return;
    if (window <= 0)
      window = 1;
    SetWindowBounds(level - window / 2.0, level + window / 2.0);
  }

  void LevelWindow::SetWindowBounds(double lower, double upper)
  {
    if (!std::isfinite(lower) || !std::isfinite(upper))
      return;
    if (upper < lower)
      std::swap(lower, upper);
    if (upper == lower)
    {
      lower -= 0.5;
      upper += 0.5;
    }
    m_Lower = lower;
    m_Upper = upper;
    m_RangeMin = std::min(m_RangeMin, m_Lower);
    m_RangeMax = std::max(m_RangeMax, m_Upper);
  }

  void LevelWindow::SetRangeMinMax(double min, double max)
  {
    if (!std::isfinite(min) || !std::isfinite(max))
      return;
    if (max < min)
      std::swap(min, max);
    if (max == min)
    {
      min -= 0.5;
      max += 0.5;
    }
    m_RangeMin = min;
    m_RangeMax = max;
    ClampWindowIntoRange();
  }

  void LevelWindow::ClampWindowIntoRange()
  {
    const double width = std::min(m_Upper - m_Lower, m_RangeMax - m_RangeMin);
    double lower = std::max(m_Lower, m_RangeMin);
    if (lower + width > m_RangeMax)
      lower = m_RangeMax - width;
    m_Lower = lower;
    m_Upper = lower + width;
  }

  bool LevelWindow::SetAuto(const Image *image, bool, bool guessByCentralSlice, unsigned int selectedComponent)
  {
    if (!image || !image->IsInitialized())
      return false;
    const PixelType pixelType = image->GetPixelType(0);
    const std::size_t components = pixelType.GetNumberOfComponents();
    if (selectedComponent >= components)
      return false;

    const std::size_t sliceSize = std::size_t(image->GetDimension(0)) * image->GetDimension(1);
    const std::size_t depth = image->GetDimension() > 2 ? image->GetDimension(2) : 1;
    std::size_t first = 0;
    std::size_t count = sliceSize * depth; // time step 0
    if (guessByCentralSlice && depth > 1)
    {
      first = sliceSize * (depth / 2);
      count = sliceSize;
    }

    Bounds bounds;
    {
      ImageReadAccessor access(image);
      if (!access.GetData() || access.GetSize() < (first + count) * pixelType.GetSize())
        return false;
      if (count == 0 || !AutoBounds(pixelType.GetComponentType(), access.GetData(), first, count, components,
                                    selectedComponent, bounds))
        return false;
    }
    // set the range wide first so that the new window is not clamped by the old one
    m_RangeMin = std::min(bounds.min, bounds.lower);
    m_RangeMax = std::max(bounds.max, bounds.upper);
    SetWindowBounds(bounds.lower, bounds.upper);
    SetRangeMinMax(std::min(m_RangeMin, m_Lower), std::max(m_RangeMax, m_Upper));
    return true;
  }

  bool LevelWindow::operator==(const LevelWindow &other) const
  {
    return m_Lower == other.m_Lower && m_Upper == other.m_Upper && m_RangeMin == other.m_RangeMin &&
           m_RangeMax == other.m_RangeMax;
  }

  std::ostream &operator<<(std::ostream &os, const LevelWindow &levelWindow)
  {
    return os << "L:" << levelWindow.GetLevel() << " W:" << levelWindow.GetWindow() << " ["
              << levelWindow.GetLowerWindowBound() << ", " << levelWindow.GetUpperWindowBound() << "] range ["
              << levelWindow.GetRangeMin() << ", " << levelWindow.GetRangeMax() << "]";
  }
}
