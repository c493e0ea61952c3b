#include <vexaObserverList.h>

#include <vexaFunctionCommand.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
  using namespace std::chrono_literals;

  // a one-shot flag a test thread can wait for
  class Signal
  {
  public:
    void Set()
    {
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Set = true;
      }
      m_Condition.notify_all();
    }
    bool WaitFor(std::chrono::milliseconds timeout)
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      return m_Condition.wait_for(lock, timeout, [this] { return m_Set; });
    }

  private:
    std::mutex m_Mutex;
    std::condition_variable m_Condition;
    bool m_Set = false;
  };
}

TEST(FunctionCommand, BothExecuteOverloadsCallTheFunctionWithCallerAndEvent)
{
  itk::Object::Pointer object = itk::Object::New();
  std::vector<std::pair<itk::Object *, std::string>> calls;
  auto command = vexa::FunctionCommand::New(
    [&](itk::Object *caller, const itk::EventObject &event) { calls.emplace_back(caller, event.GetEventName()); });
  command->Execute(object.GetPointer(), itk::ModifiedEvent());
  command->Execute(static_cast<const itk::Object *>(object.GetPointer()), itk::DeleteEvent());
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].first, object.GetPointer());
  EXPECT_EQ(calls[0].second, "ModifiedEvent");
  EXPECT_EQ(calls[1].first, object.GetPointer());
  EXPECT_EQ(calls[1].second, "DeleteEvent");

  // an empty function is a command that does nothing
  EXPECT_NO_THROW(vexa::FunctionCommand::New({})->Execute(object.GetPointer(), itk::AnyEvent()));
}

TEST(ObserverList, CallsTheObserversOfAnEventAndItsSubclassesInOrder)
{
  vexa::ObserverList list;
  itk::Object::Pointer caller = itk::Object::New();
  std::vector<std::string> calls;
  list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) { calls.push_back("modified"); });
  list.AddObserver(itk::AnyEvent(), vexa::FunctionCommand::New([&](itk::Object *c, const itk::EventObject &e) {
                     calls.push_back(std::string("any ") + e.GetEventName() + (c == caller ? " from caller" : ""));
                   }));
  list.AddObserver(itk::DeleteEvent(), [&](const itk::EventObject &) { calls.push_back("delete"); });

  EXPECT_TRUE(list.HasObserver(itk::ModifiedEvent()));
  EXPECT_TRUE(list.HasObserver(itk::StartEvent())); // through AnyEvent

  list.InvokeEvent(itk::ModifiedEvent(), caller.GetPointer());
  list.InvokeEvent(itk::StartEvent(), static_cast<const itk::Object *>(caller.GetPointer()));
  EXPECT_EQ(calls,
            (std::vector<std::string>{"modified", "any ModifiedEvent from caller", "any StartEvent from caller"}));
}

TEST(ObserverList, RemovalByTagAndAllAtOnce)
{
  vexa::ObserverList list(100);
  int a = 0, b = 0;
  const unsigned long tagA = list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) { ++a; });
  const unsigned long tagB = list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) { ++b; });
  EXPECT_GE(tagA, 100u);
  EXPECT_NE(tagA, tagB);

  EXPECT_TRUE(list.RemoveObserver(tagA));
  EXPECT_FALSE(list.RemoveObserver(tagA));
  EXPECT_FALSE(list.RemoveObserver(12345));
  list.InvokeEvent(itk::ModifiedEvent());
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);

  list.RemoveAllObservers();
  EXPECT_FALSE(list.HasObserver(itk::ModifiedEvent()));
  list.InvokeEvent(itk::ModifiedEvent());
  EXPECT_EQ(b, 1);
}

TEST(ObserverList, ObserversMayChangeTheListFromInsideTheirCall)
{
  vexa::ObserverList list;
  int selfRemoving = 0, added = 0, nested = 0;
  unsigned long selfTag = 0;
  selfTag = list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) {
    ++selfRemoving;
    EXPECT_TRUE(list.RemoveObserver(selfTag)); // must not wait for itself
    list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) { ++added; });
    list.InvokeEvent(itk::StartEvent()); // invoking from inside holds no lock
  });
  list.AddObserver(itk::StartEvent(), [&](const itk::EventObject &) { ++nested; });

  list.InvokeEvent(itk::ModifiedEvent());
  EXPECT_EQ(selfRemoving, 1);
  EXPECT_EQ(added, 0); // added during the invocation: first called by the next one
  EXPECT_EQ(nested, 1);

  list.InvokeEvent(itk::ModifiedEvent());
  EXPECT_EQ(selfRemoving, 1);
  EXPECT_EQ(added, 1);
}

TEST(ObserverList, AnObserverRemovedLaterInTheSameInvocationIsNotCalled)
{
  vexa::ObserverList list;
  int second = 0;
  unsigned long secondTag = 0;
  list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) { list.RemoveObserver(secondTag); });
  secondTag = list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) { ++second; });
  list.InvokeEvent(itk::ModifiedEvent());
  EXPECT_EQ(second, 0);
}

TEST(ObserverList, RemovalWaitsForACallRunningOnAnotherThread)
{
  vexa::ObserverList list;
  Signal entered, release;
  std::atomic<bool> finished{false};
  std::atomic<int> callsAfterRemoval{0};
  std::atomic<bool> removed{false};
  const unsigned long tag = list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) {
    if (removed)
      ++callsAfterRemoval;
    entered.Set();
    release.WaitFor(10s);
    finished = true;
  });
  std::thread worker([&] { list.InvokeEvent(itk::ModifiedEvent()); });
  ASSERT_TRUE(entered.WaitFor(10s));

  std::thread remover([&] {
    list.RemoveObserver(tag);
    removed = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(removed) << "removal returned while the observer still ran";
  release.Set();
  remover.join();
  worker.join();
  EXPECT_TRUE(finished);

  list.InvokeEvent(itk::ModifiedEvent());
  EXPECT_EQ(callsAfterRemoval, 0);
}

TEST(ObserverList, ConcurrentInvokersAddersAndRemoversNeverCallARemovedObserver)
{
  vexa::ObserverList list;
  std::atomic<bool> stop{false};
  std::atomic<int> lateCalls{0};
  std::atomic<long> calls{0};

  std::vector<std::thread> invokers;
  for (int i = 0; i < 3; ++i)
    invokers.emplace_back([&] {
      while (!stop)
        list.InvokeEvent(itk::ModifiedEvent());
    });
  std::vector<std::thread> churners;
  for (int t = 0; t < 2; ++t)
    churners.emplace_back([&] {
      for (int i = 0; i < 300; ++i)
      {
        auto gone = std::make_shared<std::atomic<bool>>(false);
        const unsigned long tag = list.AddObserver(itk::ModifiedEvent(), [&, gone](const itk::EventObject &) {
          ++calls;
          if (*gone)
            ++lateCalls;
        });
        std::this_thread::yield();
        list.RemoveObserver(tag);
        *gone = true;
      }
    });
  for (auto &t : churners)
    t.join();
  stop = true;
  for (auto &t : invokers)
    t.join();
  EXPECT_EQ(lateCalls, 0);
  EXPECT_FALSE(list.HasObserver(itk::ModifiedEvent()));
}

TEST(ObserverList, AnExceptionOfAnObserverReachesTheInvokerAndLeavesTheListUsable)
{
  vexa::ObserverList list;
  int after = 0;
  const unsigned long thrower = list.AddObserver(
    itk::ModifiedEvent(), [](const itk::EventObject &) { throw std::runtime_error("observer failed"); });
  list.AddObserver(itk::ModifiedEvent(), [&](const itk::EventObject &) { ++after; });
  EXPECT_THROW(list.InvokeEvent(itk::ModifiedEvent()), std::runtime_error);
  EXPECT_EQ(after, 0);
  // the failed call is over: removing it does not wait for it
  EXPECT_TRUE(list.RemoveObserver(thrower));
  list.InvokeEvent(itk::ModifiedEvent());
  EXPECT_EQ(after, 1);
}
