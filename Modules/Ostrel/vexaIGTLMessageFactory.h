#ifndef vexaIGTLMessageFactory_h
#define vexaIGTLMessageFactory_h

#include "OstrelExports.h"
#include "vexaIGTLMessageCloneHandler.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <igtlMessageBase.h>

#include <list>
#include <map>
#include <mutex>
#include <string>

namespace vexa
{
  /**
   * Turns an OpenIGTLink type name ("IMAGE", "GET_STATUS", ...) into a new,
   * empty message of the matching OpenIGTLink class, ready to take a header and
   * unpack a body; and keeps clone handlers per type name. Every device owns
   * one. Safe to use from several threads (the device's receiving thread looks
   * types up while a user may add some).
   */
  class OSTREL_EXPORT IGTLMessageFactory : public itk::Object
  {
  public:
    vexaClassMacroItkParent(IGTLMessageFactory, itk::Object);
    vexaNewMacro(IGTLMessageFactory);

    /** A creation function: a new, empty message of one class. */
    typedef igtl::MessageBase::Pointer (*PointerToMessageBaseNew)();

    /** The creation function of an OpenIGTLink (or own) message class T. */
    template <class T>
    static igtl::MessageBase::Pointer NewMessage()
    {
      typename T::Pointer message = T::New();
      return igtl::MessageBase::Pointer(message.GetPointer());
    }

    /** Registers (or replaces) the creation function of a type name; null is allowed ("NONE"). */
    virtual void AddMessageNewMethod(std::string messageTypeName, PointerToMessageBaseNew messageTypeNewPointer);

    /** The creation function of a type name (case-sensitive); null and an error record when it is not registered. */
    virtual PointerToMessageBaseNew GetMessageTypeNewPointer(std::string messageTypeName);

    virtual void AddMessageCloneHandler(std::string messageTypeName, IGTLMessageCloneHandler::Pointer cloneHandler);

    /** The clone handler of a type name; throws vexa::Exception when there is none. */
    virtual IGTLMessageCloneHandler::Pointer GetCloneHandler(std::string messageTypeName);

    void AddMessageType(std::string messageTypeName,
                        PointerToMessageBaseNew messageTypeNewPointer,
                        IGTLMessageCloneHandler::Pointer cloneHandler);

    /**
     * A new message for a received header: its type name upper-cased and looked
     * up; null for a null header, for "NONE" and (with an error record) for an
     * unknown type.
     */
    igtl::MessageBase::Pointer CreateInstance(igtl::MessageBase::Pointer header);

    /** A new message by type name, exactly as given (no change of case); null when not registered. */
    igtl::MessageBase::Pointer CreateInstance(std::string messageTypeName);

    /** A copy made by the clone handler of the message's type; throws when there is none. */
    igtl::MessageBase::Pointer Clone(igtl::MessageBase::Pointer message);

    /** Whether a creation function is registered under exactly this name; logs nothing. */
    bool IsRegistered(const std::string &messageTypeName);

    /** Every registered name containing "GET_", "STT_", "STP_" or "RTS_", in sorted order. */
    std::list<std::string> GetAvailableMessageRequestTypes();

  protected:
    IGTLMessageFactory();
    ~IGTLMessageFactory() override;

  private:
    std::mutex m_Mutex; // guards both tables
    std::map<std::string, PointerToMessageBaseNew> m_NewMethods;
    std::map<std::string, IGTLMessageCloneHandler::Pointer> m_CloneHandlers;
  };
}

#endif
