#ifndef vexaTestQtApplication_h
#define vexaTestQtApplication_h

#include <QByteArray>
#include <QObject>
#include <QString>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

class QApplication;

namespace vexa
{
  namespace test
  {
    /**
     * The one QApplication of a test program (or benchmark), for widget tests
     * on Qt's offscreen platform unless QT_QPA_PLATFORM names another (a child
     * program drawing on a test's own X server).
     *
     * Instance() makes it on first call, on the calling thread, which must be
     * the program's main thread. Before that it points QSettings (every
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

      /**
       * Instance(), with the GUI-thread callback's Qt backend on its event
       * loop, as the workbench program runs: what workers post through
       * vexa::CallbackFromGUIThread runs when the test runs the event loop.
       * The backend is installed on the first call and goes with the
       * application.
       */
      static QApplication *WithGuiThreadCallback();

      /** Where QSettings of the user scope are written (made by Instance()). */
      static QString SettingsFolder();

      /** Runs the event loop until `condition` holds or `timeout` passed; the last answer of `condition`. */
      static bool ProcessEventsUntil(const std::function<bool()> &condition,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(10));

      /** Runs the event loop for the given time (posted calls, timers, deferred deletions). */
      static void ProcessEventsFor(std::chrono::milliseconds time);
    };

    /**
     * A fixture's first member, so that the application (with the GUI-thread
     * callback) exists before the widgets the members after it make.
     */
    struct ApplicationFirst
    {
      ApplicationFirst() { QtApplication::WithGuiThreadCallback(); }
    };

    /**
     * The child of `parent` of type T named `name` (a form's widget); null
     * and a test failure that names it when there is none, so that the test
     * goes on to its next check.
     */
    template <class T>
    T *NamedChild(const QObject *parent, const char *name)
    {
      T *child = parent->findChild<T *>(name);
      if (!child)
        ADD_FAILURE() << "no child " << name;
      return child;
    }

    /** The whole file as Qt reads it (a ":/" resource too); empty when it cannot be read. */
    QByteArray ReadQtFile(const QString &path);
  }
}

#endif
