#include "vexaIGTLMessageFactory.h"

#include "vexaIGTLDummyMessage.h"

#include <vexaException.h>
#include <vexaLog.h>

#include <igtlBindMessage.h>
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

#include <cctype>

namespace vexa
{
  IGTLMessageFactory::IGTLMessageFactory()
  {
    AddMessageNewMethod("NONE", nullptr);
    AddMessageNewMethod("IMAGE", &NewMessage<igtl::ImageMessage>);
    AddMessageNewMethod("TRANSFORM", &NewMessage<igtl::TransformMessage>);
    AddMessageNewMethod("POSITION", &NewMessage<igtl::PositionMessage>);
    AddMessageNewMethod("STATUS", &NewMessage<igtl::StatusMessage>);
    AddMessageNewMethod("CAPABILITY", &NewMessage<igtl::CapabilityMessage>);
    AddMessageNewMethod("GET_IMAGE", &NewMessage<igtl::GetImageMessage>);
    AddMessageNewMethod("GET_TRANS", &NewMessage<igtl::GetTransformMessage>);
    AddMessageNewMethod("GET_STATUS", &NewMessage<igtl::GetStatusMessage>);
    AddMessageNewMethod("GET_CAPABIL", &NewMessage<igtl::GetCapabilityMessage>);
    AddMessageNewMethod("IMGMETA", &NewMessage<igtl::ImageMetaMessage>);
    AddMessageNewMethod("LBMETA", &NewMessage<igtl::LabelMetaMessage>);
    AddMessageNewMethod("COLORT", &NewMessage<igtl::ColorTableMessage>);
    AddMessageNewMethod("POINT", &NewMessage<igtl::PointMessage>);
    AddMessageNewMethod("TRAJ", &NewMessage<igtl::TrajectoryMessage>);
    AddMessageNewMethod("TDATA", &NewMessage<igtl::TrackingDataMessage>);
    AddMessageNewMethod("QTDATA", &NewMessage<igtl::QuaternionTrackingDataMessage>);
    AddMessageNewMethod("SENSOR", &NewMessage<igtl::SensorMessage>);
    AddMessageNewMethod("STRING", &NewMessage<igtl::StringMessage>);
    AddMessageNewMethod("NDARRAY", &NewMessage<igtl::NDArrayMessage>);
    AddMessageNewMethod("BIND", &NewMessage<igtl::BindMessage>);
    AddMessageNewMethod("POLYDATA", &NewMessage<igtl::PolyDataMessage>);
    AddMessageNewMethod("GET_IMGMETA", &NewMessage<igtl::GetImageMetaMessage>);
    AddMessageNewMethod("GET_LBMETA", &NewMessage<igtl::GetLabelMetaMessage>);
    AddMessageNewMethod("GET_COLORT", &NewMessage<igtl::GetColorTableMessage>);
    AddMessageNewMethod("GET_POINT", &NewMessage<igtl::GetPointMessage>);
    AddMessageNewMethod("GET_TRAJ", &NewMessage<igtl::GetTrajectoryMessage>);
    AddMessageNewMethod("GET_BIND", &NewMessage<igtl::GetBindMessage>);
    AddMessageNewMethod("GET_POLYDATA", &NewMessage<igtl::GetPolyDataMessage>);
    AddMessageNewMethod("RTS_BIND", &NewMessage<igtl::RTSBindMessage>);
    AddMessageNewMethod("RTS_QTDATA", &NewMessage<igtl::RTSQuaternionTrackingDataMessage>);
    AddMessageNewMethod("RTS_TDATA", &NewMessage<igtl::RTSTrackingDataMessage>);
    AddMessageNewMethod("STT_BIND", &NewMessage<igtl::StartBindMessage>);
    AddMessageNewMethod("STT_TDATA", &NewMessage<igtl::StartTrackingDataMessage>);
    AddMessageNewMethod("STT_QTDATA", &NewMessage<igtl::StartQuaternionTrackingDataMessage>);
    AddMessageNewMethod("STP_BIND", &NewMessage<igtl::StopBindMessage>);
    AddMessageNewMethod("STP_TDATA", &NewMessage<igtl::StopTrackingDataMessage>);
    AddMessageNewMethod("STP_QTDATA", &NewMessage<igtl::StopQuaternionTrackingDataMessage>);
    AddMessageNewMethod("DUMMY", &NewMessage<IGTLDummyMessage>);
    // The clone-handler table starts empty.
  }

  IGTLMessageFactory::~IGTLMessageFactory() = default;

  void IGTLMessageFactory::AddMessageNewMethod(std::string messageTypeName,
                                               PointerToMessageBaseNew messageTypeNewPointer)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_NewMethods[messageTypeName] = messageTypeNewPointer;
  }

  IGTLMessageFactory::PointerToMessageBaseNew IGTLMessageFactory::GetMessageTypeNewPointer(std::string messageTypeName)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      const auto it = m_NewMethods.find(messageTypeName);
      if (it != m_NewMethods.end())
        return it->second;
    }
    VEXA_ERROR("IGTLMessageFactory") << messageTypeName << " message type is not registered to factory!";
    return nullptr;
  }

  void IGTLMessageFactory::AddMessageCloneHandler(std::string messageTypeName,
                                                  IGTLMessageCloneHandler::Pointer cloneHandler)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_CloneHandlers[messageTypeName] = cloneHandler;
  }

  IGTLMessageCloneHandler::Pointer IGTLMessageFactory::GetCloneHandler(std::string messageTypeName)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      const auto it = m_CloneHandlers.find(messageTypeName);
      if (it != m_CloneHandlers.end())
        return it->second;
    }
    VEXA_ERROR("IGTLMessageFactory") << messageTypeName << " message type is not registered to factory!";
    vexaThrow() << messageTypeName << " message type is not registered to factory!";
  }

  void IGTLMessageFactory::AddMessageType(std::string messageTypeName,
                                          PointerToMessageBaseNew messageTypeNewPointer,
                                          IGTLMessageCloneHandler::Pointer cloneHandler)
  {
    this->AddMessageNewMethod(messageTypeName, messageTypeNewPointer);
    this->AddMessageCloneHandler(messageTypeName, cloneHandler);
  }

  igtl::MessageBase::Pointer IGTLMessageFactory::CreateInstance(igtl::MessageBase::Pointer header)
  {
    std::string name = header.IsNull() ? std::string("NONE") : std::string(header->GetDeviceType());
    for (char &c : name)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    PointerToMessageBaseNew create = nullptr;
    bool known = false;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      const auto it = m_NewMethods.find(name);
      known = it != m_NewMethods.end();
      if (known)
        create = it->second;
    }
    if (!known)
    {
      VEXA_ERROR("IGTLMessageFactory") << "Unknown IGT message type: " << name;
      return igtl::MessageBase::Pointer();
    }
    return create != nullptr ? create() : igtl::MessageBase::Pointer();
  }

  igtl::MessageBase::Pointer IGTLMessageFactory::CreateInstance(std::string messageTypeName)
  {
    const PointerToMessageBaseNew create = GetMessageTypeNewPointer(messageTypeName);
    return create != nullptr ? create() : igtl::MessageBase::Pointer();
  }

  igtl::MessageBase::Pointer IGTLMessageFactory::Clone(igtl::MessageBase::Pointer message)
  {
    IGTLMessageCloneHandler::Pointer handler = GetCloneHandler(message->GetDeviceType());
    return handler->Clone(message.GetPointer());
  }

  bool IGTLMessageFactory::IsRegistered(const std::string &messageTypeName)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_NewMethods.count(messageTypeName) != 0;
  }

  std::list<std::string> IGTLMessageFactory::GetAvailableMessageRequestTypes()
  {
    std::list<std::string> result;
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (const auto &entry : m_NewMethods)
    {
      const std::string &name = entry.first;
      if (name.find("GET_") != std::string::npos || name.find("STT_") != std::string::npos ||
          name.find("STP_") != std::string::npos || name.find("RTS_") != std::string::npos)
        result.push_back(name);
    }
    return result;
  }
}
