#include "vorlenPseudoStream.h"

#include <cstring>

namespace vorlen
{
  PseudoStream::PseudoStream(int level, const char *filePath, int lineNumber, const char *functionName)
    : m_Level(level), m_File(filePath ? filePath : ""), m_Line(lineNumber), m_Function(functionName ? functionName : "")
  {
  }

  PseudoStream::~PseudoStream()
  {
    if (m_Disable)
      return;
    try
    {
      LogRecord r;
      r.level = m_Level;
      r.file = m_File;
      r.line = m_Line;
      r.function = QualifiedFunctionName(m_Function);
      r.categories = std::move(m_Categories);
      if (m_Stream)
        r.text = m_Stream->str();
      r.thread = std::this_thread::get_id();
      Dispatch(r);
    }
    catch (...)
    {
      // a record that cannot be written is lost, never thrown out of a destructor
    }
  }

  PseudoStream &PseudoStream::operator()(const char *category)
  {
    if (!m_Disable && category)
      m_Categories.emplace_back(category);
    return *this;
  }

  PseudoStream &PseudoStream::operator()(bool enabled)
  {
    if (!enabled)
      m_Disable = true;
    return *this;
  }

  std::string PseudoStream::QualifiedFunctionName(const char *signature)
  {
    if (!signature)
      return std::string();
    std::string s(signature);
    // g++ appends template arguments as " [with T = ...]"
    const auto with = s.find(" [with ");
    if (with != std::string::npos)
      s.erase(with);

    // find the parameter list: the last top-level "(...)" of the signature
    int depth = 0;
    std::size_t close = std::string::npos;
    for (std::size_t i = s.size(); i-- > 0;)
    {
      if (s[i] == ')')
      {
        if (depth == 0)
          close = i;
        ++depth;
      }
      else if (s[i] == '(')
      {
        --depth;
        if (depth == 0 && close != std::string::npos)
        {
          // "operator()" itself is a name, not a parameter list
          if (i >= 8 && s.compare(i - 8, 8, "operator") == 0 && i + 1 < s.size() && s[i + 1] == ')')
          {
            close = std::string::npos;
            continue;
          }
          std::size_t end = i;
          std::size_t begin = end;
          int angle = 0;
          while (begin > 0)
          {
            char c = s[begin - 1];
            if (c == '>')
              ++angle;
            else if (c == '<')
            {
              // "operator<" and "operator<<" are names, not template brackets
              if (angle == 0)
              {
                if (begin >= 9 && s.compare(begin - 9, 8, "operator") == 0)
                {
                  --begin;
                  continue;
                }
                if (begin >= 10 && s.compare(begin - 10, 8, "operator") == 0)
                {
                  --begin;
                  continue;
                }
              }
              --angle;
            }
            else if (c == ' ' && angle == 0)
            {
              // "operator new", "operator delete" and conversion operators keep their blank
              if (begin >= 9 && s.compare(begin - 9, 8, "operator") == 0)
              {
                --begin;
                continue;
              }
              break;
            }
            --begin;
          }
          std::string name = s.substr(begin, end - begin);
          while (!name.empty() && (name[0] == '*' || name[0] == '&'))
            name.erase(0, 1);
          return name.empty() ? s : name;
        }
      }
    }
    return s;
  }
}
