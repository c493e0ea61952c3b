#ifndef usServiceInterface_h
#define usServiceInterface_h

#include <usAny.h>

#include <map>
#include <string>

namespace us
{
  /** A service object as the registry holds it: interface id to the object seen as that interface. */
  using InterfaceMap = std::map<std::string, void *>;
}

/**
 * The interface id under which a service of type T is registered and looked
 * up. Without a declaration it is T's demangled class name
 * ("vexa::IGTLDeviceSource"); US_DECLARE_SERVICE_INTERFACE gives it another.
 */
template <class T>
inline std::string us_service_interface_iid()
{
  static const std::string id = us::detail::DemangledTypeName(typeid(T));
  return id;
}

/**
 * Declares the interface id of a class. Use it at global scope, in the
 * class's own header right after the class, so that every user of the
 * class sees the same id:
 *
 *   US_DECLARE_SERVICE_INTERFACE(vexa::IGTLMessageSource, "org.vexa.services.IGTLMessageSource")
 */
#define US_DECLARE_SERVICE_INTERFACE(_Interface, _IId)                                                                 \
  template <>                                                                                                          \
  inline std::string us_service_interface_iid<_Interface>()                                                            \
  {                                                                                                                    \
    return _IId;                                                                                                       \
  }

#endif
