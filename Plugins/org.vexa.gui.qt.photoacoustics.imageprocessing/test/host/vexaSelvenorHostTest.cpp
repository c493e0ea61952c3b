// The plug-in as the workbench loads it from build/plugins: its metadata,
// manifest and view, a run through the view inside the workbench, closing
// while it runs, and what a person sees on an X server after Apply.

#include "PAImageProcessingTestSupport.h"

#include <QvexaDataManagerView.h>
#include <QvexaRenderWindow.h>
#include <QvexaWorkbenchWindow.h>

#include <vexaIOUtil.h>
#include <vexaLevelWindow.h>
#include <vexaTestChildProcess.h>
#include <vexaTestXServer.h>
#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <wickExtensionType.h>

#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

namespace
{
  const QString ViewId = "org.vexa.views.paimageprocessing";

  const auto Application = &vexa::test::QtApplication::WithGuiThreadCallback;
  using vexa::test::ApplicationFirst;

  void Spin(int ms) { vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(ms)); }

  /** The workbench with the plug-in loaded and a raw point absorber selected. */
  struct Workbench
  {
    Workbench()
    {
      Application();
      loaded = window.LoadPlugin(org_vexa_gui_qt_photoacoustics_imageprocessing_PLUGIN);
      raw = vexa::test::MakePointAbsorber(128, 1024, 19.2, 15.0);
      source = vexa::test::MakeNode(raw, "point absorber");
      vexa::LevelWindow levelWindow;
      levelWindow.SetAuto(raw);
      source->SetLevelWindow(levelWindow);
      window.GetDataStorage()->AddNode(source);
      window.GetDataManager()->Synchronize();
      window.GetDataManager()->SetSelectedNodes({source});
    }
    template <class T>
    T *Control(const char *name) const
    {
      QvexaAbstractView *view = window.GetOpenView(ViewId);
      return view ? view->GetParentWidget()->findChild<T *>(name) : nullptr;
    }

    ApplicationFirst application; // before any widget
    QvexaWorkbenchWindow window;
    bool loaded = false;
    vexa::Image::Pointer raw;
    vexa::DataNode::Pointer source;
  };

}

TEST(SelvenorHost, LoadsThePluginWithItsMetadataManifestAndView)
{
  Workbench w;
  ASSERT_TRUE(w.loaded) << w.window.GetReportedErrors().join("\n").toStdString();
  ASSERT_EQ(1u, w.window.GetPlugins().size());
  vexa::WorkbenchPlugin *plugin = w.window.GetPlugins().front();
  EXPECT_TRUE(plugin->IsStarted());

  const QJsonObject meta = plugin->GetMetaData();
  EXPECT_EQ("Selvenor", meta.value("IID").toString());
  EXPECT_EQ("Selvenor_Activator", meta.value("className").toString());
#ifdef QT_NO_DEBUG
  EXPECT_FALSE(meta.value("debug").toBool());
#else
  EXPECT_TRUE(meta.value("debug").toBool()); // moc follows the build: a Debug build says so
#endif
  // no metadata of the plug-in's own (moc leaves an empty object out)
  EXPECT_TRUE(meta.value("MetaData").toObject().isEmpty());

  EXPECT_EQ(QByteArray("Plugin-SymbolicName: org.vexa.gui.qt.photoacoustics.imageprocessing\r\n"
                       "Plugin-Name: Imageprocessing\r\nRequire-Plugin: org.vexa.gui.qt.common\r\n"
                       "Plugin-Vendor: Vexa\r\nPlugin-Version: 0.1\r\n\r\n"),
            plugin->GetManifestBytes());
  EXPECT_EQ(":/org.vexa.gui.qt.photoacoustics.imageprocessing", plugin->GetResourceRoot());
  ASSERT_EQ(1, plugin->GetViews().size());
  const vexa::ViewDeclaration view = plugin->GetViews().front();
  EXPECT_EQ(ViewId, view.id);
  EXPECT_EQ("PA Image Processing", view.name);
  EXPECT_EQ("Photoacoustics", view.category);
  EXPECT_EQ("PAImageProcessing", view.className);
  EXPECT_TRUE(QFile::exists(view.iconResource)) << view.iconResource.toStdString();
  for (const char *name : {"resources/photoacousticsIcon.png", "resources/Selvenor.qch"})
    EXPECT_TRUE(QFile::exists(plugin->GetResourceRoot() + "/" + name)) << name;
  EXPECT_GT(wick::ExtensionType::type("PAImageProcessing"), 0);
}

// Apply in the workbench: the result node joins the workbench's data; then a
// run that is still going when the view is closed: the view stays until the
// worker is done, and the workbench goes on.
TEST(SelvenorHost, RunsInTheWorkbenchAndClosingWaitsForTheWorker)
{
  Workbench w;
  ASSERT_TRUE(w.loaded);
  ASSERT_TRUE(w.window.OpenView(ViewId)) << w.window.GetReportedErrors().join("\n").toStdString();
  auto *apply = w.Control<QPushButton>("buttonApplyBeamforming");
  ASSERT_TRUE(apply);
  EXPECT_TRUE(apply->isEnabled()); // the selection reached the view
  w.Control<QSpinBox>("Samples")->setValue(512);
  w.Control<QSpinBox>("Lines")->setValue(128);
  QTest::mouseClick(apply, Qt::LeftButton);
  ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil(
    [&] { return w.window.GetDataStorage()->GetNumberOfNodes() == 2; }, std::chrono::seconds(60)));
  EXPECT_EQ("point absorber_bf", w.window.GetDataStorage()->GetAll().back()->GetName());

  w.Control<QSpinBox>("Samples")->setValue(4096);
  w.Control<QSpinBox>("Lines")->setValue(512);
  QTest::mouseClick(apply, Qt::LeftButton);
  QvexaAbstractView *view = w.window.GetOpenView(ViewId);
  ASSERT_TRUE(view->HasRunningWork());
  w.window.CloseView(ViewId);
  EXPECT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] { return !w.window.GetViewDock(ViewId); },
                                                            std::chrono::seconds(60)));
  EXPECT_TRUE(w.window.GetOpenViewIds().isEmpty());
  Spin(50);
  EXPECT_TRUE(w.window.GetReportedErrors().isEmpty()) << w.window.GetReportedErrors().join("\n").toStdString();
}

// The selected input removed in the data manager while a run on it is under
// way: the view is left without a selection (its warnings shown, Apply
// refused), the run's result still comes under the input's name, and
// nothing holds the input any more.
TEST(SelvenorHost, RemovingTheSelectedInputLeavesTheViewWithoutASelection)
{
  Workbench w;
  ASSERT_TRUE(w.loaded);
  ASSERT_TRUE(w.window.OpenView(ViewId));
  w.window.show();
  w.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.window));
  auto *apply = w.Control<QPushButton>("buttonApplyBeamforming");
  ASSERT_TRUE(apply->isEnabled());
  w.Control<QSpinBox>("Samples")->setValue(4096); // long enough to be under way when the input goes
  w.Control<QSpinBox>("Lines")->setValue(512);
  QTest::mouseClick(apply, Qt::LeftButton);
  ASSERT_TRUE(w.window.GetOpenView(ViewId)->HasRunningWork());

  auto *list = w.window.GetDataManager()->findChild<QListWidget *>("m_NodeList");
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(0u, w.window.GetDataStorage()->GetNumberOfNodes());
  EXPECT_TRUE(w.window.GetOpenView(ViewId)->GetDataManagerSelection().isEmpty());
  const auto withoutSelection = [&](const char *when) {
    SCOPED_TRACE(when);
    for (const char *warning : {"labelWarning", "labelWarning2", "labelWarning3", "labelWarning4"})
      EXPECT_FALSE(w.Control<QLabel>(warning)->isHidden()) << warning;
    for (const char *button :
         {"buttonApplyBModeFilter", "buttonApplyCropFilter", "buttonApplyBandpass", "buttonApplyBeamforming"})
      EXPECT_FALSE(w.Control<QPushButton>(button)->isEnabled()) << button;
  };
  withoutSelection("while the run is under way");

  ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil(
    [&] { return w.window.GetDataStorage()->GetNumberOfNodes() == 1; }, std::chrono::seconds(60)));
  EXPECT_EQ("point absorber_bf", w.window.GetDataStorage()->GetAll().front()->GetName());
  ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil(
    [&] { return !w.window.GetOpenView(ViewId)->HasRunningWork(); }, std::chrono::seconds(60)));
  withoutSelection("after the result came");
  QTest::mouseClick(apply, Qt::LeftButton);
  Spin(50);
  EXPECT_EQ(1u, w.window.GetDataStorage()->GetNumberOfNodes());
  EXPECT_EQ(1, w.source->GetReferenceCount()) << "only this test holds the removed input";
  EXPECT_TRUE(w.window.GetReportedErrors().isEmpty()) << w.window.GetReportedErrors().join("\n").toStdString();
}

// A file opened with --load or File > Open becomes the data manager's
// selection (the last one when several open at once), so the view, opened
// after it or open already, is ready to apply.
TEST(SelvenorHost, AnOpenedFileIsSelectedAndReadyToApply)
{
  ApplicationFirst application;
  QvexaWorkbenchWindow window;
  ASSERT_TRUE(window.LoadPlugin(org_vexa_gui_qt_photoacoustics_imageprocessing_PLUGIN));
  vexa::test::TemporaryFolder folder;
  const QString first = QString::fromStdString(folder.File("first.nrrd"));
  const QString second = QString::fromStdString(folder.File("second.nrrd"));
  for (const QString &path : {first, second})
    vexa::IOUtil::Save(vexa::test::MakePointAbsorber(64, 256), path.toStdString());
  const auto ready = [&](const char *name) {
    SCOPED_TRACE(name);
    const QList<vexa::DataNode::Pointer> selection = window.GetDataManagerSelection();
    ASSERT_EQ(1, selection.size());
    EXPECT_EQ(name, selection.front()->GetName());
    QWidget *panel = window.GetOpenView(ViewId)->GetParentWidget();
    for (const char *warning : {"labelWarning", "labelWarning2", "labelWarning3", "labelWarning4"})
      EXPECT_TRUE(panel->findChild<QLabel *>(warning)->isHidden()) << warning;
    for (const char *button :
         {"buttonApplyBModeFilter", "buttonApplyCropFilter", "buttonApplyBandpass", "buttonApplyBeamforming"})
      EXPECT_TRUE(panel->findChild<QPushButton *>(button)->isEnabled()) << button;
  };

  // as --load does: the files first, then the views
  window.LoadFiles({first, second});
  ASSERT_TRUE(window.OpenView(ViewId));
  ready("second");

  window.GetDataManager()->SetSelectedNodes({});
  vexa::test::DialogDriver dialogs;
  dialogs.AnswerFileDialog(first);
  window.OnOpenTriggered();
  ready("first");
  EXPECT_EQ(3u, window.GetDataStorage()->GetNumberOfNodes());
  EXPECT_TRUE(window.GetReportedErrors().isEmpty()) << window.GetReportedErrors().join("\n").toStdString();
}

// Closing the view during a batch: the batch stops after the step it is in,
// the view goes once it has, and nothing more is written.
TEST(SelvenorHost, ClosingTheViewStopsABatch)
{
  Workbench w;
  ASSERT_TRUE(w.loaded);
  ASSERT_TRUE(w.window.OpenView(ViewId));
  vexa::test::TemporaryFolder folder;
  QStringList inputs;
  for (const char *name : {"one.nrrd", "two.nrrd", "three.nrrd"})
  {
    inputs << QString::fromStdString(folder.File(name));
    vexa::IOUtil::Save(w.raw, inputs.back().toStdString());
  }
  const QString out = QString::fromStdString(folder.File("out"));
  ASSERT_TRUE(QDir().mkpath(out));
  vexa::test::DialogDriver dialogs;
  dialogs.AnswerFileDialog(inputs);
  dialogs.AnswerFileDialog(out);
  // the close comes as the first file's beamforming starts (the bar jumps to 100 then)
  bool asked = false;
  auto *progress = w.Control<QLabel>("ProgressInfo");
  QObject::connect(w.Control<QProgressBar>("progressBar"), &QProgressBar::valueChanged, progress, [&](int value) {
    if (!asked && value == 100)
    {
      asked = true;
      w.window.CloseView(ViewId);
    }
  });
  QTest::mouseClick(w.Control<QPushButton>("BatchProcessing"), Qt::LeftButton);
  EXPECT_TRUE(asked);
  EXPECT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] { return !w.window.GetViewDock(ViewId); }));
  // the batch stopped after the first file's beamforming, which is not saved
  EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty()) << QDir(out).entryList(QDir::Files).join(",").toStdString();
  EXPECT_TRUE(w.window.GetReportedErrors().isEmpty());
}

// Run by the next test in a child of this program on an X server
// (VEXA_SELVENOR_SCREENSHOT names the PNG): the workbench in-process, Apply
// Beamforming on the point absorber, the result selected, the window saved.
// Prints the rectangle the image fills in the picture.
TEST(SelvenorScreenshot, ChildShowsTheBeamformedAbsorber)
{
  const char *shot = std::getenv("VEXA_SELVENOR_SCREENSHOT");
  if (!shot)
    GTEST_SKIP() << "run by SelvenorScreenshot.TheBeamformedAbsorberIsWhereItProjects";
  Workbench w;
  ASSERT_TRUE(w.loaded) << w.window.GetReportedErrors().join("\n").toStdString();
  w.window.resize(1200, 900);
  w.window.show();
  ASSERT_TRUE(w.window.OpenView(ViewId));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window));
  Spin(300);
  QTest::mouseClick(w.Control<QPushButton>("buttonApplyBeamforming"), Qt::LeftButton);
  ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil(
    [&] { return w.window.GetDataStorage()->GetNumberOfNodes() == 2; }, std::chrono::seconds(60)));
  const vexa::DataNode::Pointer result = w.window.GetDataStorage()->GetAll().back();
  w.window.GetDataManager()->Synchronize();
  w.window.GetDataManager()->SetSelectedNodes({result});
  Spin(1000);
  ASSERT_EQ(result, w.window.GetRenderWindow()->GetShownNode());
  ASSERT_TRUE(w.window.SaveScreenshot(QString::fromLocal8Bit(shot)));
  const QRect image = w.window.GetRenderWindow()->GetImageRect();
  std::cout << "IMAGE_RECT " << image.x() << " " << image.y() << " " << image.width() << " " << image.height()
            << std::endl;
}

TEST(SelvenorScreenshot, TheBeamformedAbsorberIsWhereItProjects)
{
  if (std::getenv("VEXA_SELVENOR_SCREENSHOT"))
    GTEST_SKIP();
  Application(); // for the program's own path
  vexa::test::XServer server;
  std::string error;
  if (!server.StartForChildProgram(&error))
    GTEST_SKIP() << error;
  ASSERT_TRUE(QDir().mkpath(VEXA_SCREENSHOT_FOLDER));
  const QString shot = QString(VEXA_SCREENSHOT_FOLDER) + "/selvenor-beamformed-absorber.png";
  QFile::remove(shot);

  vexa::test::ChildProcess::Options options;
  options.environment = server.ClientEnvironment();
  options.environment.push_back("VEXA_SELVENOR_SCREENSHOT=" + shot.toStdString());
  const vexa::test::ProgramResult run = vexa::test::RunProgram(
    QCoreApplication::applicationFilePath().toStdString(),
    {"--gtest_filter=SelvenorScreenshot.ChildShowsTheBeamformedAbsorber"}, std::chrono::seconds(120), options);
  const std::string output = run.out + run.err;
  ASSERT_TRUE(vexa::test::RanToSuccess(run));

  QImage picture;
  ASSERT_TRUE(picture.load(shot)) << output;
  const QRect render = vexa::test::ScreenshotRegion(picture, "RenderWindowRegion");
  ASSERT_FALSE(render.isNull()) << picture.text("RenderWindowRegion").toStdString();
  const std::size_t at = run.out.find("IMAGE_RECT ");
  ASSERT_NE(std::string::npos, at) << output;
  std::istringstream numbers(run.out.substr(at + 11));
  int x, y, width, height;
  numbers >> x >> y >> width >> height;
  const QRect image(render.x() + x, render.y() + y, width, height);
  ASSERT_TRUE(picture.rect().contains(image));
  ASSERT_GT(image.width(), 50);

  // The point's wave fronts reach the image's edges as arms that run deeper
  // on both sides; the point itself is the top of that pattern: its first
  // white row lies 15 of 40 mm deep, centred 19.2 of 38.4 mm across.
  int top = -1;
  double columnSum = 0, columnCount = 0;
  for (int j = 0; j < image.height() && top < 0; ++j)
    for (int i = 0; i < image.width(); ++i)
      if (qGray(picture.pixel(image.x() + i, image.y() + j)) >= 250)
      {
        top = j;
        columnSum += i;
        ++columnCount;
      }
  ASSERT_GE(top, 0) << "no white pixel in the image";
  EXPECT_NEAR(15.0 / 40.0, double(top) / image.height(), 0.03);
  EXPECT_NEAR(0.5, columnSum / columnCount / image.width(), 0.03);
  // not a blank picture: the render window's black border and grey background are there too
  EXPECT_NE(picture.pixel(render.x() + 1, render.y() + 1), picture.pixel(image.center()));
}
