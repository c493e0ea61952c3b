#ifndef vexaProperties_h
#define vexaProperties_h

// The concrete properties that data nodes carry: text, flags, numbers and
// level windows. They are the core library's own: the typed-property template
// of the core templates (vexa::GenericProperty) is built on this library, so
// the library cannot be built on it.

#include "vexaBaseProperty.h"
#include "vexaLevelWindow.h"

#include <vexaCommon.h>

#include <sstream>
#include <string>
#include <typeinfo>

namespace vexa
{
  /**
   * A property that holds one value of type T, compared with T's == and shown
   * as T's stream operator writes it. Only the named classes below make them.
   * Like every property it is not locked: a writer that wants readers on
   * other threads to see a consistent value replaces the property in its
   * list instead of setting a new value (vexa::PropertyList).
   */
  template <typename T>
  class ValueProperty : public BaseProperty
  {
  public:
    vexaClassMacro(ValueProperty, BaseProperty);
    vexaCloneCastMacro(ValueProperty);

    using ValueType = T;

    std::string GetValueAsString() const override
    {
      std::ostringstream text;
      text << m_Value;
      return text.str();
    }

    /** Stores the value and marks the property modified, only when it differs. */
    void SetValue(const T &value)
    {
      if (!(m_Value == value))
      {
        m_Value = value;
        this->Modified();
      }
    }

    T GetValue() const { return m_Value; }

  protected:
    ValueProperty() = default;
    ValueProperty(const ValueProperty &other) = default;
    ~ValueProperty() override = default;

    T m_Value{};

  private:
    ValueProperty &operator=(const ValueProperty &) = delete;

    // Only a property of the same class counts: an int property never equals
    // a double property of the same number.
    bool IsEqual(const BaseProperty &property) const override
    {
      return typeid(property) == typeid(*this) && static_cast<const ValueProperty &>(property).m_Value == m_Value;
    }

    bool Assign(const BaseProperty &property) override
    {
      if (typeid(property) != typeid(*this))
        return false;
      m_Value = static_cast<const ValueProperty &>(property).m_Value;
      return true;
    }
  };
}

#define VEXA_DECLARE_VALUE_PROPERTY(className, valueType)                                                              \
  class className : public ValueProperty<valueType>                                                                    \
  {                                                                                                                    \
  public:                                                                                                              \
    vexaClassMacro(className, ValueProperty<valueType>);                                                               \
    vexaNewMacro(className);                                                                                           \
    static Pointer New(const valueType &value)                                                                         \
    {                                                                                                                  \
      Pointer property = New();                                                                                        \
      property->m_Value = value;                                                                                       \
      return property;                                                                                                 \
    }                                                                                                                  \
                                                                                                                       \
  protected:                                                                                                           \
    className() = default;                                                                                             \
    className(const className &other) = default;                                                                       \
    ~className() override = default;                                                                                   \
    vexaCloneMacro(className);                                                                                         \
  }

namespace vexa
{
  VEXA_DECLARE_VALUE_PROPERTY(StringProperty, std::string);
  VEXA_DECLARE_VALUE_PROPERTY(BoolProperty, bool);
  VEXA_DECLARE_VALUE_PROPERTY(IntProperty, int);
  VEXA_DECLARE_VALUE_PROPERTY(FloatProperty, float);
  VEXA_DECLARE_VALUE_PROPERTY(DoubleProperty, double);
  VEXA_DECLARE_VALUE_PROPERTY(LevelWindowProperty, LevelWindow);
}

#undef VEXA_DECLARE_VALUE_PROPERTY

#endif
