#ifndef vexaIGTLMessageCloneHandler_h
#define vexaIGTLMessageCloneHandler_h

#include "OstrelExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <igtlMessageBase.h>

namespace vexa
{
  /**
   * Copies OpenIGTLink messages of one type; registered with the message
   * factory per type name. This base class copies nothing (returns null);
   * a subclass per message type returns a copy.
   */
  class OSTREL_EXPORT IGTLMessageCloneHandler : public itk::Object
  {
  public:
    vexaClassMacroItkParent(IGTLMessageCloneHandler, itk::Object);
    vexaNewMacro(IGTLMessageCloneHandler);

    virtual igtl::MessageBase::Pointer Clone(igtl::MessageBase *message)
    {
      (void)message;
      return igtl::MessageBase::Pointer();
    }

  protected:
    IGTLMessageCloneHandler() = default;
    ~IGTLMessageCloneHandler() override = default;
  };
}

#endif
