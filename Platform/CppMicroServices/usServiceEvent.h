#ifndef usServiceEvent_h
#define usServiceEvent_h

#include <usServiceReference.h>

#include <ostream>

namespace us
{
  /**
   * What happened to a service, as service listeners receive it. The values
   * are those of the OSGi service events.
   */
  class CPPMICROSERVICES_EXPORT ServiceEvent
  {
  public:
    enum Type
    {
      /** The service was registered. */
      REGISTERED = 0x00000001,
      /** Its properties changed and still match the listener's filter. */
      MODIFIED = 0x00000002,
      /** It is being unregistered; the service object can still be got during the delivery. */
      UNREGISTERING = 0x00000004,
      /** Its properties changed so that they no longer match the listener's filter (they did before). */
      MODIFIED_ENDMATCH = 0x00000008
    };

    /** A null event (converts to false). */
    ServiceEvent() = default;
    ServiceEvent(Type type, const ServiceReferenceBase &reference) : m_Type(type), m_Reference(reference), m_Valid(true)
    {
    }

    explicit operator bool() const { return m_Valid; }

    Type GetType() const { return m_Type; }
    ServiceReferenceU GetServiceReference() const { return m_Reference; }

    /** The reference typed for S (invalid when the service was not registered as S). */
    template <class S>
    ServiceReference<S> GetServiceReference() const
    {
      return ServiceReference<S>(m_Reference);
    }

  private:
    Type m_Type = REGISTERED;
    ServiceReferenceU m_Reference;
    bool m_Valid = false;
  };

  /** "REGISTERED", "MODIFIED", "MODIFIED_ENDMATCH", "UNREGISTERING". */
  CPPMICROSERVICES_EXPORT std::ostream &operator<<(std::ostream &os, ServiceEvent::Type type);
  CPPMICROSERVICES_EXPORT std::ostream &operator<<(std::ostream &os, const ServiceEvent &event);
}

#endif
