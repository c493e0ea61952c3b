#ifndef ctkPluginContext_h
#define ctkPluginContext_h

#include "CTKPluginFrameworkExports.h"

#include "ctkServiceEvent.h"
#include "ctkServiceReference.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace us
{
  class ModuleContext;
}

/**
 * A started plug-in's access to the services of the process: the one
 * micro-service registry seen the way plug-ins expect it. The host makes one
 * context per plug-in, hands it to the plug-in's activator and invalidates it
 * when the plug-in stops.
 *
 * Services registered through a Qt class (one with the meta-object macro)
 * are handed out as QObject pointers; getService answers null for others.
 *
 * Service listeners are QObject slots. Whatever thread the registry event
 * comes from, the slot is called later on the receiver's own thread (the
 * GUI thread for widgets), never on the registering thread; no call reaches
 * a receiver once it is destroyed, once its listener is disconnected or once
 * the context is invalidated. An exception leaving the slot is logged.
 *
 * Calls on an invalidated context throw std::logic_error, as do calls
 * naming a slot the receiver does not have (std::invalid_argument) or a
 * malformed filter (std::invalid_argument).
 */
class CTKPLUGINFRAMEWORK_EXPORT ctkPluginContext
{
public:
  /** A context that uses `registryContext` (the plug-in's own module's, or the host's) for its look-ups. */
  ctkPluginContext(us::ModuleContext *registryContext, const QString &symbolicName);
  /** Disconnects every listener (as invalidate). */
  ~ctkPluginContext();
  ctkPluginContext(const ctkPluginContext &) = delete;
  ctkPluginContext &operator=(const ctkPluginContext &) = delete;

  QString getSymbolicName() const;

  /**
   * Calls `slot` of `receiver` with a ctkServiceEvent for every event of a
   * service matching `filter` (LDAP, empty for all). `slot` is the slot's
   * name ("OnDeviceServiceEvent") or its signature, as SLOT() gives it.
   * Connecting the same receiver and slot again replaces the filter.
   */
  void connectServiceListener(QObject *receiver, const char *slot, const QString &filter = QString());
  void disconnectServiceListener(QObject *receiver, const char *slot);

  /** The services registered under `clazz` matching `filter`, in the order they were registered. */
  QList<ctkServiceReference> getServiceReferences(const QString &clazz, const QString &filter = QString());
  /** The best service under `clazz` (highest ranking, then the oldest); an invalid reference when none. */
  ctkServiceReference getServiceReference(const QString &clazz);

  /** The service as a QObject, counted as one use of this plug-in; null when it is none or gone. */
  QObject *getService(const ctkServiceReference &reference);
  template <class S>
  S *getService(const ctkServiceReference &reference)
  {
    return qobject_cast<S *>(getService(reference));
  }
  /** Gives back one use; false when this plug-in holds none. */
  bool ungetService(const ctkServiceReference &reference);

  /** The host's: the plug-in stopped. Listeners are disconnected, further calls throw. */
  void invalidate();
  bool isValid() const;

private:
  struct Private;
  std::unique_ptr<Private> d;
};

#endif
