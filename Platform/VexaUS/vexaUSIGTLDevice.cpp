#include "vexaUSIGTLDevice.h"

#include <vexaIGTLClient.h>
#include <vexaIGTLServer.h>
#include <vexaFunctionCommand.h>
#include <vexaLog.h>
#include <vexaPixelTypeTraits.h>

#include <itkRGBAPixel.h>
#include <itkRGBPixel.h>

#include <igtl_image.h>
#include <igtl_util.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace vexa
{
  namespace
  {
    template <class T>
    std::optional<PixelType> PixelTypeOf(int components)
    {
      switch (components)
      {
        case 1:
          return CreateScalarPixelType<T>();
        case 3:
          return CreatePixelType<T, itk::RGBPixel<T>>(3);
        case 4:
          return CreatePixelType<T, itk::RGBAPixel<T>>(4);
        default:
          return std::nullopt;
      }
    }

    /** The pixel type and component size of an OpenIGTLink scalar type; nothing for unknown types. */
    std::optional<PixelType> PixelTypeOf(int scalarType, int components, unsigned int &componentSize)
    {
      switch (scalarType)
      {
        case igtl::ImageMessage::TYPE_INT8:
          componentSize = 1;
          return PixelTypeOf<signed char>(components);
        case igtl::ImageMessage::TYPE_UINT8:
          componentSize = 1;
          return PixelTypeOf<unsigned char>(components);
        case igtl::ImageMessage::TYPE_INT16:
          componentSize = 2;
          return PixelTypeOf<short>(components);
        case igtl::ImageMessage::TYPE_UINT16:
          componentSize = 2;
          return PixelTypeOf<unsigned short>(components);
        case igtl::ImageMessage::TYPE_INT32:
          componentSize = 4;
          return PixelTypeOf<int>(components);
        case igtl::ImageMessage::TYPE_UINT32:
          componentSize = 4;
          return PixelTypeOf<unsigned int>(components);
        case igtl::ImageMessage::TYPE_FLOAT32:
          componentSize = 4;
          return PixelTypeOf<float>(components);
        case igtl::ImageMessage::TYPE_FLOAT64:
          componentSize = 8;
          return PixelTypeOf<double>(components);
        default:
          return std::nullopt;
      }
    }

    bool Refuse(std::string *why, const std::string &reason)
    {
      if (why)
        *why = reason;
      return false;
    }

    void SwapBytes(unsigned char *data, std::size_t bytes, unsigned int size)
    {
      for (std::size_t i = 0; i + size <= bytes; i += size)
        for (unsigned int a = 0, b = size - 1; a < b; ++a, --b)
          std::swap(data[i + a], data[i + b]);
    }
  }

  bool ConvertImageMessage(igtl::ImageMessage *message, USImageFrame &frame, std::string *why)
  {
    if (!message)
      return Refuse(why, "no message");
    const int components = message->GetNumComponents();
    unsigned int componentSize = 0;
    const std::optional<PixelType> type = PixelTypeOf(message->GetScalarType(), components, componentSize);
    if (!type)
      return Refuse(why, "scalar type " + std::to_string(message->GetScalarType()) + " with " +
                           std::to_string(components) + " components is not supported");

    int dims[3], sub[3], offset[3];
    message->GetDimensions(dims);
    message->GetSubVolume(sub, offset);
    std::uint64_t bytes = std::uint64_t(components) * componentSize;
    for (int i = 0; i < 3; ++i)
    {
      if (dims[i] <= 0 || sub[i] <= 0 || offset[i] < 0 || std::int64_t(offset[i]) + sub[i] > dims[i])
        return Refuse(why, "the image's sizes are inconsistent (" + std::to_string(dims[0]) + " x " +
                             std::to_string(dims[1]) + " x " + std::to_string(dims[2]) + ", sub-volume " +
                             std::to_string(sub[0]) + " x " + std::to_string(sub[1]) + " x " + std::to_string(sub[2]) +
                             ")");
      // checked after every factor: below 2^31 times a factor below 2^31, the product cannot overflow
      bytes *= static_cast<std::uint64_t>(sub[i]);
      if (bytes > std::uint64_t(std::numeric_limits<int>::max()))
        return Refuse(why, "the image announces more pixels than a message can hold");
    }
    const int packBody = message->GetPackBodySize();
    const std::uint64_t available =
      packBody > IGTL_IMAGE_HEADER_SIZE ? std::uint64_t(packBody) - IGTL_IMAGE_HEADER_SIZE : 0;
    if (bytes > available)
      return Refuse(why, "the image announces " + std::to_string(bytes) + " bytes of pixels, its body holds " +
                           std::to_string(available));
    const void *pixels = message->GetScalarPointer();
    if (!pixels)
      return Refuse(why, "the message has no pixels");

    float spacing[3];
    message->GetSpacing(spacing);
    igtl::Matrix4x4 matrix;
    message->GetMatrix(matrix);
    for (int i = 0; i < 3; ++i)
      if (!(spacing[i] > 0.0f) || !std::isfinite(spacing[i]))
        return Refuse(why, "the spacing is not positive");

    const unsigned int x = static_cast<unsigned int>(sub[0]);
    const unsigned int y = static_cast<unsigned int>(sub[1]);
    const unsigned int z = static_cast<unsigned int>(sub[2]);
    const bool littleHost = igtl_is_little_endian() != 0;
    const bool littleMessage = message->GetEndian() == igtl::ImageMessage::ENDIAN_LITTLE;
    if (componentSize > 1 && littleHost != littleMessage)
    {
      if (!frame.Reshape(*type, x, y, z))
        return Refuse(why, "no memory for the picture");
      std::memcpy(frame.GetData(), pixels, static_cast<std::size_t>(bytes));
      SwapBytes(frame.GetData(), static_cast<std::size_t>(bytes), componentSize);
    }
    else
    {
      // No copy here: the frame holds the message until the picture reached
      // its output, where it is copied once.
      igtl::ImageMessage::Pointer keep = message;
      std::shared_ptr<const void> owner(pixels, [keep](const void *) {});
      if (!frame.Wrap(*type, x, y, z, static_cast<const unsigned char *>(pixels), static_cast<std::size_t>(bytes),
                      std::move(owner)))
        return Refuse(why, "the picture does not match its sizes");
    }

    // The matrix holds unit axes and the position of the whole image's centre.
    for (int r = 0; r < 3; ++r)
    {
      double origin = matrix[r][3];
      for (int c = 0; c < 3; ++c)
        origin += matrix[r][c] * spacing[c] * (offset[c] - (dims[c] - 1) / 2.0);
      frame.Origin[r] = origin;
      frame.Spacing[r] = spacing[r];
    }
    return true;
  }

  // ---- the device ----

  USIGTLDevice::Pointer USIGTLDevice::New(
    std::string manufacturer, std::string model, std::string host, int port, bool server)
  {
    Pointer p = new USIGTLDevice(std::move(manufacturer), std::move(model), std::move(host), port, server);
    p->UnRegister();
    return p;
  }

  USIGTLDevice::USIGTLDevice(std::string manufacturer, std::string model, std::string host, int port, bool server)
    : USDevice(manufacturer, model), m_Host(std::move(host)), m_Port(port), m_IsServer(server)
  {
    if (server)
      m_Device = IGTLServer::New(true).GetPointer();
    else
      m_Device = IGTLClient::New(true).GetPointer();
    m_Device->SetHostname(m_Host);
    m_Device->SetPortNumber(m_Port);
    m_Device->SetName(manufacturer + " " + model);
    m_DeviceSource = IGTL2DImageDeviceSource::New();
    m_DeviceSource->SetIGTLDevice(m_Device);
  }

  USIGTLDevice::~USIGTLDevice()
  {
    RemoveObservers();
    CloseConnection();
  }

  std::string USIGTLDevice::GetDeviceClassStatic() { return "org.vexa.modules.us.USIGTLDevice"; }
  std::string USIGTLDevice::GetDeviceClass() { return GetDeviceClassStatic(); }

  bool USIGTLDevice::OnInitialization() { return true; }

  void USIGTLDevice::CloseConnection()
  {
    try
    {
      if (m_DeviceSource->IsConnected())
        m_DeviceSource->Disconnect(); // stops the threads first
    }
    catch (const std::exception &e)
    {
      VEXA_WARN("USIGTLDevice") << "Closing the connection: " << e.what();
    }
  }

  bool USIGTLDevice::OnConnection()
  {
    CloseConnection(); // what a lost server left behind
    try
    {
      m_DeviceSource->Connect();
      return true;
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("USIGTLDevice") << (m_IsServer ? "Cannot listen on port " : "Cannot connect to ")
                                 << (m_IsServer ? "" : m_Host + ":") << m_Port << ": " << e.what();
      return false;
    }
  }

  bool USIGTLDevice::OnDisconnection()
  {
    RemoveObservers();
    CloseConnection();
    return true;
  }

  bool USIGTLDevice::OnActivation()
  {
    m_LastMessage = nullptr;
    m_RefusalLogged = false;
    AddObservers();
    try
    {
      m_DeviceSource->StartCommunication();
      return true;
    }
    catch (const std::exception &e)
    {
      RemoveObservers();
      VEXA_ERROR("USIGTLDevice") << "Cannot start the communication: " << e.what();
      return false;
    }
  }

  bool USIGTLDevice::OnDeactivation()
  {
    RemoveObservers();
    // nobody waits for a client now
    UpdateServiceProperty(GetPropertyKeys().US_PROPKEY_LOST_CLIENT, std::string());
    try
    {
      if (m_DeviceSource->IsCommunicating())
        m_DeviceSource->StopCommunication();
    }
    catch (const std::exception &e)
    {
      VEXA_WARN("USIGTLDevice") << "Stopping the communication: " << e.what();
      return false;
    }
    return true;
  }

  void USIGTLDevice::AddObservers()
  {
    std::lock_guard<std::mutex> lock(m_ObserversMutex);
    if (m_HasObservers)
      return;
    // Ostrel calls these on its receiving thread
    m_MessageTag = m_Device->AddObserver(
      MessageReceivedEvent(),
      FunctionCommand::New([this](itk::Object *, const itk::EventObject &) { OnMessageReceived(); }));
    m_LostTag = m_Device->AddObserver(
      LostConnectionEvent(),
      FunctionCommand::New([this](itk::Object *, const itk::EventObject &event) { OnConnectionLost(event); }));
    m_ConnectedTag = m_Device->AddObserver(
      NewClientConnectionEvent(),
      FunctionCommand::New([this](itk::Object *, const itk::EventObject &) { OnClientConnected(); }));
    m_HasObservers = true;
  }

  void USIGTLDevice::RemoveObservers()
  {
    unsigned long messageTag, lostTag, connectedTag;
    {
      std::lock_guard<std::mutex> lock(m_ObserversMutex);
      if (!m_HasObservers)
        return;
      m_HasObservers = false;
      messageTag = m_MessageTag;
      lostTag = m_LostTag;
      connectedTag = m_ConnectedTag;
    }
    // once these return the handlers are not entered again (unless from within themselves)
    m_Device->RemoveObserver(messageTag);
    m_Device->RemoveObserver(lostTag);
    m_Device->RemoveObserver(connectedTag);
  }

  void USIGTLDevice::OnMessageReceived()
  {
    try
    {
      m_DeviceSource->Update();
      IGTLMessage *output = m_DeviceSource->GetOutput();
      igtl::MessageBase::Pointer message = output ? output->GetMessage() : nullptr;
      if (message.IsNull() || message == m_LastMessage)
        return; // not an image
      m_LastMessage = message;
      auto *image = dynamic_cast<igtl::ImageMessage *>(message.GetPointer());
      std::string why;
      if (!image || !ConvertImageMessage(image, m_Frame, &why))
      {
        if (!m_RefusalLogged)
          VEXA_WARN("USIGTLDevice") << "An image message from \"" << message->GetDeviceName()
                                    << "\" was refused: " << why << ".";
        m_RefusalLogged = true;
        return;
      }
      HandOverFrame(0, m_Frame);
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("USIGTLDevice") << "Receiving a picture failed: " << e.what();
    }
  }

  void USIGTLDevice::OnConnectionLost(const itk::EventObject &event)
  {
    if (m_IsServer)
    {
      // A server goes on serving its other clients. One left without any waits
      // for the next, and publishes the client that left last.
      const auto *lost = dynamic_cast<const LostClientsEvent *>(&event);
      if (!lost || lost->GetClients().empty() || m_Device->GetNumberOfConnections() != 0)
        return;
      const std::string &key = GetPropertyKeys().US_PROPKEY_LOST_CLIENT;
      UpdateServiceProperty(key, lost->GetClients().back());
      // A client that came meanwhile may have cleared the key before it was
      // set: it is in the list by now, so the key goes again.
      if (m_Device->GetNumberOfConnections() != 0)
        UpdateServiceProperty(key, std::string());
      return;
    }
    // a client has lost its only source
    DeactivateFromAcquisition("the server " + m_Host + ":" + std::to_string(m_Port) + " closed the connection",
                              State_Initialized);
  }

  void USIGTLDevice::OnClientConnected()
  {
    if (m_IsServer)
      UpdateServiceProperty(GetPropertyKeys().US_PROPKEY_LOST_CLIENT, std::string());
  }
}
