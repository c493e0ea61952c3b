#ifndef QvexaAbstractView_h
#define QvexaAbstractView_h

#include "org_vexa_gui_qt_commonExports.h"

#include "QvexaViewHost.h"
#include "vexaIRenderWindowPart.h"

#include <vexaDataNode.h>
#include <vexaDataStorage.h>
#include <wickWorkbenchPart.h>

#include <QList>
#include <QObject>

class QWidget;

/**
 * Base of the toolkit's views. A view builds its contents in the
 * part-control hook, hears of data-manager selection changes through the
 * selection hook and takes the focus in the focus hook; it reaches the data
 * storage, the data manager's selection and the render windows through the
 * workbench that shows it (its view host).
 *
 * The workbench calls the public entry points on the GUI thread; an
 * exception leaving a hook is caught there, logged and reported as false.
 * A view that runs work on other threads says so through HasRunningWork;
 * the workbench waits for it before destroying the view or unloading its
 * plug-in.
 *
 * Without a view host (a view made outside a workbench) the view has a data
 * storage of its own, an empty selection and no render-window part.
 */
class ORG_VEXA_GUI_QT_COMMON_EXPORT QvexaAbstractView : public QObject, public wick::ViewPart
{
  Q_OBJECT

public:
  QvexaAbstractView();
  ~QvexaAbstractView() override;

  // ---- called by the workbench
  /** The workbench's, before CreatePartControl; it must outlive the view. */
  void SetViewHost(QvexaViewHost *host);
  /** Calls the part-control hook on `parent`, once; later calls do nothing. Throws what the hook throws. */
  void CreatePartControl(QWidget *parent) final;
  /** Calls the focus hook. */
  void SetFocus() final;
  /** Calls the selection hook; false (logged) when it threw. */
  bool NotifyNodeSelectionChanged(wick::WorkbenchPart *source, const QList<vexa::DataNode::Pointer> &nodes);
  /** True while work the view started is still running. */
  virtual bool HasRunningWork() const;
  /**
   * The workbench is closing the view: it is destroyed once HasRunningWork
   * turns false. Work that runs in steps (on the GUI thread too) stops after
   * the current one.
   */
  void NotifyCloseRequested() { m_CloseRequested = true; }
  bool IsCloseRequested() const { return m_CloseRequested; }
  QWidget *GetParentWidget() const { return m_Parent; }

  // ---- for the view
  vexa::DataStorage::Pointer GetDataStorage() const;
  QList<vexa::DataNode::Pointer> GetDataManagerSelection() const;
  /** The render-window part (no strategies: the workbench has one); null when there is none. */
  vexa::IRenderWindowPart *GetRenderWindowPart(int strategies = 0) const;
  /** Repaint the render windows of the type (a vexa::RenderingManager::RequestType) in the next turn. */
  void RequestRenderWindowUpdate(int requestType = vexa::RenderingManager::REQUEST_UPDATE_ALL);

protected:
  /** The part-control hook: build the view's contents on `parent`. */
  virtual void CreateQtPartControl(QWidget *parent) = 0;
  /** The focus hook. */
  virtual void SetViewFocus();
  /**
   * The selection hook: the data manager's selection changed to `nodes`.
   * `source` is the part the selection comes from (null for the workbench's
   * data manager).
   */
  virtual void OnNodeSelectionChanged(wick::WorkbenchPart *source, const QList<vexa::DataNode::Pointer> &nodes);

private:
  QvexaViewHost *m_Host = nullptr;
  QWidget *m_Parent = nullptr;
  bool m_PartCreated = false;
  bool m_CloseRequested = false;
  mutable vexa::DataStorage::Pointer m_OwnStorage;
};

#endif
