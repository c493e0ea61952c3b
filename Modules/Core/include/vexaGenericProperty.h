#ifndef vexaGenericProperty_h
#define vexaGenericProperty_h

// vexa::GenericProperty<T>: a property that holds one value of type T. It
// has no public constructor; properties are made by classes derived from it
// and by cloning.

#include <vexaBaseProperty.h>
#include <vexaCommon.h>
#include <vexaLookupTables.h>
#include <vexaPoint.h>
#include <vexaVector.h>

#include <sstream>
#include <string>

namespace vexa
{
  template <typename T>
  class GenericProperty : public BaseProperty
  {
  public:
    vexaClassMacro(GenericProperty, BaseProperty);
    vexaCloneCastMacro(GenericProperty);

    using ValueType = T;

    /** The value's text as T's stream operator writes it. */
    std::string GetValueAsString() const override
    {
      std::stringstream text;
      text << this->GetValue();
      return text.str();
    }

    /** Stores the value and marks the property modified, only when it differs (a NaN always differs). */
    virtual void SetValue(T value)
    {
      if (this->m_Value != value)
      {
        this->m_Value = value;
        this->Modified();
      }
    }

    virtual T GetValue() const { return m_Value; }

  protected:
    GenericProperty() = default;
    explicit GenericProperty(const T &value) : m_Value(value) {}
    GenericProperty(const GenericProperty &other) : BaseProperty(other), m_Value(other.m_Value) {}
    ~GenericProperty() override = default;
    vexaCloneMacro(GenericProperty);

    T m_Value{};

  private:
    GenericProperty &operator=(const GenericProperty &) = delete;

    // A property of another value type is never equal and never assigned.
    bool IsEqual(const BaseProperty &property) const override
    {
      const auto *other = dynamic_cast<const GenericProperty *>(&property);
      return other && this->m_Value == other->m_Value;
    }

    bool Assign(const BaseProperty &property) override
    {
      const auto *other = dynamic_cast<const GenericProperty *>(&property);
      if (!other)
        return false;
      this->m_Value = other->m_Value;
      return true;
    }
  };
}

#endif
