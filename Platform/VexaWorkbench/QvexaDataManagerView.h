#ifndef QvexaDataManagerView_h
#define QvexaDataManagerView_h

#include "VexaWorkbenchHostExports.h"

#include <vexaDataNode.h>
#include <vexaDataStorage.h>
#include <vexaQtEventBridge.h>

#include <QList>
#include <QTimer>
#include <QWidget>

namespace Ui
{
  class QvexaDataManagerViewControls;
}
class QListWidgetItem;

/**
 * The list of the data storage's nodes, in the storage's order: one row per
 * node with its name and a check box for its visibility; several rows can
 * be selected. GUI thread only.
 *
 * The list follows the storage's add and remove events; names and
 * visibility that other code changes are picked up twice a second.
 *
 * The selected nodes are removed from the storage by the list's "Remove"
 * action (enabled while a row is selected): its context menu, or Delete or
 * Backspace while the list has the focus. The rows go at once, and whoever
 * follows the storage hears of the removal through its remove events; the
 * list keeps no reference to a node it no longer shows. A failure is logged
 * and announced by Failed.
 */
class VEXAWORKBENCHHOST_EXPORT QvexaDataManagerView : public QWidget
{
  Q_OBJECT

public:
  explicit QvexaDataManagerView(QWidget *parent = nullptr);
  ~QvexaDataManagerView() override;

  void SetDataStorage(vexa::DataStorage *storage);

  /** The selected nodes, in list order. */
  QList<vexa::DataNode::Pointer> GetSelectedNodes() const;
  /** Selects exactly `nodes` (those in the list). */
  void SetSelectedNodes(const QList<vexa::DataNode::Pointer> &nodes);
  /** The nodes as listed. */
  QList<vexa::DataNode::Pointer> GetListedNodes() const;
  /** The row of `node`, or null. */
  QListWidgetItem *GetItem(const vexa::DataNode *node) const;
  /** Removes the selected nodes from the data storage; the selection is empty then. */
  void RemoveSelectedNodes();

public slots:
  /** Brings the rows in line with the storage (nodes, order, names, check boxes). */
  void Synchronize();

signals:
  void SelectionChanged(const QList<vexa::DataNode::Pointer> &nodes);
  /** The user showed or hid a node. */
  void VisibilityChanged(const vexa::DataNode::Pointer &node);
  /** Rows came or went, or a node's visibility changed elsewhere. */
  void NodesChanged();
  /** Something the user asked for failed; the text says what. */
  void Failed(const QString &text);

private slots:
  void OnSelectionChanged();
  void OnItemChanged(QListWidgetItem *item);
  void OnRemoveTriggered();

private:
  void Observe(bool on);
  void SynchronizeRows();

  Ui::QvexaDataManagerViewControls *m_Controls;
  vexa::DataStorage::Pointer m_Storage;
  vexa::QtEventConnection m_StorageEvents;
  QTimer m_Refresh;
  bool m_Synchronizing = false;
};

#endif
