#include "vexaPAInSilicoTissueVolume.h"

#include <vexaException.h>

namespace vexa
{
  namespace pa
  {
    void InSilicoTissueVolume::Initialize(const std::array<std::size_t, 3> &dimensions, double spacingInCentimeters,
                                          float absorption, float scattering, float anisotropy,
                                          SegmentationLabel label)
    {
      if (dimensions[0] == 0 || dimensions[1] == 0 || dimensions[2] == 0)
        vexaThrow() << "A tissue volume needs at least one voxel along every axis.";
      if (!(spacingInCentimeters > 0))
        vexaThrow() << "A tissue volume needs a positive voxel spacing, got " << spacingInCentimeters << " cm.";
      const std::size_t n = dimensions[0] * dimensions[1] * dimensions[2];
      m_Dimensions = dimensions;
      m_SpacingInCentimeters = spacingInCentimeters;
      m_Absorption.assign(n, absorption);
      m_Scattering.assign(n, scattering);
      m_Anisotropy.assign(n, anisotropy);
      m_Segmentation.assign(n, static_cast<float>(label));
      m_Vessels.clear();
      this->Modified();
    }
  }
}
