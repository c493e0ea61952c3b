#include "vexaParallelFor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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

vexa::ProgressReporter::ProgressReporter(const ProgressCallback &callback,
                                         std::function<std::string(std::size_t)> text,
                                         std::size_t total)
  : m_Callback(callback), m_Text(std::move(text)), m_Total(total)
{
}

void vexa::ProgressReporter::Start()
{
  if (!m_Callback || m_Last >= 0)
    return;
  m_Last = 0;
  m_Callback(0, m_Text ? m_Text(0) : std::string());
}

void vexa::ProgressReporter::Report(std::size_t done)
{
  if (!m_Callback)
    return;
  const int percent =
    m_Total == 0 ? 100 : static_cast<int>((static_cast<double>(std::min(done, m_Total)) * 100.0) / m_Total);
  if (percent <= m_Last)
    return;
  m_Last = percent;
  m_Callback(percent, m_Text ? m_Text(done) : std::string());
}

namespace
{
  /** One ParallelForEach call as the pool sees it; lives on the caller's stack. */
  struct Job
  {
    std::size_t count = 0;
    const std::function<void(std::size_t, unsigned int)> *body = nullptr;
    unsigned int helpersWanted = 0; // pool workers that may join

    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::atomic<bool> stop{false};

    // guarded by the pool's mutex
    unsigned int helpers = 0; // pool workers inside RunItems of this job
    unsigned int joined = 0;  // pool workers that ever joined; worker k has slot k + 1
    std::exception_ptr failure;

    bool Joinable() const
    {
      return joined < helpersWanted && !stop.load(std::memory_order_relaxed) &&
             next.load(std::memory_order_relaxed) < count;
    }
  };

  // Set for good when the pool has ended (at exit or unload); a trivially
  // destructible flag stays readable by later static destructors, which then
  // run their items on their own thread.
  std::atomic<bool> PoolEnded{false};

  /**
   * The library's worker threads, started together on first use and ended
   * when the library's static objects are destroyed (process exit or unload
   * of the library): workers then finish the item they run, leave, and are
   * joined, so no thread runs code of an unloaded library. Jobs are taken
   * from a short list; the only locking happens when a worker joins or
   * leaves a job, never per item.
   */
  class Pool
  {
  public:
    ~Pool()
    {
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Ending = true;
      }
      PoolEnded = true;
      m_Wake.notify_all();
      for (std::thread &t : m_Workers)
      {
        // exit() called on a worker itself: it cannot join itself
        if (t.get_id() == std::this_thread::get_id())
          t.detach();
        else if (t.joinable())
          t.join();
      }
    }

    /** Starts the workers on first use; returns how many there are. */
    unsigned int Workers()
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (!m_Started && !m_Ending)
      {
        m_Started = true;
        const unsigned int wanted = vexa::HardwareThreads() - 1;
        try
        {
          for (unsigned int i = 0; i < wanted; ++i)
            m_Workers.emplace_back([this] { Run(); });
        }
        catch (...)
        {
          // fewer threads than cores: the ones that started do the work
        }
      }
      return static_cast<unsigned int>(m_Workers.size());
    }

    void Submit(Job &job)
    {
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Jobs.push_back(&job);
      }
      m_Posted.fetch_add(1, std::memory_order_release);
      if (job.helpersWanted == 1)
        m_Wake.notify_one();
      else
        m_Wake.notify_all();
    }

    /**
     * Takes the job off the list and waits until no worker is inside it;
     * `tick` runs without the lock every few milliseconds meanwhile.
     */
    void Withdraw(Job &job, const std::function<void()> &tick)
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_Jobs.erase(std::remove(m_Jobs.begin(), m_Jobs.end(), &job), m_Jobs.end());
      while (job.helpers > 0)
      {
        m_Left.wait_for(lock, std::chrono::milliseconds(5));
        if (job.helpers > 0)
        {
          lock.unlock();
          tick();
          lock.lock();
        }
      }
      m_Withdrawn.fetch_add(1, std::memory_order_release);
    }

    void Fail(Job &job, std::exception_ptr e)
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (!job.failure)
        job.failure = e;
      job.stop = true;
    }

    std::exception_ptr FailureOf(Job &job)
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      return job.failure;
    }

    void RunItems(Job &job, unsigned int slot)
    {
      for (;;)
      {
        if (job.stop.load(std::memory_order_relaxed) || PoolEnded.load(std::memory_order_relaxed))
          return;
        const std::size_t i = job.next.fetch_add(1, std::memory_order_relaxed);
        if (i >= job.count)
          return;
        try
        {
          (*job.body)(i, slot);
        }
        catch (...)
        {
          // not counted as done: a failed call never reaches its full count,
          // so no tick can report it complete
          Fail(job, std::current_exception());
          continue;
        }
        job.done.fetch_add(1, std::memory_order_release);
      }
    }

  private:
    Job *FindJob()
    {
      for (Job *j : m_Jobs)
        if (j->Joinable())
          return j;
      return nullptr;
    }

    void Run()
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      for (;;)
      {
        Job *job = nullptr;
        m_Wake.wait(lock, [&] { return m_Ending || (job = FindJob()) != nullptr; });
        if (m_Ending)
          return;
        ++job->helpers;
        const unsigned int slot = ++job->joined;
        lock.unlock();
        RunItems(*job, slot); // catches every exception of the body
        lock.lock();
        if (--job->helpers == 0)
          m_Left.notify_all();
        // Calls often come in streams (frame after frame): watch for the
        // next job a little before going to sleep, which saves waking up
        // through the kernel for it (on a virtual machine that takes longer
        // than many items). The watch lasts until a little after a job ends,
        // not after this worker's last item: the others may still run theirs
        // for a while, and the next call only comes after them.
        const unsigned long seen = m_Posted.load(std::memory_order_acquire);
        const unsigned long withdrawn = m_Withdrawn.load(std::memory_order_acquire);
        lock.unlock();
        auto until = std::chrono::steady_clock::now() + MaxWatch;
        bool ended = false;
        while (m_Posted.load(std::memory_order_acquire) == seen)
        {
          const auto now = std::chrono::steady_clock::now();
          if (!ended && m_Withdrawn.load(std::memory_order_acquire) != withdrawn)
          {
            ended = true;
            until = std::min(until, now + WatchAfterEnd);
          }
          if (now >= until)
            break;
          std::this_thread::yield();
        }
        lock.lock();
      }
    }

    std::mutex m_Mutex;
    std::condition_variable m_Wake; // a job arrived or the pool ends
    std::condition_variable m_Left; // a job lost its last worker
    std::vector<std::thread> m_Workers;
    std::vector<Job *> m_Jobs;
    std::atomic<unsigned long> m_Posted{0};    // jobs submitted so far
    std::atomic<unsigned long> m_Withdrawn{0}; // jobs ended so far
    static constexpr std::chrono::microseconds WatchAfterEnd{100};
    static constexpr std::chrono::microseconds MaxWatch{2000};
    bool m_Started = false;
    bool m_Ending = false;
  };

  Pool &ThePool()
  {
    static Pool pool;
    return pool;
  }
}

namespace
{
  unsigned int EffectiveThreads(unsigned int threads)
  {
    if (threads == 0)
      threads = vexa::HardwareThreads();
    return std::min(threads, vexa::HardwareThreads());
  }
}

unsigned int vexa::ParallelSlots(unsigned int threads)
{
  threads = EffectiveThreads(threads);
  if (threads <= 1 || PoolEnded.load())
    return 1;
  return std::min(threads, ThePool().Workers() + 1);
}

void vexa::ParallelForEach(std::size_t count,
                           unsigned int threads,
                           const std::function<void(std::size_t)> &body,
                           const std::function<void(std::size_t)> &tick)
{
  ParallelForEachSlot(
    count, threads, [&](std::size_t i, unsigned int) { body(i); }, tick);
}

void vexa::ParallelForEachSlot(std::size_t count,
                               unsigned int threads,
                               const std::function<void(std::size_t, unsigned int)> &body,
                               const std::function<void(std::size_t)> &tick)
{
  threads = static_cast<unsigned int>(std::min<std::size_t>(EffectiveThreads(threads), count));

  if (threads <= 1 || PoolEnded.load())
  {
    for (std::size_t i = 0; i < count; ++i)
    {
      body(i, 0);
      if (tick)
        tick(i + 1);
    }
    return;
  }

  Pool &pool = ThePool();
  Job job;
  job.count = count;
  job.body = &body;
  job.helpersWanted = std::min(threads - 1, pool.Workers());
  pool.Submit(job);

  // The caller works too (slot 0), and reports between its items.
  std::exception_ptr tickFailure;
  auto report = [&] {
    if (!tick || job.stop.load())
      return;
    try
    {
      tick(job.done.load(std::memory_order_acquire));
    }
    catch (...)
    {
      tickFailure = std::current_exception();
      job.stop = true;
    }
  };
  for (;;)
  {
    if (job.stop.load(std::memory_order_relaxed))
      break;
    const std::size_t i = job.next.fetch_add(1, std::memory_order_relaxed);
    if (i >= count)
      break;
    try
    {
      body(i, 0);
    }
    catch (...)
    {
      pool.Fail(job, std::current_exception()); // not counted as done, see RunItems
      continue;
    }
    job.done.fetch_add(1, std::memory_order_release);
    report();
  }
  // Every item is taken now (workers take one only after checking that the
  // pool still runs); wait for the ones still running.
  pool.Withdraw(job, report);

  if (const std::exception_ptr failure = pool.FailureOf(job))
    std::rethrow_exception(failure);
  report(); // the last count, which a tick may refuse too
  if (tickFailure)
    std::rethrow_exception(tickFailure);
}

void vexa::ParallelFor(std::size_t count,
                       unsigned int threads,
                       const std::function<void(std::size_t)> &body,
                       const ProgressCallback &progress,
                       const std::function<std::string(std::size_t)> &text)
{
  ProgressReporter reporter(progress, text, count);
  reporter.Start();
  if (!progress)
  {
    ParallelForEach(count, threads, body);
    return;
  }
  ParallelForEach(count, threads, body, [&](std::size_t done) { reporter.Report(done); });
  reporter.Report(count);
}
