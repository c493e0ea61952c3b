#ifndef vexaGetClassHierarchy_h
#define vexaGetClassHierarchy_h

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace vexa
{
  namespace Internal
  {
    template <class T, class = void>
    struct HasStaticNameOfClass : std::false_type
    {
    };
    template <class T>
    struct HasStaticNameOfClass<T, std::void_t<decltype(T::GetStaticNameOfClass())>> : std::true_type
    {
    };

    template <class T, class = void>
    struct HasSuperclass : std::false_type
    {
    };
    template <class T>
    struct HasSuperclass<T, std::void_t<typename T::Superclass>>
      : std::integral_constant<bool, !std::is_same<typename T::Superclass, T>::value>
    {
    };

    /** Readable qualified name of a run-time type ("itk::Object"), never the mangled form. */
    inline std::string DemangledTypeName(const std::type_info &info)
    {
      int status = 0;
      std::unique_ptr<char, void (*)(void *)> demangled(abi::__cxa_demangle(info.name(), nullptr, nullptr, &status),
                                                        std::free);
      return (status == 0 && demangled) ? std::string(demangled.get()) : std::string(info.name());
    }
  }

  /** Name of T: its static class name where it has one, else its run-time type name. */
  template <class T>
  std::string GetStaticClassName()
  {
    if constexpr (Internal::HasStaticNameOfClass<T>::value)
    {
      const char *name = T::GetStaticNameOfClass();
      return name ? std::string(name) : std::string();
    }
    else
    {
      return Internal::DemangledTypeName(typeid(T));
    }
  }

  /** T's name, then its declared superclass chain, itk::LightObject last. A fresh list per call. */
  template <class T>
  std::vector<std::string> GetStaticClassHierarchy()
  {
    std::vector<std::string> result;
    const std::string name = GetStaticClassName<T>();
    if (!name.empty())
      result.push_back(name);
    if constexpr (Internal::HasSuperclass<T>::value)
    {
      const std::vector<std::string> parents = GetStaticClassHierarchy<typename T::Superclass>();
      result.insert(result.end(), parents.begin(), parents.end());
    }
    return result;
  }
}

#endif
