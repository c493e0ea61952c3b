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
   * Runs body(i) for every i in [0, count) on `threads` threads (0: all
   * cores). Items are handed out one at a time, so uneven items balance.
   *
   * Progress is reported only on the calling thread, never on a worker, so a
   * callback needs no locking of its own: it is called with 0 first, then
   * each time the finished share grows by at least one percent, and with 100
   * last. That is at most 101 calls, strictly increasing. `text(done)` makes
   * the text for a call.
   *
   * When a body or the callback throws, no further items are started, the
   * workers are joined and the first exception is rethrown on the calling
   * thread.
   */
  VEXAPHOTOACOUSTICSALGORITHMS_EXPORT void ParallelFor(std::size_t count,
                                                       unsigned int threads,
                                                       const std::function<void(std::size_t)> &body,
                                                       const ProgressCallback &progress = ProgressCallback(),
                                                       const std::function<std::string(std::size_t)> &text = {});
}

#endif
