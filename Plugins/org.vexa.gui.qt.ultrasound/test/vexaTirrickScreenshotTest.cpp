// What a person sees after `./vexa workbench`: the real program on a real X
// server with the plug-ins of the build, the "Ultrasound Support" view open
// and the sample clip streaming from a video device. Two screenshots a second
// apart must show the clip's bright target inside the render window, at two
// different places on its circle. A clip cut short on disk while it plays
// stops the device, and the status bar says so.

#include "vexaUltrasoundSample.h"

#include <vexaUSDeviceReaderXML.h>
#include <vexaUSDeviceWriterXML.h>

#include <vexaTestChildProcess.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaTestWaitUntil.h>
#include <vexaTestXServer.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>

namespace
{
  using Clip = vexa::sample::UltrasoundClip;

  struct Found
  {
    bool found = false;
    QPointF inClip; // the target's centre in clip pixels
  };

  /**
   * Finds the target in the render window's part of the screenshot: the
   * clip, fitted into the region and centred, drawn through a level window
   * that shows the target (255) white. Speckle reaches white only in small
   * specks; the target is the one place where a square of its size is white
   * all over.
   */
  Found FindTarget(const QImage &picture, const QRect &render)
  {
    const QSizeF fitted = QSizeF(Clip::Width, Clip::Height).scaled(QSizeF(render.size()), Qt::KeepAspectRatio);
    const QPointF corner(render.x() + (render.width() - fitted.width()) / 2,
                         render.y() + (render.height() - fitted.height()) / 2);
    const double scale = fitted.width() / Clip::Width;
    const int half = std::max(1, static_cast<int>(Clip::TargetRadius * scale * 0.6));
    auto white = [&](int x, int y) { return qGray(picture.pixel(x, y)) >= 240; };

    double sumX = 0, sumY = 0;
    long count = 0;
    for (int y = int(corner.y()) + half; y < int(corner.y() + fitted.height()) - half; y += 2)
      for (int x = int(corner.x()) + half; x < int(corner.x() + fitted.width()) - half; x += 2)
      {
        bool all = true;
        for (int dy = -half; dy <= half && all; dy += 2)
          for (int dx = -half; dx <= half && all; dx += 2)
            all = white(x + dx, y + dy);
        if (all)
        {
          sumX += x;
          sumY += y;
          ++count;
        }
      }
    Found result;
    if (count == 0)
      return result;
    result.found = true;
    result.inClip = QPointF((sumX / count - corner.x()) / scale, (sumY / count - corner.y()) / scale);
    return result;
  }

  /** The clip frame whose target lies nearest to `point`, and how far. */
  std::pair<int, double> NearestFrame(const QPointF &point)
  {
    std::pair<int, double> best{-1, 1e9};
    for (int i = 0; i < Clip::Frames; ++i)
    {
      const cv::Point c = Clip::TargetCentre(i);
      const double d = std::hypot(point.x() - c.x, point.y() - c.y);
      if (d < best.second)
        best = {i, d};
    }
    return best;
  }

  /** An X server of the test's own, the sample the build wrote and the folder for the screenshots. */
  class TirrickScreenshot : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      std::string error;
      if (!server.StartForChildProgram(&error))
        GTEST_SKIP() << error;
      ASSERT_TRUE(QFile::exists(VEXA_ULTRASOUND_SAMPLE)) << "the build writes " << VEXA_ULTRASOUND_SAMPLE;
      ASSERT_TRUE(QDir().mkpath(VEXA_SCREENSHOT_FOLDER));
    }

    vexa::test::XServer server;
  };
}

TEST_F(TirrickScreenshot, TheWorkbenchStreamsTheSampleClipOnAnXServer)
{
  // as `./vexa workbench` starts it, with two screenshots a second apart
  const QString folder = QString(VEXA_SCREENSHOT_FOLDER);
  const QStringList shots = {folder + "/ultrasound-support-1.png", folder + "/ultrasound-support-2.png"};
  for (const QString &shot : shots)
    QFile::remove(shot);
  vexa::test::ChildProcess::Options options;
  options.environment = server.ClientEnvironment();
  options.environment.insert(options.environment.end(), {"XDG_CONFIG_HOME=" + folder.toStdString() + "/config"});
  const vexa::test::ProgramResult run =
    vexa::test::RunProgram(VEXA_WORKBENCH_EXECUTABLE,
                           {"--plugins", VEXA_PLUGIN_FOLDER, "--us-device", VEXA_ULTRASOUND_SAMPLE, "--open-view",
                            "org.vexa.views.ultrasoundsupport", "--screenshot", shots[0].toStdString(), "--after",
                            "2000", "--screenshot", shots[1].toStdString(), "--after", "3000", "--quit-after", "3600"},
                           std::chrono::seconds(60), options);
  const std::string output = run.out + run.err;
  ASSERT_TRUE(vexa::test::RanToSuccess(run));

  std::vector<Found> targets;
  for (const QString &shot : shots)
  {
    QImage picture;
    ASSERT_TRUE(picture.load(shot)) << output;
    const QRect render = vexa::test::ScreenshotRegion(picture, "RenderWindowRegion");
    ASSERT_TRUE(picture.rect().contains(render) && !render.isNull());
    const Found target = FindTarget(picture, render);
    ASSERT_TRUE(target.found) << "no target in " << shot.toStdString() << "\n" << output;
    // it lies on the clip's circle: the picture is one of the clip's frames
    EXPECT_LT(NearestFrame(target.inClip).second, 3.0)
      << shot.toStdString() << ": target at " << target.inClip.x() << "," << target.inClip.y();
    targets.push_back(target);
  }
  const QPointF moved = targets[1].inClip - targets[0].inClip;
  EXPECT_GT(std::hypot(moved.x(), moved.y()), 10.0)
    << "target at " << targets[0].inClip.x() << "," << targets[0].inClip.y() << " and " << targets[1].inClip.x() << ","
    << targets[1].inClip.y();
}

TEST_F(TirrickScreenshot, AClipCutShortWhileStreamingIsToldInTheStatusBar)
{
  // the sample device on a copy of the sample clip, which the test cuts short while it plays
  vexa::test::TemporaryFolder folder;
  const std::string clip = folder.File("clip.avi");
  ASSERT_TRUE(
    QFile::copy(QFileInfo(VEXA_ULTRASOUND_SAMPLE).dir().filePath("us-sample.avi"), QString::fromStdString(clip)));
  vexa::USDeviceReaderXML reader;
  reader.SetFilename(VEXA_ULTRASOUND_SAMPLE);
  ASSERT_TRUE(reader.ReadUltrasoundDeviceConfiguration());
  vexa::USDeviceReaderXML::USVideoDeviceConfigData_ config = reader.GetUSVideoDeviceConfigData();
  config.filePath = clip;
  const std::string configuration = folder.File("device.xml");
  vexa::USDeviceWriterXML writer;
  writer.SetFilename(configuration);
  ASSERT_TRUE(writer.WriteUltrasoundVideoDeviceConfiguration(config));

  const QString shot = QString(VEXA_SCREENSHOT_FOLDER) + "/ultrasound-device-stopped.png";
  QFile::remove(shot);
  vexa::test::ChildProcess::Options options;
  options.environment = server.ClientEnvironment();
  options.environment.insert(options.environment.end(),
                             {"OPENCV_LOG_LEVEL=SILENT", "XDG_CONFIG_HOME=" + folder.File("config")});
  vexa::test::ChildProcess workbench(VEXA_WORKBENCH_EXECUTABLE,
                                     {"--plugins", VEXA_PLUGIN_FOLDER, "--us-device", configuration, "--open-view",
                                      "org.vexa.views.ultrasoundsupport", "--screenshot", shot.toStdString(), "--after",
                                      "7000", "--quit-after", "7500"},
                                     options);
  ASSERT_TRUE(workbench.Started()) << workbench.StartError();
  // the clip is open and the device active: a cut before then would make the start fail instead
  ASSERT_TRUE(vexa::test::WaitUntil(
    [&] { return workbench.Err().find("Ultrasound device Vexa Sample Clip active") != std::string::npos; },
    std::chrono::seconds(10), std::chrono::milliseconds(10)))
    << workbench.Out() + workbench.Err();
  std::filesystem::resize_file(clip, 0);
  ASSERT_TRUE(workbench.WaitFor(std::chrono::seconds(60)));
  const std::string output = workbench.Out() + workbench.Err();
  ASSERT_EQ(0, workbench.ExitCode()) << output;
  ASSERT_NE(std::string::npos, output.find("\"Sample Clip\" stopped: no picture for 2 s: End of video file " + clip))
    << output;

  QImage picture;
  ASSERT_TRUE(picture.load(shot)) << output;
  const QRect render = vexa::test::ScreenshotRegion(picture, "RenderWindowRegion");
  ASSERT_FALSE(render.isNull());
  // the device left the active list, so its stream left the render window
  EXPECT_FALSE(FindTarget(picture, render).found);
  // the status bar below the render window carries a line of text as long as
  // "Vexa Sample Clip stopped: no picture for 2 s: End of video file <path>"
  // (about half the window's width; the start's messages are gone by now and
  // were shorter)
  int rightmost = -1;
  for (int y = render.bottom() + 1; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (qGray(picture.pixel(x, y)) < 80)
        rightmost = std::max(rightmost, x);
  EXPECT_GT(rightmost, picture.width() / 3) << shot.toStdString();
}
