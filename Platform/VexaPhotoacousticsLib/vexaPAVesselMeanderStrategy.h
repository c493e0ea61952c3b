#ifndef vexaPAVesselMeanderStrategy_h
#define vexaPAVesselMeanderStrategy_h

#include "VexaPhotoacousticsLibExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <array>
#include <random>

namespace vexa
{
  namespace pa
  {
    using Vector3 = std::array<double, 3>;
    using RandomEngine = std::mt19937_64;

    /**
     * How a vessel walks through the volume: each call advances the position
     * by one step along the direction (whose length is the step length, in cm)
     * and may turn the direction. The generator picks one of the two
     * strategies through TissueGeneratorParameters.
     */
    class VEXAPHOTOACOUSTICSLIB_EXPORT VesselMeanderStrategy : public itk::Object
    {
    public:
      vexaClassMacroItkParent(VesselMeanderStrategy, itk::Object);
      vexaFactorylessNewMacro(Self);

      /** The direction stays as it is; the vessel is a straight tube. */
      void CalculateNewPositionInStraightLine(Vector3 &position,
                                              Vector3 &direction,
                                              double bendingFactor,
                                              RandomEngine &rng) const;

      /**
       * The direction turns by a random vector of bendingFactor times its own
       * length (each component normally distributed) and keeps its length;
       * the position then advances along the new direction. 0 walks straight.
       */
      void CalculateRandomlyDivergingPosition(Vector3 &position,
                                              Vector3 &direction,
                                              double bendingFactor,
                                              RandomEngine &rng) const;

    protected:
      VesselMeanderStrategy() = default;
      ~VesselMeanderStrategy() override = default;
    };

    /** The walk of a vessel: one of the two member functions of VesselMeanderStrategy. */
    using CalculateNewVesselPositionCallback = void (VesselMeanderStrategy::*)(Vector3 &,
                                                                               Vector3 &,
                                                                               double,
                                                                               RandomEngine &) const;
  }
}

#endif
