#ifndef wickObject_h
#define wickObject_h

#include "org_glaswick_core_runtimeExports.h"

#include <cstddef>

namespace wick
{
  /**
   * Base of the workbench's parts (a virtual base: a part is one Object
   * however many part interfaces it implements). Objects are allocated and
   * freed through the class's own operators, so that a plug-in's creator and
   * the workbench's deleter agree on the heap whatever binary calls them.
   * The number of living objects is counted for leak checks.
   */
  class ORG_GLASWICK_CORE_RUNTIME_EXPORT Object
  {
  public:
    virtual ~Object();

    static void *operator new(std::size_t size);
    static void operator delete(void *object) noexcept;
    static void *operator new(std::size_t, void *place) noexcept { return place; }
    static void operator delete(void *, void *) noexcept {}

    /** Objects constructed and not yet destroyed, in the whole process. */
    static long GetNumberOfLiveObjects();

  protected:
    Object();
    Object(const Object &);
    Object &operator=(const Object &) = default;
  };
}

#endif
