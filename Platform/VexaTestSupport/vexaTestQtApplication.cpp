#include "vexaTestQtApplication.h"

#include "vexaTestTemporaryFolder.h"

#include <vexaQtCallbackBackend.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace vexa
{
  namespace test
  {
    namespace
    {
      struct Holder
      {
        std::unique_ptr<TemporaryFolder> folder;
        int argc = 1;
        char name[16] = "vexa-test";
        char *argv[2] = {name, nullptr};
        std::unique_ptr<QApplication> application;
        bool callbackBackend = false; // a child of the application
      };

      Holder &TheHolder()
      {
        static Holder holder;
        return holder;
      }

      // The application goes while the rest of the program (Qt's own globals
      // included) still stands: after the last test, or, in a program that
      // runs no tests (a benchmark), at exit before those globals.
      void ReleaseApplication()
      {
        Holder &holder = TheHolder();
        if (holder.application)
        {
          QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
          holder.application.reset();
          holder.callbackBackend = false;
        }
        holder.folder.reset();
      }

      class Environment : public ::testing::Environment
      {
      public:
        void TearDown() override { ReleaseApplication(); }
      };

      const ::testing::Environment *const registered = ::testing::AddGlobalTestEnvironment(new Environment);
    }

    QApplication *QtApplication::Instance()
    {
      Holder &holder = TheHolder();
      if (!holder.application)
      {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        holder.folder.reset(new TemporaryFolder);
        const QString user = QString::fromStdString(holder.folder->File("user"));
        const QString system = QString::fromStdString(holder.folder->File("system"));
        for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        {
          QSettings::setPath(format, QSettings::UserScope, user);
          QSettings::setPath(format, QSettings::SystemScope, system);
        }
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        holder.application.reset(new QApplication(holder.argc, holder.argv));
        // registered after Qt made its globals, so it runs before they go
        static const bool atExit = std::atexit(&ReleaseApplication) == 0;
        (void)atExit;
      }
      return holder.application.get();
    }

    QApplication *QtApplication::WithGuiThreadCallback()
    {
      QApplication *application = Instance();
      Holder &holder = TheHolder();
      if (!holder.callbackBackend)
      {
        new QtCallbackBackend(application);
        holder.callbackBackend = true;
      }
      return application;
    }

    QString QtApplication::SettingsFolder()
    {
      Holder &holder = TheHolder();
      return holder.folder ? QString::fromStdString(holder.folder->File("user")) : QString();
    }

    bool QtApplication::ProcessEventsUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
    {
      QElapsedTimer timer;
      timer.start();
      while (!condition())
      {
        if (timer.elapsed() >= timeout.count())
          return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      }
      return true;
    }

    QByteArray ReadQtFile(const QString &path)
    {
      QFile file(path);
      return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void QtApplication::ProcessEventsFor(std::chrono::milliseconds time)
    {
      QElapsedTimer timer;
      timer.start();
      do
      {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      } while (timer.elapsed() < time.count());
    }
  }
}
