#include "vexaMcxyzPhotonTransport.h"

#include "vexaMcxyzRandom.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <functional>
#include <limits>
#include <locale>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace vexa
{
  namespace mcxyz
  {
    namespace
    {
      constexpr double Pi = 3.14159265358979323846;

      [[noreturn]] void Invalid(const std::string &text) { throw std::invalid_argument(text); }

      bool Finite(double v) { return std::isfinite(v); }

      std::string Number(double v)
      {
        std::ostringstream text;
        text.imbue(std::locale::classic());
        text << v;
        return text.str();
      }

      /**
       * Photons are cut into at most this many chunks, whatever the thread
       * count: enough for the workers to balance a busy machine (a chunk is
       * 1/4096 of the run), few enough that the per-chunk totals stay small.
       */
      constexpr std::uint64_t MaximumChunks = 4096;

      /** The scalar totals of one chunk, summed over the chunks in chunk order at the end. */
      struct ChunkTotals
      {
        double launched = 0;
        double absorbed = 0;
        double escaped = 0;
        double terminated = 0;
        double rouletteGain = 0;
        double rouletteLoss = 0;
        std::uint64_t interactions = 0;
        std::uint64_t terminatedPackets = 0;
      };

      /** Adds straight into the tallies: for a run on one thread, where nobody else writes them. */
      class DirectSink
      {
      public:
        DirectSink(double *fluence, double *absorbed) : m_Fluence(fluence), m_Absorbed(absorbed) {}
        void Add(std::size_t voxel, double trackLength, double deposit)
        {
          m_Fluence[voxel] += trackLength;
          if (m_Absorbed)
            m_Absorbed[voxel] += deposit;
        }
        void Flush() {}

      private:
        double *m_Fluence;
        double *m_Absorbed;
      };

      /** target += value, atomically (a compare-and-swap loop: there is no atomic add for double in C++17). */
      void AtomicAdd(double *target, double value)
      {
        double expected;
        __atomic_load(target, &expected, __ATOMIC_RELAXED);
        double desired = expected + value;
        while (!__atomic_compare_exchange(target, &expected, &desired, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED))
          desired = expected + value;
      }

      /**
       * Adds into tallies that every worker shares. The packet loop hands over
       * one sum per voxel visit (what a packet leaves in a voxel before it
       * moves on), so the atomic additions are few next to the arithmetic of
       * the interactions; they are gathered in a small batch and made one
       * after the other, where the pipeline stalls of the locked instructions
       * cost least. Memory does not grow with the worker count but by this
       * batch.
       */
      class SharedSink
      {
      public:
        SharedSink(double *fluence, double *absorbed) : m_Fluence(fluence), m_Absorbed(absorbed) {}
        void Add(std::size_t voxel, double trackLength, double deposit)
        {
          m_Batch[m_Count++] = {voxel, trackLength, deposit};
          if (m_Count == BatchSize)
            Flush();
        }
        void Flush()
        {
          for (std::size_t i = 0; i < m_Count; ++i)
          {
            AtomicAdd(m_Fluence + m_Batch[i].voxel, m_Batch[i].trackLength);
            if (m_Absorbed)
              AtomicAdd(m_Absorbed + m_Batch[i].voxel, m_Batch[i].deposit);
          }
          m_Count = 0;
        }

      private:
        static constexpr std::size_t BatchSize = 512;
        struct Addition
        {
          std::size_t voxel;
          double trackLength;
          double deposit;
        };

        double *m_Fluence;
        double *m_Absorbed;
        std::array<Addition, BatchSize> m_Batch;
        std::size_t m_Count = 0;
      };

      /**
       * Runs work(t) for t = 0 .. count - 1, t = 0 on the calling thread, the
       * others on threads of their own, and waits for all of them. When a
       * thread cannot be started, calls cancel() so that the running ones end
       * early, waits for them and throws ThreadStartError. work must not throw.
       */
      void RunOnThreads(unsigned int count,
                        const std::function<void(unsigned int)> &work,
                        const std::function<void()> &cancel)
      {
        std::vector<std::thread> pool;
        pool.reserve(count);
        try
        {
          for (unsigned int t = 1; t < count; ++t)
            pool.emplace_back(work, t);
        }
        catch (const std::system_error &e)
        {
          cancel();
          for (std::thread &th : pool)
            th.join();
          throw ThreadStartError(count, static_cast<unsigned int>(pool.size()) + 1, e.code().message());
        }
        work(0);
        for (std::thread &th : pool)
          th.join();
      }

      /**
       * Memory this process may still take, in bytes: what the system counts
       * as available, bounded by the control group's limit where one is set.
       * The largest value when neither can be read.
       */
      std::uint64_t AvailableMemory()
      {
        std::uint64_t available = std::numeric_limits<std::uint64_t>::max();
        std::ifstream meminfo("/proc/meminfo");
        std::string key;
        std::uint64_t kib = 0;
        std::string unit;
        while (meminfo >> key >> kib >> unit)
          if (key == "MemAvailable:")
          {
            available = kib * 1024;
            break;
          }
        std::ifstream maxFile("/sys/fs/cgroup/memory.max");
        std::ifstream currentFile("/sys/fs/cgroup/memory.current");
        std::uint64_t limit = 0, current = 0;
        if (maxFile >> limit && currentFile >> current)
          available = std::min(available, limit > current ? limit - current : 0);
        return available;
      }

      std::string Megabytes(std::uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }

      /** What every thread reads: the volume and the sources in volume coordinates. */
      struct Scene
      {
        const OpticalVolume *volume;
        std::array<double, 3> size;       // box extent in cm, from the corner (0, 0, 0)
        std::vector<LightSource> sources; // positions relative to the box corner
        std::vector<double> cumulativeWeight;
        TransportSettings settings;
      };

      /** For vectors near unit length only (see UnitDirection for any other). */
      void Normalize(std::array<double, 3> &d)
      {
        const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        d[0] /= n;
        d[1] /= n;
        d[2] /= n;
      }

      /**
       * Moves a point outside the box along d to where it enters the box (slab
       * method). False when the ray misses the box.
       */
      bool EnterBox(std::array<double, 3> &p, const std::array<double, 3> &d, const std::array<double, 3> &size)
      {
        double tNear = 0;
        double tFar = std::numeric_limits<double>::infinity();
        for (int i = 0; i < 3; ++i)
        {
          if (d[i] == 0)
          {
            if (p[i] < 0 || p[i] > size[i])
              return false;
            continue;
          }
          double t0 = (0 - p[i]) / d[i];
          double t1 = (size[i] - p[i]) / d[i];
          if (t0 > t1)
            std::swap(t0, t1);
          tNear = std::max(tNear, t0);
          tFar = std::min(tFar, t1);
        }
        if (tNear > tFar)
          return false;
        for (int i = 0; i < 3; ++i)
          p[i] = std::min(std::max(p[i] + tNear * d[i], 0.0), size[i]);
        return true;
      }

      void SampleLaunch(const Scene &scene, RandomStream &rng, std::array<double, 3> &p, std::array<double, 3> &d)
      {
        const double pick = rng.Uniform() * scene.cumulativeWeight.back();
        std::size_t s = 0;
        while (s + 1 < scene.sources.size() && pick >= scene.cumulativeWeight[s])
          ++s;
        const LightSource &src = scene.sources[s];
        p = src.positionCm;
        d = src.direction;
        switch (src.profile)
        {
          case LightSource::Profile::Pencil:
            break;
          case LightSource::Profile::Gaussian:
          {
            // 1/e^2 intensity radius w: each lateral coordinate has sigma w / 2
            const double r = std::sqrt(-2.0 * std::log(rng.UniformOpenClosed())) * src.radiusCm / 2.0;
            const double phi = 2.0 * Pi * rng.Uniform();
            p[0] += r * std::cos(phi);
            p[1] += r * std::sin(phi);
            break;
          }
          case LightSource::Profile::Disc:
          {
            const double r = src.radiusCm * std::sqrt(rng.Uniform());
            const double phi = 2.0 * Pi * rng.Uniform();
            p[0] += r * std::cos(phi);
            p[1] += r * std::sin(phi);
            break;
          }
          case LightSource::Profile::Rectangle:
            p[0] += (rng.Uniform() - 0.5) * src.widthCm;
            p[1] += (rng.Uniform() - 0.5) * src.lengthCm;
            break;
        }
      }

      /**
       * Cosine and sine of an azimuth uniform in [0, 2 pi), without
       * trigonometry: a point uniform in the unit disc has a uniform angle phi,
       * and (a^2 - b^2, 2ab) / r^2 is (cos 2 phi, sin 2 phi).
       */
      void UniformAzimuth(RandomStream &rng, double &cosPsi, double &sinPsi)
      {
        for (;;)
        {
          const double a = 2.0 * rng.Uniform() - 1.0;
          const double b = 2.0 * rng.Uniform() - 1.0;
          const double r2 = a * a + b * b;
          if (r2 > 0 && r2 <= 1)
          {
            cosPsi = (a * a - b * b) / r2;
            sinPsi = 2.0 * a * b / r2;
            return;
          }
        }
      }

      /** New direction after a scattering event with the given cosine (the usual spin of the direction). */
      void Spin(std::array<double, 3> &u, double cosTheta, double cosPsi, double sinPsi)
      {
        const double sinTheta = std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta));
        if (std::fabs(u[2]) > 0.99999)
        {
          u = {{sinTheta * cosPsi, sinTheta * sinPsi, cosTheta * (u[2] > 0 ? 1.0 : -1.0)}};
        }
        else
        {
          const double t = std::sqrt(1.0 - u[2] * u[2]);
          const std::array<double, 3> n{{sinTheta * (u[0] * u[2] * cosPsi - u[1] * sinPsi) / t + u[0] * cosTheta,
                                         sinTheta * (u[1] * u[2] * cosPsi + u[0] * sinPsi) / t + u[1] * cosTheta,
                                         -sinTheta * cosPsi * t + u[2] * cosTheta}};
          u = n;
        }
        Normalize(u);
      }

      /** 1 / u per component (0 where u is 0; such an axis is never crossed). */
      void Inverse(const std::array<double, 3> &u, std::array<double, 3> &inv)
      {
        for (int i = 0; i < 3; ++i)
          inv[i] = u[i] != 0 ? 1.0 / u[i] : 0.0;
      }

      template <class Sink>
      void RunPackets(const Scene &scene, std::uint64_t count, RandomStream &rng, Sink &sink, ChunkTotals &totals)
      {
        const OpticalVolume &vol = *scene.volume;
        const long n[3] = {static_cast<long>(vol.dimensions[0]), static_cast<long>(vol.dimensions[1]),
                           static_cast<long>(vol.dimensions[2])};
        const double *h = vol.voxelSizeCm.data();
        const float *mua = vol.absorption.data();
        const float *mus = vol.scattering.data();
        const float *g = vol.anisotropy.data();
        const double threshold = scene.settings.rouletteThreshold;
        const double chance = scene.settings.rouletteChance;
        const std::uint64_t maximumInteractions = scene.settings.maximumInteractions;

        for (std::uint64_t k = 0; k < count; ++k)
        {
          double w = 1.0;
          totals.launched += w;
          std::array<double, 3> p;
          std::array<double, 3> u;
          SampleLaunch(scene, rng, p, u);
          if (!EnterBox(p, u, scene.size))
          {
            totals.escaped += w;
            continue;
          }
          std::array<double, 3> inv;
          Inverse(u, inv);
          long idx[3];
          for (int i = 0; i < 3; ++i)
            idx[i] = std::min(std::max(static_cast<long>(std::floor(p[i] / h[i])), 0L), n[i] - 1);

          std::uint64_t interactions = 0;
          // what the packet leaves in the voxel it is in, handed to the sink when it leaves the voxel or ends
          double pendingTrack = 0;
          double pendingDeposit = 0;
          bool alive = true;
          while (alive)
          {
            // optical depth to the next interaction, spent voxel by voxel
            double tau = -std::log(rng.UniformOpenClosed());
            for (;;)
            {
              const std::size_t v = static_cast<std::size_t>(idx[0] + n[0] * (idx[1] + n[1] * idx[2]));
              const double mut = static_cast<double>(mua[v]) + static_cast<double>(mus[v]);
              double db = std::numeric_limits<double>::infinity();
              int axis = 0;
              for (int i = 0; i < 3; ++i)
              {
                if (u[i] == 0)
                  continue;
                double di = ((u[i] > 0 ? idx[i] + 1 : idx[i]) * h[i] - p[i]) * inv[i];
                if (di < 0)
                  di = 0;
                if (di < db)
                {
                  db = di;
                  axis = i;
                }
              }
              if (mut * db >= tau)
              {
                // interaction inside this voxel: deposit, then end the packet at the cap, or scatter and roulette
                const double s = tau / mut;
                for (int i = 0; i < 3; ++i)
                  p[i] += s * u[i];
                const double deposit = w * static_cast<double>(mua[v]) / mut;
                pendingTrack += w * s;
                pendingDeposit += deposit;
                w -= deposit;
                totals.absorbed += deposit;
                ++totals.interactions;
                if (++interactions >= maximumInteractions)
                {
                  totals.terminated += w;
                  ++totals.terminatedPackets;
                  sink.Add(v, pendingTrack, pendingDeposit);
                  alive = false;
                  break;
                }
                const double cosTheta = SampleHenyeyGreensteinCosine(g[v], rng.Uniform());
                double cosPsi, sinPsi;
                UniformAzimuth(rng, cosPsi, sinPsi);
                Spin(u, cosTheta, cosPsi, sinPsi);
                Inverse(u, inv);
                if (w < threshold)
                {
                  if (w > 0 && rng.Uniform() < chance)
                  {
                    const double raised = w / chance;
                    totals.rouletteGain += raised - w;
                    w = raised;
                  }
                  else
                  {
                    totals.rouletteLoss += w;
                    sink.Add(v, pendingTrack, pendingDeposit);
                    alive = false;
                  }
                }
                break;
              }
              for (int i = 0; i < 3; ++i)
                p[i] += db * u[i];
              sink.Add(v, pendingTrack + w * db, pendingDeposit);
              pendingTrack = 0;
              pendingDeposit = 0;
              tau -= mut * db;
              if (u[axis] > 0)
              {
                ++idx[axis];
                p[axis] = idx[axis] * h[axis];
              }
              else
              {
                p[axis] = idx[axis] * h[axis];
                --idx[axis];
              }
              if (idx[axis] < 0 || idx[axis] >= n[axis])
              {
                totals.escaped += w;
                alive = false;
                break;
              }
            }
          }
        }
      }
    }

    void OpticalVolume::Validate() const
    {
      for (int i = 0; i < 3; ++i)
      {
        if (dimensions[i] == 0)
          Invalid("The volume has no voxels along axis " + std::to_string(i) + ".");
        if (!(voxelSizeCm[i] > 0) || !Finite(voxelSizeCm[i]))
          Invalid("The voxel size along axis " + std::to_string(i) + " must be positive.");
      }
      const std::size_t limit = std::numeric_limits<std::size_t>::max() / 64;
      if (dimensions[0] > limit / dimensions[1] || dimensions[0] * dimensions[1] > limit / dimensions[2])
        Invalid("The volume is too large.");
      const std::size_t count = NumberOfVoxels();
      if (absorption.size() != count || scattering.size() != count || anisotropy.size() != count)
        Invalid("The property arrays do not match the volume's " + std::to_string(count) + " voxels.");
      for (std::size_t v = 0; v < count; ++v)
      {
        if (!(absorption[v] >= 0) || !Finite(absorption[v]) || !(scattering[v] >= 0) || !Finite(scattering[v]))
          Invalid("Voxel " + std::to_string(v) + " has a negative or non-finite absorption or scattering coefficient.");
        if (absorption[v] > MaximumAbsorptionPerCm)
          Invalid("Voxel " + std::to_string(v) + " has an absorption coefficient of " + Number(absorption[v]) +
                  "/cm, above the limit of " + Number(MaximumAbsorptionPerCm) + "/cm.");
        if (scattering[v] > MaximumScatteringPerCm)
          Invalid("Voxel " + std::to_string(v) + " has a scattering coefficient of " + Number(scattering[v]) +
                  "/cm, above the limit of " + Number(MaximumScatteringPerCm) + "/cm (tissue scatters less).");
        if (!(anisotropy[v] >= -1 && anisotropy[v] <= 1))
          Invalid("Voxel " + std::to_string(v) + " has an anisotropy outside [-1, 1].");
      }
    }

    Illumination Illumination::Default()
    {
      Illumination ill;
      ill.sources.push_back(LightSource());
      return ill;
    }

    void Illumination::Validate() const
    {
      if (sources.empty())
        Invalid("The probe defines no light source.");
      if (!Finite(lateralOffsetCm))
        Invalid("The lateral offset is not a finite number.");
      double total = 0;
      for (std::size_t s = 0; s < sources.size(); ++s)
      {
        const LightSource &src = sources[s];
        const std::string which = "Light source " + std::to_string(s + 1);
        for (int i = 0; i < 3; ++i)
          if (!Finite(src.positionCm[i]) || !Finite(src.direction[i]))
            Invalid(which + " has a non-finite position or direction.");
        if (!Finite(src.positionCm[1] + lateralOffsetCm))
          Invalid(which + " lies too far away with the lateral offset.");
        try
        {
          UnitDirection(src.direction);
        }
        catch (const std::invalid_argument &e)
        {
          Invalid(which + " " + e.what());
        }
        if (!(src.weight >= 0) || !Finite(src.weight))
          Invalid(which + " has a negative or non-finite weight.");
        if (!(src.radiusCm >= 0) || !Finite(src.radiusCm) || !(src.widthCm >= 0) || !Finite(src.widthCm) ||
            !(src.lengthCm >= 0) || !Finite(src.lengthCm))
          Invalid(which + " has a negative or non-finite size.");
        total += src.weight;
      }
      if (!(total > 0))
        Invalid("The weights of the light sources sum to zero.");
    }

    std::array<double, 3> UnitDirection(const std::array<double, 3> &d)
    {
      if (!Finite(d[0]) || !Finite(d[1]) || !Finite(d[2]))
        Invalid("has a non-finite direction.");
      const double largest = std::max({std::fabs(d[0]), std::fabs(d[1]), std::fabs(d[2])});
      if (!(largest > 0))
        Invalid("has no direction (zero vector).");
      // scaled, the largest component is 1 and the length lies in [1, sqrt 3]
      std::array<double, 3> u{{d[0] / largest, d[1] / largest, d[2] / largest}};
      const double length = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
      for (double &c : u)
        c /= length;
      return u;
    }

    ThreadStartError::ThreadStartError(unsigned int requested, unsigned int started, const std::string &reason)
      : std::runtime_error("cannot start " + std::to_string(requested) + " worker threads: the system refused thread " +
                           std::to_string(started + 1) + " (" + reason + ")"),
        m_Requested(requested), m_Started(started)
    {
    }

    double SampleHenyeyGreensteinCosine(double g, double xi)
    {
      if (std::fabs(g) < 1e-6)
        return 2.0 * xi - 1.0;
      g = std::min(std::max(g, -0.999999), 0.999999);
      const double t = (1.0 - g * g) / (1.0 - g + 2.0 * g * xi);
      const double c = (1.0 + g * g - t * t) / (2.0 * g);
      return std::min(std::max(c, -1.0), 1.0);
    }

    TransportResult SimulatePhotonTransport(const OpticalVolume &volume,
                                            const Illumination &illumination,
                                            const TransportSettings &settings)
    {
      volume.Validate();
      illumination.Validate();
      if (settings.photons == 0)
        Invalid("The number of photons must be positive.");
      if (!(settings.rouletteChance > 0 && settings.rouletteChance <= 1))
        Invalid("The roulette chance must lie in (0, 1].");
      if (!(settings.rouletteThreshold >= 0) || !Finite(settings.rouletteThreshold))
        Invalid("The roulette threshold must be a non-negative number.");

      if (settings.maximumInteractions == 0)
        Invalid("The interaction cap must be positive.");

      Scene scene;
      scene.volume = &volume;
      scene.settings = settings;
      for (int i = 0; i < 3; ++i)
        scene.size[i] = static_cast<double>(volume.dimensions[i]) * volume.voxelSizeCm[i];
      double cumulative = 0;
      for (LightSource src : illumination.sources)
      {
        src.direction = UnitDirection(src.direction);
        src.positionCm[0] += scene.size[0] / 2.0;
        src.positionCm[1] += scene.size[1] / 2.0 + illumination.lateralOffsetCm;
        cumulative += src.weight;
        scene.sources.push_back(src);
        scene.cumulativeWeight.push_back(cumulative);
      }

      // Chunks depend on the photon count only, so that chunk k always holds the same packets.
      const std::uint64_t chunks = std::min(settings.photons, MaximumChunks);
      unsigned int threads = settings.threads;
      if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
      if (static_cast<std::uint64_t>(threads) > chunks)
        threads = static_cast<unsigned int>(chunks);

      const std::size_t voxels = volume.NumberOfVoxels();
      const std::uint64_t tallyBytes = voxels * sizeof(double) * (settings.tallyAbsorbedEnergy ? 2 : 1);
      const std::uint64_t available = AvailableMemory();
      if (tallyBytes > available)
        throw std::runtime_error("The run needs " + Megabytes(tallyBytes) + " of memory for the tallies of " +
                                 std::to_string(voxels) + " voxels, but only " + Megabytes(available) +
                                 " are available on this machine.");

      TransportResult result;
      std::vector<ChunkTotals> totals(chunks);
      try
      {
        result.fluence.assign(voxels, 0.0);
        if (settings.tallyAbsorbedEnergy)
          result.absorbed.assign(voxels, 0.0);
      }
      catch (const std::bad_alloc &)
      {
        throw std::runtime_error("Not enough memory for the tallies of " + std::to_string(voxels) + " voxels (" +
                                 Megabytes(tallyBytes) + ").");
      }
      double *fluence = result.fluence.data();
      double *absorbed = settings.tallyAbsorbedEnergy ? result.absorbed.data() : nullptr;

      std::atomic<std::uint64_t> nextChunk(0);
      std::atomic<bool> stop(false);
      std::vector<std::exception_ptr> errors(threads);
      auto runChunks = [&](auto &sink) {
        for (std::uint64_t k = nextChunk++; k < chunks && !stop; k = nextChunk++)
        {
          const std::uint64_t packets = settings.photons / chunks + (k < settings.photons % chunks ? 1 : 0);
          RandomStream rng(settings.seed, k);
          ChunkTotals chunk; // on the worker's stack: the neighbouring chunks are other workers' cache lines
          RunPackets(scene, packets, rng, sink, chunk);
          totals[k] = chunk;
        }
        sink.Flush();
      };
      auto transport = [&](unsigned int t) {
        try
        {
          if (threads == 1)
          {
            DirectSink sink(fluence, absorbed);
            runChunks(sink);
          }
          else
          {
            SharedSink sink(fluence, absorbed);
            runChunks(sink);
          }
        }
        catch (...)
        {
          errors[t] = std::current_exception();
          stop = true;
        }
      };
      RunOnThreads(threads, transport, [&] { stop = true; });
      for (const std::exception_ptr &e : errors)
        if (e)
          std::rethrow_exception(e);

      result.threadsUsed = threads;
      for (const ChunkTotals &chunk : totals)
      {
        result.launched += chunk.launched;
        result.absorbedTotal += chunk.absorbed;
        result.escaped += chunk.escaped;
        result.terminated += chunk.terminated;
        result.terminatedPackets += chunk.terminatedPackets;
        result.rouletteGain += chunk.rouletteGain;
        result.rouletteLoss += chunk.rouletteLoss;
        result.interactions += chunk.interactions;
      }

      // from sums of weight x track length to fluence per launched unit energy, in parallel by voxel slices
      const double photons = static_cast<double>(settings.photons);
      const double voxelVolume = volume.voxelSizeCm[0] * volume.voxelSizeCm[1] * volume.voxelSizeCm[2];
      const double fluenceScale = 1.0 / (photons * voxelVolume);
      const double absorbedScale = 1.0 / photons;
      std::vector<char> scaled(threads, 0);
      auto scale = [&](unsigned int t) {
        const std::size_t begin = voxels / threads * t + std::min<std::size_t>(t, voxels % threads);
        const std::size_t end = begin + voxels / threads + (t < voxels % threads ? 1 : 0);
        for (std::size_t v = begin; v < end; ++v)
          fluence[v] *= fluenceScale;
        if (absorbed)
          for (std::size_t v = begin; v < end; ++v)
            absorbed[v] *= absorbedScale;
        scaled[t] = 1;
      };
      try
      {
        RunOnThreads(threads, scale, [] {});
      }
      catch (const ThreadStartError &)
      {
        // the threads ran a moment ago; should the system refuse them now, the rest is done here
        for (unsigned int t = 0; t < threads; ++t)
          if (!scaled[t])
            scale(t);
      }
      return result;
    }
  }
}
