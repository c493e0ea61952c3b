#ifndef usTestModules_h
#define usTestModules_h

// Entry points of the two test libraries that the registry's test program
// links (modules "usTestModuleA" and "usTestModuleB") and of the test plug-in
// it loads with dlopen (module "usTestPluginC").

#include <usServiceRegistration.h>

#include <string>

namespace us
{
  class ModuleContext;
}

/** What us::GetModuleContext() answers inside the library. */
std::string usTestModuleA_ModuleName();
us::ModuleContext *usTestModuleA_Context();
/** Registers a service with the property "origin" through the library's own context. */
us::ServiceRegistrationU usTestModuleA_RegisterService(const std::string &origin);

std::string usTestModuleB_ModuleName();
us::ModuleContext *usTestModuleB_Context();
/** Makes the activator's Load (after registering its service) or Unload throw. */
void usTestModuleB_SetFailures(bool failLoad, bool failUnload);

extern "C"
{
  typedef const char *(*usTestPluginC_NameFunction)();
  typedef int (*usTestPluginC_IntFunction)();
  // const char* usTestPluginC_ModuleName();
  // int usTestPluginC_ModuleKnownAtStaticInit();  1 when the module was registered before the plug-in's own statics
  // int usTestPluginC_LoadCount();                 times its activator's Load ran
}

#endif
