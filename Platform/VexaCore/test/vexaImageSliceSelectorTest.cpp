#include <vexaException.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageSliceSelector.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <gtest/gtest.h>

namespace
{
  // 4 x 3 pixels, 5 slices, 2 time steps; each pixel holds its own index in the channel
  vexa::Image::Pointer MakeVolumes()
  {
    vexa::Image::Pointer image = vexa::Image::New();
    const unsigned int dims[] = {4, 3, 5, 2};
    image->Initialize(vexa::CreateScalarPixelType<unsigned short>(), 4, dims);
    vexa::ImageWriteAccessor access(image);
    auto *p = static_cast<unsigned short *>(access.GetData());
    for (unsigned int i = 0; i < 4 * 3 * 5 * 2; ++i)
      p[i] = static_cast<unsigned short>(i);
    vexa::Vector3D spacing;
    spacing[0] = 1;
    spacing[1] = 1;
    spacing[2] = 2.5;
    image->SetSpacing(spacing);
    return image;
  }
}

TEST(ImageSliceSelector, CopiesOneSliceOfOneTimeStep)
{
  vexa::Image::Pointer volumes = MakeVolumes();
  vexa::ImageSliceSelector::Pointer selector = vexa::ImageSliceSelector::New();
  selector->SetInput(volumes);
  selector->SetSliceNr(3);
  selector->SetTimeNr(1);
  selector->Update();
  vexa::Image *slice = selector->GetOutput();
  ASSERT_EQ(2u, slice->GetDimension());
  EXPECT_EQ(4u, slice->GetDimension(0));
  EXPECT_EQ(3u, slice->GetDimension(1));
  EXPECT_EQ(volumes->GetPixelType(), slice->GetPixelType());
  vexa::ImageReadAccessor access(slice);
  const auto *p = static_cast<const unsigned short *>(access.GetData());
  const unsigned int first = 60 + 3 * 12; // time step 1, slice 3
  for (unsigned int i = 0; i < 12; ++i)
    EXPECT_EQ(first + i, p[i]);
  EXPECT_DOUBLE_EQ(7.5, slice->GetGeometry()->GetOrigin()[2]);
}

TEST(ImageSliceSelector, RefusesNumbersOutsideTheImage)
{
  vexa::Image::Pointer volumes = MakeVolumes();
  for (const auto &numbers : {std::array<int, 3>{5, 0, 0}, std::array<int, 3>{-1, 0, 0}, std::array<int, 3>{0, 2, 0},
                              std::array<int, 3>{0, 0, 1}})
  {
    vexa::ImageSliceSelector::Pointer selector = vexa::ImageSliceSelector::New();
    selector->SetInput(volumes);
    selector->SetSliceNr(numbers[0]);
    selector->SetTimeNr(numbers[1]);
    selector->SetChannelNr(numbers[2]);
    EXPECT_THROW(selector->Update(), vexa::Exception);
  }
  vexa::ImageSliceSelector::Pointer noInput = vexa::ImageSliceSelector::New();
  EXPECT_THROW(noInput->Update(), itk::ExceptionObject);
}

TEST(ImageSliceSelector, InputWithoutPixelsGivesAnEmptySlice)
{
  vexa::Image::Pointer empty = vexa::Image::New();
  const unsigned int dims[] = {4, 4, 2};
  empty->Initialize(vexa::CreateScalarPixelType<float>(), 3, dims);
  vexa::ImageSliceSelector::Pointer selector = vexa::ImageSliceSelector::New();
  selector->SetInput(empty);
  selector->SetSliceNr(1);
  selector->Update();
  EXPECT_TRUE(selector->GetOutput()->IsInitialized());
  EXPECT_TRUE(selector->GetOutput()->IsEmpty());
}
