#include "usTestModules.h"

#include <usTestInterfaces.h>

#include <usGetModuleContext.h>
#include <usModule.h>
#include <usModuleActivator.h>
#include <usModuleContext.h>

#include <vexaLog.h>

#include <memory>
#include <vector>

namespace
{
  /** Registers two services and keeps neither registration: stopping the module must withdraw them. */
  class ActivatorA : public us::ModuleActivator
  {
  public:
    void Load(us::ModuleContext *context) override
    {
      VEXA_INFO << "Load usTestModuleA";
      for (int i = 0; i < 2; ++i)
      {
        m_Services.push_back(std::make_unique<usTestServiceImpl>("usTestModuleA"));
        us::ServiceProperties properties;
        properties["origin"] = std::string("usTestModuleA");
        properties["index"] = i;
        context->RegisterService<usTestService>(m_Services.back().get(), properties);
      }
    }
    void Unload(us::ModuleContext *) override { VEXA_INFO << "Unload usTestModuleA"; }

  private:
    std::vector<std::unique_ptr<usTestServiceImpl>> m_Services;
  };

  usTestServiceImpl g_Extra("usTestModuleA (extra)");
}

US_EXPORT_MODULE_ACTIVATOR(ActivatorA)

std::string usTestModuleA_ModuleName() { return us::GetModuleContext()->GetModule()->GetName(); }
us::ModuleContext *usTestModuleA_Context() { return us::GetModuleContext(); }

us::ServiceRegistrationU usTestModuleA_RegisterService(const std::string &origin)
{
  us::ServiceProperties properties;
  properties["origin"] = origin;
  return us::GetModuleContext()->RegisterService<usTestService>(&g_Extra, properties);
}
