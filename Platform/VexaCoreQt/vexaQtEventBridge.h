#ifndef vexaQtEventBridge_h
#define vexaQtEventBridge_h

#include "VexaCoreQtExports.h"

#include <vexaFunctionCommand.h>
#include <vexaObserverList.h>

#include <itkEventObject.h>
#include <itkSmartPointer.h>

#include <usServiceEvent.h>
#include <usServiceListener.h>

#include <QObject>

#include <functional>
#include <memory>

namespace vexa
{
  /**
   * Delivers calls on the thread of one QObject (the receiver) from any
   * thread: for events fired on worker threads and for registry listener
   * calls, whose handlers touch GUI objects.
   *
   * Post() queues the call to the receiver's thread and returns at once. A
   * call runs only while the bridge is open: once the receiver is destroyed
   * or Close() was called, new calls are refused and calls still queued are
   * dropped. Close() on the receiver's thread guarantees that no call runs
   * afterwards; from another thread a call that has already started runs to
   * its end. An exception of a call is logged and goes no further (it runs
   * from the event loop).
   *
   * The bridge is a handle: copies share one state, so a copy captured by a
   * worker's callback closes with the original; the last copy gone closes it.
   * Make it while the receiver certainly lives (usually on its thread, in its
   * constructor); from then on every member is thread-safe.
   *
   * Under ThreadSanitizer the hand-over of each call to the receiver's thread
   * is announced to the sanitizer, which cannot see Qt's own locking: what the
   * posting thread did before Post() counts as done before the call runs.
   */
  class VEXACOREQT_EXPORT QtEventBridge
  {
  public:
    /** A closed bridge: Post() refuses every call. */
    QtEventBridge();

    /**
     * Opens a bridge to `receiver` (null: a closed bridge). `onClose` runs
     * once, with no lock held, when the bridge closes: on the receiver's
     * thread during its destruction (before its children go), or on the
     * thread that calls Close().
     */
    explicit QtEventBridge(QObject *receiver, std::function<void()> onClose = {});

    /** Queues `call` for the receiver's thread; false (and dropped) when the bridge is closed. */
    bool Post(std::function<void()> call) const;

    /** Refuses further calls and drops queued ones; runs the close action. Idempotent. */
    void Close() const;

    bool IsOpen() const;

  private:
    struct State;
    std::shared_ptr<State> m_State;
  };

  /**
   * An event forwarding made by ForwardEvent: the observer on the source and
   * the bridge to the receiver. It ends when this handle is destroyed or
   * disconnected, or when the receiver is destroyed, whichever comes first;
   * the observer is then removed from the source. Move-only.
   */
  class VEXACOREQT_EXPORT QtEventConnection
  {
  public:
    QtEventConnection() = default;
    explicit QtEventConnection(QtEventBridge bridge) : m_Bridge(std::move(bridge)) {}
    QtEventConnection(QtEventConnection &&other) noexcept;
    QtEventConnection &operator=(QtEventConnection &&other) noexcept;
    QtEventConnection(const QtEventConnection &) = delete;
    QtEventConnection &operator=(const QtEventConnection &) = delete;
    ~QtEventConnection();

    void Disconnect();
    bool IsConnected() const { return m_Bridge.IsOpen(); }

  private:
    QtEventBridge m_Bridge;
  };

  using QtEventSlot = std::function<void(const itk::EventObject &)>;

  namespace detail
  {
    /** An observer that posts a copy of each event it sees through `bridge` to `slot`. */
    VEXACOREQT_EXPORT FunctionCommand::Pointer MakeForwardingCommand(const QtEventBridge &bridge, QtEventSlot slot);
  }

  /**
   * Calls `slot` on the receiver's thread for every `event` (or subclass)
   * that `list` fires, on whatever thread. The slot gets the copy that the
   * event's MakeObject makes: ITK's own events make a blank one of their
   * class (they carry nothing), events with data copy it (the data storage's).
   * The list must outlive the connection: disconnect it (or let the handle
   * go) before the list is destroyed. Make it on the receiver's thread. A
   * null receiver makes no connection.
   */
  [[nodiscard]] VEXACOREQT_EXPORT QtEventConnection ForwardEvent(ObserverList &list,
                                                                 const itk::EventObject &event,
                                                                 QObject *receiver,
                                                                 QtEventSlot slot);

  /**
   * The same for an object with AddObserver/RemoveObserver (an itk::Object,
   * or a class like the OpenIGTLink device that has a thread-safe list of its
   * own: the source's own static type picks the list). The connection keeps
   * a reference to the source until it ends.
   */
  template <class Source>
  [[nodiscard]] QtEventConnection ForwardEvent(Source *source,
                                               const itk::EventObject &event,
                                               QObject *receiver,
                                               QtEventSlot slot)
  {
    if (!source || !receiver)
      return QtEventConnection();
    itk::SmartPointer<Source> kept(source);
    auto tag = std::make_shared<unsigned long>(0);
    QtEventBridge bridge(receiver, [kept, tag] { kept->RemoveObserver(*tag); });
    *tag = source->AddObserver(event, detail::MakeForwardingCommand(bridge, std::move(slot)).GetPointer());
    return QtEventConnection(std::move(bridge));
  }

  /**
   * A registry listener that calls `slot` with a copy of each service event
   * on the receiver's thread, and does nothing once the receiver is gone.
   * (The listener stays registered until its owner removes it.)
   */
  VEXACOREQT_EXPORT us::ServiceListener MakeQueuedServiceListener(QObject *receiver,
                                                                  std::function<void(const us::ServiceEvent &)> slot);
}

#endif
