#ifndef vexaPropertyList_h
#define vexaPropertyList_h

// Part of the toolkit-core stand-in, not of the product. Only what this
// system calls of the toolkit's property list: making an empty one (the
// parameters of a message source are such a list). Adding and reading
// properties come with the first caller that needs them.

#include <vexaCommon.h>

#include <itkObject.h>

namespace vexa
{
  /** A named set of properties of a datum or a process. */
  class PropertyList : public itk::Object
  {
  public:
    vexaClassMacroItkParent(PropertyList, itk::Object);
    vexaNewMacro(PropertyList);

  protected:
    PropertyList() = default;
    ~PropertyList() override = default;
  };
}

#endif
