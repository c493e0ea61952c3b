#include "vorlenLogSink.h"

#include <cstdio>
#include <sstream>

namespace vorlen
{
  namespace
  {
    std::mutex &SinkMutex()
    {
      static std::mutex m;
      return m;
    }

    std::shared_ptr<LogSink> &CurrentSink()
    {
      static std::shared_ptr<LogSink> sink;
      return sink;
    }

    void WriteToStandardError(const LogRecord &record)
    {
      const std::string line = FormatRecord(record) + "\n";
      // one write per record: stdio locks the stream, so lines never interleave
      std::fwrite(line.data(), 1, line.size(), stderr);
    }
  }

  const char *LevelName(int level)
  {
    switch (level)
    {
      case 0:
        return "INFO";
      case 1:
        return "WARNING";
      case 2:
        return "ERROR";
      default:
        return "LOG";
    }
  }

  std::string FormatRecord(const LogRecord &r)
  {
    std::ostringstream s;
    s << LevelName(r.level);
    for (const auto &c : r.categories)
      s << " [" << c << "]";
    s << " " << r.function << " (" << r.file << ":" << r.line << "): " << r.text;
    return s.str();
  }

  void SetSink(LogSink sink)
  {
    std::shared_ptr<LogSink> next;
    if (sink)
      next = std::make_shared<LogSink>(std::move(sink));
    std::lock_guard<std::mutex> lock(SinkMutex());
    CurrentSink().swap(next);
  }

  void Dispatch(const LogRecord &record) noexcept
  {
    try
    {
      std::shared_ptr<LogSink> sink;
      {
        std::lock_guard<std::mutex> lock(SinkMutex());
        sink = CurrentSink();
      }
      // the sink is called without the lock held: it may log or block itself
      if (sink)
        (*sink)(record);
      else
        WriteToStandardError(record);
    }
    catch (...)
    {
      // a failing sink must never take the caller down
    }
  }

  struct CapturingSink::State
  {
    mutable std::mutex mutex;
    std::vector<LogRecord> records;
  };

  CapturingSink::CapturingSink() : m_State(std::make_shared<State>())
  {
    std::weak_ptr<State> weak = m_State;
    SetSink([weak](const LogRecord &r) {
      if (auto s = weak.lock())
      {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->records.push_back(r);
      }
    });
  }

  CapturingSink::~CapturingSink() { SetSink(LogSink()); }

  std::vector<LogRecord> CapturingSink::Records() const
  {
    std::lock_guard<std::mutex> lock(m_State->mutex);
    return m_State->records;
  }

  std::vector<std::string> CapturingSink::Texts(int level) const
  {
    std::vector<std::string> out;
    for (const auto &r : Records())
      if (level < 0 || r.level == level)
        out.push_back(r.text);
    return out;
  }

  bool CapturingSink::Contains(const std::string &fragment, int level) const
  {
    for (const auto &t : Texts(level))
      if (t.find(fragment) != std::string::npos)
        return true;
    return false;
  }

  void CapturingSink::Clear()
  {
    std::lock_guard<std::mutex> lock(m_State->mutex);
    m_State->records.clear();
  }
}
