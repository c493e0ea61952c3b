#ifndef vexaWorkbenchTestActivator_h
#define vexaWorkbenchTestActivator_h

#include <ctkPluginActivator.h>

#include <QObject>

namespace vexa
{
  /**
   * The test plug-in's activator: keeps its context, registers the test
   * view class, and counts what happened for the tests (read through its
   * properties; the counters outlive the views).
   */
  class WorkbenchTest_Activator : public QObject, public ctkPluginActivator
  {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "WorkbenchTest")
    Q_INTERFACES(ctkPluginActivator)
    Q_PROPERTY(int starts READ starts)
    Q_PROPERTY(int stops READ stops)
    Q_PROPERTY(int registeredType READ registeredType)
    Q_PROPERTY(int serviceEvents READ serviceEvents)
    Q_PROPERTY(bool serviceEventsOnGuiThread READ serviceEventsOnGuiThread)

  public:
    void start(ctkPluginContext *context) override;
    void stop(ctkPluginContext *context) override;

    static ctkPluginContext *GetContext();

    int starts() const;
    int stops() const;
    int registeredType() const;
    int serviceEvents() const;
    bool serviceEventsOnGuiThread() const;

    static void CountServiceEvent(bool onGuiThread);
  };
}

#endif
