#include <vexaImage.h>
#include <vexaImageWriteAccessor.h>
#include <vexaLevelWindow.h>
#include <vexaPixelTypeTraits.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace
{
  template <typename T, std::size_t Components = 1>
  vexa::Image::Pointer MakeImage(const std::vector<T> &values, unsigned int x, unsigned int y, unsigned int z = 1)
  {
    auto image = vexa::Image::New();
    const unsigned int dims[3] = {x, y, z};
    image->Initialize(vexa::CreatePixelType<T, T, Components>(), z > 1 ? 3 : 2, dims);
    vexa::ImageWriteAccessor access(image);
    std::memcpy(access.GetData(), values.data(), values.size() * sizeof(T));
    return image;
  }

  std::vector<float> Ramp(std::size_t n) // 0, 1, ..., n-1
  {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i)
      v[i] = static_cast<float>(i);
    return v;
  }
}

TEST(LevelWindow, SettersKeepTheWindowInsideTheRange)
{
  struct Case
  {
    const char *what;
    std::function<void(vexa::LevelWindow &)> change;
    double lower, upper, rangeMin, rangeMax;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
    {"default", [](vexa::LevelWindow &) {}, 0, 255, 0, 255},
    {"window inside", [](vexa::LevelWindow &l) { l.SetLevelWindow(100, 50); }, 75, 125, 0, 255},
    {"window beyond widens the range", [](vexa::LevelWindow &l) { l.SetLevelWindow(300, 100); }, 250, 350, 0, 350},
    {"bounds swapped", [](vexa::LevelWindow &l) { l.SetWindowBounds(20, 10); }, 10, 20, 0, 255},
    {"zero window becomes 1", [](vexa::LevelWindow &l) { l.SetLevelWindow(10, 0); }, 9.5, 10.5, 0, 255},
    {"equal bounds become 1 apart", [](vexa::LevelWindow &l) { l.SetWindowBounds(4, 4); }, 3.5, 4.5, 0, 255},
    {"NaN ignored", [nan](vexa::LevelWindow &l) { l.SetLevelWindow(nan, 10); }, 0, 255, 0, 255},
    {"infinity ignored", [inf](vexa::LevelWindow &l) { l.SetWindowBounds(0, inf); }, 0, 255, 0, 255},
    {"narrow range shrinks the window", [](vexa::LevelWindow &l) { l.SetRangeMinMax(10, 20); }, 10, 20, 10, 20},
    {"range moves, window shifted in whole",
     [](vexa::LevelWindow &l) {
       l.SetWindowBounds(0, 10);
       l.SetRangeMinMax(50, 500);
     },
     50, 60, 50, 500},
    {"range swapped", [](vexa::LevelWindow &l) { l.SetRangeMinMax(300, -100); }, 0, 255, -100, 300},
  };
  for (const Case &c : cases)
  {
    vexa::LevelWindow lw;
    c.change(lw);
    EXPECT_DOUBLE_EQ(c.lower, lw.GetLowerWindowBound()) << c.what;
    EXPECT_DOUBLE_EQ(c.upper, lw.GetUpperWindowBound()) << c.what;
    EXPECT_DOUBLE_EQ(c.rangeMin, lw.GetRangeMin()) << c.what;
    EXPECT_DOUBLE_EQ(c.rangeMax, lw.GetRangeMax()) << c.what;
    EXPECT_DOUBLE_EQ((c.lower + c.upper) / 2, lw.GetLevel()) << c.what;
  }
}

TEST(LevelWindow, AutoTakesThe2ndTo98thPercentileOfFiniteValues)
{
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> withNonFinite = Ramp(101); // 0..100: percentiles 2 and 98
  withNonFinite.insert(withNonFinite.end(), {nan, inf, -inf, nan});
  withNonFinite.resize(105);

  std::vector<float> outliers(100, 5.0f); // a constant image with two outliers: 2nd == 98th percentile
  outliers[0] = -1000;
  outliers[99] = 1000;

  struct Case
  {
    const char *what;
    vexa::Image::Pointer image;
    double lower, upper, rangeMin, rangeMax;
  };
  const std::vector<Case> cases = {
    {"ramp 0..100", MakeImage(Ramp(101), 101, 1), 2, 98, 0, 100},
    {"NaN and infinities ignored", MakeImage(withNonFinite, 105, 1), 2, 98, 0, 100},
    {"8-bit ramp", MakeImage<unsigned char>({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 11, 1), 0, 100, 0, 100},
    {"16-bit", MakeImage<unsigned short>(std::vector<unsigned short>(50, 4000), 50, 1), 3999.5, 4000.5, 3999.5, 4000.5},
    {"flat percentiles fall back to min..max", MakeImage(outliers, 10, 10), -1000, 1000, -1000, 1000},
    {"negative values", MakeImage<short>({-300, -200, -100, 0}, 4, 1), -300, 0, -300, 0},
  };
  for (const Case &c : cases)
  {
    vexa::LevelWindow lw(127.5, 255);
    ASSERT_TRUE(lw.SetAuto(c.image, true, true)) << c.what;
    EXPECT_DOUBLE_EQ(c.lower, lw.GetLowerWindowBound()) << c.what;
    EXPECT_DOUBLE_EQ(c.upper, lw.GetUpperWindowBound()) << c.what;
    EXPECT_DOUBLE_EQ(c.rangeMin, lw.GetRangeMin()) << c.what;
    EXPECT_DOUBLE_EQ(c.rangeMax, lw.GetRangeMax()) << c.what;
  }
}

TEST(LevelWindow, AutoReadsComponentZeroAndTheCentralSlice)
{
  // RGB: component 0 runs 0..100, the others are far outside
  std::vector<unsigned char> rgb;
  for (int i = 0; i <= 100; ++i)
    rgb.insert(rgb.end(), {static_cast<unsigned char>(i), 255, 255});
  vexa::LevelWindow colour;
  ASSERT_TRUE(colour.SetAuto(MakeImage<unsigned char, 3>(rgb, 101, 1)));
  EXPECT_DOUBLE_EQ(2, colour.GetLowerWindowBound());
  EXPECT_DOUBLE_EQ(98, colour.GetUpperWindowBound());

  // three slices 0, 1000, 5000: the central slice alone or all of them
  std::vector<float> volume(300, 0.0f);
  std::fill(volume.begin() + 100, volume.begin() + 200, 1000.0f);
  std::fill(volume.begin() + 200, volume.end(), 5000.0f);
  const auto image = MakeImage(volume, 10, 10, 3);
  vexa::LevelWindow central;
  ASSERT_TRUE(central.SetAuto(image, true, true));
  EXPECT_DOUBLE_EQ(1000, central.GetLevel());
  vexa::LevelWindow whole;
  ASSERT_TRUE(whole.SetAuto(image, true, false));
  EXPECT_DOUBLE_EQ(0, whole.GetLowerWindowBound());
  EXPECT_DOUBLE_EQ(5000, whole.GetUpperWindowBound());
}

TEST(LevelWindow, AutoWithoutFiniteValuesLeavesItUnchanged)
{
  const float nan = std::numeric_limits<float>::quiet_NaN();
  vexa::LevelWindow lw(50, 20);
  const vexa::LevelWindow before = lw;
  EXPECT_FALSE(lw.SetAuto(MakeImage<float>({nan, nan, nan, nan}, 2, 2)));
  EXPECT_FALSE(lw.SetAuto(nullptr));
  EXPECT_FALSE(lw.SetAuto(vexa::Image::New())); // not initialised
  EXPECT_EQ(before, lw);
}
