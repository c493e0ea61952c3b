#include <vexaException.h>
#include <vexaVolumeKernels.h>

#include <gtest/gtest.h>

#include <cmath>

using vexa::SampleVolume;
using vexa::VolumeKernels;

namespace
{
  SampleVolume Numbered(unsigned int nx, unsigned int ny, unsigned int nz)
  {
    SampleVolume v(nx, ny, nz);
    for (unsigned int z = 0; z < nz; ++z)
      for (unsigned int y = 0; y < ny; ++y)
        for (unsigned int x = 0; x < nx; ++x)
          v.At(x, y, z) = 10000.0f * z + 100.0f * y + x;
    return v;
  }
}

TEST(VolumeKernels, CropKeepsTheInnerBlock)
{
  const SampleVolume in = Numbered(6, 10, 5);
  const SampleVolume out = VolumeKernels::Crop(in, 2, 3, 1, 2, 1, 2);
  ASSERT_EQ(out.nx, 3u);
  ASSERT_EQ(out.ny, 5u);
  ASSERT_EQ(out.nz, 2u);
  for (unsigned int z = 0; z < out.nz; ++z)
    for (unsigned int y = 0; y < out.ny; ++y)
      for (unsigned int x = 0; x < out.nx; ++x)
        ASSERT_EQ(out.At(x, y, z), in.At(x + 1, y + 2, z + 1));
  EXPECT_EQ(VolumeKernels::Crop(in, 0, 0, 0, 0, 0, 0).data, in.data);
  EXPECT_EQ(VolumeKernels::Crop(in, 9, 0, 5, 0, 4, 0).data, std::vector<float>{in.At(5, 9, 4)});
}

TEST(VolumeKernels, CropRefusesNegativeCountsAndEmptyResults)
{
  const SampleVolume in = Numbered(6, 10, 5);
  const struct
  {
    int top, bottom, left, right, first, last;
    const char *text;
  } cases[] = {
    {10, 0, 0, 0, 0, 0, "Cropping 10 + 0 rows from an image of 10 rows leaves nothing."},
    {4, 6, 0, 0, 0, 0, "Cropping 4 + 6 rows from an image of 10 rows leaves nothing."},
    {0, 0, 3, 3, 0, 0, "Cropping 3 + 3 columns from an image of 6 columns leaves nothing."},
    {0, 0, 0, 0, 2, 3, "Cropping 2 + 3 slices from an image of 5 slices leaves nothing."},
    {-1, 0, 0, 0, 0, 0, "Cropping needs non-negative counts; got -1 and 0 rows."},
    {0, 0, 0, 0, 0, -2, "Cropping needs non-negative counts; got 0 and -2 slices."},
  };
  for (const auto &c : cases)
  {
    try
    {
      VolumeKernels::Crop(in, c.top, c.bottom, c.left, c.right, c.first, c.last);
      ADD_FAILURE() << "no exception: " << c.text;
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_STREQ(e.GetDescription(), c.text);
    }
  }
}

TEST(VolumeKernels, ResampleYInterpolatesLinearlyFromTheFirstRow)
{
  // a ramp in y is reproduced exactly by linear interpolation
  SampleVolume in(2, 11, 2);
  for (unsigned int z = 0; z < 2; ++z)
    for (unsigned int y = 0; y < 11; ++y)
      for (unsigned int x = 0; x < 2; ++x)
        in.At(x, y, z) = 3.0f * y + x + 100.0f * z;
  const struct
  {
    double inSpacing, outSpacing;
    unsigned int rows;
  } cases[] = {{0.1, 0.25, 5}, {0.1, 0.1, 11}, {0.1, 0.05, 21}, {0.1, 0.3, 4}, {0.02, 0.15, 2}, {0.1, 5.0, 1}};
  for (const auto &c : cases)
  {
    const SampleVolume out = VolumeKernels::ResampleY(in, c.inSpacing, c.outSpacing);
    ASSERT_EQ(out.ny, c.rows) << c.inSpacing << " -> " << c.outSpacing;
    ASSERT_EQ(out.nx, 2u);
    ASSERT_EQ(out.nz, 2u);
    for (unsigned int z = 0; z < 2; ++z)
      for (unsigned int i = 0; i < out.ny; ++i)
        for (unsigned int x = 0; x < 2; ++x)
          ASSERT_NEAR(out.At(x, i, z), 3.0 * i * c.outSpacing / c.inSpacing + x + 100.0 * z, 1e-4);
  }
}

TEST(VolumeKernels, ResampleYRefusesBadSpacings)
{
  const SampleVolume in(2, 4, 1, 1.0f);
  EXPECT_THROW(VolumeKernels::ResampleY(in, 0.0, 0.1), vexa::Exception);
  EXPECT_THROW(VolumeKernels::ResampleY(in, 0.1, 0.0), vexa::Exception);
  EXPECT_THROW(VolumeKernels::ResampleY(in, 0.1, -0.1), vexa::Exception);
  EXPECT_THROW(VolumeKernels::ResampleY(in, 0.1, std::nan("")), vexa::Exception);
  EXPECT_THROW(VolumeKernels::ResampleY(in, 1.0, 1e-12), vexa::Exception);
  EXPECT_THROW(VolumeKernels::ResampleY(SampleVolume(), 0.1, 0.1), vexa::Exception);
  EXPECT_EQ(VolumeKernels::ResampleY(SampleVolume(3, 1, 1, 2.0f), 0.1, 0.05).data, std::vector<float>(3, 2.0f));
}
