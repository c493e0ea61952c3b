#ifndef vexaWorkbenchDeviceWatcher_h
#define vexaWorkbenchDeviceWatcher_h

#include "VexaWorkbenchHostExports.h"

#include <usModuleContext.h>
#include <usServiceEvent.h>

#include <QObject>
#include <QPointer>
#include <QString>

#include <map>
#include <string>

class QStatusBar;

namespace vexa
{
  /**
   * Tells the user when an ultrasound device of the registry stops by itself
   * (an OpenIGTLink server that went away, a video that delivers no more
   * pictures): the status bar shows "<display name> stopped: <reason>", the
   * reason the device published with its state, until the device runs again
   * or another message takes the bar. Each stop is shown once; a device that
   * is deactivated by a caller publishes no reason and shows nothing.
   *
   * GUI thread: made, used and destroyed there. The registry calls its
   * listener on whatever thread changes a device; those calls are taken over
   * to the GUI thread, where the device's properties are read as they are
   * then. A registry that cannot be listened to is logged, and nothing is
   * shown.
   */
  class VEXAWORKBENCHHOST_EXPORT WorkbenchDeviceWatcher : public QObject
  {
    Q_OBJECT

  public:
    /** Shows its messages in `statusBar`, whose child it becomes. */
    explicit WorkbenchDeviceWatcher(QStatusBar *statusBar);
    ~WorkbenchDeviceWatcher() override;

  private:
    void OnDeviceEvent(const us::ServiceEvent &event);

    QPointer<QStatusBar> m_StatusBar;
    us::ListenerToken m_Listener;
    // per device id: the message shown for its current stop
    std::map<std::string, QString> m_Shown;
  };
}

#endif
