#ifndef vexaParallelFor_h
#define vexaParallelFor_h

#include "VexaPhotoacousticsAlgorithmsExports.h"

#include <cstddef>
#include <functional>
#include <string>

namespace vexa
{
  /** Progress of a long operation: a percentage (0 to 100) and a text for the user. */
  using ProgressCallback = std::function<void(int, std::string)>;

  /** The worker threads a kernel uses when it is asked for 0 ("all cores"). */
  VEXAPHOTOACOUSTICSALGORITHMS_EXPORT unsigned int HardwareThreads();

  /**
   * Turns counts of finished items into percentages for a ProgressCallback:
   * 0 first (Start), then a call each time the finished share grows by at
   * least one percent, 100 last. That is at most 101 calls, strictly
   * increasing. `text(done)` makes the text for a call. Not thread-safe: it
   * belongs to the thread that reports.
   */
  class VEXAPHOTOACOUSTICSALGORITHMS_EXPORT ProgressReporter
  {
  public:
    ProgressReporter(const ProgressCallback &callback, std::function<std::string(std::size_t)> text, std::size_t total);
    void Start();
    void Report(std::size_t done);

  private:
    const ProgressCallback &m_Callback;
    std::function<std::string(std::size_t)> m_Text;
    std::size_t m_Total;
    int m_Last = -1;
  };

  /**
   * Runs body(i) for every i in [0, count) on up to `threads` threads (0: all
   * cores; never more than the cores). The calling thread takes part; the
   * others come from one pool of worker threads that the library starts on
   * first use and keeps until the process ends or the library is unloaded.
   * Items are handed out one at a time, so uneven items balance; an item
   * costs one atomic increment, so items should be coarse enough (tens of
   * microseconds or more). Several threads may call at once; a body may call
   * ParallelFor itself.
   *
   * `tick(done)` is called on the calling thread only, never on a worker:
   * between the caller's own items and, while the caller waits for the last
   * items of the workers, every few milliseconds. `done` never decreases.
   *
   * When a body or `tick` throws, no further items are started, the caller
   * waits until no worker runs an item of this call any more and the first
   * exception is rethrown on the calling thread.
   */
  VEXAPHOTOACOUSTICSALGORITHMS_EXPORT void ParallelForEach(std::size_t count,
                                                           unsigned int threads,
                                                           const std::function<void(std::size_t)> &body,
                                                           const std::function<void(std::size_t)> &tick = {});

  /**
   * The slots ParallelForEachSlot hands out for `threads` (0: all cores):
   * at most this many participants run items of one call. Starts the pool.
   */
  VEXAPHOTOACOUSTICSALGORITHMS_EXPORT unsigned int ParallelSlots(unsigned int threads);

  /**
   * ParallelForEach whose body also learns which participant runs the item:
   * slot < ParallelSlots(threads), and two items that run at the same time
   * never share a slot, so per-slot buffers need no locking (and no
   * thread-local storage, which would keep the library from being unloaded).
   */
  VEXAPHOTOACOUSTICSALGORITHMS_EXPORT void ParallelForEachSlot(
    std::size_t count,
    unsigned int threads,
    const std::function<void(std::size_t item, unsigned int slot)> &body,
    const std::function<void(std::size_t)> &tick = {});

  /**
   * ParallelForEach with progress as percentages (see ProgressReporter): 0
   * first, 100 last when every item has run; nothing more after a failure.
   */
  VEXAPHOTOACOUSTICSALGORITHMS_EXPORT void ParallelFor(std::size_t count,
                                                       unsigned int threads,
                                                       const std::function<void(std::size_t)> &body,
                                                       const ProgressCallback &progress = ProgressCallback(),
                                                       const std::function<std::string(std::size_t)> &text = {});
}

#endif
