#ifndef vorlenLogSink_h
#define vorlenLogSink_h

#include "vorlenExports.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorlen
{
  /** One finished log record as the sink receives it. */
  struct LogRecord
  {
    int level = 0; // 0 info, 1 warning, 2 error
    std::string file;
    int line = 0;
    std::string function; // qualified name, "ns::Class::Method"
    std::vector<std::string> categories;
    std::string text;
    std::thread::id thread;
  };

  /** Name of a level as the default sink writes it ("INFO", "WARNING", "ERROR"). */
  VORLEN_EXPORT const char *LevelName(int level);

  /** The record as one line of text, the way the default sink writes it. */
  VORLEN_EXPORT std::string FormatRecord(const LogRecord &record);

  /**
   * A sink is called once per record, possibly from several threads at once;
   * it must be thread-safe itself. Records of one call never interleave with
   * other records in the default sink because each is written with one call.
   */
  using LogSink = std::function<void(const LogRecord &)>;

  /** Replaces the process-wide sink; an empty function restores standard error. */
  VORLEN_EXPORT void SetSink(LogSink sink);

  /** Hands one record to the current sink. Never throws. */
  VORLEN_EXPORT void Dispatch(const LogRecord &record) noexcept;

  /**
   * Collects records for the lifetime of the object instead of writing them
   * (tests, and callers that want to show log output themselves). Restores the
   * default sink when destroyed. Not nestable.
   */
  class VORLEN_EXPORT CapturingSink
  {
  public:
    CapturingSink();
    ~CapturingSink();
    CapturingSink(const CapturingSink &) = delete;
    CapturingSink &operator=(const CapturingSink &) = delete;

    std::vector<LogRecord> Records() const;
    /** Texts of all records of a level (-1: every level), in order. */
    std::vector<std::string> Texts(int level = -1) const;
    /** True when some record's text contains the fragment. */
    bool Contains(const std::string &fragment, int level = -1) const;
    void Clear();

  private:
    struct State;
    std::shared_ptr<State> m_State;
  };
}

#endif
