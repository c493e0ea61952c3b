#ifndef vexaIGTLServer_h
#define vexaIGTLServer_h

#include "OstrelExports.h"
#include "vexaIGTLDevice.h"

#include <list>
#include <mutex>
#include <string>
#include <vector>

namespace vexa
{
  /**
   * The clients a server lost in one receiving pass, each as "address:port"
   * in the order they were served. It is the pass's one LostConnectionEvent:
   * observers of that event receive it too. MakeObject copies the clients, so
   * a copy posted to another thread still names them.
   */
  class OSTREL_EXPORT LostClientsEvent : public LostConnectionEvent
  {
  public:
    typedef LostClientsEvent Self;
    typedef LostConnectionEvent Superclass;
    LostClientsEvent() = default;
    explicit LostClientsEvent(std::vector<std::string> clients) : m_Clients(std::move(clients)) {}
    LostClientsEvent(const Self &other) : LostConnectionEvent(other), m_Clients(other.m_Clients) {}
    ~LostClientsEvent() override;
    const char *GetEventName() const override { return "LostClientsEvent"; }
    bool CheckEvent(const ::itk::EventObject *e) const override
    {
      return e != nullptr && dynamic_cast<const Self *>(e) != nullptr;
    }
    ::itk::EventObject *MakeObject() const override { return new Self(*this); }

    const std::vector<std::string> &GetClients() const { return m_Clients; }

  private:
    void operator=(const Self &);
    std::vector<std::string> m_Clients;
  };

  /**
   * An OpenIGTLink device that listens on a port, accepts any number of
   * clients, reads from all of them and sends every outgoing message to all.
   *
   * One idle or slow client never stalls the others: the receiving thread
   * waits for whichever client has data and takes at most one message from
   * each per pass, reading only what has arrived. A client that breaks the
   * framing of its stream or fails a send is dropped; the others go on. The
   * clients that went away in a pass are named by its LostClientsEvent.
   * Steps walk a copy of the client list, so no list lock is held while
   * reading, writing or firing events.
   */
  class OSTREL_EXPORT IGTLServer : public IGTLDevice
  {
  public:
    vexaClassMacro(IGTLServer, IGTLDevice);
    vexaNewMacro1Param(IGTLServer, bool);

    typedef std::list<IGTLClientSocket::Pointer> SocketListType;
    typedef SocketListType::iterator SocketListIteratorType;

    /**
     * Listens on the port (in Setup only, else throws); false when the port is
     * -1; throws when the port cannot be listened on. Port 0 listens on a port
     * the system chooses, which GetPortNumber() then answers.
     */
    bool OpenConnection() override;

    /** Stops the threads, closes every client, then the listening socket; back to Setup. */
    bool CloseConnection() override;

    /** The number of connected clients. */
    unsigned int GetNumberOfConnections() override;

  protected:
    explicit IGTLServer(bool ReadFully);
    ~IGTLServer() override;

    /** Accepts a waiting client. */
    void Connect() override;
    /** Takes one message from each client that has data; drops clients that are gone. */
    void Receive() override;
    /** Packs the next queued message once and writes it to every client. */
    void Send() override;
    /** Disconnects one client and removes it from the list. */
    void StopCommunicationWithSocket(igtl::Socket *client) override;
    virtual void StopCommunicationWithSocket(SocketListType &clientList);

  private:
    SocketListType CopyClients();
    /** Copies the client list into `snapshot` when it changed since `version`; allocates only when it grew. */
    void TakeSnapshot(std::vector<IGTLClientSocket::Pointer> &snapshot, unsigned long &version);

    std::mutex m_ClientsMutex; // guards m_RegisteredClients and m_ClientsVersion
    SocketListType m_RegisteredClients;
    unsigned long m_ClientsVersion = 1; // changes with every change of the list
    IGTLWakeUpSignal m_ClientsChanged;  // wakes the receiving thread for a new client

    // The receiving thread's copy of the client list and what it waits on, kept across steps.
    std::vector<IGTLClientSocket::Pointer> m_ReceiveClients;
    unsigned long m_ReceiveClientsVersion = 0;
    bool m_RefreshReceiveClients = true; // set when the wait was woken by a change of the list
    IGTLPollSet m_PollSet;
    // The sending thread's copy.
    std::vector<IGTLClientSocket::Pointer> m_SendClients;
    unsigned long m_SendClientsVersion = 0;
  };
}

#endif
