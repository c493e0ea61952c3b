#ifndef vexaProperties_h
#define vexaProperties_h

// The concrete properties that data nodes carry: text, flags, numbers and
// level windows, each a vexa::GenericProperty of its value type.

#include "vexaLevelWindow.h"

#include <vexaGenericProperty.h>

#include <string>

#define VEXA_DECLARE_VALUE_PROPERTY(className, valueType)                                                              \
  class className : public GenericProperty<valueType>                                                                  \
  {                                                                                                                    \
  public:                                                                                                              \
    vexaClassMacro(className, GenericProperty<valueType>);                                                             \
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
