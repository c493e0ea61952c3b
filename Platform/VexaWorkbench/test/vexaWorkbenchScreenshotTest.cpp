#include "vexaWorkbenchTestImages.h"

#include <vexaIOUtil.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VEXA_UNDER_SANITIZER 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VEXA_UNDER_SANITIZER 1
#endif
#endif

namespace
{
  /** An X server of the test's own, on the first free display it finds. */
  class Xvfb
  {
  public:
    bool Start(QString *error)
    {
      const QString program = QStandardPaths::findExecutable("Xvfb");
      if (program.isEmpty())
      {
        *error = "Xvfb is not installed";
        return false;
      }
      m_Process.start(program, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
      if (!m_Process.waitForStarted(10000))
      {
        *error = "Xvfb did not start";
        return false;
      }
      while (!m_Process.canReadLine() && m_Process.waitForReadyRead(10000))
      {
      }
      const QByteArray line = m_Process.readLine().trimmed();
      bool ok = false;
      line.toInt(&ok);
      if (!ok)
      {
        *error = "Xvfb named no display: " + QString::fromLocal8Bit(m_Process.readAllStandardError());
        return false;
      }
      m_Display = ":" + QString::fromLatin1(line);
      return true;
    }
    ~Xvfb()
    {
      if (m_Process.state() != QProcess::NotRunning)
      {
        m_Process.terminate();
        if (!m_Process.waitForFinished(5000))
          m_Process.kill();
        m_Process.waitForFinished(5000);
      }
    }
    QString Display() const { return m_Display; }

  private:
    QProcess m_Process;
    QString m_Display;
  };
}

// What a person sees: the real program on a real X server, the test view
// open and a known image loaded; the screenshot must show the image's
// three grey bands inside the render window.
TEST(WorkbenchScreenshot, TheRenderWindowShowsTheLoadedImageOnAnXServer)
{
#ifdef VEXA_UNDER_SANITIZER
  GTEST_SKIP() << "the X and D-Bus client libraries keep allocations that the sanitizers report in the child program";
#endif
  Xvfb server;
  QString error;
  if (!server.Start(&error))
    GTEST_SKIP() << error.toStdString();

  ASSERT_TRUE(QDir().mkpath(VEXA_SCREENSHOT_FOLDER));
  const QString image = QString(VEXA_SCREENSHOT_FOLDER) + "/bands.nrrd";
  const QString shot = QString(VEXA_SCREENSHOT_FOLDER) + "/workbench-test-view.png";
  QFile::remove(shot);
  vexa::IOUtil::Save(vexa::test::MakeBands(40, 30), image.toStdString());

  QProcess workbench;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "xcb");
  environment.insert("DISPLAY", server.Display());
  workbench.setProcessEnvironment(environment);
  workbench.setProcessChannelMode(QProcess::MergedChannels);
  workbench.start(VEXA_WORKBENCH_EXECUTABLE,
                  {"--plugins", QFileInfo(VEXA_TEST_PLUGIN).absolutePath(), "--load", image, "--open-view",
                   "org.vexa.views.workbenchtest", "--screenshot", shot, "--after", "1500", "--quit-after", "2500"});
  ASSERT_TRUE(workbench.waitForFinished(60000)) << "the workbench did not end";
  const QString output = QString::fromLocal8Bit(workbench.readAll());
  ASSERT_EQ(QProcess::NormalExit, workbench.exitStatus()) << output.toStdString();
  ASSERT_EQ(0, workbench.exitCode()) << output.toStdString();

  QImage picture;
  ASSERT_TRUE(picture.load(shot)) << output.toStdString();
  const QStringList region = picture.text("RenderWindowRegion").split(',');
  ASSERT_EQ(4, region.size());
  const QRect render(region[0].toInt(), region[1].toInt(), region[2].toInt(), region[3].toInt());
  ASSERT_TRUE(picture.rect().contains(render)) << picture.text("RenderWindowRegion").toStdString();

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
