#ifndef vexaSelvenorActivator_h
#define vexaSelvenorActivator_h

#include <ctkPluginActivator.h>

#include <QObject>

namespace vexa
{
  /**
   * The activator of the "PA Image Processing" plug-in: registers the view
   * class with the workbench's extension-type registry when the plug-in
   * starts. Keeps no state; stopping changes nothing.
   */
  class Selvenor_Activator : public QObject, public ctkPluginActivator
  {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Selvenor")
    Q_INTERFACES(ctkPluginActivator)

  public:
    void start(ctkPluginContext *context) override;
    void stop(ctkPluginContext *context) override;
  };
}

#endif
