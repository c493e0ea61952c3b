#ifndef vexaTirrickActivator_h
#define vexaTirrickActivator_h

#include <ctkPluginActivator.h>

#include <QObject>

class ctkPluginContext;

namespace vexa
{
  /**
   * The activator of the plug-in Tirrick: keeps the plug-in context while
   * the plug-in is started and registers the view class
   * "QvexaUltrasoundSupport" with the workbench's extension-type registry.
   *
   * GUI thread. The context is one pointer for the whole plug-in, null
   * before start and after stop; views take it anew each time they need it
   * and never keep it.
   */
  class Tirrick_Activator : public QObject, public ctkPluginActivator
  {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Tirrick")
    Q_INTERFACES(ctkPluginActivator)

  public:
    void start(ctkPluginContext *context) override;
    void stop(ctkPluginContext *context) override;

    /** The context of the started plug-in; null while it is not started. */
    static ctkPluginContext *GetContext();

  private:
    static ctkPluginContext *m_Context;
  };

  /** What the activator registers for the view class: a new view, and its deletion (null accepted). */
  QObject *CreateUltrasoundSupportView();
  void DeleteUltrasoundSupportView(QObject *view);
}

#endif
