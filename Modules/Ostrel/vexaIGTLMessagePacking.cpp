#include "vexaIGTLMessagePacking.h"

#include "vexaIGTLCrc64.h"
#include "vexaIGTLDummyMessage.h"

#include <igtlCapabilityMessage.h>
#include <igtlColorTableMessage.h>
#include <igtlImageMessage.h>
#include <igtlImageMetaMessage.h>
#include <igtlLabelMetaMessage.h>
#include <igtlNDArrayMessage.h>
#include <igtlPointMessage.h>
#include <igtlPolyDataMessage.h>
#include <igtlPositionMessage.h>
#include <igtlQuaternionTrackingDataMessage.h>
#include <igtlSensorMessage.h>
#include <igtlStatusMessage.h>
#include <igtlStringMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTrajectoryMessage.h>
#include <igtlTransformMessage.h>
#include <igtl_header.h>

#include <algorithm>
#include <cstring>
#include <typeindex>
#include <unordered_set>

namespace
{
  /**
   * OpenIGTLink's common packing steps are protected members of
   * igtl::MessageBase; a class derived from it may name them, and a pointer
   * to such a member applies to any message.
   */
  struct MessageAccess : igtl::MessageBase
  {
    static int PackBodyOf(igtl::MessageBase &m) { return (m.*(&MessageAccess::PackBody))(); }
    static int BodyPackSizeOf(igtl::MessageBase &m) { return (m.*(&MessageAccess::GetBodyPackSize))(); }
    static unsigned char *HeaderOf(igtl::MessageBase &m) { return m.*(&MessageAccess::m_Header); }
    static const std::string &TypeOf(igtl::MessageBase &m) { return m.*(&MessageAccess::m_DefaultBodyType); }
    static const std::string &DeviceNameOf(igtl::MessageBase &m) { return m.*(&MessageAccess::m_DeviceName); }
    static unsigned int SecondsOf(igtl::MessageBase &m) { return m.*(&MessageAccess::m_TimeStampSec); }
    static unsigned int FractionOf(igtl::MessageBase &m) { return m.*(&MessageAccess::m_TimeStampSecFraction); }
    static void MarkPacked(igtl::MessageBase &m)
    {
      m.*(&MessageAccess::m_IsHeaderUnpacked) = 0;
      m.*(&MessageAccess::m_IsBodyUnpacked) = 0;
    }
  };

  /** Classes packed by igtl::MessageBase::Pack() itself: every class the message factory makes but BIND's. */
  bool UsesCommonPacking(const igtl::MessageBase &message)
  {
    static const std::unordered_set<std::type_index> classes = {typeid(igtl::MessageBase),
                                                                typeid(igtl::ImageMessage),
                                                                typeid(igtl::TransformMessage),
                                                                typeid(igtl::PositionMessage),
                                                                typeid(igtl::StatusMessage),
                                                                typeid(igtl::CapabilityMessage),
                                                                typeid(igtl::GetImageMessage),
                                                                typeid(igtl::GetTransformMessage),
                                                                typeid(igtl::GetStatusMessage),
                                                                typeid(igtl::GetCapabilityMessage),
                                                                typeid(igtl::ImageMetaMessage),
                                                                typeid(igtl::LabelMetaMessage),
                                                                typeid(igtl::ColorTableMessage),
                                                                typeid(igtl::PointMessage),
                                                                typeid(igtl::TrajectoryMessage),
                                                                typeid(igtl::TrackingDataMessage),
                                                                typeid(igtl::QuaternionTrackingDataMessage),
                                                                typeid(igtl::SensorMessage),
                                                                typeid(igtl::StringMessage),
                                                                typeid(igtl::NDArrayMessage),
                                                                typeid(igtl::PolyDataMessage),
                                                                typeid(igtl::GetImageMetaMessage),
                                                                typeid(igtl::GetLabelMetaMessage),
                                                                typeid(igtl::GetColorTableMessage),
                                                                typeid(igtl::GetPointMessage),
                                                                typeid(igtl::GetTrajectoryMessage),
                                                                typeid(igtl::GetPolyDataMessage),
                                                                typeid(igtl::RTSQuaternionTrackingDataMessage),
                                                                typeid(igtl::RTSTrackingDataMessage),
                                                                typeid(igtl::StartTrackingDataMessage),
                                                                typeid(igtl::StartQuaternionTrackingDataMessage),
                                                                typeid(igtl::StopTrackingDataMessage),
                                                                typeid(igtl::StopQuaternionTrackingDataMessage),
                                                                typeid(vexa::IGTLDummyMessage)};
    return classes.count(typeid(message)) != 0;
  }
}

namespace vexa
{
  int IGTLPackMessage(igtl::MessageBase *message)
  {
    if (message == nullptr)
      return 0;
    if (!UsesCommonPacking(*message))
      return message->Pack();

    igtl::MessageBase &m = *message;
    MessageAccess::PackBodyOf(m);
    MessageAccess::MarkPacked(m);
    const int bodySize = MessageAccess::BodyPackSizeOf(m);
    igtl_header header;
    header.version = IGTL_HEADER_VERSION;
    header.timestamp = (static_cast<igtl_uint64>(MessageAccess::SecondsOf(m)) << 32) |
                       static_cast<igtl_uint64>(MessageAccess::FractionOf(m));
    header.body_size = static_cast<igtl_uint64>(static_cast<igtl_int64>(bodySize));
    header.crc = IGTLCrc64(m.GetPackBodyPointer(), bodySize > 0 ? static_cast<std::size_t>(bodySize) : 0, 0);
    // Zero-padded and cut to the field, as strncpy writes them.
    const std::string &type = MessageAccess::TypeOf(m);
    const std::string &name = MessageAccess::DeviceNameOf(m);
    std::memset(header.name, 0, sizeof(header.name));
    std::memset(header.device_name, 0, sizeof(header.device_name));
    std::memcpy(header.name, type.c_str(), std::min(std::strlen(type.c_str()), sizeof(header.name)));
    std::memcpy(header.device_name, name.c_str(), std::min(std::strlen(name.c_str()), sizeof(header.device_name)));
    igtl_header_convert_byte_order(&header);
    std::memcpy(MessageAccess::HeaderOf(m), &header, IGTL_HEADER_SIZE);
    return 1;
  }
}
