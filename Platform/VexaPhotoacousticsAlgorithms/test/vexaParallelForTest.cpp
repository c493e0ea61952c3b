#include <vexaParallelFor.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

#include <atomic>
#include <functional>
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
  vexa::ParallelFor(0, 4, [](std::size_t) { FAIL(); }, [&](int p, std::string) { seen.push_back(p); });
  EXPECT_EQ(seen, (std::vector<int>{0, 100}));
}

TEST(ParallelFor, FewItemsGiveFewCallsAndMoreItemsAtMost101)
{
  std::vector<int> seen;
  vexa::ParallelFor(3, 2, [](std::size_t) {}, [&](int p, std::string) { seen.push_back(p); });
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_LE(seen.size(), 4u);

  seen.clear();
  vexa::ParallelFor(100000, 4, [](std::size_t) {}, [&](int p, std::string) { seen.push_back(p); });
  EXPECT_LE(seen.size(), 101u);
  EXPECT_EQ(seen.back(), 100);
}

TEST(ParallelFor, AFailingItemStopsTheRestAndIsRethrownOnTheCaller)
{
  for (unsigned int threads : {1u, 4u})
  {
    std::atomic<int> started{0};
    std::vector<int> seen;
    EXPECT_THROW(vexa::ParallelFor(
                   100000, threads,
                   [&](std::size_t i) {
                     ++started;
                     if (i == 10)
                       throw std::runtime_error("item failed");
                   },
                   [&](int p, std::string) { seen.push_back(p); }),
                 std::runtime_error);
    EXPECT_LT(started.load(), 100000);
    EXPECT_TRUE(seen.empty() || seen.back() < 100);
  }
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

namespace
{
  std::size_t ThreadsOfThisProcess()
  {
    std::size_t n = 0;
    if (DIR *d = opendir("/proc/self/task"))
    {
      while (const dirent *e = readdir(d))
        n += e->d_name[0] != '.';
      closedir(d);
    }
    return n;
  }
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
  const std::size_t before = ThreadsOfThisProcess();
  void *library = dlmopen(LM_ID_NEWLM, VEXA_PHOTOACOUSTICS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using ForEach = void (*)(std::size_t, unsigned int, const std::function<void(std::size_t)> &,
                           const std::function<void(std::size_t)> &);
  const auto forEach = reinterpret_cast<ForEach>(dlsym(library, "_ZN4vexa15ParallelForEachEmjRKSt8functionIFvmEES4_"));
  ASSERT_NE(forEach, nullptr) << dlerror();
  std::atomic<int> items{0};
  forEach(1000, 0, [&](std::size_t) { ++items; }, {});
  EXPECT_EQ(items.load(), 1000);
  EXPECT_GT(ThreadsOfThisProcess(), before);
  ASSERT_EQ(dlclose(library), 0);
  EXPECT_EQ(ThreadsOfThisProcess(), before);
#endif
}
