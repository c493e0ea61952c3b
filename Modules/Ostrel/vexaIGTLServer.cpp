#include "vexaIGTLServer.h"

#include "vexaIGTLLog.h"

#include <vexaException.h>
#include <vexaLog.h>

#include <vector>

namespace vexa
{
  LostClientsEvent::~LostClientsEvent() = default;

  IGTLServer::IGTLServer(bool ReadFully) : IGTLDevice(ReadFully) {}

  IGTLServer::~IGTLServer()
  {
    // The worker threads run this class's steps and use its client list: they end first.
    try
    {
      CloseConnection();
      StopThreads();
    }
    catch (...)
    {
      VEXA_ERROR("IGTLServer") << "Failure while closing a server that is being destroyed";
    }
  }

  bool IGTLServer::OpenConnection()
  {
    if (GetState() != Setup)
      vexaThrow() << "Can only try to create a server if in setup mode";

    const int portNumber = this->GetPortNumber();
    if (portNumber == -1)
      return false;

    IGTLServerSocket::Pointer socket = IGTLServerSocket::New();
    m_Socket = socket.GetPointer();
    if (socket->CreateServer(portNumber) != 0)
      vexaThrow() << "The server could not be created. Port: " << portNumber;
    if (portNumber == 0)
      SetPortNumber(socket->GetServerPort());
    SetState(Ready);
    return true;
  }

  bool IGTLServer::CloseConnection()
  {
    if (IsCalledFromWorkerThread())
      return IGTLDevice::CloseConnection(); // refuses, and only requests the stop
    this->StopCommunication();
    // The worker threads are gone: their copies of the list go too.
    m_ReceiveClients.clear();
    m_ReceiveClientsVersion = 0;
    m_RefreshReceiveClients = true;
    m_SendClients.clear();
    m_SendClientsVersion = 0;
    m_PollSet.Reset({});
    SocketListType clients = CopyClients();
    StopCommunicationWithSocket(clients);
    return IGTLDevice::CloseConnection();
  }

  unsigned int IGTLServer::GetNumberOfConnections()
  {
    std::lock_guard<std::mutex> lock(m_ClientsMutex);
    return static_cast<unsigned int>(m_RegisteredClients.size());
  }

  IGTLServer::SocketListType IGTLServer::CopyClients()
  {
    std::lock_guard<std::mutex> lock(m_ClientsMutex);
    return m_RegisteredClients;
  }

  void IGTLServer::TakeSnapshot(std::vector<IGTLClientSocket::Pointer> &snapshot, unsigned long &version)
  {
    std::lock_guard<std::mutex> lock(m_ClientsMutex);
    if (version == m_ClientsVersion)
      return;
    snapshot.assign(m_RegisteredClients.begin(), m_RegisteredClients.end());
    version = m_ClientsVersion;
  }

  void IGTLServer::Connect()
  {
    auto *listener = dynamic_cast<IGTLServerSocket *>(m_Socket.GetPointer());
    if (listener == nullptr)
    {
      WaitForStopRequest(SocketTimeout);
      return;
    }
    IGTLClientSocket::Pointer client = listener->WaitForConnection(SocketTimeout, GetStopDescriptor(), SocketTimeout);
    if (client.IsNull())
      return;
    {
      std::lock_guard<std::mutex> lock(m_ClientsMutex);
      m_RegisteredClients.push_back(client);
      ++m_ClientsVersion;
    }
    m_ClientsChanged.Raise();
    InvokeEvent(NewClientConnectionEvent());
    VEXA_INFO("IGTLServer") << "Connected to a new client: " << client;
  }

  void IGTLServer::Receive()
  {
    if (m_RefreshReceiveClients)
    {
      // Cleared before the copy is taken: a client added after it raises the signal again.
      m_ClientsChanged.Clear();
      const unsigned long seen = m_ReceiveClientsVersion;
      TakeSnapshot(m_ReceiveClients, m_ReceiveClientsVersion);
      if (seen != m_ReceiveClientsVersion || m_PollSet.GetNumberOfSockets() != m_ReceiveClients.size())
      {
        m_PollSet.Reset({GetStopDescriptor(), m_ClientsChanged.GetDescriptor()});
        for (const IGTLClientSocket::Pointer &c : m_ReceiveClients)
          m_PollSet.AddSocket(c.GetPointer());
      }
      m_RefreshReceiveClients = false;
    }

    const IGTLSocketResult waited = m_PollSet.Wait(SocketTimeout);
    if (waited == IGTLSocketResult::Interrupted || waited == IGTLSocketResult::Failed)
    {
      m_RefreshReceiveClients = true; // the list changed (or a stop, after which it does not matter)
      return;
    }

    SocketListType lost;
    std::vector<std::string> peers;
    for (std::size_t i = 0; i < m_ReceiveClients.size(); ++i)
    {
      IGTLClientSocket *client = m_ReceiveClients[i].GetPointer();
      // Clients in the middle of a message are looked at too, so that a stalled one is noticed.
      const IGTLReceiveFraming *framing = client->GetReceiveFraming();
      if (!m_PollSet.IsReadable(i) && (framing == nullptr || !framing->InMessage()))
        continue;
      if (ReceivePrivate(client, 0, false) == 16)
      {
        VEXA_WARN("IGTLServer") << "Lost connection to a client socket. ";
        lost.push_back(m_ReceiveClients[i]);
        peers.push_back(client->GetPeerText());
      }
    }
    if (!lost.empty())
    {
      StopCommunicationWithSocket(lost);
      InvokeEvent(LostClientsEvent(std::move(peers)));
    }
  }

  void IGTLServer::Send()
  {
    IGTLMessage::Pointer message = WaitForMessageToSend();
    // Also when nothing is sent: the copy lets go of removed clients.
    TakeSnapshot(m_SendClients, m_SendClientsVersion);
    if (message.IsNull() || !PackMessage(message.GetPointer()))
      return;
    // Packed once; a client whose write fails is shut down and dropped by the receiving thread.
    for (const IGTLClientSocket::Pointer &client : m_SendClients)
      SendPackedMessage(message.GetPointer(), client.GetPointer());
  }

  void IGTLServer::StopCommunicationWithSocket(igtl::Socket *client)
  {
    IGTLClientSocket::Pointer removed;
    {
      std::lock_guard<std::mutex> lock(m_ClientsMutex);
      for (auto it = m_RegisteredClients.begin(); it != m_RegisteredClients.end(); ++it)
      {
        if (it->GetPointer() == client)
        {
          removed = *it;
          m_RegisteredClients.erase(it);
          ++m_ClientsVersion;
          break;
        }
      }
    }
    if (removed.IsNull())
      return;
    // Shut down now; the descriptor is released with the last reference, so a
    // worker still holding this client never touches a reused descriptor.
    removed->Shutdown();
    m_ClientsChanged.Raise();
    VEXA_INFO("IGTLServer") << "Removed client socket from server client list.";
  }

  void IGTLServer::StopCommunicationWithSocket(SocketListType &clientList)
  {
    for (const IGTLClientSocket::Pointer &client : clientList)
      StopCommunicationWithSocket(client.GetPointer());
  }
}
