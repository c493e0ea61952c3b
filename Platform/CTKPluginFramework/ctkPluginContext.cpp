#include "ctkPluginContext.h"

#include <usModuleContext.h>
#include <vexaQtEventBridge.h>

#include <vexaLog.h>

#include <QMetaMethod>

#include <algorithm>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace
{
  struct Listener
  {
    QObject *receiver = nullptr;
    QByteArray signature;
    QMetaMethod method;
    us::ListenerToken token;
    // open while the listener may be called; closed by disconnection,
    // invalidation or the receiver's destruction (which drops queued calls)
    vexa::QtEventBridge bridge;
  };

  QMetaMethod FindSlot(QObject *receiver, const char *slot)
  {
    QByteArray text(slot);
    if (!text.isEmpty() && text.at(0) >= '0' && text.at(0) <= '9') // as SLOT() writes it
      text.remove(0, 1);
    if (!text.contains('('))
      text += "(ctkServiceEvent)";
    const QByteArray signature = QMetaObject::normalizedSignature(text.constData());
    const QMetaObject *meta = receiver->metaObject();
    const int index = meta->indexOfMethod(signature.constData());
    if (index < 0)
      throw std::invalid_argument("ctkPluginContext::connectServiceListener: " + std::string(meta->className()) +
                                  " has no slot " + signature.toStdString());
    return meta->method(index);
  }

  // Runs on the receiver's thread, while the bridge is open.
  void Deliver(const Listener &listener, const ctkServiceEvent &event)
  {
    try
    {
      listener.method.invoke(listener.receiver, Qt::DirectConnection, Q_ARG(ctkServiceEvent, event));
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR << "Service listener " << listener.signature.constData() << " failed: " << e.what();
    }
    catch (...)
    {
      VEXA_ERROR << "Service listener " << listener.signature.constData() << " failed.";
    }
  }
}

struct ctkPluginContext::Private
{
  us::ModuleContext *registry = nullptr;
  QString symbolicName;

  mutable std::mutex mutex;
  bool valid = true;
  std::vector<std::shared_ptr<Listener>> listeners;

  void CheckValid(const char *operation) const
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!valid)
      throw std::logic_error(std::string("ctkPluginContext::") + operation + ": the plug-in \"" +
                             symbolicName.toStdString() + "\" is not started");
  }

  // The bridge's close action: the listener leaves the list and the registry
  // (which waits for deliveries running on other threads to post theirs).
  void Remove(const Listener *listener)
  {
    us::ListenerToken token;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = listeners.begin(); it != listeners.end(); ++it)
        if (it->get() == listener)
        {
          token = (*it)->token;
          listeners.erase(it);
          break;
        }
    }
    if (!token)
      return; // not in the registry (yet): connectServiceListener withdraws it
    try
    {
      registry->RemoveServiceListener(token);
    }
    catch (const std::exception &e)
    {
      // the registry module went first: it took its listeners with it
      VEXA_WARN << "Removing a service listener of " << symbolicName.toStdString() << ": " << e.what();
    }
  }

  std::vector<std::shared_ptr<Listener>> Find(QObject *receiver, const QByteArray &signature) const
  {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::shared_ptr<Listener>> found;
    for (const auto &listener : listeners)
      if (!receiver || (listener->receiver == receiver && listener->signature == signature))
        found.push_back(listener);
    return found;
  }
};

ctkPluginContext::ctkPluginContext(us::ModuleContext *registryContext, const QString &symbolicName) : d(new Private)
{
  if (!registryContext)
    throw std::invalid_argument("ctkPluginContext: no registry context");
  d->registry = registryContext;
  d->symbolicName = symbolicName;
}

ctkPluginContext::~ctkPluginContext()
{
  try
  {
    invalidate();
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << "Closing the plug-in context of " << d->symbolicName.toStdString() << ": " << e.what();
  }
}

QString ctkPluginContext::getSymbolicName() const { return d->symbolicName; }

void ctkPluginContext::connectServiceListener(QObject *receiver, const char *slot, const QString &filter)
{
  d->CheckValid("connectServiceListener");
  if (!receiver || !slot)
    throw std::invalid_argument("ctkPluginContext::connectServiceListener: no receiver or slot");
  auto listener = std::make_shared<Listener>();
  listener->receiver = receiver;
  listener->method = FindSlot(receiver, slot);
  listener->signature = listener->method.methodSignature();

  disconnectServiceListener(receiver, listener->signature.constData());

  // the bridge exists before the registry can call: the listener only reads it
  Private *p = d.get();
  const Listener *key = listener.get();
  listener->bridge = vexa::QtEventBridge(receiver, [p, key] { p->Remove(key); });
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->listeners.push_back(listener);
  }
  std::weak_ptr<Listener> weak = listener;
  us::ListenerToken token;
  try
  {
    token = d->registry->AddServiceListener(
      [weak](const us::ServiceEvent &event) {
        if (const std::shared_ptr<Listener> l = weak.lock())
        {
          const ctkServiceEvent converted(event);
          l->bridge.Post([l, converted] { Deliver(*l, converted); });
        }
      },
      filter.toStdString());
  }
  catch (...)
  {
    listener->bridge.Close(); // a malformed filter: nothing stays
    throw;
  }
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    listener->token = token;
  }
  if (!listener->bridge.IsOpen())
  {
    // closed meanwhile: its close action found no token to withdraw yet
    {
      std::lock_guard<std::mutex> lock(d->mutex);
      d->listeners.erase(std::remove(d->listeners.begin(), d->listeners.end(), listener), d->listeners.end());
    }
    d->registry->RemoveServiceListener(token);
  }
}

void ctkPluginContext::disconnectServiceListener(QObject *receiver, const char *slot)
{
  if (!receiver || !slot)
    return;
  const QByteArray signature = FindSlot(receiver, slot).methodSignature();
  for (const std::shared_ptr<Listener> &listener : d->Find(receiver, signature))
    listener->bridge.Close();
}

QList<ctkServiceReference> ctkPluginContext::getServiceReferences(const QString &clazz, const QString &filter)
{
  d->CheckValid("getServiceReferences");
  QList<ctkServiceReference> references;
  for (const us::ServiceReferenceU &reference :
       d->registry->GetServiceReferences(clazz.toStdString(), filter.toStdString()))
    references << ctkServiceReference(reference);
  return references;
}

ctkServiceReference ctkPluginContext::getServiceReference(const QString &clazz)
{
  d->CheckValid("getServiceReference");
  return ctkServiceReference(d->registry->GetServiceReference(clazz.toStdString()));
}

QObject *ctkPluginContext::getService(const ctkServiceReference &reference)
{
  d->CheckValid("getService");
  return static_cast<QObject *>(d->registry->GetServiceAsQObject(reference.GetUsReference()));
}

bool ctkPluginContext::ungetService(const ctkServiceReference &reference)
{
  d->CheckValid("ungetService");
  return d->registry->UngetService(reference.GetUsReference());
}

void ctkPluginContext::invalidate()
{
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->valid = false;
  }
  for (const std::shared_ptr<Listener> &listener : d->Find(nullptr, QByteArray()))
    listener->bridge.Close();
}

bool ctkPluginContext::isValid() const
{
  std::lock_guard<std::mutex> lock(d->mutex);
  return d->valid;
}
