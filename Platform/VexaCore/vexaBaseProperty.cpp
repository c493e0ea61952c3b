#include "vexaBaseProperty.h"

#include "vexaException.h"

#include <vexaGetClassHierarchy.h>

namespace vexa
{
  BaseProperty::BaseProperty() = default;
  BaseProperty::BaseProperty(const BaseProperty &) : itk::Object() {}
  BaseProperty::~BaseProperty() = default;

  std::string BaseProperty::GetValueAsString() const { return "n/a"; }

  bool BaseProperty::operator==(const BaseProperty &property) const { return this == &property || IsEqual(property); }

  bool BaseProperty::AssignProperty(const BaseProperty &property)
  {
    if (this == &property)
      return true;
    if (!Assign(property))
      vexaThrow() << "Cannot assign a property of type " << Internal::DemangledTypeName(typeid(property))
                  << " to a property of type " << Internal::DemangledTypeName(typeid(*this)) << ".";
    return true;
  }

  BaseProperty &BaseProperty::operator=(const BaseProperty &property)
  {
    AssignProperty(property);
    return *this;
  }
}
