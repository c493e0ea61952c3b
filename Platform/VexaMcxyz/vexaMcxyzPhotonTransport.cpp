#include "vexaMcxyzPhotonTransport.h"

#include "vexaMcxyzRandom.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
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

      /** Per-thread tallies, summed after the threads ended. */
      struct Tally
      {
        std::vector<double> fluence;
        std::vector<double> absorbed;
        double launched = 0;
        double absorbedTotal = 0;
        double escaped = 0;
        double rouletteGain = 0;
        double rouletteLoss = 0;
        std::uint64_t interactions = 0;
      };

      /** What every thread reads: the volume and the sources in volume coordinates. */
      struct Scene
      {
        const OpticalVolume *volume;
        std::array<double, 3> size; // box extent in cm, from the corner (0, 0, 0)
        std::vector<LightSource> sources; // positions relative to the box corner
        std::vector<double> cumulativeWeight;
        TransportSettings settings;
      };

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

      void RunPackets(const Scene &scene, std::uint64_t count, RandomStream &rng, Tally &tally)
      {
        const OpticalVolume &vol = *scene.volume;
        const long n[3] = {static_cast<long>(vol.dimensions[0]), static_cast<long>(vol.dimensions[1]),
                           static_cast<long>(vol.dimensions[2])};
        const double *h = vol.voxelSizeCm.data();
        const float *mua = vol.absorption.data();
        const float *mus = vol.scattering.data();
        const float *g = vol.anisotropy.data();
        double *fluence = tally.fluence.data();
        double *absorbed = tally.absorbed.empty() ? nullptr : tally.absorbed.data();
        const double threshold = scene.settings.rouletteThreshold;
        const double chance = scene.settings.rouletteChance;

        for (std::uint64_t k = 0; k < count; ++k)
        {
          double w = 1.0;
          tally.launched += w;
          std::array<double, 3> p;
          std::array<double, 3> u;
          SampleLaunch(scene, rng, p, u);
          if (!EnterBox(p, u, scene.size))
          {
            tally.escaped += w;
            continue;
          }
          std::array<double, 3> inv;
          Inverse(u, inv);
          long idx[3];
          for (int i = 0; i < 3; ++i)
            idx[i] = std::min(std::max(static_cast<long>(std::floor(p[i] / h[i])), 0L), n[i] - 1);

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
                // interaction inside this voxel: deposit, scatter, roulette
                const double s = tau / mut;
                for (int i = 0; i < 3; ++i)
                  p[i] += s * u[i];
                fluence[v] += w * s;
                const double deposit = w * static_cast<double>(mua[v]) / mut;
                w -= deposit;
                tally.absorbedTotal += deposit;
                if (absorbed)
                  absorbed[v] += deposit;
                ++tally.interactions;
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
                    tally.rouletteGain += raised - w;
                    w = raised;
                  }
                  else
                  {
                    tally.rouletteLoss += w;
                    alive = false;
                  }
                }
                break;
              }
              for (int i = 0; i < 3; ++i)
                p[i] += db * u[i];
              fluence[v] += w * db;
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
                tally.escaped += w;
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
        const double len = std::sqrt(src.direction[0] * src.direction[0] + src.direction[1] * src.direction[1] +
                                     src.direction[2] * src.direction[2]);
        if (!(len > 1e-12))
          Invalid(which + " has no direction (zero vector).");
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

      Scene scene;
      scene.volume = &volume;
      scene.settings = settings;
      for (int i = 0; i < 3; ++i)
        scene.size[i] = static_cast<double>(volume.dimensions[i]) * volume.voxelSizeCm[i];
      double cumulative = 0;
      for (LightSource src : illumination.sources)
      {
        Normalize(src.direction);
        src.positionCm[0] += scene.size[0] / 2.0;
        src.positionCm[1] += scene.size[1] / 2.0 + illumination.lateralOffsetCm;
        cumulative += src.weight;
        scene.sources.push_back(src);
        scene.cumulativeWeight.push_back(cumulative);
      }

      unsigned int threads = settings.threads;
      if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
      if (static_cast<std::uint64_t>(threads) > settings.photons)
        threads = static_cast<unsigned int>(settings.photons);

      const std::size_t voxels = volume.NumberOfVoxels();
      std::vector<Tally> tallies(threads);
      for (Tally &t : tallies)
      {
        t.fluence.assign(voxels, 0.0);
        if (settings.tallyAbsorbedEnergy)
          t.absorbed.assign(voxels, 0.0);
      }

      std::vector<std::exception_ptr> errors(threads);
      auto work = [&](unsigned int t) {
        try
        {
          const std::uint64_t share = settings.photons / threads + (t < settings.photons % threads ? 1 : 0);
          RandomStream rng(settings.seed, t);
          RunPackets(scene, share, rng, tallies[t]);
        }
        catch (...)
        {
          errors[t] = std::current_exception();
        }
      };
      if (threads == 1)
      {
        work(0);
      }
      else
      {
        std::vector<std::thread> pool;
        pool.reserve(threads);
        try
        {
          for (unsigned int t = 0; t < threads; ++t)
            pool.emplace_back(work, t);
        }
        catch (...)
        {
          for (std::thread &th : pool)
            th.join();
          throw;
        }
        for (std::thread &th : pool)
          th.join();
      }
      for (const std::exception_ptr &e : errors)
        if (e)
          std::rethrow_exception(e);

      TransportResult result;
      result.threadsUsed = threads;
      result.fluence = std::move(tallies[0].fluence);
      result.absorbed = std::move(tallies[0].absorbed);
      for (unsigned int t = 0; t < threads; ++t)
      {
        const Tally &tally = tallies[t];
        if (t > 0)
        {
          for (std::size_t v = 0; v < voxels; ++v)
            result.fluence[v] += tally.fluence[v];
          for (std::size_t v = 0; v < tally.absorbed.size(); ++v)
            result.absorbed[v] += tally.absorbed[v];
        }
        result.launched += tally.launched;
        result.absorbedTotal += tally.absorbedTotal;
        result.escaped += tally.escaped;
        result.rouletteGain += tally.rouletteGain;
        result.rouletteLoss += tally.rouletteLoss;
        result.interactions += tally.interactions;
      }
      const double photons = static_cast<double>(settings.photons);
      const double voxelVolume = volume.voxelSizeCm[0] * volume.voxelSizeCm[1] * volume.voxelSizeCm[2];
      for (double &f : result.fluence)
        f /= photons * voxelVolume;
      for (double &a : result.absorbed)
        a /= photons;
      return result;
    }
  }
}
