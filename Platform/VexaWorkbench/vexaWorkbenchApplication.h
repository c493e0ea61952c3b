#ifndef vexaWorkbenchApplication_h
#define vexaWorkbenchApplication_h

#include "VexaWorkbenchHostExports.h"

#include <QString>
#include <QList>
#include <QStringList>

namespace vexa
{
  /** The workbench's command line. */
  struct VEXAWORKBENCHHOST_EXPORT WorkbenchOptions
  {
    /** --plugins DIR: where the plug-ins are; default "plugins" beside the program's folder. */
    QString pluginFolder;
    /** --open-view ID (repeatable): views opened at start. */
    QStringList views;
    /** --load FILE (repeatable): files opened at start. */
    QStringList files;
    /** A screenshot of the window `afterMs` milliseconds after it is shown. */
    struct Screenshot
    {
      QString path;
      int afterMs = 1000;
    };
    /** --screenshot PNG [--after MS] (repeatable; --after belongs to the screenshot it follows). */
    QList<Screenshot> screenshots;
    /** --quit-after MS: quit MS milliseconds after the window is shown (-1: never). */
    int quitAfterMs = -1;
    /** --us-device CONFIG.xml: an ultrasound device made, connected and activated before the views open. */
    QString usDevice;

    /**
     * Reads the arguments (the program's name first). False with `error`
     * set for an unknown option, a missing value, a negative or non-numeric
     * time, or --after without --screenshot. `help` is set for -h/--help.
     */
    bool Parse(const QStringList &arguments, QString *error, bool *help);
    static QString Usage();
  };

  /**
   * Runs the workbench on an existing QApplication: the GUI-thread callback
   * on Qt's event loop, the registry's modules started, the window with the
   * plug-ins, views and files of the options, then the event loop; on the
   * way out the views are closed, the plug-ins and modules stopped. Returns
   * the exit code: 0, or 1 when a screenshot that was asked for failed.
   */
  VEXAWORKBENCHHOST_EXPORT int RunWorkbench(const WorkbenchOptions &options);

  /** The whole program: application object, options, RunWorkbench; 2 for bad options. Never throws. */
  VEXAWORKBENCHHOST_EXPORT int WorkbenchMain(int argc, char **argv);
}

#endif
