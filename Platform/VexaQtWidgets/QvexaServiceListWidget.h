#ifndef QvexaServiceListWidget_h
#define QvexaServiceListWidget_h

#include "VexaQtWidgetsExports.h"

#include <usLDAPFilter.h>
#include <usModuleContext.h>
#include <usServiceEvent.h>
#include <usServiceReference.h>

#include <QMetaType>
#include <QWidget>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QListWidgetItem;

namespace Ui
{
  class QvexaServiceListWidgetControls;
}

Q_DECLARE_METATYPE(us::ServiceReferenceU)

/**
 * A list of the registered services of one interface that match a filter,
 * each entry named by one of the service's properties, kept current while
 * services come, change and go.
 *
 *   list->InitializeForInterface<vexa::USDevice>(namingKey, "(isActive=true)");
 *   list->SetAutomaticallySelectFirstEntry(true);
 *   connect(list, &QvexaServiceListWidget::ServiceSelectionChanged, ...);
 *
 * GUI thread only. The registry calls its listeners on whatever thread
 * registers, modifies or unregisters a service; the list takes those events
 * over to its own thread and changes its entries there, never on the
 * caller's thread and never while the caller is still inside the registry
 * (so a selection slot may freely call the device whose change it sees).
 * Each event is checked against the service's state at the time it is
 * handled, so late events of a service that has gone since are harmless.
 *
 * Entries are in registration order. The selection is the list's current
 * entry; ServiceSelectionChanged is emitted whenever it names another
 * service than before, with an invalid reference when nothing is selected
 * any more. A change of the selected service's properties updates its text
 * and emits nothing.
 *
 * The typed helpers get service objects through the list's own module
 * context; every object they hand out is released again (UngetService) when
 * its entry leaves the list, when the list is set up anew and when the
 * widget is destroyed. A pointer they return is valid while its service is
 * registered; hold the object's own reference (a smart pointer) for longer.
 */
class VEXAQTWIDGETS_EXPORT QvexaServiceListWidget : public QWidget
{
  Q_OBJECT

public:
  explicit QvexaServiceListWidget(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
  ~QvexaServiceListWidget() override;

  /** Lists the services of T's interface; see InitPrivate. */
  template <class T>
  void InitializeForInterface(const std::string &namingProperty = std::string(),
                              const std::string &filter = std::string())
  {
    SetInterfaceName(us_service_interface_iid<T>());
    InitPrivate(namingProperty, filter);
  }

  /** The interface id whose services InitPrivate lists. */
  void SetInterfaceName(const std::string &interfaceId);
  std::string GetInterfaceName() const;

  /**
   * Lists the services registered under the interface name that match
   * `filter` (an LDAP filter, "" for all), each shown with the text of its
   * property `namingProperty` (or "Service <id>" when it has none), and
   * follows their changes from now on. Replaces whatever the list showed
   * before; the selection stays on the same service if it is listed again.
   * A malformed filter or a missing interface name leaves the list empty and
   * writes an error record.
   */
  void InitPrivate(const std::string &namingProperty, const std::string &filter);

  /** When on, the first entry is selected whenever entries exist and none is selected. */
  void SetAutomaticallySelectFirstEntry(bool selectFirst);
  bool GetAutomaticallySelectFirstEntry() const;

  /** The selected service; invalid when nothing is selected. */
  us::ServiceReferenceU GetSelectedServiceReference() const;
  /** The listed services, in list order. */
  std::vector<us::ServiceReferenceU> GetAllServiceReferences() const;
  /** The service an entry of the list stands for; invalid for null or a foreign item. */
  us::ServiceReferenceU GetServiceForListItem(QListWidgetItem *item) const;
  /** The entry's row of the service, -1 when it is not listed. */
  int GetRowOfService(const us::ServiceReferenceBase &reference) const;

  /** The module context the list looks services up with (its own library's). */
  us::ModuleContext *GetModuleContext() const;

  /** The selected service as T; null when nothing is selected or it is not a T service. */
  template <class T>
  T *GetSelectedServiceObject()
  {
    const us::ServiceReference<T> reference(GetSelectedServiceReference());
    return reference ? static_cast<T *>(AcquireService(reference)) : nullptr;
  }

  /** Every listed service as T, in list order (null for one that is not a T service or is gone). */
  template <class T>
  std::vector<T *> GetAllServiceObjects()
  {
    std::vector<T *> objects;
    for (const us::ServiceReferenceU &untyped : GetAllServiceReferences())
    {
      const us::ServiceReference<T> reference(untyped);
      objects.push_back(reference ? static_cast<T *>(AcquireService(reference)) : nullptr);
    }
    return objects;
  }

signals:
  void ServiceSelectionChanged(us::ServiceReferenceU reference);

private slots:
  void OnCurrentItemChanged();

private:
  struct Acquired
  {
    us::ServiceReferenceBase reference; // typed: GetService hands out this interface
    void *object;
  };

  /** A registry event, delivered on the list's thread (queued from the registry's). */
  void HandleServiceEvent(unsigned long generation, const us::ServiceEvent &event);

  void AddOrUpdate(const us::ServiceReferenceU &reference);
  void Remove(const us::ServiceReferenceBase &reference);
  void Clear();
  QString EntryText(const us::ServiceReferenceBase &reference) const;
  void SelectFirstIfWanted();
  /** Emits ServiceSelectionChanged when the current entry names another service than last time. */
  void PublishSelection();

  void *AcquireService(const us::ServiceReferenceBase &reference);
  void ReleaseServicesOf(const us::ServiceReferenceBase &reference);
  void ReleaseAllServices();
  void StopListening();

  std::unique_ptr<Ui::QvexaServiceListWidgetControls> m_Controls;
  us::ModuleContext *const m_Context;
  std::string m_Interface;
  std::string m_NamingProperty;
  std::string m_FullFilter; // interface and filter together, as the listener is registered
  us::LDAPFilter m_ParsedFilter;
  bool m_AutomaticallySelectFirstEntry = false;

  std::map<long, us::ServiceReferenceU> m_Services; // service id -> reference, for the listed ones
  std::vector<Acquired> m_Acquired;
  us::ServiceReferenceU m_PublishedSelection;

  us::ListenerToken m_Listener;
  // Events carry the set-up they were registered for; those of an earlier set-up are dropped.
  unsigned long m_Generation = 0;
};

#endif
