#include "QvexaWorkbenchWindow.h"

#include "QvexaDataManagerView.h"
#include "QvexaRenderWindow.h"
#include "vexaWorkbenchDeviceWatcher.h"
#include "ui_QvexaWorkbenchWindowControls.h"

#include <usGetModuleContext.h>
#include <wickExtensionType.h>

#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaImage.h>
#include <vexaLog.h>
#include <vexaSlotGuard.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibrary>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <exception>

namespace
{
  // A view that cannot tell whether it works is taken as idle (and the fault logged).
  bool HasRunningWork(const QvexaAbstractView *view)
  {
    try
    {
      return view->HasRunningWork();
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR << "The view " << view->GetViewId().toStdString() << " failed to report its work: " << e.what();
    }
    catch (...)
    {
      VEXA_ERROR << "The view " << view->GetViewId().toStdString() << " failed to report its work.";
    }
    return false;
  }
}

struct QvexaWorkbenchWindow::ViewEntry
{
  vexa::ViewDeclaration declaration;
  int type = 0;
  QvexaAbstractView *view = nullptr;
  QDockWidget *dock = nullptr;
  bool closing = false;
};

QvexaWorkbenchWindow::QvexaWorkbenchWindow(QWidget *parent)
  : QMainWindow(parent), m_Controls(new Ui::QvexaWorkbenchWindowControls), m_Storage(vexa::DataStorage::New()),
    m_RenderWindow(nullptr), m_DataManager(nullptr)
{
  m_Controls->setupUi(this);
  m_RenderWindow = new QvexaRenderWindow(m_Controls->m_Central);
  auto *layout = new QVBoxLayout(m_Controls->m_Central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_RenderWindow);
  m_RenderWindow->SetDataStorage(m_Storage);

  auto *dataDock = new QDockWidget("Data Manager", this);
  dataDock->setObjectName("DataManagerDock");
  dataDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  m_DataManager = new QvexaDataManagerView(dataDock);
  dataDock->setWidget(m_DataManager);
  addDockWidget(Qt::LeftDockWidgetArea, dataDock);
  m_DataManager->SetDataStorage(m_Storage);

  connect(m_DataManager, &QvexaDataManagerView::SelectionChanged, this, &QvexaWorkbenchWindow::OnSelectionChanged);
  connect(m_RenderWindow, &QvexaRenderWindow::LevelWindowChanged, this, [this](const vexa::LevelWindow &levelWindow) {
    statusBar()->showMessage(QvexaRenderWindow::LevelWindowText(levelWindow), 10000);
  });
  connect(m_RenderWindow, &QvexaRenderWindow::Failed, this, [this](const QString &text) { ReportError(text, false); });
  connect(m_DataManager, &QvexaDataManagerView::Failed, this,
          [this](const QString &text) { ReportError(text, false); });
  connect(m_DataManager, &QvexaDataManagerView::VisibilityChanged, this, [this] { RequestUpdate(); });
  connect(m_DataManager, &QvexaDataManagerView::NodesChanged, this, [this] { RequestUpdate(); });
  connect(m_Controls->m_OpenAction, &QAction::triggered, this, &QvexaWorkbenchWindow::OnOpenTriggered);
  connect(m_Controls->m_SaveAction, &QAction::triggered, this, &QvexaWorkbenchWindow::OnSaveTriggered);
  connect(m_Controls->m_QuitAction, &QAction::triggered, this, &QWidget::close);
  RebuildViewsMenu();
  new vexa::WorkbenchDeviceWatcher(statusBar()); // an ultrasound device that stops by itself is told there
}

QvexaWorkbenchWindow::~QvexaWorkbenchWindow()
{
  try
  {
    CloseAllViews();
    StopPlugins();
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << "Closing the workbench: " << e.what();
  }
  delete m_Controls;
}

// ------------------------------------------------------------------ plug-ins

int QvexaWorkbenchWindow::LoadPlugins(const QString &folder)
{
  const QDir dir(folder);
  if (folder.isEmpty() || !dir.exists())
  {
    ReportError(QString("The plug-in folder \"%1\" does not exist.").arg(folder), false);
    return 0;
  }
  int started = 0;
  for (const QString &file : dir.entryList(QDir::Files, QDir::Name))
    if (QLibrary::isLibrary(file) && LoadPlugin(dir.absoluteFilePath(file)))
      ++started;
  const QString summary = QString("%1 plug-in(s) started from %2").arg(started).arg(folder);
  VEXA_INFO << summary.toStdString();
  statusBar()->showMessage(summary, 10000);
  return started;
}

bool QvexaWorkbenchWindow::LoadPlugin(const QString &path)
{
  auto plugin = std::make_unique<vexa::WorkbenchPlugin>(path);
  QString error;
  QStringList available = vexa::WorkbenchPlugin::BuiltInPluginNames();
  for (const auto &other : m_Plugins)
    if (other->IsStarted())
      available << other->GetSymbolicName();
  if (plugin->Load(&error))
  {
    if (available.contains(plugin->GetSymbolicName()))
      error = "a plug-in with the symbolic name " + plugin->GetSymbolicName() + " is started already";
    else
      plugin->Start(available, us::GetModuleContext(), &error);
  }
  if (!error.isEmpty())
  {
    ReportError(QString("The plug-in %1 did not start: %2").arg(QFileInfo(path).fileName(), error), false);
    return false;
  }
  VEXA_INFO << "Plug-in " << plugin->GetSymbolicName().toStdString() << " started from " << path.toStdString();
  m_Plugins.push_back(std::move(plugin));
  RebuildViewsMenu();
  return true;
}

std::vector<vexa::WorkbenchPlugin *> QvexaWorkbenchWindow::GetPlugins() const
{
  std::vector<vexa::WorkbenchPlugin *> plugins;
  for (const auto &plugin : m_Plugins)
    plugins.push_back(plugin.get());
  return plugins;
}

void QvexaWorkbenchWindow::StopPlugins()
{
  for (auto it = m_Plugins.rbegin(); it != m_Plugins.rend(); ++it)
    (*it)->Stop();
  RebuildViewsMenu();
}

// --------------------------------------------------------------------- views

QList<vexa::ViewDeclaration> QvexaWorkbenchWindow::GetViewDeclarations() const
{
  QList<vexa::ViewDeclaration> views;
  for (const auto &plugin : m_Plugins)
    if (plugin->IsStarted())
      views << plugin->GetViews();
  return views;
}

void QvexaWorkbenchWindow::RebuildViewsMenu()
{
  QMenu *menu = m_Controls->m_ViewsMenu;
  menu->clear();
  QMap<QString, QList<vexa::ViewDeclaration>> byCategory;
  for (const vexa::ViewDeclaration &view : GetViewDeclarations())
    byCategory[view.category.isEmpty() ? QString("Other") : view.category] << view;
  for (auto it = byCategory.begin(); it != byCategory.end(); ++it)
  {
    QMenu *category = menu->addMenu(it.key());
    for (const vexa::ViewDeclaration &view : it.value())
    {
      QAction *action = category->addAction(QIcon(view.iconResource), view.name);
      action->setData(view.id);
      action->setObjectName(view.id);
      const QString id = view.id;
      connect(action, &QAction::triggered, this, [this, id] { OpenView(id); });
    }
  }
  if (byCategory.isEmpty())
    menu->addAction("No views")->setEnabled(false);
}

QMenu *QvexaWorkbenchWindow::GetViewsMenu() const { return m_Controls->m_ViewsMenu; }

QvexaAbstractView *QvexaWorkbenchWindow::OpenView(const QString &id)
{
  const auto open = m_Views.find(id);
  if (open != m_Views.end() && !open->second->closing)
  {
    open->second->dock->show();
    open->second->dock->raise();
    return open->second->view;
  }
  if (open != m_Views.end())
  {
    ReportError(QString("The view %1 is still closing; open it again in a moment.").arg(id), true);
    return nullptr;
  }

  const QList<vexa::ViewDeclaration> declarations = GetViewDeclarations();
  const auto declaration = std::find_if(declarations.begin(), declarations.end(),
                                        [&id](const vexa::ViewDeclaration &v) { return v.id == id; });
  if (declaration == declarations.end())
  {
    ReportError(QString("No started plug-in declares the view \"%1\".").arg(id), true);
    return nullptr;
  }
  const int type = wick::ExtensionType::type(declaration->className.toLatin1().constData());
  if (type == 0)
  {
    ReportError(QString("The view class %1 of %2 was not registered by its plug-in.").arg(declaration->className, id),
                true);
    return nullptr;
  }

  auto opened = std::make_unique<ViewEntry>();
  opened->declaration = *declaration;
  opened->type = type;
  QString error;
  QObject *object = nullptr;
  try
  {
    object = wick::ExtensionType::construct(type);
    opened->view = qobject_cast<QvexaAbstractView *>(object);
    if (!opened->view)
      error = QString("the class %1 does not make a view").arg(declaration->className);
    else
    {
      opened->view->SetViewId(id);
      opened->view->SetPartName(declaration->name);
      opened->view->SetViewHost(this);
      opened->dock = new QDockWidget(declaration->name, this);
      opened->dock->setObjectName(id);
      opened->dock->setWindowIcon(QIcon(declaration->iconResource));
      opened->dock->setAttribute(Qt::WA_DeleteOnClose, false);
      // a view taller than the screen scrolls instead of stretching the window past it
      auto *scroll = new QScrollArea(opened->dock);
      scroll->setWidgetResizable(true);
      scroll->setFrameShape(QFrame::NoFrame);
      auto *contents = new QWidget(scroll);
      contents->setObjectName(id + ".contents");
      scroll->setWidget(contents);
      opened->dock->setWidget(scroll);
      opened->view->CreatePartControl(contents);
      // The dock starts as wide as the view and its scroll bar, so it scrolls up
      // and down only; a view that later needs more width than it asked for
      // gets a horizontal scroll bar rather than having its right side cut off.
      scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      scroll->setMinimumWidth(contents->minimumSizeHint().width() + scroll->verticalScrollBar()->sizeHint().width());
    }
  }
  catch (const std::exception &e)
  {
    error = QString("it failed to build: %1").arg(e.what());
  }
  catch (...)
  {
    error = "it failed to build";
  }
  if (!error.isEmpty())
  {
    if (object && !wick::ExtensionType::destroy(type, object))
      delete object;
    delete opened->dock;
    ReportError(QString("The view %1 could not be opened: %2").arg(id, error), true);
    return nullptr;
  }

  addDockWidget(Qt::RightDockWidgetArea, opened->dock);
  opened->dock->installEventFilter(this);
  QvexaAbstractView *view = opened->view;
  m_Views[id] = std::move(opened);
  view->NotifyNodeSelectionChanged(nullptr, GetDataManagerSelection());
  view->SetFocus();
  statusBar()->showMessage(QString("Opened %1").arg(declaration->name), 5000);
  return view;
}

QvexaAbstractView *QvexaWorkbenchWindow::GetOpenView(const QString &id) const
{
  const auto it = m_Views.find(id);
  return it == m_Views.end() || it->second->closing ? nullptr : it->second->view;
}

QDockWidget *QvexaWorkbenchWindow::GetViewDock(const QString &id) const
{
  const auto it = m_Views.find(id);
  return it == m_Views.end() ? nullptr : it->second->dock;
}

QStringList QvexaWorkbenchWindow::GetOpenViewIds() const
{
  QStringList ids;
  for (const auto &entry : m_Views)
    if (!entry.second->closing)
      ids << entry.first;
  return ids;
}

bool QvexaWorkbenchWindow::eventFilter(QObject *watched, QEvent *event)
{
  if (event->type() == QEvent::Close)
    if (auto *dock = qobject_cast<QDockWidget *>(watched))
      if (m_Views.count(dock->objectName()))
        CloseView(dock->objectName());
  return QMainWindow::eventFilter(watched, event);
}

void QvexaWorkbenchWindow::CloseView(const QString &id)
{
  const auto it = m_Views.find(id);
  if (it == m_Views.end())
    return;
  it->second->closing = true;
  it->second->view->NotifyCloseRequested();
  it->second->dock->hide();
  // Deferred deletion runs only when control is back in the event loop this
  // close was asked in, never inside a loop nested below it (a modal dialog
  // of the view, say): the ticket's destruction carries the close out.
  auto *ticket = new QObject(this);
  connect(ticket, &QObject::destroyed, this, [this, id] { FinishClose(id); });
  ticket->deleteLater();
}

void QvexaWorkbenchWindow::FinishClose(const QString &id)
{
  const auto it = m_Views.find(id);
  if (it == m_Views.end())
    return;
  if (HasRunningWork(it->second->view))
  {
    QTimer::singleShot(50, this, [this, id] { CloseView(id); });
    return;
  }
  std::unique_ptr<ViewEntry> view = std::move(it->second);
  m_Views.erase(it);
  DestroyView(*view);
}

void QvexaWorkbenchWindow::DestroyView(ViewEntry &view)
{
  try
  {
    // the view goes before its parent widget: its destructor may still read its form
    if (!wick::ExtensionType::destroy(view.type, view.view))
      delete view.view;
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << "Destroying the view " << view.declaration.id.toStdString() << ": " << e.what();
  }
  view.view = nullptr;
  delete view.dock;
  view.dock = nullptr;
}

void QvexaWorkbenchWindow::CloseAllViews()
{
  while (!m_Views.empty())
  {
    auto it = m_Views.begin();
    it->second->view->NotifyCloseRequested();
    QElapsedTimer waited;
    waited.start();
    qint64 lastReport = 0;
    while (HasRunningWork(it->second->view))
    {
      // the view's workers may need the event loop to finish
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(5);
      if (waited.elapsed() - lastReport > 5000)
      {
        lastReport = waited.elapsed();
        VEXA_WARN << "Waiting for the work of the view " << it->first.toStdString() << " to end";
      }
    }
    std::unique_ptr<ViewEntry> view = std::move(it->second);
    m_Views.erase(it);
    DestroyView(*view);
  }
}

// ---------------------------------------------------------------------- data

QList<vexa::DataNode::Pointer> QvexaWorkbenchWindow::GetDataManagerSelection() const
{
  return m_DataManager->GetSelectedNodes();
}

vexa::IRenderWindowPart *QvexaWorkbenchWindow::GetRenderWindowPart() const
{
  return const_cast<QvexaWorkbenchWindow *>(this);
}

void QvexaWorkbenchWindow::OnSelectionChanged(const QList<vexa::DataNode::Pointer> &nodes)
{
  for (const auto &entry : m_Views)
    if (!entry.second->closing)
      entry.second->view->NotifyNodeSelectionChanged(nullptr, nodes);
}

QList<vexa::DataNode::Pointer> QvexaWorkbenchWindow::LoadFiles(const QStringList &paths)
{
  QList<vexa::DataNode::Pointer> loaded;
  for (const QString &path : paths)
  {
    try
    {
      for (const vexa::BaseData::Pointer &data : vexa::IOUtil::Load(path.toStdString()))
      {
        auto node = vexa::DataNode::New();
        node->SetName(QFileInfo(path).completeBaseName().toStdString());
        node->SetData(data);
        if (const auto *image = dynamic_cast<const vexa::Image *>(data.GetPointer()))
        {
          vexa::LevelWindow levelWindow;
          if (levelWindow.SetAuto(image))
            node->SetLevelWindow(levelWindow);
        }
        m_Storage->AddNode(node);
        loaded << node;
      }
    }
    catch (const std::exception &e)
    {
      ReportError(QString("Could not open %1: %2").arg(path, QString::fromStdString(vexa::UserText(e))), true);
    }
  }
  if (!loaded.isEmpty())
  {
    m_DataManager->Synchronize();
    // what was opened last is what the views work on next
    m_DataManager->SetSelectedNodes({loaded.back()});
    GetRenderingManager()->FitViewsToGeometry(loaded.back()->GetData()->GetTimeGeometry());
    statusBar()->showMessage(QString("Opened %1 file(s)").arg(loaded.size()), 5000);
  }
  return loaded;
}

bool QvexaWorkbenchWindow::SaveNode(const vexa::DataNode *node, const QString &path)
{
  const vexa::BaseData::Pointer data = node ? node->GetData() : nullptr;
  const auto *image = dynamic_cast<const vexa::Image *>(data.GetPointer());
  if (!image)
  {
    ReportError("Select an image to save.", true);
    return false;
  }
  QString target = path;
  if (QFileInfo(target).suffix().isEmpty())
    target += ".nrrd";
  try
  {
    vexa::IOUtil::Save(image, target.toStdString());
  }
  catch (const std::exception &e)
  {
    ReportError(QString("Could not save %1: %2").arg(target, QString::fromStdString(vexa::UserText(e))), true);
    return false;
  }
  statusBar()->showMessage(QString("Saved %1").arg(target), 5000);
  return true;
}

void QvexaWorkbenchWindow::OnOpenTriggered()
{
  const QStringList paths =
    QFileDialog::getOpenFileNames(this, "Open", QString(), "Images (*.nrrd *.nhdr);;All files (*)");
  if (!paths.isEmpty())
    LoadFiles(paths);
}

void QvexaWorkbenchWindow::OnSaveTriggered()
{
  vexa::DataNode::Pointer chosen;
  for (const vexa::DataNode::Pointer &node : GetDataManagerSelection())
    if (dynamic_cast<const vexa::Image *>(node->GetData().GetPointer()))
    {
      chosen = node;
      break;
    }
  if (!chosen)
  {
    ReportError("Select an image to save.", true);
    return;
  }
  const QString path = QFileDialog::getSaveFileName(this, "Save", QString::fromStdString(chosen->GetName()) + ".nrrd",
                                                    "NRRD images (*.nrrd)");
  if (!path.isEmpty())
    SaveNode(chosen, path);
}

// ----------------------------------------------------------- render windows

vexa::RenderingManager *QvexaWorkbenchWindow::GetRenderingManager() const
{
  return vexa::RenderingManager::GetInstance();
}

void QvexaWorkbenchWindow::RequestUpdate(int requestType)
{
  GetRenderingManager()->RequestUpdateAll(static_cast<vexa::RenderingManager::RequestType>(requestType));
}

bool QvexaWorkbenchWindow::SaveScreenshot(const QString &path)
{
  QImage shot;
  if (QGuiApplication::platformName() == "xcb")
  {
    QScreen *screen = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    if (screen)
      shot = screen->grabWindow(winId()).toImage();
  }
  if (shot.isNull())
    shot = grab().toImage();
  if (shot.isNull())
  {
    ReportError("Could not take a screenshot.", false);
    return false;
  }
  const double scale = width() > 0 ? double(shot.width()) / width() : 1.0;
  const QRect region(m_RenderWindow->mapTo(this, QPoint(0, 0)), m_RenderWindow->size());
  shot.setText("RenderWindowRegion", QString("%1,%2,%3,%4")
                                       .arg(qRound(region.x() * scale))
                                       .arg(qRound(region.y() * scale))
                                       .arg(qRound(region.width() * scale))
                                       .arg(qRound(region.height() * scale)));
  if (!shot.save(path, "PNG"))
  {
    ReportError(QString("Could not write the screenshot %1.").arg(path), false);
    return false;
  }
  VEXA_INFO << "Screenshot written to " << path.toStdString();
  return true;
}

void QvexaWorkbenchWindow::ReportError(const QString &text, bool box)
{
  VEXA_ERROR << text.toStdString();
  m_Errors << text;
  statusBar()->showMessage(text, 15000);
  if (box)
  {
    auto *message = new QMessageBox(QMessageBox::Critical, "Vexa Workbench", text, QMessageBox::Ok, this);
    message->setAttribute(Qt::WA_DeleteOnClose);
    message->open(); // window-modal, no nested event loop
  }
}
