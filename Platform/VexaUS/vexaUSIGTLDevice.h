#ifndef vexaUSIGTLDevice_h
#define vexaUSIGTLDevice_h

#include "vexaUSDevice.h"

#include <vexaIGTL2DImageDeviceSource.h>
#include <vexaIGTLDevice.h>

#include <igtlImageMessage.h>

#include <atomic>
#include <mutex>
#include <string>

namespace vexa
{
  /**
   * An ultrasound device whose pictures arrive as OpenIGTLink IMAGE messages,
   * as a client of a server or as a server for clients, through Ostrel (a 2-D
   * image device source over a client or server). One output; each picture
   * keeps the spacing and origin its message gives.
   *
   * Connecting connects to the server (client) or listens on the port
   * (server); activating starts Ostrel's worker threads. Pictures are
   * converted on Ostrel's receiving thread, after the sizes the message
   * announces were checked against its body. A client that loses its server
   * stops being active and connected, publishes that, and connects anew with
   * the next Connect(). An active server stays active when its clients go:
   * the last one to leave is published under the lost-client key (Ostrel's
   * receiving thread) until the next client connects (its connecting thread)
   * or the device is deactivated.
   */
  class VEXAUS_EXPORT USIGTLDevice : public USDevice
  {
  public:
    vexaClassMacro(USIGTLDevice, USDevice);

    static Pointer New(std::string manufacturer, std::string model, std::string host, int port, bool server);

    /** "org.vexa.modules.us.USIGTLDevice". */
    static std::string GetDeviceClassStatic();
    std::string GetDeviceClass() override;

    std::string GetHostname() const { return m_Host; }
    int GetPort() const { return m_Port; }
    bool GetIsServer() const { return m_IsServer; }

    /** The Ostrel client or server; a server listening on port 0 answers the chosen port here. */
    IGTLDevice *GetIGTLDevice() const { return m_Device; }
    IGTL2DImageDeviceSource *GetIGTLDeviceSource() const { return m_DeviceSource; }

  protected:
    USIGTLDevice(std::string manufacturer, std::string model, std::string host, int port, bool server);
    ~USIGTLDevice() override;

    bool OnInitialization() override;
    bool OnConnection() override;
    bool OnDisconnection() override;
    bool OnActivation() override;
    bool OnDeactivation() override;

  private:
    void OnMessageReceived();
    void OnConnectionLost(const itk::EventObject &event);
    void OnClientConnected();
    void AddObservers();
    void RemoveObservers();
    /** Stops and closes what is left of an earlier connection. */
    void CloseConnection();

    const std::string m_Host;
    const int m_Port;
    const bool m_IsServer;

    IGTLDevice::Pointer m_Device;
    IGTL2DImageDeviceSource::Pointer m_DeviceSource;

    std::mutex m_ObserversMutex;
    bool m_HasObservers = false;
    unsigned long m_MessageTag = 0;
    unsigned long m_LostTag = 0;
    unsigned long m_ConnectedTag = 0;

    // receiving thread only
    igtl::MessageBase::Pointer m_LastMessage;
    USImageFrame m_Frame;
    bool m_RefusalLogged = false;
  };

  /**
   * Converts a received OpenIGTLink image message into a picture: its
   * sub-volume's pixels, pixel type (scalar, RGB or RGBA of OpenIGTLink's
   * scalar types), spacing and origin (the message gives the position of the
   * image's centre; the orientation is not kept). The sizes the message
   * announces are checked in 64 bits against its body before anything is
   * reshaped or copied: on any inconsistency `frame` is left as it was and
   * false is returned with the reason in `why`. The frame then holds the
   * message's pixels without copying them (it keeps the message), unless
   * their byte order must be swapped.
   */
  VEXAUS_EXPORT bool ConvertImageMessage(igtl::ImageMessage *message, USImageFrame &frame, std::string *why = nullptr);
}

#endif
