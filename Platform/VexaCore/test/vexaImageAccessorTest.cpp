#include <vexaException.h>
#include <vexaImage.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>
#include <vexaTestWaitUntil.h>

#include <itkCommand.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace
{
  vexa::Image::Pointer MakeFloatImage(unsigned int x, unsigned int y)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    const unsigned int dims[] = {x, y};
    image->Initialize(vexa::CreateScalarPixelType<float>(), 2, dims);
    return image;
  }

  using vexa::test::WaitUntil;

  // Holds an accessor of its own kind on a thread of its own until told to let go.
  class HoldingThread
  {
  public:
    HoldingThread(vexa::Image *image, bool write)
      : m_Thread([this, image, write]() {
          if (write)
          {
            vexa::ImageWriteAccessor access(image);
            Hold();
          }
          else
          {
            vexa::ImageReadAccessor access(image);
            Hold();
          }
        })
    {
      WaitUntil([this]() { return m_Holding.load(); });
    }
    void Release()
    {
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Release = true;
      }
      m_Condition.notify_all();
      m_Thread.join();
    }
    ~HoldingThread()
    {
      if (m_Thread.joinable())
        Release();
    }

  private:
    void Hold()
    {
      m_Holding = true;
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_Condition.wait(lock, [this]() { return m_Release; });
    }

    std::atomic<bool> m_Holding{false};
    std::mutex m_Mutex;
    std::condition_variable m_Condition;
    bool m_Release = false;
    std::thread m_Thread;
  };
}

TEST(ImageAccessor, NullImageIsRefused)
{
  EXPECT_THROW(vexa::ImageReadAccessor(nullptr), vexa::Exception);
  EXPECT_THROW(vexa::ImageWriteAccessor(nullptr), vexa::Exception);
}

TEST(ImageAccessor, KeepsTheImageAndItsPixelsAlive)
{
  vexa::Image::Pointer image = MakeFloatImage(8, 8);
  struct DeleteCounter
  {
    int count = 0;
    void Count() { ++count; }
  } deleted;
  auto observer = itk::SimpleMemberCommand<DeleteCounter>::New();
  observer->SetCallbackFunction(&deleted, &DeleteCounter::Count);
  image->AddObserver(itk::DeleteEvent(), observer);

  auto access = std::make_unique<vexa::ImageWriteAccessor>(image);
  float *pixels = static_cast<float *>(access->GetData());
  image = nullptr;
  EXPECT_EQ(0, deleted.count);
  pixels[63] = 1.0f; // still valid memory
  access.reset();
  EXPECT_EQ(1, deleted.count);
}

TEST(ImageAccessor, ReadersOfOtherThreadsWaitForAWriter)
{
  vexa::Image::Pointer image = MakeFloatImage(4, 4);
  HoldingThread writer(image, true);

  EXPECT_THROW(vexa::ImageReadAccessor(image, nullptr, vexa::ImageAccessorBase::ExceptionIfLocked), vexa::Exception);
  // a look at the data pointer only takes no lock
  EXPECT_NO_THROW(vexa::ImageReadAccessor(image, nullptr, vexa::ImageAccessorBase::IgnoreLock));

  std::atomic<bool> acquired{false};
  std::thread reader([&]() {
    vexa::ImageReadAccessor access(image);
    acquired = true;
  });
  EXPECT_FALSE(WaitUntil([&]() { return acquired.load(); }, std::chrono::milliseconds(100)));
  writer.Release();
  EXPECT_TRUE(WaitUntil([&]() { return acquired.load(); }));
  reader.join();
}

TEST(ImageAccessor, ReadersShareAndAWriterWaitsForThem)
{
  vexa::Image::Pointer image = MakeFloatImage(4, 4);
  {
    vexa::ImageWriteAccessor allocate(image);
  }
  HoldingThread reader(image, false);
  EXPECT_NO_THROW(vexa::ImageReadAccessor(image, nullptr, vexa::ImageAccessorBase::ExceptionIfLocked));

  std::atomic<bool> acquired{false};
  std::thread writer([&]() {
    vexa::ImageWriteAccessor access(image);
    acquired = true;
  });
  EXPECT_FALSE(WaitUntil([&]() { return acquired.load(); }, std::chrono::milliseconds(100)));
  reader.Release();
  EXPECT_TRUE(WaitUntil([&]() { return acquired.load(); }));
  writer.join();
}

TEST(ImageAccessor, AccessorsOfOneThreadNeverWaitForEachOther)
{
  vexa::Image::Pointer image = MakeFloatImage(4, 4);
  vexa::ImageWriteAccessor write(image);
  vexa::ImageReadAccessor read(image, nullptr, vexa::ImageAccessorBase::ExceptionIfLocked);
  vexa::ImageWriteAccessor again(image, nullptr, vexa::ImageAccessorBase::ExceptionIfLocked);
  EXPECT_EQ(write.GetData(), read.GetData());
  EXPECT_EQ(write.GetData(), again.GetData());
}

TEST(ImageAccessor, VolumeItemsReachOneTimeStep)
{
  vexa::Image::Pointer image = vexa::Image::New();
  const unsigned int dims[] = {2, 2, 2, 3};
  image->Initialize(vexa::CreateScalarPixelType<unsigned char>(), 4, dims);
  vexa::ImageDataItem::Pointer volume = image->GetVolumeData(2);
  {
    vexa::ImageWriteAccessor access(image, volume);
    ASSERT_EQ(8u, access.GetSize());
    static_cast<unsigned char *>(access.GetData())[0] = 200;
  }
  vexa::ImageReadAccessor whole(image);
  EXPECT_EQ(24u, whole.GetSize());
  EXPECT_EQ(200, static_cast<const unsigned char *>(whole.GetData())[16]);
  EXPECT_THROW(image->GetVolumeData(3), vexa::Exception);
}
