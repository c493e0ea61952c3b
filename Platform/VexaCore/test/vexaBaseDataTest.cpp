#include <vexaImage.h>

#include <vexaTestItkOutput.h>

#include <itkCommand.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
  // Counts deletion announcements and, like many observers, takes a reference while it looks.
  struct DeleteWatcher
  {
    std::atomic<int> announced{0};
    int countSeen = 0;
    const vexa::Image *image = nullptr;
    void Announced()
    {
      vexa::Image::ConstPointer held = image; // must not delete the image a second time
      countSeen = image->GetReferenceCount();
      ++announced;
    }
    void Watch(vexa::Image *watched)
    {
      image = watched;
      auto command = itk::SimpleMemberCommand<DeleteWatcher>::New();
      command->SetCallbackFunction(this, &DeleteWatcher::Announced);
      watched->AddObserver(itk::DeleteEvent(), command);
    }
  };
}

TEST(BaseDataReferenceCount, DeletionIsAnnouncedOnceWithTheObjectIntact)
{
  DeleteWatcher watcher;
  vexa::Image::Pointer image = vexa::Image::New();
  EXPECT_EQ(1, image->GetReferenceCount());
  watcher.Watch(image);
  vexa::Image::Pointer second = image;
  EXPECT_EQ(2, image->GetReferenceCount());
  second = nullptr;
  EXPECT_EQ(0, watcher.announced.load());
  image = nullptr;
  EXPECT_EQ(1, watcher.announced.load());
  EXPECT_GE(watcher.countSeen, 1);
}

TEST(BaseDataReferenceCount, DeletionLeavesItkNothingToComplainAbout)
{
  vexa::test::CapturedItkOutput output;
  vexa::Image::New();
  EXPECT_EQ("", output.Text());
}

TEST(BaseDataReferenceCount, TryRegisterOnlyWhileAlive)
{
  vexa::Image::Pointer image = vexa::Image::New();
  ASSERT_TRUE(image->TryRegister());
  EXPECT_EQ(2, image->GetReferenceCount());
  image->UnRegister();

  struct Probe
  {
    const vexa::Image *image = nullptr;
    bool registered = true;
    void Try() { registered = image->TryRegister(); }
  } probe;
  probe.image = image;
  auto command = itk::SimpleMemberCommand<Probe>::New();
  command->SetCallbackFunction(&probe, &Probe::Try);
  image->AddObserver(itk::DeleteEvent(), command);
  image = nullptr;
  EXPECT_FALSE(probe.registered); // a dying object gives no new reference
}

// Two threads releasing the last two references at once: exactly one
// announcement, never none (ITK's own counting can skip it).
TEST(BaseDataReferenceCount, ConcurrentReleasesAnnounceExactlyOnce)
{
  for (int round = 0; round < 500; ++round)
  {
    DeleteWatcher watcher;
    vexa::Image::Pointer a = vexa::Image::New();
    watcher.Watch(a);
    vexa::Image::Pointer b = a;
    std::atomic<bool> go{false};
    std::thread other([&]() {
      while (!go)
        std::this_thread::yield();
      b = nullptr;
    });
    go = true;
    a = nullptr;
    other.join();
    ASSERT_EQ(1, watcher.announced.load()) << "round " << round;
  }
}
