#include "vexaTirrickActivator.h"

#include "QvexaUltrasoundSupport.h"

#include <wickExtensionType.h>
#include <wickObject.h>

namespace vexa
{
  ctkPluginContext *Tirrick_Activator::m_Context = nullptr;

  QObject *CreateUltrasoundSupportView() { return new QvexaUltrasoundSupport(); }

  void DeleteUltrasoundSupportView(QObject *view) { delete view; }

  void Tirrick_Activator::start(ctkPluginContext *context)
  {
    m_Context = context;
    wick::ExtensionType::registerType(
      QString(QvexaUltrasoundSupport::staticMetaObject.className()).toLatin1().constData(),
      &DeleteUltrasoundSupportView, &CreateUltrasoundSupportView);
  }

  void Tirrick_Activator::stop(ctkPluginContext *) { m_Context = nullptr; }

  ctkPluginContext *Tirrick_Activator::GetContext() { return m_Context; }
}
