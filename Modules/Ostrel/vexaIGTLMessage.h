#ifndef vexaIGTLMessage_h
#define vexaIGTLMessage_h

#include "OstrelExports.h"
#include "vexaIGTLLog.h"

#include <vexaCommon.h>

#include <itkDataObject.h>

#include <igtlMessageBase.h>

#include <string>

namespace vexa
{
  /**
   * Carries one OpenIGTLink message through pipelines and the device's send
   * queue, with a name, a data-valid flag and a time stamp in milliseconds.
   * The wrapped message is shared, never copied: grafting and cloning hand on
   * the same message object.
   */
  class OSTREL_EXPORT IGTLMessage : public itk::DataObject
  {
  public:
    vexaClassMacroItkParent(IGTLMessage, itk::DataObject);
    vexaNewMacro(IGTLMessage);

    /** An object around `message`: name, time stamp and valid flag are taken from it. */
    static Pointer New(igtl::MessageBase::Pointer message)
    {
      Pointer smartPtr = new IGTLMessage(message);
      smartPtr->UnRegister();
      return smartPtr;
    }

    /**
     * Takes the message (it must not be null) and reads from it the name (its
     * device name) and the time stamp, and marks the data valid.
     */
    void SetMessage(igtl::MessageBase::Pointer message);
    virtual igtl::MessageBase::Pointer GetMessage() const;

    /** The wrapped message's device type, for example "IMAGE". */
    const char *GetIGTLMessageType() const;

    /**
     * Tells the device that the wrapped message is packed as it stands: its
     * producer packed it last and nobody changes it any more. The device then
     * writes the packed bytes as they are instead of packing the message
     * again. SetMessage forgets it; Graft and Clone carry it along with the
     * (shared) message.
     */
    void SetPacked(bool packed);
    bool IsPacked() const;

    virtual bool IsDataValid() const;
    virtual void SetDataValid(bool valid);

    /** Milliseconds: the header's seconds x 1000 plus its fraction of a second (units of 2^-32 s) in milliseconds. */
    virtual double GetIGTTimeStamp() const;

    virtual void SetName(const std::string &name);
    virtual void SetName(const char *name);
    virtual const char *GetName() const;

    void Graft(const itk::DataObject *data) override;
    void CopyInformation(const itk::DataObject *data) override;

    /** The whole print of the object (header, fields, the OpenIGTLink message, trailer). */
    std::string ToString() const;

    /** The IGT time stamp of an OpenIGTLink header time stamp (seconds and 2^-32 s fraction). */
    static double ToIGTTimeStamp(unsigned int seconds, unsigned int fraction);

  protected:
    IGTLMessage();
    explicit IGTLMessage(igtl::MessageBase::Pointer message);
    IGTLMessage(const IGTLMessage &other);
    ~IGTLMessage() override;

    void PrintSelf(std::ostream &os, itk::Indent indent) const override;

    vexaCloneMacro(IGTLMessage);

  private:
    virtual void SetIGTTimeStamp(double timeStamp);
    void operator=(const IGTLMessage &) = delete;

    igtl::MessageBase::Pointer m_Message;
    bool m_Packed = false;
    bool m_DataValid;
    double m_IGTTimeStamp;
    std::string m_Name;
  };

  /**
   * True when both carry the same name and exactly the same time stamp (the
   * wrapped messages are not compared; eps is not used). With `verbose` the
   * differences are logged.
   */
  OSTREL_EXPORT bool Equal(const IGTLMessage &leftHandSide,
                           const IGTLMessage &rightHandSide,
                           double eps = 0.0,
                           bool verbose = false);
}

#endif
