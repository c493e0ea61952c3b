#ifndef usAny_h
#define usAny_h

#include <usGlobalConfig.h>

#include <list>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace us
{
  class Any;

  namespace detail
  {
    /** "vexa::IGTLDeviceSource" for the type of that class (never the mangled form). */
    CPPMICROSERVICES_EXPORT std::string DemangledTypeName(const std::type_info &type);

    template <class T, class = void>
    struct IsStreamable : std::false_type
    {
    };
    template <class T>
    struct IsStreamable<T, std::void_t<decltype(std::declval<std::ostream &>() << std::declval<const T &>())>>
      : std::true_type
    {
    };

    template <class T>
    struct IsSequence : std::false_type
    {
    };
    template <class T, class A>
    struct IsSequence<std::vector<T, A>> : std::true_type
    {
    };
    template <class T, class A>
    struct IsSequence<std::list<T, A>> : std::true_type
    {
    };

    template <class T>
    std::string AnyValueToString(const T &value);

    /** Text of one value: strings as they are, bools as "true"/"false", numbers in the "C" locale,
        lists as "[a,b,c]", anything else that cannot be streamed as its type name in angle brackets. */
    template <class T>
    std::string AnyValueToString(const T &value)
    {
      if constexpr (std::is_same_v<T, std::string>)
        return value;
      else if constexpr (std::is_same_v<T, bool>)
        return value ? "true" : "false";
      else if constexpr (std::is_same_v<T, Any>)
        return value.ToString();
      else if constexpr (IsSequence<T>::value)
      {
        std::string text = "[";
        bool first = true;
        for (const auto &element : value)
        {
          if (!first)
            text += ",";
          first = false;
          text += AnyValueToString(element);
        }
        return text + "]";
      }
      else if constexpr (IsStreamable<T>::value)
      {
        std::ostringstream stream;
        stream.imbue(std::locale::classic());
        stream << value;
        return stream.str();
      }
      else
        return "<" + DemangledTypeName(typeid(T)) + ">";
    }

    /** Texts are stored as std::string, so that a property given as "text" is read back as a string. */
    template <class T>
    struct AnyStorage
    {
      using Decayed = std::decay_t<T>;
      using type = std::
        conditional_t<std::is_same_v<Decayed, const char *> || std::is_same_v<Decayed, char *>, std::string, Decayed>;
    };
  }

  /**
   * One value of any copyable type, as service properties hold them. A text
   * given as a character pointer or literal is stored as std::string.
   */
  class CPPMICROSERVICES_EXPORT Any
  {
  public:
    Any() noexcept = default;

    template <class T,
              class Stored = typename detail::AnyStorage<T>::type,
              class = std::enable_if_t<!std::is_same_v<std::decay_t<T>, Any>>>
    Any(T &&value) : m_Content(new Holder<Stored>(Stored(std::forward<T>(value))))
    {
    }

    Any(const Any &other) : m_Content(other.m_Content ? other.m_Content->Clone() : nullptr) {}
    Any(Any &&other) noexcept = default;
    ~Any() = default;

    Any &operator=(const Any &other)
    {
      Any(other).Swap(*this);
      return *this;
    }
    Any &operator=(Any &&other) noexcept = default;

    template <class T, class = std::enable_if_t<!std::is_same_v<std::decay_t<T>, Any>>>
    Any &operator=(T &&value)
    {
      Any(std::forward<T>(value)).Swap(*this);
      return *this;
    }

    Any &Swap(Any &other) noexcept
    {
      m_Content.swap(other.m_Content);
      return *this;
    }

    bool Empty() const noexcept { return !m_Content; }

    /** Type of the held value; typeid(void) when empty. */
    const std::type_info &Type() const noexcept { return m_Content ? m_Content->Type() : typeid(void); }

    /** The value as text (see detail::AnyValueToString); "" when empty. */
    std::string ToString() const { return m_Content ? m_Content->ToString() : std::string(); }

  private:
    struct Placeholder
    {
      virtual ~Placeholder() = default;
      virtual const std::type_info &Type() const noexcept = 0;
      virtual Placeholder *Clone() const = 0;
      virtual std::string ToString() const = 0;
    };

    template <class V>
    struct Holder final : Placeholder
    {
      explicit Holder(V v) : value(std::move(v)) {}
      const std::type_info &Type() const noexcept override { return typeid(V); }
      Placeholder *Clone() const override { return new Holder(value); }
      std::string ToString() const override { return detail::AnyValueToString(value); }
      V value;
    };

    template <class V>
    friend V *any_cast(Any *operand) noexcept;
    template <class V>
    friend const V *any_cast(const Any *operand) noexcept;

    std::unique_ptr<Placeholder> m_Content;
  };

  /** Thrown by any_cast when the held value is not of the asked type. */
  class CPPMICROSERVICES_EXPORT BadAnyCastException : public std::bad_cast
  {
  public:
    explicit BadAnyCastException(std::string message) : m_Message(std::move(message)) {}
    const char *what() const noexcept override { return m_Message.c_str(); }

  private:
    std::string m_Message;
  };

  namespace detail
  {
    [[noreturn]] CPPMICROSERVICES_EXPORT void ThrowBadAnyCast(const std::type_info &held, const std::type_info &wanted);
  }

  /** Pointer to the held value, or null when the operand is null or holds another type. */
  template <class V>
  V *any_cast(Any *operand) noexcept
  {
    auto *holder = operand ? dynamic_cast<Any::Holder<V> *>(operand->m_Content.get()) : nullptr;
    return holder ? &holder->value : nullptr;
  }

  template <class V>
  const V *any_cast(const Any *operand) noexcept
  {
    const auto *holder = operand ? dynamic_cast<const Any::Holder<V> *>(operand->m_Content.get()) : nullptr;
    return holder ? &holder->value : nullptr;
  }

  /** The held value (or a reference to it, for a reference T); throws BadAnyCastException. */
  template <class T>
  T any_cast(const Any &operand)
  {
    using V = std::remove_cv_t<std::remove_reference_t<T>>;
    const V *value = any_cast<V>(&operand);
    if (!value)
      detail::ThrowBadAnyCast(operand.Type(), typeid(V));
    return static_cast<T>(*value);
  }

  template <class T>
  T any_cast(Any &operand)
  {
    using V = std::remove_cv_t<std::remove_reference_t<T>>;
    V *value = any_cast<V>(&operand);
    if (!value)
      detail::ThrowBadAnyCast(operand.Type(), typeid(V));
    return static_cast<T>(*value);
  }

  inline std::ostream &operator<<(std::ostream &os, const Any &any) { return os << any.ToString(); }

  // The holders of the common property types live in the registry library, so
  // that a value copied out of the registry outlives the library that stored it.
  extern template struct Any::Holder<std::string>;
  extern template struct Any::Holder<bool>;
  extern template struct Any::Holder<int>;
  extern template struct Any::Holder<unsigned int>;
  extern template struct Any::Holder<long>;
  extern template struct Any::Holder<unsigned long>;
  extern template struct Any::Holder<long long>;
  extern template struct Any::Holder<unsigned long long>;
  extern template struct Any::Holder<double>;
  extern template struct Any::Holder<float>;
  extern template struct Any::Holder<std::vector<std::string>>;
  extern template struct Any::Holder<std::vector<Any>>;
}

#endif
