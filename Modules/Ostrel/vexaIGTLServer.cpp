#include "vexaIGTLServer.h"

#include "vexaIGTLLog.h"

#include <vexaException.h>
#include <vexaLog.h>

#include <vector>

namespace vexa
{
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
    }
    m_ClientsChanged.Raise();
    InvokeEvent(NewClientConnectionEvent());
    VEXA_INFO("IGTLServer") << "Connected to a new client: " << client;
  }

  void IGTLServer::Receive()
  {
    // Cleared before the copy: a client added after it raises the signal again.
    m_ClientsChanged.Clear();
    const SocketListType clientList = CopyClients();
    std::vector<IGTLClientSocket *> clients;
    for (const IGTLClientSocket::Pointer &c : clientList)
      clients.push_back(c.GetPointer());

    std::vector<bool> readable;
    const IGTLSocketResult waited = IGTLClientSocket::WaitReadable(
      clients, SocketTimeout, {GetStopDescriptor(), m_ClientsChanged.GetDescriptor()}, readable);
    if (waited == IGTLSocketResult::Interrupted || waited == IGTLSocketResult::Failed)
      return;

    SocketListType lost;
    for (std::size_t i = 0; i < clients.size(); ++i)
    {
      // Clients in the middle of a message are looked at too, so that a stalled one is noticed.
      if (!readable[i] && !clients[i]->GetReceiveProgress().InMessage())
        continue;
      if (ReceivePrivate(clients[i], 0, false) == 16)
      {
        VEXA_WARN("IGTLServer") << "Lost connection to a client socket. ";
        lost.push_back(clients[i]);
      }
    }
    if (!lost.empty())
    {
      StopCommunicationWithSocket(lost);
      InvokeEvent(LostConnectionEvent());
    }
  }

  void IGTLServer::Send()
  {
    IGTLMessage::Pointer message = WaitForMessageToSend();
    if (message.IsNull() || !PackMessage(message.GetPointer()))
      return;
    // Packed once; a client whose write fails is shut down and dropped by the receiving thread.
    for (const IGTLClientSocket::Pointer &client : CopyClients())
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
