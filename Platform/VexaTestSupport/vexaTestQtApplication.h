#ifndef vexaTestQtApplication_h
#define vexaTestQtApplication_h

#include <QString>

#include <chrono>
#include <functional>

class QApplication;

namespace vexa
{
  namespace test
  {
    /**
     * The one QApplication of a test program, for widget tests on the
     * offscreen platform (the test main sets QT_QPA_PLATFORM).
     *
     * Instance() makes it on first call, on the calling thread, which must be
     * the test program's main thread. Before that it points QSettings (every
     * format and scope) into a temporary folder of its own, so that no test
     * reads or writes the user's settings, and turns native dialogs off, so
     * that message boxes and file dialogs are Qt's own widgets, which a test
     * can drive (see vexaTestDialogDriver.h). The application and the folder
     * go after the last test.
     *
     * Organisation and application names are left to the tests (settings of a
     * named application land in SettingsFolder()/<organisation>/<application>.conf).
     */
    class QtApplication
    {
    public:
      static QApplication *Instance();

      /** Where QSettings of the user scope are written (made by Instance()). */
      static QString SettingsFolder();

      /** Runs the event loop until `condition` holds or `timeout` passed; the last answer of `condition`. */
      static bool ProcessEventsUntil(const std::function<bool()> &condition,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(10));

      /** Runs the event loop for the given time (posted calls, timers, deferred deletions). */
      static void ProcessEventsFor(std::chrono::milliseconds time);
    };
  }
}

#endif
