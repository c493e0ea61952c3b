#include <vexaImageGenerator.h>
#include <vexaImageReadAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace
{
  template <typename T>
  std::vector<T> Pixels(const vexa::Image *image)
  {
    vexa::ImageReadAccessor access(image);
    const T *p = static_cast<const T *>(access.GetData());
    return std::vector<T>(p, p + access.GetSize() / sizeof(T));
  }
}

TEST(ImageGenerator, RandomFloatsWithinTheBoundsAndNeverTheSameTwice)
{
  vexa::Image::Pointer a = vexa::ImageGenerator::GenerateRandomImage<float>(32, 32, 1, 1, 1, 1, 1, 255, 0);
  vexa::Image::Pointer b = vexa::ImageGenerator::GenerateRandomImage<float>(32, 32, 1, 1, 1, 1, 1, 255, 0);
  EXPECT_EQ(2u, a->GetDimension());
  EXPECT_EQ(vexa::CreateScalarPixelType<float>(), a->GetPixelType());
  const std::vector<float> pa = Pixels<float>(a), pb = Pixels<float>(b);
  ASSERT_EQ(1024u, pa.size());
  float lowest = 255, highest = 0;
  for (float v : pa)
  {
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
  }
  EXPECT_GE(lowest, 0.0f);
  EXPECT_LT(highest, 255.0f);
  EXPECT_GT(highest - lowest, 100.0f);
  EXPECT_NE(pa, pb);
}

TEST(ImageGenerator, DimensionsAndSpacing)
{
  vexa::Image::Pointer volume = vexa::ImageGenerator::GenerateRandomImage<double>(4, 3, 2, 1, 0.5, 0.25, 2);
  EXPECT_EQ(3u, volume->GetDimension());
  EXPECT_EQ(2u, volume->GetDimension(2));
  EXPECT_EQ(0.25, volume->GetGeometry()->GetSpacing()[1]);
  EXPECT_EQ(2.0, volume->GetGeometry()->GetSpacing()[2]);
  vexa::Image::Pointer series = vexa::ImageGenerator::GenerateRandomImage<double>(4, 3, 1, 3);
  EXPECT_EQ(4u, series->GetDimension());
  EXPECT_EQ(3u, series->GetTimeSteps());
}

TEST(ImageGenerator, IntegerKinds)
{
  for (int v : Pixels<int>(vexa::ImageGenerator::GenerateRandomImage<int>(16, 16, 1, 1, 1, 1, 1, 10, 0)))
  {
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 10);
  }
  const std::vector<unsigned char> bytes =
    Pixels<unsigned char>(vexa::ImageGenerator::GenerateRandomImage<unsigned char>(16, 16, 1, 1, 1, 1, 1, 1000, 0));
  EXPECT_NE(std::count(bytes.begin(), bytes.end(), bytes[0]), static_cast<long>(bytes.size()));
  // a bound beyond 16 bits: the values are kept to 16 bits, and some need more than 8
  const std::vector<unsigned short> words =
    Pixels<unsigned short>(vexa::ImageGenerator::GenerateRandomImage<unsigned short>(16, 16, 1, 1, 1, 1, 1, 70000, 0));
  EXPECT_GT(*std::max_element(words.begin(), words.end()), 255);
}

TEST(ImageGenerator, UnsupportedTypeIsLoggedOnceAndLeftZero)
{
  vorlen::CapturingSink sink;
  vexa::Image::Pointer image = vexa::ImageGenerator::GenerateRandomImage<short>(8, 8);
  EXPECT_EQ(std::vector<std::string>{"Datatype not supported yet."}, sink.Texts(2));
  for (short v : Pixels<short>(image))
    EXPECT_EQ(0, v);
}
