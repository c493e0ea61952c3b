#include "vexaWorkbenchTestSupport.h"

#include <vexaIOUtil.h>

#include <vexaTestChildProcess.h>
#include <vexaTestXServer.h>
#include <vexaTestTemporaryFolder.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include <chrono>

// What a person sees: the real program on a real X server, the test view
// open and a known image loaded; the screenshot must show the image's
// three grey bands inside the render window.
TEST(WorkbenchScreenshot, TheRenderWindowShowsTheLoadedImageOnAnXServer)
{
  vexa::test::XServer server;
  std::string error;
  if (!server.StartForChildProgram(&error))
    GTEST_SKIP() << error;

  ASSERT_TRUE(QDir().mkpath(VEXA_SCREENSHOT_FOLDER));
  const QString image = QString(VEXA_SCREENSHOT_FOLDER) + "/bands.nrrd";
  const QString shot = QString(VEXA_SCREENSHOT_FOLDER) + "/workbench-test-view.png";
  QFile::remove(shot);
  vexa::IOUtil::Save(vexa::test::MakeBands(40, 30), image.toStdString());

  vexa::test::ChildProcess::Options options;
  options.environment = server.ClientEnvironment();
  const vexa::test::ProgramResult run =
    vexa::test::RunProgram(VEXA_WORKBENCH_EXECUTABLE,
                           {"--plugins", QFileInfo(VEXA_TEST_PLUGIN).absolutePath().toStdString(), "--load",
                            image.toStdString(), "--open-view", "org.vexa.views.workbenchtest", "--screenshot",
                            shot.toStdString(), "--after", "1500", "--quit-after", "2500"},
                           std::chrono::seconds(60), options);
  const std::string output = run.out + run.err;
  ASSERT_TRUE(vexa::test::RanToSuccess(run));

  QImage picture;
  ASSERT_TRUE(picture.load(shot)) << output;
  const QRect render = vexa::test::ScreenshotRegion(picture, "RenderWindowRegion");
  ASSERT_TRUE(picture.rect().contains(render) && !render.isNull()) << picture.text("RenderWindowRegion").toStdString();

  // 120 x 30 pixels of spacing 1, fitted into the render window, centred
  const QSizeF fitted = QSizeF(120, 30).scaled(QSizeF(render.size()), Qt::KeepAspectRatio);
  const QPointF corner(render.x() + (render.width() - fitted.width()) / 2,
                       render.y() + (render.height() - fitted.height()) / 2);
  const int y = int(corner.y() + fitted.height() / 2);
  for (const auto &band : {std::make_pair(1.0 / 6, 0), std::make_pair(3.0 / 6, 128), std::make_pair(5.0 / 6, 255)})
  {
    const int x = int(corner.x() + band.first * fitted.width());
    EXPECT_EQ(qRgb(band.second, band.second, band.second), picture.pixel(x, y) | 0xff000000u)
      << "band " << band.second << " at " << x << "," << y;
  }
  // the black render window around the image is there too (not a blank picture)
  EXPECT_EQ(qRgb(0, 0, 0), picture.pixel(render.x() + 2, render.y() + 2) | 0xff000000u);
  EXPECT_NE(picture.pixel(render.x() + 2, render.y() + 2), picture.pixel(0, render.y() + render.height() / 2));
}

// The program on Qt's offscreen platform: options, exit codes, a screenshot
// without an X server.
TEST(WorkbenchProgram, StartsQuitsAndReportsBadOptions)
{
  vexa::test::TemporaryFolder folder;
  const std::string shot = folder.File("offscreen.png");
  struct Case
  {
    std::vector<std::string> arguments;
    int exitCode;
    std::string outputPart;
  };
  const std::vector<Case> cases = {
    {{"--plugins", folder.Path().string(), "--quit-after", "100"}, 0, "0 plug-in"},
    {{"--plugins", folder.Path().string(), "--screenshot", shot, "--after", "100", "--quit-after", "400"},
     0,
     "Screenshot written"},
    {{"--plugins", folder.Path().string(), "--screenshot", shot, "--after", "500", "--quit-after", "100"},
     1,
     "before the screenshot"},
    {{"--bogus"}, 2, "unknown option --bogus"},
    {{"--quit-after", "soon"}, 2, "milliseconds"},
    {{"--help"}, 0, "Usage: VexaWorkbench"},
  };
  for (const Case &c : cases)
  {
    const vexa::test::ProgramResult run =
      vexa::test::RunProgram(VEXA_WORKBENCH_EXECUTABLE, c.arguments, std::chrono::seconds(60));
    const std::string output = run.out + run.err;
    ASSERT_TRUE(run.started);
    EXPECT_EQ(c.exitCode, run.exitCode) << c.arguments.front() << "\n" << output;
    EXPECT_NE(std::string::npos, output.find(c.outputPart)) << output;
  }
  QImage picture;
  EXPECT_TRUE(picture.load(QString::fromStdString(shot)));
  EXPECT_FALSE(picture.text("RenderWindowRegion").isEmpty());
}
