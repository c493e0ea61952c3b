#ifndef usGlobalConfig_h
#define usGlobalConfig_h

// Stand-in for the CppMicroServices library: the `us::` service registry that
// this system's libraries and programs call. Written here from what its
// callers need; it is not part of the product.
//
// Macros shared by every header of the registry.

#include "CppMicroServicesExports.h"

/** Symbol visible to other binaries (activator entry points). */
#define US_ABI_EXPORT __attribute__((visibility("default")))
/**
 * Symbol bound inside the binary that defines it. The per-module hooks use
 * it, so that every shared object and program answers for itself even though
 * all of them define a hook of the same name.
 */
#define US_ABI_LOCAL __attribute__((visibility("hidden")))

#define US_STR_(x) #x
#define US_STR(x) US_STR_(x)
#define US_CONCAT_(a, b) a##b
#define US_CONCAT(a, b) US_CONCAT_(a, b)

#endif
