#ifndef vexaIGTLStartBindMessage_h
#define vexaIGTLStartBindMessage_h

#include "OstrelExports.h"

#include <igtlBindMessage.h>

namespace vexa
{
  /**
   * The STT_BIND request as the message factory makes it for received
   * headers. OpenIGTLink 1.11's own igtl::StartBindMessage reads past the end
   * of the body when it unpacks one (its unpacking expects the GET_BIND
   * layout at the start of the body, where the resolution lies), so any peer
   * could crash the receiving thread with a well-formed request. This class
   * unpacks the body itself, within its size: the 64-bit resolution (an
   * OpenIGTLink time, seconds in the upper 32 bits) comes first, the list of
   * wanted child messages (as in GET_BIND) follows and is not read.
   */
  class OSTREL_EXPORT IGTLStartBindMessage : public igtl::StartBindMessage
  {
  public:
    typedef IGTLStartBindMessage Self;
    typedef igtl::StartBindMessage Superclass;
    typedef igtl::SmartPointer<Self> Pointer;
    typedef igtl::SmartPointer<const Self> ConstPointer;

    igtlTypeMacro(vexa::IGTLStartBindMessage, igtl::StartBindMessage);
    igtlNewMacro(vexa::IGTLStartBindMessage);

  protected:
    IGTLStartBindMessage();
    ~IGTLStartBindMessage();

    /** 1 when the body holds at least the resolution; 0 (nothing read) otherwise. */
    int UnpackBody() override;
  };
}

#endif
