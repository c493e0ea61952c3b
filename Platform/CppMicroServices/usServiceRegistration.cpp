#include <usServiceRegistration.h>

#include "usCoreRegistry.h"

#include <stdexcept>

namespace us
{
  using detail::CoreRegistry;
  using detail::ServiceState;

  ServiceRegistrationBase::operator bool() const { return d && d->state.load() == ServiceState::Registered; }

  void ServiceRegistrationBase::SetProperties(const ServiceProperties &properties)
  {
    if (!d)
      throw std::logic_error(
        "us::ServiceRegistration::SetProperties: the registration is invalid (nothing registered)");
    CoreRegistry::Instance().SetProperties(d, properties);
  }

  void ServiceRegistrationBase::Unregister()
  {
    if (!d)
      throw std::logic_error("us::ServiceRegistration::Unregister: the registration is invalid (nothing registered)");
    CoreRegistry::Instance().Unregister(d);
  }

  bool ServiceRegistrationBase::operator<(const ServiceRegistrationBase &other) const
  {
    if (!d || !other.d)
      return !d && other.d;
    return d->id < other.d->id;
  }

  ServiceReferenceBase ServiceRegistrationBase::GetReferenceFor(const std::string &interfaceId) const
  {
    if (!d)
      throw std::logic_error("us::ServiceRegistration::GetReference: the registration is invalid (nothing registered)");
    if (d->state.load() != ServiceState::Registered)
      throw std::logic_error("us::ServiceRegistration::GetReference: the service " + std::to_string(d->id) +
                             " has been unregistered");
    if (interfaceId.empty())
      return CoreRegistry::MakeReference(d, d->objectClass.front());
    if (!d->interfaces.count(interfaceId))
      throw std::logic_error("us::ServiceRegistration::GetReference: the service " + std::to_string(d->id) +
                             " is not registered under \"" + interfaceId + "\"");
    return CoreRegistry::MakeReference(d, interfaceId);
  }

  ServiceRegistrationBase ServiceRegistrationBase::ConvertedTo(const std::string &interfaceId) const
  {
    if (d && d->interfaces.count(interfaceId))
      return *this;
    return ServiceRegistrationBase();
  }
}
