#include <vexaImage.h>
#include <vexaImageWriteAccessor.h>
#include <vexaLevelWindow.h>
#include <vexaPixelTypeTraits.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
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

TEST(LevelWindow, AutoSpreadsADenseBulkBetweenThe2ndAnd98thPercentile)
{
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> withNonFinite = Ramp(101); // 0..100: percentiles 2 and 98
  withNonFinite.insert(withNonFinite.end(), {nan, inf, -inf, nan});
  withNonFinite.resize(105);

  std::vector<float> outliers(100, 5.0f); // a constant image with two outliers: 2nd == 98th percentile
  outliers[0] = -1000;
  outliers[99] = 1000;

  // speckle: the magnitude of smoothed noise, as an ultrasound frame's; its
  // bright end is part of the bulk and is drawn white
  std::mt19937 random(7);
  std::normal_distribution<float> gauss(0.0f, 40.0f);
  std::vector<unsigned char> speckle(256 * 192);
  for (unsigned char &v : speckle)
    v = static_cast<unsigned char>(std::min(170.0f, std::fabs(gauss(random))));

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
    {"64-bit integers", MakeImage<long long>({-300, -200, -100, 0}, 4, 1), -300, 0, -300, 0},
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

  vexa::LevelWindow lw;
  ASSERT_TRUE(lw.SetAuto(MakeImage(speckle, 256, 192)));
  std::vector<unsigned char> sorted = speckle;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_DOUBLE_EQ(sorted[static_cast<std::size_t>(0.98 * (sorted.size() - 1) + 0.5)], lw.GetUpperWindowBound());
  EXPECT_LT(lw.GetUpperWindowBound(), 100) << "the speckle is spread over the whole grey scale, not drawn at 0..170";
}

TEST(LevelWindow, AutoWidensTowardsTheLongTailOfASparseImage)
{
  // 99 values 0..98 and one value x: percentiles 2 and 97 (a bulk width of
  // 95), so a tail of t widths puts x at 97 + 95 t
  const auto tail = [](double t) {
    std::vector<float> values = Ramp(99);
    values.push_back(static_cast<float>(97 + 95 * t));
    return MakeImage(values, 100, 1);
  };
  struct Case
  {
    const char *what;
    vexa::Image::Pointer image;
    double upper;
  };
  const std::vector<Case> cases = {
    {"speckle-like tail of 2 widths: the percentile", tail(2), 97},
    {"3 widths: still the percentile", tail(3), 97},
    {"4.5 widths: half way", tail(4.5), 97 + 0.5 * 95 * 4.5},
    {"6 widths: the maximum", tail(6), 97 + 95 * 6},
    {"50 widths: the maximum", tail(50), 97 + 95 * 50},
  };
  for (const Case &c : cases)
  {
    vexa::LevelWindow lw;
    ASSERT_TRUE(lw.SetAuto(c.image)) << c.what;
    EXPECT_DOUBLE_EQ(2, lw.GetLowerWindowBound()) << c.what;
    EXPECT_NEAR(c.upper, lw.GetUpperWindowBound(), 1e-3) << c.what;
  }

  // a beamformed signal: a dark, noisy background and a few absorbers far above it, both signs
  std::mt19937 random(11);
  std::normal_distribution<float> noise(0.0f, 0.01f);
  std::vector<float> signal(128 * 512);
  for (float &v : signal)
    v = noise(random);
  for (int i = 0; i < 5; ++i)
  {
    const std::size_t at = (60 + 90 * i) * 128 + 20 + 20 * i;
    signal[at] = 1.0f - 0.1f * i;
    signal[at + 128] = -(0.8f - 0.1f * i);
  }
  vexa::LevelWindow beamformed;
  ASSERT_TRUE(beamformed.SetAuto(MakeImage(signal, 128, 512)));
  EXPECT_DOUBLE_EQ(1.0f, beamformed.GetUpperWindowBound()) << "the brightest absorber is not clipped";
  EXPECT_DOUBLE_EQ(-0.8f, beamformed.GetLowerWindowBound()) << "nor the deepest trough";
}

TEST(LevelWindow, AutoOnLargeImagesIsSampledButKeepsTheirExtremes)
{
  // 1024 x 1024: the percentiles from a sample, the same each time and close to the exact ones
  std::vector<float> ramp(1024 * 1024);
  for (std::size_t i = 0; i < ramp.size(); ++i)
    ramp[i] = static_cast<float>((i * 7919) % ramp.size()) / ramp.size(); // 0..1, shuffled
  const auto rampImage = MakeImage(ramp, 1024, 1024);
  vexa::LevelWindow once, again;
  ASSERT_TRUE(once.SetAuto(rampImage));
  ASSERT_TRUE(again.SetAuto(rampImage));
  EXPECT_EQ(once, again);
  EXPECT_NEAR(0.02, once.GetLowerWindowBound(), 0.002);
  EXPECT_NEAR(0.98, once.GetUpperWindowBound(), 0.002);

  // a dark image with one bright spot of 5 x 5 pixels, which a sample of one
  // pixel in sixteen would mostly miss: the window reaches its exact value
  std::vector<float> spot(1024 * 1024, 0.0f);
  for (std::size_t i = 0; i < spot.size(); ++i)
    spot[i] = static_cast<float>(i % 17) * 0.001f;
  for (int y = 500; y < 505; ++y)
    for (int x = 300; x < 305; ++x)
      spot[y * 1024 + x] = 100.0f;
  vexa::LevelWindow bright;
  ASSERT_TRUE(bright.SetAuto(MakeImage(spot, 1024, 1024)));
  EXPECT_DOUBLE_EQ(100, bright.GetUpperWindowBound());
  EXPECT_DOUBLE_EQ(100, bright.GetRangeMax());

  // stray pixels (0.001 % of the image, here 10) do not set the window; the range still holds them
  std::vector<float> stray = std::vector<float>(spot.size(), 0.0f);
  for (std::size_t i = 0; i < stray.size(); ++i)
    stray[i] = static_cast<float>(i % 17) * 0.001f;
  for (int i = 0; i < 10; ++i)
    stray[i * 99991] = 1e6f;
  vexa::LevelWindow strayWindow;
  ASSERT_TRUE(strayWindow.SetAuto(MakeImage(stray, 1024, 1024)));
  EXPECT_NEAR(0.016, strayWindow.GetUpperWindowBound(), 1e-6);
  EXPECT_DOUBLE_EQ(1e6, strayWindow.GetRangeMax());
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
