#include "vexaQtEventBridge.h"

#include <vexaLog.h>

#include <QMetaObject>

#include <exception>
#include <mutex>

namespace vexa
{
  struct QtEventBridge::State
  {
    std::mutex mutex;
    QObject *receiver = nullptr; // null once closed
    std::function<void()> onClose;
    QMetaObject::Connection destroyed;

    bool IsOpen()
    {
      std::lock_guard<std::mutex> lock(mutex);
      return receiver != nullptr;
    }

    void Close()
    {
      std::function<void()> action;
      QMetaObject::Connection connection;
      {
        std::lock_guard<std::mutex> lock(mutex);
        receiver = nullptr;
        action.swap(onClose);
        connection = destroyed;
        destroyed = QMetaObject::Connection();
      }
      QObject::disconnect(connection);
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
    m_State->receiver = receiver;
    m_State->onClose = std::move(onClose);
    // Direct: runs inside the receiver's destruction, before its posted events are discarded.
    // The state is held weakly so that the receiver does not keep it alive.
    std::weak_ptr<State> weak = m_State;
    m_State->destroyed = QObject::connect(receiver, &QObject::destroyed, [weak] {
      if (auto state = weak.lock())
        state->Close();
    });
  }

  bool QtEventBridge::Post(std::function<void()> call) const
  {
    // The lock covers the posting, which calls no code of ours: a receiver that is being destroyed
    // waits for it in Close(), so the post never reaches a receiver that is gone.
    std::lock_guard<std::mutex> lock(m_State->mutex);
    if (!m_State->receiver)
      return false;
    std::shared_ptr<State> state = m_State;
    QMetaObject::invokeMethod(
      m_State->receiver,
      [state, call = std::move(call)] {
        if (!state->IsOpen())
          return;
        try
        {
          call();
        }
        catch (const std::exception &e)
        {
          VEXA_ERROR << "A call delivered to the GUI thread failed: " << e.what();
        }
        catch (...)
        {
          VEXA_ERROR << "A call delivered to the GUI thread failed with an unknown exception";
        }
      },
      Qt::QueuedConnection);
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
