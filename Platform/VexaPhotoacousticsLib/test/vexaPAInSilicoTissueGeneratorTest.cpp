#include <vexaPAInSilicoTissueGenerator.h>

#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaImageReadAccessor.h>
#include <vexaPixelTypeTraits.h>
#include <vexaTestTemporaryFolder.h>

#include <itkVariableLengthVector.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <thread>
#include <unistd.h>
#include <cstdio>

using namespace vexa::pa;

namespace
{
  /** A small volume of 0.05 cm voxels: 40 along the vessels, 40 wide, 50 deep. */
  TissueGeneratorParameters::Pointer SmallVolume()
  {
    TissueGeneratorParameters::Pointer p = TissueGeneratorParameters::New();
    p->SetXDim(40);
    p->SetYDim(40);
    p->SetZDim(50);
    p->SetVoxelSpacingInCentimeters(0.05);
    p->SetMinBackgroundAbsorption(0.1);
    p->SetMaxBackgroundAbsorption(0.3);
    p->SetBackgroundScattering(15);
    p->SetBackgroundAnisotropy(0.9);
    p->SetMinVesselAbsorption(4);
    p->SetMaxVesselAbsorption(6);
    p->SetMinVesselScattering(12);
    p->SetMaxVesselScattering(18);
    p->SetMinVesselAnisotropy(0.85);
    p->SetMaxVesselAnisotropy(0.95);
    p->SetMinVesselRadiusInMillimeters(0.5);
    p->SetMaxVesselRadiusInMillimeters(1.5);
    p->SetMinVesselZOrigin(0.8);
    p->SetMaxVesselZOrigin(1.6);
    return p;
  }

  std::size_t Count(const InSilicoTissueVolume &v, InSilicoTissueVolume::SegmentationLabel label)
  {
    return static_cast<std::size_t>(
      std::count(v.GetSegmentation().begin(), v.GetSegmentation().end(), static_cast<float>(label)));
  }
}

TEST(InSilicoTissueGenerator, EmptyVolumeHasUniformBackgroundBelowItsLayers)
{
  TissueGeneratorParameters::Pointer p = SmallVolume();
  p->SetMinNumberOfVessels(0);
  p->SetMaxNumberOfVessels(0);
  p->SetAirThicknessInMillimeters(1.4);  // voxel centres 0.025, 0.075, 0.125 cm lie in it
  p->SetSkinThicknessInMillimeters(0.5); // then 0.175 cm
  InSilicoTissueVolume::Pointer v = InSilicoTissueGenerator::GenerateInSilicoData(p);

  EXPECT_EQ((std::array<std::size_t, 3>{{40, 40, 50}}), v->GetDimensions());
  const double background = v->GetBackgroundAbsorption();
  EXPECT_GE(background, 0.1);
  EXPECT_LE(background, 0.3);
  EXPECT_TRUE(v->GetVessels().empty());
  EXPECT_EQ(0u, Count(*v, InSilicoTissueVolume::Vessel));
  EXPECT_EQ(40u * 40u * 3u, Count(*v, InSilicoTissueVolume::Air));
  for (std::size_t z = 0; z < 50; ++z)
    for (std::size_t y = 0; y < 40; ++y)
      for (std::size_t x = 0; x < 40; ++x)
      {
        const std::size_t i = v->Index(x, y, z);
        const float label = v->GetSegmentation()[i];
        if (z < 3)
        {
          ASSERT_EQ(InSilicoTissueVolume::Air, label) << z;
          ASSERT_EQ(0.0f, v->GetAbsorption()[i]);
          ASSERT_EQ(0.0f, v->GetScattering()[i]);
        }
        else if (z == 3)
        {
          ASSERT_EQ(InSilicoTissueVolume::Skin, label);
          ASSERT_EQ(3.0f, v->GetAbsorption()[i]);
        }
        else
        {
          ASSERT_EQ(InSilicoTissueVolume::Background, label) << x << " " << y << " " << z;
          ASSERT_EQ(static_cast<float>(background), v->GetAbsorption()[i]);
          ASSERT_EQ(15.0f, v->GetScattering()[i]);
          ASSERT_EQ(0.9f, v->GetAnisotropy()[i]);
        }
      }
}

TEST(InSilicoTissueGenerator, VesselCountRadiusDepthAndPropertiesStayInTheirRanges)
{
  for (auto walk : {&VesselMeanderStrategy::CalculateNewPositionInStraightLine,
                    &VesselMeanderStrategy::CalculateRandomlyDivergingPosition})
  {
    TissueGeneratorParameters::Pointer p = SmallVolume();
    p->SetCalculateNewVesselPositionCallback(walk);
    p->SetMinNumberOfVessels(2);
    p->SetMaxNumberOfVessels(5);
    p->SetMinVesselBending(0.0);
    p->SetMaxVesselBending(0.1);
    std::set<std::size_t> counts;
    for (int pass = 0; pass < 20; ++pass)
    {
      InSilicoTissueVolume::Pointer v = InSilicoTissueGenerator::GenerateInSilicoData(p);
      const auto &vessels = v->GetVessels();
      ASSERT_GE(vessels.size(), 2u);
      ASSERT_LE(vessels.size(), 5u);
      counts.insert(vessels.size());
      std::vector<float> absorptions;
      for (const auto &d : vessels)
      {
        EXPECT_EQ(-1, d.parent); // no bifurcation asked for
        EXPECT_GE(d.radiusInMillimeters, 0.5);
        EXPECT_LE(d.radiusInMillimeters, 1.5);
        EXPECT_GE(d.entryCm[2], 0.8);
        EXPECT_LE(d.entryCm[2], 1.6);
        EXPECT_EQ(0.0, d.entryCm[0]);
        EXPECT_GE(d.absorption, 4.0);
        EXPECT_LE(d.absorption, 6.0);
        EXPECT_GE(d.scattering, 12.0);
        EXPECT_LE(d.scattering, 18.0);
        EXPECT_GE(d.anisotropy, 0.85);
        EXPECT_LE(d.anisotropy, 0.95);
        absorptions.push_back(static_cast<float>(d.absorption));
      }
      // without partial volume every vessel voxel carries one vessel's absorption, and the
      // vessels were painted (a radius of at least 0.5 mm covers voxel centres of 0.5 mm voxels)
      std::size_t vesselVoxels = 0;
      for (std::size_t i = 0; i < v->GetNumberOfVoxels(); ++i)
        if (v->GetSegmentation()[i] == InSilicoTissueVolume::Vessel)
        {
          ++vesselVoxels;
          ASSERT_NE(absorptions.end(), std::find(absorptions.begin(), absorptions.end(), v->GetAbsorption()[i]));
        }
      EXPECT_GT(vesselVoxels, 0u);
      if (walk == &VesselMeanderStrategy::CalculateNewPositionInStraightLine)
      {
        // straight tubes along x: every vessel voxel lies within a radius of an entry depth range
        for (std::size_t z = 0; z < 50; ++z)
          for (std::size_t y = 0; y < 40; ++y)
            for (std::size_t x = 0; x < 40; ++x)
              if (v->GetSegmentation()[v->Index(x, y, z)] == InSilicoTissueVolume::Vessel)
              {
                const double depth = (z + 0.5) * 0.05;
                ASSERT_GE(depth, 0.8 - 0.15);
                ASSERT_LE(depth, 1.6 + 0.15);
              }
      }
    }
    EXPECT_GE(counts.size(), 2u) << "the vessel count is drawn, not fixed";
  }
}

TEST(InSilicoTissueGenerator, StraightVesselsRunStraightAndDivergingOnesMeander)
{
  auto lateralWander = [](CalculateNewVesselPositionCallback walk) {
    TissueGeneratorParameters::Pointer p = SmallVolume();
    p->SetXDim(120);
    p->SetCalculateNewVesselPositionCallback(walk);
    p->SetMinNumberOfVessels(1);
    p->SetMaxNumberOfVessels(1);
    p->SetMinVesselBending(0.2);
    p->SetMaxVesselBending(0.2);
    p->SetUseRngSeed(true);
    p->SetRngSeed(3);
    InSilicoTissueVolume::Pointer v = InSilicoTissueGenerator::GenerateInSilicoData(p);
    // centre of the vessel voxels of each x plane; how far it moves over the planes the vessel crosses
    double minY = 1e9, maxY = -1e9, minZ = 1e9, maxZ = -1e9;
    for (std::size_t x = 0; x < 120; ++x)
    {
      double sy = 0, sz = 0, n = 0;
      for (std::size_t z = 0; z < 50; ++z)
        for (std::size_t y = 0; y < 40; ++y)
          if (v->GetSegmentation()[v->Index(x, y, z)] == InSilicoTissueVolume::Vessel)
          {
            sy += y;
            sz += z;
            ++n;
          }
      if (n == 0)
        continue;
      minY = std::min(minY, sy / n);
      maxY = std::max(maxY, sy / n);
      minZ = std::min(minZ, sz / n);
      maxZ = std::max(maxZ, sz / n);
    }
    return std::max(maxY - minY, maxZ - minZ);
  };
  EXPECT_LT(lateralWander(&VesselMeanderStrategy::CalculateNewPositionInStraightLine), 0.5);
  EXPECT_GT(lateralWander(&VesselMeanderStrategy::CalculateRandomlyDivergingPosition), 2.0);
}

TEST(InSilicoTissueGenerator, EveryPassDrawsAnewUnlessSeeded)
{
  TissueGeneratorParameters::Pointer p = SmallVolume();
  p->SetMinNumberOfVessels(1);
  p->SetMaxNumberOfVessels(3);
  const InSilicoTissueVolume::Pointer a = InSilicoTissueGenerator::GenerateInSilicoData(p);
  const InSilicoTissueVolume::Pointer b = InSilicoTissueGenerator::GenerateInSilicoData(p);
  EXPECT_NE(a->GetAbsorption(), b->GetAbsorption());

  // volumes generated at the same moment on two threads differ too
  InSilicoTissueVolume::Pointer c, d;
  std::thread t1([&] { c = InSilicoTissueGenerator::GenerateInSilicoData(p); });
  std::thread t2([&] { d = InSilicoTissueGenerator::GenerateInSilicoData(p); });
  t1.join();
  t2.join();
  EXPECT_NE(c->GetAbsorption(), d->GetAbsorption());

  p->SetUseRngSeed(true);
  p->SetRngSeed(12345);
  const InSilicoTissueVolume::Pointer e = InSilicoTissueGenerator::GenerateInSilicoData(p);
  const InSilicoTissueVolume::Pointer f = InSilicoTissueGenerator::GenerateInSilicoData(p);
  EXPECT_EQ(e->GetAbsorption(), f->GetAbsorption());
  EXPECT_EQ(e->GetSegmentation(), f->GetSegmentation());
}

TEST(InSilicoTissueGenerator, PartialVolumeMixesTheVesselWall)
{
  auto mixedVoxels = [](bool partial) {
    TissueGeneratorParameters::Pointer p = SmallVolume();
    p->SetMinBackgroundAbsorption(0.2);
    p->SetMaxBackgroundAbsorption(0.2);
    p->SetMinVesselAbsorption(5);
    p->SetMaxVesselAbsorption(5);
    p->SetMinNumberOfVessels(1);
    p->SetMaxNumberOfVessels(1);
    p->SetDoPartialVolume(partial);
    InSilicoTissueVolume::Pointer v = InSilicoTissueGenerator::GenerateInSilicoData(p);
    std::size_t mixed = 0;
    for (float a : v->GetAbsorption())
    {
      EXPECT_GE(a, 0.2f - 1e-6f);
      EXPECT_LE(a, 5.0f + 1e-6f);
      if (a > 0.2001f && a < 4.999f)
        ++mixed;
    }
    return mixed;
  };
  EXPECT_EQ(0u, mixedVoxels(false));
  EXPECT_GT(mixedVoxels(true), 100u);
}

TEST(InSilicoTissueGenerator, RandomizationScalesPropertiesByThePercentage)
{
  TissueGeneratorParameters::Pointer p = SmallVolume();
  p->SetMinBackgroundAbsorption(0.1);
  p->SetMaxBackgroundAbsorption(0.1);
  std::set<float> plain;
  double low = 1, high = 0;
  for (int k = 0; k < 30; ++k)
  {
    plain.insert(InSilicoTissueGenerator::GenerateInSilicoData(p)->GetAbsorption().back());
    p->SetRandomizePhysicalProperties(true);
    p->SetRandomizePhysicalPropertiesPercentage(20);
    const double b = InSilicoTissueGenerator::GenerateInSilicoData(p)->GetBackgroundAbsorption();
    low = std::min(low, b);
    high = std::max(high, b);
    p->SetRandomizePhysicalProperties(false);
  }
  EXPECT_EQ(std::set<float>{0.1f}, plain);
  EXPECT_GE(low, 0.08);
  EXPECT_LE(high, 0.12);
  EXPECT_LT(low, 0.095);
  EXPECT_GT(high, 0.105);
}

TEST(InSilicoTissueGenerator, VesselsBifurcateAtTheFrequency)
{
  TissueGeneratorParameters::Pointer p = SmallVolume();
  p->SetMinNumberOfVessels(1);
  p->SetMaxNumberOfVessels(1);
  p->SetMinVesselRadiusInMillimeters(1);
  p->SetMaxVesselRadiusInMillimeters(1);
  p->SetVesselBifurcationFrequency(10); // about 4 splits along 40 half-voxel steps
  InSilicoTissueVolume::Pointer v = InSilicoTissueGenerator::GenerateInSilicoData(p);
  const auto &vessels = v->GetVessels();
  ASSERT_GT(vessels.size(), 1u);
  EXPECT_EQ(-1, vessels[0].parent);
  for (std::size_t k = 1; k < vessels.size(); ++k)
  {
    ASSERT_GE(vessels[k].parent, 0);
    ASSERT_LT(static_cast<std::size_t>(vessels[k].parent), k);
    EXPECT_LT(vessels[k].radiusInMillimeters, vessels[vessels[k].parent].radiusInMillimeters);
  }
  p->SetVesselBifurcationFrequency(1); // a split at every step is bounded, not endless
  EXPECT_LE(InSilicoTissueGenerator::GenerateInSilicoData(p)->GetVessels().size(), 1000u);
}

TEST(InSilicoTissueGenerator, ParametersThatCannotMakeAVolumeAreRefused)
{
  struct Case
  {
    std::function<void(TissueGeneratorParameters &)> spoil;
    const char *text;
  };
  const std::vector<Case> cases = {
    {[](TissueGeneratorParameters &p) { p.SetYDim(0); }, "at least one voxel"},
    {[](TissueGeneratorParameters &p) {
       p.SetXDim(100000);
       p.SetYDim(100000);
     },
     "larger than the generator makes"},
    {[](TissueGeneratorParameters &p) { p.SetVoxelSpacingInCentimeters(0); }, "voxel spacing must be positive"},
    {[](TissueGeneratorParameters &p) { p.SetMinBackgroundAbsorption(1); }, "minimum background absorption (1)"},
    {[](TissueGeneratorParameters &p) { p.SetBackgroundAnisotropy(1.5); }, "background anisotropy (1.5)"},
    {[](TissueGeneratorParameters &p) { p.SetMinNumberOfVessels(-1); }, "number of vessels"},
    {[](TissueGeneratorParameters &p) {
       p.SetMinNumberOfVessels(3);
       p.SetMaxNumberOfVessels(2);
     },
     "number of vessels"},
    {[](TissueGeneratorParameters &p) {
       p.SetMaxNumberOfVessels(1);
       p.SetCalculateNewVesselPositionCallback(nullptr);
     },
     "no vessel path callback"},
    {[](TissueGeneratorParameters &p) { p.SetMaxVesselRadiusInMillimeters(NAN); }, "vessel radius"},
    {[](TissueGeneratorParameters &p) { p.SetMinVesselAnisotropy(-2); }, "vessel anisotropy"},
    {[](TissueGeneratorParameters &p) { p.SetRandomizePhysicalPropertiesPercentage(150); }, "percentage"},
    {[](TissueGeneratorParameters &p) { p.SetVesselBifurcationFrequency(-1); }, "bifurcation"},
  };
  for (const Case &c : cases)
  {
    TissueGeneratorParameters::Pointer p = SmallVolume();
    c.spoil(*p);
    try
    {
      InSilicoTissueGenerator::GenerateInSilicoData(p);
      ADD_FAILURE() << c.text << ": accepted";
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_NE(std::string::npos, std::string(e.GetDescription()).find(c.text)) << e.GetDescription();
    }
  }
  EXPECT_THROW(InSilicoTissueGenerator::GenerateInSilicoData(nullptr), vexa::Exception);
}

TEST(InSilicoTissueVolume, ConvertsToAFourComponentImageThatSurvivesNrrd)
{
  TissueGeneratorParameters::Pointer p = SmallVolume();
  p->SetMinNumberOfVessels(2);
  p->SetMaxNumberOfVessels(2);
  p->SetDoPartialVolume(true);
  p->SetAirThicknessInMillimeters(1);
  InSilicoTissueVolume::Pointer v = InSilicoTissueGenerator::GenerateInSilicoData(p);
  vexa::Image::Pointer image = v->ConvertToVexaImage();
  ASSERT_EQ(3u, image->GetDimension());
  EXPECT_EQ(40u, image->GetDimension(0));
  EXPECT_EQ(50u, image->GetDimension(2));
  EXPECT_EQ((vexa::CreatePixelType<float, itk::VariableLengthVector<float>>(4)), image->GetPixelType());
  EXPECT_DOUBLE_EQ(0.5, image->GetGeometry(0)->GetSpacing()[2]); // 0.05 cm

  const vexa::test::TemporaryFolder folder;
  const std::string path = folder.File("tissue volume.nrrd");
  vexa::IOUtil::Save(image, path);
  vexa::Image::Pointer loaded = vexa::IOUtil::LoadImage(path);
  EXPECT_EQ(image->GetPixelType(), loaded->GetPixelType());
  EXPECT_DOUBLE_EQ(0.5, loaded->GetGeometry(0)->GetSpacing()[0]);
  vexa::ImageReadAccessor access(loaded);
  const float *pixels = static_cast<const float *>(access.GetData());
  for (std::size_t i = 0; i < v->GetNumberOfVoxels(); ++i)
  {
    ASSERT_EQ(v->GetAbsorption()[i], pixels[4 * i + 0]) << i;
    ASSERT_EQ(v->GetScattering()[i], pixels[4 * i + 1]) << i;
    ASSERT_EQ(v->GetAnisotropy()[i], pixels[4 * i + 2]) << i;
    ASSERT_EQ(v->GetSegmentation()[i], pixels[4 * i + 3]) << i;
  }

  EXPECT_THROW(InSilicoTissueVolume::New()->ConvertToVexaImage(), vexa::Exception);
}
