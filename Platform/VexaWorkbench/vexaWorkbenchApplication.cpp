#include "vexaWorkbenchApplication.h"

#include "QvexaWorkbenchWindow.h"
#include "vexaWorkbenchUltrasoundDevice.h"

#include <usModuleRegistry.h>
#include <vexaQtCallbackBackend.h>

#include <vexaLog.h>
#include <vexaLogOutputWindow.h>

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>
#include <exception>

namespace
{
  bool ReadTime(const QString &text, int *ms)
  {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0)
      return false;
    *ms = value;
    return true;
  }
}

namespace vexa
{
  QString WorkbenchOptions::Usage()
  {
    return "Usage: VexaWorkbench [--plugins DIR] [--open-view ID]... [--load FILE]...\n"
           "                     [--us-device CONFIG.xml] [--screenshot PNG [--after MS]]... [--quit-after MS]\n";
  }

  bool WorkbenchOptions::Parse(const QStringList &arguments, QString *error, bool *help)
  {
    *help = false;
    for (int i = 1; i < arguments.size(); ++i)
    {
      const QString &option = arguments[i];
      if (option == "-h" || option == "--help")
      {
        *help = true;
        return true;
      }
      const bool takesValue = option == "--plugins" || option == "--open-view" || option == "--load" ||
                              option == "--screenshot" || option == "--after" || option == "--quit-after" ||
                              option == "--us-device";
      if (!takesValue)
      {
        *error = "unknown option " + option;
        return false;
      }
      if (i + 1 >= arguments.size())
      {
        *error = option + " needs a value";
        return false;
      }
      const QString value = arguments[++i];
      if (option == "--plugins")
        pluginFolder = value;
      else if (option == "--open-view")
        views << value;
      else if (option == "--load")
        files << value;
      else if (option == "--screenshot")
        screenshots << Screenshot{value, 1000};
      else if (option == "--us-device")
        usDevice = value;
      else if (option == "--after")
      {
        if (screenshots.isEmpty())
        {
          *error = "--after belongs to --screenshot";
          return false;
        }
        if (!ReadTime(value, &screenshots.last().afterMs))
        {
          *error = "--after needs a number of milliseconds, got " + value;
          return false;
        }
      }
      else if (option == "--quit-after" && !ReadTime(value, &quitAfterMs))
      {
        *error = "--quit-after needs a number of milliseconds, got " + value;
        return false;
      }
    }
    return true;
  }

  int RunWorkbench(const WorkbenchOptions &options)
  {
    QtCallbackBackend backend;
    us::ModuleRegistry::StartAll();
    int exitCode = 0;
    {
      QvexaWorkbenchWindow window;
      const QString folder = options.pluginFolder.isEmpty()
                               ? QDir(QCoreApplication::applicationDirPath() + "/../plugins").absolutePath()
                               : options.pluginFolder;
      window.LoadPlugins(folder);
      window.LoadFiles(options.files);
      USDevice::Pointer device;
      if (!options.usDevice.isEmpty())
      {
        QString error;
        device = StartUltrasoundDevice(options.usDevice, &error);
        if (!device)
          window.ReportError("The ultrasound device did not start: " + error, true);
      }
      for (const QString &id : options.views)
        window.OpenView(id);
      window.show();

      for (const WorkbenchOptions::Screenshot &screenshot : options.screenshots)
        QTimer::singleShot(screenshot.afterMs, &window, [&window, path = screenshot.path, &exitCode] {
          if (!window.SaveScreenshot(path))
            exitCode = 1;
        });
      if (options.quitAfterMs >= 0)
        QTimer::singleShot(options.quitAfterMs, &window, [] { QCoreApplication::quit(); });
      // the last window closed ends the loop; a later screenshot than quit time is simply not taken
      const int loop = QApplication::exec();
      if (loop != 0)
        exitCode = loop;
      for (const WorkbenchOptions::Screenshot &screenshot : options.screenshots)
        if (options.quitAfterMs >= 0 && options.quitAfterMs < screenshot.afterMs)
        {
          VEXA_ERROR << "The workbench quit before the screenshot " << screenshot.path.toStdString() << " was due.";
          exitCode = 1;
        }
      window.CloseAllViews();
      StopUltrasoundDevice(device);
      window.StopPlugins();
    }
    us::ModuleRegistry::StopAll();
    return exitCode;
  }

  int WorkbenchMain(int argc, char **argv)
  {
    try
    {
      vexa::LogOutputWindow::Install();
      QApplication application(argc, argv);
      QCoreApplication::setOrganizationName("Vexa");
      QCoreApplication::setApplicationName("VexaWorkbench");
      WorkbenchOptions options;
      QString error;
      bool help = false;
      if (!options.Parse(QCoreApplication::arguments(), &error, &help))
      {
        std::fprintf(stderr, "VexaWorkbench: %s\n%s", qPrintable(error), qPrintable(WorkbenchOptions::Usage()));
        return 2;
      }
      if (help)
      {
        std::printf("%s", qPrintable(WorkbenchOptions::Usage()));
        return 0;
      }
      return RunWorkbench(options);
    }
    catch (const std::exception &e)
    {
      std::fprintf(stderr, "VexaWorkbench: %s\n", e.what());
    }
    catch (...)
    {
      std::fprintf(stderr, "VexaWorkbench: unexpected error\n");
    }
    return 1;
  }
}
