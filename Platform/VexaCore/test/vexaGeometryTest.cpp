#include <vexaBaseGeometry.h>
#include <vexaException.h>
#include <vexaProportionalTimeGeometry.h>
#include <vexaSlicedGeometry3D.h>
#include <vexaTestGeometry.h>

#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace
{
  vexa::AffineMatrix3D RotationAboutZ(double degrees)
  {
    const double a = degrees * std::acos(-1.0) / 180.0;
    vexa::AffineMatrix3D m;
    m.SetIdentity();
    m[0][0] = std::cos(a);
    m[0][1] = -std::sin(a);
    m[1][0] = std::sin(a);
    m[1][1] = std::cos(a);
    return m;
  }

  const auto V = &vexa::test::MakeVector3D;
  const auto P = &vexa::test::MakePoint3D;
}

TEST(BaseGeometry, SpacingIsTheLengthOfTheMatrixColumns)
{
  vexa::BaseGeometry::Pointer g = vexa::BaseGeometry::New();
  EXPECT_EQ(V(1, 1, 1), g->GetSpacing());
  EXPECT_EQ(P(0, 0, 0), g->GetOrigin());

  // a matrix set directly on the transform changes the spacing with it
  vexa::AffineMatrix3D m = RotationAboutZ(30);
  for (unsigned int r = 0; r < 3; ++r)
  {
    m[r][0] *= 2.0;
    m[r][1] *= 0.5;
    m[r][2] *= 3.0;
  }
  g->GetIndexToWorldTransform()->SetMatrix(m);
  const vexa::Vector3D s = g->GetSpacing();
  EXPECT_NEAR(2.0, s[0], 1e-12);
  EXPECT_NEAR(0.5, s[1], 1e-12);
  EXPECT_NEAR(3.0, s[2], 1e-12);
}

TEST(BaseGeometry, SetSpacingKeepsTheDirection)
{
  vexa::BaseGeometry::Pointer g = vexa::BaseGeometry::New();
  g->GetIndexToWorldTransform()->SetMatrix(RotationAboutZ(90));
  g->SetOrigin(P(1, 2, 3));
  g->SetSpacing(V(0.5, 0.25, 4));

  const auto &m = g->GetIndexToWorldTransform()->GetMatrix();
  EXPECT_NEAR(0.0, m[0][0], 1e-12);
  EXPECT_NEAR(0.5, m[1][0], 1e-12);
  EXPECT_NEAR(-0.25, m[0][1], 1e-12);
  EXPECT_NEAR(0.0, m[1][1], 1e-12);
  EXPECT_NEAR(4.0, m[2][2], 1e-12);
  EXPECT_EQ(P(1, 2, 3), g->GetOrigin());

  // the 4x4 form: matrix and origin, last row (0 0 0 1)
  const vexa::AffineMatrix4x4 h = g->GetMatrix4x4();
  EXPECT_NEAR(0.5, h[1][0], 1e-12);
  EXPECT_EQ(1.0, h[0][3]);
  EXPECT_EQ(2.0, h[1][3]);
  EXPECT_EQ(3.0, h[2][3]);
  EXPECT_EQ(0.0, h[3][0]);
  EXPECT_EQ(1.0, h[3][3]);
}

TEST(BaseGeometry, UnusableSpacingIsRefusedAndChangesNothing)
{
  vexa::BaseGeometry::Pointer g = vexa::BaseGeometry::New();
  g->SetSpacing(V(2, 3, 4));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const vexa::Vector3D &bad : {V(0, 1, 1), V(1, -1, 1), V(1, 1, nan), V(inf, 1, 1)})
  {
    EXPECT_THROW(g->SetSpacing(bad), vexa::Exception) << bad;
    EXPECT_EQ(V(2, 3, 4), g->GetSpacing());
  }
}

TEST(BaseGeometry, CloneIsIndependent)
{
  vexa::BaseGeometry::Pointer g = vexa::BaseGeometry::New();
  g->SetSpacing(V(2, 2, 2));
  g->SetBounds({0, 10, 0, 20, 0, 1});
  vexa::BaseGeometry::Pointer c = g->Clone();
  ASSERT_NE(g.GetPointer(), c.GetPointer());
  EXPECT_TRUE(vexa::Equal(*g, *c, vexa::eps, false));
  c->SetSpacing(V(1, 1, 1));
  c->SetOrigin(P(5, 5, 5));
  EXPECT_EQ(V(2, 2, 2), g->GetSpacing());
  EXPECT_EQ(P(0, 0, 0), g->GetOrigin());
  EXPECT_EQ(20.0, g->GetExtent(1));
  EXPECT_EQ(40.0, g->GetExtentInMM(1));
}

TEST(BaseGeometry, IndexToWorldAndBack)
{
  vexa::BaseGeometry::Pointer g = vexa::BaseGeometry::New();
  g->GetIndexToWorldTransform()->SetMatrix(RotationAboutZ(45));
  g->SetSpacing(V(0.5, 2, 3));
  g->SetOrigin(P(10, -4, 7));
  const vexa::Point3D index = P(3, 4, 5);
  const vexa::Point3D back = g->WorldToIndex(g->IndexToWorld(index));
  for (unsigned int i = 0; i < 3; ++i)
    EXPECT_NEAR(index[i], back[i], 1e-9);
}

TEST(BaseGeometry, EqualHonoursTheToleranceAndReportsWhenVerbose)
{
  vexa::BaseGeometry::Pointer a = vexa::BaseGeometry::New();
  vexa::BaseGeometry::Pointer b = vexa::BaseGeometry::New();
  b->SetSpacing(V(1.00005, 1, 1));
  EXPECT_TRUE(vexa::Equal(*a, *b, 0.0001, false));
  b->SetSpacing(V(1.001, 1, 1));
  {
    vorlen::CapturingSink sink;
    EXPECT_FALSE(vexa::Equal(*a, *b, 0.0001, false));
    EXPECT_TRUE(sink.Records().empty());
    EXPECT_FALSE(vexa::Equal(*a, *b, 0.0001, true));
    EXPECT_TRUE(sink.Contains("Spacing differs"));
  }
  vexa::BaseGeometry::Pointer c = vexa::BaseGeometry::New();
  c->SetOrigin(P(0, 0, std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(vexa::Equal(*a, *c, 1.0, false));
  c = vexa::BaseGeometry::New();
  c->SetBounds({0, 1, 0, 2, 0, 1});
  EXPECT_FALSE(vexa::Equal(*a, *c, 0.5, false));
}

TEST(SlicedGeometry3D, SlicesFollowTheVolume)
{
  vexa::BaseGeometry::Pointer slice = vexa::BaseGeometry::New();
  slice->SetBounds({0, 64, 0, 32, 0, 1});
  slice->SetSpacing(V(0.5, 0.5, 2));
  slice->SetOrigin(P(1, 2, 3));
  vexa::SlicedGeometry3D::Pointer volume = vexa::SlicedGeometry3D::New();
  volume->InitializeFromSlice(slice, 3);

  EXPECT_EQ(3u, volume->GetSlices());
  EXPECT_EQ(3.0, volume->GetExtent(2));
  EXPECT_EQ(nullptr, volume->GetSliceGeometry(3));
  EXPECT_EQ(nullptr, volume->GetSliceGeometry(-1));
  vexa::BaseGeometry *last = volume->GetSliceGeometry(2);
  ASSERT_NE(nullptr, last);
  EXPECT_EQ(P(1, 2, 7), last->GetOrigin());
  EXPECT_EQ(1.0, last->GetExtent(2));
  EXPECT_EQ(64.0, last->GetExtent(0));

  // a change of the volume reaches the slice objects already handed out
  volume->SetSpacing(V(1, 1, 5));
  volume->SetOrigin(P(0, 0, 0));
  EXPECT_EQ(last, volume->GetSliceGeometry(2));
  EXPECT_EQ(P(0, 0, 10), last->GetOrigin());
  EXPECT_EQ(V(1, 1, 5), last->GetSpacing());

  vexa::SlicedGeometry3D::Pointer copy = volume->Clone();
  EXPECT_EQ(3u, copy->GetSlices());
  EXPECT_NE(last, copy->GetSliceGeometry(2));
  EXPECT_EQ(P(0, 0, 10), copy->GetSliceGeometry(2)->GetOrigin());
}

TEST(ProportionalTimeGeometry, StepsHoldIndependentCopies)
{
  vexa::BaseGeometry::Pointer g = vexa::BaseGeometry::New();
  vexa::ProportionalTimeGeometry::Pointer tg = vexa::ProportionalTimeGeometry::New();
  tg->Initialize(g, 3);
  ASSERT_EQ(3u, tg->CountTimeSteps());
  EXPECT_TRUE(tg->IsValid());
  EXPECT_NE(g.GetPointer(), tg->GetGeometryForTimeStep(0).GetPointer());
  EXPECT_NE(tg->GetGeometryForTimeStep(0).GetPointer(), tg->GetGeometryForTimeStep(1).GetPointer());
  g->SetSpacing(V(9, 9, 9));
  EXPECT_EQ(V(1, 1, 1), tg->GetGeometryForTimeStep(0)->GetSpacing());
  EXPECT_EQ(nullptr, tg->GetGeometryForTimeStep(3).GetPointer());

  tg->SetStepDuration(2.0);
  tg->SetFirstTimePoint(10.0);
  EXPECT_EQ(2u, tg->TimePointToTimeStep(14.5));
  EXPECT_EQ(14.0, tg->TimeStepToTimePoint(2));
  EXPECT_TRUE(tg->IsValidTimePoint(15.9));
  EXPECT_FALSE(tg->IsValidTimePoint(16.0));
  EXPECT_THROW(tg->SetStepDuration(0.0), vexa::Exception);

  tg->Expand(5);
  EXPECT_EQ(5u, tg->CountTimeSteps());
  EXPECT_THROW(tg->SetTimeStepGeometry(g, 5), vexa::Exception);

  const itk::ModifiedTimeType before = tg->GetMTime();
  tg->GetGeometryForTimeStep(4)->SetOrigin(P(1, 1, 1));
  EXPECT_GT(tg->GetMTime(), before);

  vexa::ProportionalTimeGeometry::Pointer copy = tg->Clone();
  copy->GetGeometryForTimeStep(0)->SetOrigin(P(3, 3, 3));
  EXPECT_EQ(P(0, 0, 0), tg->GetGeometryForTimeStep(0)->GetOrigin());
}
