#include "vexaBeamformingTestSupport.h"
#include "vexaPhotoacousticServiceTestSupport.h"

#include <vexaBeamformingKernel.h>
#include <vexaBeamformingSettings.h>
#include <vexaPhotoacousticFilterService.h>
#include <vexaSignalKernels.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// One frame of 128 elements x 2048 samples reconstructed to 128 lines x 2048
// samples: by the plain per-pixel reference loop (single-threaded), by the
// kernel on one thread and on all cores with each instruction set, and a
// compute-only control (an interpolation loop on data in the first-level
// cache, one private copy per thread) whose 1-to-8-thread speed-up tells what
// the machine allows while the figures are taken. The batch runs count page
// faults per frame once plans and buffers exist; the output image of each
// call is 1 MB, 256 pages. Run them all in one go, so the machine's load is
// the same for all.

namespace
{
  using vexa::BeamformingKernel;
  using Algorithm = BeamformingKernel::Algorithm;
  using Set = BeamformingKernel::InstructionSet;

  const vexa::SampleVolume &Frame()
  {
    static const vexa::SampleVolume frame = [] {
      std::vector<vexa::test::Absorber> absorbers;
      for (int i = 0; i < 6; ++i)
        absorbers.push_back({(10 + 20 * i) * 0.3e-3, (5 + 5 * i) * 1e-3, 1.0});
      return vexa::test::PointAbsorberFrame(128, 2048, 0.3e-3, 1540.0, 1.0 / 40e6, absorbers);
    }();
    return frame;
  }

  BeamformingKernel::Parameters Parameters(Algorithm a)
  {
    BeamformingKernel::Parameters p;
    p.pitch = 0.3e-3;
    p.speedOfSound = 1540.0;
    p.timeSpacing = 1.0 / 40e6;
    p.angle = 27.0;
    p.photoacoustic = true;
    p.samplesPerLine = 2048;
    p.lines = 128;
    p.depth = 2048 * 1540.0 / 40e6; // the depth the samples cover
    p.window = BeamformingKernel::Window::Hann;
    p.windowSize = 128;
    p.algorithm = a;
    return p;
  }

  long MinorFaults()
  {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
  }

  void Kernel(benchmark::State &state, Algorithm a, unsigned int threads, Set set)
  {
    const auto p = Parameters(a);
    for (auto _ : state)
    {
      auto out =
        BeamformingKernel::Reconstruct(Frame(), p, threads, {}, BeamformingKernel::DefaultTrackBudgetBytes, set);
      benchmark::DoNotOptimize(out.data.data());
    }
    state.counters["threads"] = threads == 0 ? vexa::HardwareThreads() : threads;
  }

  void Reference(benchmark::State &state, Algorithm a)
  {
    const auto p = Parameters(a);
    for (auto _ : state)
    {
      auto out = vexa::test::ReferenceBeamform(Frame(), p);
      benchmark::DoNotOptimize(out.data.data());
    }
    state.counters["threads"] = 1;
  }

  // 40 frames, one call each, after a first call has made the plan and buffers.
  void KernelBatch(benchmark::State &state, Algorithm a)
  {
    const auto p = Parameters(a);
    BeamformingKernel::Reconstruct(Frame(), p);
    long faults = 0;
    for (auto _ : state)
    {
      const long before = MinorFaults();
      for (int f = 0; f < 40; ++f)
      {
        auto out = BeamformingKernel::Reconstruct(Frame(), p);
        benchmark::DoNotOptimize(out.data.data());
      }
      faults += MinorFaults() - before;
    }
    state.counters["faults_per_frame"] = double(faults) / (40.0 * state.iterations());
  }

  // The same through the filter service, as the processing view and the
  // command-line tool call it (an image in, an image out).
  void ServiceBatch(benchmark::State &state, vexa::BeamformingSettings::BeamformingAlgorithm a)
  {
    const vexa::Image::Pointer image = vexa::test::MakeImage<float>(Frame(), 0.3, 0.025);
    const auto settings = vexa::BeamformingSettings::New(
      0.3e-3f, 1540.0f, 25e-9f, 27.0f, true, 2048, 128, image->GetDimensions(), float(2048 * 1540.0 / 40e6), false, 16,
      vexa::BeamformingSettings::Spherical, vexa::BeamformingSettings::Hann, 128, a);
    auto service = vexa::PhotoacousticFilterService::New();
    service->ApplyBeamforming(image, settings);
    long faults = 0;
    for (auto _ : state)
    {
      const long before = MinorFaults();
      for (int f = 0; f < 40; ++f)
      {
        auto out = service->ApplyBeamforming(image, settings);
        benchmark::DoNotOptimize(out.GetPointer());
      }
      faults += MinorFaults() - before;
    }
    state.counters["faults_per_frame"] = double(faults) / (40.0 * state.iterations());
  }

  // The envelope of a 128 x 2048 frame; the first call (the transforms are
  // planned there) is timed on its own. Run alone (--benchmark_filter=Envelope),
  // it is the first call of the process: the worker threads start there too.
  void Envelope(benchmark::State &state)
  {
    static double firstMs = [] {
      const vexa::SampleVolume &frame = Frame();
      const auto t0 = std::chrono::steady_clock::now();
      auto out = vexa::SignalKernels::Envelope(frame);
      benchmark::DoNotOptimize(out.data.data());
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    }();
    for (auto _ : state)
    {
      auto out = vexa::SignalKernels::Envelope(Frame());
      benchmark::DoNotOptimize(out.data.data());
    }
    state.counters["first_call_ms"] = firstMs;
  }

  // Compute-only control: interpolations from an 8 KB channel with 16 KB of
  // delays and weights, all private to the thread, nothing shared.
  void Control(benchmark::State &state)
  {
    std::vector<float> channel(2048), delay(2048), weight(2048), sums(2048, 0.0f);
    for (int i = 0; i < 2048; ++i)
    {
      channel[i] = float(i % 17) * 0.1f;
      delay[i] = std::min(2046.0f, i * 0.93f + 3.3f);
      weight[i] = 0.5f + float(i % 5) * 0.1f;
    }
    for (auto _ : state)
    {
      for (int i = 0; i < 2048; ++i)
      {
        const float t = delay[i];
        const int k = int(t);
        sums[i] += weight[i] * (channel[k] + (channel[k + 1] - channel[k]) * (t - float(k)));
      }
      benchmark::DoNotOptimize(sums.data());
      benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 2048);
  }

  /** Interpolations per second of the control loop on `threads` threads of its own, over `seconds`. */
  double ControlRate(unsigned int threads, double seconds)
  {
    std::atomic<bool> stop{false};
    std::atomic<long long> items{0};
    std::vector<std::thread> pool;
    const auto t0 = std::chrono::steady_clock::now();
    for (unsigned int t = 0; t < threads; ++t)
      pool.emplace_back([&] {
        std::vector<float> channel(2048), delay(2048), weight(2048), sums(2048, 0.0f);
        for (int i = 0; i < 2048; ++i)
        {
          channel[i] = float(i % 17) * 0.1f;
          delay[i] = std::min(2046.0f, i * 0.93f + 3.3f);
          weight[i] = 0.5f + float(i % 5) * 0.1f;
        }
        long long mine = 0;
        while (!stop.load(std::memory_order_relaxed))
        {
          for (int i = 0; i < 2048; ++i)
          {
            const float t = delay[i];
            const int k = int(t);
            sums[i] += weight[i] * (channel[k] + (channel[k + 1] - channel[k]) * (t - float(k)));
          }
          benchmark::DoNotOptimize(sums.data());
          benchmark::ClobberMemory();
          mine += 2048;
        }
        items += mine;
      });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto &t : pool)
      t.join();
    return double(items.load()) / std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }

  /** Frames per second of DAS on `threads` threads, over about `seconds`. */
  double DasRate(unsigned int threads, double seconds)
  {
    const auto p = Parameters(Algorithm::DAS);
    const auto t0 = std::chrono::steady_clock::now();
    int frames = 0;
    double elapsed = 0.0;
    do
    {
      auto out = BeamformingKernel::Reconstruct(Frame(), p, threads);
      benchmark::DoNotOptimize(out.data.data());
      ++frames;
      elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    } while (elapsed < seconds);
    return frames / elapsed;
  }

  double Median(std::vector<double> v)
  {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }

  // The 8-thread speed-ups of DAS and of the control, measured in the same
  // short rounds (one after the other, 50 ms each), so that both see the
  // same load of the shared machine; medians over the rounds.
  void ScalingRounds(benchmark::State &state)
  {
    std::vector<double> das, control, ratio, das8ms;
    DasRate(8, 0.05); // plans and buffers
    for (auto _ : state)
      for (int round = 0; round < 20; ++round)
      {
        const double c1 = ControlRate(1, 0.05), c8 = ControlRate(8, 0.05);
        const double d1 = DasRate(1, 0.05), d8 = DasRate(8, 0.05);
        das.push_back(d8 / d1);
        control.push_back(c8 / c1);
        ratio.push_back((d8 / d1) / (c8 / c1));
        das8ms.push_back(1000.0 / d8);
      }
    state.counters["das_speedup"] = Median(das);
    state.counters["control_speedup"] = Median(control);
    state.counters["ratio"] = Median(ratio);
    state.counters["das_8thread_ms"] = Median(das8ms);
  }
}

BENCHMARK(Control)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK_CAPTURE(Reference, DAS, Algorithm::DAS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Reference, DMAS, Algorithm::DMAS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Reference, sDMAS, Algorithm::sDMAS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DAS_1thread_baseline, Algorithm::DAS, 1, Set::Baseline)
  ->Unit(benchmark::kMillisecond)
  ->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DAS_1thread_avx2, Algorithm::DAS, 1, Set::AVX2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DAS_1thread, Algorithm::DAS, 1, Set::Best)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DAS_allcores, Algorithm::DAS, 0, Set::Best)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DMAS_1thread, Algorithm::DMAS, 1, Set::Best)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DMAS_allcores, Algorithm::DMAS, 0, Set::Best)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, sDMAS_1thread, Algorithm::sDMAS, 1, Set::Best)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, sDMAS_allcores, Algorithm::sDMAS, 0, Set::Best)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(KernelBatch, DAS_40frames, Algorithm::DAS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ServiceBatch, DAS_40frames, vexa::BeamformingSettings::DAS)
  ->Unit(benchmark::kMillisecond)
  ->UseRealTime();
BENCHMARK(Envelope)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ScalingRounds)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
