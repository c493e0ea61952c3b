#ifndef vorlenPseudoStream_h
#define vorlenPseudoStream_h

#include "vorlenExports.h"
#include "vorlenLogSink.h"

#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace vorlen
{
  /**
   * How a value is written into a record: with its stream operator. A library
   * specialises it for a type whose stream operator does not suit a log record
   * (one that crashes on a null smart pointer, for example).
   */
  template <class T, class Enable = void>
  struct LogValueWriter
  {
    static void Write(std::ostream &os, const T &value) { os << value; }
  };

  /**
   * One log record. It lives for one statement: values are appended with <<,
   * and the destructor hands the finished record to the sink.
   *
   * Values are always formatted in the "C" locale; the locale of the record's
   * own stream is restored after every append, and the process's global
   * locale is never touched, so threads do not disturb each other.
   */
  class VORLEN_EXPORT PseudoStream
  {
  public:
    PseudoStream(int level, const char *filePath, int lineNumber, const char *functionName);
    ~PseudoStream();

    PseudoStream(const PseudoStream &) = delete;
    PseudoStream &operator=(const PseudoStream &) = delete;

    /** Adds a category tag. */
    PseudoStream &operator()(const char *category);
    PseudoStream &operator()(const std::string &category) { return (*this)(category.c_str()); }
    /** A false flag disables the record for good; true changes nothing. */
    PseudoStream &operator()(bool enabled);

    template <class T>
    PseudoStream &operator<<(const T &value)
    {
      if (m_Disable)
        return *this;
      std::ostringstream &s = Stream();
      const std::locale previous = s.imbue(std::locale::classic());
      LogValueWriter<T>::Write(s, value);
      s.imbue(previous);
      return *this;
    }

    PseudoStream &operator<<(std::ostream &(*manipulator)(std::ostream &))
    {
      if (!m_Disable)
        manipulator(Stream());
      return *this;
    }

    bool IsEnabled() const { return !m_Disable; }

    /** The qualified name ("ns::Class::Method") inside a compiler's function signature. */
    static std::string QualifiedFunctionName(const char *signature);

  private:
    std::ostringstream &Stream()
    {
      if (!m_Stream)
        m_Stream.emplace();
      return *m_Stream;
    }

    bool m_Disable = false;
    int m_Level;
    const char *m_File;
    int m_Line;
    const char *m_Function;
    std::vector<std::string> m_Categories;
    std::optional<std::ostringstream> m_Stream;
  };
}

#endif
