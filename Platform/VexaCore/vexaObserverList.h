#ifndef vexaObserverList_h
#define vexaObserverList_h

#include "VexaCoreExports.h"

#include <itkCommand.h>
#include <itkEventObject.h>
#include <itkObject.h>

#include <functional>
#include <memory>

namespace vexa
{
  /**
   * A thread-safe list of event observers, for objects whose events fire on
   * worker threads (ITK's own list of an itk::Object is not safe against
   * observers added or removed meanwhile).
   *
   * Every member may be called from any thread at any time, also from inside
   * an observer. InvokeEvent holds no lock while it calls an observer, so an
   * observer may add or remove observers (itself included) and invoke
   * events. Observers run on the invoking thread in the order they were
   * added; an observer added during an invocation is first called by the
   * next one. An exception of an observer leaves InvokeEvent and the
   * observers after it are not called for that event.
   *
   * Once RemoveObserver or RemoveAllObservers returns, the removed observer
   * is never called again: they wait for calls of it running on other
   * threads. The exception is an observer that removes itself (or an
   * observer that is further up the same thread's stack): that call runs to
   * its end. So an observer must not wait for a thread that is removing it,
   * and a thread must not remove an observer while holding a lock that the
   * observer takes.
   *
   * The list must outlive every invocation on it.
   */
  class VEXACORE_EXPORT ObserverList
  {
  public:
    using Function = std::function<void(const itk::EventObject &)>;

    /** Tags count up from `firstTag` (an owner that also has ITK's list picks a range of its own). */
    explicit ObserverList(unsigned long firstTag = 1);
    ~ObserverList();
    ObserverList(const ObserverList &) = delete;
    ObserverList &operator=(const ObserverList &) = delete;

    /** Calls `command` for `event` and its subclasses; the list keeps a reference to it. */
    unsigned long AddObserver(const itk::EventObject &event, itk::Command *command);
    /** Calls `function` for `event` and its subclasses. */
    unsigned long AddObserver(const itk::EventObject &event, Function function);

    /** False when no observer has that tag (never added, or removed already). */
    bool RemoveObserver(unsigned long tag);
    void RemoveAllObservers();

    /** Whether an observer would be called for `event`. */
    bool HasObserver(const itk::EventObject &event) const;

    /** Calls the observers of `event` with `caller` (may be null). */
    void InvokeEvent(const itk::EventObject &event, itk::Object *caller = nullptr) const;
    void InvokeEvent(const itk::EventObject &event, const itk::Object *caller) const;

  private:
    struct Private;
    const std::unique_ptr<Private> d;
  };
}

#endif
