#ifndef usModuleInitialization_h
#define usModuleInitialization_h

#include <usGetModuleContext.h>

namespace us
{
  class Module;
  class ModuleActivator;
  class ModuleContext;

  namespace detail
  {
    using ActivatorFactory = ModuleActivator *(*)();

    /**
     * The registration of one binary as a module. Its constructor registers
     * the module, its destructor (run when the binary is unloaded, or at
     * exit) stops it if it is started, withdraws its listeners and services
     * and unregisters it.
     */
    class CPPMICROSERVICES_EXPORT ModuleSlot
    {
    public:
      /** `anchor`: any address inside the binary, to find its path. */
      ModuleSlot(const char *name, const void *anchor);
      ~ModuleSlot();
      ModuleSlot(const ModuleSlot &) = delete;
      ModuleSlot &operator=(const ModuleSlot &) = delete;

      ModuleContext *GetModuleContext() const;
      Module *GetModule() const { return m_Module; }
      void SetActivatorFactory(ActivatorFactory factory);
      /** The activator is about to be destroyed (binary unload): stop the module while it still exists. */
      void ActivatorDestroyed();

    private:
      Module *m_Module;
    };

    /** The module-local hook: this binary's slot. Defined by US_INITIALIZE_MODULE. */
    US_ABI_LOCAL ModuleSlot &ThisModuleSlot();

    // The two helpers below call the module-local hook from inline code. They
    // are hidden too: with default visibility the dynamic linker would bind
    // every binary's calls to the first loaded binary's copy, and with it to
    // that binary's hook.

    /** Holds a module's single activator; stops the module before the activator goes. */
    template <class A>
    class US_ABI_LOCAL ActivatorHolder
    {
    public:
      ActivatorHolder() = default;
      ~ActivatorHolder() { ThisModuleSlot().ActivatorDestroyed(); }
      ModuleActivator *Get() { return &m_Activator; }

    private:
      A m_Activator;
    };

    /** Tells this binary's module which function makes its activator. */
    struct US_ABI_LOCAL ActivatorAnnouncement
    {
      explicit ActivatorAnnouncement(ActivatorFactory factory) { ThisModuleSlot().SetActivatorFactory(factory); }
    };
  }
}

#ifdef US_MODULE_NAME
#define US_DETAIL_CHECK_MODULE_NAME
#else
#define US_DETAIL_CHECK_MODULE_NAME                                                                                    \
  static_assert(false, "US_MODULE_NAME is not defined: give the target a MODULE_NAME in vexa_add_module");
#endif

/**
 * Makes the binary being compiled the module US_MODULE_NAME (a compile
 * definition: US_MODULE_NAME=Ostrel, programs US_MODULE_NAME=main). The
 * build adds a source file with just this macro to every library and program
 * that has a module name; write it nowhere else (once per binary).
 *
 * It defines the hidden per-binary hook (us::detail::ThisModuleSlot and
 * us::GetModuleContext) and registers the module when the binary is loaded:
 * the registering object has the static-initialisation priority 101, the
 * first one open to programs, so the GNU toolchain runs it before the
 * binary's other static initialisers (those without a priority), whatever
 * the order of the object files. Static initialisers that reach the module
 * earlier anyway (through us::GetModuleContext) register it on first use.
 * The module is unregistered when the binary is unloaded (dlclose or process
 * exit), after the binary's other static objects are destroyed.
 */
#define US_INITIALIZE_MODULE                                                                                           \
  US_DETAIL_CHECK_MODULE_NAME                                                                                          \
  namespace us                                                                                                         \
  {                                                                                                                    \
    namespace detail                                                                                                   \
    {                                                                                                                  \
      US_ABI_LOCAL ModuleSlot &ThisModuleSlot()                                                                        \
      {                                                                                                                \
        static const char anchor = 0;                                                                                  \
        static ModuleSlot slot(US_STR(US_MODULE_NAME), &anchor);                                                       \
        return slot;                                                                                                   \
      }                                                                                                                \
    }                                                                                                                  \
    US_ABI_LOCAL ModuleContext *GetModuleContext() { return detail::ThisModuleSlot().GetModuleContext(); }             \
  }                                                                                                                    \
  namespace                                                                                                            \
  {                                                                                                                    \
    struct UsModuleRegistration                                                                                        \
    {                                                                                                                  \
      UsModuleRegistration() { us::detail::ThisModuleSlot(); }                                                         \
    };                                                                                                                 \
    __attribute__((init_priority(101))) const UsModuleRegistration usModuleRegistration;                               \
  }

#endif
