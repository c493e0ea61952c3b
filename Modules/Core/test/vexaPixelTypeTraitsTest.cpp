#include <vexaPixelTypeTraits.h>

#include <itkImage.h>

#include <gtest/gtest.h>

namespace
{
  struct Expected
  {
    const char *name;
    vexa::PixelType type;
    int code;
    itk::ImageIOBase::IOPixelType kind;
    std::size_t bytesPerComponent;
    std::size_t components;
    std::string componentName;
  };

  template <class TPixel>
  vexa::PixelType ForImage(std::size_t n)
  {
    return vexa::CreatePixelType<itk::Image<TPixel, 2>>(n);
  }
}

// The twelve pixel types of the image bridges, made through the image form.
TEST(PixelTypeTraits, DescriptionsOfTheBridgedPixelTypes)
{
  using IO = itk::ImageIOBase;
  const Expected table[] = {
    {"char", ForImage<char>(1), 2, IO::SCALAR, 1, 1, "char"},
    {"unsigned char", ForImage<unsigned char>(1), 1, IO::SCALAR, 1, 1, "unsigned_char"},
    {"short", ForImage<short>(1), 4, IO::SCALAR, 2, 1, "short"},
    {"unsigned short", ForImage<unsigned short>(1), 3, IO::SCALAR, 2, 1, "unsigned_short"},
    {"int", ForImage<int>(1), 6, IO::SCALAR, 4, 1, "int"},
    {"unsigned int", ForImage<unsigned int>(1), 5, IO::SCALAR, 4, 1, "unsigned_int"},
    {"float", ForImage<float>(1), 11, IO::SCALAR, 4, 1, "float"},
    {"double", ForImage<double>(1), 12, IO::SCALAR, 8, 1, "double"},
    {"rgb uchar", ForImage<itk::RGBPixel<unsigned char>>(3), 1, IO::RGB, 1, 3, "unsigned_char"},
    {"rgb ushort", ForImage<itk::RGBPixel<unsigned short>>(3), 3, IO::RGB, 2, 3, "unsigned_short"},
    {"rgb float", ForImage<itk::RGBPixel<float>>(3), 11, IO::RGB, 4, 3, "float"},
    {"rgb double", ForImage<itk::RGBPixel<double>>(3), 12, IO::RGB, 8, 3, "double"},
  };
  for (const Expected &e : table)
  {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.code, e.type.GetComponentType());
    EXPECT_EQ(e.kind, e.type.GetPixelType());
    EXPECT_EQ(e.bytesPerComponent, e.type.GetBytesPerComponent());
    EXPECT_EQ(e.components, e.type.GetNumberOfComponents());
    EXPECT_EQ(e.componentName, e.type.GetComponentTypeAsString());
    EXPECT_EQ("", e.type.GetTypeAsString());
  }
  // no two of them describe the same pixels
  for (const Expected &a : table)
    for (const Expected &b : table)
      EXPECT_EQ(&a == &b, a.type == b.type) << a.name << " / " << b.name;
}

TEST(PixelTypeTraits, TheFormsAgree)
{
  EXPECT_EQ((vexa::CreatePixelType<float, float>(1)), (vexa::CreatePixelType<float, float, 1>()));
  EXPECT_EQ((vexa::CreatePixelType<float, float>(1)), vexa::CreateScalarPixelType<float>());
  EXPECT_EQ((vexa::CreatePixelType<float, float>(1)), ForImage<float>(1));
  EXPECT_EQ("float", vexa::GetComponentTypeName<float>());
  EXPECT_EQ(11, vexa::CreateScalarPixelType<float>().GetComponentType());
  EXPECT_EQ(4u, vexa::CreateScalarPixelType<float>().GetSize());

  // RGB against three scalar components: the pixel kind decides
  EXPECT_NE(ForImage<itk::RGBPixel<unsigned char>>(3), ForImage<unsigned char>(3));
  EXPECT_NE(ForImage<short>(1), ForImage<unsigned short>(1));
}

TEST(PixelTypeTraits, KindsBeyondScalarAndRgb)
{
  const vexa::PixelType rgba = vexa::CreatePixelType<unsigned char, itk::RGBAPixel<unsigned char>>(4);
  EXPECT_EQ(itk::ImageIOBase::RGBA, rgba.GetPixelType());
  EXPECT_EQ(4u, rgba.GetSize());
  const vexa::PixelType vector = vexa::CreatePixelType<itk::Image<itk::Vector<float, 2>, 2>>(2);
  EXPECT_EQ(itk::ImageIOBase::VECTOR, vector.GetPixelType());
  EXPECT_EQ(11, vector.GetComponentType());
  EXPECT_EQ(8u, vector.GetSize());
}
