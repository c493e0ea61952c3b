#include "QvexaDataManagerView.h"

#include "ui_QvexaDataManagerViewControls.h"

#include <vexaLog.h>
#include <vexaSlotGuard.h>

#include <vexaQtEventBridge.h>

#include <QAction>
#include <QKeySequence>
#include <QSignalBlocker>

#include <exception>
#include <unordered_map>
#include <unordered_set>

Q_DECLARE_METATYPE(vexa::DataNode::Pointer)

namespace
{
  const int NodeRole = Qt::UserRole + 1;

  vexa::DataNode::Pointer NodeOf(const QListWidgetItem *item)
  {
    return item ? item->data(NodeRole).value<vexa::DataNode::Pointer>() : nullptr;
  }
}

QvexaDataManagerView::QvexaDataManagerView(QWidget *parent)
  : QWidget(parent), m_Controls(new Ui::QvexaDataManagerViewControls)
{
  m_Controls->setupUi(this);
  // the form takes one shortcut per action; Backspace is the Delete key of some keyboards
  QList<QKeySequence> removeKeys = QKeySequence::keyBindings(QKeySequence::Delete);
  if (!removeKeys.contains(QKeySequence(Qt::Key_Backspace)))
    removeKeys << QKeySequence(Qt::Key_Backspace);
  m_Controls->m_RemoveAction->setShortcuts(removeKeys);
  m_Controls->m_RemoveAction->setEnabled(false);
  connect(m_Controls->m_NodeList, &QListWidget::itemSelectionChanged, this, &QvexaDataManagerView::OnSelectionChanged);
  connect(m_Controls->m_NodeList, &QListWidget::itemChanged, this, &QvexaDataManagerView::OnItemChanged);
  connect(m_Controls->m_RemoveAction, &QAction::triggered, this, &QvexaDataManagerView::OnRemoveTriggered);
  connect(&m_Refresh, &QTimer::timeout, this, &QvexaDataManagerView::Synchronize);
  m_Refresh.setInterval(500);
}

QvexaDataManagerView::~QvexaDataManagerView()
{
  Observe(false);
  delete m_Controls;
}

void QvexaDataManagerView::Observe(bool on)
{
  m_StorageEvents.Disconnect();
  if (on && m_Storage)
    m_StorageEvents = vexa::ForwardEvent(m_Storage.GetPointer(), vexa::DataStorage::NodeEvent(), this,
                                         [this](const itk::EventObject &) { Synchronize(); });
}

void QvexaDataManagerView::SetDataStorage(vexa::DataStorage *storage)
{
  Observe(false);
  m_Storage = storage;
  Observe(true);
  if (m_Storage)
    m_Refresh.start();
  else
    m_Refresh.stop();
  Synchronize();
}

void QvexaDataManagerView::Synchronize()
{
  if (m_Synchronizing)
    return;
  try
  {
    SynchronizeRows();
  }
  catch (const std::exception &e)
  {
    m_Synchronizing = false;
    VEXA_ERROR << "The data manager failed to follow the data storage: " << e.what();
  }
}

void QvexaDataManagerView::SynchronizeRows()
{
  m_Synchronizing = true;
  const QList<vexa::DataNode::Pointer> selectedBefore = GetSelectedNodes();
  bool changed = false;
  {
    const QSignalBlocker blocker(m_Controls->m_NodeList);
    QListWidget *list = m_Controls->m_NodeList;
    const vexa::DataStorage::SetOfObjects nodes = m_Storage ? m_Storage->GetAll() : vexa::DataStorage::SetOfObjects();
    // linear in the number of nodes: this runs twice a second
    const std::unordered_set<const vexa::DataNode *> stored(nodes.begin(), nodes.end());
    std::unordered_map<const vexa::DataNode *, QListWidgetItem *> items;
    for (int row = list->count() - 1; row >= 0; --row)
    {
      const vexa::DataNode::Pointer node = NodeOf(list->item(row));
      if (!stored.count(node.GetPointer()))
      {
        delete list->takeItem(row);
        changed = true;
      }
      else
        items[node.GetPointer()] = list->item(row);
    }
    for (std::size_t i = 0; i < nodes.size(); ++i)
    {
      const int row = static_cast<int>(i);
      const auto found = items.find(nodes[i].GetPointer());
      QListWidgetItem *item = found == items.end() ? nullptr : found->second;
      if (!item)
      {
        item = new QListWidgetItem;
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setData(NodeRole, QVariant::fromValue(nodes[i]));
        list->insertItem(row, item);
        changed = true;
      }
      else if (list->item(row) != item)
      {
        const bool selected = item->isSelected();
        list->insertItem(row, list->takeItem(list->row(item)));
        item->setSelected(selected);
      }
      const QString name = QString::fromStdString(nodes[i]->GetName());
      if (item->text() != name)
        item->setText(name);
      const Qt::CheckState state = nodes[i]->IsVisible() ? Qt::Checked : Qt::Unchecked;
      if (item->checkState() != state)
      {
        item->setCheckState(state);
        changed = true;
      }
    }
  }
  m_Synchronizing = false;
  if (GetSelectedNodes() != selectedBefore)
    OnSelectionChanged();
  if (changed)
    emit NodesChanged();
}

QList<vexa::DataNode::Pointer> QvexaDataManagerView::GetSelectedNodes() const
{
  QList<vexa::DataNode::Pointer> nodes;
  const QListWidget *list = m_Controls->m_NodeList;
  for (int row = 0; row < list->count(); ++row)
    if (list->item(row)->isSelected())
      nodes << NodeOf(list->item(row));
  return nodes;
}

void QvexaDataManagerView::SetSelectedNodes(const QList<vexa::DataNode::Pointer> &nodes)
{
  {
    const QSignalBlocker blocker(m_Controls->m_NodeList);
    QListWidget *list = m_Controls->m_NodeList;
    for (int row = 0; row < list->count(); ++row)
      list->item(row)->setSelected(nodes.contains(NodeOf(list->item(row))));
  }
  OnSelectionChanged();
}

QList<vexa::DataNode::Pointer> QvexaDataManagerView::GetListedNodes() const
{
  QList<vexa::DataNode::Pointer> nodes;
  for (int row = 0; row < m_Controls->m_NodeList->count(); ++row)
    nodes << NodeOf(m_Controls->m_NodeList->item(row));
  return nodes;
}

QListWidgetItem *QvexaDataManagerView::GetItem(const vexa::DataNode *node) const
{
  for (int row = 0; row < m_Controls->m_NodeList->count(); ++row)
    if (NodeOf(m_Controls->m_NodeList->item(row)).GetPointer() == node)
      return m_Controls->m_NodeList->item(row);
  return nullptr;
}

void QvexaDataManagerView::RemoveSelectedNodes()
{
  const QList<vexa::DataNode::Pointer> nodes = GetSelectedNodes();
  if (nodes.isEmpty() || !m_Storage)
    return;
  for (const vexa::DataNode::Pointer &node : nodes)
    m_Storage->RemoveNode(node);
  // the rows go now, not when the remove events come; the selection changes with them
  Synchronize();
}

void QvexaDataManagerView::OnRemoveTriggered()
{
  vexa::RunGuarded(
    [this] { RemoveSelectedNodes(); },
    [this](const vexa::GuardedFailure &failure) {
      VEXA_ERROR << "Removing the selected nodes failed: " << failure.what;
      emit Failed(QString("Removing the selected nodes failed: %1").arg(QString::fromStdString(failure.description)));
    });
}

void QvexaDataManagerView::OnSelectionChanged()
{
  m_Controls->m_RemoveAction->setEnabled(!m_Controls->m_NodeList->selectedItems().isEmpty());
  if (!m_Synchronizing)
    emit SelectionChanged(GetSelectedNodes());
}

void QvexaDataManagerView::OnItemChanged(QListWidgetItem *item)
{
  const vexa::DataNode::Pointer node = NodeOf(item);
  if (!node || m_Synchronizing)
    return;
  const bool visible = item->checkState() == Qt::Checked;
  if (node->IsVisible() != visible)
  {
    node->SetVisibility(visible);
    emit VisibilityChanged(node);
  }
}
