#include <vexaException.h>
#include <vexaImage.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>
#include <vexaTestGeometry.h>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace
{
  vexa::Image::Pointer MakeImage(const vexa::PixelType &type, std::vector<unsigned int> dims)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    image->Initialize(type, static_cast<unsigned int>(dims.size()), dims.data());
    return image;
  }

  const auto V = &vexa::test::MakeVector3D;

  // Counts how often a buffer handed to an image is freed, and frees it.
  struct FreeCounter
  {
    int freed = 0;
    vexa::Image::BufferDeleter Deleter()
    {
      return [this](void *p) {
        ++freed;
        delete[] static_cast<float *>(p);
      };
    }
  };
}

TEST(Image, InitializeRefusesBadShapesAndKeepsTheImage)
{
  const vexa::PixelType f = vexa::CreateScalarPixelType<float>();
  vexa::Image::Pointer image = MakeImage(f, {4, 3});
  const unsigned int good[] = {4, 3, 2, 2, 2};
  const unsigned int zero[] = {4, 0, 2};
  const unsigned int huge[] = {std::numeric_limits<unsigned int>::max(), std::numeric_limits<unsigned int>::max(),
                               std::numeric_limits<unsigned int>::max(), 4};
  struct Case
  {
    unsigned int dimension;
    const unsigned int *dims;
    unsigned int channels;
  };
  for (const Case &c :
       {Case{0, good, 1}, Case{5, good, 1}, Case{2, nullptr, 1}, Case{3, zero, 1}, Case{4, huge, 1}, Case{2, good, 0}})
  {
    EXPECT_THROW(image->Initialize(f, c.dimension, c.dims, c.channels), vexa::Exception) << c.dimension;
    EXPECT_EQ(2u, image->GetDimension());
    EXPECT_EQ(4u, image->GetDimension(0));
  }
}

TEST(Image, ShapeAndPerStepGeometry)
{
  vexa::Image::Pointer fresh = vexa::Image::New();
  EXPECT_FALSE(fresh->IsInitialized());
  EXPECT_TRUE(fresh->IsEmpty());
  EXPECT_EQ(0u, fresh->GetDimension());
  EXPECT_THROW(fresh->GetPixelType(), vexa::Exception);

  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<short>(), {5, 4, 3, 2});
  EXPECT_TRUE(image->IsInitialized());
  EXPECT_EQ(4u, image->GetDimension());
  EXPECT_EQ(3u, image->GetDimensions()[2]);
  EXPECT_EQ(1u, image->GetDimension(4));
  EXPECT_EQ(5u * 4 * 3 * 2, image->GetVolumeSizeInBytes());
  EXPECT_EQ(2 * image->GetVolumeSizeInBytes(), image->GetChannelSizeInBytes());
  EXPECT_EQ(2u, image->GetTimeSteps());
  EXPECT_EQ(1u, image->GetNumberOfChannels());
  EXPECT_EQ(image->GetChannelSizeInBytes(), image->GetChannelDescriptor().GetSize());
  EXPECT_THROW(image->GetPixelType(1), vexa::Exception);

  for (unsigned int t = 0; t < 2; ++t)
  {
    vexa::SlicedGeometry3D *g = image->GetSlicedGeometry(t);
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(3u, g->GetSlices());
    EXPECT_EQ(5.0, g->GetExtent(0));
    EXPECT_EQ(4.0, g->GetExtent(1));
  }
  EXPECT_NE(image->GetGeometry(0), image->GetGeometry(1));
  EXPECT_EQ(nullptr, image->GetGeometry(2));

  // 2-D images report 1 for every dimension beyond their own
  vexa::Image::Pointer flat = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 3});
  EXPECT_EQ(1u, flat->GetDimension(2));
  EXPECT_EQ(1u, flat->GetDimension(3));
  EXPECT_EQ(1u, flat->GetTimeSteps());
}

TEST(Image, CompletingInitializeKeepsPixelsAndGeometry)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 3});
  image->SetSpacing(V(0.5, 0.25, 1));
  {
    vexa::ImageWriteAccessor access(image);
    static_cast<float *>(access.GetData())[5] = 42.0f;
  }
  image->Initialize();
  EXPECT_EQ(V(0.5, 0.25, 1), image->GetGeometry()->GetSpacing());
  vexa::ImageReadAccessor access(image);
  EXPECT_EQ(42.0f, static_cast<const float *>(access.GetData())[5]);
}

TEST(Image, IsEmptyUntilPixelsArrive)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 3});
  EXPECT_TRUE(image->IsEmpty());
  {
    vexa::ImageReadAccessor read(image);
    EXPECT_EQ(nullptr, read.GetData());
  }
  EXPECT_TRUE(image->IsEmpty());
  {
    vexa::ImageWriteAccessor write(image);
    ASSERT_NE(nullptr, write.GetData());
    EXPECT_EQ(4u * 3 * sizeof(float), write.GetSize());
    for (unsigned int i = 0; i < 12; ++i)
      EXPECT_EQ(0.0f, static_cast<float *>(write.GetData())[i]);
  }
  EXPECT_FALSE(image->IsEmpty());
}

TEST(Image, TakenBufferIsOwnedAndFreedOnceAfterTheLastUser)
{
  FreeCounter counter;
  float *buffer = new float[12];
  buffer[0] = 7.0f;
  {
    vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 3});
    ASSERT_TRUE(image->TakeVolumeBuffer(buffer, 0, 0, vexa::Image::ManageMemory, counter.Deleter()));
    vexa::ImageReadAccessor access(image);
    EXPECT_EQ(buffer, access.GetData());
    // a new shape drops the buffer, but the accessor still holds it
    image->Initialize(vexa::CreateScalarPixelType<float>(), 2, std::vector<unsigned int>{2, 2}.data());
    EXPECT_EQ(0, counter.freed);
    EXPECT_EQ(7.0f, static_cast<const float *>(access.GetData())[0]);
  }
  EXPECT_EQ(1, counter.freed);
}

TEST(Image, BorrowedBufferIsSharedAndNeverFreed)
{
  std::vector<float> buffer(12, 1.0f);
  {
    vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 3});
    image->TakeVolumeBuffer(buffer.data(), 0, 0, vexa::Image::ReferenceMemory);
    vexa::ImageWriteAccessor access(image);
    EXPECT_EQ(buffer.data(), access.GetData());
    static_cast<float *>(access.GetData())[11] = 5.0f;
  }
  EXPECT_EQ(5.0f, buffer[11]);
}

TEST(Image, VolumesOfSeveralTimeStepsAreCopiedIn)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {2, 2, 1, 3});
  FreeCounter counter;
  float *managed = new float[4]{1, 2, 3, 4};
  ASSERT_TRUE(image->TakeVolumeBuffer(managed, 1, 0, vexa::Image::ManageMemory, counter.Deleter()));
  EXPECT_EQ(1, counter.freed); // copied and released at once

  float borrowed[4] = {9, 9, 9, 9};
  EXPECT_THROW(image->TakeVolumeBuffer(borrowed, 2, 0, vexa::Image::ReferenceMemory), vexa::Exception);
  EXPECT_EQ(9.0f, borrowed[3]);

  const float copied[4] = {5, 6, 7, 8};
  ASSERT_TRUE(image->SetVolume(copied, 2));

  vexa::ImageReadAccessor access(image);
  const float *all = static_cast<const float *>(access.GetData());
  const float expected[12] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  for (unsigned int i = 0; i < 12; ++i)
    EXPECT_EQ(expected[i], all[i]) << i;

  vexa::ImageDataItem::Pointer step2 = image->GetVolumeData(2);
  EXPECT_EQ(all + 8, step2->GetData());
  EXPECT_EQ(4 * sizeof(float), step2->GetSize());
}

TEST(Image, SetVolumeChecksItsArguments)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {2, 2});
  const float data[4] = {1, 2, 3, 4};
  EXPECT_THROW(image->SetVolume(data, 1, 0), vexa::Exception);
  EXPECT_THROW(image->SetVolume(data, 0, 1), vexa::Exception);
  EXPECT_THROW(image->SetVolume(nullptr, 0, 0), vexa::Exception);
  EXPECT_THROW(image->SetVolume(data, sizeof(data) - 1, vexa::CreateScalarPixelType<float>()), vexa::Exception);
  EXPECT_THROW(image->SetVolume(data, sizeof(data), vexa::CreateScalarPixelType<int>()), vexa::Exception);
  EXPECT_TRUE(image->IsEmpty());
  EXPECT_TRUE(image->SetVolume(data, sizeof(data), vexa::CreateScalarPixelType<float>()));
  vexa::ImageReadAccessor access(image);
  EXPECT_EQ(0, std::memcmp(data, access.GetData(), sizeof(data)));

  vexa::Image::Pointer uninitialised = vexa::Image::New();
  EXPECT_THROW(uninitialised->SetVolume(data), vexa::Exception);
}

TEST(Image, CloneCopiesPixelsAndGeometry)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<int>(), {3, 2});
  image->SetSpacing(V(2, 3, 1));
  {
    vexa::ImageWriteAccessor access(image);
    static_cast<int *>(access.GetData())[4] = 17;
  }
  vexa::Image::Pointer clone = image->Clone();
  ASSERT_TRUE(clone);
  EXPECT_EQ(1, clone->GetReferenceCount());
  EXPECT_EQ(image->GetPixelType(), clone->GetPixelType());
  EXPECT_EQ(V(2, 3, 1), clone->GetGeometry()->GetSpacing());
  {
    vexa::ImageWriteAccessor access(clone);
    EXPECT_EQ(17, static_cast<int *>(access.GetData())[4]);
    static_cast<int *>(access.GetData())[4] = 1;
  }
  clone->SetSpacing(V(1, 1, 1));
  vexa::ImageReadAccessor access(image);
  EXPECT_EQ(17, static_cast<const int *>(access.GetData())[4]);
  EXPECT_EQ(V(2, 3, 1), image->GetGeometry()->GetSpacing());
}

TEST(Image, InitializeAfterAnotherImageOrAGeometry)
{
  vexa::Image::Pointer model = MakeImage(vexa::CreateScalarPixelType<double>(), {6, 5, 4});
  model->SetSpacing(V(0.1, 0.2, 0.3));
  vexa::Image::Pointer same = vexa::Image::New();
  same->Initialize(model);
  EXPECT_EQ(3u, same->GetDimension());
  EXPECT_EQ(4u, same->GetDimension(2));
  EXPECT_TRUE(vexa::Equal(*model->GetGeometry(), *same->GetGeometry(), 1e-12, true));
  EXPECT_TRUE(same->IsEmpty());

  vexa::Image::Pointer fromGeometry = vexa::Image::New();
  fromGeometry->Initialize(vexa::CreateScalarPixelType<float>(), *model->GetGeometry());
  EXPECT_EQ(3u, fromGeometry->GetDimension());
  EXPECT_EQ(6u, fromGeometry->GetDimension(0));
  EXPECT_TRUE(vexa::Equal(*model->GetGeometry(), *fromGeometry->GetGeometry(), 1e-12, true));
  model->SetSpacing(V(1, 1, 1));
  EXPECT_NEAR(0.1, fromGeometry->GetGeometry()->GetSpacing()[0], 1e-12);

  EXPECT_THROW(same->Initialize(vexa::Image::New().GetPointer()), vexa::Exception);
}
