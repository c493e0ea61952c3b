#include "usTestModules.h"

#include <usTestInterfaces.h>

#include <usGetModuleContext.h>
#include <usModule.h>
#include <usModuleActivator.h>
#include <usModuleContext.h>
#include <usModuleRegistry.h>

#include <atomic>

namespace
{
  std::atomic<int> g_LoadCount{0};
  usTestServiceImpl g_Service("usTestPluginC");

  // An ordinary static initialiser of the plug-in: the module must already be
  // registered when it runs (it asks the registry by name, without touching
  // the module's own hook, which would register the module on first use).
  const int g_ModuleKnownAtStaticInit = us::ModuleRegistry::GetModule("usTestPluginC") != nullptr ? 1 : 0;

  class ActivatorC : public us::ModuleActivator
  {
  public:
    void Load(us::ModuleContext *context) override
    {
      ++g_LoadCount;
      us::ServiceProperties properties;
      properties["origin"] = std::string("usTestPluginC");
      properties["note"] = std::string("made by the plug-in");
      context->RegisterService<usTestService>(&g_Service, properties);
    }
    void Unload(us::ModuleContext *) override {}
  };
}

US_EXPORT_MODULE_ACTIVATOR(ActivatorC)

extern "C"
{
  US_ABI_EXPORT const char *usTestPluginC_ModuleName()
  {
    static const std::string name = us::GetModuleContext()->GetModule()->GetName();
    return name.c_str();
  }
  US_ABI_EXPORT int usTestPluginC_ModuleKnownAtStaticInit() { return g_ModuleKnownAtStaticInit; }
  US_ABI_EXPORT int usTestPluginC_LoadCount() { return g_LoadCount.load(); }
}
