#ifndef vexaPAInSilicoTissueVolume_h
#define vexaPAInSilicoTissueVolume_h

#include "VexaPhotoacousticsLibExports.h"
#include "vexaPAVesselMeanderStrategy.h"

#include <vexaCommon.h>
#include <vexaImage.h>

#include <itkObject.h>

#include <array>
#include <cstddef>
#include <vector>

namespace vexa
{
  namespace pa
  {
    /**
     * A generated tissue volume: per voxel the absorption and scattering
     * coefficient [1/cm], the anisotropy g and a segmentation label, over
     * cubic voxels of the spacing [cm]. Voxel (x, y, z) is at index
     * x + nx * (y + ny * z); z is the depth.
     */
    class VEXAPHOTOACOUSTICSLIB_EXPORT InSilicoTissueVolume : public itk::Object
    {
    public:
      vexaClassMacroItkParent(InSilicoTissueVolume, itk::Object);
      vexaFactorylessNewMacro(Self);

      enum SegmentationLabel
      {
        Air = 0,
        Background = 1,
        Vessel = 2,
        Skin = 3
      };

      /** One straight-or-meandering tube as it was drawn (a branch has its parent's index, roots -1). */
      struct VesselDescription
      {
        Vector3 entryCm;
        double radiusInMillimeters;
        double absorption;
        double scattering;
        double anisotropy;
        double bending;
        int parent;
      };

      /** Sizes the volume and fills it with the properties of one label; throws for non-positive sizes. */
      void Initialize(const std::array<std::size_t, 3> &dimensions,
                      double spacingInCentimeters,
                      float absorption,
                      float scattering,
                      float anisotropy,
                      SegmentationLabel label);

      const std::array<std::size_t, 3> &GetDimensions() const { return m_Dimensions; }
      double GetSpacingInCentimeters() const { return m_SpacingInCentimeters; }
      std::size_t GetNumberOfVoxels() const { return m_Absorption.size(); }
      std::size_t Index(std::size_t x, std::size_t y, std::size_t z) const
      {
        return x + m_Dimensions[0] * (y + m_Dimensions[1] * z);
      }

      std::vector<float> &GetAbsorption() { return m_Absorption; }
      std::vector<float> &GetScattering() { return m_Scattering; }
      std::vector<float> &GetAnisotropy() { return m_Anisotropy; }
      std::vector<float> &GetSegmentation() { return m_Segmentation; }
      const std::vector<float> &GetAbsorption() const { return m_Absorption; }
      const std::vector<float> &GetScattering() const { return m_Scattering; }
      const std::vector<float> &GetAnisotropy() const { return m_Anisotropy; }
      const std::vector<float> &GetSegmentation() const { return m_Segmentation; }

      std::vector<VesselDescription> &GetVessels() { return m_Vessels; }
      const std::vector<VesselDescription> &GetVessels() const { return m_Vessels; }

      /**
       * The volume as a 3-D image of float pixels with four components:
       * absorption [1/cm], scattering [1/cm], anisotropy, segmentation label
       * (the simulator's input format); spacing in mm (10 x the spacing in cm),
       * origin 0. Throws vexa::Exception for an uninitialised volume.
       */
      vexa::Image::Pointer ConvertToVexaImage() const;

      /** The background absorption drawn for this volume [1/cm]. */
      double GetBackgroundAbsorption() const { return m_BackgroundAbsorption; }
      void SetBackgroundAbsorption(double value) { m_BackgroundAbsorption = value; }

    protected:
      InSilicoTissueVolume() = default;
      ~InSilicoTissueVolume() override = default;

    private:
      std::array<std::size_t, 3> m_Dimensions{{0, 0, 0}};
      double m_SpacingInCentimeters = 0;
      std::vector<float> m_Absorption;
      std::vector<float> m_Scattering;
      std::vector<float> m_Anisotropy;
      std::vector<float> m_Segmentation;
      std::vector<VesselDescription> m_Vessels;
      double m_BackgroundAbsorption = 0;
    };
  }
}

#endif
