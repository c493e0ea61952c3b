#include "QvexaServiceListWidget.h"

#include "ui_QvexaServiceListWidgetControls.h"

#include <vexaLog.h>
#include <vexaQtEventBridge.h>

#include <usGetModuleContext.h>
#include <usLDAPFilter.h>

#include <QSignalBlocker>

#include <exception>

namespace
{
  long ServiceId(const us::ServiceReferenceBase &reference)
  {
    const us::Any id = reference.GetProperty(us::ServiceConstants::SERVICE_ID());
    const long *value = us::any_cast<long>(&id);
    return value ? *value : -1;
  }

  const int kServiceIdRole = Qt::UserRole;
}

QvexaServiceListWidget::QvexaServiceListWidget(QWidget *parent, Qt::WindowFlags flags)
  : QWidget(parent, flags), m_Controls(new Ui::QvexaServiceListWidgetControls), m_Context(us::GetModuleContext())
{
  qRegisterMetaType<us::ServiceReferenceU>("us::ServiceReferenceU");
  m_Controls->setupUi(this);
  connect(m_Controls->m_ServiceList, &QListWidget::currentItemChanged, this,
          &QvexaServiceListWidget::OnCurrentItemChanged);
}

QvexaServiceListWidget::~QvexaServiceListWidget()
{
  try
  {
    StopListening();
    ReleaseAllServices();
  }
  catch (const std::exception &e)
  {
    // the registry refuses work once its module is unloaded (a list that outlives the library)
    VEXA_ERROR << "Could not withdraw from the service registry: " << e.what();
  }
}

void QvexaServiceListWidget::SetInterfaceName(const std::string &interfaceId) { m_Interface = interfaceId; }

std::string QvexaServiceListWidget::GetInterfaceName() const { return m_Interface; }

void QvexaServiceListWidget::InitPrivate(const std::string &namingProperty, const std::string &filter)
{
  m_NamingProperty = namingProperty;
  ++m_Generation;
  StopListening();
  Clear();

  if (m_Interface.empty())
  {
    VEXA_ERROR << "Service list set up without an interface name; it stays empty.";
    PublishSelection();
    return;
  }

  const std::string interfaceFilter =
    "(" + us::ServiceConstants::OBJECTCLASS() + "=" + us::LDAPFilter::Escape(m_Interface) + ")";
  m_FullFilter = filter.empty() ? interfaceFilter : "(&" + interfaceFilter + filter + ")";
  try
  {
    const unsigned long generation = m_Generation;
    // Listen first, then look up: a service that comes in between is both
    // found and announced, and the announcement finds it listed already.
    m_ParsedFilter = us::LDAPFilter(m_FullFilter);
    m_Listener = m_Context->AddServiceListener(
      vexa::MakeQueuedServiceListener(
        this, [this, generation](const us::ServiceEvent &event) { HandleServiceEvent(generation, event); }),
      m_FullFilter);
    const std::vector<us::ServiceReferenceU> references = m_Context->GetServiceReferences(m_Interface, filter);
    const QSignalBlocker blocker(m_Controls->m_ServiceList);
    for (const us::ServiceReferenceU &reference : references)
      AddOrUpdate(reference);
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << "Service list for \"" << m_Interface << "\" with filter \"" << filter
               << "\" stays empty: " << e.what();
    StopListening();
    Clear();
  }

  // keep the selection on the service that was selected before, if it is listed again
  const int previousRow = GetRowOfService(m_PublishedSelection);
  if (previousRow >= 0)
  {
    const QSignalBlocker blocker(m_Controls->m_ServiceList);
    m_Controls->m_ServiceList->setCurrentRow(previousRow);
  }
  SelectFirstIfWanted();
  PublishSelection();
}

void QvexaServiceListWidget::SetAutomaticallySelectFirstEntry(bool selectFirst)
{
  m_AutomaticallySelectFirstEntry = selectFirst;
  SelectFirstIfWanted();
}

bool QvexaServiceListWidget::GetAutomaticallySelectFirstEntry() const { return m_AutomaticallySelectFirstEntry; }

us::ServiceReferenceU QvexaServiceListWidget::GetSelectedServiceReference() const
{
  if (m_Controls->m_ServiceList->currentRow() == -1)
    return us::ServiceReferenceU();
  return GetServiceForListItem(m_Controls->m_ServiceList->currentItem());
}

std::vector<us::ServiceReferenceU> QvexaServiceListWidget::GetAllServiceReferences() const
{
  std::vector<us::ServiceReferenceU> references;
  for (int row = 0; row < m_Controls->m_ServiceList->count(); ++row)
    references.push_back(GetServiceForListItem(m_Controls->m_ServiceList->item(row)));
  return references;
}

us::ServiceReferenceU QvexaServiceListWidget::GetServiceForListItem(QListWidgetItem *item) const
{
  if (!item || item->listWidget() != m_Controls->m_ServiceList)
    return us::ServiceReferenceU();
  const auto it = m_Services.find(item->data(kServiceIdRole).toLongLong());
  return it == m_Services.end() ? us::ServiceReferenceU() : it->second;
}

int QvexaServiceListWidget::GetRowOfService(const us::ServiceReferenceBase &reference) const
{
  if (reference == us::ServiceReferenceBase())
    return -1;
  for (int row = 0; row < m_Controls->m_ServiceList->count(); ++row)
    if (GetServiceForListItem(m_Controls->m_ServiceList->item(row)) == reference)
      return row;
  return -1;
}

us::ModuleContext *QvexaServiceListWidget::GetModuleContext() const { return m_Context; }

void QvexaServiceListWidget::OnCurrentItemChanged() { PublishSelection(); }

void QvexaServiceListWidget::HandleServiceEvent(unsigned long generation, const us::ServiceEvent &event)
{
  if (generation != m_Generation)
    return;
  try
  {
    const us::ServiceReferenceU reference = event.GetServiceReference();
    switch (event.GetType())
    {
      case us::ServiceEvent::REGISTERED:
      case us::ServiceEvent::MODIFIED:
      {
        // The event may be late: list the service only if it is still there and still matches.
        if (reference && m_ParsedFilter.Match(reference))
          AddOrUpdate(reference);
        else
          Remove(reference);
        break;
      }
      case us::ServiceEvent::MODIFIED_ENDMATCH:
      case us::ServiceEvent::UNREGISTERING:
        Remove(reference);
        break;
    }
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << "Service list could not follow a service event: " << e.what();
  }
}

void QvexaServiceListWidget::AddOrUpdate(const us::ServiceReferenceU &reference)
{
  const long id = ServiceId(reference);
  QListWidget *list = m_Controls->m_ServiceList;
  const QString text = EntryText(reference);
  if (m_Services.count(id))
  {
    const int row = GetRowOfService(reference);
    if (row >= 0)
      list->item(row)->setText(text);
    return;
  }

  m_Services[id] = reference;
  int row = 0;
  while (row < list->count() && list->item(row)->data(kServiceIdRole).toLongLong() < id)
    ++row;
  auto *item = new QListWidgetItem(text);
  item->setData(kServiceIdRole, static_cast<qlonglong>(id));
  list->insertItem(row, item);
  SelectFirstIfWanted();
}

void QvexaServiceListWidget::Remove(const us::ServiceReferenceBase &reference)
{
  const int row = GetRowOfService(reference);
  if (row < 0)
    return;
  QListWidget *list = m_Controls->m_ServiceList;
  const bool wasSelected = list->currentRow() == row;
  {
    // Qt would move the current entry to a neighbour; the list decides itself what comes next
    const QSignalBlocker blocker(list);
    delete list->takeItem(row);
    if (wasSelected)
      list->setCurrentRow(-1);
  }
  m_Services.erase(ServiceId(reference));
  ReleaseServicesOf(reference);
  SelectFirstIfWanted();
  PublishSelection();
}

void QvexaServiceListWidget::Clear()
{
  {
    const QSignalBlocker blocker(m_Controls->m_ServiceList);
    m_Controls->m_ServiceList->clear();
  }
  m_Services.clear();
  ReleaseAllServices();
}

QString QvexaServiceListWidget::EntryText(const us::ServiceReferenceBase &reference) const
{
  std::string text;
  if (!m_NamingProperty.empty())
    text = reference.GetProperty(m_NamingProperty).ToString();
  if (text.empty())
    text = "Service " + std::to_string(ServiceId(reference));
  return QString::fromStdString(text);
}

void QvexaServiceListWidget::SelectFirstIfWanted()
{
  QListWidget *list = m_Controls->m_ServiceList;
  if (m_AutomaticallySelectFirstEntry && list->currentRow() == -1 && list->count() > 0)
    list->setCurrentRow(0);
}

void QvexaServiceListWidget::PublishSelection()
{
  const us::ServiceReferenceU selected = GetSelectedServiceReference();
  if (selected == m_PublishedSelection)
    return;
  m_PublishedSelection = selected;
  emit ServiceSelectionChanged(selected);
}

void *QvexaServiceListWidget::AcquireService(const us::ServiceReferenceBase &reference)
{
  for (const Acquired &acquired : m_Acquired)
    if (acquired.reference == reference && acquired.reference.GetInterfaceId() == reference.GetInterfaceId())
      return acquired.object;
  void *object = m_Context->GetService(reference);
  if (object)
    m_Acquired.push_back({reference, object});
  return object;
}

void QvexaServiceListWidget::ReleaseServicesOf(const us::ServiceReferenceBase &reference)
{
  for (auto it = m_Acquired.begin(); it != m_Acquired.end();)
  {
    if (it->reference == reference)
    {
      m_Context->UngetService(it->reference);
      it = m_Acquired.erase(it);
    }
    else
      ++it;
  }
}

void QvexaServiceListWidget::ReleaseAllServices()
{
  std::vector<Acquired> acquired;
  acquired.swap(m_Acquired);
  for (const Acquired &entry : acquired)
    m_Context->UngetService(entry.reference);
}

void QvexaServiceListWidget::StopListening()
{
  if (m_Listener)
  {
    const us::ListenerToken token = m_Listener;
    m_Listener = us::ListenerToken();
    m_Context->RemoveServiceListener(token);
  }
}
