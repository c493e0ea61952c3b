#ifndef ctkPluginActivator_h
#define ctkPluginActivator_h

#include <QtPlugin>

class ctkPluginContext;

/**
 * What a plug-in does when the framework starts and stops it. The plug-in's
 * Qt plug-in instance implements it (declared with Q_INTERFACES); the
 * framework finds it through the meta-object cast by the interface id
 * "org.commontk.pluginfw.pluginactivator". Both calls come on the GUI
 * thread; an exception leaving them is caught and reported by the framework
 * and the plug-in counts as not started.
 */
class ctkPluginActivator
{
public:
  virtual ~ctkPluginActivator() {}
  virtual void start(ctkPluginContext *context) = 0;
  virtual void stop(ctkPluginContext *context) = 0;
};

Q_DECLARE_INTERFACE(ctkPluginActivator, "org.commontk.pluginfw.pluginactivator")

#endif
