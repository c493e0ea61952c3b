#include "vexaTestNrrdFiles.h"
#include "vexaTestTemporaryFolder.h"

#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>
#include <vorlenLogSink.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sys/stat.h>

namespace
{
  using ::testing::HasSubstr;
  using vexa::test::TemporaryFolder;

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
  Types,
  IOUtilRoundTrip,
  ::testing::Values(
    RoundTripCase{"uchar2d", [] { return vexa::CreateScalarPixelType<unsigned char>(); }, {7, 5}},
    RoundTripCase{"char2d", [] { return vexa::CreateScalarPixelType<char>(); }, {7, 5}},
    RoundTripCase{"short2d", [] { return vexa::CreateScalarPixelType<short>(); }, {7, 5}},
    RoundTripCase{"ushort2d", [] { return vexa::CreateScalarPixelType<unsigned short>(); }, {640, 480}},
    RoundTripCase{"int2d", [] { return vexa::CreateScalarPixelType<int>(); }, {7, 5}},
    RoundTripCase{"uint2d", [] { return vexa::CreateScalarPixelType<unsigned int>(); }, {7, 5}},
    RoundTripCase{"float2d", [] { return vexa::CreateScalarPixelType<float>(); }, {7, 5}},
    RoundTripCase{"double2d", [] { return vexa::CreateScalarPixelType<double>(); }, {7, 5}},
    RoundTripCase{
      "rgb2d", [] { return vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>>(3); }, {7, 5}},
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

namespace
{
  std::string Replaced(std::string text, const std::string &from, const std::string &to)
  {
    const auto at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  }

  /** A 7 x 5 float image written by ITK's own writer with gzip-compressed pixels. */
  std::string CompressedNrrd(const TemporaryFolder &folder)
  {
    const std::string path = folder.File("compressed-source.nrrd");
    vexa::test::WriteCompressedNrrdWithItk(MakePatternImage(vexa::CreateScalarPixelType<float>(), {7, 5}), path);
    return vexa::test::ReadFile(path);
  }

  const std::string RawHeader = "NRRD0004\ntype: float\ndimension: 2\nsizes: 2 2\nendian: little\n";
  const std::string RawData = std::string(16, '\x01');

  struct HostileFileCase
  {
    const char *name;
    /** The file's bytes, given a gzip-compressed NRRD file to start from. */
    std::function<std::string(const std::string &compressed)> bytes;
    /** What the error says after the file's name; empty: the file loads. */
    const char *error;
  };

  const HostileFileCase HostileFiles[] = {
    {"NanSpacing", [](const std::string &) { return RawHeader + "spacings: nan 0.5\nencoding: raw\n\n" + RawData; },
     "the spacing of axis 0 is nan"},
    {"InfiniteSpacing",
     [](const std::string &) { return RawHeader + "spacings: 0.5 1e400\nencoding: raw\n\n" + RawData; },
     "the spacing of axis 1 is inf"},
    {"ZeroSpacing", [](const std::string &) { return RawHeader + "spacings: 0 0.5\nencoding: raw\n\n" + RawData; },
     "the spacing of axis 0 is 0"},
    {"ZeroSpaceDirection",
     [](const std::string &) {
       return "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 2 1\nspace: left-posterior-superior\n"
              "space directions: (0.5,0,0) (0,0,0) (0,0,1)\nencoding: raw\n\n" +
              std::string(4, 'x');
     },
     "the space direction of axis 1 is \"(0,0,0)\";"},
    {"NanSpaceDirection",
     [](const std::string &) {
       return "NRRD0004\ntype: uchar\ndimension: 2\nsizes: 2 2\nspace dimension: 2\n"
              "space directions: (0.5,0) (nan,0)\nencoding: raw\n\n" +
              std::string(4, 'x');
     },
     "the space direction of axis 1 is \"(nan,0)\";"},
    {"InfiniteSpaceDirectionAsWritten",
     [](const std::string &) {
       return "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 2 1\nspace: left-posterior-superior\n"
              "space directions: (1e400, 0,0)   (0,1,0) (0,0,1)\nencoding: raw\n\n" +
              std::string(4, 'x');
     },
     "the space direction of axis 0 is \"(1e400, 0,0)\";"},
    {"RawPartShorterThanTheClaim",
     [](const std::string &) {
       return "NRRD0004\ntype: float\ndimension: 3\nsizes: 1024 1024 768\nencoding: raw\n\n" + RawData;
     },
     "its header claims 3221225472 bytes of pixel data, the file holds 16 bytes"},
    {"DetachedDataMissing", [](const std::string &) { return RawHeader + "encoding: raw\ndata file: nowhere.raw\n"; },
     "nowhere.raw\" does not exist"},
    {"NoDataAtAll", [](const std::string &) { return RawHeader + "encoding: raw\n"; }, "the pixel data is missing"},
    {"ClaimBeyondTheMaximum",
     [](const std::string &) {
       return "NRRD0004\ntype: double\ndimension: 2\nsizes: 100000 100000\nencoding: raw\n\n";
     },
     "claims 80000000000 bytes of pixel data, more than the largest allowed, 4294967296 bytes."},
    {"ClaimBeyond64Bits",
     [](const std::string &) {
       return "NRRD0004\ntype: double\ndimension: 3\nsizes: 4294967296 4294967296 4294967296\nencoding: raw\n\n";
     },
     "more than 2^64 bytes"},
    {"NegativeSize",
     [](const std::string &) { return "NRRD0004\ntype: float\ndimension: 2\nsizes: 2 -2\nencoding: raw\n\n"; },
     "its size \"-2\" is not a count"},
    {"Bzip2", [](const std::string &) { return RawHeader + "encoding: bzip2\n\n" + RawData; },
     "bzip2-compressed pixel data is not supported"},
    {"GzipCrcDamaged",
     [](std::string z) {
       z[z.size() - 8] ^= 0x55;
       return z;
     },
     "its compressed data is damaged: the CRC does not match"},
    {"GzipLengthDamaged",
     [](std::string z) {
       z[z.size() - 1] ^= 0x01;
       return z;
     },
     "its compressed data is damaged: the length does not match"},
    {"GzipCutShort", [](const std::string &z) { return z.substr(0, z.size() - 20); },
     "its compressed data is cut short"},
    {"GzipHoldsLessThanTheClaim", [](const std::string &z) { return Replaced(z, "sizes: 7 5", "sizes: 7 50"); },
     "its compressed data holds 140 bytes, its header claims 1400 bytes"},
    {"GzipHoldsMoreThanTheClaim", [](const std::string &z) { return Replaced(z, "sizes: 7 5", "sizes: 7 2"); },
     "its compressed data holds more than the 56 bytes"},
    {"GzipFollowedByGarbage", [](const std::string &z) { return z + "garbage"; },
     "followed by bytes that are not compressed data"},
    // what must still load
    {"GzipIntact", [](const std::string &z) { return z; }, ""},
    {"NanSpacingOfAComponentAxis",
     [](const std::string &) {
       return "NRRD0004\ntype: float\ndimension: 3\nsizes: 2 2 1\nendian: little\nspacings: nan 0.5 0.25\n"
              "kinds: vector domain domain\n"
              "encoding: raw\n\n" +
              RawData;
     },
     ""},
    {"NegativeSpacing",
     [](const std::string &) { return RawHeader + "spacings: -0.3 0.5\nencoding: raw\n\n" + RawData; }, ""},
  };

  class IOUtilHostileFile : public ::testing::TestWithParam<HostileFileCase>
  {
  };
}

TEST_P(IOUtilHostileFile, IsRefusedBeforeItsPixelsAreReadOrLoadsWhenSound)
{
  const HostileFileCase &c = GetParam();
  TemporaryFolder folder;
  const std::string path = folder.File(std::string(c.name) + ".nrrd");
  vexa::test::WriteBytes(path, c.bytes(CompressedNrrd(folder)));
  if (std::string(c.error).empty())
  {
    EXPECT_NO_THROW(vexa::IOUtil::LoadImage(path));
    return;
  }
  try
  {
    vexa::IOUtil::Load(path);
    ADD_FAILURE() << "loaded " << path;
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_THAT(e.GetDescription(), HasSubstr("Cannot load \"" + path + "\": "));
    EXPECT_THAT(e.GetDescription(), HasSubstr(c.error));
  }
}

INSTANTIATE_TEST_SUITE_P(Files,
                         IOUtilHostileFile,
                         ::testing::ValuesIn(HostileFiles),
                         [](const ::testing::TestParamInfo<HostileFileCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(IOUtil, AFifoOrDeviceIsRefusedWithoutBeingRead)
{
  TemporaryFolder folder;
  const std::string fifo = folder.File("pipe.nrrd");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600)); // nobody writes: reading it would block for ever
  const std::string device = folder.File("zeros.nrrd");
  std::filesystem::create_symlink("/dev/zero", device); // reading it would never end
  for (const std::string &path : {fifo, device})
  {
    try
    {
      vexa::IOUtil::Load(path);
      ADD_FAILURE() << "loaded " << path;
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_THAT(e.GetDescription(), HasSubstr("Cannot load \"" + path + "\": it is not a regular file."));
    }
  }
}

TEST(IOUtil, ANegativeSpacingTurnsTheAxisRound)
{
  TemporaryFolder folder;
  const std::string path = folder.File("negative.nrrd");
  vexa::test::WriteBytes(path, RawHeader + "spacings: -0.3 0.5\nencoding: raw\n\n" + RawData);
  vexa::Image::Pointer image = vexa::IOUtil::LoadImage(path);
  const auto &matrix = image->GetGeometry(0)->GetIndexToWorldTransform()->GetMatrix();
  EXPECT_NEAR(-0.3, matrix[0][0], 1e-12);
  EXPECT_NEAR(0.5, matrix[1][1], 1e-12);
  EXPECT_NEAR(0.3, image->GetGeometry(0)->GetSpacing()[0], 1e-12);
}

TEST(IOUtil, TheMaximumDataSizeIsSetThroughTheInterface)
{
  TemporaryFolder folder;
  const std::string path = folder.File("image.nrrd");
  vexa::IOUtil::Save(MakePatternImage(vexa::CreateScalarPixelType<float>(), {7, 5}), path); // 140 bytes
  ASSERT_EQ(vexa::IOUtil::DefaultMaximumDataSize, vexa::IOUtil::GetMaximumDataSize());
  vexa::IOUtil::SetMaximumDataSize(139);
  {
    // The text a user is shown names no function; the log tells a developer which one sets the limit.
    vorlen::CapturingSink log;
    try
    {
      vexa::IOUtil::Load(path);
      ADD_FAILURE() << "loaded beyond the maximum";
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_EQ("Cannot load \"" + path +
                  "\": its header claims 140 bytes of pixel data, more than the largest "
                  "allowed, 139 bytes.",
                e.GetDescription());
    }
    EXPECT_EQ(std::vector<std::string>{"Cannot load \"" + path +
                                       "\": its header claims 140 bytes of pixel data, more than the largest allowed, "
                                       "139 bytes. The largest allowed is set by vexa::IOUtil::SetMaximumDataSize."},
              log.Texts(1));
  }
  vexa::IOUtil::SetMaximumDataSize(140);
  EXPECT_NO_THROW(vexa::IOUtil::Load(path));
  vexa::IOUtil::SetMaximumDataSize(vexa::IOUtil::DefaultMaximumDataSize);
}

namespace
{
  /** Every name in the folder, hidden ones included. */
  std::set<std::string> Names(const std::filesystem::path &folder)
  {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
      names.insert(entry.path().filename().string());
    return names;
  }

  struct FailedSaveCase
  {
    const char *name;
    const char *extension;
    std::vector<unsigned int> dims; ///< of the new float image
    rlim_t limit;                   ///< bytes per file the "disk" takes
  };

  // the header of either kind is some 280 bytes; 16384 bytes of pixels
  const FailedSaveCase FailedSaves[] = {
    {"NrrdHeaderCut", ".nrrd", {2, 2}, 100},
    {"NrrdPixelsCut", ".nrrd", {64, 64}, 1000},
    {"NhdrHeaderCut", ".nhdr", {2, 2}, 100},
    {"NhdrDataCut", ".nhdr", {64, 64}, 1000},
  };

  class IOUtilFailedSave : public ::testing::TestWithParam<FailedSaveCase>
  {
  };
}

TEST_P(IOUtilFailedSave, LeavesTheOldFilesAsTheyWereAndNoTemporaries)
{
  const FailedSaveCase &c = GetParam();
  TemporaryFolder folder;
  const std::string path = folder.File(std::string("image") + c.extension);
  vexa::IOUtil::Save(MakePatternImage(vexa::CreateScalarPixelType<float>(), {7, 5}), path);
  const std::set<std::string> names = Names(folder.Path());
  std::map<std::string, std::string> before;
  for (const std::string &name : names)
    before[name] = vexa::test::ReadFile(folder.File(name));

  vexa::Image::Pointer image = MakePatternImage(vexa::CreateScalarPixelType<float>(), c.dims);
  std::string error;
  {
    vexa::test::FileSizeLimit limit(c.limit);
    if (!limit.IsSet())
      error = "no limit";
    else
      try
      {
        vexa::IOUtil::Save(image, path);
      }
      catch (const vexa::Exception &e)
      {
        error = e.GetDescription();
      }
  }
  ASSERT_NE("no limit", error) << "the file-size limit cannot be set here";
  // ITK's writer notices a failed write of many pixels, not of a few or of the header: the file is read back
  EXPECT_THAT(error, HasSubstr("Cannot save \"" + path + "\": the write failed"));
  EXPECT_EQ(names, Names(folder.Path()));
  for (const auto &file : before)
    EXPECT_EQ(file.second, vexa::test::ReadFile(folder.File(file.first))) << file.first;
}

INSTANTIATE_TEST_SUITE_P(Files,
                         IOUtilFailedSave,
                         ::testing::ValuesIn(FailedSaves),
                         [](const ::testing::TestParamInfo<FailedSaveCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(IOUtil, ANhdrSavedOverAPairReplacesBothAndNamesItsOwnDataFile)
{
  TemporaryFolder folder;
  const std::string path = folder.File("pair.nhdr");
  vexa::IOUtil::Save(MakePatternImage(vexa::CreateScalarPixelType<float>(), {7, 5}), path);
  vexa::Image::Pointer image = MakePatternImage(vexa::CreateScalarPixelType<double>(), {9, 4, 3});
  SetGeometry(image, true);
  vexa::IOUtil::Save(image, path);

  ExpectSameImage(*image, *vexa::IOUtil::LoadImage(path));
  EXPECT_EQ((std::set<std::string>{"pair.nhdr", "pair.raw"}), Names(folder.Path()));
  const std::string header = vexa::test::ReadFile(path);
  EXPECT_THAT(header, ::testing::EndsWith("\ndata file: pair.raw\n"));
  EXPECT_EQ(9u * 4 * 3 * sizeof(double), vexa::test::ReadFile(folder.File("pair.raw")).size());
}
