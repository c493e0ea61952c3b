// Photons per second of the transport on a 100 x 100 x 70 tissue volume
// (0.6 mm voxels: a 1.8 mm clear layer, tissue with mu_a 0.1/cm, mu_s 150/cm,
// g 0.9, one 3 mm vessel of blood-like absorption), one thread and all
// hardware threads.

#include <vexaMcxyzPhotonTransport.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <thread>

using namespace vexa::mcxyz;

namespace
{
  const OpticalVolume &TissueVolume()
  {
    static const OpticalVolume vol = [] {
      OpticalVolume v;
      v.dimensions = {{100, 100, 70}};
      v.voxelSizeCm = {{0.06, 0.06, 0.06}};
      const std::size_t n = v.NumberOfVoxels();
      v.absorption.resize(n);
      v.scattering.resize(n);
      v.anisotropy.assign(n, 0.9f);
      for (std::size_t z = 0; z < 70; ++z)
        for (std::size_t y = 0; y < 100; ++y)
          for (std::size_t x = 0; x < 100; ++x)
          {
            const std::size_t i = x + 100 * (y + 100 * z);
            const double cy = (y + 0.5) * 0.06 - 3.0, cz = (z + 0.5) * 0.06 - 1.5;
            const bool vessel = std::sqrt(cy * cy + cz * cz) < 0.3;
            const bool air = z < 3;
            v.absorption[i] = air ? 0.0f : vessel ? 4.73f : 0.1f;
            v.scattering[i] = air ? 0.0f : 150.0f;
          }
      return v;
    }();
    return vol;
  }

  void BM_PhotonTransport(benchmark::State &state)
  {
    TransportSettings s;
    s.photons = static_cast<std::uint64_t>(state.range(0));
    s.threads = static_cast<unsigned int>(state.range(1));
    s.seed = 1;
    std::uint64_t launched = 0, interactions = 0;
    for (auto _ : state)
    {
      const TransportResult r = SimulatePhotonTransport(TissueVolume(), Illumination::Default(), s);
      launched += s.photons;
      interactions += r.interactions;
      benchmark::DoNotOptimize(r.fluence.data());
    }
    state.counters["photons/s"] = benchmark::Counter(static_cast<double>(launched), benchmark::Counter::kIsRate);
    state.counters["interactions/photon"] = static_cast<double>(interactions) / static_cast<double>(launched);
  }
}

BENCHMARK(BM_PhotonTransport)
  ->Args({20000, 1})
  ->Args({100000, static_cast<long>(std::max(1u, std::thread::hardware_concurrency()))})
  ->Unit(benchmark::kMillisecond)
  ->UseRealTime();
BENCHMARK_MAIN();
