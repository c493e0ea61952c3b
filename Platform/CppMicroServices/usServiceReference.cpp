#include <usServiceReference.h>

#include "usCoreRegistry.h"

#include <ostream>

namespace us
{
  using detail::CoreRegistry;
  using detail::ServiceState;

  ServiceReferenceBase::ServiceReferenceBase(std::shared_ptr<detail::ServiceRecord> record, std::string interfaceId)
    : d(std::move(record)), m_InterfaceId(d ? std::move(interfaceId) : std::string())
  {
  }

  Any ServiceReferenceBase::GetProperty(const std::string &key) const
  {
    if (!d)
      return Any();
    const auto properties = CoreRegistry::Instance().PropertiesOf(*d);
    const auto it = properties->map.find(key);
    return it == properties->map.end() ? Any() : it->second;
  }

  void ServiceReferenceBase::GetPropertyKeys(std::vector<std::string> &keys) const
  {
    keys.clear();
    if (!d)
      return;
    const auto properties = CoreRegistry::Instance().PropertiesOf(*d);
    keys.reserve(properties->map.size());
    for (const auto &entry : properties->map)
      keys.push_back(entry.first);
  }

  std::vector<std::string> ServiceReferenceBase::GetPropertyKeys() const
  {
    std::vector<std::string> keys;
    GetPropertyKeys(keys);
    return keys;
  }

  Module *ServiceReferenceBase::GetModule() const
  {
    return (d && d->state.load() != ServiceState::Unregistered) ? d->module : nullptr;
  }

  bool ServiceReferenceBase::IsConvertibleTo(const std::string &interfaceId) const
  {
    return d && d->interfaces.count(interfaceId) != 0;
  }

  ServiceReferenceBase::operator bool() const { return d && d->state.load() != ServiceState::Unregistered; }

  bool ServiceReferenceBase::operator<(const ServiceReferenceBase &other) const
  {
    if (!d || !other.d)
      return !d && other.d;
    const int ranking = d->ranking.load();
    const int otherRanking = other.d->ranking.load();
    if (ranking != otherRanking)
      return ranking < otherRanking;
    return d->id > other.d->id;
  }

  ServiceReferenceBase ServiceReferenceBase::ConvertedTo(const std::string &interfaceId) const
  {
    if (IsConvertibleTo(interfaceId))
      return ServiceReferenceBase(d, interfaceId);
    return ServiceReferenceBase();
  }

  std::ostream &operator<<(std::ostream &os, const ServiceReferenceBase &reference)
  {
    if (!reference.GetProperty(ServiceConstants::SERVICE_ID()).Empty())
      return os << "ServiceReference(service.id=" << reference.GetProperty(ServiceConstants::SERVICE_ID())
                << ", objectclass=" << reference.GetProperty(ServiceConstants::OBJECTCLASS()) << ")";
    return os << "ServiceReference(invalid)";
  }
}
