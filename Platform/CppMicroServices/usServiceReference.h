#ifndef usServiceReference_h
#define usServiceReference_h

#include <usServiceInterface.h>
#include <usServiceProperties.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace us
{
  class Module;

  namespace detail
  {
    struct ServiceRecord;
    class CoreRegistry;
  }

  /**
   * A handle to one registered service, as look-ups and service events hand
   * them out. It stays usable after the service was unregistered: it then
   * converts to false, GetModule() answers null, the context's GetService
   * answers null, and the properties are those the service had last.
   *
   * A reference names the interface it was obtained for (GetInterfaceId());
   * GetService hands out the object seen as that interface.
   */
  class CPPMICROSERVICES_EXPORT ServiceReferenceBase
  {
  public:
    ServiceReferenceBase() = default;

    /** The property's value (keys ignore case); empty when there is no such property. */
    Any GetProperty(const std::string &key) const;
    /** Replaces `keys` by the service's property keys, in the case they were registered with. */
    void GetPropertyKeys(std::vector<std::string> &keys) const;
    std::vector<std::string> GetPropertyKeys() const;

    /** The module that registered the service; null when invalid or unregistered. */
    Module *GetModule() const;

    /** The interface id this reference stands for ("" when invalid). */
    std::string GetInterfaceId() const { return m_InterfaceId; }

    /** True when the service was registered under `interfaceId`. */
    bool IsConvertibleTo(const std::string &interfaceId) const;

    /** True while the service is registered (also during the delivery of its UNREGISTERING event). */
    explicit operator bool() const;

    /** Same service (whatever interface either reference stands for). */
    bool operator==(const ServiceReferenceBase &other) const { return d == other.d; }
    bool operator!=(const ServiceReferenceBase &other) const { return d != other.d; }
    /**
     * Ranking order: a reference is less than another when its service
     * ranking is lower, or the rankings are equal and its service id is
     * higher. The best service is thus the greatest. Invalid references
     * come first.
     */
    bool operator<(const ServiceReferenceBase &other) const;

    std::size_t Hash() const { return std::hash<const void *>()(d.get()); }

    /** This service seen as `interfaceId`, or an invalid reference when it was not registered so. */
    ServiceReferenceBase ConvertedTo(const std::string &interfaceId) const;

  protected:
    ServiceReferenceBase(std::shared_ptr<detail::ServiceRecord> record, std::string interfaceId);

  private:
    friend class detail::CoreRegistry;
    friend class LDAPFilter;
    std::shared_ptr<detail::ServiceRecord> d;
    std::string m_InterfaceId;
  };

  /** A reference for interface S: converting from an untyped reference keeps it only if S is one of its interfaces. */
  template <class S>
  class ServiceReference : public ServiceReferenceBase
  {
  public:
    using ServiceType = S;

    ServiceReference() = default;
    ServiceReference(const ServiceReferenceBase &base)
      : ServiceReferenceBase(base.ConvertedTo(us_service_interface_iid<S>()))
    {
    }
  };

  /** The untyped reference. */
  template <>
  class ServiceReference<void> : public ServiceReferenceBase
  {
  public:
    using ServiceType = void;

    ServiceReference() = default;
    ServiceReference(const ServiceReferenceBase &base) : ServiceReferenceBase(base) {}
  };

  using ServiceReferenceU = ServiceReference<void>;

  CPPMICROSERVICES_EXPORT std::ostream &operator<<(std::ostream &os, const ServiceReferenceBase &reference);
}

namespace std
{
  template <class S>
  struct hash<us::ServiceReference<S>>
  {
    std::size_t operator()(const us::ServiceReference<S> &reference) const { return reference.Hash(); }
  };
  template <>
  struct hash<us::ServiceReferenceBase>
  {
    std::size_t operator()(const us::ServiceReferenceBase &reference) const { return reference.Hash(); }
  };
}

#endif
