#include <vexaPAVesselMeanderStrategy.h>

#include <gtest/gtest.h>

#include <cmath>

using vexa::pa::Vector3;

namespace
{
  double Length(const Vector3 &v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
}

TEST(VesselMeanderStrategy, StraightLineKeepsTheDirection)
{
  vexa::pa::VesselMeanderStrategy::Pointer s = vexa::pa::VesselMeanderStrategy::New();
  vexa::pa::RandomEngine rng(1);
  Vector3 pos{{1, 2, 3}}, dir{{0.03, 0.0, -0.04}};
  for (int k = 0; k < 10; ++k)
    s->CalculateNewPositionInStraightLine(pos, dir, 0.7, rng);
  EXPECT_NEAR(1.3, pos[0], 1e-12);
  EXPECT_NEAR(2.0, pos[1], 1e-12);
  EXPECT_NEAR(2.6, pos[2], 1e-12);
  EXPECT_EQ((Vector3{{0.03, 0.0, -0.04}}), dir);
}

TEST(VesselMeanderStrategy, DivergingTurnsByTheBendingAndKeepsTheStep)
{
  vexa::pa::VesselMeanderStrategy::Pointer s = vexa::pa::VesselMeanderStrategy::New();
  vexa::pa::RandomEngine rng(2);

  // bending 0 is a straight line
  Vector3 pos{{0, 0, 0}}, dir{{0.05, 0, 0}};
  s->CalculateRandomlyDivergingPosition(pos, dir, 0.0, rng);
  EXPECT_EQ((Vector3{{0.05, 0, 0}}), dir);
  EXPECT_EQ((Vector3{{0.05, 0, 0}}), pos);

  // the mean turning angle per step grows with the bending; the step length stays
  auto meanAngle = [&](double bending) {
    double sum = 0;
    for (int k = 0; k < 2000; ++k)
    {
      Vector3 p{{0, 0, 0}}, d{{0.05, 0, 0}};
      s->CalculateRandomlyDivergingPosition(p, d, bending, rng);
      EXPECT_NEAR(0.05, Length(d), 1e-12);
      EXPECT_NEAR(0.05, Length(p), 1e-12); // moved one step along the new direction
      sum += std::acos(std::min(1.0, d[0] / 0.05));
    }
    return sum / 2000;
  };
  const double small = meanAngle(0.05);
  const double large = meanAngle(0.2);
  EXPECT_GT(small, 0.02);
  EXPECT_GT(large, 3 * small);
}
