#include "vexaSelvenorActivator.h"

#include "PAImageProcessing.h"

#include <wickExtensionType.h>
#include <wickObject.h>

#include <QString>

namespace
{
  QObject *CreateView() { return new PAImageProcessing; }

  void DeleteView(QObject *view)
  {
    if (view)
      delete view;
  }
}

namespace vexa
{
  void Selvenor_Activator::start(ctkPluginContext *)
  {
    wick::ExtensionType::registerType(QString(PAImageProcessing::staticMetaObject.className()).toLatin1().constData(),
                                      &DeleteView, &CreateView);
  }

  void Selvenor_Activator::stop(ctkPluginContext *) {}
}
