#include "vexaSignalKernels.h"
#include "vexaParallelFor.h"

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

  /** A forward real-to-complex and a backward complex-to-real plan of one length. */
  class RealPlans
  {
  public:
    explicit RealPlans(int n) : m_N(n)
    {
      auto real = Allocate<double>(n);
      auto spectrum = Allocate<fftw_complex>(n / 2 + 1);
      std::lock_guard<std::mutex> lock(PlannerMutex());
      m_Forward = fftw_plan_dft_r2c_1d(n, real.get(), spectrum.get(), FFTW_ESTIMATE);
      m_Backward = fftw_plan_dft_c2r_1d(n, spectrum.get(), real.get(), FFTW_ESTIMATE);
      if (!m_Forward || !m_Backward)
      {
        Destroy();
        vexaThrow() << "FFTW could not plan a transform of " << n << " samples.";
      }
    }
    ~RealPlans()
    {
      std::lock_guard<std::mutex> lock(PlannerMutex());
      Destroy();
    }
    RealPlans(const RealPlans &) = delete;
    RealPlans &operator=(const RealPlans &) = delete;

    // Buffers passed here come from fftw_malloc like the planning buffers, so
    // their alignment matches, as the new-array execute functions require.
    void Forward(double *in, fftw_complex *out) const { fftw_execute_dft_r2c(m_Forward, in, out); }
    void Backward(fftw_complex *in, double *out) const { fftw_execute_dft_c2r(m_Backward, in, out); }

  private:
    void Destroy()
    {
      if (m_Forward)
        fftw_destroy_plan(m_Forward);
      if (m_Backward)
        fftw_destroy_plan(m_Backward);
      m_Forward = m_Backward = nullptr;
    }
    int m_N;
    fftw_plan m_Forward = nullptr;
    fftw_plan m_Backward = nullptr;
  };

  class ComplexBackwardPlan
  {
  public:
    explicit ComplexBackwardPlan(int n)
    {
      auto a = Allocate<fftw_complex>(n);
      auto b = Allocate<fftw_complex>(n);
      std::lock_guard<std::mutex> lock(PlannerMutex());
      m_Plan = fftw_plan_dft_1d(n, a.get(), b.get(), FFTW_BACKWARD, FFTW_ESTIMATE);
      if (!m_Plan)
        vexaThrow() << "FFTW could not plan a transform of " << n << " samples.";
    }
    ~ComplexBackwardPlan()
    {
      std::lock_guard<std::mutex> lock(PlannerMutex());
      fftw_destroy_plan(m_Plan);
    }
    ComplexBackwardPlan(const ComplexBackwardPlan &) = delete;
    ComplexBackwardPlan &operator=(const ComplexBackwardPlan &) = delete;
    void Execute(fftw_complex *in, fftw_complex *out) const { fftw_execute_dft(m_Plan, in, out); }

  private:
    fftw_plan m_Plan = nullptr;
  };

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
  const RealPlans forward(n);
  const ComplexBackwardPlan backward(n);
  SampleVolume out(in.nx, in.ny, in.nz);
  const std::size_t columns = static_cast<std::size_t>(in.nx) * in.nz;
  const std::size_t rowStride = in.nx;

  // A column per item; each item uses its own buffers.
  ParallelFor(columns, threads, [&](std::size_t c) {
    const unsigned int x = static_cast<unsigned int>(c % in.nx);
    const unsigned int z = static_cast<unsigned int>(c / in.nx);
    auto real = Allocate<double>(n);
    auto spectrum = Allocate<fftw_complex>(n);
    auto analytic = Allocate<fftw_complex>(n);
    const float *src = in.data.data() + in.Index(x, 0, z);
    for (int i = 0; i < n; ++i)
      real.get()[i] = src[i * rowStride];
    forward.Forward(real.get(), spectrum.get());
    // r2c fills bins 0..n/2; the analytic signal doubles the positive
    // frequencies, keeps DC (and Nyquist for even n) and drops the rest.
    fftw_complex *s = spectrum.get();
    const int half = n / 2;
    for (int k = 1; k < (n + 1) / 2; ++k)
    {
      s[k][0] *= 2.0;
      s[k][1] *= 2.0;
    }
    for (int k = half + 1; k < n; ++k)
      s[k][0] = s[k][1] = 0.0;
    backward.Execute(s, analytic.get());
    float *dst = out.data.data() + out.Index(x, 0, z);
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i)
      dst[i * rowStride] = static_cast<float>(std::hypot(analytic.get()[i][0], analytic.get()[i][1]) * scale);
  });
  return out;
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

  const RealPlans plans(padded);
  SampleVolume out(in.nx, in.ny, in.nz);
  const std::size_t columns = static_cast<std::size_t>(in.nx) * in.nz;
  const std::size_t rowStride = in.nx;
  ParallelFor(columns, threads, [&](std::size_t c) {
    const unsigned int x = static_cast<unsigned int>(c % in.nx);
    const unsigned int z = static_cast<unsigned int>(c / in.nx);
    auto real = Allocate<double>(padded);
    auto spectrum = Allocate<fftw_complex>(padded / 2 + 1);
    const float *src = in.data.data() + in.Index(x, 0, z);
    for (int i = 0; i < n; ++i)
      real.get()[i] = src[i * rowStride];
    std::fill(real.get() + n, real.get() + padded, 0.0);
    plans.Forward(real.get(), spectrum.get());
    for (int k = 0; k <= padded / 2; ++k)
    {
      spectrum.get()[k][0] *= gain[k];
      spectrum.get()[k][1] *= gain[k];
    }
    plans.Backward(spectrum.get(), real.get());
    float *dst = out.data.data() + out.Index(x, 0, z);
    const double scale = 1.0 / padded;
    for (int i = 0; i < n; ++i)
      dst[i * rowStride] = static_cast<float>(real.get()[i] * scale);
  });
  return out;
}
