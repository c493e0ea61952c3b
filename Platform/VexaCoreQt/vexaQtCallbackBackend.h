#ifndef vexaQtCallbackBackend_h
#define vexaQtCallbackBackend_h

#include "VexaCoreQtExports.h"

#include <vexaCallbackFromGUIThread.h>

#include <QObject>

#include <atomic>

namespace vexa
{
  /**
   * Delivers the commands posted to vexa::CallbackFromGUIThread through the Qt
   * event loop of the thread that created this object (the GUI thread). Make
   * one after the application object exists and destroy it before; while it
   * lives it is the callback's backend.
   */
  class VEXACOREQT_EXPORT QtCallbackBackend : public QObject, public CallbackFromGUIThread::Backend
  {
    Q_OBJECT
  public:
    explicit QtCallbackBackend(QObject *parent = nullptr);
    ~QtCallbackBackend() override;

    void Wake() override;

  private:
    // one queued wake-up at a time: a burst of posts costs one event
    std::atomic<bool> m_WakePending{false};
  };
}

#endif
