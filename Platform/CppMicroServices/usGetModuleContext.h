#ifndef usGetModuleContext_h
#define usGetModuleContext_h

#include <usGlobalConfig.h>

namespace us
{
  class ModuleContext;

  /**
   * The context of the module this code is compiled into ("Ostrel" inside
   * the Ostrel library, "main" inside a program).
   *
   * Each module defines its own copy (US_INITIALIZE_MODULE, which the build
   * adds to every library and program with a module name) with hidden
   * visibility, so the call binds inside the calling binary even though every
   * shared object of the process defines the same name. Call it from the
   * module's own source files: an inline function of a library's header that
   * is compiled into another binary answers for that binary.
   */
  US_ABI_LOCAL ModuleContext *GetModuleContext();
}

#endif
