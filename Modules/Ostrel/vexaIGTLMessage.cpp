#include "vexaIGTLMessage.h"

#include <cmath>
#include <sstream>
#include <typeinfo>

namespace vexa
{
  IGTLMessage::IGTLMessage() : m_Message(igtl::MessageBase::New()), m_DataValid(false), m_IGTTimeStamp(0.0), m_Name() {}

  IGTLMessage::IGTLMessage(igtl::MessageBase::Pointer message) : IGTLMessage()
  {
    SetMessage(message);
    SetName(m_Message->GetDeviceName());
  }

  IGTLMessage::IGTLMessage(const IGTLMessage &other)
    : itk::DataObject(), m_Message(igtl::MessageBase::New()), m_DataValid(false), m_IGTTimeStamp(0.0), m_Name()
  {
    Graft(&other);
  }

  IGTLMessage::~IGTLMessage() = default;

  double IGTLMessage::ToIGTTimeStamp(unsigned int seconds, unsigned int fraction)
  {
    // The fraction counts 2^-32 s; the time stamp is in milliseconds.
    return static_cast<double>(seconds) * 1000.0 + static_cast<double>(fraction) * 1000.0 / 4294967296.0;
  }

  void IGTLMessage::SetMessage(igtl::MessageBase::Pointer message)
  {
    if (message.IsNull())
      vexaItkExceptionMacro(<< "vexa::IGTLMessage::SetMessage needs a message, got a null pointer");
    if (m_Message.GetPointer() != message.GetPointer())
      m_Message = message;
    m_Packed = false;
    unsigned int seconds = 0;
    unsigned int fraction = 0;
    m_Message->GetTimeStamp(&seconds, &fraction);
    SetName(m_Message->GetDeviceName());
    SetIGTTimeStamp(ToIGTTimeStamp(seconds, fraction));
    SetDataValid(true);
  }

  igtl::MessageBase::Pointer IGTLMessage::GetMessage() const { return m_Message; }

  void IGTLMessage::SetPacked(bool packed) { m_Packed = packed; }

  bool IGTLMessage::IsPacked() const { return m_Packed; }

  const char *IGTLMessage::GetIGTLMessageType() const { return m_Message->GetDeviceType(); }

  bool IGTLMessage::IsDataValid() const { return m_DataValid; }

  void IGTLMessage::SetDataValid(bool valid)
  {
    if (m_DataValid == valid)
      return;
    m_DataValid = valid;
    Modified();
  }

  double IGTLMessage::GetIGTTimeStamp() const { return m_IGTTimeStamp; }

  void IGTLMessage::SetIGTTimeStamp(double timeStamp)
  {
    // a NaN on either side compares unequal, so it always counts as a change
    if (m_IGTTimeStamp == timeStamp)
      return;
    m_IGTTimeStamp = timeStamp;
    Modified();
  }

  void IGTLMessage::SetName(const std::string &name) { SetName(name.c_str()); }

  void IGTLMessage::SetName(const char *name)
  {
    const char *text = name != nullptr ? name : "";
    if (m_Name == text)
      return;
    m_Name = text;
    Modified();
  }

  const char *IGTLMessage::GetName() const { return m_Name.c_str(); }

  void IGTLMessage::Graft(const itk::DataObject *data)
  {
    const auto *message = dynamic_cast<const IGTLMessage *>(data);
    if (message == nullptr)
    {
      vexaItkExceptionMacro(<< "vexa::IGTLMessage::Graft cannot cast "
                            << Internal::DemangledTypeName(typeid(const itk::DataObject *)) << " to "
                            << Internal::DemangledTypeName(typeid(const IGTLMessage *)));
    }
    SetMessage(message->GetMessage());
    m_Packed = message->IsPacked();
    SetDataValid(message->IsDataValid());
    SetIGTTimeStamp(message->GetIGTTimeStamp());
    SetName(message->GetName());
  }

  void IGTLMessage::CopyInformation(const itk::DataObject *data)
  {
    if (dynamic_cast<const IGTLMessage *>(data) == nullptr)
    {
      vexaItkExceptionMacro(<< "vexa::IGTLMessage::CopyInformation() cannot cast "
                            << Internal::DemangledTypeName(typeid(const itk::DataObject *)) << " to "
                            << Internal::DemangledTypeName(typeid(const IGTLMessage *)));
    }
  }

  void IGTLMessage::PrintSelf(std::ostream &os, itk::Indent indent) const
  {
    os << indent << "name: " << m_Name << std::endl;
    os << indent << "type: " << m_Message->GetDeviceType() << std::endl;
    os << indent << "valid: " << (m_DataValid ? 1 : 0) << std::endl;
    os << indent << "timestamp: " << m_IGTTimeStamp << std::endl;
    os << indent << "OpenIGTLinkMessage: " << std::endl;
    m_Message->Print(os);
    Superclass::PrintSelf(os, indent);
  }

  std::string IGTLMessage::ToString() const
  {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    Print(out, 0);
    return out.str();
  }

  bool Equal(const IGTLMessage &leftHandSide, const IGTLMessage &rightHandSide, double /*eps*/, bool verbose)
  {
    bool result = true;
    if (std::string(leftHandSide.GetName()) != std::string(rightHandSide.GetName()))
    {
      if (verbose)
      {
        VEXA_INFO << "[( IGTLMessage )] Name differs.";
        VEXA_INFO << "leftHandSide is " << leftHandSide.GetName() << "rightHandSide is " << rightHandSide.GetName();
      }
      result = false;
    }
    if (leftHandSide.GetIGTTimeStamp() == rightHandSide.GetIGTTimeStamp())
      return result;
    if (verbose)
    {
      VEXA_INFO << "[( IGTLMessage )] IGTTimeStamp differs.";
      VEXA_INFO << "leftHandSide is " << leftHandSide.GetIGTTimeStamp() << "rightHandSide is "
                << rightHandSide.GetIGTTimeStamp();
    }
    return false;
  }
}
