#include "vexaParallelFor.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

unsigned int vexa::HardwareThreads()
{
  const unsigned int n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

namespace
{
  int PercentOf(std::size_t done, std::size_t count)
  {
    return count == 0 ? 100 : static_cast<int>((done * 100) / count);
  }

  /** Calls the callback only when the percentage grows; remembers the last one. */
  class ProgressReporter
  {
  public:
    ProgressReporter(const vexa::ProgressCallback &cb, const std::function<std::string(std::size_t)> &text)
      : m_Callback(cb), m_Text(text)
    {
    }

    void Report(std::size_t done, std::size_t count)
    {
      if (!m_Callback)
        return;
      const int percent = PercentOf(done, count);
      if (percent <= m_Last)
        return;
      m_Last = percent;
      m_Callback(percent, m_Text ? m_Text(done) : std::string());
    }

    void Start(std::size_t count)
    {
      if (!m_Callback)
        return;
      m_Last = 0;
      m_Callback(0, m_Text ? m_Text(0) : std::string());
    }

  private:
    const vexa::ProgressCallback &m_Callback;
    const std::function<std::string(std::size_t)> &m_Text;
    int m_Last = -1;
  };
}

void vexa::ParallelFor(std::size_t count,
                       unsigned int threads,
                       const std::function<void(std::size_t)> &body,
                       const ProgressCallback &progress,
                       const std::function<std::string(std::size_t)> &text)
{
  ProgressReporter reporter(progress, text);
  reporter.Start(count);

  if (threads == 0)
    threads = HardwareThreads();
  threads = static_cast<unsigned int>(std::min<std::size_t>(threads, std::max<std::size_t>(count, 1)));

  if (threads <= 1)
  {
    for (std::size_t i = 0; i < count; ++i)
    {
      body(i);
      reporter.Report(i + 1, count);
    }
    reporter.Report(count, count);
    return;
  }

  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t done = 0;       // guarded by mutex
  std::size_t running = threads; // guarded by mutex
  std::exception_ptr failure; // guarded by mutex

  auto work = [&]() {
    for (;;)
    {
      if (stop.load(std::memory_order_relaxed))
        break;
      const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= count)
        break;
      try
      {
        body(i);
      }
      catch (...)
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failure)
          failure = std::current_exception();
        stop = true;
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++done;
      }
      changed.notify_one();
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      --running;
    }
    changed.notify_one();
  };

  std::vector<std::thread> pool;
  pool.reserve(threads);
  try
  {
    for (unsigned int t = 0; t < threads; ++t)
      pool.emplace_back(work);
  }
  catch (...)
  {
    // Fewer threads than asked for: the ones that run finish the work.
    std::lock_guard<std::mutex> lock(mutex);
    running -= threads - pool.size();
    if (pool.empty())
    {
      failure = std::current_exception();
      stop = true;
    }
  }

  // The calling thread reports progress; the lock is never held while the
  // callback runs.
  std::exception_ptr callbackFailure;
  {
    std::unique_lock<std::mutex> lock(mutex);
    std::size_t seen = 0;
    for (;;)
    {
      changed.wait(lock, [&] { return running == 0 || done != seen; });
      seen = done;
      const bool finished = running == 0;
      lock.unlock();
      if (!stop)
      {
        try
        {
          reporter.Report(seen, count);
        }
        catch (...)
        {
          callbackFailure = std::current_exception();
          stop = true;
        }
      }
      lock.lock();
      if (finished)
        break;
    }
  }
  for (auto &t : pool)
    t.join();

  if (failure)
    std::rethrow_exception(failure);
  if (callbackFailure)
    std::rethrow_exception(callbackFailure);
  reporter.Report(count, count);
}
