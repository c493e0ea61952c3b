#include "vexaTestTemporaryFolder.h"

#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

namespace
{
  using vexa::test::TemporaryFolder;
  using ::testing::HasSubstr;

  struct RoundTripCase
  {
    const char *name;
    std::function<vexa::PixelType()> type;
    std::vector<unsigned int> dims;
  };

  vexa::Image::Pointer MakePatternImage(const vexa::PixelType &type, const std::vector<unsigned int> &dims)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    image->Initialize(type, static_cast<unsigned int>(dims.size()), dims.data());
    vexa::ImageWriteAccessor access(image);
    auto *bytes = static_cast<unsigned char *>(access.GetData());
    for (std::size_t i = 0; i < access.GetSize(); ++i)
      bytes[i] = static_cast<unsigned char>((i * 7 + 3) % 251);
    return image;
  }

  void SetGeometry(vexa::Image *image, bool rotated)
  {
    for (unsigned int t = 0; t < image->GetTimeSteps(); ++t)
    {
      vexa::BaseGeometry *g = image->GetGeometry(t);
      if (rotated)
      {
        vexa::AffineMatrix3D m;
        m.SetIdentity();
        const double a = 0.3;
        m[0][0] = std::cos(a);
        m[0][1] = -std::sin(a);
        m[1][0] = std::sin(a);
        m[1][1] = std::cos(a);
        g->GetIndexToWorldTransform()->SetMatrix(m);
      }
      vexa::Vector3D spacing;
      spacing[0] = 0.5;
      spacing[1] = 0.25;
      spacing[2] = image->GetDimension() > 2 ? 2.0 : 1.0;
      g->SetSpacing(spacing);
      vexa::Point3D origin;
      origin[0] = 10;
      origin[1] = -20;
      origin[2] = image->GetDimension() > 2 ? 30 : 0;
      g->SetOrigin(origin);
    }
  }

  void ExpectSameImage(const vexa::Image &expected, const vexa::Image &actual)
  {
    ASSERT_EQ(expected.GetPixelType(), actual.GetPixelType());
    ASSERT_EQ(expected.GetDimension(), actual.GetDimension());
    for (unsigned int i = 0; i < expected.GetDimension(); ++i)
      EXPECT_EQ(expected.GetDimension(i), actual.GetDimension(i));
    EXPECT_TRUE(vexa::Equal(*expected.GetGeometry(), *actual.GetGeometry(), 1e-9, true));
    vexa::ImageReadAccessor a(&expected), b(&actual);
    ASSERT_EQ(a.GetSize(), b.GetSize());
    EXPECT_EQ(0, std::memcmp(a.GetData(), b.GetData(), a.GetSize()));
  }
}

class IOUtilRoundTrip : public ::testing::TestWithParam<RoundTripCase>
{
};

TEST_P(IOUtilRoundTrip, KeepsPixelsAndGeometry)
{
  const RoundTripCase &c = GetParam();
  TemporaryFolder folder;
  for (const bool rotated : {false, true})
  {
    vexa::Image::Pointer image = MakePatternImage(c.type(), c.dims);
    SetGeometry(image, rotated);
    for (const char *ext : {".nrrd", ".nhdr"})
    {
      const std::string path = folder.File(std::string(c.name) + (rotated ? "-rotated" : "") + ext);
      vexa::IOUtil::Save(image, path);
      vexa::Image::Pointer loaded = vexa::IOUtil::LoadFirstAs<vexa::Image>(path);
      ASSERT_TRUE(loaded) << path;
      SCOPED_TRACE(path);
      ExpectSameImage(*image, *loaded);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
  Types, IOUtilRoundTrip,
  ::testing::Values(
    RoundTripCase{"uchar2d", [] { return vexa::CreateScalarPixelType<unsigned char>(); }, {7, 5}},
    RoundTripCase{"char2d", [] { return vexa::CreateScalarPixelType<char>(); }, {7, 5}},
    RoundTripCase{"short2d", [] { return vexa::CreateScalarPixelType<short>(); }, {7, 5}},
    RoundTripCase{"ushort2d", [] { return vexa::CreateScalarPixelType<unsigned short>(); }, {640, 480}},
    RoundTripCase{"int2d", [] { return vexa::CreateScalarPixelType<int>(); }, {7, 5}},
    RoundTripCase{"uint2d", [] { return vexa::CreateScalarPixelType<unsigned int>(); }, {7, 5}},
    RoundTripCase{"float2d", [] { return vexa::CreateScalarPixelType<float>(); }, {7, 5}},
    RoundTripCase{"double2d", [] { return vexa::CreateScalarPixelType<double>(); }, {7, 5}},
    RoundTripCase{"rgb2d", [] { return vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>>(3); },
                  {7, 5}},
    RoundTripCase{"rgbfloat2d", [] { return vexa::CreatePixelType<float, itk::RGBPixel<float>>(3); }, {7, 5}},
    RoundTripCase{"ushort3d", [] { return vexa::CreateScalarPixelType<unsigned short>(); }, {9, 7, 5}},
    RoundTripCase{"float3d", [] { return vexa::CreateScalarPixelType<float>(); }, {64, 32, 16}},
    RoundTripCase{"double3d", [] { return vexa::CreateScalarPixelType<double>(); }, {9, 7, 5}},
    RoundTripCase{"float4d", [] { return vexa::CreateScalarPixelType<float>(); }, {6, 5, 4, 3}}),
  [](const ::testing::TestParamInfo<RoundTripCase> &info) { return std::string(info.param.name); });

TEST(IOUtil, LoadNamesTheFileInEveryFailure)
{
  TemporaryFolder folder;
  const std::string missing = folder.File("missing.nrrd");
  const std::string notAnImage = folder.File("text.nrrd");
  std::ofstream(notAnImage) << "this is not an image\n";
  const std::string unknownType = folder.File("image.xyz");
  std::ofstream(unknownType) << "x";
  const std::string truncated = folder.File("truncated.nrrd");
  std::ofstream(truncated) << "NRRD0004\ntype: float\ndimension: 2\nsizes: 100 100\nencoding: raw\nendian: "
                              "little\n\nabcd";

  for (const std::string &path : {missing, notAnImage, unknownType, truncated, folder.Path().string()})
  {
    try
    {
      vexa::IOUtil::Load(path);
      ADD_FAILURE() << "no exception for " << path;
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_THAT(e.GetDescription(), HasSubstr(path));
    }
  }
}

TEST(IOUtil, SaveRefusesWhatItCannotWriteAndLeavesNoPartialFiles)
{
  TemporaryFolder folder;
  vexa::Image::Pointer uninitialised = vexa::Image::New();
  vexa::Image::Pointer noPixels = vexa::Image::New();
  const unsigned int dims[] = {3, 3};
  noPixels->Initialize(vexa::CreateScalarPixelType<float>(), 2, dims);
  const std::string path = folder.File("out.nrrd");
  EXPECT_THROW(vexa::IOUtil::Save(nullptr, path), vexa::Exception);
  EXPECT_THROW(vexa::IOUtil::Save(uninitialised, path), vexa::Exception);
  EXPECT_THROW(vexa::IOUtil::Save(noPixels, path), vexa::Exception);
  vexa::Image::Pointer image = MakePatternImage(vexa::CreateScalarPixelType<float>(), {3, 3});
  EXPECT_THROW(vexa::IOUtil::Save(image, folder.File("out.png")), vexa::Exception);
  try
  {
    vexa::IOUtil::Save(image, folder.File("no/such/folder/out.nrrd"));
    ADD_FAILURE() << "saved into a folder that does not exist";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_THAT(e.GetDescription(), HasSubstr("no/such/folder/out.nrrd"));
  }

  // overwriting replaces the file; nothing else stays in the folder
  vexa::IOUtil::Save(image, path);
  vexa::Image::Pointer other = MakePatternImage(vexa::CreateScalarPixelType<float>(), {5, 2});
  vexa::IOUtil::Save(other, path);
  EXPECT_EQ(5u, vexa::IOUtil::LoadImage(path)->GetDimension(0));
  unsigned int files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(folder.Path()))
  {
    ++files;
    EXPECT_EQ("out.nrrd", entry.path().filename().string());
  }
  EXPECT_EQ(1u, files);
}
