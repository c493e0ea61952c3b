#include "vexaSignalKernels.h"
#include "vexaParallelFor.h"
#include "vexaSlotScratch.h"

#include <vexaException.h>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <mutex>

namespace
{
  constexpr double Pi = 3.14159265358979323846;

  // FFTW's planner is not thread-safe; executing a plan is. Every plan of
  // this library is made and destroyed under this lock.
  std::mutex &PlannerMutex()
  {
    static std::mutex m;
    return m;
  }

  struct FftwFree
  {
    void operator()(void *p) const { fftw_free(p); }
  };
  template <class T>
  using FftwBuffer = std::unique_ptr<T, FftwFree>;

  template <class T>
  FftwBuffer<T> Allocate(std::size_t n)
  {
    T *p = static_cast<T *>(fftw_malloc(sizeof(T) * std::max<std::size_t>(n, 1)));
    if (!p)
      throw std::bad_alloc();
    return FftwBuffer<T>(p);
  }

  /**
   * The forward and backward complex transforms of one length, planned once
   * and kept for the process. (Complex plans take FFTW tens of microseconds
   * to make; its real-input plans take milliseconds, more than filtering a
   * whole frame.) Executing a plan is thread-safe; the new-array execute
   * functions need buffers aligned like the planning ones, which
   * fftw_malloc gives.
   */
  class FftPlans
  {
  public:
    explicit FftPlans(int n) : m_N(n)
    {
      auto a = Allocate<fftw_complex>(n);
      auto b = Allocate<fftw_complex>(n);
      std::lock_guard<std::mutex> lock(PlannerMutex());
      m_Forward = fftw_plan_dft_1d(n, a.get(), b.get(), FFTW_FORWARD, FFTW_ESTIMATE);
      m_Backward = fftw_plan_dft_1d(n, a.get(), b.get(), FFTW_BACKWARD, FFTW_ESTIMATE);
      if (!m_Forward || !m_Backward)
      {
        Destroy();
        vexaThrow() << "FFTW could not plan a transform of " << n << " samples.";
      }
    }
    ~FftPlans()
    {
      std::lock_guard<std::mutex> lock(PlannerMutex());
      Destroy();
    }
    FftPlans(const FftPlans &) = delete;
    FftPlans &operator=(const FftPlans &) = delete;

    int Length() const { return m_N; }
    void Forward(fftw_complex *in, fftw_complex *out) const { fftw_execute_dft(m_Forward, in, out); }
    void Backward(fftw_complex *in, fftw_complex *out) const { fftw_execute_dft(m_Backward, in, out); }

  private:
    void Destroy()
    {
      for (fftw_plan *p : {&m_Forward, &m_Backward})
        if (*p)
        {
          fftw_destroy_plan(*p);
          *p = nullptr;
        }
    }
    int m_N;
    fftw_plan m_Forward = nullptr;
    fftw_plan m_Backward = nullptr;
  };

  /** The plans of the lengths used lately (a few; a caller holds its own reference). */
  std::shared_ptr<const FftPlans> PlansFor(int n)
  {
    // the planner's lock is made first, so it outlives the cached plans that take it when destroyed
    PlannerMutex();
    static std::mutex mutex;
    static std::vector<std::shared_ptr<const FftPlans>> cache; // most recent first
    constexpr std::size_t MaxLengths = 8;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = cache.begin(); it != cache.end(); ++it)
        if ((*it)->Length() == n)
        {
          auto plans = *it;
          cache.erase(it);
          cache.insert(cache.begin(), plans);
          return plans;
        }
    }
    auto plans = std::make_shared<const FftPlans>(n);
    std::lock_guard<std::mutex> lock(mutex);
    cache.insert(cache.begin(), plans);
    if (cache.size() > MaxLengths)
      cache.resize(MaxLengths);
    return plans;
  }

  // Columns per work item: one cache line of float pixels per row.
  constexpr unsigned int ColumnBlock = 16;

  /**
   * Buffers of the column filters, one per participant of a call, grown
   * when a longer column comes and kept: ColumnBlock columns of floats (the
   * pixels' own type: the transforms work in double) and two complex
   * transforms' worth. Kept small on purpose: a first call pays for every
   * new page, and on a virtual machine the participants' page faults hardly
   * overlap.
   */
  struct ColumnScratch
  {
    std::vector<float> columns;
    FftwBuffer<fftw_complex> a, b;
    std::size_t rows = 0, length = 0;

    void Reserve(std::size_t n, std::size_t transform)
    {
      if (n > rows)
      {
        columns.assign(Stride(n) * ColumnBlock, 0.0f);
        rows = n;
      }
      if (transform > length)
      {
        a = Allocate<fftw_complex>(transform);
        b = Allocate<fftw_complex>(transform);
        length = transform;
      }
    }
    // Columns lie a cache line more than a whole number of them apart: at a
    // power-of-two distance (2048 samples, 8 KB) the block's 16 columns
    // would share one cache set and evict each other on every row.
    static std::size_t Stride(std::size_t n) { return n + 16; }
    float *Column(unsigned int c) { return columns.data() + Stride(rows) * c; }
  };

  /**
   * Runs `filter(scratch, width)` on every block of up to ColumnBlock
   * columns (x, frame) of `in` along y; the block's columns are read into
   * scratch.Column(c), a cache line per row, and the filter replaces them
   * with its results. `transform` is the length of the filter's transforms.
   */
  template <class Filter>
  vexa::SampleVolume FilterColumns(const vexa::SampleVolume &in,
                                   std::size_t transform,
                                   unsigned int threads,
                                   Filter filter)
  {
    static vexa::SlotScratch<ColumnScratch> scratches;
    vexa::SampleVolume out(in.nx, in.ny, in.nz);
    const std::size_t blocks = (in.nx + ColumnBlock - 1) / ColumnBlock;
    const std::size_t nx = in.nx;
    const auto loan = scratches.Take(vexa::ParallelSlots(threads));
    vexa::ParallelForEachSlot(blocks * in.nz, threads, [&](std::size_t item, unsigned int slot) {
      ColumnScratch &scratch = (*loan)[slot];
      scratch.Reserve(in.ny, transform);
      const unsigned int z = static_cast<unsigned int>(item / blocks);
      const unsigned int x0 = static_cast<unsigned int>(item % blocks) * ColumnBlock;
      const unsigned int width = std::min(ColumnBlock, in.nx - x0);
      const float *src = in.data.data() + in.Index(x0, 0, z);
      for (unsigned int i = 0; i < in.ny; ++i)
        for (unsigned int c = 0; c < width; ++c)
          scratch.Column(c)[i] = src[i * nx + c];
      filter(scratch, width);
      float *dst = out.data.data() + out.Index(x0, 0, z);
      for (unsigned int i = 0; i < in.ny; ++i)
        for (unsigned int c = 0; c < width; ++c)
          dst[i * nx + c] = scratch.Column(c)[i];
    });
    return out;
  }

  void CheckFftLength(const vexa::SampleVolume &in, const char *what, std::size_t factor)
  {
    if (in.Empty())
      vexaThrow() << what << " needs an image with at least one value; got " << in.nx << " x " << in.ny << " x "
                  << in.nz << ".";
    if (static_cast<std::size_t>(in.ny) * factor > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2))
      vexaThrow() << what << ": " << in.ny << " samples per column are too many for one transform.";
  }
}

vexa::SampleVolume vexa::SignalKernels::Envelope(const SampleVolume &in, unsigned int threads)
{
  CheckFftLength(in, "Envelope detection", 1);
  const int n = static_cast<int>(in.ny);
  const std::shared_ptr<const FftPlans> plans = PlansFor(n);
  return FilterColumns(in, n, threads, [&](ColumnScratch &scratch, unsigned int width) {
    fftw_complex *a = scratch.a.get(), *b = scratch.b.get();
    const double scale = 1.0 / n;
    for (unsigned int c = 0; c < width; ++c)
    {
      float *column = scratch.Column(c);
      for (int i = 0; i < n; ++i)
      {
        a[i][0] = column[i];
        a[i][1] = 0.0;
      }
      plans->Forward(a, b);
      // the analytic signal doubles the positive frequencies, keeps DC (and
      // Nyquist for even n) and drops the negative ones
      for (int k = 1; k < (n + 1) / 2; ++k)
      {
        b[k][0] *= 2.0;
        b[k][1] *= 2.0;
      }
      for (int k = n / 2 + 1; k < n; ++k)
        b[k][0] = b[k][1] = 0.0;
      plans->Backward(b, a);
      // float input squared stays far inside double's range: no need for hypot's care (or cost)
      for (int i = 0; i < n; ++i)
        column[i] = static_cast<float>(std::sqrt(a[i][0] * a[i][0] + a[i][1] * a[i][1]) * scale);
    }
  });
}

vexa::SampleVolume vexa::SignalKernels::AbsoluteValue(const SampleVolume &in)
{
  SampleVolume out = in;
  for (float &v : out.data)
    v = std::fabs(v);
  return out;
}

void vexa::SignalKernels::LogCompress(SampleVolume &volume)
{
  float vmax = 0.0f;
  for (float v : volume.data)
    if (v > vmax)
      vmax = v;
  const float floorDb = LogCompressionFloorDecibels;
  if (!(vmax > 0.0f) || !std::isfinite(vmax))
  {
    std::fill(volume.data.begin(), volume.data.end(), vmax > 0.0f ? 0.0f : floorDb);
    return;
  }
  const double inv = 1.0 / vmax;
  for (float &v : volume.data)
  {
    const double ratio = v * inv;
    const double db = ratio > 0.0 ? 20.0 * std::log10(ratio) : floorDb;
    v = static_cast<float>(std::max<double>(db, floorDb));
  }
}

double vexa::SignalKernels::BandGain(
  double f, double highPassHz, double lowPassHz, double alphaLowPass, double alphaHighPass, double nyquistHz)
{
  f = std::fabs(f);
  const bool highEdge = highPassHz > 0.0;
  const bool lowEdge = lowPassHz > 0.0 && lowPassHz <= nyquistHz;
  const double start = highEdge ? highPassHz : 0.0;
  const double end = lowEdge ? lowPassHz : nyquistHz;
  if (highEdge && f <= start)
    return 0.0;
  if (lowEdge && f >= end)
    return 0.0;
  // Each taper takes its alpha's share of half the band, so they never overlap.
  const double width = end - start;
  const double rise = highEdge ? alphaHighPass * width * 0.5 : 0.0;
  const double fall = lowEdge ? alphaLowPass * width * 0.5 : 0.0;
  if (rise > 0.0 && f < start + rise)
    return 0.5 * (1.0 - std::cos(Pi * (f - start) / rise));
  if (fall > 0.0 && f > end - fall)
    return 0.5 * (1.0 - std::cos(Pi * (end - f) / fall));
  return 1.0;
}

vexa::SampleVolume vexa::SignalKernels::Bandpass(const SampleVolume &in,
                                                 double highPassHz,
                                                 double lowPassHz,
                                                 double alphaLowPass,
                                                 double alphaHighPass,
                                                 double sampleSpacing,
                                                 unsigned int threads)
{
  CheckFftLength(in, "Bandpass", 2);
  if (!std::isfinite(sampleSpacing) || sampleSpacing <= 0.0)
    vexaThrow() << "Bandpass needs a positive sample spacing; got " << sampleSpacing << " s.";
  if (!std::isfinite(highPassHz) || highPassHz < 0.0)
    vexaThrow() << "Bandpass needs a high-pass cut-off of 0 Hz or more; got " << highPassHz << " Hz.";
  if (!std::isfinite(lowPassHz) || lowPassHz < 0.0)
    vexaThrow() << "Bandpass needs a low-pass cut-off of 0 Hz or more; got " << lowPassHz << " Hz.";
  if (lowPassHz > 0.0 && highPassHz >= lowPassHz)
    vexaThrow() << "Bandpass: the high-pass cut-off (" << highPassHz << " Hz) must lie below the low-pass cut-off ("
                << lowPassHz << " Hz).";
  if (!(alphaHighPass >= 0.0 && alphaHighPass <= 1.0))
    vexaThrow() << "Bandpass: the Tukey alpha of the high-pass edge must lie in [0, 1]; got " << alphaHighPass << ".";
  if (!(alphaLowPass >= 0.0 && alphaLowPass <= 1.0))
    vexaThrow() << "Bandpass: the Tukey alpha of the low-pass edge must lie in [0, 1]; got " << alphaLowPass << ".";

  const int n = static_cast<int>(in.ny);
  const int padded = 2 * n;
  const double nyquist = 0.5 / sampleSpacing;
  if (highPassHz >= nyquist)
    vexaThrow() << "Bandpass: the high-pass cut-off (" << highPassHz << " Hz) must lie below the Nyquist frequency ("
                << nyquist << " Hz) of the sample spacing " << sampleSpacing << " s.";
  std::vector<double> gain(padded / 2 + 1);
  for (int k = 0; k <= padded / 2; ++k)
    gain[k] = BandGain(k / (padded * sampleSpacing), highPassHz, lowPassHz, alphaLowPass, alphaHighPass, nyquist);

  // the gain over the whole spectrum, symmetric: bin k and bin padded - k are +-f
  std::vector<double> fullGain(padded);
  for (int k = 0; k < padded; ++k)
    fullGain[k] = gain[k <= padded / 2 ? k : padded - k];
  const std::shared_ptr<const FftPlans> plans = PlansFor(padded);
  // A real, symmetric gain filters the real and the imaginary part of a
  // complex column each on its own, so two columns share one transform.
  return FilterColumns(in, padded, threads, [&](ColumnScratch &scratch, unsigned int width) {
    fftw_complex *a = scratch.a.get(), *b = scratch.b.get();
    const double scale = 1.0 / padded;
    for (unsigned int c = 0; c < width; c += 2)
    {
      float *re = scratch.Column(c);
      float *im = c + 1 < width ? scratch.Column(c + 1) : nullptr;
      for (int i = 0; i < n; ++i)
      {
        a[i][0] = re[i];
        a[i][1] = im ? im[i] : 0.0;
      }
      for (int i = n; i < padded; ++i)
        a[i][0] = a[i][1] = 0.0;
      plans->Forward(a, b);
      for (int k = 0; k < padded; ++k)
      {
        b[k][0] *= fullGain[k];
        b[k][1] *= fullGain[k];
      }
      plans->Backward(b, a);
      for (int i = 0; i < n; ++i)
      {
        re[i] = static_cast<float>(a[i][0] * scale);
        if (im)
          im[i] = static_cast<float>(a[i][1] * scale);
      }
    }
  });
}
