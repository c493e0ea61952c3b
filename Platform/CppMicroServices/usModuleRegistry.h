#ifndef usModuleRegistry_h
#define usModuleRegistry_h

#include <usGlobalConfig.h>

#include <string>
#include <vector>

namespace us
{
  class Module;

  /**
   * The modules of the process. Binaries register themselves at load (see
   * usModuleInitialization.h); activators run only when asked, here or
   * through Module::Start / Stop:
   *
   *   QApplication app(argc, argv);
   *   us::ModuleRegistry::StartAll();   // activators may now create widgets
   *   ... app.exec() ...
   *   us::ModuleRegistry::StopAll();    // before the application object goes
   *
   * A module whose binary is unloaded while it is started is stopped then
   * (its Unload runs during the unload), so a program whose activators need
   * the application object calls StopAll before destroying it.
   */
  class CPPMICROSERVICES_EXPORT ModuleRegistry
  {
  public:
    /** The loaded module with this id, or null. */
    static Module *GetModule(long id);
    /** The loaded module with this name, or null. */
    static Module *GetModule(const std::string &name);
    /** The loaded modules, in load order. */
    static std::vector<Module *> GetModules();

    /**
     * Starts every loaded module that is not started yet, in load order
     * (libraries before the programs and plug-ins that link them). True when
     * all of them started. Call it again after loading a plug-in to start its
     * modules.
     */
    static bool StartAll();
    /**
     * Stops every started module, the last started first ("main" too: its
     * listeners are removed and its services unregistered like any other
     * module's). True when every Unload returned normally.
     */
    static bool StopAll();
  };
}

#endif
