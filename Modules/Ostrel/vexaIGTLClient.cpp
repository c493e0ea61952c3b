#include "vexaIGTLClient.h"

#include <vexaException.h>
#include <vexaLog.h>

namespace vexa
{
  IGTLClient::IGTLClient(bool ReadFully) : IGTLDevice(ReadFully) {}

  IGTLClient::~IGTLClient()
  {
    // The worker threads run this class's steps: they end before this part of the object does.
    try
    {
      CloseConnection();
      StopThreads();
    }
    catch (...)
    {
      VEXA_ERROR("IGTLClient") << "Failure while closing the connection of a client that is being destroyed";
    }
  }

  bool IGTLClient::OpenConnection()
  {
    if (GetState() != Setup)
      vexaThrow() << "Can only try to open the connection if in setup mode. State was " << GetState();

    const std::string hostname = this->GetHostname();
    const int portNumber = this->GetPortNumber();
    if (portNumber == -1 || hostname.empty())
    {
      VEXA_WARN << "Port number or hostname was not correct";
      return false;
    }

    IGTLClientSocket::Pointer socket = IGTLClientSocket::New();
    m_Socket = socket.GetPointer();
    if (socket->ConnectToServer(hostname.c_str(), portNumber) != 0)
    {
      VEXA_ERROR << "The client could not connect to " << hostname << " port: " << portNumber;
      return false;
    }
    SetState(Ready);
    InvokeEvent(NewClientConnectionEvent());
    return true;
  }

  unsigned int IGTLClient::GetNumberOfConnections()
  {
    return (m_Socket.IsNotNull() && m_Socket->GetConnected()) ? 1u : 0u;
  }

  void IGTLClient::Receive()
  {
    const unsigned int status = ReceivePrivate(m_Socket.GetPointer());
    if (status == 16)
    {
      StopCommunicationWithSocket(m_Socket.GetPointer());
      InvokeEvent(LostConnectionEvent());
      VEXA_WARN("IGTLClient") << "Lost connection to server socket.";
    }
  }

  void IGTLClient::Send()
  {
    IGTLMessage::Pointer message = WaitForMessageToSend();
    if (message.IsNull())
      return;
    if (SendMessagePrivate(message, m_Socket.GetPointer()) != 1)
      VEXA_WARN("IGTLDevice") << "Could not send the message.";
  }

  void IGTLClient::StopCommunicationWithSocket(igtl::Socket * /*socket*/) { RequestStop(); }
}
