#include "vexaTestXServer.h"

#include <QImage>
#include <QStandardPaths>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <thread>

// The sanitizer builds skip tests whose child programs talk to an X server:
// the X and D-Bus client libraries keep allocations that LeakSanitizer reports
// in the child, and they are not instrumented for ThreadSanitizer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VEXA_UNDER_SANITIZER 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VEXA_UNDER_SANITIZER 1
#endif
#endif

namespace vexa
{
  namespace test
  {
    bool XServer::Start(std::string *error)
    {
      const QString program = QStandardPaths::findExecutable("Xvfb");
      if (program.isEmpty())
      {
        *error = "Xvfb is not installed";
        return false;
      }
      const std::string screen = std::to_string(m_Width) + "x" + std::to_string(m_Height) + "x24";
      m_Process = std::make_unique<ChildProcess>(
        program.toStdString(), std::vector<std::string>{"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"});
      if (!m_Process->Started())
      {
        *error = "Xvfb did not start: " + m_Process->StartError();
        return false;
      }
      // the display number arrives on standard output once the server is ready
      for (int waited = 0; waited < 10000 && m_Process->Out().find('\n') == std::string::npos; waited += 20)
      {
        if (!m_Process->Running())
          break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      const std::string out = m_Process->Out();
      if (out.find('\n') == std::string::npos)
      {
        *error = "Xvfb named no display: " + m_Process->Err();
        return false;
      }
      m_Display = ":" + out.substr(0, out.find('\n'));
      return true;
    }

    bool XServer::StartForChildProgram(std::string *error)
    {
#ifdef VEXA_UNDER_SANITIZER
      *error = "the X and D-Bus client libraries keep allocations that the sanitizers report in the child program";
      return false;
#else
      return Start(error);
#endif
    }

    std::vector<std::string> XServer::ClientEnvironment() const
    {
      return {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + m_Display};
    }

    XServer::~XServer()
    {
      if (m_Process && m_Process->Running())
      {
        m_Process->Signal(SIGTERM);
        m_Process->WaitFor(std::chrono::seconds(5));
      }
    }

    QRect ScreenshotRegion(const QImage &picture, const QString &key)
    {
      const QStringList parts = picture.text(key).split(',');
      if (parts.size() != 4)
        return QRect();
      int numbers[4];
      for (int i = 0; i < 4; ++i)
      {
        bool ok = false;
        numbers[i] = parts[i].toInt(&ok);
        if (!ok)
          return QRect();
      }
      return QRect(numbers[0], numbers[1], numbers[2], numbers[3]);
    }
  }
}
