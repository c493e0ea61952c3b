#include "vexaBeamformingTestSupport.h"

#include <vexaBeamformingKernel.h>

#include <benchmark/benchmark.h>

// One frame of 128 elements x 2048 samples reconstructed to 128 lines x 2048
// samples, by the kernel on one thread and on all cores, and by the plain
// per-pixel reference loop (single-threaded) for comparison.

namespace
{
  using vexa::BeamformingKernel;
  using Algorithm = BeamformingKernel::Algorithm;

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

  void Kernel(benchmark::State &state, Algorithm a, unsigned int threads)
  {
    const auto p = Parameters(a);
    for (auto _ : state)
    {
      auto out = BeamformingKernel::Reconstruct(Frame(), p, threads);
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
}

BENCHMARK_CAPTURE(Reference, DAS, Algorithm::DAS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DAS_1thread, Algorithm::DAS, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DAS_allcores, Algorithm::DAS, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Reference, DMAS, Algorithm::DMAS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DMAS_1thread, Algorithm::DMAS, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, DMAS_allcores, Algorithm::DMAS, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Reference, sDMAS, Algorithm::sDMAS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, sDMAS_1thread, Algorithm::sDMAS, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Kernel, sDMAS_allcores, Algorithm::sDMAS, 0)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
