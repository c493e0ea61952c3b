#include "usTestModules.h"

#include <usTestInterfaces.h>

#include <usGetModuleContext.h>
#include <usModule.h>
#include <usModuleActivator.h>
#include <usModuleContext.h>

#include <vexaLog.h>

#include <atomic>
#include <stdexcept>

namespace
{
  std::atomic<bool> g_FailLoad{false};
  std::atomic<bool> g_FailUnload{false};
  usTestServiceImpl g_Service("usTestModuleB");

  class ActivatorB : public us::ModuleActivator
  {
  public:
    void Load(us::ModuleContext *context) override
    {
      VEXA_INFO << "Load usTestModuleB";
      us::ServiceProperties properties;
      properties["origin"] = std::string("usTestModuleB");
      context->RegisterService<usTestService>(&g_Service, properties);
      if (g_FailLoad)
        throw std::runtime_error("usTestModuleB refuses to load");
    }
    void Unload(us::ModuleContext *) override
    {
      VEXA_INFO << "Unload usTestModuleB";
      if (g_FailUnload)
        throw std::runtime_error("usTestModuleB refuses to unload");
    }
  };
}

US_EXPORT_MODULE_ACTIVATOR(ActivatorB)

std::string usTestModuleB_ModuleName() { return us::GetModuleContext()->GetModule()->GetName(); }
us::ModuleContext *usTestModuleB_Context() { return us::GetModuleContext(); }

void usTestModuleB_SetFailures(bool failLoad, bool failUnload)
{
  g_FailLoad = failLoad;
  g_FailUnload = failUnload;
}
