#include "vexaQtEventBridge.h"

#include <vexaLog.h>

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QThread>

#include <exception>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
#define VEXA_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VEXA_THREAD_SANITIZER 1
#endif
#endif

#ifdef VEXA_THREAD_SANITIZER
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
#endif

namespace
{
  // Qt hands a posted event to the receiving thread under a futex-based lock
  // that ThreadSanitizer cannot see; the hand-over is announced to it here, so
  // that what the poster prepared counts as prepared before the call runs.
  void AnnounceHandOver(void *event)
  {
#ifdef VEXA_THREAD_SANITIZER
    __tsan_release(event);
#else
    (void)event;
#endif
  }

  void AcceptHandOver(void *event)
  {
#ifdef VEXA_THREAD_SANITIZER
    __tsan_acquire(event);
#else
    (void)event;
#endif
  }

  const QEvent::Type CallEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

  struct CallEvent : QEvent
  {
    explicit CallEvent(std::function<void()> c) : QEvent(CallEventType), call(std::move(c)) {}
    std::function<void()> call;
  };

  // Lives on the receiver's thread and runs the calls posted to it. Its queued
  // events go with it, so deleting it drops every call not yet run.
  class Deliverer : public QObject
  {
  public:
    bool event(QEvent *event) override
    {
      AcceptHandOver(event); // before the event is read at all
      if (event->type() != CallEventType)
        return QObject::event(event);
      ++delivering;
      struct Leave
      {
        int &count;
        ~Leave() { --count; }
      } leave{delivering};
      try
      {
        static_cast<CallEvent *>(event)->call();
      }
      catch (const std::exception &e)
      {
        VEXA_ERROR << "A call delivered to the GUI thread failed: " << e.what();
      }
      catch (...)
      {
        VEXA_ERROR << "A call delivered to the GUI thread failed with an unknown exception";
      }
      return true;
    }

    int delivering = 0; // calls running now (on its own thread)
  };
}

namespace vexa
{
  struct QtEventBridge::State
  {
    std::mutex mutex;
    Deliverer *deliverer = nullptr; // null once closed
    std::function<void()> onClose;
    QMetaObject::Connection destroyed;

    // The last handle gone closes the bridge.
    ~State() { Close(); }

    bool IsOpen()
    {
      std::lock_guard<std::mutex> lock(mutex);
      return deliverer != nullptr;
    }

    void Close()
    {
      Deliverer *gone = nullptr;
      std::function<void()> action;
      QMetaObject::Connection connection;
      {
        std::lock_guard<std::mutex> lock(mutex);
        gone = deliverer;
        deliverer = nullptr;
        action.swap(onClose);
        connection = destroyed;
        destroyed = QMetaObject::Connection();
      }
      QObject::disconnect(connection);
      if (gone)
      {
        // Deleted at once where that is safe: its queued calls go with it. Otherwise (another
        // thread, or closed by one of its own calls) later; its calls find the bridge closed.
        if (gone->thread() == QThread::currentThread() && gone->delivering == 0)
          delete gone;
        else
          gone->deleteLater();
      }
      if (!action)
        return;
      try
      {
        action();
      }
      catch (const std::exception &e)
      {
        VEXA_ERROR << "Closing a Qt event bridge failed: " << e.what();
      }
      catch (...)
      {
        VEXA_ERROR << "Closing a Qt event bridge failed with an unknown exception";
      }
    }
  };

  QtEventBridge::QtEventBridge() : m_State(std::make_shared<State>()) {}

  QtEventBridge::QtEventBridge(QObject *receiver, std::function<void()> onClose) : m_State(std::make_shared<State>())
  {
    if (!receiver)
      return;
    auto *deliverer = new Deliverer;
    if (receiver->thread() != deliverer->thread())
      deliverer->moveToThread(receiver->thread());
    m_State->deliverer = deliverer;
    m_State->onClose = std::move(onClose);
    // Direct: runs inside the receiver's destruction, on its thread. The state is
    // held weakly so that the receiver does not keep it alive.
    std::weak_ptr<State> weak = m_State;
    m_State->destroyed = QObject::connect(receiver, &QObject::destroyed, [weak] {
      if (auto state = weak.lock())
        state->Close();
    });
  }

  bool QtEventBridge::Post(std::function<void()> call) const
  {
    std::shared_ptr<State> state = m_State;
    auto *event = new CallEvent([state, call = std::move(call)] {
      // closed meanwhile (from another thread): dropped
      if (state->IsOpen())
        call();
    });
    // The lock covers the posting, which runs no code of ours: Close() waits for it,
    // so no post ever reaches a deliverer that is gone.
    std::lock_guard<std::mutex> lock(m_State->mutex);
    if (!m_State->deliverer)
    {
      delete event;
      return false;
    }
    AnnounceHandOver(event);
    QCoreApplication::postEvent(m_State->deliverer, event);
    return true;
  }

  void QtEventBridge::Close() const { m_State->Close(); }

  bool QtEventBridge::IsOpen() const { return m_State->IsOpen(); }

  // ------------------------------------------------------------------ connections

  QtEventConnection::QtEventConnection(QtEventConnection &&other) noexcept : m_Bridge(std::move(other.m_Bridge))
  {
    other.m_Bridge = QtEventBridge();
  }

  QtEventConnection &QtEventConnection::operator=(QtEventConnection &&other) noexcept
  {
    if (this != &other)
    {
      Disconnect();
      m_Bridge = std::move(other.m_Bridge);
      other.m_Bridge = QtEventBridge();
    }
    return *this;
  }

  QtEventConnection::~QtEventConnection() { Disconnect(); }

  void QtEventConnection::Disconnect() { m_Bridge.Close(); }

  namespace detail
  {
    FunctionCommand::Pointer MakeForwardingCommand(const QtEventBridge &bridge, QtEventSlot slot)
    {
      auto shared = std::make_shared<QtEventSlot>(std::move(slot));
      return FunctionCommand::New([bridge, shared](itk::Object *, const itk::EventObject &event) {
        std::shared_ptr<itk::EventObject> copy(event.MakeObject());
        bridge.Post([shared, copy] {
          if (*shared)
            (*shared)(*copy);
        });
      });
    }
  }

  QtEventConnection ForwardEvent(ObserverList &list, const itk::EventObject &event, QObject *receiver, QtEventSlot slot)
  {
    if (!receiver)
      return QtEventConnection();
    auto tag = std::make_shared<unsigned long>(0);
    QtEventBridge bridge(receiver, [&list, tag] { list.RemoveObserver(*tag); });
    *tag = list.AddObserver(event, detail::MakeForwardingCommand(bridge, std::move(slot)).GetPointer());
    return QtEventConnection(std::move(bridge));
  }

  us::ServiceListener MakeQueuedServiceListener(QObject *receiver, std::function<void(const us::ServiceEvent &)> slot)
  {
    QtEventBridge bridge(receiver);
    auto shared = std::make_shared<std::function<void(const us::ServiceEvent &)>>(std::move(slot));
    return [bridge, shared](const us::ServiceEvent &event) {
      bridge.Post([shared, event] {
        if (*shared)
          (*shared)(event);
      });
    };
  }
}
