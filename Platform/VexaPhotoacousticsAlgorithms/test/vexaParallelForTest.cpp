#include <vexaParallelFor.h>
#include <vexaTestThisProcess.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <stdexcept>
#include <vector>

TEST(ParallelFor, RunsEveryItemOnceOnAnyThreadCount)
{
  for (unsigned int threads : {0u, 1u, 3u, 64u})
  {
    std::vector<std::atomic<int>> hits(500);
    vexa::ParallelFor(hits.size(), threads, [&](std::size_t i) { ++hits[i]; });
    for (auto &h : hits)
      ASSERT_EQ(h.load(), 1) << threads << " threads";
  }
}

TEST(ParallelFor, NoItemsStillEndsAtHundred)
{
  std::vector<int> seen;
  vexa::ParallelFor(
    0, 4, [](std::size_t) { FAIL(); }, [&](int p, std::string) { seen.push_back(p); });
  EXPECT_EQ(seen, (std::vector<int>{0, 100}));
}

TEST(ParallelFor, FewItemsGiveFewCallsAndMoreItemsAtMost101)
{
  std::vector<int> seen;
  vexa::ParallelFor(
    3, 2, [](std::size_t) {}, [&](int p, std::string) { seen.push_back(p); });
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_LE(seen.size(), 4u);

  seen.clear();
  vexa::ParallelFor(
    100000, 4, [](std::size_t) {}, [&](int p, std::string) { seen.push_back(p); });
  EXPECT_LE(seen.size(), 101u);
  EXPECT_EQ(seen.back(), 100);
}

namespace
{
  /**
   * Opened once; Wait() returns true from then on. It gives up (false) only
   * after a long time, so that a broken pool fails the test instead of
   * hanging it.
   */
  class Gate
  {
  public:
    void Open()
    {
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Open = true;
      }
      m_Opened.notify_all();
    }

    bool Wait()
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      return m_Opened.wait_for(lock, std::chrono::minutes(1), [this] { return m_Open; });
    }

  private:
    std::mutex m_Mutex;
    std::condition_variable m_Opened;
    bool m_Open = false;
  };
}

TEST(ParallelFor, AFailingItemStopsTheRestAndIsRethrownOnTheCaller)
{
  {
    // alone on the calling thread: nothing after the failing item runs
    std::atomic<int> started{0};
    std::vector<int> seen;
    EXPECT_THROW(vexa::ParallelFor(
                   100000, 1,
                   [&](std::size_t i) {
                     ++started;
                     if (i == 10)
                       throw std::runtime_error("item failed");
                   },
                   [&](int p, std::string) { seen.push_back(p); }),
                 std::runtime_error);
    EXPECT_EQ(11, started.load());
    EXPECT_EQ((std::vector<int>{0}), seen);
  }

  constexpr unsigned int kThreads = 4;
  const unsigned int participants = vexa::ParallelSlots(kThreads);
  if (participants < 2)
    GTEST_SKIP() << "one core: the calls run on the calling thread alone";

  // A worker fails. How long it takes from its throw until the call has
  // recorded the failure is up to the scheduler, and meanwhile the others
  // could run every item. So every other participant waits in its first item
  // until the failing worker has certainly left the call: it runs an item of
  // a second call, which it can join only after that. From then on nobody may
  // start an item of the first call.
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<std::thread::id> failer{std::thread::id()};
  std::atomic<int> started{0}, afterFailure{0}, gaveUp{0};
  std::vector<int> seen;
  Gate thrown, left;
  std::thread second([&] {
    gaveUp += !thrown.Wait();
    // its participants but the failing worker wait in one item each: one
    // item more than there can be participants keeps an item for that worker
    vexa::ParallelFor(vexa::ParallelSlots(0) + 1, 0, [&](std::size_t) {
      if (std::this_thread::get_id() == failer.load())
        left.Open();
      else
        gaveUp += !left.Wait();
    });
  });
  EXPECT_THROW(vexa::ParallelFor(
                 1000, kThreads,
                 [&](std::size_t) {
                   ++started;
                   const std::thread::id self = std::this_thread::get_id();
                   std::thread::id none;
                   if (self != caller && failer.compare_exchange_strong(none, self))
                   {
                     thrown.Open();
                     throw std::runtime_error("item failed");
                   }
                   if (self == failer.load())
                     ++afterFailure; // went on with the call it failed in
                   else
                     gaveUp += !left.Wait();
                 },
                 [&](int p, std::string) { seen.push_back(p); }),
               std::runtime_error);
  second.join();
  EXPECT_EQ(0, gaveUp.load()) << "no worker failed, or the failing one never got free";
  EXPECT_EQ(0, afterFailure.load());
  // the failing item and at most the one item each other participant had taken
  EXPECT_LE(started.load(), static_cast<int>(participants));
  EXPECT_TRUE(seen.empty() || seen.back() < 100);
}

TEST(ParallelFor, AThrowingCallbackStopsTheWorkAndReachesTheCaller)
{
  // refused at the first percent, and at the very last report
  for (int refuseFrom : {1, 100})
    for (unsigned int threads : {1u, 4u})
    {
      EXPECT_THROW(vexa::ParallelFor(
                     100000, threads, [](std::size_t) {},
                     [&](int p, std::string) {
                       if (p >= refuseFrom)
                         throw std::logic_error("callback failed");
                     }),
                   std::logic_error)
        << "refused from " << refuseFrom << " % on " << threads << " threads";
    }
}

TEST(ParallelFor, ConcurrentAndNestedCallsShareThePool)
{
  // several callers at once, each item starting a call of its own: every item
  // runs once, and nothing waits for a worker that is busy elsewhere
  constexpr int Callers = 4, Outer = 200, Inner = 16;
  std::vector<std::atomic<int>> hits(Callers * Outer * Inner);
  std::vector<std::thread> callers;
  for (int c = 0; c < Callers; ++c)
    callers.emplace_back([&, c] {
      vexa::ParallelFor(Outer, 0, [&](std::size_t o) {
        vexa::ParallelFor(Inner, 0, [&](std::size_t i) { ++hits[(c * Outer + o) * Inner + i]; });
      });
    });
  for (auto &t : callers)
    t.join();
  for (auto &h : hits)
    ASSERT_EQ(h.load(), 1);
}

TEST(ParallelFor, UnloadingTheLibraryEndsItsWorkers)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers do not support a second link-map namespace (dlmopen)";
#else
  if (vexa::HardwareThreads() < 2)
    GTEST_SKIP() << "one core: the library starts no workers";
  // A fresh copy of the library in a namespace of its own, so that unloading
  // it does not depend on this test program, which links it too.
  const int before = vexa::test::CountThreads();
  void *library = dlmopen(LM_ID_NEWLM, VEXA_PHOTOACOUSTICS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using ForEach = void (*)(std::size_t, unsigned int, const std::function<void(std::size_t)> &,
                           const std::function<void(std::size_t)> &);
  const auto forEach = reinterpret_cast<ForEach>(dlsym(library, "_ZN4vexa15ParallelForEachEmjRKSt8functionIFvmEES4_"));
  ASSERT_NE(forEach, nullptr) << dlerror();
  std::atomic<int> items{0};
  forEach(1000, 0, [&](std::size_t) { ++items; }, {});
  EXPECT_EQ(items.load(), 1000);
  EXPECT_GT(vexa::test::CountThreads(), before);
  ASSERT_EQ(dlclose(library), 0);
  EXPECT_EQ(vexa::test::CountThreads(), before);
#endif
}
