#include <vexaITKImageImport.h>
#include <vexaImageReadAccessor.h>
#include <vexaPixelTypeTraits.h>
#include <vexaImageInitializeByItk.h>
#include <vexaTestGeometry.h>

#include <vorlenLogSink.h>

#include <itkImage.h>
#include <itkImportImageContainer.h>

#include <gtest/gtest.h>

#include <cstring>

namespace
{
  template <class TPixel>
  typename itk::Image<TPixel, 2>::Pointer MakeItkImage(unsigned int width, unsigned int height)
  {
    using ImageType = itk::Image<TPixel, 2>;
    typename ImageType::Pointer image = ImageType::New();
    typename ImageType::SizeType size;
    size[0] = width;
    size[1] = height;
    image->SetRegions(size);
    image->Allocate();
    auto *bytes = reinterpret_cast<unsigned char *>(image->GetBufferPointer());
    for (std::size_t i = 0; i < std::size_t(width) * height * sizeof(TPixel); ++i)
      bytes[i] = static_cast<unsigned char>(i * 13 + 1);
    return image;
  }

  template <class TPixel>
  void ExpectAdoptedWithoutCopy(unsigned int components)
  {
    auto itkImage = MakeItkImage<TPixel>(5, 3);
    std::vector<unsigned char> before(reinterpret_cast<unsigned char *>(itkImage->GetBufferPointer()),
                                      reinterpret_cast<unsigned char *>(itkImage->GetBufferPointer()) +
                                        15 * sizeof(TPixel));
    const void *buffer = itkImage->GetBufferPointer();
    vexa::Image::Pointer image = vexa::AdoptItkImageMemory(itkImage);
    ASSERT_TRUE(image);
    EXPECT_EQ((vexa::CreatePixelType<itk::Image<TPixel, 2>>(components)), image->GetPixelType());
    EXPECT_EQ(components, image->GetPixelType().GetNumberOfComponents());
    EXPECT_EQ(1u, image->GetNumberOfChannels());
    EXPECT_EQ(2u, image->GetDimension());
    EXPECT_EQ(5u, image->GetDimension(0));
    EXPECT_EQ(3u, image->GetDimension(1));
    EXPECT_FALSE(itkImage->GetPixelContainer()->GetContainerManageMemory());

    // the ITK image goes first; the toolkit image keeps the very same buffer
    itkImage = nullptr;
    vexa::ImageReadAccessor access(image);
    EXPECT_EQ(buffer, access.GetData());
    EXPECT_EQ(0, std::memcmp(before.data(), access.GetData(), before.size()));
  }

  const auto V = &vexa::test::MakeVector3D;
}

TEST(AdoptItkImageMemory, EveryConvertedPixelTypeIsAdoptedWithoutCopy)
{
  ExpectAdoptedWithoutCopy<char>(1);
  ExpectAdoptedWithoutCopy<unsigned char>(1);
  ExpectAdoptedWithoutCopy<unsigned short>(1);
  ExpectAdoptedWithoutCopy<float>(1);
  ExpectAdoptedWithoutCopy<double>(1);
  ExpectAdoptedWithoutCopy<itk::RGBPixel<unsigned char>>(3);
  ExpectAdoptedWithoutCopy<itk::RGBPixel<unsigned short>>(3);
  ExpectAdoptedWithoutCopy<itk::RGBPixel<float>>(3);
  ExpectAdoptedWithoutCopy<itk::RGBPixel<double>>(3);
}

TEST(AdoptItkImageMemory, GeometryFollowsTheItkImage)
{
  auto itkImage = MakeItkImage<unsigned char>(640, 480);
  itk::Image<unsigned char, 2>::SpacingType spacing;
  spacing[0] = 0.5;
  spacing[1] = 0.25;
  itkImage->SetSpacing(spacing);
  itk::Image<unsigned char, 2>::PointType origin;
  origin[0] = 10;
  origin[1] = 20;
  itkImage->SetOrigin(origin);

  vexa::Image::Pointer image = vexa::AdoptItkImageMemory(itkImage.GetPointer());
  EXPECT_EQ(640u, image->GetDimension(0));
  EXPECT_EQ(480u, image->GetDimension(1));
  EXPECT_EQ(1u, image->GetDimension(2));
  EXPECT_EQ(1u, image->GetDimension(3));
  const vexa::BaseGeometry *g = image->GetGeometry();
  EXPECT_EQ(V(0.5, 0.25, 1), g->GetSpacing());
  EXPECT_EQ(10.0, g->GetOrigin()[0]);
  EXPECT_EQ(20.0, g->GetOrigin()[1]);
  EXPECT_EQ(0.0, g->GetOrigin()[2]);
  const auto &m = g->GetIndexToWorldTransform()->GetMatrix();
  EXPECT_EQ(0.5, m[0][0]);
  EXPECT_EQ(0.25, m[1][1]);
  EXPECT_EQ(1.0, m[2][2]);
  EXPECT_EQ(0.0, m[0][1]);
  EXPECT_EQ(1u, image->GetSlicedGeometry()->GetSlices());
  EXPECT_EQ(1u, image->GetTimeSteps());
  EXPECT_EQ(10.0, image->GetSlicedGeometry()->GetSliceGeometry(0)->GetOrigin()[0]);
}

TEST(AdoptItkImageMemory, RotatedDirectionIsScaledBySpacing)
{
  auto itkImage = MakeItkImage<float>(4, 4);
  itk::Image<float, 2>::DirectionType d;
  d[0][0] = 0;
  d[1][0] = 1;
  d[0][1] = -1;
  d[1][1] = 0;
  itkImage->SetDirection(d);
  itk::Image<float, 2>::SpacingType spacing;
  spacing[0] = 2;
  spacing[1] = 3;
  itkImage->SetSpacing(spacing);
  vexa::Image::Pointer image = vexa::AdoptItkImageMemory(itkImage);
  const auto &m = image->GetGeometry()->GetIndexToWorldTransform()->GetMatrix();
  EXPECT_EQ(0.0, m[0][0]);
  EXPECT_EQ(-3.0, m[0][1]);
  EXPECT_EQ(2.0, m[1][0]);
  EXPECT_EQ(0.0, m[1][1]);
  EXPECT_EQ(V(2, 3, 1), image->GetGeometry()->GetSpacing());
}

TEST(AdoptItkImageMemory, UnusableSpacingAndDirectionAreReplacedWithRecords)
{
  const bool warnings = itk::Object::GetGlobalWarningDisplay();
  itk::Object::SetGlobalWarningDisplay(false);
  auto itkImage = MakeItkImage<float>(4, 4);
  itk::Image<float, 2>::SpacingType spacing;
  spacing[0] = -2; // ITK only warns about a negative spacing
  spacing[1] = 0;  // ITK stores a zero spacing, then throws
  try
  {
    itkImage->SetSpacing(spacing);
  }
  catch (const itk::ExceptionObject &)
  {
  }
  itk::Image<float, 2>::DirectionType d;
  d.Fill(0.0);
  d[0][0] = 1;
  try
  {
    itkImage->SetDirection(d);
  }
  catch (const itk::ExceptionObject &)
  {
  }
  itk::Object::SetGlobalWarningDisplay(warnings);

  vorlen::CapturingSink sink;
  vexa::Image::Pointer image = vexa::AdoptItkImageMemory(itkImage);
  const std::vector<vorlen::LogRecord> records = sink.Records();
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ("Illegal value of itk::Image::GetSpacing()[0]=-2. Using 1.0 instead.", records[0].text);
  EXPECT_EQ("Illegal value of itk::Image::GetSpacing()[1]=0. Using 1.0 instead.", records[1].text);
  EXPECT_EQ("Illegal matrix returned by itk::Image::GetDirection():1 0\n0 0\n Using identity instead.",
            records[2].text);
  for (const auto &r : records)
  {
    EXPECT_EQ(2, r.level);
    EXPECT_EQ("vexa::Image::InitializeByItk", r.function);
  }
  EXPECT_EQ(V(1, 1, 1), image->GetGeometry()->GetSpacing());
  const auto &m = image->GetGeometry()->GetIndexToWorldTransform()->GetMatrix();
  EXPECT_EQ(1.0, m[0][0]);
  EXPECT_EQ(0.0, m[1][0]);
  EXPECT_EQ(1.0, m[1][1]);
}

TEST(AdoptItkImageMemory, ReusesAGivenImage)
{
  auto itkImage = MakeItkImage<unsigned short>(6, 2);
  vexa::Image::Pointer image = vexa::AdoptItkImageMemory(itkImage);
  const itk::ModifiedTimeType stamp = image->GetMTime();
  // the same buffer again: nothing changes, no second owner
  vexa::Image::Pointer again = vexa::AdoptItkImageMemory(itkImage, image);
  EXPECT_EQ(image.GetPointer(), again.GetPointer());
  EXPECT_EQ(stamp, image->GetMTime());

  auto other = MakeItkImage<float>(3, 3);
  vexa::Image::Pointer replaced = vexa::AdoptItkImageMemory(other, image);
  EXPECT_EQ(image.GetPointer(), replaced.GetPointer());
  EXPECT_EQ(vexa::CreateScalarPixelType<float>(), image->GetPixelType());
  vexa::ImageReadAccessor access(image);
  EXPECT_EQ(other->GetBufferPointer(), access.GetData());
}

TEST(AdoptItkImageMemory, GivenGeometryIsCopied)
{
  vexa::BaseGeometry::Pointer geometry = vexa::BaseGeometry::New();
  geometry->SetBounds({0, 4, 0, 4, 0, 1});
  geometry->SetSpacing(V(7, 7, 7));
  vexa::Image::Pointer image = vexa::AdoptItkImageMemory(MakeItkImage<float>(4, 4), nullptr, geometry);
  geometry->SetSpacing(V(1, 2, 3));
  EXPECT_EQ(V(7, 7, 7), image->GetGeometry()->GetSpacing());
}

TEST(AdoptItkImageMemory, RefusesWhatWouldGiveABufferTwoOwnersOrReadPastIt)
{
  EXPECT_THROW(vexa::AdoptItkImageMemory(static_cast<itk::Image<float, 2> *>(nullptr)), vexa::Exception);

  // pixels lent to the ITK image by someone else
  std::vector<float> lent(16, 1.0f);
  auto borrowed = itk::Image<float, 2>::New();
  itk::Image<float, 2>::SizeType size;
  size.Fill(4);
  borrowed->SetRegions(size);
  borrowed->GetPixelContainer()->SetImportPointer(lent.data(), 16, false);
  EXPECT_THROW(vexa::AdoptItkImageMemory(borrowed, nullptr, nullptr, false), vexa::Exception);

  // a buffer that holds only part of the image
  auto partial = MakeItkImage<float>(4, 4);
  itk::Image<float, 2>::RegionType largest = partial->GetLargestPossibleRegion();
  itk::Image<float, 2>::SizeType bigger;
  bigger[0] = 8;
  bigger[1] = 4;
  largest.SetSize(bigger);
  partial->SetLargestPossibleRegion(largest);
  EXPECT_THROW(vexa::AdoptItkImageMemory(partial, nullptr, nullptr, false), vexa::Exception);
  EXPECT_TRUE(partial->GetPixelContainer()->GetContainerManageMemory());
}

TEST(AdoptItkImageMemory, ToolkitImageGoingFirstFreesTheBufferOnce)
{
  auto itkImage = MakeItkImage<double>(8, 8);
  {
    vexa::Image::Pointer image = vexa::AdoptItkImageMemory(itkImage);
  }
  // the ITK image no longer owns the buffer: dropping it frees nothing twice
  EXPECT_FALSE(itkImage->GetPixelContainer()->GetContainerManageMemory());
  itkImage = nullptr;
}

TEST(InitializeByItk, NullItkImageLeavesTheImageAlone)
{
  vexa::Image::Pointer image = vexa::Image::New();
  image->InitializeByItk(static_cast<const itk::Image<float, 2> *>(nullptr));
  EXPECT_FALSE(image->IsInitialized());
  auto itkImage = MakeItkImage<itk::RGBPixel<float>>(3, 2);
  image->InitializeByItk(itkImage.GetPointer());
  EXPECT_EQ((vexa::CreatePixelType<float, itk::RGBPixel<float>>(3)), image->GetPixelType());
  EXPECT_TRUE(image->IsEmpty());
}
