#include "vexaPAInSilicoTissueGenerator.h"

#include <vexaException.h>

#include <algorithm>
#include <cmath>
#include <deque>

namespace vexa
{
  namespace pa
  {
    namespace
    {
      // Optical properties of the fixed layers.
      constexpr float SkinAbsorption = 3.0f;
      constexpr float SkinScattering = 200.0f;
      constexpr float SkinAnisotropy = 0.9f;
      // Branches per volume at most, so that a high bifurcation frequency cannot run away.
      constexpr std::size_t MaximumVesselSegments = 1000;

      RandomEngine MakeEngine(const TissueGeneratorParameters &p)
      {
        if (p.GetUseRngSeed())
          return RandomEngine(static_cast<std::uint64_t>(p.GetRngSeed()));
        std::random_device device;
        std::seed_seq seq{device(), device(), device(), device(), device(), device(), device(), device()};
        return RandomEngine(seq);
      }

      double Uniform(RandomEngine &rng, double min, double max)
      {
        if (!(max > min))
          return min;
        return std::uniform_real_distribution<double>(min, max)(rng);
      }

      /** One tube of a vessel tree being walked. */
      struct Segment
      {
        Vector3 position;
        Vector3 direction;
        double radiusCm;
        InSilicoTissueVolume::VesselDescription description;
      };

      class Painter
      {
      public:
        Painter(InSilicoTissueVolume &volume, bool partialVolume)
          : m_Volume(volume), m_PartialVolume(partialVolume), m_Coverage(volume.GetNumberOfVoxels(), 0.0f)
        {
        }

        /** Marks the voxels a sphere covers; the largest share of a voxel covered by any sphere counts. */
        void Sphere(const Vector3 &centre, double radius)
        {
          const double h = m_Volume.GetSpacingInCentimeters();
          const auto &dims = m_Volume.GetDimensions();
          long lo[3], hi[3];
          for (int i = 0; i < 3; ++i)
          {
            lo[i] = std::max(0L, static_cast<long>(std::floor((centre[i] - radius - h) / h)));
            hi[i] =
              std::min(static_cast<long>(dims[i]) - 1, static_cast<long>(std::ceil((centre[i] + radius + h) / h)));
            if (lo[i] > hi[i])
              return;
          }
          for (long z = lo[2]; z <= hi[2]; ++z)
            for (long y = lo[1]; y <= hi[1]; ++y)
              for (long x = lo[0]; x <= hi[0]; ++x)
              {
                const double dx = (x + 0.5) * h - centre[0];
                const double dy = (y + 0.5) * h - centre[1];
                const double dz = (z + 0.5) * h - centre[2];
                const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
                // share of the voxel inside: a linear ramp one voxel wide across the wall
                const double f =
                  m_PartialVolume ? std::min(1.0, std::max(0.0, 0.5 - (d - radius) / h)) : (d <= radius ? 1.0 : 0.0);
                if (f <= 0)
                  continue;
                const std::size_t v = m_Volume.Index(x, y, z);
                if (m_Coverage[v] == 0.0f)
                  m_Touched.push_back(v);
                m_Coverage[v] = std::max(m_Coverage[v], static_cast<float>(f));
              }
        }

        /** Mixes the vessel's properties into the covered voxels, by share, and forgets the coverage. */
        void Apply(const InSilicoTissueVolume::VesselDescription &vessel)
        {
          auto &a = m_Volume.GetAbsorption();
          auto &s = m_Volume.GetScattering();
          auto &g = m_Volume.GetAnisotropy();
          auto &seg = m_Volume.GetSegmentation();
          for (std::size_t v : m_Touched)
          {
            const float f = m_Coverage[v];
            a[v] = static_cast<float>(f * vessel.absorption + (1 - f) * a[v]);
            s[v] = static_cast<float>(f * vessel.scattering + (1 - f) * s[v]);
            g[v] = static_cast<float>(f * vessel.anisotropy + (1 - f) * g[v]);
            if (f >= 0.5f)
              seg[v] = static_cast<float>(InSilicoTissueVolume::Vessel);
            m_Coverage[v] = 0.0f;
          }
          m_Touched.clear();
        }

      private:
        InSilicoTissueVolume &m_Volume;
        bool m_PartialVolume;
        std::vector<float> m_Coverage;
        std::vector<std::size_t> m_Touched;
      };
    }

    InSilicoTissueVolume::Pointer InSilicoTissueGenerator::GenerateInSilicoData(
      const TissueGeneratorParameters *parameters)
    {
      if (!parameters)
        vexaThrow() << "The tissue generator needs parameters, got none.";
      const TissueGeneratorParameters &p = *parameters;
      p.Validate();

      RandomEngine rng = MakeEngine(p);
      const double spread =
        p.GetRandomizePhysicalProperties() ? p.GetRandomizePhysicalPropertiesPercentage() / 100.0 : 0;
      auto randomized = [&](double value) { return value * Uniform(rng, 1 - spread, 1 + spread); };

      const double h = p.GetVoxelSpacingInCentimeters();
      const std::array<std::size_t, 3> dims{{static_cast<std::size_t>(p.GetXDim()),
                                             static_cast<std::size_t>(p.GetYDim()),
                                             static_cast<std::size_t>(p.GetZDim())}};
      const double backgroundAbsorption =
        randomized(Uniform(rng, p.GetMinBackgroundAbsorption(), p.GetMaxBackgroundAbsorption()));
      InSilicoTissueVolume::Pointer volume = InSilicoTissueVolume::New();
      volume->Initialize(dims, h, static_cast<float>(backgroundAbsorption),
                         static_cast<float>(randomized(p.GetBackgroundScattering())),
                         static_cast<float>(p.GetBackgroundAnisotropy()), InSilicoTissueVolume::Background);
      volume->SetBackgroundAbsorption(backgroundAbsorption);

      // layers at the top, by the depth of each voxel's centre
      const double air = p.GetAirThicknessInMillimeters() / 10.0;
      const double skin = p.GetSkinThicknessInMillimeters() / 10.0;
      const std::size_t plane = dims[0] * dims[1];
      for (std::size_t z = 0; z < dims[2]; ++z)
      {
        const double depth = (z + 0.5) * h;
        if (depth >= air + skin)
          break;
        const bool isAir = depth < air;
        std::fill_n(volume->GetAbsorption().begin() + z * plane, plane, isAir ? 0.0f : SkinAbsorption);
        std::fill_n(volume->GetScattering().begin() + z * plane, plane, isAir ? 0.0f : SkinScattering);
        std::fill_n(volume->GetAnisotropy().begin() + z * plane, plane, isAir ? 1.0f : SkinAnisotropy);
        std::fill_n(volume->GetSegmentation().begin() + z * plane, plane,
                    static_cast<float>(isAir ? InSilicoTissueVolume::Air : InSilicoTissueVolume::Skin));
      }

      const int vessels = std::uniform_int_distribution<int>(p.GetMinNumberOfVessels(), p.GetMaxNumberOfVessels())(rng);
      if (vessels == 0)
        return volume;

      VesselMeanderStrategy::Pointer strategy = VesselMeanderStrategy::New();
      const CalculateNewVesselPositionCallback walk = p.GetCalculateNewVesselPositionCallback();
      const Vector3 extent{{dims[0] * h, dims[1] * h, dims[2] * h}};
      const double step = h / 2;
      const std::size_t maximumSteps = static_cast<std::size_t>(4 * (extent[0] + extent[1] + extent[2]) / step) + 1;
      const int bifurcation = p.GetVesselBifurcationFrequency();
      Painter painter(*volume, p.GetDoPartialVolume());

      std::deque<Segment> pending;
      for (int k = 0; k < vessels; ++k)
      {
        Segment s;
        s.position = {
          {0.0, Uniform(rng, 0, extent[1]), Uniform(rng, p.GetMinVesselZOrigin(), p.GetMaxVesselZOrigin())}};
        s.direction = {{step, 0.0, 0.0}};
        s.description.entryCm = s.position;
        s.description.radiusInMillimeters =
          Uniform(rng, p.GetMinVesselRadiusInMillimeters(), p.GetMaxVesselRadiusInMillimeters());
        s.radiusCm = s.description.radiusInMillimeters / 10.0;
        s.description.absorption = randomized(Uniform(rng, p.GetMinVesselAbsorption(), p.GetMaxVesselAbsorption()));
        s.description.scattering = randomized(Uniform(rng, p.GetMinVesselScattering(), p.GetMaxVesselScattering()));
        s.description.anisotropy = Uniform(rng, p.GetMinVesselAnisotropy(), p.GetMaxVesselAnisotropy());
        s.description.bending = Uniform(rng, p.GetMinVesselBending(), p.GetMaxVesselBending());
        s.description.parent = -1;
        pending.push_back(s);
      }

      std::size_t segments = 0;
      while (!pending.empty())
      {
        Segment s = pending.front();
        pending.pop_front();
        const int index = static_cast<int>(volume->GetVessels().size());
        volume->GetVessels().push_back(s.description);
        ++segments;
        for (std::size_t n = 0; n < maximumSteps; ++n)
        {
          const Vector3 &c = s.position;
          bool inside = true;
          for (int i = 0; i < 3; ++i)
            inside = inside && c[i] >= -s.radiusCm - h && c[i] <= extent[i] + s.radiusCm + h;
          if (!inside)
            break;
          painter.Sphere(c, s.radiusCm);
          if (bifurcation > 0 && segments + pending.size() < MaximumVesselSegments &&
              Uniform(rng, 0, 1) < 1.0 / bifurcation)
          {
            // Murray's law for two equal branches: r^3 = 2 r_branch^3
            s.radiusCm *= std::pow(2.0, -1.0 / 3.0);
            Segment branch = s;
            branch.description.entryCm = s.position;
            branch.description.radiusInMillimeters = s.radiusCm * 10.0;
            branch.description.parent = index;
            std::normal_distribution<double> turn(0.0, 0.5 * step);
            for (int i = 0; i < 3; ++i)
              branch.direction[i] += turn(rng);
            const double len =
              std::sqrt(branch.direction[0] * branch.direction[0] + branch.direction[1] * branch.direction[1] +
                        branch.direction[2] * branch.direction[2]);
            if (len > 0)
              for (int i = 0; i < 3; ++i)
                branch.direction[i] *= step / len;
            pending.push_back(branch);
          }
          ((*strategy).*walk)(s.position, s.direction, s.description.bending, rng);
        }
        painter.Apply(s.description);
      }
      return volume;
    }
  }
}
