#ifndef vexaIGTLClient_h
#define vexaIGTLClient_h

#include "OstrelExports.h"
#include "vexaIGTLDevice.h"

namespace vexa
{
  /** An OpenIGTLink device that connects to one server (host and port) and talks to it. */
  class OSTREL_EXPORT IGTLClient : public IGTLDevice
  {
  public:
    vexaClassMacro(IGTLClient, IGTLDevice);
    vexaNewMacro1Param(IGTLClient, bool);

    /**
     * Connects to the host and port (in Setup only, else throws): true and
     * Ready on success; false, logged, when the port or host is missing or
     * the server cannot be reached (within a few seconds).
     */
    bool OpenConnection() override;

    /** 1 while the client holds a connected socket, else 0. */
    unsigned int GetNumberOfConnections() override;

  protected:
    explicit IGTLClient(bool ReadFully);
    ~IGTLClient() override;

    /** Reads the next message; a lost server (or a broken stream) stops communication. */
    void Receive() override;
    /** Writes the next queued message. */
    void Send() override;
    /** Requests the stop of all three loops; the socket stays open until CloseConnection. */
    void StopCommunicationWithSocket(igtl::Socket *socket) override;
  };
}

#endif
