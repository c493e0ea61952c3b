// What a person sees after `./vexa workbench`: the real program on a real X
// server with the plug-ins of the build, the "Ultrasound Support" view open
// and the sample clip streaming from a video device. Two screenshots a second
// apart must show the clip's bright target inside the render window, at two
// different places on its circle.

#include "vexaUltrasoundSample.h"

#include <vexaTestChildProcess.h>
#include <vexaTestXServer.h>

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

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
}

TEST(TirrickScreenshot, TheWorkbenchStreamsTheSampleClipOnAnXServer)
{
  vexa::test::XServer server;
  std::string error;
  if (!server.StartForChildProgram(&error))
    GTEST_SKIP() << error;
  ASSERT_TRUE(QFile::exists(VEXA_ULTRASOUND_SAMPLE)) << "the build writes " << VEXA_ULTRASOUND_SAMPLE;
  ASSERT_TRUE(QDir().mkpath(VEXA_SCREENSHOT_FOLDER));

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
