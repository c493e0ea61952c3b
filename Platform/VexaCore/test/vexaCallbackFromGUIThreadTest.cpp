#include <vexaCallbackFromGUIThread.h>

#include <vorlenLogSink.h>

#include <vexaFunctionCommand.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace
{
  vexa::FunctionCommand::Pointer MakeCommand(std::function<void()> f)
  {
    return vexa::FunctionCommand::New([f = std::move(f)](itk::Object *, const itk::EventObject &) { f(); });
  }

  struct Drain
  {
    ~Drain() { vexa::CallbackFromGUIThread::GetInstance()->ProcessPendingCalls(); }
  };
}

TEST(CallbackFromGUIThread, PostsFromManyThreadsRunInOrderOnTheProcessingThread)
{
  auto *callback = vexa::CallbackFromGUIThread::GetInstance();
  Drain drain;
  // ITK builds its object-factory list on the first object it makes, and that
  // is not thread-safe: make the first command here, before the posters start
  MakeCommand([] {});
  std::mutex mutex;
  std::vector<std::pair<int, int>> order; // (thread, index)
  std::atomic<int> wrongThread{0};
  const auto gui = std::this_thread::get_id();
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i)
        callback->CallThisFromGUIThread(MakeCommand([&, t, i] {
          if (std::this_thread::get_id() != gui)
            ++wrongThread;
          std::lock_guard<std::mutex> lock(mutex);
          order.emplace_back(t, i);
        }));
    });
  for (auto &p : posters)
    p.join();
  EXPECT_TRUE(order.empty()) << "a post ran on the posting thread";
  EXPECT_EQ(400u, callback->ProcessPendingCalls());
  EXPECT_EQ(0, wrongThread.load());
  ASSERT_EQ(400u, order.size());
  // FIFO per posting thread
  std::vector<int> next(4, 0);
  for (const auto &e : order)
    EXPECT_EQ(next[e.first]++, e.second);
}

TEST(CallbackFromGUIThread, CancelDropsPendingCallsOfOneCommand)
{
  auto *callback = vexa::CallbackFromGUIThread::GetInstance();
  Drain drain;
  int a = 0, b = 0;
  auto ca = MakeCommand([&] { ++a; });
  auto cb = MakeCommand([&] { ++b; });
  callback->CallThisFromGUIThread(ca);
  callback->CallThisFromGUIThread(cb);
  callback->CallThisFromGUIThread(ca, new itk::ModifiedEvent);
  EXPECT_EQ(2u, callback->CancelCallsOf(ca));
  EXPECT_EQ(1u, callback->ProcessPendingCalls());
  EXPECT_EQ(0, a);
  EXPECT_EQ(1, b);
}

TEST(CallbackFromGUIThread, FailingCommandIsLoggedAndTheOthersStillRun)
{
  auto *callback = vexa::CallbackFromGUIThread::GetInstance();
  Drain drain;
  vorlen::CapturingSink sink;
  int ran = 0;
  callback->CallThisFromGUIThread(MakeCommand([] { throw std::runtime_error("boom"); }));
  callback->CallThisFromGUIThread(MakeCommand([&] { ++ran; }));
  EXPECT_EQ(2u, callback->ProcessPendingCalls());
  EXPECT_EQ(1, ran);
  EXPECT_TRUE(sink.Contains("boom", 2));
}

TEST(CallbackFromGUIThread, BackendIsWokenForEveryPostWithoutRunningIt)
{
  struct CountingBackend : vexa::CallbackFromGUIThread::Backend
  {
    std::atomic<int> wakes{0};
    void Wake() override { ++wakes; }
  } backend;
  auto *callback = vexa::CallbackFromGUIThread::GetInstance();
  Drain drain;
  callback->SetBackend(&backend);
  int ran = 0;
  callback->CallThisFromGUIThread(MakeCommand([&] { ++ran; }));
  callback->CallThisFromGUIThread(MakeCommand([&] { ++ran; }));
  callback->SetBackend(nullptr);
  EXPECT_EQ(2, backend.wakes.load());
  EXPECT_EQ(0, ran);
  callback->ProcessPendingCalls();
  EXPECT_EQ(2, ran);
}
