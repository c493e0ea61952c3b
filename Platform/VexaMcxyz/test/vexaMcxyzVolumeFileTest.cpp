#include <vexaMcxyzVolumeFile.h>

#include "vexaMcxyzTestSupport.h"

#include <vexaTestTemporaryFolder.h>

#include <vexaIOUtil.h>
#include <vexaPAInSilicoTissueGenerator.h>

#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageFileWriter.h>
#include <itkMetaDataObject.h>
#include <itkNrrdImageIO.h>
#include <itkVectorImage.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

using namespace vexa::mcxyz;

namespace
{
  class VolumeFileTest : public ::testing::Test
  {
  protected:
    template <class TImage>
    void Write(const std::string &path, TImage *image)
    {
      typename itk::ImageFileWriter<TImage>::Pointer w = itk::ImageFileWriter<TImage>::New();
      w->SetImageIO(itk::NrrdImageIO::New());
      w->SetFileName(path);
      w->SetInput(image);
      w->Update();
    }

    std::vector<std::string> Files()
    {
      std::vector<std::string> names;
      for (const auto &entry : std::filesystem::directory_iterator(m_Folder.Path()))
        names.push_back(entry.path().filename().string());
      return names;
    }

    vexa::test::TemporaryFolder m_Folder;
    const std::string m_Dir = m_Folder.Path().string();
  };

  // property p of voxel (x, y, z) in the test volumes
  float Value(int p, int x, int y, int z) { return p == 2 ? 0.1f * p : 1.0f * p + x + 10.0f * y + 100.0f * z; }
}

TEST_F(VolumeFileTest, ThreeDimensionalVectorVolumeIsRead)
{
  using Image = itk::VectorImage<float, 3>;
  Image::Pointer img = Image::New();
  Image::RegionType region;
  region.SetSize(0, 3);
  region.SetSize(1, 4);
  region.SetSize(2, 5);
  img->SetRegions(region);
  img->SetNumberOfComponentsPerPixel(4);
  const double spacing[3] = {0.6, 0.5, 0.25};
  const double origin[3] = {1, -2, 3};
  img->SetSpacing(spacing);
  img->SetOrigin(origin);
  img->Allocate();
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 3; ++x)
      {
        itk::VariableLengthVector<float> v(4);
        for (int p = 0; p < 4; ++p)
          v[p] = Value(p, x, y, z);
        Image::IndexType idx = {{x, y, z}};
        img->SetPixel(idx, v);
      }
  Write(m_Dir + "/volume.nrrd", img.GetPointer());

  const VolumeFile f = ReadOpticalVolume(m_Dir + "/volume.nrrd");
  EXPECT_EQ((std::array<std::size_t, 3>{{3, 4, 5}}), f.volume.dimensions);
  EXPECT_DOUBLE_EQ(0.06, f.volume.voxelSizeCm[0]);
  EXPECT_DOUBLE_EQ(0.025, f.volume.voxelSizeCm[2]);
  EXPECT_DOUBLE_EQ(-2.0, f.geometry.originMm[1]);
  EXPECT_DOUBLE_EQ(0.5, f.geometry.spacingMm[1]);
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 3; ++x)
      {
        const std::size_t v = x + 3 * (y + 4 * z);
        ASSERT_EQ(Value(0, x, y, z), f.volume.absorption[v]);
        ASSERT_EQ(Value(1, x, y, z), f.volume.scattering[v]);
        ASSERT_EQ(Value(2, x, y, z), f.volume.anisotropy[v]);
      }
}

TEST_F(VolumeFileTest, FourDimensionalVolumeOfPropertyVolumesIsRead)
{
  using Image = itk::Image<double, 4>;
  Image::Pointer img = Image::New();
  Image::RegionType region;
  region.SetSize(0, 2);
  region.SetSize(1, 3);
  region.SetSize(2, 4);
  region.SetSize(3, 4);
  img->SetRegions(region);
  img->Allocate();
  for (int p = 0; p < 4; ++p)
    for (int z = 0; z < 4; ++z)
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
        {
          Image::IndexType idx = {{x, y, z, p}};
          img->SetPixel(idx, Value(p, x, y, z));
        }
  Write(m_Dir + "/volume4d.nrrd", img.GetPointer());

  const VolumeFile f = ReadOpticalVolume(m_Dir + "/volume4d.nrrd");
  EXPECT_EQ((std::array<std::size_t, 3>{{2, 3, 4}}), f.volume.dimensions);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 2; ++x)
      {
        const std::size_t v = x + 2 * (y + 3 * z);
        ASSERT_EQ(Value(0, x, y, z), f.volume.absorption[v]);
        ASSERT_EQ(Value(1, x, y, z), f.volume.scattering[v]);
        ASSERT_FLOAT_EQ(Value(2, x, y, z), f.volume.anisotropy[v]);
      }
}

TEST_F(VolumeFileTest, FilesWithoutOpticalPropertiesAreRefused)
{
  auto expectRefused = [&](const std::string &path, const std::string &text) {
    try
    {
      ReadOpticalVolume(path);
      ADD_FAILURE() << path << ": accepted";
    }
    catch (const std::runtime_error &e)
    {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(text)) << e.what();
      EXPECT_NE(std::string::npos, std::string(e.what()).find(path)) << e.what();
    }
  };
  expectRefused(m_Dir + "/missing.nrrd", "no such file or not an NRRD file");

  using Scalar3 = itk::Image<float, 3>;
  Scalar3::Pointer scalar = Scalar3::New();
  Scalar3::RegionType region;
  region.SetSize(0, 2);
  region.SetSize(1, 2);
  region.SetSize(2, 2);
  scalar->SetRegions(region);
  scalar->Allocate();
  scalar->FillBuffer(1.0f);
  Write(m_Dir + "/scalar.nrrd", scalar.GetPointer());
  expectRefused(m_Dir + "/scalar.nrrd", "holds no optical properties");

  using Image2 = itk::Image<float, 2>;
  Image2::Pointer flat = Image2::New();
  Image2::RegionType r2;
  r2.SetSize(0, 2);
  r2.SetSize(1, 2);
  flat->SetRegions(r2);
  flat->Allocate();
  Write(m_Dir + "/flat.nrrd", flat.GetPointer());
  expectRefused(m_Dir + "/flat.nrrd", "2 dimensions");

  // a header announcing 10^15 voxels is refused before anything is allocated
  {
    std::ofstream out(m_Dir + "/huge.nrrd");
    out << "NRRD0004\ntype: float\ndimension: 4\nsizes: 100000 100000 100000 4\nencoding: raw\n"
           "endian: little\n\n";
    out << "tiny";
  }
  expectRefused(m_Dir + "/huge.nrrd", "more than the largest allowed");

  // non-physical values: a negative absorption
  using Image = itk::VectorImage<float, 3>;
  Image::Pointer bad = Image::New();
  bad->SetRegions(region);
  bad->SetNumberOfComponentsPerPixel(3);
  bad->Allocate();
  itk::VariableLengthVector<float> v(3);
  v[0] = -1;
  v[1] = 10;
  v[2] = 0.9f;
  bad->FillBuffer(v);
  Write(m_Dir + "/negative.nrrd", bad.GetPointer());
  expectRefused(m_Dir + "/negative.nrrd", "negative or non-finite absorption");
}

TEST_F(VolumeFileTest, DamagedOrLyingFilesAreRefusedBeforeTheirDataIsRead)
{
  const std::string sound = m_Dir + "/sound.nrrd";
  vexa::test::WriteUniformOpticalVolume(sound, 4, true);
  ASSERT_NO_THROW(ReadOpticalVolume(sound));
  const std::string bytes = vexa::test::ReadFile(sound);
  const std::string::size_type direction = bytes.find("(0.5,0,0)");
  ASSERT_NE(std::string::npos, direction) << bytes.substr(0, 400);

  struct Case
  {
    const char *name;
    std::string bytes;
    const char *error;
  };
  std::string crc = bytes, nan = bytes;
  crc[crc.size() - 6] ^= 0x20;
  nan.replace(direction, 9, "(nan,nan,nan)");
  for (const Case &c : {Case{"crc.nrrd", crc, "the CRC does not match"},
                        Case{"short.nrrd", bytes.substr(0, bytes.size() - 30), "cut short"},
                        Case{"nan.nrrd", nan, "the space direction of axis 1"}})
  {
    const std::string path = m_Dir + "/" + c.name;
    std::ofstream(path, std::ios::binary) << c.bytes;
    try
    {
      ReadOpticalVolume(path);
      ADD_FAILURE() << c.name << ": accepted";
    }
    catch (const std::runtime_error &e)
    {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(path)) << e.what();
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.error)) << e.what();
    }
  }
}

TEST_F(VolumeFileTest, FluenceIsWrittenWholeWithGeometryAndHeaderKeys)
{
  VolumeGeometry geo;
  geo.spacingMm = {{0.6, 0.6, 0.3}};
  geo.originMm = {{-5, 0, 2}};
  std::vector<double> values(2 * 3 * 4);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = 0.5 * i;
  const std::string path = m_Dir + "/fluence out.nrrd";
  WriteFluence(path, values, {{2, 3, 4}}, geo, {{"mcxyz_seed", "17"}});
  EXPECT_EQ(std::vector<std::string>{"fluence out.nrrd"}, Files()); // no partial file left behind

  using Image = itk::Image<float, 3>;
  itk::ImageFileReader<Image>::Pointer r = itk::ImageFileReader<Image>::New();
  r->SetImageIO(itk::NrrdImageIO::New());
  r->SetFileName(path);
  r->Update();
  Image::Pointer img = r->GetOutput();
  EXPECT_EQ(4u, img->GetLargestPossibleRegion().GetSize()[2]);
  EXPECT_DOUBLE_EQ(0.3, img->GetSpacing()[2]);
  EXPECT_DOUBLE_EQ(-5.0, img->GetOrigin()[0]);
  for (std::size_t i = 0; i < values.size(); ++i)
    ASSERT_FLOAT_EQ(static_cast<float>(values[i]), img->GetBufferPointer()[i]);
  std::string seed;
  EXPECT_TRUE(itk::ExposeMetaData<std::string>(img->GetMetaDataDictionary(), "mcxyz_seed", seed));
  EXPECT_EQ("17", seed);

  EXPECT_THROW(WriteFluence(m_Dir + "/no such folder/f.nrrd", values, {{2, 3, 4}}, geo, {}), std::runtime_error);
  EXPECT_EQ(std::vector<std::string>{"fluence out.nrrd"}, Files());
}

TEST_F(VolumeFileTest, TheGeneratorsVolumeIsReadAsItWasMade)
{
  vexa::pa::TissueGeneratorParameters::Pointer p = vexa::pa::TissueGeneratorParameters::New();
  p->SetXDim(20);
  p->SetYDim(30);
  p->SetZDim(25);
  p->SetVoxelSpacingInCentimeters(0.06);
  p->SetAirThicknessInMillimeters(1.8);
  p->SetMinNumberOfVessels(2);
  p->SetMaxNumberOfVessels(2);
  p->SetMinVesselZOrigin(0.5);
  p->SetMaxVesselZOrigin(1.0);
  p->SetDoPartialVolume(true);
  vexa::pa::InSilicoTissueVolume::Pointer generated = vexa::pa::InSilicoTissueGenerator::GenerateInSilicoData(p);
  const std::string path = m_Dir + "/BaselineHB_x_0.nrrd";
  vexa::IOUtil::Save(generated->ConvertToVexaImage(), path);

  const VolumeFile f = ReadOpticalVolume(path);
  EXPECT_EQ((std::array<std::size_t, 3>{{20, 30, 25}}), f.volume.dimensions);
  for (int i = 0; i < 3; ++i)
  {
    EXPECT_NEAR(0.06, f.volume.voxelSizeCm[i], 1e-12);
    EXPECT_NEAR(0.6, f.geometry.spacingMm[i], 1e-12);
  }
  EXPECT_EQ(generated->GetAbsorption(), f.volume.absorption);
  EXPECT_EQ(generated->GetScattering(), f.volume.scattering);
  EXPECT_EQ(generated->GetAnisotropy(), f.volume.anisotropy);
}
