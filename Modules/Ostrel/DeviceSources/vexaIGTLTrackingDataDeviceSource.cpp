#include "vexaIGTLTrackingDataDeviceSource.h"

namespace vexa
{
  IGTLTrackingDataDeviceSource::IGTLTrackingDataDeviceSource() : m_trackingMessageType(TDATA_OR_TRANSFORM)
  {
    this->SetName("IGTLDeviceSource (tracking data)");
  }

  IGTLTrackingDataDeviceSource::~IGTLTrackingDataDeviceSource() = default;

  void IGTLTrackingDataDeviceSource::SettrackingDataType(TrackingMessageType type)
  {
    if (m_trackingMessageType == type)
      return;
    m_trackingMessageType = type;
    this->Modified();
  }

  IGTLTrackingDataDeviceSource::TrackingMessageType IGTLTrackingDataDeviceSource::GettrackingDataType() const
  {
    return m_trackingMessageType;
  }

  void IGTLTrackingDataDeviceSource::GenerateData()
  {
    if (m_IGTLDevice.IsNull())
      return;
    switch (m_trackingMessageType)
    {
      case TDATA:
      {
        igtl::TrackingDataMessage::Pointer tdata = m_IGTLDevice->GetNextTrackingDataMessage();
        if (tdata.IsNotNull())
          SetOutputMessage(tdata.GetPointer());
        break;
      }
      case TRANSFORM:
      {
        igtl::TransformMessage::Pointer transform = m_IGTLDevice->GetNextTransformMessage();
        if (transform.IsNotNull())
          SetOutputMessage(transform.GetPointer());
        break;
      }
      case QTDATA:
        VEXA_WARN << "Receiving QTDATA is not implemented yet!";
        break;
      case TDATA_OR_TRANSFORM:
      {
        igtl::TrackingDataMessage::Pointer tdata = m_IGTLDevice->GetNextTrackingDataMessage();
        igtl::TransformMessage::Pointer transform = m_IGTLDevice->GetNextTransformMessage();
        if (tdata.IsNotNull() && transform.IsNotNull())
          VEXA_INFO << "Found both: TDATA and TRANSFORM messages. Using TRANSFORM as default.";
        if (transform.IsNotNull())
          SetOutputMessage(transform.GetPointer());
        else if (tdata.IsNotNull())
          SetOutputMessage(tdata.GetPointer());
        break;
      }
    }
  }
}
