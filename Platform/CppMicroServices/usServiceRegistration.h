#ifndef usServiceRegistration_h
#define usServiceRegistration_h

#include <usServiceReference.h>

#include <memory>
#include <string>

namespace us
{
  /**
   * The registering side's handle of a service. Copies share one
   * registration. It converts to true while the service is registered.
   *
   * Calls on a handle that is invalid (default-made) or whose service was
   * unregistered throw std::logic_error, so a caller that may race with a
   * module stop tests it first: `if (reg) reg.Unregister();`.
   */
  class CPPMICROSERVICES_EXPORT ServiceRegistrationBase
  {
  public:
    ServiceRegistrationBase() = default;

    /** True while the service is registered (false once Unregister has begun). */
    explicit operator bool() const;

    /**
     * Replaces the service's properties ("objectclass" and "service.id" stay
     * what the registry set) and tells the listeners: MODIFIED to those whose
     * filter matches the new properties, MODIFIED_ENDMATCH to those whose
     * filter matched the old ones only. Throws std::logic_error when not
     * registered.
     */
    void SetProperties(const ServiceProperties &properties);

    /**
     * Withdraws the service. The listeners receive UNREGISTERING first, while
     * the service can still be got; then the registry forgets it. Throws
     * std::logic_error when not registered (also on a second call).
     */
    void Unregister();

    bool operator==(const ServiceRegistrationBase &other) const { return d == other.d; }
    bool operator!=(const ServiceRegistrationBase &other) const { return d != other.d; }
    bool operator<(const ServiceRegistrationBase &other) const;

    /** This registration if it has `interfaceId`, else an invalid one. */
    ServiceRegistrationBase ConvertedTo(const std::string &interfaceId) const;

  protected:
    explicit ServiceRegistrationBase(std::shared_ptr<detail::ServiceRecord> record) : d(std::move(record)) {}
    /** The reference for `interfaceId` ("" for the first interface); throws std::logic_error. */
    ServiceReferenceBase GetReferenceFor(const std::string &interfaceId) const;

  private:
    friend class detail::CoreRegistry;
    std::shared_ptr<detail::ServiceRecord> d;
  };

  /** The handle of a service registered as S. */
  template <class S>
  class ServiceRegistration : public ServiceRegistrationBase
  {
  public:
    ServiceRegistration() = default;
    /** Keeps `base` only if it was registered as S. */
    explicit ServiceRegistration(const ServiceRegistrationBase &base)
      : ServiceRegistrationBase(base.ConvertedTo(us_service_interface_iid<S>()))
    {
    }

    /** The reference of the service as S. Throws std::logic_error when not registered. */
    ServiceReference<S> GetReference() const
    {
      return ServiceReference<S>(GetReferenceFor(us_service_interface_iid<S>()));
    }
    /** The reference for another of its interface ids. Throws std::logic_error when not registered so. */
    ServiceReferenceU GetReference(const std::string &interfaceId) const { return GetReferenceFor(interfaceId); }
  };

  /** The untyped handle. */
  template <>
  class ServiceRegistration<void> : public ServiceRegistrationBase
  {
  public:
    ServiceRegistration() = default;
    ServiceRegistration(const ServiceRegistrationBase &base) : ServiceRegistrationBase(base) {}

    /** The reference for `interfaceId` ("" for the first interface it was registered under). */
    ServiceReferenceU GetReference(const std::string &interfaceId = std::string()) const
    {
      return GetReferenceFor(interfaceId);
    }
  };

  using ServiceRegistrationU = ServiceRegistration<void>;
}

#endif
