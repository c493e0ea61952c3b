#include "ctkServiceEvent.h"

ctkServiceEvent::ctkServiceEvent(const us::ServiceEvent &event)
  : m_Type(static_cast<Type>(event.GetType())), m_Reference(event.GetServiceReference()),
    m_Valid(static_cast<bool>(event))
{
}
