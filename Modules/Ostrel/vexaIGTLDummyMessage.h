#ifndef vexaIGTLDummyMessage_h
#define vexaIGTLDummyMessage_h

#include "OstrelExports.h"

#include <igtlStringMessage.h>

#include <string>

namespace vexa
{
  /**
   * A string message with its own type name "DUMMY", known to the message
   * factory as a test type. Packs and unpacks as a string message.
   */
  class OSTREL_EXPORT IGTLDummyMessage : public igtl::StringMessage
  {
  public:
    typedef IGTLDummyMessage Self;
    typedef igtl::StringMessage Superclass;
    typedef igtl::SmartPointer<Self> Pointer;
    typedef igtl::SmartPointer<const Self> ConstPointer;

    igtlTypeMacro(vexa::IGTLDummyMessage, igtl::StringMessage);
    igtlNewMacro(vexa::IGTLDummyMessage);

    /** Stores the dummy string and sets the message text to "This is a dummy string". */
    void SetDummyString(const std::string &dummyString);
    std::string GetDummyString() const;

    /** A new dummy message with this one's dummy string (and so the dummy text). */
    igtl::MessageBase::Pointer Clone();

  protected:
    IGTLDummyMessage();
    ~IGTLDummyMessage();

  private:
    std::string m_DummyString;
  };
}

#endif
