#ifndef vexaWorkbenchDeviceWatcher_h
#define vexaWorkbenchDeviceWatcher_h

#include "VexaWorkbenchHostExports.h"

#include <usModuleContext.h>
#include <usServiceEvent.h>

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

class QStatusBar;
class QTimer;

namespace vexa
{
  /**
   * Tells the user in the status bar what an ultrasound device of the
   * registry does not show by itself:
   *
   * - a device that stops by itself (an OpenIGTLink server that went away, a
   *   video that delivers no more pictures): "<display name> stopped:
   *   <reason>", the reason the device published with its state. Each stop is
   *   told once; the message goes when that device runs again or another
   *   device starts streaming (its first picture since it was activated or
   *   since it fell silent). A device that a caller deactivates tells nothing.
   * - an active device that has handed over no new picture for 2 s (a peer
   *   that stalls without closing, a video source that hangs): "<display
   *   name> has sent no image for N s", N counting up while it lasts. The
   *   message goes with the next picture; the device stays active, nothing
   *   else changes.
   * - an active server device whose last client went away: "<display name>:
   *   the client <address> went away; waiting for the next one", until a
   *   client connects; its silence is counted from then on.
   *
   * The watcher clears and updates only the texts it put into the bar
   * itself: a message of someone else stays until that one or a new event
   * of a device replaces it; a lasting condition shows again once the bar is
   * free.
   *
   * GUI thread: made, used and destroyed there. The registry calls its
   * listener on whatever thread changes a device; those calls are taken over
   * to the GUI thread, where the device's properties are read as they are
   * then. While a device is active a timer (GUI thread) looks at the
   * registry's active devices and their picture counts four times a second.
   * A registry that cannot be listened to is logged, and nothing is shown;
   * a failure while looking is logged.
   */
  class VEXAWORKBENCHHOST_EXPORT WorkbenchDeviceWatcher : public QObject
  {
    Q_OBJECT

  public:
    /** How long an active device may hand over nothing new before the bar says so. */
    static constexpr std::chrono::seconds SilenceToldAfter{2};

    /** Shows its messages in `statusBar`, whose child it becomes. */
    explicit WorkbenchDeviceWatcher(QStatusBar *statusBar);
    ~WorkbenchDeviceWatcher() override;

  private:
    using Clock = std::chrono::steady_clock;

    struct Device
    {
      bool active = false;
      bool streaming = false;     // pictures came since the activation or the last silence
      std::uint64_t pictures = 0; // the device's count when last looked at
      Clock::time_point since;    // the last new picture, activation or end of a wait for a client
      std::string lostClient;     // published by a server that waits for a client
      QString stopped;            // the message told for its current stop
      std::string announced;      // the key of the lasting condition last told, "" for none
    };

    void OnDeviceEvent(const us::ServiceEvent &event);
    /** Looks at every device of the registry now: pictures, silences, waits. */
    void Look();
    /** Shows `text` about `key` (the condition's kind and device) as the watcher's own. */
    void Show(const QString &text, const std::string &key);
    /** Takes the watcher's own text out of the bar, if it still stands there. */
    void ClearOwn();

    QPointer<QStatusBar> m_StatusBar;
    QTimer *m_Timer = nullptr;
    us::ListenerToken m_Listener;
    std::map<std::string, Device> m_Devices; // by device id
    QString m_Own;                           // the text the watcher last put into the bar, "" for none
    std::string m_OwnKey;                    // what that text is about
  };
}

#endif
