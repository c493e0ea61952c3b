#include <vexaAccessByItkException.h>
#include <vexaWeakPointer.h>

#include <vexaBaseGeometry.h>
#include <vexaImage.h>
#include <vexaPixelTypeTraits.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>

static_assert(!std::is_copy_constructible<vexa::WeakPointer<vexa::Image>>::value, "copyable");
static_assert(!std::is_copy_assignable<vexa::WeakPointer<vexa::Image>>::value, "copy-assignable");
static_assert(!std::is_move_constructible<vexa::WeakPointer<vexa::Image>>::value, "movable");

TEST(WeakPointer, ForgetsTheObjectWhenItIsDeleted)
{
  vexa::WeakPointer<vexa::Image> weak;
  EXPECT_FALSE(weak.Lock());
  int callbacks = 0;
  weak.SetDeleteCallback([&callbacks]() { ++callbacks; });

  vexa::Image::Pointer image = vexa::Image::New();
  weak = image;
  EXPECT_EQ(image.GetPointer(), weak.Lock().GetPointer());
  EXPECT_EQ(1, image->GetReferenceCount()); // the weak pointer counts nothing
  image = nullptr;
  EXPECT_FALSE(weak.Lock());
  EXPECT_EQ(1, callbacks);
}

TEST(WeakPointer, OneObserverOnTheWatchedObjectOnly)
{
  vexa::Image::Pointer first = vexa::Image::New();
  vexa::Image::Pointer second = vexa::Image::New();
  int callbacks = 0;
  {
    vexa::WeakPointer<vexa::Image> weak;
    weak.SetDeleteCallback([&callbacks]() { ++callbacks; });
    weak = first;
    weak = first;
    EXPECT_TRUE(first->HasObserver(itk::DeleteEvent()));
    weak = second;
    EXPECT_FALSE(first->HasObserver(itk::DeleteEvent())); // both registrations were one
    EXPECT_TRUE(second->HasObserver(itk::DeleteEvent()));
    first = nullptr;
    EXPECT_EQ(0, callbacks);
    EXPECT_EQ(second.GetPointer(), weak.Lock().GetPointer());
  }
  // the weak pointer went first: nothing of it stays on the image
  EXPECT_FALSE(second->HasObserver(itk::DeleteEvent()));
  second = nullptr;
  EXPECT_EQ(0, callbacks);
}

TEST(WeakPointer, AssigningNullStopsWatching)
{
  vexa::Image::Pointer image = vexa::Image::New();
  vexa::WeakPointer<vexa::Image> weak;
  weak = image;
  weak = nullptr;
  EXPECT_FALSE(weak.Lock());
  EXPECT_FALSE(image->HasObserver(itk::DeleteEvent()));
}

TEST(WeakPointer, WatchesAnyItkObject)
{
  vexa::WeakPointer<vexa::BaseGeometry> weak;
  vexa::BaseGeometry::Pointer geometry = vexa::BaseGeometry::New();
  weak = geometry;
  EXPECT_TRUE(weak.Lock());
  geometry = nullptr;
  EXPECT_FALSE(weak.Lock());
}

// Lock() on one thread while another releases the last reference: the
// result is either an intact object or null (the sanitizers watch the rest).
TEST(WeakPointer, LockRacesSafelyWithTheFinalRelease)
{
  for (int round = 0; round < 300; ++round)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    const unsigned int dims[] = {2, 2};
    image->Initialize(vexa::CreateScalarPixelType<float>(), 2, dims);
    vexa::WeakPointer<vexa::Image> weak;
    weak = image;
    std::atomic<bool> go{false};
    std::thread releaser([&]() {
      while (!go)
        std::this_thread::yield();
      image = nullptr;
    });
    go = true;
    for (;;)
    {
      vexa::Image::Pointer locked = weak.Lock();
      if (!locked)
        break;
      ASSERT_EQ(2u, locked->GetDimension());
    }
    releaser.join();
    EXPECT_FALSE(weak.Lock());
  }
}

TEST(AccessByItkException, CarriesItsTextAndIsAStandardException)
{
  const std::string text = "Dimension 3 is not in (2)";
  try
  {
    throw vexa::AccessByItkException(text);
  }
  catch (const std::runtime_error &e)
  {
    EXPECT_EQ(text, e.what());
  }
  try
  {
    throw vexa::AccessByItkException(text);
  }
  catch (const std::exception &e)
  {
    EXPECT_EQ(text, e.what());
  }
  const vexa::AccessByItkException original(text);
  const vexa::AccessByItkException copy(original);
  EXPECT_EQ(text, copy.what());
}
