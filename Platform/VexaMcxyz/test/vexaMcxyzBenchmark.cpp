// The transport on a 100 x 100 x 70 tissue volume (0.6 mm voxels: a 1.8 mm
// clear layer, tissue with mu_a 0.1/cm, mu_s 150/cm, g 0.9, one 3 mm vessel
// of blood-like absorption), pencil beam:
//   BM_Transport/<photons>/<threads>       one process, one or all hardware threads
//   BM_ThreadsAgainstProcesses/<photons>   all hardware threads in one process against the
//                                          control, as many forked single-thread processes that
//                                          share the photons, measured in turns; the thread
//                                          speed-up is fair when "threads/processes" is near 1
//                                          (the machine may be shared: only figures taken in
//                                          turns compare).
//   BM_PeakMemory/<threads>  peak resident memory of a process that runs
//                            20,000 photons on a 256 x 256 x 128 volume
//                            (8.4 M voxels); the volume is made in that process.

#include <vexaMcxyzPhotonTransport.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vexa::mcxyz;

namespace
{
  OpticalVolume MakeTissueVolume(std::size_t nx, std::size_t ny, std::size_t nz)
  {
    OpticalVolume v;
    v.dimensions = {{nx, ny, nz}};
    v.voxelSizeCm = {{0.06, 0.06, 0.06}};
    const std::size_t n = v.NumberOfVoxels();
    v.absorption.resize(n);
    v.scattering.resize(n);
    v.anisotropy.assign(n, 0.9f);
    const double halfY = ny * 0.06 / 2;
    for (std::size_t z = 0; z < nz; ++z)
      for (std::size_t y = 0; y < ny; ++y)
        for (std::size_t x = 0; x < nx; ++x)
        {
          const std::size_t i = x + nx * (y + ny * z);
          const double cy = (y + 0.5) * 0.06 - halfY, cz = (z + 0.5) * 0.06 - 1.5;
          const bool vessel = std::sqrt(cy * cy + cz * cz) < 0.3;
          const bool air = z < 3;
          v.absorption[i] = air ? 0.0f : vessel ? 4.73f : 0.1f;
          v.scattering[i] = air ? 0.0f : 150.0f;
        }
    return v;
  }

  const OpticalVolume &TissueVolume()
  {
    static const OpticalVolume vol = MakeTissueVolume(100, 100, 70);
    return vol;
  }

  TransportSettings Settings(std::uint64_t photons, unsigned int threads, std::uint64_t seed)
  {
    TransportSettings s;
    s.photons = photons;
    s.threads = threads;
    s.seed = seed;
    return s;
  }

  double CpuSeconds(int who)
  {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  }

  long HardwareThreads() { return static_cast<long>(std::max(1u, std::thread::hardware_concurrency())); }

  /**
   * Runs job in `count` forked processes at once and waits for all of them.
   * False when one of them failed. The caller has no other threads.
   */
  bool InChildProcesses(int count, const std::function<bool(int)> &job, long *peakKiB = nullptr)
  {
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i)
    {
      const pid_t pid = ::fork();
      if (pid == 0)
      {
        bool ok = false;
        try
        {
          ok = job(i);
        }
        catch (...)
        {
        }
        ::_exit(ok ? 0 : 1);
      }
      if (pid < 0)
        break;
      children.push_back(pid);
    }
    bool ok = static_cast<int>(children.size()) == count;
    for (pid_t pid : children)
    {
      int status = 0;
      rusage usage{};
      if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ok = false;
      if (peakKiB)
        *peakKiB = std::max(*peakKiB, usage.ru_maxrss);
    }
    return ok;
  }

  void BM_Transport(benchmark::State &state)
  {
    const TransportSettings s =
      Settings(static_cast<std::uint64_t>(state.range(0)), static_cast<unsigned int>(state.range(1)), 1);
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

  /**
   * Pairs, in each iteration, one run on all hardware threads with the
   * control: as many forked processes, each running its share of the photons
   * on one thread. The order alternates between iterations, so that a change
   * of the machine's load weighs on both alike.
   */
  void BM_ThreadsAgainstProcesses(benchmark::State &state)
  {
    const std::uint64_t photons = static_cast<std::uint64_t>(state.range(0));
    const int workers = static_cast<int>(HardwareThreads());
    TissueVolume(); // made before the fork, shared by the children
    double threadSeconds = 0, processSeconds = 0;
    const double threadCpuBefore = CpuSeconds(RUSAGE_SELF), processCpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    bool threadsFirst = true;
    for (auto _ : state)
    {
      auto timed = [](const std::function<bool()> &run, double &seconds) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = run();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return ok;
      };
      auto threads = [&] {
        const TransportResult r =
          SimulatePhotonTransport(TissueVolume(), Illumination::Default(), Settings(photons, workers, 1));
        return r.threadsUsed == static_cast<unsigned int>(workers);
      };
      auto processes = [&] {
        return InChildProcesses(workers, [&](int i) {
          const std::uint64_t share = photons / workers + (static_cast<std::uint64_t>(i) < photons % workers);
          const TransportResult r = SimulatePhotonTransport(TissueVolume(), Illumination::Default(),
                                                            Settings(share, 1, 1 + static_cast<std::uint64_t>(i)));
          return r.launched == static_cast<double>(share);
        });
      };
      const bool ok = threadsFirst ? timed(threads, threadSeconds) && timed(processes, processSeconds)
                                   : timed(processes, processSeconds) && timed(threads, threadSeconds);
      if (!ok)
      {
        state.SkipWithError("a run failed");
        return;
      }
      threadsFirst = !threadsFirst;
    }
    const double launched = static_cast<double>(photons * state.iterations());
    state.counters["threads photons/s"] = launched / threadSeconds;
    state.counters["processes photons/s"] = launched / processSeconds;
    state.counters["threads/processes"] = processSeconds / threadSeconds;
    // the CPU time each side spent on the same photons: a thread run that works less efficiently shows here
    state.counters["CPU threads/processes"] =
      (CpuSeconds(RUSAGE_SELF) - threadCpuBefore) / (CpuSeconds(RUSAGE_CHILDREN) - processCpuBefore);
  }

  void BM_PeakMemory(benchmark::State &state)
  {
    const unsigned int threads = static_cast<unsigned int>(state.range(0));
    long peakKiB = 0;
    for (auto _ : state)
    {
      const bool ok = InChildProcesses(
        1,
        [&](int) {
          const OpticalVolume vol = MakeTissueVolume(256, 256, 128);
          const TransportResult r = SimulatePhotonTransport(vol, Illumination::Default(), Settings(20000, threads, 1));
          return r.threadsUsed == threads;
        },
        &peakKiB);
      if (!ok)
      {
        state.SkipWithError("the child process failed");
        return;
      }
    }
    state.counters["peak MiB"] = static_cast<double>(peakKiB) / 1024.0;
  }
}

// first, while the process holds no freed heap that the child would inherit and reuse
BENCHMARK(BM_PeakMemory)->Arg(1)->Arg(HardwareThreads())->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transport)
  ->Args({100000, 1})
  ->Args({100000, HardwareThreads()})
  ->Args({1000000, 1})
  ->Args({1000000, HardwareThreads()})
  ->Iterations(1)
  ->Unit(benchmark::kMillisecond)
  ->UseRealTime();
BENCHMARK(BM_ThreadsAgainstProcesses)
  ->Arg(100000)
  ->Arg(1000000)
  ->Iterations(4)
  ->Unit(benchmark::kMillisecond)
  ->UseRealTime();
BENCHMARK_MAIN();
