#include "vexaWorkbenchTestSupport.h"

#include <QvexaDataManagerView.h>
#include <QvexaRenderWindow.h>
#include <QvexaWorkbenchWindow.h>
#include <vexaWorkbenchApplication.h>
#include <vexaWorkbenchUltrasoundDevice.h>

#include <ctkPluginActivator.h>
#include <ctkPluginContext.h>
#include <usGetModuleContext.h>
#include <usModuleContext.h>
#include <wickExtensionType.h>
#include <wickObject.h>

#include <vexaIOUtil.h>
#include <vexaImageReadAccessor.h>
#include <vexaTestDialogDriver.h>
#include <vexaTestGeometry.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaTestThisProcess.h>
#include <vexaTestVideos.h>

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QWindow>
#include <QPluginLoader>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace
{
  const QString TestViewId = "org.vexa.views.workbenchtest";

  // the application, with the GUI-thread callback on its event loop (as the workbench program has it)
  const auto Application = &vexa::test::QtApplication::WithGuiThreadCallback;

  void Spin(int ms = 50) { vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(ms)); }

  // the texts of the message boxes shown
  QStringList BoxTexts(const vexa::test::DialogDriver &dialogs)
  {
    QStringList texts;
    for (const auto &shown : dialogs.ShownDialogs())
      if (shown.kind == vexa::test::DialogDriver::Shown::MessageBox)
        texts << shown.text;
    return texts;
  }

  class WorkbenchService : public QObject
  {
  public:
    using QObject::QObject;
  };

  QVariant ActivatorProperty(QvexaWorkbenchWindow &window, const char *name)
  {
    for (vexa::WorkbenchPlugin *plugin : window.GetPlugins())
      if (plugin->GetSymbolicName() == "org.vexa.test.workbench")
        return plugin->GetInstance()->property(name);
    return QVariant();
  }
}

US_DECLARE_SERVICE_INTERFACE(WorkbenchService, "org.vexa.test.WorkbenchService")

TEST(Workbench, LoadsThePluginWithItsManifestViewsAndActivator)
{
  Application();
  QvexaWorkbenchWindow window;
  ASSERT_TRUE(window.LoadPlugin(VEXA_TEST_PLUGIN)) << window.GetReportedErrors().join("\n").toStdString();
  ASSERT_EQ(1u, window.GetPlugins().size());
  vexa::WorkbenchPlugin *plugin = window.GetPlugins().front();

  EXPECT_EQ(QByteArray("Plugin-SymbolicName: org.vexa.test.workbench\r\nPlugin-Name: Workbench Test\r\n"
                       "Require-Plugin: org.vexa.gui.qt.common\r\nPlugin-Vendor: Vexa\r\nPlugin-Version: 0.1\r\n\r\n"),
            plugin->GetManifestBytes());
  EXPECT_EQ(":/org.vexa.test.workbench", plugin->GetResourceRoot());
  EXPECT_EQ("Workbench Test", plugin->GetName());
  EXPECT_EQ("WorkbenchTest", plugin->GetMetaData().value("IID").toString());
  EXPECT_EQ("WorkbenchTest_Activator", plugin->GetMetaData().value("className").toString());

  ASSERT_EQ(1, plugin->GetViews().size());
  const vexa::ViewDeclaration view = plugin->GetViews().front();
  EXPECT_EQ(TestViewId, view.id);
  EXPECT_EQ("Workbench Test", view.name);
  EXPECT_EQ("Tests", view.category);
  EXPECT_EQ("QvexaWorkbenchTestView", view.className);
  EXPECT_EQ(":/org.vexa.test.workbench/resources/icon_test.svg", view.iconResource);

  // one instance, whose activator is found by the interface id
  QObject *instance = plugin->GetInstance();
  EXPECT_EQ(instance, QPluginLoader(VEXA_TEST_PLUGIN).instance());
  EXPECT_EQ(instance->qt_metacast("org.commontk.pluginfw.pluginactivator"),
            static_cast<void *>(plugin->GetActivator()));
  EXPECT_EQ(1, ActivatorProperty(window, "starts").toInt());
  EXPECT_EQ(QByteArray("QvexaWorkbenchTestView"),
            wick::ExtensionType::name(ActivatorProperty(window, "registeredType").toInt()));

  // the Views menu: category, name, icon
  QMenu *category = nullptr;
  for (QAction *action : window.GetViewsMenu()->actions())
    if (action->menu() && action->text() == "Tests")
      category = action->menu();
  ASSERT_NE(nullptr, category);
  ASSERT_EQ(1, category->actions().size());
  EXPECT_EQ("Workbench Test", category->actions().front()->text());
  EXPECT_FALSE(category->actions().front()->icon().pixmap(16, 16).isNull());

  // the menu opens the view; opening it again gives the same one
  category->actions().front()->trigger();
  QvexaAbstractView *opened = window.GetOpenView(TestViewId);
  ASSERT_NE(nullptr, opened);
  EXPECT_EQ(opened, window.OpenView(TestViewId));
  EXPECT_NE(nullptr, window.GetViewDock(TestViewId)->findChild<QWidget *>("TestViewLabel"));

  window.StopPlugins();
  EXPECT_EQ(1, ActivatorProperty(window, "stops").toInt());
  EXPECT_EQ(0, wick::ExtensionType::type("QvexaWorkbenchTestView")); // forgotten with its plug-in
}

TEST(Workbench, ViewsAreMadeAndDestroyedThroughTheExtensionTypeOutsideNestedLoops)
{
  Application();
  QvexaWorkbenchWindow window;
  ASSERT_TRUE(window.LoadPlugin(VEXA_TEST_PLUGIN));
  const long live = wick::Object::GetNumberOfLiveObjects();
  ASSERT_NE(nullptr, window.OpenView(TestViewId));
  EXPECT_EQ(live + 1, wick::Object::GetNumberOfLiveObjects());

  // asked to close inside a nested loop: the view lives until that loop has ended
  long liveAfterNestedLoop = -1;
  QTimer::singleShot(0, &window, [&] {
    QEventLoop nested;
    window.CloseView(TestViewId);
    QTimer::singleShot(100, &nested, &QEventLoop::quit);
    nested.exec();
    liveAfterNestedLoop = wick::Object::GetNumberOfLiveObjects();
  });
  Spin(300);
  EXPECT_EQ(live + 1, liveAfterNestedLoop);
  EXPECT_EQ(live, wick::Object::GetNumberOfLiveObjects());
  EXPECT_EQ(nullptr, window.GetViewDock(TestViewId));

  // a view with running work stays until the work has ended
  QvexaAbstractView *busy = window.OpenView(TestViewId);
  ASSERT_NE(nullptr, busy);
  busy->setProperty("busy", true);
  window.CloseView(TestViewId);
  Spin(300);
  EXPECT_EQ(live + 1, wick::Object::GetNumberOfLiveObjects());
  EXPECT_EQ(nullptr, window.GetOpenView(TestViewId)); // closing already
  busy->setProperty("busy", false);
  Spin(300);
  EXPECT_EQ(live, wick::Object::GetNumberOfLiveObjects());

  // the dock's own close button closes the view the same way
  ASSERT_NE(nullptr, window.OpenView(TestViewId));
  window.GetViewDock(TestViewId)->close();
  Spin(100);
  EXPECT_EQ(live, wick::Object::GetNumberOfLiveObjects());
}

// A view's dock starts as wide as the view; a view that later needs more
// width (a label that got a long text) shows a horizontal scroll bar instead
// of having its right side cut off.
TEST(Workbench, AViewThatGrowsWiderThanItsDockScrolls)
{
  Application();
  QvexaWorkbenchWindow window;
  ASSERT_TRUE(window.LoadPlugin(VEXA_TEST_PLUGIN));
  ASSERT_NE(nullptr, window.OpenView(TestViewId));
  window.resize(1200, 800);
  window.show();
  auto *scroll = qobject_cast<QScrollArea *>(window.GetViewDock(TestViewId)->widget());
  ASSERT_NE(nullptr, scroll);
  Spin(50);
  EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
  // what a layout does when a child's minimum width grows
  scroll->widget()->setMinimumWidth(scroll->width() * 3);
  Spin(50);
  EXPECT_TRUE(scroll->horizontalScrollBar()->isVisible());
  EXPECT_GE(scroll->horizontalScrollBar()->maximum(), scroll->width());
}

TEST(Workbench, SelectionAndServiceEventsReachTheViewOnTheGuiThread)
{
  Application();
  QvexaWorkbenchWindow window;
  ASSERT_TRUE(window.LoadPlugin(VEXA_TEST_PLUGIN));
  QvexaAbstractView *view = window.OpenView(TestViewId);
  ASSERT_NE(nullptr, view);

  vexa::DataStorage::Pointer storage = window.GetDataStorage();
  std::vector<vexa::DataNode::Pointer> nodes;
  for (const char *name : {"first", "second", "third"})
  {
    nodes.push_back(vexa::DataNode::New());
    nodes.back()->SetName(name);
  }
  std::thread adder([&] {
    for (const auto &node : nodes)
      storage->AddNode(node);
  });
  adder.join();
  Spin();
  EXPECT_EQ(3, window.GetDataManager()->GetListedNodes().size());

  window.GetDataManager()->SetSelectedNodes({nodes[2], nodes[0]});
  EXPECT_EQ((QStringList{"first", "third"}), view->property("selectedNames").toStringList());
  EXPECT_EQ((QList<vexa::DataNode::Pointer>{nodes[0], nodes[2]}), view->GetDataManagerSelection());

  // a failing selection hook is contained
  view->setProperty("failSelection", true);
  window.GetDataManager()->SetSelectedNodes({nodes[1]});
  view->setProperty("failSelection", false);
  storage->RemoveNode(nodes[0]);
  Spin();
  EXPECT_EQ(2, window.GetDataManager()->GetListedNodes().size());

  // service events from a worker thread arrive on the GUI thread
  const int before = ActivatorProperty(window, "serviceEvents").toInt();
  WorkbenchService service;
  std::thread registrar([&] { us::GetModuleContext()->RegisterService<WorkbenchService>(&service).Unregister(); });
  registrar.join();
  Spin();
  EXPECT_EQ(before + 2, ActivatorProperty(window, "serviceEvents").toInt());
  EXPECT_TRUE(ActivatorProperty(window, "serviceEventsOnGuiThread").toBool());

  // none once the view is gone
  window.CloseView(TestViewId);
  Spin();
  us::GetModuleContext()->RegisterService<WorkbenchService>(&service).Unregister();
  Spin();
  EXPECT_EQ(before + 2, ActivatorProperty(window, "serviceEvents").toInt());
}

TEST(Workbench, BrokenPluginsAndViewsAreReportedAndTheRestGoesOn)
{
  Application();
  vexa::test::TemporaryFolder folder;
  {
    QFile junk(QString::fromStdString(folder.File("libjunk.so")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a library");
  }
  ASSERT_TRUE(QFile::link(VEXA_TEST_PLUGIN, QString::fromStdString(folder.File("libzz.so"))));

  QvexaWorkbenchWindow window;
  EXPECT_EQ(1, window.LoadPlugins(QString::fromStdString(folder.Path().string())));
  ASSERT_EQ(1, window.GetReportedErrors().size());
  EXPECT_TRUE(window.GetReportedErrors().front().contains("libjunk.so"));

  EXPECT_EQ(nullptr, window.OpenView("org.vexa.views.unknown"));
  EXPECT_EQ(0, window.LoadPlugins("/no/such/folder"));
  EXPECT_EQ(3, window.GetReportedErrors().size());

  // a view whose part control throws is destroyed again through its type
  const long live = wick::Object::GetNumberOfLiveObjects();
  qputenv("VEXA_TEST_VIEW_FAILS_TO_BUILD", "1");
  EXPECT_EQ(nullptr, window.OpenView(TestViewId));
  qunsetenv("VEXA_TEST_VIEW_FAILS_TO_BUILD");
  EXPECT_EQ(live, wick::Object::GetNumberOfLiveObjects());
  EXPECT_EQ(nullptr, window.GetViewDock(TestViewId));
  EXPECT_TRUE(window.GetReportedErrors().last().contains("told to fail building"));
  EXPECT_NE(nullptr, window.OpenView(TestViewId)); // and opens once it builds

  qputenv("VEXA_TEST_PLUGIN_FAILS_TO_START", "1");
  QvexaWorkbenchWindow other;
  EXPECT_FALSE(other.LoadPlugin(VEXA_TEST_PLUGIN));
  qunsetenv("VEXA_TEST_PLUGIN_FAILS_TO_START");
  ASSERT_EQ(1, other.GetReportedErrors().size());
  EXPECT_TRUE(other.GetReportedErrors().front().contains("told to fail"));
  EXPECT_TRUE(other.GetViewDeclarations().isEmpty());
}

TEST(Workbench, OpensSavesAndDrawsImages)
{
  Application();
  vexa::test::TemporaryFolder folder;
  const std::string source = folder.File("bands.nrrd");
  vexa::IOUtil::Save(vexa::test::MakeBands(4, 2), source);

  vexa::test::DialogDriver dialogs;
  QvexaWorkbenchWindow window;
  window.resize(800, 600);
  window.show();
  // File > Open through its dialog
  dialogs.AnswerFileDialog(QString::fromStdString(source));
  window.OnOpenTriggered();
  const QList<vexa::DataNode::Pointer> loaded = window.GetDataManager()->GetListedNodes();
  ASSERT_EQ(1, loaded.size());
  EXPECT_EQ("bands", loaded.front()->GetName());
  EXPECT_EQ(loaded, window.GetDataManagerSelection()) << "what was opened is selected";
  vexa::LevelWindow levelWindow;
  ASSERT_TRUE(loaded.front()->GetLevelWindow(levelWindow));
  EXPECT_DOUBLE_EQ(0, levelWindow.GetLowerWindowBound());
  EXPECT_DOUBLE_EQ(255, levelWindow.GetUpperWindowBound());

  // a file that is not there: a message box, nothing added
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  EXPECT_TRUE(window.LoadFiles({QString::fromStdString(folder.File("missing.nrrd"))}).isEmpty());
  Spin();
  ASSERT_EQ(1, BoxTexts(dialogs).size());
  EXPECT_TRUE(BoxTexts(dialogs).front().contains("missing.nrrd"));
  EXPECT_EQ(1, window.GetDataManager()->GetListedNodes().size());

  // the render window draws the bands through the level window
  Spin();
  QvexaRenderWindow *render = window.GetRenderWindow();
  EXPECT_EQ(loaded.front(), render->GetShownNode());
  const QImage grabbed = render->grab().toImage();
  const QRect imageRect = render->GetImageRect();
  ASSERT_FALSE(imageRect.isEmpty());
  EXPECT_NEAR(3.0 * 4 / 2, double(imageRect.width()) / imageRect.height(), 0.15); // 12 x 2 pixels, spacing 1
  const int y = imageRect.center().y();
  for (const auto &band : {std::make_pair(1.0 / 6, 0), std::make_pair(3.0 / 6, 128), std::make_pair(5.0 / 6, 255)})
  {
    const int x = imageRect.left() + int(band.first * imageRect.width());
    EXPECT_EQ(band.second, qGray(grabbed.pixel(x, y))) << "at " << x;
  }
  EXPECT_EQ(0, qGray(grabbed.pixel(render->width() / 2, 1))); // outside the image: black

  // a node without a level window gets the automatic one when it is first
  // drawn, and keeps it: a sparse image's bright pixel is its top, not the
  // background's 98th percentile
  std::vector<float> sparse(100 * 100);
  for (std::size_t i = 0; i < sparse.size(); ++i)
    sparse[i] = static_cast<float>(i % 101) / 100.0f; // 0..1
  sparse[50 * 100 + 50] = 50.0f;
  auto plain = vexa::DataNode::New();
  plain->SetData(vexa::test::MakeImage<float>(sparse, 100, 100));
  window.GetDataStorage()->AddNode(plain);
  Spin();
  EXPECT_EQ(plain, render->GetShownNode());
  ASSERT_TRUE(plain->GetLevelWindow(levelWindow));
  EXPECT_NEAR(0.02, levelWindow.GetLowerWindowBound(), 0.005);
  EXPECT_DOUBLE_EQ(50, levelWindow.GetUpperWindowBound());
  window.GetDataStorage()->RemoveNode(plain);
  Spin();

  // hidden: nothing drawn
  loaded.front()->SetVisibility(false);
  window.RequestUpdate();
  Spin();
  EXPECT_FALSE(render->GetShownNode());

  // File > Save of the selected node, a name without an extension: NRRD with the same pixels
  const QString target = QString::fromStdString(folder.File("copy"));
  window.GetDataManager()->SetSelectedNodes({loaded.front()});
  dialogs.AnswerFileDialog(target);
  window.OnSaveTriggered();
  const vexa::Image::Pointer reread = vexa::IOUtil::LoadImage(folder.File("copy.nrrd"));
  vexa::ImageReadAccessor a(reread), b(dynamic_cast<vexa::Image *>(loaded.front()->GetData().GetPointer()));
  ASSERT_EQ(a.GetSize(), b.GetSize());
  EXPECT_EQ(0, std::memcmp(a.GetData(), b.GetData(), a.GetSize()));

  dialogs.AnswerMessageBox(QMessageBox::Ok);
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  window.GetDataManager()->SetSelectedNodes({});
  window.OnSaveTriggered(); // nothing selected: said so, no dialog
  EXPECT_FALSE(window.SaveNode(loaded.front(), QString::fromStdString(folder.File("no/such/folder/x.nrrd"))));
  Spin();
  const QStringList texts = BoxTexts(dialogs); // both boxes are up at once: either may be answered first
  ASSERT_EQ(3, texts.size());
  EXPECT_TRUE(texts.mid(1).contains("Select an image to save."));
  EXPECT_EQ(1, texts.mid(1).filter("no/such/folder").size());
  EXPECT_EQ(0, texts.filter(".cpp:").size()) << "the user reads the reason, not a source position";
  EXPECT_EQ(0, dialogs.PendingAnswers());
}

namespace
{
  // a float image of nx x ny pixels whose columns rise from 0 to `top`
  vexa::Image::Pointer ColumnRamp(
    unsigned int nx, unsigned int ny, double sx = 1.0, double sy = 1.0, float top = 100.0f)
  {
    std::vector<float> values(std::size_t(nx) * ny);
    for (std::size_t i = 0; i < values.size(); ++i)
      values[i] = top * static_cast<float>(i % nx) / static_cast<float>(nx - 1);
    vexa::Image::Pointer image = vexa::test::MakeImage(values, nx, ny);
    image->GetGeometry()->SetSpacing(vexa::test::MakeVector3D(sx, sy, 1.0));
    return image;
  }

  double Aspect(const QRect &rect) { return double(rect.width()) / rect.height(); }

  // the workbench on the screen, its render window at hand
  struct ShownWorkbench
  {
    explicit ShownWorkbench(QSize size)
    {
      window.resize(size);
      window.show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    vexa::test::ApplicationFirst application;
    QvexaWorkbenchWindow window;
    QvexaRenderWindow *const render = window.GetRenderWindow();
  };
}

TEST(Workbench, TheTopmostVisibleImageIsDrawnFittedToItsOwnGeometry)
{
  ShownWorkbench shown(QSize(1000, 700));
  QvexaWorkbenchWindow &window = shown.window;
  QvexaRenderWindow *render = shown.render;
  QvexaDataManagerView *manager = window.GetDataManager();
  // a raw recording in samples (128 elements x 1024 samples of 0.025 us) and
  // its result in millimetres (256 lines over 38.4 mm x 512 rows over 40 mm)
  const vexa::DataNode::Pointer raw = vexa::test::MakeNode(ColumnRamp(128, 1024, 0.3, 0.025), "raw");
  const vexa::DataNode::Pointer result = vexa::test::MakeNode(ColumnRamp(256, 512, 0.15, 40.0 / 512), "raw_bf");
  const vexa::DataNode::Pointer empty = vexa::test::MakeNode(nullptr, "no image");
  window.GetDataStorage()->AddNode(raw);
  manager->Synchronize();
  manager->SetSelectedNodes({raw});
  window.GetDataStorage()->AddNode(result);
  window.GetDataStorage()->AddNode(empty); // the top node holds no image: the one below it is drawn
  Spin();
  EXPECT_EQ(result, render->GetShownNode()) << "the newest image, though another one is selected";
  EXPECT_NEAR(38.4 / 40.0, Aspect(render->GetImageRect()), 0.02);
  EXPECT_EQ(render->GetImageRect().size() * render->devicePixelRatioF(), render->GetSliceImage().size())
    << "drawn at the window's resolution";

  // unchecked in the data manager: the one below is drawn, in its own frame
  // (the data manager takes the new rows in from the event loop, later in a slow build)
  ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] { return manager->GetItem(result) != nullptr; }));
  QListWidgetItem *item = manager->GetItem(result);
  item->setCheckState(Qt::Unchecked);
  Spin();
  EXPECT_FALSE(result->IsVisible());
  EXPECT_EQ(raw, render->GetShownNode());
  EXPECT_NEAR(38.4 / 25.6, Aspect(render->GetImageRect()), 0.02);
  item->setCheckState(Qt::Checked);
  Spin();
  EXPECT_EQ(result, render->GetShownNode());

  // a resized window draws the picture again at its new size
  window.resize(1300, 900);
  Spin();
  EXPECT_EQ(render->GetImageRect().size() * render->devicePixelRatioF(), render->GetSliceImage().size());
  EXPECT_NEAR(38.4 / 40.0, Aspect(render->GetImageRect()), 0.02);
}

TEST(Workbench, TheAutomaticWindowFollowsANewImageUntilSomeoneSetsAnother)
{
  ShownWorkbench shown(QSize(800, 600));
  QvexaWorkbenchWindow &window = shown.window;
  // a stream's node: first a placeholder of values 0..1000, then the device's frames of 0..100
  const vexa::Image::Pointer placeholder = ColumnRamp(64, 64, 1.0, 1.0, 1000.0f);
  const vexa::DataNode::Pointer node = vexa::test::MakeNode(placeholder, "US Viewing Stream - Image 0");
  window.GetDataStorage()->AddNode(node);
  Spin();
  vexa::LevelWindow levelWindow;
  ASSERT_TRUE(node->GetLevelWindow(levelWindow));
  EXPECT_NEAR(1000, levelWindow.GetRangeMax(), 1e-3);

  const vexa::Image::Pointer frame = ColumnRamp(64, 64);
  node->SetData(frame);
  window.RequestUpdate();
  Spin();
  vexa::LevelWindow ofTheFrame;
  ASSERT_TRUE(ofTheFrame.SetAuto(frame));
  ASSERT_TRUE(node->GetLevelWindow(levelWindow));
  EXPECT_EQ(ofTheFrame, levelWindow) << "the placeholder's window went with the placeholder";
  EXPECT_EQ(node, shown.render->GetShownNode());

  // set by a view (or the user): it stays, whatever image comes next
  vexa::LevelWindow chosen(30, 20);
  node->SetLevelWindow(chosen);
  node->SetData(placeholder);
  window.RequestUpdate();
  Spin();
  ASSERT_TRUE(node->GetLevelWindow(levelWindow));
  EXPECT_EQ(chosen, levelWindow);
}

TEST(Workbench, TheRightMouseButtonChangesTheLevelWindowAndADoubleClickResetsIt)
{
  ShownWorkbench shown(QSize(1000, 700));
  QvexaWorkbenchWindow &window = shown.window;
  QvexaRenderWindow *render = shown.render;
  const vexa::DataNode::Pointer node = vexa::test::MakeNode(ColumnRamp(200, 100), "ramp");
  vexa::LevelWindow automatic;
  ASSERT_TRUE(automatic.SetAuto(dynamic_cast<vexa::Image *>(node->GetData().GetPointer())));
  window.GetDataStorage()->AddNode(node);
  Spin();
  ASSERT_EQ(node, render->GetShownNode());
  vexa::LevelWindow levelWindow;
  ASSERT_TRUE(node->GetLevelWindow(levelWindow));
  ASSERT_EQ(automatic, levelWindow);
  ASSERT_DOUBLE_EQ(100, levelWindow.GetRange());

  // the mouse through the window system, as a user's hand moves it
  QWindow *handle = window.windowHandle();
  const auto at = [&](QPoint inRender) { return render->mapTo(&window, inRender); };
  const QPoint start = render->rect().center();
  const int dx = -render->width() / 4, dy = -render->height() / 10;
  struct Step
  {
    const char *what;
    QPoint to;
    double level, window;
  };
  const double w = render->width(), h = render->height();
  const double level0 = automatic.GetLevel(), narrowed = automatic.GetWindow() + dx * 100 / w;
  const std::vector<Step> steps = {
    {"left narrows the window", start + QPoint(dx, 0), level0, narrowed},
    {"up raises the level", start + QPoint(dx, dy), level0 - dy * 100 / h, narrowed},
    {"far right: the window no wider than the range", start + QPoint(render->width() / 2 - 1, dy), 50, 100},
    {"far down: the window stays inside the range", start + QPoint(dx, render->height() / 2 - 1), narrowed / 2,
     narrowed},
  };
  QTest::mousePress(handle, Qt::RightButton, {}, at(start));
  for (const Step &step : steps)
  {
    QTest::mouseMove(handle, at(step.to));
    ASSERT_TRUE(node->GetLevelWindow(levelWindow)) << step.what;
    EXPECT_NEAR(step.level, levelWindow.GetLevel(), 1e-6) << step.what;
    EXPECT_NEAR(step.window, levelWindow.GetWindow(), 1e-6) << step.what;
    EXPECT_DOUBLE_EQ(0, levelWindow.GetRangeMin()) << step.what;
    EXPECT_DOUBLE_EQ(100, levelWindow.GetRangeMax()) << step.what;
    EXPECT_EQ(QvexaRenderWindow::LevelWindowText(levelWindow).toStdString(),
              window.statusBar()->currentMessage().toStdString())
      << step.what;
  }
  QTest::mouseMove(handle, at(steps[1].to));
  QTest::mouseRelease(handle, Qt::RightButton, {}, at(steps[1].to));
  EXPECT_EQ(QString("Level %1, Window %2").arg(level0 - dy * 100 / h, 0, 'f', 1).arg(narrowed, 0, 'f', 1).toStdString(),
            window.statusBar()->currentMessage().toStdString());

  // the picture follows: the column of the new level is drawn mid grey
  Spin();
  ASSERT_TRUE(node->GetLevelWindow(levelWindow));
  const QImage picture = render->grab().toImage();
  const QRect image = render->GetImageRect();
  const auto greyAtValue = [&](double value) {
    return qGray(picture.pixel(image.left() + int(value / 100 * (image.width() - 1)), image.center().y()));
  };
  EXPECT_NEAR(128, greyAtValue(levelWindow.GetLevel()), 4);
  EXPECT_EQ(0, greyAtValue(levelWindow.GetLowerWindowBound() - 3));
  EXPECT_EQ(255, greyAtValue(levelWindow.GetUpperWindowBound() + 3));

  // moving without the button changes nothing; a double click goes back to the automatic window
  const vexa::LevelWindow dragged = levelWindow;
  QTest::mouseMove(handle, at(start + QPoint(30, 30)));
  ASSERT_TRUE(node->GetLevelWindow(levelWindow));
  EXPECT_EQ(dragged, levelWindow);
  QTest::mouseDClick(handle, Qt::LeftButton, {}, at(start));
  ASSERT_TRUE(node->GetLevelWindow(levelWindow));
  EXPECT_EQ(automatic, levelWindow);
  EXPECT_EQ(QString("Level %1, Window %2").arg(level0, 0, 'f', 1).arg(automatic.GetWindow(), 0, 'f', 1).toStdString(),
            window.statusBar()->currentMessage().toStdString());

  // the text has the decimals the range needs
  struct Text
  {
    vexa::LevelWindow levelWindow;
    QString text;
  };
  vexa::LevelWindow small;
  small.SetRangeMinMax(0, 0.096);
  small.SetWindowBounds(0.0000295, 0.0952);
  vexa::LevelWindow wide;
  wide.SetRangeMinMax(-32768, 32767);
  wide.SetWindowBounds(-1000, 3000);
  for (const Text &t : {Text{vexa::LevelWindow(127.5, 255), "Level 128, Window 255"},
                        Text{small, "Level 0.0476, Window 0.0952"}, Text{wide, "Level 1000, Window 4000"}})
    EXPECT_EQ(t.text.toStdString(), QvexaRenderWindow::LevelWindowText(t.levelWindow).toStdString());

  // without a node shown the mouse does nothing
  window.GetDataStorage()->RemoveNode(node);
  Spin();
  QTest::mousePress(handle, Qt::RightButton, {}, at(start));
  QTest::mouseMove(handle, at(start + QPoint(40, 40)));
  QTest::mouseRelease(handle, Qt::RightButton, {}, at(start + QPoint(40, 40)));
  QTest::mouseDClick(handle, Qt::LeftButton, {}, at(start));
  EXPECT_TRUE(window.GetReportedErrors().isEmpty());
}

// A result that arrives while the user drags comes on top: it keeps its own
// window, and the drag leaves the node it started on as it was.
TEST(Workbench, ADragEndsWhenAnotherNodeComesOnTop)
{
  ShownWorkbench shown(QSize(1000, 700));
  QvexaWorkbenchWindow &window = shown.window;
  QvexaRenderWindow *render = shown.render;
  const vexa::DataNode::Pointer source = vexa::test::MakeNode(ColumnRamp(200, 100), "raw");
  window.GetDataStorage()->AddNode(source);
  Spin();
  ASSERT_EQ(source, render->GetShownNode());

  QWindow *handle = window.windowHandle();
  const QPoint start = render->mapTo(&window, render->rect().center());
  QTest::mousePress(handle, Qt::RightButton, {}, start);
  QTest::mouseMove(handle, start + QPoint(-60, -20));
  vexa::LevelWindow dragged;
  ASSERT_TRUE(source->GetLevelWindow(dragged));

  // a result of values ten times as large, with no window of its own yet
  const vexa::Image::Pointer large = ColumnRamp(200, 100, 1.0, 1.0, 1000.0f);
  const vexa::DataNode::Pointer result = vexa::test::MakeNode(large, "raw_bf");
  window.GetDataStorage()->AddNode(result);
  Spin();
  ASSERT_EQ(result, render->GetShownNode());
  vexa::LevelWindow automatic;
  ASSERT_TRUE(automatic.SetAuto(large));

  QTest::mouseMove(handle, start + QPoint(-80, -40));
  QTest::mouseMove(handle, start + QPoint(-100, -60));
  QTest::mouseRelease(handle, Qt::RightButton, {}, start + QPoint(-100, -60));
  vexa::LevelWindow levelWindow;
  ASSERT_TRUE(result->GetLevelWindow(levelWindow));
  EXPECT_EQ(automatic, levelWindow) << "the result got the window of the image below it";
  ASSERT_TRUE(source->GetLevelWindow(levelWindow));
  EXPECT_EQ(dragged, levelWindow);
}

namespace
{
  QListWidget *NodeList(QvexaDataManagerView *manager) { return manager->findChild<QListWidget *>("m_NodeList"); }

  /**
   * Right-clicks the node's row as a hand does and picks `choice` from the
   * context menu that comes up; the texts the menu offered.
   */
  QStringList ChooseFromContextMenu(QvexaWorkbenchWindow &window, const vexa::DataNode *node, const QString &choice)
  {
    QListWidget *list = NodeList(window.GetDataManager());
    const QRect row = list->visualItemRect(window.GetDataManager()->GetItem(node));
    QStringList offered;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
      if (!menu)
        return;
      poll.stop();
      for (QAction *action : menu->actions())
      {
        offered << action->text();
        if (action->text() == choice)
          menu->setActiveAction(action);
      }
      if (menu->activeAction())
        QTest::keyClick(menu, Qt::Key_Return);
      else
        menu->close();
    });
    poll.start(10);
    QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, list->viewport()->mapTo(&window, row.center()));
    vexa::test::QtApplication::ProcessEventsUntil([&] { return !poll.isActive(); });
    return offered;
  }
}

// The selected nodes leave the storage by Delete, by Backspace and by the
// list's context menu, only while the list has the focus; the picture shows
// the next visible node at once.
TEST(Workbench, SelectedNodesAreRemovedByTheKeysAndTheContextMenu)
{
  ShownWorkbench shown(QSize(1000, 700));
  QvexaWorkbenchWindow &window = shown.window;
  QvexaDataManagerView *manager = window.GetDataManager();
  QListWidget *list = NodeList(manager);
  ASSERT_NE(nullptr, list);
  const QAction *remove = manager->findChild<QAction *>("m_RemoveAction");
  ASSERT_NE(nullptr, remove);
  EXPECT_FALSE(remove->isEnabled()) << "nothing is selected";
  std::vector<vexa::DataNode::Pointer> nodes;
  for (const char *name : {"n0", "n1 (hidden)", "n2", "n3", "n4", "n5"})
  {
    nodes.push_back(vexa::test::MakeNode(ColumnRamp(40, 30), name));
    window.GetDataStorage()->AddNode(nodes.back());
  }
  nodes[1]->SetVisibility(false);
  manager->Synchronize();
  // a control of a view, say: the keys there are its own
  auto *elsewhere = new QPushButton("Apply", &window);
  window.statusBar()->addPermanentWidget(elsewhere);
  Spin();
  ASSERT_EQ(nodes[5], shown.render->GetShownNode());

  const auto key = [&](Qt::Key k) {
    return [k, list] {
      list->setFocus();
      QTest::keyClick(list, k);
    };
  };
  struct Case
  {
    const char *how;
    std::vector<std::size_t> selected;
    std::function<void()> remove;
    std::vector<std::size_t> left;
    std::size_t drawn;
  };
  const std::vector<Case> cases = {
    {"Delete in another control",
     {5},
     [&] {
       elsewhere->setFocus();
       QTest::keyClick(elsewhere, Qt::Key_Delete);
     },
     {0, 1, 2, 3, 4, 5},
     5},
    {"Delete", {5}, key(Qt::Key_Delete), {0, 1, 2, 3, 4}, 4},
    {"Backspace, two nodes", {4, 2}, key(Qt::Key_Backspace), {0, 1, 3}, 3},
    {"the context menu's Remove",
     {3},
     [&] { EXPECT_EQ(QStringList{"Remove"}, ChooseFromContextMenu(window, nodes[3], "Remove")); },
     {0, 1},
     0},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.how);
    QList<vexa::DataNode::Pointer> selection;
    for (std::size_t i : c.selected)
      selection << nodes[i];
    manager->SetSelectedNodes(selection);
    ASSERT_TRUE(remove->isEnabled());
    c.remove();
    Spin();
    QList<vexa::DataNode::Pointer> left;
    for (std::size_t i : c.left)
      left << nodes[i];
    EXPECT_EQ(left, manager->GetListedNodes());
    EXPECT_EQ(std::size_t(left.size()), window.GetDataStorage()->GetNumberOfNodes());
    EXPECT_EQ(nodes[c.drawn], shown.render->GetShownNode());
    if (left.size() < int(nodes.size()))
    {
      EXPECT_TRUE(manager->GetSelectedNodes().isEmpty());
      EXPECT_FALSE(remove->isEnabled());
    }
  }
  // nothing selected: the keys remove nothing
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Delete);
  Spin();
  EXPECT_EQ(2, manager->GetListedNodes().size());
  EXPECT_TRUE(window.GetReportedErrors().isEmpty());
}

// Nodes removed by other code go from the picture too, without a data
// manager to ask for a repaint; the render window holds nothing of them.
TEST(Workbench, TheRenderWindowLetsGoOfANodeRemovedFromTheStorage)
{
  vexa::test::ApplicationFirst application;
  vexa::DataStorage::Pointer storage = vexa::DataStorage::New();
  QvexaRenderWindow render;
  render.resize(400, 300);
  render.show();
  render.SetDataStorage(storage);
  const vexa::DataNode::Pointer below = vexa::test::MakeNode(ColumnRamp(40, 30), "below");
  vexa::DataNode::Pointer top = vexa::test::MakeNode(ColumnRamp(40, 30), "top");
  storage->AddNode(below);
  storage->AddNode(top);
  ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] { return render.GetShownNode() == top; }));
  storage->RemoveNode(top);
  EXPECT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] { return render.GetShownNode() == below; }));
  EXPECT_EQ(1, top->GetReferenceCount()) << "only this test holds the removed node";
}

namespace
{
  // A result as the processing view's workers make one: a new float image
  // filled on a thread of its own.
  vexa::Image::Pointer ResultOfAWorker(unsigned int nx, unsigned int ny)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    std::thread worker([&] {
      const unsigned int dims[2] = {nx, ny};
      image->Initialize(vexa::CreateScalarPixelType<float>(), 2, dims);
      vexa::ImageWriteAccessor access(image);
      auto *pixels = static_cast<float *>(access.GetData());
      for (std::size_t i = 0; i < std::size_t(nx) * ny; ++i)
        pixels[i] = static_cast<float>(i % nx);
    });
    worker.join();
    return image;
  }
}

// Ten results of 2048 x 2048 floats (16 MiB each), each drawn once, then
// removed from the data manager: the process's resident memory comes back
// to within 10 % of what it was before they came.
TEST(Workbench, RemovedResultsGiveTheirMemoryBack)
{
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in its quarantine";
#endif
  ShownWorkbench shown(QSize(1000, 700));
  QvexaWorkbenchWindow &window = shown.window;
  QvexaDataManagerView *manager = window.GetDataManager();
  const auto addAndDraw = [&](std::size_t count) {
    QList<vexa::DataNode::Pointer> added;
    for (std::size_t i = 0; i < count; ++i)
    {
      added << vexa::test::MakeNode(ResultOfAWorker(2048, 2048), "result");
      window.GetDataStorage()->AddNode(added.back());
      EXPECT_TRUE(
        vexa::test::QtApplication::ProcessEventsUntil([&] { return shown.render->GetShownNode() == added.back(); }));
    }
    manager->Synchronize();
    return added;
  };
  const auto removeWithTheKey = [&](QList<vexa::DataNode::Pointer> &&nodes) {
    manager->SetSelectedNodes(nodes);
    nodes.clear();
    NodeList(manager)->setFocus();
    QTest::keyClick(NodeList(manager), Qt::Key_Delete);
    EXPECT_TRUE(vexa::test::QtApplication::ProcessEventsUntil(
      [&] { return window.GetDataStorage()->GetNumberOfNodes() == 0 && !shown.render->GetShownNode(); }));
    Spin();
  };
  // one round first: what the first picture of its size takes stays, as it does in a session
  removeWithTheKey(addAndDraw(1));

  const long before = vexa::test::ResidentKiB();
  QList<vexa::DataNode::Pointer> results = addAndDraw(10);
  const long full = vexa::test::ResidentKiB();
  EXPECT_GT(full - before, 10 * 16 * 1024 * 9 / 10) << "the results were not resident";
  removeWithTheKey(std::move(results));
  const long after = vexa::test::ResidentKiB();
  EXPECT_LE(after, before + before / 10) << "before " << before << " KiB, with the results " << full
                                         << " KiB, after removing them " << after << " KiB";
}

TEST(Workbench, CommandLine)
{
  struct Case
  {
    QStringList arguments;
    bool ok;
    QString errorPart;
  };
  const std::vector<Case> cases = {
    {{"w", "--plugins", "p", "--open-view", "a", "--open-view", "b", "--load", "f", "--screenshot", "s.png", "--after",
      "10", "--quit-after", "20", "--us-device", "us.xml"},
     true,
     ""},
    {{"w"}, true, ""},
    {{"w", "--bogus"}, false, "unknown option"},
    {{"w", "--load"}, false, "needs a value"},
    {{"w", "--quit-after", "-5"}, false, "milliseconds"},
    {{"w", "--screenshot", "s.png", "--after", "soon"}, false, "milliseconds"},
    {{"w", "--after", "10"}, false, "--screenshot"},
    {{"w", "--us-device"}, false, "needs a value"},
  };
  for (const Case &c : cases)
  {
    vexa::WorkbenchOptions options;
    QString error;
    bool help = true;
    EXPECT_EQ(c.ok, options.Parse(c.arguments, &error, &help)) << c.arguments.join(' ').toStdString();
    EXPECT_TRUE(error.contains(c.errorPart)) << error.toStdString();
    EXPECT_FALSE(help);
  }
  vexa::WorkbenchOptions options;
  QString error;
  bool help = false;
  ASSERT_TRUE(options.Parse(cases[0].arguments, &error, &help));
  EXPECT_EQ("p", options.pluginFolder);
  EXPECT_EQ((QStringList{"a", "b"}), options.views);
  EXPECT_EQ(QStringList{"f"}, options.files);
  ASSERT_EQ(1, options.screenshots.size());
  EXPECT_EQ("s.png", options.screenshots[0].path);
  EXPECT_EQ(10, options.screenshots[0].afterMs);
  // several screenshots, each with its own time (the default when none is given)
  vexa::WorkbenchOptions several;
  ASSERT_TRUE(several.Parse({"w", "--screenshot", "a.png", "--after", "5", "--screenshot", "b.png"}, &error, &help));
  ASSERT_EQ(2, several.screenshots.size());
  EXPECT_EQ("a.png", several.screenshots[0].path);
  EXPECT_EQ(5, several.screenshots[0].afterMs);
  EXPECT_EQ("b.png", several.screenshots[1].path);
  EXPECT_EQ(1000, several.screenshots[1].afterMs);
  EXPECT_EQ(20, options.quitAfterMs);
  EXPECT_EQ("us.xml", options.usDevice);
}

TEST(Workbench, UltrasoundDeviceFromAConfigurationFile)
{
  Application();
  vexa::test::TemporaryFolder folder;
  const std::string clip = folder.File("clip.avi");
  vexa::test::WriteNumberedVideo(clip, 5, 64, 48);
  const auto write = [&folder](const std::string &name, const std::string &type, const std::string &file) {
    QFile config(QString::fromStdString(folder.File(name)));
    EXPECT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(
      ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ultrasoundDevice fileversion=\"1\">\n"
       "  <general deviceType=\"" +
       type +
       "\" deviceName=\"Bench\" manufacturer=\"Acme\" model=\"L14\"/>\n"
       "  <video deviceIndex=\"0\" filePath=\"" +
       file +
       "\" useGreyscale=\"true\"/>\n"
       "  <probes><probe name=\"Linear\"><depth value=\"30\" spacingX=\"0.1\" spacingY=\"0.1\"/></probe></probes>\n"
       "</ultrasoundDevice>\n")
        .c_str());
    return QString::fromStdString(folder.File(name));
  };

  ctkPluginContext context(us::GetModuleContext(), "org.vexa.test");
  const QString activeFilter = "(org.vexa.services.UltrasoundDevice.isActive=true)";
  QString error;
  vexa::USDevice::Pointer device = vexa::StartUltrasoundDevice(write("good.xml", "video", clip), &error);
  ASSERT_TRUE(device) << error.toStdString();
  EXPECT_TRUE(device->GetIsActive());
  const QList<ctkServiceReference> active =
    context.getServiceReferences("org.vexa.services.UltrasoundDevice", activeFilter);
  ASSERT_EQ(1, active.size());
  EXPECT_EQ("Acme", active.front().getProperty("org.vexa.services.UltrasoundDevice.manufacturer").toString());
  vexa::StopUltrasoundDevice(device);
  EXPECT_TRUE(context.getServiceReferences("org.vexa.services.UltrasoundDevice").isEmpty());

  struct Case
  {
    QString configuration;
    QString errorPart;
  };
  for (const Case &c : {Case{QString::fromStdString(folder.File("missing.xml")), "cannot read"},
                        Case{write("igtl.xml", "oigtl", clip), "only video devices"},
                        Case{write("noclip.xml", "video", folder.File("none.avi")), "could not be connected"}})
  {
    error.clear();
    EXPECT_FALSE(vexa::StartUltrasoundDevice(c.configuration, &error)) << c.configuration.toStdString();
    EXPECT_TRUE(error.contains(c.errorPart)) << error.toStdString();
  }
  EXPECT_TRUE(context.getServiceReferences("org.vexa.services.UltrasoundDevice").isEmpty());
}
