#ifndef usServiceListener_h
#define usServiceListener_h

#include <usServiceEvent.h>

#include <functional>

namespace us
{
  /** A listener as a function object (see ModuleContext::AddServiceListener). */
  using ServiceListener = std::function<void(const ServiceEvent &)>;

  /** Names a listener added as a function object, for its removal. */
  class ListenerToken
  {
  public:
    ListenerToken() = default;
    explicit operator bool() const { return m_Id != 0; }
    bool operator==(const ListenerToken &other) const { return m_Id == other.m_Id; }
    bool operator!=(const ListenerToken &other) const { return m_Id != other.m_Id; }
    long Id() const { return m_Id; }

  private:
    friend class ModuleContext;
    explicit ListenerToken(long id) : m_Id(id) {}
    long m_Id = 0;
  };
}

#endif
