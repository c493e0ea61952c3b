#ifndef usServiceProperties_h
#define usServiceProperties_h

#include <usAny.h>

#include <map>
#include <string>

namespace us
{
  namespace detail
  {
    /** Orders keys ignoring ASCII case: "Service.ID" and "service.id" name one property. */
    struct CaseInsensitiveLess
    {
      bool operator()(const std::string &a, const std::string &b) const noexcept
      {
        const std::size_t n = a.size() < b.size() ? a.size() : b.size();
        for (std::size_t i = 0; i < n; ++i)
        {
          const unsigned char ca = ToLower(static_cast<unsigned char>(a[i]));
          const unsigned char cb = ToLower(static_cast<unsigned char>(b[i]));
          if (ca != cb)
            return ca < cb;
        }
        return a.size() < b.size();
      }
      static unsigned char ToLower(unsigned char c) noexcept { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
    };
  }

  /**
   * The properties of a service: text key to value. Keys are compared
   * without regard to case, as LDAP filters look them up; two keys that
   * differ only in case are one property.
   */
  using ServiceProperties = std::map<std::string, Any, detail::CaseInsensitiveLess>;

  /** Keys that the registry itself sets on every service. */
  namespace ServiceConstants
  {
    /** "objectclass": the list (std::vector<std::string>) of interface ids a service is registered under. */
    CPPMICROSERVICES_EXPORT const std::string &OBJECTCLASS();
    /** "service.id": the service's number (long), increasing with every registration in the process. */
    CPPMICROSERVICES_EXPORT const std::string &SERVICE_ID();
    /** "service.ranking": optional int; a higher ranking is preferred by GetServiceReference. */
    CPPMICROSERVICES_EXPORT const std::string &SERVICE_RANKING();
  }
}

#endif
