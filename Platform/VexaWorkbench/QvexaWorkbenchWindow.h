#ifndef QvexaWorkbenchWindow_h
#define QvexaWorkbenchWindow_h

#include "VexaWorkbenchHostExports.h"

#include "vexaWorkbenchPlugin.h"

#include <QvexaAbstractView.h>
#include <QvexaViewHost.h>
#include <vexaIRenderWindowPart.h>

#include <QMainWindow>
#include <QPointer>

#include <map>
#include <memory>
#include <vector>

namespace Ui
{
  class QvexaWorkbenchWindowControls;
}
class QDockWidget;
class QMenu;
class QvexaDataManagerView;
class QvexaRenderWindow;

/**
 * The workbench's main window: the render window in the middle, the data
 * manager on the left, one dock per open view, File > Open / Save of image
 * nodes, a Views menu built from the plug-ins' view declarations, a status
 * bar that reports what went wrong and the level window the user sets in the
 * render window ("Level L, Window W"). It is the view host of every view and
 * their render-window part. GUI thread only.
 *
 * Errors (a plug-in that does not load or start, a file that cannot be
 * read or written, a view that fails to build) are logged, shown in the
 * status bar and, for what the user asked for directly, in a message box
 * that does not block; the workbench goes on.
 *
 * Views are destroyed (through their extension type's destructor) only from
 * the event loop that the close was asked in, never inside a nested loop,
 * and only once they report no running work.
 */
class VEXAWORKBENCHHOST_EXPORT QvexaWorkbenchWindow : public QMainWindow,
                                                      public QvexaViewHost,
                                                      public vexa::IRenderWindowPart
{
  Q_OBJECT

public:
  explicit QvexaWorkbenchWindow(QWidget *parent = nullptr);
  /** Closes the views (waiting for their work) and stops the plug-ins. */
  ~QvexaWorkbenchWindow() override;

  // ---- plug-ins
  /** Loads and starts every plug-in library of `folder` (in name order); returns how many started. */
  int LoadPlugins(const QString &folder);
  /** Loads and starts one plug-in; false (reported) when it fails. */
  bool LoadPlugin(const QString &path);
  std::vector<vexa::WorkbenchPlugin *> GetPlugins() const;
  /** Stops every started plug-in, the last started first. */
  void StopPlugins();

  // ---- views
  /** The view declarations of the started plug-ins. */
  QList<vexa::ViewDeclaration> GetViewDeclarations() const;
  /** Opens the view (or raises it when it is open already); null, reported, when it cannot be made. */
  QvexaAbstractView *OpenView(const QString &id);
  QvexaAbstractView *GetOpenView(const QString &id) const;
  QDockWidget *GetViewDock(const QString &id) const;
  QStringList GetOpenViewIds() const;
  /** Asks to close the view: it goes once control is back in this event loop and its work has ended. */
  void CloseView(const QString &id);
  /** Closes every view now, waiting for running work (at shutdown). */
  void CloseAllViews();
  QMenu *GetViewsMenu() const;

  // ---- data
  vexa::DataStorage::Pointer GetDataStorage() const override { return m_Storage; }
  QList<vexa::DataNode::Pointer> GetDataManagerSelection() const override;
  vexa::IRenderWindowPart *GetRenderWindowPart() const override;
  /**
   * Loads the files as nodes (named after the file) with automatic level
   * windows; the last node loaded becomes the data manager's selection.
   * Failures are reported.
   */
  QList<vexa::DataNode::Pointer> LoadFiles(const QStringList &paths);
  /** Saves the node's image (".nrrd" appended when the path has no extension); false, reported, on failure. */
  bool SaveNode(const vexa::DataNode *node, const QString &path);

  QvexaRenderWindow *GetRenderWindow() const { return m_RenderWindow; }
  QvexaDataManagerView *GetDataManager() const { return m_DataManager; }

  // ---- vexa::IRenderWindowPart
  vexa::RenderingManager *GetRenderingManager() const override;
  void RequestUpdate(int requestType = vexa::RenderingManager::REQUEST_UPDATE_ALL) override;

  /**
   * Writes what the screen shows of the window as PNG (the X server's
   * picture on xcb, the window's own drawing elsewhere), with the render
   * window's rectangle in the text key "RenderWindowRegion" ("x,y,w,h").
   */
  bool SaveScreenshot(const QString &path);

  /** Logs, shows in the status bar and (when `box`) in a message box that does not block. */
  void ReportError(const QString &text, bool box);
  /** Every error reported so far. */
  QStringList GetReportedErrors() const { return m_Errors; }

public slots:
  void OnOpenTriggered();
  void OnSaveTriggered();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
  void OnSelectionChanged(const QList<vexa::DataNode::Pointer> &nodes);

private:
  struct ViewEntry;
  void RebuildViewsMenu();
  void FinishClose(const QString &id);
  void DestroyView(ViewEntry &view);

  Ui::QvexaWorkbenchWindowControls *m_Controls;
  vexa::DataStorage::Pointer m_Storage;
  QvexaRenderWindow *m_RenderWindow;
  QvexaDataManagerView *m_DataManager;
  std::vector<std::unique_ptr<vexa::WorkbenchPlugin>> m_Plugins;
  std::map<QString, std::unique_ptr<ViewEntry>> m_Views;
  QStringList m_Errors;
};

#endif
