#include "vexaIGTLDummyMessage.h"

namespace vexa
{
  IGTLDummyMessage::IGTLDummyMessage() : igtl::StringMessage() { this->m_DefaultBodyType = "DUMMY"; }

  IGTLDummyMessage::~IGTLDummyMessage() = default;

  void IGTLDummyMessage::SetDummyString(const std::string &dummyString)
  {
    m_DummyString = dummyString;
    this->SetString("This is a dummy string");
  }

  std::string IGTLDummyMessage::GetDummyString() const { return m_DummyString; }

  igtl::MessageBase::Pointer IGTLDummyMessage::Clone()
  {
    IGTLDummyMessage::Pointer copy = IGTLDummyMessage::New();
    copy->SetString(this->GetString());
    copy->SetDummyString(m_DummyString);
    return igtl::MessageBase::Pointer(copy.GetPointer());
  }
}
