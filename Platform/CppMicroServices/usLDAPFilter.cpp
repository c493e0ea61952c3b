#include <usLDAPFilter.h>

#include "usCoreRegistry.h"

#include <usServiceReference.h>

#include <algorithm>
#include <charconv>
#include <list>
#include <stdexcept>
#include <system_error>

namespace us
{
  namespace detail
  {
    /** A parsed filter. Items keep their key in lower case; values are unescaped. */
    struct LDAPExpr
    {
      enum Kind
      {
        And,
        Or,
        Not,
        Equal,
        Approx,
        GreaterEq,
        LessEq,
        Present,
        Substring
      };
      Kind kind = Equal;
      std::string key;                   // lower case
      std::size_t keyHash = 0;           // PropertySet::Hash(key)
      std::string value;                 // Equal, Approx, GreaterEq, LessEq
      std::vector<std::string> segments; // Substring: the value split at its wildcards
      std::vector<LDAPExpr> children;    // And, Or (one or more), Not (one)
    };

    ValueKind KindOf(const Any &any)
    {
      const std::type_info &type = any.Type();
      if (type == typeid(std::string))
        return ValueKind::Text;
      if (type == typeid(std::vector<std::string>))
        return ValueKind::TextVector;
      if (type == typeid(bool))
        return ValueKind::Bool;
      if (type == typeid(int))
        return ValueKind::Int;
      if (type == typeid(long))
        return ValueKind::Long;
      if (type == typeid(long long))
        return ValueKind::LongLong;
      if (type == typeid(short))
        return ValueKind::Short;
      if (type == typeid(unsigned int))
        return ValueKind::UnsignedInt;
      if (type == typeid(unsigned long))
        return ValueKind::UnsignedLong;
      if (type == typeid(unsigned long long))
        return ValueKind::UnsignedLongLong;
      if (type == typeid(unsigned short))
        return ValueKind::UnsignedShort;
      if (type == typeid(double))
        return ValueKind::Double;
      if (type == typeid(float))
        return ValueKind::Float;
      if (type == typeid(std::list<std::string>))
        return ValueKind::TextList;
      if (type == typeid(std::vector<Any>))
        return ValueKind::AnyVector;
      if (type == typeid(std::list<Any>))
        return ValueKind::AnyList;
      return ValueKind::Other;
    }

    namespace
    {
      bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

      std::string Trimmed(const std::string &text)
      {
        std::size_t b = 0, e = text.size();
        while (b < e && IsSpace(text[b]))
          ++b;
        while (e > b && IsSpace(text[e - 1]))
          --e;
        return text.substr(b, e - b);
      }

      int HexDigit(char c)
      {
        if (c >= '0' && c <= '9')
          return c - '0';
        if (c >= 'a' && c <= 'f')
          return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
          return c - 'A' + 10;
        return -1;
      }

      class Parser
      {
      public:
        explicit Parser(const std::string &text) : m_Text(text) {}

        LDAPExpr ParseWhole()
        {
          SkipSpace();
          LDAPExpr expr = ParseFilter();
          SkipSpace();
          if (m_Pos != m_Text.size())
            Fail("unexpected text after the end of the filter");
          return expr;
        }

      private:
        [[noreturn]] void Fail(const std::string &what) const
        {
          throw std::invalid_argument("Invalid LDAP filter \"" + m_Text + "\": " + what + " at offset " +
                                      std::to_string(m_Pos));
        }

        bool AtEnd() const { return m_Pos >= m_Text.size(); }
        char Peek() const { return m_Text[m_Pos]; }
        void SkipSpace()
        {
          while (!AtEnd() && IsSpace(Peek()))
            ++m_Pos;
        }

        LDAPExpr ParseFilter()
        {
          if (AtEnd())
            Fail("missing '('");
          if (Peek() != '(')
            Fail(std::string("expected '(' but found '") + Peek() + "'");
          ++m_Pos;
          SkipSpace();
          LDAPExpr expr = ParseComponent();
          SkipSpace();
          if (AtEnd())
            Fail("missing ')'");
          if (Peek() != ')')
            Fail(std::string("expected ')' but found '") + Peek() + "'");
          ++m_Pos;
          return expr;
        }

        LDAPExpr ParseComponent()
        {
          if (AtEnd())
            Fail("unexpected end of the filter");
          const char c = Peek();
          if (c == '&' || c == '|')
          {
            ++m_Pos;
            LDAPExpr expr;
            expr.kind = (c == '&') ? LDAPExpr::And : LDAPExpr::Or;
            SkipSpace();
            while (!AtEnd() && Peek() == '(')
            {
              expr.children.push_back(ParseFilter());
              SkipSpace();
            }
            if (expr.children.empty())
              Fail(std::string("'") + c + "' needs at least one filter");
            return expr;
          }
          if (c == '!')
          {
            ++m_Pos;
            SkipSpace();
            LDAPExpr expr;
            expr.kind = LDAPExpr::Not;
            expr.children.push_back(ParseFilter());
            return expr;
          }
          return ParseItem();
        }

        LDAPExpr ParseItem()
        {
          const std::size_t start = m_Pos;
          while (!AtEnd() && std::string("=<>~()").find(Peek()) == std::string::npos)
            ++m_Pos;
          const std::string key = Trimmed(m_Text.substr(start, m_Pos - start));
          if (key.empty())
            Fail("missing key");
          if (AtEnd())
            Fail("missing '=' after the key \"" + key + "\"");

          LDAPExpr expr;
          expr.key = LowerCase(key);
          expr.keyHash = PropertySet::Hash(expr.key);
          const char c = Peek();
          if (c == '=')
          {
            expr.kind = LDAPExpr::Equal;
            ++m_Pos;
          }
          else if ((c == '~' || c == '>' || c == '<') && m_Pos + 1 < m_Text.size() && m_Text[m_Pos + 1] == '=')
          {
            expr.kind = (c == '~') ? LDAPExpr::Approx : (c == '>') ? LDAPExpr::GreaterEq : LDAPExpr::LessEq;
            m_Pos += 2;
          }
          else
            Fail("expected '=', '~=', '>=' or '<=' after the key \"" + key + "\"");

          // The value: up to the closing parenthesis; unescaped '*' separates segments.
          std::vector<std::string> segments(1);
          while (true)
          {
            if (AtEnd())
              Fail("missing ')' after the value");
            const char v = Peek();
            if (v == ')')
              break;
            if (v == '(')
              Fail("unescaped '(' in the value (write \\28)");
            if (v == '*')
            {
              segments.emplace_back();
              ++m_Pos;
              continue;
            }
            if (v == '\\')
            {
              if (m_Pos + 1 >= m_Text.size())
                Fail("'\\' at the end of the value");
              const int h1 = HexDigit(m_Text[m_Pos + 1]);
              const int h2 = (m_Pos + 2 < m_Text.size()) ? HexDigit(m_Text[m_Pos + 2]) : -1;
              if (h1 >= 0 && h2 >= 0)
              {
                segments.back() += static_cast<char>(h1 * 16 + h2);
                m_Pos += 3;
                continue;
              }
              const char escaped = m_Text[m_Pos + 1];
              if (escaped == '*' || escaped == '(' || escaped == ')' || escaped == '\\')
              {
                segments.back() += escaped;
                m_Pos += 2;
                continue;
              }
              Fail("invalid escape in the value (use '\\' and two hex digits)");
            }
            segments.back() += v;
            ++m_Pos;
          }

          if (expr.kind == LDAPExpr::Equal && segments.size() > 1)
          {
            if (segments.size() == 2 && segments[0].empty() && segments[1].empty())
              expr.kind = LDAPExpr::Present;
            else
            {
              expr.kind = LDAPExpr::Substring;
              expr.segments = std::move(segments);
            }
            return expr;
          }
          // Only equality knows wildcards; elsewhere '*' is a character.
          for (std::size_t i = 0; i < segments.size(); ++i)
          {
            if (i)
              expr.value += '*';
            expr.value += segments[i];
          }
          return expr;
        }

        const std::string &m_Text;
        std::size_t m_Pos = 0;
      };

      enum class Op
      {
        Equal,
        Approx,
        GreaterEq,
        LessEq
      };

      Op OpOf(LDAPExpr::Kind kind)
      {
        switch (kind)
        {
          case LDAPExpr::Approx:
            return Op::Approx;
          case LDAPExpr::GreaterEq:
            return Op::GreaterEq;
          case LDAPExpr::LessEq:
            return Op::LessEq;
          default:
            return Op::Equal;
        }
      }

      std::string Approximated(const std::string &text)
      {
        std::string out;
        for (char c : text)
          if (!IsSpace(c))
            out += static_cast<char>(CaseInsensitiveLess::ToLower(static_cast<unsigned char>(c)));
        return out;
      }

      bool CompareText(const std::string &property, Op op, const std::string &value)
      {
        switch (op)
        {
          case Op::Equal:
            return property == value;
          case Op::Approx:
            return Approximated(property) == Approximated(value);
          case Op::GreaterEq:
            return property >= value;
          case Op::LessEq:
            return property <= value;
        }
        return false;
      }

      template <class N>
      bool ParseNumber(const std::string &text, N &out)
      {
        const std::string t = Trimmed(text);
        if (t.empty())
          return false;
        const char *begin = t.data();
        const char *end = t.data() + t.size();
        if (*begin == '+')
          ++begin;
        const auto result = std::from_chars(begin, end, out);
        return result.ec == std::errc() && result.ptr == end;
      }

      template <class N>
      bool CompareNumber(N property, Op op, const std::string &value)
      {
        N parsed{};
        if (!ParseNumber(value, parsed))
          return false;
        switch (op)
        {
          case Op::Equal:
          case Op::Approx:
            return property == parsed;
          case Op::GreaterEq:
            return property >= parsed;
          case Op::LessEq:
            return property <= parsed;
        }
        return false;
      }

      bool CompareBool(bool property, Op op, const std::string &value)
      {
        if (op != Op::Equal && op != Op::Approx)
          return false;
        const std::string t = Approximated(value);
        if (t == "true")
          return property;
        if (t == "false")
          return !property;
        return false;
      }

      bool SubstringMatch(const std::string &text, const std::vector<std::string> &segments)
      {
        // segments: initial, any..., final (initial and final may be empty).
        const std::string &first = segments.front();
        const std::string &last = segments.back();
        if (text.size() < first.size() + last.size())
          return false;
        if (text.compare(0, first.size(), first) != 0)
          return false;
        if (text.compare(text.size() - last.size(), last.size(), last) != 0)
          return false;
        std::size_t pos = first.size();
        const std::size_t limit = text.size() - last.size();
        for (std::size_t i = 1; i + 1 < segments.size(); ++i)
        {
          const std::string &middle = segments[i];
          if (middle.empty())
            continue;
          const std::size_t found = text.find(middle, pos);
          if (found == std::string::npos || found + middle.size() > limit)
            return false;
          pos = found + middle.size();
        }
        return true;
      }

      template <class T>
      long long AsSigned(const Any &any)
      {
        return static_cast<long long>(*any_cast<T>(&any));
      }

      template <class T>
      unsigned long long AsUnsigned(const Any &any)
      {
        return static_cast<unsigned long long>(*any_cast<T>(&any));
      }

      bool SubstringValue(const Any &any, ValueKind kind, const std::vector<std::string> &segments);

      bool CompareValue(const Any &any, ValueKind kind, Op op, const std::string &value)
      {
        switch (kind)
        {
          case ValueKind::Text:
            return CompareText(*any_cast<std::string>(&any), op, value);
          case ValueKind::Bool:
            return CompareBool(*any_cast<bool>(&any), op, value);
          case ValueKind::Int:
            return CompareNumber<long long>(AsSigned<int>(any), op, value);
          case ValueKind::Long:
            return CompareNumber<long long>(AsSigned<long>(any), op, value);
          case ValueKind::LongLong:
            return CompareNumber<long long>(AsSigned<long long>(any), op, value);
          case ValueKind::Short:
            return CompareNumber<long long>(AsSigned<short>(any), op, value);
          case ValueKind::UnsignedInt:
            return CompareNumber<unsigned long long>(AsUnsigned<unsigned int>(any), op, value);
          case ValueKind::UnsignedLong:
            return CompareNumber<unsigned long long>(AsUnsigned<unsigned long>(any), op, value);
          case ValueKind::UnsignedLongLong:
            return CompareNumber<unsigned long long>(AsUnsigned<unsigned long long>(any), op, value);
          case ValueKind::UnsignedShort:
            return CompareNumber<unsigned long long>(AsUnsigned<unsigned short>(any), op, value);
          case ValueKind::Double:
            return CompareNumber<double>(*any_cast<double>(&any), op, value);
          case ValueKind::Float:
            return CompareNumber<double>(static_cast<double>(*any_cast<float>(&any)), op, value);
          case ValueKind::TextVector:
          {
            const auto &list = *any_cast<std::vector<std::string>>(&any);
            return std::any_of(list.begin(), list.end(),
                               [&](const std::string &e) { return CompareText(e, op, value); });
          }
          case ValueKind::TextList:
          {
            const auto &list = *any_cast<std::list<std::string>>(&any);
            return std::any_of(list.begin(), list.end(),
                               [&](const std::string &e) { return CompareText(e, op, value); });
          }
          case ValueKind::AnyVector:
          {
            const auto &list = *any_cast<std::vector<Any>>(&any);
            return std::any_of(list.begin(), list.end(),
                               [&](const Any &e) { return !e.Empty() && CompareValue(e, KindOf(e), op, value); });
          }
          case ValueKind::AnyList:
          {
            const auto &list = *any_cast<std::list<Any>>(&any);
            return std::any_of(list.begin(), list.end(),
                               [&](const Any &e) { return !e.Empty() && CompareValue(e, KindOf(e), op, value); });
          }
          case ValueKind::Other:
            break;
        }
        return CompareText(any.ToString(), op, value);
      }

      bool SubstringValue(const Any &any, ValueKind kind, const std::vector<std::string> &segments)
      {
        switch (kind)
        {
          case ValueKind::Text:
            return SubstringMatch(*any_cast<std::string>(&any), segments);
          case ValueKind::TextVector:
          {
            const auto &list = *any_cast<std::vector<std::string>>(&any);
            return std::any_of(list.begin(), list.end(),
                               [&](const std::string &e) { return SubstringMatch(e, segments); });
          }
          case ValueKind::TextList:
          {
            const auto &list = *any_cast<std::list<std::string>>(&any);
            return std::any_of(list.begin(), list.end(),
                               [&](const std::string &e) { return SubstringMatch(e, segments); });
          }
          case ValueKind::AnyVector:
          {
            const auto &list = *any_cast<std::vector<Any>>(&any);
            return std::any_of(list.begin(), list.end(),
                               [&](const Any &e) { return !e.Empty() && SubstringValue(e, KindOf(e), segments); });
          }
          case ValueKind::AnyList:
          {
            const auto &list = *any_cast<std::list<Any>>(&any);
            return std::any_of(list.begin(), list.end(),
                               [&](const Any &e) { return !e.Empty() && SubstringValue(e, KindOf(e), segments); });
          }
          default:
            return SubstringMatch(any.ToString(), segments);
        }
      }

      template <class Lookup>
      bool Evaluate(const LDAPExpr &expr, const Lookup &lookup)
      {
        switch (expr.kind)
        {
          case LDAPExpr::And:
            for (const LDAPExpr &child : expr.children)
              if (!Evaluate(child, lookup))
                return false;
            return true;
          case LDAPExpr::Or:
            for (const LDAPExpr &child : expr.children)
              if (Evaluate(child, lookup))
                return true;
            return false;
          case LDAPExpr::Not:
            return !Evaluate(expr.children.front(), lookup);
          default:
            break;
        }
        ValueKind kind = ValueKind::Other;
        const Any *value = lookup(expr, kind);
        if (!value || value->Empty())
          return false;
        if (expr.kind == LDAPExpr::Present)
          return true;
        if (expr.kind == LDAPExpr::Substring)
          return SubstringValue(*value, kind, expr.segments);
        return CompareValue(*value, kind, OpOf(expr.kind), expr.value);
      }
    }

    bool Match(const LDAPExpr &expr, const PropertySet &properties)
    {
      return Evaluate(expr, [&properties](const LDAPExpr &item, ValueKind &kind) -> const Any * {
        const PropertySet::Entry *entry = properties.Find(item.key, item.keyHash);
        if (!entry)
          return nullptr;
        kind = entry->kind;
        return entry->value;
      });
    }

    bool Match(const LDAPExpr &expr, const ServiceProperties &properties)
    {
      return Evaluate(expr, [&properties](const LDAPExpr &item, ValueKind &kind) -> const Any * {
        const auto it = properties.find(item.key);
        if (it == properties.end())
          return nullptr;
        kind = KindOf(it->second);
        return &it->second;
      });
    }
  }

  LDAPFilter::LDAPFilter() = default;

  LDAPFilter::LDAPFilter(const std::string &filter) : m_Text(filter)
  {
    bool blank = true;
    for (char c : filter)
      if (!detail::IsSpace(c))
        blank = false;
    if (blank)
      return;
    m_Expr = std::make_shared<const detail::LDAPExpr>(detail::Parser(filter).ParseWhole());
  }

  bool LDAPFilter::Match(const ServiceProperties &properties) const
  {
    return !m_Expr || detail::Match(*m_Expr, properties);
  }

  bool LDAPFilter::Match(const ServiceReferenceBase &reference) const
  {
    if (!reference.d)
      return false;
    if (!m_Expr)
      return true;
    const std::shared_ptr<const detail::PropertySet> properties =
      detail::CoreRegistry::Instance().PropertiesOf(*reference.d);
    return detail::Match(*m_Expr, *properties);
  }

  std::string LDAPFilter::Escape(const std::string &value)
  {
    std::string out;
    out.reserve(value.size());
    for (char c : value)
    {
      switch (c)
      {
        case '*':
          out += "\\2a";
          break;
        case '(':
          out += "\\28";
          break;
        case ')':
          out += "\\29";
          break;
        case '\\':
          out += "\\5c";
          break;
        case '\0':
          out += "\\00";
          break;
        default:
          out += c;
      }
    }
    return out;
  }
}
