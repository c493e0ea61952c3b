#include <usAny.h>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace us
{
  namespace detail
  {
    std::string DemangledTypeName(const std::type_info &type)
    {
      int status = 0;
      std::unique_ptr<char, void (*)(void *)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                        std::free);
      return (status == 0 && demangled) ? std::string(demangled.get()) : std::string(type.name());
    }

    void ThrowBadAnyCast(const std::type_info &held, const std::type_info &wanted)
    {
      throw BadAnyCastException("us::any_cast: the value is of type " +
                                (held == typeid(void) ? std::string("(empty)") : DemangledTypeName(held)) + ", not " +
                                DemangledTypeName(wanted));
    }
  }

  template struct Any::Holder<std::string>;
  template struct Any::Holder<bool>;
  template struct Any::Holder<int>;
  template struct Any::Holder<unsigned int>;
  template struct Any::Holder<long>;
  template struct Any::Holder<unsigned long>;
  template struct Any::Holder<long long>;
  template struct Any::Holder<unsigned long long>;
  template struct Any::Holder<double>;
  template struct Any::Holder<float>;
  template struct Any::Holder<std::vector<std::string>>;
  template struct Any::Holder<std::vector<Any>>;
}
