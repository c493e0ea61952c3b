#include <vexaPixelType.h>
#include <vexaPixelTypeTraits.h>

#include <gtest/gtest.h>

TEST(PixelType, SizesFollowComponentsAndComponentSize)
{
  const vexa::PixelType rgbFloat = vexa::CreatePixelType<float, itk::RGBPixel<float>>(3);
  EXPECT_EQ(4u, rgbFloat.GetBytesPerComponent());
  EXPECT_EQ(32u, rgbFloat.GetBitsPerComponent());
  EXPECT_EQ(3u, rgbFloat.GetNumberOfComponents());
  EXPECT_EQ(12u, rgbFloat.GetSize());
  EXPECT_EQ(96u, rgbFloat.GetBpe());
  EXPECT_EQ(itk::ImageIOBase::RGB, rgbFloat.GetPixelType());
  EXPECT_EQ(itk::ImageIOBase::FLOAT, rgbFloat.GetComponentType());
}

TEST(PixelType, EqualityComparesTheWholeDescription)
{
  const vexa::PixelType ushort1 = vexa::CreatePixelType<unsigned short, unsigned short>(1);
  EXPECT_EQ(ushort1, vexa::CreateScalarPixelType<unsigned short>());
  EXPECT_NE(ushort1, vexa::CreateScalarPixelType<short>());
  EXPECT_NE(ushort1, (vexa::CreatePixelType<unsigned short, unsigned short>(2)));
  EXPECT_NE((vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>>(3)),
            (vexa::CreatePixelType<unsigned char, unsigned char>(3)));

  vexa::PixelType copy = ushort1;
  EXPECT_EQ(ushort1, copy);
  copy = vexa::CreateScalarPixelType<double>();
  EXPECT_EQ(vexa::CreateScalarPixelType<double>(), copy);
}

TEST(PixelType, TextNamesKindComponentAndCount)
{
  const vexa::PixelType rgb = vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>>(3);
  EXPECT_EQ("rgb (unsigned_char), 3 components", rgb.GetPixelTypeAsString());
  EXPECT_EQ("scalar (float), 1 component", vexa::CreateScalarPixelType<float>().GetPixelTypeAsString());
  EXPECT_EQ("", rgb.GetTypeAsString());
}
