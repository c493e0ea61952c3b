#ifndef ctkServiceEvent_h
#define ctkServiceEvent_h

#include "CTKPluginFrameworkExports.h"

#include "ctkServiceReference.h"

#include <usServiceEvent.h>

#include <QMetaType>

/** What happened to a service, as plug-ins' service listeners receive it. */
class CTKPLUGINFRAMEWORK_EXPORT ctkServiceEvent
{
public:
  enum Type
  {
    REGISTERED = 0x00000001,
    MODIFIED = 0x00000002,
    UNREGISTERING = 0x00000004,
    MODIFIED_ENDMATCH = 0x00000008
  };

  /** A null event (converts to false). */
  ctkServiceEvent() = default;
  ctkServiceEvent(Type type, const ctkServiceReference &reference) : m_Type(type), m_Reference(reference), m_Valid(true)
  {
  }
  explicit ctkServiceEvent(const us::ServiceEvent &event);

  explicit operator bool() const { return m_Valid; }
  Type getType() const { return m_Type; }
  ctkServiceReference getServiceReference() const { return m_Reference; }

private:
  Type m_Type = REGISTERED;
  ctkServiceReference m_Reference;
  bool m_Valid = false;
};

Q_DECLARE_METATYPE(ctkServiceEvent)

#endif
