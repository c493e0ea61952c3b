#include <usServiceEvent.h>

#include <ostream>

namespace us
{
  std::ostream &operator<<(std::ostream &os, ServiceEvent::Type type)
  {
    switch (type)
    {
      case ServiceEvent::REGISTERED:
        return os << "REGISTERED";
      case ServiceEvent::MODIFIED:
        return os << "MODIFIED";
      case ServiceEvent::UNREGISTERING:
        return os << "UNREGISTERING";
      case ServiceEvent::MODIFIED_ENDMATCH:
        return os << "MODIFIED_ENDMATCH";
    }
    return os << "ServiceEvent::Type(" << static_cast<int>(type) << ")";
  }

  std::ostream &operator<<(std::ostream &os, const ServiceEvent &event)
  {
    if (!event)
      return os << "ServiceEvent(null)";
    return os << "ServiceEvent(" << event.GetType() << ", " << event.GetServiceReference() << ")";
  }
}
