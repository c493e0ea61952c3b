// The workbench's status bar tells what an ultrasound device of the registry
// does not show by itself: real devices that lose their source (an OpenIGTLink
// client whose loopback server goes away, a video device whose clip is cut
// short on disk), a loopback server that stops sending without closing, a
// server device whose client leaves, a device that runs again, another that
// starts streaming, and one that a caller stops.

#include <QvexaWorkbenchWindow.h>

#include <vexaIGTLServer.h>
#include <vexaIGTLTestSupport.h>
#include <vexaUSDeviceTestSupport.h>
#include <vexaUSIGTLDevice.h>
#include <vexaTestVideos.h>
#include <vexaUSVideoDevice.h>

#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>

#include <opencv2/core/utils/logger.hpp>

#include <QStatusBar>
#include <QStringList>

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

  /** An active client device "Acme Streamer" of `server`, once the server has taken its connection. */
  vexa::USIGTLDevice::Pointer StartStreamer(vexa::IGTLServer *server)
  {
    vexa::USIGTLDevice::Pointer device =
      vexa::USIGTLDevice::New("Acme", "Streamer", "127.0.0.1", server->GetPortNumber(), false);
    Start(device);
    EXPECT_TRUE(QtApplication::ProcessEventsUntil([&] { return server->GetNumberOfConnections() == 1; }));
    return device;
  }

  /** An OpenIGTLink image, as a peer streams it. */
  vexa::IGTLMessage::Pointer Picture()
  {
    return vexa::IGTLMessage::New(vexa::test::MakeImage(16, 8, 1, igtl::ImageMessage::TYPE_UINT8).GetPointer());
  }

  /** Sends pictures until the device has handed one more over (the event loop runs meanwhile). */
  bool SendAPicture(vexa::IGTLDevice *sender, vexa::USDevice *receiver)
  {
    const std::uint64_t before = receiver->GetNumberOfAcquiredPictures();
    return QtApplication::ProcessEventsUntil([&] {
      sender->SendMessage(Picture());
      return receiver->GetNumberOfAcquiredPictures() > before;
    });
  }

  /** Waits (running the event loop) until the status bar shows `expected`. */
  ::testing::AssertionResult Shows(QvexaWorkbenchWindow &window,
                                   const QString &expected,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10))
  {
    if (QtApplication::ProcessEventsUntil([&] { return StatusText(window) == expected; }, timeout))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the status bar shows \"" << StatusText(window).toStdString()
                                         << "\", not \"" << expected.toStdString() << "\"";
  }
}

TEST(WorkbenchDeviceWatcher, AClientWhoseServerGoesAwayIsToldUntilItRunsAgain)
{
  QtApplication::Instance();
  QvexaWorkbenchWindow window;
  vexa::IGTLServer::Pointer server = StartServer();
  const int port = server->GetPortNumber();
  vexa::USIGTLDevice::Pointer device = StartStreamer(server);
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

TEST(WorkbenchDeviceWatcher, AServerThatStopsSendingIsToldCountingUpUntilImagesComeAgain)
{
  QtApplication::Instance();
  QvexaWorkbenchWindow window;
  vexa::IGTLServer::Pointer server = StartServer();
  vexa::USIGTLDevice::Pointer device = StartStreamer(server);
  ASSERT_TRUE(SendAPicture(server, device));

  // the server sends nothing more but keeps the connection open
  const QString silentFor2 = "Acme Streamer has sent no image for 2 s";
  EXPECT_TRUE(Shows(window, silentFor2));
  EXPECT_TRUE(Shows(window, "Acme Streamer has sent no image for 3 s"));
  EXPECT_TRUE(device->GetIsActive()) << "the peer may resume";

  ASSERT_TRUE(SendAPicture(server, device));
  EXPECT_TRUE(Shows(window, ""));
  EXPECT_TRUE(device->GetIsActive());

  // a text of someone else that took the bar meanwhile stays when pictures
  // come; the next silence is news again
  EXPECT_TRUE(Shows(window, silentFor2));
  window.statusBar()->showMessage("Saved the picture");
  ASSERT_TRUE(SendAPicture(server, device));
  QStringList seen;
  EXPECT_TRUE(QtApplication::ProcessEventsUntil([&] {
    const QString text = StatusText(window);
    if (seen.isEmpty() || seen.back() != text)
      seen << text;
    return text == silentFor2;
  }));
  EXPECT_EQ(("Saved the picture | " + silentFor2).toStdString(), seen.join(" | ").toStdString());
  device->UnregisterOnService();
}

TEST(WorkbenchDeviceWatcher, AServerDeviceWhoseClientLeavesSaysSoUntilTheNextOneSends)
{
  QtApplication::Instance();
  QvexaWorkbenchWindow window;
  vexa::USIGTLDevice::Pointer device = vexa::USIGTLDevice::New("Acme", "Listener", "127.0.0.1", 0, true);
  Start(device);
  const int port = device->GetIGTLDevice()->GetPortNumber();

  vexa::IGTLClient::Pointer client = vexa::test::StartClient(port);
  ASSERT_TRUE(client.IsNotNull());
  ASSERT_TRUE(SendAPicture(client, device));
  vexa::IGTLClientSocket::Pointer peer = vexa::test::ConnectRaw(port);
  ASSERT_TRUE(peer.IsNotNull());
  ASSERT_TRUE(
    QtApplication::ProcessEventsUntil([&] { return device->GetIGTLDevice()->GetNumberOfConnections() == 2; }));
  const QString address = QString::fromStdString(vexa::test::LocalAddressOf(peer));
  client->CloseConnection(); // another client is still there
  ASSERT_TRUE(
    QtApplication::ProcessEventsUntil([&] { return device->GetIGTLDevice()->GetNumberOfConnections() == 1; }));

  peer->Close();
  EXPECT_TRUE(Shows(window, QString("Acme Listener: the client %1 went away; waiting for the next one").arg(address)));
  EXPECT_TRUE(device->GetIsActive());

  // the next client streams: the message goes
  client = vexa::test::StartClient(port);
  ASSERT_TRUE(client.IsNotNull());
  ASSERT_TRUE(SendAPicture(client, device));
  EXPECT_TRUE(Shows(window, ""));
  device->UnregisterOnService();
}

TEST(WorkbenchDeviceWatcher, AStopIsReplacedWhenAnotherDeviceStartsStreaming)
{
  QtApplication::Instance();
  QvexaWorkbenchWindow window;
  vexa::IGTLServer::Pointer server = StartServer();
  const int port = server->GetPortNumber();
  vexa::USIGTLDevice::Pointer device = StartStreamer(server);
  server->CloseConnection();
  ASSERT_TRUE(Shows(window, QString("Acme Streamer stopped: the server 127.0.0.1:%1 closed the connection").arg(port)));

  // the user takes another device, whose first picture comes before the watcher saw it active
  vexa::test::USTestDevice::Pointer other = vexa::test::USTestDevice::New(1, "Bench", "Probe");
  Start(other);
  other->PushFrame(0, 8, 8, 1);
  EXPECT_TRUE(Shows(window, ""));
  device->UnregisterOnService();
  other->UnregisterOnService();
}
