#ifndef vexaPATissueGeneratorParameters_h
#define vexaPATissueGeneratorParameters_h

#include "VexaPhotoacousticsLibExports.h"
#include "vexaPAVesselMeanderStrategy.h"

#include <vexaCommon.h>

#include <itkObject.h>

// A virtual setter and getter of one parameter; the setter marks the object modified.
#define vexaPAParameterMacro(name, type)                                                                               \
  virtual void Set##name(type value)                                                                                   \
  {                                                                                                                    \
    if (!(m_##name == value))                                                                                          \
    {                                                                                                                  \
      m_##name = value;                                                                                                \
      this->Modified();                                                                                                \
    }                                                                                                                  \
  }                                                                                                                    \
  virtual type Get##name() const { return m_##name; }

namespace vexa
{
  namespace pa
  {
    /**
     * What the tissue generator makes. Units: voxel spacing and vessel
     * depths in cm, air and skin thickness and vessel radii in mm, absorption
     * and scattering coefficients in 1/cm, anisotropy as the mean cosine g.
     * The volume's axes: x runs along the vessels, y is the lateral axis,
     * z is the depth (light enters at z = 0; the air layer lies there).
     *
     * Ranges are drawn uniformly: the background absorption once per volume,
     * count, depth, radius, bending and optical properties once per vessel.
     * Validate() names the first inconsistent value.
     */
    class VEXAPHOTOACOUSTICSLIB_EXPORT TissueGeneratorParameters : public itk::Object
    {
    public:
      vexaClassMacroItkParent(TissueGeneratorParameters, itk::Object);
      vexaFactorylessNewMacro(Self);

      /** Voxels along x (along the vessels), y (lateral) and z (depth). */
      vexaPAParameterMacro(XDim, int);
      vexaPAParameterMacro(YDim, int);
      vexaPAParameterMacro(ZDim, int);
      /** Edge of the cubic voxels [cm]. */
      vexaPAParameterMacro(VoxelSpacingInCentimeters, double);
      /** Voxels at a vessel wall mix vessel and surroundings by the share of the voxel inside the vessel. */
      vexaPAParameterMacro(DoPartialVolume, bool);
      /** With a seed every volume of the same parameters is the same; without, every volume differs. */
      vexaPAParameterMacro(UseRngSeed, bool);
      vexaPAParameterMacro(RngSeed, long);
      /**
       * Scales the absorption and scattering of the background and of each
       * vessel by a factor drawn from [1 - p/100, 1 + p/100], p the percentage.
       */
      vexaPAParameterMacro(RandomizePhysicalProperties, bool);
      vexaPAParameterMacro(MinBackgroundAbsorption, double);
      vexaPAParameterMacro(MaxBackgroundAbsorption, double);
      vexaPAParameterMacro(BackgroundScattering, double);
      vexaPAParameterMacro(BackgroundAnisotropy, double);
      /** Clear layer at the top of the volume [mm]. */
      vexaPAParameterMacro(AirThicknessInMillimeters, double);
      /** Skin layer below the air [mm]; skin has mu_a 3/cm, mu_s 200/cm, g 0.9. */
      vexaPAParameterMacro(SkinThicknessInMillimeters, double);
      /** How vessels walk (a member function of VesselMeanderStrategy). */
      vexaPAParameterMacro(CalculateNewVesselPositionCallback, CalculateNewVesselPositionCallback);
      vexaPAParameterMacro(MinNumberOfVessels, int);
      vexaPAParameterMacro(MaxNumberOfVessels, int);
      vexaPAParameterMacro(MinVesselBending, double);
      vexaPAParameterMacro(MaxVesselBending, double);
      vexaPAParameterMacro(MinVesselAbsorption, double);
      vexaPAParameterMacro(MaxVesselAbsorption, double);
      vexaPAParameterMacro(MinVesselRadiusInMillimeters, double);
      vexaPAParameterMacro(MaxVesselRadiusInMillimeters, double);
      /** Mean number of steps (half a voxel each) between two bifurcations of a vessel; 0 never. */
      vexaPAParameterMacro(VesselBifurcationFrequency, int);
      vexaPAParameterMacro(MinVesselScattering, double);
      vexaPAParameterMacro(MaxVesselScattering, double);
      vexaPAParameterMacro(MinVesselAnisotropy, double);
      vexaPAParameterMacro(MaxVesselAnisotropy, double);
      /** Depth range of the vessel centres where they enter the volume [cm below the top face]. */
      vexaPAParameterMacro(MinVesselZOrigin, double);
      vexaPAParameterMacro(MaxVesselZOrigin, double);
      vexaPAParameterMacro(RandomizePhysicalPropertiesPercentage, double);

      /** Throws vexa::Exception naming the first parameter that cannot make a volume. */
      void Validate() const;

    protected:
      TissueGeneratorParameters() = default;
      ~TissueGeneratorParameters() override = default;

    private:
      int m_XDim = 50;
      int m_YDim = 50;
      int m_ZDim = 50;
      double m_VoxelSpacingInCentimeters = 0.1;
      bool m_DoPartialVolume = false;
      bool m_UseRngSeed = false;
      long m_RngSeed = 0;
      bool m_RandomizePhysicalProperties = false;
      double m_MinBackgroundAbsorption = 0.1;
      double m_MaxBackgroundAbsorption = 0.1;
      double m_BackgroundScattering = 15;
      double m_BackgroundAnisotropy = 0.9;
      double m_AirThicknessInMillimeters = 0;
      double m_SkinThicknessInMillimeters = 0;
      CalculateNewVesselPositionCallback m_CalculateNewVesselPositionCallback =
        &VesselMeanderStrategy::CalculateNewPositionInStraightLine;
      int m_MinNumberOfVessels = 0;
      int m_MaxNumberOfVessels = 0;
      double m_MinVesselBending = 0;
      double m_MaxVesselBending = 0;
      double m_MinVesselAbsorption = 4.73;
      double m_MaxVesselAbsorption = 4.73;
      double m_MinVesselRadiusInMillimeters = 1;
      double m_MaxVesselRadiusInMillimeters = 1;
      int m_VesselBifurcationFrequency = 0;
      double m_MinVesselScattering = 15;
      double m_MaxVesselScattering = 15;
      double m_MinVesselAnisotropy = 0.9;
      double m_MaxVesselAnisotropy = 0.9;
      double m_MinVesselZOrigin = 1;
      double m_MaxVesselZOrigin = 1;
      double m_RandomizePhysicalPropertiesPercentage = 10;
    };
  }
}

#endif
