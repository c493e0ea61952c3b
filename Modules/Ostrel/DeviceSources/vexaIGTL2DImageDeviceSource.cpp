#include "vexaIGTL2DImageDeviceSource.h"

namespace vexa
{
  IGTL2DImageDeviceSource::IGTL2DImageDeviceSource() { this->SetName("IGTLDeviceSource (2D Images)"); }

  IGTL2DImageDeviceSource::~IGTL2DImageDeviceSource() = default;

  void IGTL2DImageDeviceSource::GenerateData()
  {
    if (m_IGTLDevice.IsNull())
      return;
    igtl::ImageMessage::Pointer message = m_IGTLDevice->GetNextImage2dMessage();
    if (message.IsNotNull())
      SetOutputMessage(message.GetPointer());
  }
}
