#ifndef vexaTestWaitUntil_h
#define vexaTestWaitUntil_h

#include <chrono>
#include <thread>

namespace vexa
{
  namespace test
  {
    /**
     * Polls the condition on the calling thread until it holds or `timeout`
     * has passed, sleeping `poll` between looks; the last answer of the
     * condition. The default time-out is generous for the sanitizer builds: a
     * test waits that long only when it is about to fail. A test that waits
     * for Qt events uses QtApplication::ProcessEventsUntil instead, which runs
     * the event loop meanwhile.
     */
    template <class Condition>
    bool WaitUntil(Condition condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10),
                   std::chrono::milliseconds poll = std::chrono::milliseconds(1))
    {
      const auto end = std::chrono::steady_clock::now() + timeout;
      while (!condition())
      {
        if (std::chrono::steady_clock::now() > end)
          return condition();
        std::this_thread::sleep_for(poll);
      }
      return true;
    }
  }
}

#endif
