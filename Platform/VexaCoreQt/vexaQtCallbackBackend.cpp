#include "vexaQtCallbackBackend.h"

#include <QMetaObject>

vexa::QtCallbackBackend::QtCallbackBackend(QObject *parent) : QObject(parent)
{
  CallbackFromGUIThread::GetInstance()->SetBackend(this);
  // calls posted before the event loop existed are delivered too
  if (CallbackFromGUIThread::GetInstance()->GetNumberOfPendingCalls() > 0)
    Wake();
}

vexa::QtCallbackBackend::~QtCallbackBackend() { CallbackFromGUIThread::GetInstance()->SetBackend(nullptr); }

void vexa::QtCallbackBackend::Wake()
{
  if (m_WakePending.exchange(true))
    return;
  QMetaObject::invokeMethod(
    this,
    [this] {
      m_WakePending = false;
      CallbackFromGUIThread::GetInstance()->ProcessPendingCalls();
    },
    Qt::QueuedConnection);
}
