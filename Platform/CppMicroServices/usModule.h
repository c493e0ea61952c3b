#ifndef usModule_h
#define usModule_h

#include <usServiceReference.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace us
{
  class ModuleContext;

  namespace detail
  {
    struct ModuleData;
    class CoreRegistry;
  }

  /**
   * One binary of the process (shared library, plug-in or program) as the
   * registry knows it. A module is registered when its binary is loaded and
   * unregistered when it is unloaded; its Module object and context then
   * stay (a later load of the same name uses them again), but the context
   * refuses work while the module is not loaded.
   *
   * Loaded and started are two states: a module is loaded from its binary's
   * load to its unload, and its context works for the whole of that time;
   * it is started between Start() (which runs its activator's Load) and
   * Stop() (which runs Unload, removes the module's listeners and
   * unregisters every service it still has). Programs are modules named "main".
   */
  class CPPMICROSERVICES_EXPORT Module
  {
  public:
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    /** Number of the module, in the order modules were first loaded (1 for the first). */
    long GetModuleId() const;
    /** "Ostrel", "Parmody", "main", ... */
    std::string GetName() const;
    /** Path of the binary, as the dynamic loader reports it. */
    std::string GetLocation() const;
    ModuleContext *GetModuleContext() const;

    bool IsLoaded() const;
    bool IsStarted() const;

    /**
     * Runs the activator's Load (when the module has an activator) and marks
     * the module started. True when the module is started afterwards (also
     * when it already was). False, with an error record, when the module is
     * not loaded or Load threw; the services and listeners that Load had
     * added are then withdrawn again.
     */
    bool Start();

    /**
     * Stops a started module: runs the activator's Unload, removes the
     * module's service listeners, and unregisters every service the module
     * still has registered (each firing UNREGISTERING). False, with an error
     * record, when Unload threw (the module is stopped nevertheless). A module
     * that is not started is left alone (true).
     */
    bool Stop();

    /** References of the services this module has registered now, by service id. */
    std::vector<ServiceReferenceU> GetRegisteredServices() const;

  private:
    friend class detail::CoreRegistry;
    Module();
    ~Module();
    std::unique_ptr<detail::ModuleData> d;
  };

  CPPMICROSERVICES_EXPORT std::ostream &operator<<(std::ostream &os, const Module &module);
}

#endif
