#include "ctkPluginContext.h"

#include <usModuleContext.h>

#include <vexaLog.h>

#include <QMetaMethod>
#include <QPointer>

#include <atomic>
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
    QMetaObject::Connection destroyedConnection;
    std::atomic<bool> active{true};
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

  // Runs on the receiver's thread; the listener may have been disconnected meanwhile.
  void Deliver(const std::shared_ptr<Listener> &listener, const ctkServiceEvent &event)
  {
    if (!listener->active)
      return;
    try
    {
      listener->method.invoke(listener->receiver, Qt::DirectConnection, Q_ARG(ctkServiceEvent, event));
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR << "Service listener " << listener->signature.constData() << " failed: " << e.what();
    }
    catch (...)
    {
      VEXA_ERROR << "Service listener " << listener->signature.constData() << " failed.";
    }
  }
}

struct ctkPluginContext::Private
{
  us::ModuleContext *registry = nullptr;
  QString symbolicName;
  // parent of the receivers' destroyed() connections: they go with the context
  QObject guard;

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

  // Stops deliveries to the listener; waits for deliveries running on other threads to post theirs.
  void Retire(const std::shared_ptr<Listener> &listener)
  {
    listener->active = false;
    QObject::disconnect(listener->destroyedConnection);
    try
    {
      registry->RemoveServiceListener(listener->token);
    }
    catch (const std::exception &e)
    {
      // the registry module went first: it took its listeners with it
      VEXA_WARN << "Removing a service listener of " << symbolicName.toStdString() << ": " << e.what();
    }
  }

  std::shared_ptr<Listener> Take(QObject *receiver, const QByteArray &signature)
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = listeners.begin(); it != listeners.end(); ++it)
      if ((*it)->receiver == receiver && (signature.isEmpty() || (*it)->signature == signature))
      {
        std::shared_ptr<Listener> found = *it;
        listeners.erase(it);
        return found;
      }
    return nullptr;
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

  std::weak_ptr<Listener> weak = listener;
  QPointer<QObject> target(receiver);
  listener->token = d->registry->AddServiceListener(
    [weak](const us::ServiceEvent &event) {
      const std::shared_ptr<Listener> l = weak.lock();
      if (!l || !l->active)
        return;
      const ctkServiceEvent converted(event);
      // queued on the receiver's thread; Qt drops the call if the receiver is destroyed first
      QMetaObject::invokeMethod(l->receiver, [l, converted] { Deliver(l, converted); }, Qt::QueuedConnection);
    },
    filter.toStdString());

  // a destroyed receiver's listener goes before the QObject part is gone;
  // removing it waits for deliveries running on other threads
  Private *p = d.get();
  listener->destroyedConnection = QObject::connect(
    receiver, &QObject::destroyed, &d->guard,
    [p, receiver] {
      while (const std::shared_ptr<Listener> l = p->Take(receiver, QByteArray()))
        p->Retire(l);
    },
    Qt::DirectConnection);

  std::lock_guard<std::mutex> lock(d->mutex);
  d->listeners.push_back(listener);
}

void ctkPluginContext::disconnectServiceListener(QObject *receiver, const char *slot)
{
  if (!receiver || !slot)
    return;
  const QByteArray signature = FindSlot(receiver, slot).methodSignature();
  while (const std::shared_ptr<Listener> l = d->Take(receiver, signature))
    d->Retire(l);
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
  std::vector<std::shared_ptr<Listener>> listeners;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->valid = false;
    listeners.swap(d->listeners);
  }
  for (const std::shared_ptr<Listener> &listener : listeners)
    d->Retire(listener);
}

bool ctkPluginContext::isValid() const
{
  std::lock_guard<std::mutex> lock(d->mutex);
  return d->valid;
}
