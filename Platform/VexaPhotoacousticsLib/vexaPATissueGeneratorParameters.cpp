#include "vexaPATissueGeneratorParameters.h"

#include <vexaException.h>

#include <cmath>

namespace vexa
{
  namespace pa
  {
    namespace
    {
      // What the generator allocates at most: four float volumes of this many voxels.
      constexpr double MaximumVoxels = 1 << 28;

      void Range(const char *what, double min, double max, double lowest, double highest)
      {
        if (!std::isfinite(min) || !std::isfinite(max))
          vexaThrow() << "The " << what << " range [" << min << ", " << max << "] is not finite.";
        if (min > max)
          vexaThrow() << "The minimum " << what << " (" << min << ") is larger than the maximum (" << max << ").";
        if (min < lowest || max > highest)
          vexaThrow() << "The " << what << " range [" << min << ", " << max << "] leaves [" << lowest << ", " << highest
                      << "].";
      }

      void Value(const char *what, double value, double lowest, double highest)
      {
        if (!std::isfinite(value) || value < lowest || value > highest)
          vexaThrow() << "The " << what << " (" << value << ") leaves [" << lowest << ", " << highest << "].";
      }
    }

    void TissueGeneratorParameters::Validate() const
    {
      const double inf = INFINITY;
      if (m_XDim <= 0 || m_YDim <= 0 || m_ZDim <= 0)
        vexaThrow() << "The volume needs at least one voxel along every axis, got " << m_XDim << " x " << m_YDim
                    << " x " << m_ZDim << ".";
      if (static_cast<double>(m_XDim) * m_YDim * m_ZDim > MaximumVoxels)
        vexaThrow() << "The volume of " << m_XDim << " x " << m_YDim << " x " << m_ZDim
                    << " voxels is larger than the generator makes (" << MaximumVoxels << " voxels).";
      if (!(m_VoxelSpacingInCentimeters > 0) || !std::isfinite(m_VoxelSpacingInCentimeters))
        vexaThrow() << "The voxel spacing must be positive, got " << m_VoxelSpacingInCentimeters << " cm.";
      Range("background absorption", m_MinBackgroundAbsorption, m_MaxBackgroundAbsorption, 0, inf);
      Value("background scattering", m_BackgroundScattering, 0, inf);
      Value("background anisotropy", m_BackgroundAnisotropy, -1, 1);
      Value("air thickness", m_AirThicknessInMillimeters, 0, inf);
      Value("skin thickness", m_SkinThicknessInMillimeters, 0, inf);
      if (m_MinNumberOfVessels < 0 || m_MinNumberOfVessels > m_MaxNumberOfVessels)
        vexaThrow() << "The number of vessels must be a range [min, max] with 0 <= min <= max, got ["
                    << m_MinNumberOfVessels << ", " << m_MaxNumberOfVessels << "].";
      if (m_MaxNumberOfVessels > 10000)
        vexaThrow() << "At most 10000 vessels are generated, " << m_MaxNumberOfVessels << " asked for.";
      if (m_MaxNumberOfVessels > 0 && !m_CalculateNewVesselPositionCallback)
        vexaThrow() << "Vessels are asked for, but no vessel path callback is set.";
      Range("vessel bending", m_MinVesselBending, m_MaxVesselBending, 0, inf);
      Range("vessel absorption", m_MinVesselAbsorption, m_MaxVesselAbsorption, 0, inf);
      Range("vessel radius", m_MinVesselRadiusInMillimeters, m_MaxVesselRadiusInMillimeters, 0, inf);
      if (m_VesselBifurcationFrequency < 0)
        vexaThrow() << "The vessel bifurcation frequency must not be negative, got " << m_VesselBifurcationFrequency
                    << ".";
      Range("vessel scattering", m_MinVesselScattering, m_MaxVesselScattering, 0, inf);
      Range("vessel anisotropy", m_MinVesselAnisotropy, m_MaxVesselAnisotropy, -1, 1);
      Range("vessel depth", m_MinVesselZOrigin, m_MaxVesselZOrigin, -inf, inf);
      Value("randomisation percentage", m_RandomizePhysicalPropertiesPercentage, 0, 100);
    }
  }
}
