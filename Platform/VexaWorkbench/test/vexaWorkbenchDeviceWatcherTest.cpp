// The workbench's status bar tells when an ultrasound device of the registry
// stops by itself: real devices that lose their source (an OpenIGTLink client
// whose loopback server goes away, a video device whose clip is cut short on
// disk), a device that runs again, and one that a caller stops.

#include <QvexaWorkbenchWindow.h>

#include <vexaIGTLServer.h>
#include <vexaUSIGTLDevice.h>
#include <vexaTestVideos.h>
#include <vexaUSVideoDevice.h>

#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>

#include <opencv2/core/utils/logger.hpp>

#include <QStatusBar>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using vexa::test::QtApplication;

namespace
{
  QString StatusText(QvexaWorkbenchWindow &window) { return window.statusBar()->currentMessage(); }

  /** A loopback OpenIGTLink server on a port of its own. */
  vexa::IGTLServer::Pointer StartServer(int port = 0)
  {
    vexa::IGTLServer::Pointer server = vexa::IGTLServer::New(true);
    server->SetPortNumber(port);
    EXPECT_TRUE(server->OpenConnection());
    EXPECT_TRUE(server->StartCommunication());
    return server;
  }

  void Start(vexa::USDevice *device)
  {
    ASSERT_TRUE(device->Initialize());
    ASSERT_TRUE(device->Connect());
    ASSERT_TRUE(device->Activate());
  }
}

TEST(WorkbenchDeviceWatcher, AClientWhoseServerGoesAwayIsToldUntilItRunsAgain)
{
  QtApplication::Instance();
  QvexaWorkbenchWindow window;
  vexa::IGTLServer::Pointer server = StartServer();
  const int port = server->GetPortNumber();
  vexa::USIGTLDevice::Pointer device = vexa::USIGTLDevice::New("Acme", "Streamer", "127.0.0.1", port, false);
  Start(device);
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return server->GetNumberOfConnections() == 1; }));
  window.statusBar()->showMessage("ready");

  server->CloseConnection();
  const QString expected = QString("Acme Streamer stopped: the server 127.0.0.1:%1 closed the connection").arg(port);
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return StatusText(window) == expected; }))
    << StatusText(window).toStdString();
  // later changes of the stopped device do not tell it again
  window.statusBar()->showMessage("something else");
  device->SetComment("still stopped");
  QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
  EXPECT_EQ("something else", StatusText(window).toStdString());
  window.statusBar()->showMessage(expected);

  // the server comes back and the user starts the device again: the message goes
  server = StartServer(port);
  ASSERT_TRUE(device->Connect());
  ASSERT_TRUE(device->Activate());
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return StatusText(window).isEmpty(); }))
    << StatusText(window).toStdString();

  // a device stopped by a caller has no reason to tell
  device->Deactivate();
  QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(StatusText(window).isEmpty()) << StatusText(window).toStdString();
  device->UnregisterOnService();
}

TEST(WorkbenchDeviceWatcher, AVideoDeviceWhoseClipIsCutShortIsTold)
{
  QtApplication::Instance();
  QvexaWorkbenchWindow window;
  vexa::test::TemporaryFolder folder;
  const std::string clip = folder.File("clip.avi");
  // large enough that the video library cannot go on from what it has read ahead
  vexa::test::WriteNumberedVideo(clip, 10, 320, 240, 25.0);
  vexa::USVideoDevice::Pointer device = vexa::USVideoDevice::New(clip, "Clip", "Numbered");
  Start(device);

  // reopening a cut file makes OpenCV's backends complain on every attempt
  const cv::utils::logging::LogLevel level = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  std::filesystem::resize_file(clip, 0);
  const QString expected =
    QString::fromStdString("Clip Numbered stopped: no picture for 2 s: End of video file " + clip);
  EXPECT_TRUE(
    QtApplication::ProcessEventsUntil([&] { return StatusText(window) == expected; }, std::chrono::seconds(20)))
    << StatusText(window).toStdString();
  cv::utils::logging::setLogLevel(level);
  device->UnregisterOnService();
}
