#ifndef usLDAPFilter_h
#define usLDAPFilter_h

#include <usServiceProperties.h>

#include <memory>
#include <ostream>
#include <string>

namespace us
{
  class ServiceReferenceBase;

  namespace detail
  {
    struct LDAPExpr;
  }

  /**
   * A filter over service properties in the text form of LDAP search filters
   * (RFC 4515, as service registries use it):
   *
   *   (&(objectclass=org.vexa.services.UltrasoundDevice)(org.vexa.services.UltrasoundDevice.isActive=true))
   *
   * - `&`, `|` and `!` combine filters; an item is (key=value), (key~=value),
   *   (key>=value) or (key<=value).
   * - (key=*) tests presence; an unescaped `*` in a value is a wildcard
   *   ("IGTL*Source").
   * - Keys are matched without regard to case; values are compared by the
   *   property's type: texts exactly, numbers numerically, bools as
   *   "true"/"false" in any case; other types by their text form. A list
   *   value (such as "objectclass") matches when any element matches.
   * - `\` followed by two hex digits stands for that byte (RFC 4515: "\2a" is
   *   a literal `*`, "\28" `(`, "\29" `)`, "\5c" `\`); `\` followed by one of
   *   `*()\` stands for that character.
   *
   * A malformed filter throws std::invalid_argument whose text names the
   * filter, what is wrong and where.
   */
  class CPPMICROSERVICES_EXPORT LDAPFilter
  {
  public:
    /** The empty filter: matches every service. */
    LDAPFilter();
    /** Parses `filter`; an empty text is the empty filter. Throws std::invalid_argument. */
    explicit LDAPFilter(const std::string &filter);

    /** True for a filter that was given a text (false for the empty filter). */
    explicit operator bool() const { return static_cast<bool>(m_Expr); }

    bool Match(const ServiceProperties &properties) const;
    bool Match(const ServiceReferenceBase &reference) const;

    /** The filter's text as it was given. */
    std::string ToString() const { return m_Text; }

    bool operator==(const LDAPFilter &other) const { return m_Text == other.m_Text; }
    bool operator!=(const LDAPFilter &other) const { return !(*this == other); }

    /** `value` with the characters that LDAP gives meaning (`*`, `(`, `)`, `\`, NUL) escaped as RFC 4515 says. */
    static std::string Escape(const std::string &value);

  private:
    friend class ServiceReferenceBase;
    friend struct detail::LDAPExpr;
    std::shared_ptr<const detail::LDAPExpr> m_Expr;
    std::string m_Text;

  public:
    /** For the registry: the parsed form (null for the empty filter). */
    const std::shared_ptr<const detail::LDAPExpr> &Expression() const { return m_Expr; }
  };

  inline std::ostream &operator<<(std::ostream &os, const LDAPFilter &filter) { return os << filter.ToString(); }
}

#endif
