#ifndef vexaBaseProperty_h
#define vexaBaseProperty_h

#include "VexaCoreExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <string>

namespace vexa
{
  /**
   * Base of the properties attached to data: a value that can be shown as
   * text, compared with and assigned from a property of the same kind.
   * Properties of different kinds are never equal, and assigning one to the
   * other is refused with vexa::Exception.
   */
  class VEXACORE_EXPORT BaseProperty : public itk::Object
  {
  public:
    vexaClassMacroItkParent(BaseProperty, itk::Object);

    /** The value as text ("n/a" for a property that has none to show). */
    virtual std::string GetValueAsString() const;

    bool operator==(const BaseProperty &property) const;
    bool operator!=(const BaseProperty &property) const { return !(*this == property); }

    /**
     * Takes the other property's value (without marking this one modified);
     * vexa::Exception when the other is a property of another kind.
     */
    bool AssignProperty(const BaseProperty &property);
    BaseProperty &operator=(const BaseProperty &property);

  protected:
    BaseProperty();
    BaseProperty(const BaseProperty &other);
    ~BaseProperty() override;

  private:
    /** True when the other is a property of this kind with an equal value. */
    virtual bool IsEqual(const BaseProperty &property) const = 0;
    /** Takes the other's value; false (nothing changed) when it is a property of another kind. */
    virtual bool Assign(const BaseProperty &property) = 0;
  };
}

#endif
