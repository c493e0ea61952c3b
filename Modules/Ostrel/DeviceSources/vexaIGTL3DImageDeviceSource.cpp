#include "vexaIGTL3DImageDeviceSource.h"

namespace vexa
{
  // The same name as the 2-D source: callers know the sources by it until a device renames them.
  IGTL3DImageDeviceSource::IGTL3DImageDeviceSource() { this->SetName("IGTLDeviceSource (2D Images)"); }

  IGTL3DImageDeviceSource::~IGTL3DImageDeviceSource() = default;

  void IGTL3DImageDeviceSource::GenerateData()
  {
    if (m_IGTLDevice.IsNull())
      return;
    igtl::ImageMessage::Pointer message = m_IGTLDevice->GetNextImage3dMessage();
    if (message.IsNotNull())
      SetOutputMessage(message.GetPointer());
  }
}
