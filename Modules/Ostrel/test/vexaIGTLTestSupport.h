#ifndef vexaIGTLTestSupport_h
#define vexaIGTLTestSupport_h

// Shared pieces of the Ostrel tests (and of the tests above Ostrel, target
// IGTLTestSupport): waiting for conditions, counting events, loopback peers,
// building OpenIGTLink messages and raw headers, and counting descriptors.

#include <vexaFunctionCommand.h>
#include <vexaIGTLClient.h>
#include <vexaIGTLDevice.h>
#include <vexaIGTLServer.h>
#include <vexaIGTLSocket.h>
#include <vexaTestThisProcess.h>
#include <vexaTestWaitUntil.h>

#include <itkCommand.h>

#include <igtlImageMessage.h>
#include <igtlMessageBase.h>
#include <igtlStringMessage.h>
#include <igtl_header.h>
#include <igtl_util.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vexa
{
  namespace test
  {
    using namespace std::chrono_literals;

    /** The what() of the exception f() throws; "(nothing thrown)" when it returns. */
    template <class F>
    std::string ExceptionText(F f)
    {
      try
      {
        f();
      }
      catch (const std::exception &e)
      {
        return e.what();
      }
      return "(nothing thrown)";
    }

    /** Counts the events of one class fired by a device; optionally runs an action in the observer. */
    class EventCounter
    {
    public:
      EventCounter(IGTLDevice *device, const itk::EventObject &event, std::function<void()> action = {})
        : m_Device(device), m_Count(std::make_shared<std::atomic<int>>(0))
      {
        m_Tag = device->AddObserver(event, FunctionCommand::New([count = m_Count, action = std::move(action)](
                                                                  itk::Object *, const itk::EventObject &) {
                                      if (action)
                                        action();
                                      ++*count;
                                    }));
      }
      ~EventCounter() { m_Device->RemoveObserver(m_Tag); }
      EventCounter(const EventCounter &) = delete;
      EventCounter &operator=(const EventCounter &) = delete;

      int Count() const { return m_Count->load(); }

    private:
      IGTLDevice::Pointer m_Device;
      std::shared_ptr<std::atomic<int>> m_Count;
      unsigned long m_Tag;
    };

    inline igtl::MessageBase::Pointer MakeString(const std::string &text, const std::string &deviceName = "Text")
    {
      igtl::StringMessage::Pointer message = igtl::StringMessage::New();
      message->SetDeviceName(deviceName.c_str());
      message->SetString(text.c_str());
      return igtl::MessageBase::Pointer(message.GetPointer());
    }

    /** An image message whose pixels are 0, 1, 2, ... (as bytes). */
    inline igtl::ImageMessage::Pointer MakeImage(
      int x, int y, int z, int scalarType, const std::string &deviceName = "Image")
    {
      igtl::ImageMessage::Pointer image = igtl::ImageMessage::New();
      image->SetDeviceName(deviceName.c_str());
      image->SetDimensions(x, y, z);
      image->SetScalarType(scalarType);
      image->SetSpacing(0.5f, 0.25f, 2.0f);
      image->AllocateScalars();
      auto *pixels = static_cast<unsigned char *>(image->GetScalarPointer());
      for (int i = 0; i < image->GetImageSize(); ++i)
        pixels[i] = static_cast<unsigned char>(i * 7 + 3);
      return image;
    }

    /** The bytes that go on the wire for a message. */
    inline std::vector<unsigned char> Packed(igtl::MessageBase *message)
    {
      message->Pack();
      const auto *p = static_cast<const unsigned char *>(message->GetPackPointer());
      return std::vector<unsigned char>(p, p + message->GetPackSize());
    }

    /** A raw OpenIGTLink header, byte order and all, with whatever fields a hostile peer likes. */
    inline std::vector<unsigned char> RawHeader(const std::string &type,
                                                std::uint64_t bodySize,
                                                std::uint16_t version = IGTL_HEADER_VERSION,
                                                const std::vector<unsigned char> &body = {},
                                                const std::string &deviceName = "Hostile")
    {
      igtl_header header;
      std::memset(&header, 0, sizeof(header));
      header.version = version;
      std::memcpy(header.name, type.data(), std::min(type.size(), sizeof(header.name)));
      std::memcpy(header.device_name, deviceName.data(), std::min(deviceName.size(), sizeof(header.device_name)));
      header.timestamp = 0;
      header.body_size = bodySize;
      header.crc = body.empty() ? 0 : crc64(const_cast<unsigned char *>(body.data()), body.size(), 0);
      igtl_header_convert_byte_order(&header);
      std::vector<unsigned char> bytes(IGTL_HEADER_SIZE);
      std::memcpy(bytes.data(), &header, IGTL_HEADER_SIZE);
      return bytes;
    }

    inline std::vector<unsigned char> Concat(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b)
    {
      std::vector<unsigned char> both(a.size() + b.size());
      std::copy(a.begin(), a.end(), both.begin());
      std::copy(b.begin(), b.end(), both.begin() + static_cast<std::ptrdiff_t>(a.size()));
      return both;
    }

    /** The text of a string message, or "(none)": a missing message fails a comparison instead of crashing. */
    inline std::string TextOf(const igtl::StringMessage::Pointer &message)
    {
      return message.IsNull() ? std::string("(none)") : std::string(message->GetString());
    }

    inline std::string TypeOf(const igtl::MessageBase::Pointer &message)
    {
      return message.IsNull() ? std::string("(none)") : std::string(message->GetDeviceType());
    }

    /** A running server on a port of the system's choice. */
    inline IGTLServer::Pointer StartServer(bool readFully = true)
    {
      IGTLServer::Pointer server = IGTLServer::New(readFully);
      server->SetName("Test server");
      server->SetPortNumber(0);
      if (!server->OpenConnection() || !server->StartCommunication())
        return nullptr;
      return server;
    }

    /** A running client connected to `port` on the loopback. */
    inline IGTLClient::Pointer StartClient(int port, bool readFully = true)
    {
      IGTLClient::Pointer client = IGTLClient::New(readFully);
      client->SetName("Test client");
      client->SetHostname("127.0.0.1");
      client->SetPortNumber(port);
      if (!client->OpenConnection() || !client->StartCommunication())
        return nullptr;
      return client;
    }

    /** A plain socket connected to `port`: the test's own peer, honest or hostile. */
    inline IGTLClientSocket::Pointer ConnectRaw(int port)
    {
      IGTLClientSocket::Pointer socket = IGTLClientSocket::New();
      if (socket->ConnectToServer("127.0.0.1", port) != 0)
        return nullptr;
      return socket;
    }

    /** "address:port" of the socket's own end, as its peer names it; "unknown" when it has none. */
    inline std::string LocalAddressOf(const IGTLClientSocket *socket)
    {
      sockaddr_in address;
      socklen_t length = sizeof(address);
      if (socket == nullptr ||
          ::getsockname(socket->GetDescriptor(), reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
          address.sin_family != AF_INET)
        return "unknown";
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
      return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
    }

    /** Ends the connection with a reset instead of an orderly close, as a peer that crashes may. */
    inline void ResetConnection(IGTLClientSocket *socket)
    {
      const linger abort{1, 0};
      ::setsockopt(socket->GetDescriptor(), SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
      socket->Close();
    }

    inline bool SendBytes(IGTLClientSocket *socket, const std::vector<unsigned char> &bytes)
    {
      return socket->SendExactly(bytes.data(), bytes.size(), 5000) == IGTLSocketResult::Done;
    }

    /**
     * Reads one whole message from a raw socket with OpenIGTLink's own header
     * and message classes: the header, then its body into `message` when given
     * (else the body is discarded). Null on failure.
     */
    inline igtl::MessageBase::Pointer ReceiveRaw(IGTLClientSocket *socket,
                                                 igtl::MessageBase::Pointer message = nullptr,
                                                 int timeoutMilliseconds = 10000)
    {
      igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
      header->InitPack();
      if (socket->ReceiveExactly(header->GetPackPointer(), header->GetPackSize(), timeoutMilliseconds) !=
          IGTLSocketResult::Done)
        return nullptr;
      header->Unpack();
      if (message.IsNull())
      {
        if (socket->ReceiveExactly(nullptr, header->GetBodySizeToRead(), timeoutMilliseconds) != IGTLSocketResult::Done)
          return nullptr;
        return header;
      }
      message->SetMessageHeader(header);
      message->AllocatePack();
      if (socket->ReceiveExactly(message->GetPackBodyPointer(), message->GetPackBodySize(), timeoutMilliseconds) !=
          IGTLSocketResult::Done)
        return nullptr;
      message->Unpack(1);
      return message;
    }
  }
}

#endif
