#ifndef usModuleActivator_h
#define usModuleActivator_h

#include <usGlobalConfig.h>

namespace us
{
  class ModuleContext;

  /**
   * What a module does when it is started and stopped. A library names its
   * activator with US_EXPORT_MODULE_ACTIVATOR; the registry creates it once
   * and calls Load when the module is started (Module::Start or
   * ModuleRegistry::StartAll, never while the library is being loaded) and
   * Unload when it is stopped. After Unload the registry withdraws every
   * service the module still has registered.
   *
   * An exception from Load or Unload is caught and logged by the registry,
   * and Start / Stop then answer false.
   */
  class ModuleActivator
  {
  public:
    virtual ~ModuleActivator() {}
    virtual void Load(ModuleContext *context) = 0;
    virtual void Unload(ModuleContext *context) = 0;
  };
}

#include <usModuleInitialization.h>

/**
 * Makes `_ActivatorType` (default-constructible, derived from
 * us::ModuleActivator) the activator of the module being compiled
 * (US_MODULE_NAME). Use it once per module, at global scope in one source
 * file. It defines the exported entry point
 * `_us_module_activator_instance_<module name>()`, whose first call creates
 * the single activator and later calls return the same one, and tells the
 * module about it at load time.
 */
#define US_EXPORT_MODULE_ACTIVATOR(_ActivatorType)                                                                     \
  extern "C" US_ABI_EXPORT us::ModuleActivator *US_CONCAT(_us_module_activator_instance_, US_MODULE_NAME)()            \
  {                                                                                                                    \
    static us::detail::ActivatorHolder<_ActivatorType> holder;                                                         \
    return holder.Get();                                                                                               \
  }                                                                                                                    \
  static const us::detail::ActivatorAnnouncement US_CONCAT(us_activator_announcement_, US_MODULE_NAME)(                \
    &US_CONCAT(_us_module_activator_instance_, US_MODULE_NAME));

#endif
