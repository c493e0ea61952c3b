#include "vexaPAVesselMeanderStrategy.h"

#include <cmath>

namespace vexa
{
  namespace pa
  {
    void VesselMeanderStrategy::CalculateNewPositionInStraightLine(Vector3 &position,
                                                                   Vector3 &direction,
                                                                   double,
                                                                   RandomEngine &) const
    {
      for (int i = 0; i < 3; ++i)
        position[i] += direction[i];
    }

    void VesselMeanderStrategy::CalculateRandomlyDivergingPosition(Vector3 &position,
                                                                   Vector3 &direction,
                                                                   double bendingFactor,
                                                                   RandomEngine &rng) const
    {
      const double length =
        std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2]);
      if (length > 0 && bendingFactor != 0)
      {
        std::normal_distribution<double> turn(0.0, bendingFactor * length);
        Vector3 d = direction;
        for (int i = 0; i < 3; ++i)
          d[i] += turn(rng);
        const double newLength = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (newLength > 0)
          for (int i = 0; i < 3; ++i)
            direction[i] = d[i] * length / newLength;
      }
      for (int i = 0; i < 3; ++i)
        position[i] += direction[i];
    }
  }
}
