#include "vexaWorkbenchTestActivator.h"

#include "QvexaWorkbenchTestView.h"

#include <wickExtensionType.h>

#include <stdexcept>

namespace
{
  ctkPluginContext *g_Context = nullptr;
  int g_Starts = 0;
  int g_Stops = 0;
  int g_RegisteredType = 0;
  int g_ServiceEvents = 0;
  bool g_OnGuiThread = true;

  QObject *CreateView() { return new QvexaWorkbenchTestView; }
  void DeleteView(QObject *view)
  {
    if (view)
      delete view;
  }
}

namespace vexa
{
  void WorkbenchTest_Activator::start(ctkPluginContext *context)
  {
    if (qEnvironmentVariableIsSet("VEXA_TEST_PLUGIN_FAILS_TO_START"))
      throw std::runtime_error("told to fail");
    ++g_Starts;
    g_Context = context;
    g_RegisteredType = wick::ExtensionType::registerType(
      QString(QvexaWorkbenchTestView::staticMetaObject.className()).toLatin1().constData(), &DeleteView, &CreateView);
  }

  void WorkbenchTest_Activator::stop(ctkPluginContext *)
  {
    ++g_Stops;
    g_Context = nullptr;
  }

  ctkPluginContext *WorkbenchTest_Activator::GetContext() { return g_Context; }
  int WorkbenchTest_Activator::starts() const { return g_Starts; }
  int WorkbenchTest_Activator::stops() const { return g_Stops; }
  int WorkbenchTest_Activator::registeredType() const { return g_RegisteredType; }
  int WorkbenchTest_Activator::serviceEvents() const { return g_ServiceEvents; }
  bool WorkbenchTest_Activator::serviceEventsOnGuiThread() const { return g_OnGuiThread; }

  void WorkbenchTest_Activator::CountServiceEvent(bool onGuiThread)
  {
    ++g_ServiceEvents;
    g_OnGuiThread = g_OnGuiThread && onGuiThread;
  }
}
