#include "vexaWorkbenchTestSupport.h"

#include <vexaImageSliceRendering.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

using vexa::test::MakeImage;

TEST(ImageSliceRendering, GreyValuesThroughTheLevelWindow)
{
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // window [100, 200]: 100 and below black, 200 and above white, 150 mid grey
  const vexa::LevelWindow window(150, 100);
  struct Case
  {
    const char *what;
    vexa::Image::Pointer image;
    std::vector<int> expected; // first row, left to right
  };
  const std::vector<Case> cases = {
    {"float", MakeImage<float>({50.f, 100.f, 150.f, 200.f, 1e9f, nan}, 6, 1), {0, 0, 128, 255, 255, 0}},
    {"8-bit", MakeImage<std::uint8_t>({0, 100, 150, 200, 255, 125}, 6, 1), {0, 0, 128, 255, 255, 64}},
    {"16-bit", MakeImage<std::uint16_t>({0, 100, 150, 200, 65535, 175}, 6, 1), {0, 0, 128, 255, 255, 191}},
    {"signed 16-bit", MakeImage<std::int16_t>({-32768, 100, 150, 200, 32767, 110}, 6, 1), {0, 0, 128, 255, 255, 26}},
    {"double", MakeImage<double>({-1e300, 100, 150, 200, 1e300, 120}, 6, 1), {0, 0, 128, 255, 255, 51}},
    {"64-bit", MakeImage<long long>({-(1LL << 62), 100, 150, 200, 1LL << 62, 120}, 6, 1), {0, 0, 128, 255, 255, 51}},
  };
  for (const Case &c : cases)
  {
    QImage out;
    ASSERT_TRUE(vexa::RenderImageSlice(c.image, window, out)) << c.what;
    ASSERT_EQ(QImage::Format_Grayscale8, out.format()) << c.what;
    for (int x = 0; x < static_cast<int>(c.expected.size()); ++x)
      EXPECT_EQ(c.expected[x], qGray(out.pixel(x, 0))) << c.what << " column " << x;
  }
}

TEST(ImageSliceRendering, RowsColoursAndTheCentralSlice)
{
  const vexa::LevelWindow identity(127.5, 255);
  // 2 x 2: row 0 is the top row
  QImage out;
  ASSERT_TRUE(vexa::RenderImageSlice(MakeImage<std::uint8_t>({10, 20, 30, 40}, 2, 2), identity, out));
  EXPECT_EQ(10, qGray(out.pixel(0, 0)));
  EXPECT_EQ(20, qGray(out.pixel(1, 0)));
  EXPECT_EQ(30, qGray(out.pixel(0, 1)));

  // RGB: the window applies to every colour
  const vexa::LevelWindow half(127.5, 255);
  ASSERT_TRUE(vexa::RenderImageSlice(MakeImage<std::uint8_t>({255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30}, 4, 1, 1, 3),
                                     half, out));
  ASSERT_EQ(QImage::Format_RGB888, out.format());
  EXPECT_EQ(qRgb(255, 0, 0), out.pixel(0, 0));
  EXPECT_EQ(qRgb(0, 255, 0), out.pixel(1, 0));
  EXPECT_EQ(qRgb(0, 0, 255), out.pixel(2, 0));
  EXPECT_EQ(qRgb(10, 20, 30), out.pixel(3, 0));
  const vexa::LevelWindow narrow(20, 20); // [10, 30]
  ASSERT_TRUE(vexa::RenderImageSlice(MakeImage<std::uint8_t>({10, 20, 30}, 1, 1, 1, 3), narrow, out));
  EXPECT_EQ(qRgb(0, 128, 255), out.pixel(0, 0));

  // three slices: the middle one is drawn
  ASSERT_TRUE(vexa::RenderImageSlice(MakeImage<float>({1, 1, 2, 2, 3, 3}, 2, 1, 3), vexa::LevelWindow(2, 2), out));
  EXPECT_EQ(2, out.width());
  EXPECT_EQ(128, qGray(out.pixel(0, 0)));
  EXPECT_EQ(128, qGray(out.pixel(1, 0)));
}

TEST(ImageSliceRendering, RefusesImagesWithoutPixels)
{
  QImage out(3, 3, QImage::Format_Grayscale8);
  out.fill(7);
  EXPECT_FALSE(vexa::RenderImageSlice(nullptr, vexa::LevelWindow(), out));
  EXPECT_FALSE(vexa::RenderImageSlice(vexa::Image::New(), vexa::LevelWindow(), out));
  EXPECT_EQ(3, out.width());
  EXPECT_EQ(7, qGray(out.pixel(0, 0)));
}

TEST(ImageSliceRendering, AtAnotherSizeEachPixelShowsTheSlicePixelUnderItsCentre)
{
  std::vector<float> ramp(16); // 4 x 4: x + 4 y
  for (int i = 0; i < 16; ++i)
    ramp[i] = static_cast<float>(i);
  std::vector<float> pulse(100, 0.0f); // a bipolar pulse in a tall column, as in a radio-frequency signal
  pulse[44] = 100.0f;
  pulse[45] = -100.0f;
  struct Case
  {
    const char *what;
    vexa::Image::Pointer image;
    vexa::LevelWindow window;
    QSize size;
    std::vector<int> expected; // row by row
  };
  const std::vector<Case> cases = {
    // centres at slice pixels 1 and 3 of each axis: 5, 7, 13, 15 through [0, 15]
    {"4 x 4 to 2 x 2", MakeImage(ramp, 4, 4), vexa::LevelWindow(7.5, 15), QSize(2, 2), {85, 119, 221, 255}},
    // 3 columns in 2: centres at 0.75 and 2.25 of the slice
    {"3 to 2 columns", MakeImage<float>({0, 1, 2}, 3, 1), vexa::LevelWindow(1, 2), QSize(2, 1), {0, 255}},
    {"grown: pixels stay pixels",
     MakeImage<std::uint8_t>({0, 255}, 2, 1),
     vexa::LevelWindow(127.5, 255),
     QSize(4, 2),
     {0, 0, 255, 255, 0, 0, 255, 255}},
    // 10 rows of 10 slice rows each: the fifth shows row 45 at its full swing, not a mean of nothing
    {"a pulse keeps its value when shrunk",
     MakeImage(pulse, 1, 100),
     vexa::LevelWindow(0, 200),
     QSize(1, 10),
     {128, 128, 128, 128, 0, 128, 128, 128, 128, 128}},
  };
  for (const Case &c : cases)
  {
    QImage out;
    ASSERT_TRUE(vexa::RenderImageSlice(c.image, c.window, out, c.size)) << c.what;
    ASSERT_EQ(c.size, out.size()) << c.what;
    std::vector<int> greys;
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x)
        greys.push_back(qGray(out.pixel(x, y)));
    EXPECT_EQ(c.expected, greys) << c.what;
  }

  // colour: each channel from the same pixel
  QImage out;
  ASSERT_TRUE(vexa::RenderImageSlice(MakeImage<std::uint8_t>({200, 0, 100, 0, 10, 50}, 2, 1, 1, 3),
                                     vexa::LevelWindow(127.5, 255), out, QSize(1, 1)));
  EXPECT_EQ(qRgb(0, 10, 50), out.pixel(0, 0));
}
