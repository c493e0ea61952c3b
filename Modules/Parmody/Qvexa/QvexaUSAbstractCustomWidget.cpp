#include "QvexaUSAbstractCustomWidget.h"

#include <vexaLog.h>

#include <QMetaObject>

QvexaUSAbstractCustomWidget::QvexaUSAbstractCustomWidget(QWidget *parent)
  : QWidget(parent, Qt::WindowFlags()), m_IsClonedForQt(false)
{
}

QvexaUSAbstractCustomWidget::~QvexaUSAbstractCustomWidget() = default;

QvexaUSAbstractCustomWidget *QvexaUSAbstractCustomWidget::CloneForQt(QWidget *parent) const
{
  QvexaUSAbstractCustomWidget *copy = this->Clone(parent);
  if (!copy)
    return nullptr;
  copy->Initialize();
  copy->m_IsClonedForQt = true;
  return copy;
}

void QvexaUSAbstractCustomWidget::SetDevice(vexa::USDevice::Pointer device)
{
  m_Device = device;
  if (device.IsNotNull())
    this->OnDeviceSet();
}

vexa::USDevice::Pointer QvexaUSAbstractCustomWidget::GetDevice() const { return m_Device; }

us::ServiceProperties QvexaUSAbstractCustomWidget::GetServiceProperties() const
{
  us::ServiceProperties properties;
  properties[US_DEVICE_PROPKEY_CLASS()] = this->GetDeviceClass();
  return properties;
}

std::string QvexaUSAbstractCustomWidget::US_DEVICE_PROPKEY_CLASS()
{
  static const std::string key = "org.vexa.services.UltrasoundCustomWidget.deviceClass";
  return key;
}

void QvexaUSAbstractCustomWidget::showEvent(QShowEvent *event)
{
  if (!m_IsClonedForQt)
  {
    VEXA_ERROR << "Object wasn't cloned with CloneForQt() before using as QWidget.";
    // Hiding from inside the show event would leave a top-level's window on
    // screen (Qt shows it after this handler returns); the queued hide runs
    // before anything is drawn.
    QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
    return;
  }
  QWidget::showEvent(event);
}
