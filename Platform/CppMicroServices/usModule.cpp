#include <usModule.h>
#include <usModuleRegistry.h>

#include "usCoreRegistry.h"

#include <vexaLog.h>

#include <ostream>

namespace us
{
  using detail::CoreRegistry;

  Module::Module() : d(new detail::ModuleData) {}
  Module::~Module() = default;

  long Module::GetModuleId() const { return d->id; }
  std::string Module::GetName() const { return d->name; }
  std::string Module::GetLocation() const { return CoreRegistry::Instance().GetLocation(this); }
  ModuleContext *Module::GetModuleContext() const { return d->context; }
  bool Module::IsLoaded() const { return d->loaded.load(); }
  bool Module::IsStarted() const { return d->started.load(); }
  bool Module::Start() { return CoreRegistry::Instance().Start(this); }
  bool Module::Stop() { return CoreRegistry::Instance().Stop(this); }
  std::vector<ServiceReferenceU> Module::GetRegisteredServices() const
  {
    return CoreRegistry::Instance().ServicesOf(this);
  }

  std::ostream &operator<<(std::ostream &os, const Module &module)
  {
    return os << "Module(" << module.GetModuleId() << ", \"" << module.GetName() << "\", "
              << (module.IsStarted()  ? "started"
                  : module.IsLoaded() ? "loaded"
                                      : "unloaded")
              << ")";
  }

  Module *ModuleRegistry::GetModule(long id) { return CoreRegistry::Instance().GetModule(id); }
  Module *ModuleRegistry::GetModule(const std::string &name) { return CoreRegistry::Instance().GetModule(name); }
  std::vector<Module *> ModuleRegistry::GetModules() { return CoreRegistry::Instance().GetModules(); }
  bool ModuleRegistry::StartAll() { return CoreRegistry::Instance().StartAll(); }
  bool ModuleRegistry::StopAll() { return CoreRegistry::Instance().StopAll(); }

  namespace detail
  {
    ModuleSlot::ModuleSlot(const char *name, const void *anchor)
      : m_Module(CoreRegistry::Instance().RegisterModule(name, anchor))
    {
    }

    ModuleSlot::~ModuleSlot()
    {
      try
      {
        CoreRegistry::Instance().UnregisterModule(m_Module);
      }
      catch (const std::exception &e)
      {
        VEXA_ERROR("CppMicroServices") << "Unregistering the module \"" << m_Module->GetName()
                                       << "\" failed: " << e.what();
      }
      catch (...)
      {
        VEXA_ERROR("CppMicroServices") << "Unregistering the module \"" << m_Module->GetName() << "\" failed";
      }
    }

    ModuleContext *ModuleSlot::GetModuleContext() const { return m_Module->GetModuleContext(); }

    void ModuleSlot::SetActivatorFactory(ActivatorFactory factory)
    {
      CoreRegistry::Instance().SetActivatorFactory(m_Module, factory);
    }

    void ModuleSlot::ActivatorDestroyed()
    {
      try
      {
        CoreRegistry::Instance().ActivatorDestroyed(m_Module);
      }
      catch (...)
      {
        VEXA_ERROR("CppMicroServices") << "Stopping the module \"" << m_Module->GetName() << "\" at unload failed";
      }
    }
  }
}
