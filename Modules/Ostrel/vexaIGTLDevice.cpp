#include "vexaIGTLDevice.h"

#include "vexaIGTLLog.h"
#include "vexaIGTLMessagePacking.h"

#include <vexaLog.h>

#include <igtlBindMessage.h>
#include <igtlImageMessage.h>
#include <igtl_header.h>
#include <igtl_image.h>
#include <igtl_util.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>
#include <sstream>
#include <vector>

namespace
{
  using Clock = std::chrono::steady_clock;

  // The device whose worker loop runs on this thread, if any.
  thread_local const vexa::IGTLDevice *t_WorkerOf = nullptr;

  int MillisecondsSince(Clock::time_point t)
  {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
  }

  int MillisecondsUntil(Clock::time_point t)
  {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
  }

  // OpenIGTLink keeps message lengths in int.
  constexpr std::uint64_t LargestBodyOpenIGTLinkHolds = static_cast<std::uint64_t>(INT_MAX) - IGTL_HEADER_SIZE;

  /** A sanity check of a message said to be packed: its packed header announces the body it has. */
  bool IsPackedAsItStands(igtl::MessageBase *message)
  {
    if (message->GetPackSize() < IGTL_HEADER_SIZE)
      return false;
    igtl_header header;
    std::memcpy(&header, message->GetPackPointer(), IGTL_HEADER_SIZE);
    igtl_header_convert_byte_order(&header);
    return header.version == IGTL_HEADER_VERSION &&
           header.body_size == static_cast<std::uint64_t>(message->GetPackSize() - IGTL_HEADER_SIZE) &&
           std::strncmp(header.name, message->GetDeviceType(), sizeof(header.name)) == 0;
  }

  bool IsImageScalarType(int type)
  {
    return (type >= igtl::ImageMessage::TYPE_INT8 && type <= igtl::ImageMessage::TYPE_UINT32) ||
           type == igtl::ImageMessage::TYPE_FLOAT32 || type == igtl::ImageMessage::TYPE_FLOAT64;
  }
}

namespace vexa
{
  // ------------------------------------------------------------------ observers

  unsigned long IGTLDevice::AddObserver(const itk::EventObject &event, itk::Command *command)
  {
    return m_Observers->AddObserver(event, command);
  }

  unsigned long IGTLDevice::AddObserver(const itk::EventObject &event, itk::Command *command) const
  {
    return m_Observers->AddObserver(event, command);
  }

  void IGTLDevice::RemoveObserver(unsigned long tag)
  {
    if (!m_Observers->RemoveObserver(tag))
      Superclass::RemoveObserver(tag);
  }

  void IGTLDevice::RemoveAllObservers()
  {
    m_Observers->RemoveAllObservers();
    Superclass::RemoveAllObservers();
  }

  bool IGTLDevice::HasObserver(const itk::EventObject &event) const
  {
    return m_Observers->HasObserver(event) || Superclass::HasObserver(event);
  }

  void IGTLDevice::InvokeEvent(const itk::EventObject &event)
  {
    m_Observers->InvokeEvent(event, static_cast<itk::Object *>(this));
    Superclass::InvokeEvent(event);
  }

  void IGTLDevice::InvokeEvent(const itk::EventObject &event) const
  {
    m_Observers->InvokeEvent(event, static_cast<const itk::Object *>(this));
    Superclass::InvokeEvent(event);
  }

  void IGTLDevice::InvokeOwnObservers(const itk::EventObject &event) const
  {
    if (m_Observers)
      m_Observers->InvokeEvent(event, static_cast<const itk::Object *>(this));
  }

  void IGTLDevice::Modified() const
  {
    Superclass::Modified();
    InvokeOwnObservers(itk::ModifiedEvent());
  }

  // ------------------------------------------------------------------ life cycle

  IGTLDevice::IGTLDevice(bool ReadFully)
    : m_State(Setup), m_Name("Unspecified Device"), m_Hostname("127.0.0.1"), m_PortNumber(-1),
      m_StopCommunication(false), m_RunningLoops(0), m_LoopFailed(false), m_MessageQueue(IGTLMessageQueue::New()),
      m_MessageFactory(IGTLMessageFactory::New()), m_LogMessages(false), m_ReadFully(ReadFully),
      m_MaximumMessageBodySize(DefaultMaximumMessageBodySize), m_TransferTimeout(DefaultTransferTimeout),
      m_Observers(new ObserverList(1ul << 30)) // above the tags of ITK's own list
  {
  }

  IGTLDevice::~IGTLDevice()
  {
    // Concrete devices have stopped already (their steps are gone by now); this is the last guard.
    StopThreads();
    CloseIGTLSocket(m_Socket.GetPointer());
    InvokeOwnObservers(itk::DeleteEvent());
  }

  IGTLDevice::IGTLDeviceState IGTLDevice::GetState() const
  {
    std::lock_guard<std::mutex> lock(m_StateMutex);
    return m_State;
  }

  void IGTLDevice::SetState(IGTLDeviceState state)
  {
    {
      std::lock_guard<std::mutex> lock(m_StateMutex);
      if (m_State == state)
        return;
      m_State = state;
    }
    Modified();
  }

  bool IGTLDevice::IsCalledFromWorkerThread() const { return t_WorkerOf == this; }

  bool IGTLDevice::IsStopRequested() const { return m_StopCommunication.load(); }

  void IGTLDevice::RequestStop()
  {
    {
      std::lock_guard<std::mutex> lock(m_StopMutex);
      m_StopCommunication = true;
    }
    m_StopRequested.notify_all();
    m_StopSignal.Raise();
    m_MessageQueue->WakeUpWaitingSenders();
  }

  bool IGTLDevice::WaitForStopRequest(int milliseconds)
  {
    std::unique_lock<std::mutex> lock(m_StopMutex);
    return m_StopRequested.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)),
                                    [this] { return m_StopCommunication.load(); });
  }

  int IGTLDevice::GetStopDescriptor() const { return m_StopSignal.GetDescriptor(); }

  bool IGTLDevice::HasThreads() const
  {
    return m_SendThread.joinable() || m_ReceiveThread.joinable() || m_ConnectThread.joinable();
  }

  void IGTLDevice::JoinThreads()
  {
    for (std::thread *t : {&m_SendThread, &m_ReceiveThread, &m_ConnectThread})
    {
      if (!t->joinable())
        continue;
      if (t->get_id() == std::this_thread::get_id())
      {
        // Only reachable when the last reference to the device is dropped on its
        // own worker thread; joining would wait for ever.
        VEXA_ERROR("IGTLDevice") << "The device was destroyed on one of its own worker threads";
        t->detach();
      }
      else
      {
        t->join();
      }
    }
  }

  void IGTLDevice::StopThreads()
  {
    RequestStop();
    std::lock_guard<std::mutex> lock(m_CommunicationMutex);
    JoinThreads();
    if (GetState() == Running)
      SetState(Ready);
  }

  bool IGTLDevice::StartCommunication()
  {
    if (IsCalledFromWorkerThread())
    {
      VEXA_WARN("IGTLDevice") << "StartCommunication cannot be called on a worker thread of the device";
      return false;
    }
    std::lock_guard<std::mutex> lock(m_CommunicationMutex);
    JoinThreads(); // the loops of a run that ended by itself (lost peer, failed step)
    if (GetState() != Ready)
      return false;

    SetState(Running);
    if (m_Socket.IsNotNull())
      m_Socket->SetTimeout(SocketTimeout);
    {
      std::lock_guard<std::mutex> stopLock(m_StopMutex);
      m_StopCommunication = false;
    }
    m_StopSignal.Clear();
    m_LoopFailed = false;
    m_RunningLoops = 3;
    try
    {
      m_SendThread = std::thread(&IGTLDevice::RunCommunication, this, &IGTLDevice::Send);
      m_ReceiveThread = std::thread(&IGTLDevice::RunCommunication, this, &IGTLDevice::Receive);
      m_ConnectThread = std::thread(&IGTLDevice::RunCommunication, this, &IGTLDevice::Connect);
    }
    catch (const std::system_error &e)
    {
      VEXA_ERROR("IGTLDevice") << "Could not start the worker threads: " << e.what();
      RequestStop();
      JoinThreads();
      SetState(Ready);
      return false;
    }
    return true;
  }

  void IGTLDevice::RunCommunication(void (IGTLDevice::*step)())
  {
    t_WorkerOf = this;
    try
    {
      while (GetState() == Running && !IsStopRequested())
        (this->*step)();
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("IGTLDevice::RunCommunication") << "Error while communicating. Thread stopped. (" << e.what() << ")";
      m_LoopFailed = true;
      RequestStop();
    }
    catch (...)
    {
      VEXA_ERROR("IGTLDevice::RunCommunication") << "Error while communicating. Thread stopped.";
      m_LoopFailed = true;
      RequestStop();
    }
    // The last loop to end after a failure leaves the device Ready, as a stop would.
    if (--m_RunningLoops == 0 && m_LoopFailed.exchange(false))
    {
      try
      {
        if (GetState() == Running)
          SetState(Ready);
      }
      catch (...)
      {
        VEXA_ERROR("IGTLDevice::RunCommunication") << "An observer of the device failed while it stopped";
      }
    }
    t_WorkerOf = nullptr;
  }

  bool IGTLDevice::StopCommunication()
  {
    if (IsCalledFromWorkerThread())
    {
      // The loops end after the current step; joining here would wait for ourselves.
      RequestStop();
      return true;
    }
    std::lock_guard<std::mutex> lock(m_CommunicationMutex);
    if (GetState() != Running && !HasThreads())
      return true;
    RequestStop();
    JoinThreads();
    if (GetState() == Running)
      SetState(Ready);
    return true;
  }

  bool IGTLDevice::CloseConnection()
  {
    if (IsCalledFromWorkerThread())
    {
      RequestStop();
      VEXA_WARN("IGTLDevice") << "CloseConnection cannot run on a worker thread of the device: communication "
                                 "stops; close the connection from another thread";
      return false;
    }
    if (GetState() == Setup)
      return true;
    this->StopCommunication();
    CloseIGTLSocket(m_Socket.GetPointer());
    SetState(Setup);
    return true;
  }

  void IGTLDevice::Connect() { WaitForStopRequest(SocketTimeout); }

  // ------------------------------------------------------------------ parameters

  void IGTLDevice::SetPortNumber(int portNumber)
  {
    {
      std::lock_guard<std::mutex> lock(m_ParametersMutex);
      if (m_PortNumber == portNumber)
        return;
      m_PortNumber = portNumber;
    }
    Modified();
  }

  int IGTLDevice::GetPortNumber()
  {
    std::lock_guard<std::mutex> lock(m_ParametersMutex);
    return m_PortNumber;
  }

  void IGTLDevice::SetHostname(std::string hostname)
  {
    {
      std::lock_guard<std::mutex> lock(m_ParametersMutex);
      if (m_Hostname == hostname)
        return;
      m_Hostname = hostname;
    }
    Modified();
  }

  std::string IGTLDevice::GetHostname()
  {
    std::lock_guard<std::mutex> lock(m_ParametersMutex);
    return m_Hostname;
  }

  std::string IGTLDevice::GetName() const
  {
    std::lock_guard<std::mutex> lock(m_ParametersMutex);
    return m_Name;
  }

  void IGTLDevice::SetName(std::string name)
  {
    {
      std::lock_guard<std::mutex> lock(m_ParametersMutex);
      if (m_Name == name)
        return;
      m_Name = name;
    }
    Modified();
  }

  void IGTLDevice::SetReadFully(bool readFully)
  {
    if (m_ReadFully.exchange(readFully) != readFully)
      Modified();
  }

  bool IGTLDevice::GetReadFully() const { return m_ReadFully; }

  void IGTLDevice::SetLogMessages(bool logMessages)
  {
    if (m_LogMessages.exchange(logMessages) != logMessages)
      Modified();
  }

  bool IGTLDevice::GetLogMessages() { return m_LogMessages; }

  void IGTLDevice::SetMaximumMessageBodySize(std::uint64_t bytes)
  {
    bytes = std::min(bytes, LargestBodyOpenIGTLinkHolds);
    if (m_MaximumMessageBodySize.exchange(bytes) != bytes)
      Modified();
  }

  std::uint64_t IGTLDevice::GetMaximumMessageBodySize() const { return m_MaximumMessageBodySize; }

  void IGTLDevice::SetTransferTimeout(int milliseconds)
  {
    milliseconds = std::max(milliseconds, 1);
    if (m_TransferTimeout.exchange(milliseconds) != milliseconds)
      Modified();
  }

  int IGTLDevice::GetTransferTimeout() const { return m_TransferTimeout; }

  IGTLMessageQueue::Pointer IGTLDevice::GetMessageQueue() const { return m_MessageQueue; }

  IGTLMessageFactory::Pointer IGTLDevice::GetMessageFactory() { return m_MessageFactory; }

  bool IGTLDevice::TestConnection() { return true; }

  void IGTLDevice::EnableNoBufferingMode(bool enable) { m_MessageQueue->EnableNoBufferingMode(enable); }

  void IGTLDevice::EnableNoBufferingMode(IGTLMessageQueue::Pointer queue, bool enable)
  {
    if (queue.IsNotNull())
      queue->EnableNoBufferingMode(enable);
  }

  igtl::MessageBase::Pointer IGTLDevice::GetNextCommand() { return m_MessageQueue->PullCommandMessage(); }
  igtl::ImageMessage::Pointer IGTLDevice::GetNextImage2dMessage() { return m_MessageQueue->PullImage2dMessage(); }
  igtl::ImageMessage::Pointer IGTLDevice::GetNextImage3dMessage() { return m_MessageQueue->PullImage3dMessage(); }
  igtl::TransformMessage::Pointer IGTLDevice::GetNextTransformMessage()
  {
    return m_MessageQueue->PullTransformMessage();
  }
  igtl::TrackingDataMessage::Pointer IGTLDevice::GetNextTrackingDataMessage()
  {
    return m_MessageQueue->PullTrackingMessage();
  }
  igtl::StringMessage::Pointer IGTLDevice::GetNextStringMessage() { return m_MessageQueue->PullStringMessage(); }
  igtl::MessageBase::Pointer IGTLDevice::GetNextMiscMessage() { return m_MessageQueue->PullMiscMessage(); }

  // ------------------------------------------------------------------ sending

  std::string IGTLDevice::CheckSendable(const IGTLMessage *message)
  {
    if (message == nullptr)
      return "there is no message";
    igtl::MessageBase::Pointer wrapped = message->GetMessage();
    if (wrapped.IsNull())
      return "it wraps no OpenIGTLink message";
    if (*wrapped->GetDeviceType() == '\0')
      return "its OpenIGTLink message has no type";
    if (dynamic_cast<igtl::BindMessage *>(wrapped.GetPointer()) != nullptr)
      return "OpenIGTLink 1.11 writes past its buffer when it packs a BIND message";
    if (dynamic_cast<igtl::StartBindMessage *>(wrapped.GetPointer()) != nullptr)
      return "OpenIGTLink 1.11 packs STT_BIND messages in a layout that peers (and itself) cannot read";
    if (auto *image = dynamic_cast<igtl::ImageMessage *>(wrapped.GetPointer()))
    {
      // igtl::ImageMessage::Pack() reads the pixel buffer without a test.
      std::ostringstream why;
      const int scalarType = image->GetScalarType();
      int size[3], subSize[3], subOffset[3];
      image->GetDimensions(size);
      image->GetSubVolume(subSize, subOffset);
      if (!IsImageScalarType(scalarType))
        why << "the image scalar type " << scalarType << " is not one of OpenIGTLink's";
      else if (image->GetNumComponents() < 1)
        why << "the image has " << image->GetNumComponents() << " components";
      else if (size[0] < 1 || size[1] < 1 || size[2] < 1 || subSize[0] < 1 || subSize[1] < 1 || subSize[2] < 1)
        why << "the image size is not positive";
      else if (subOffset[0] < 0 || subOffset[1] < 0 || subOffset[2] < 0 ||
               static_cast<long long>(subOffset[0]) + subSize[0] > size[0] ||
               static_cast<long long>(subOffset[1]) + subSize[1] > size[1] ||
               static_cast<long long>(subOffset[2]) + subSize[2] > size[2])
        why << "the image's sub-volume lies outside the image";
      else
      {
        const std::uint64_t bytes = static_cast<std::uint64_t>(subSize[0]) * static_cast<std::uint64_t>(subSize[1]) *
                                    static_cast<std::uint64_t>(subSize[2]) *
                                    static_cast<std::uint64_t>(image->GetScalarSize()) *
                                    static_cast<std::uint64_t>(image->GetNumComponents());
        const auto *body = static_cast<const unsigned char *>(image->GetPackBodyPointer());
        if (bytes > LargestBodyOpenIGTLinkHolds - IGTL_IMAGE_HEADER_SIZE)
          why << "the image (" << bytes << " bytes) is larger than an OpenIGTLink message can be";
        else if (image->GetScalarPointer() == nullptr)
          why << "the image message has no pixel buffer (AllocateScalars() was not called)";
        else if (image->GetPackBodySize() < 0 ||
                 static_cast<std::uint64_t>(image->GetPackBodySize()) != IGTL_IMAGE_HEADER_SIZE + bytes ||
                 static_cast<const unsigned char *>(image->GetScalarPointer()) != body + IGTL_IMAGE_HEADER_SIZE)
          why << "the image message's pixel buffer does not fit its size and type (AllocateScalars() must follow "
                 "every change of them)";
      }
      return why.str();
    }
    return std::string();
  }

  bool IGTLDevice::SendMessage(IGTLMessage::Pointer message)
  {
    const std::string why = CheckSendable(message.GetPointer());
    if (!why.empty())
    {
      VEXA_ERROR("IGTLDevice") << "Could not send message because message is not valid. Please check. (" << why << ")";
      return false;
    }
    m_MessageQueue->PushSendMessage(message);
    return true;
  }

  bool IGTLDevice::SendRTSMessage(const char *type)
  {
    const std::string name = std::string("RTS_") + (type != nullptr ? type : "");
    igtl::MessageBase::Pointer rts = m_MessageFactory->CreateInstance(name);
    if (rts.IsNull())
      return false;
    m_MessageQueue->PushSendMessage(IGTLMessage::New(rts));
    return true;
  }

  IGTLMessage::Pointer IGTLDevice::WaitForMessageToSend()
  {
    return m_MessageQueue->PullSendMessage(std::chrono::milliseconds(SocketTimeout), m_StopCommunication);
  }

  bool IGTLDevice::PackMessage(IGTLMessage *message)
  {
    const std::string why = CheckSendable(message);
    if (!why.empty())
    {
      VEXA_ERROR("IGTLDevice") << "Could not send message because message is not valid. Please check. (" << why << ")";
      return false;
    }
    igtl::MessageBase *wrapped = message->GetMessage();
    if (message->IsPacked() && IsPackedAsItStands(wrapped))
      return true;
    try
    {
      IGTLPackMessage(wrapped);
    }
    catch (const std::bad_alloc &)
    {
      VEXA_ERROR("IGTLDevice") << "Not enough memory to pack a " << message->GetIGTLMessageType() << " message";
      return false;
    }
    return true;
  }

  unsigned int IGTLDevice::SendPackedMessage(IGTLMessage *message, igtl::Socket *socket)
  {
    auto *s = dynamic_cast<IGTLClientSocket *>(socket);
    if (s == nullptr || !s->IsOpen())
      return 2;
    igtl::MessageBase::Pointer wrapped = message->GetMessage();
    const std::uint64_t size = static_cast<std::uint64_t>(std::max(wrapped->GetPackSize(), 0));
    std::uint64_t sent = 0;
    const IGTLSocketResult result =
      s->SendExactly(wrapped->GetPackPointer(), size, GetTransferTimeout(), GetStopDescriptor(), &sent);
    if (result != IGTLSocketResult::Done)
    {
      if (result == IGTLSocketResult::Interrupted && sent == 0)
      {
        VEXA_WARN("IGTLDevice") << "A " << wrapped->GetDeviceType() << " message was not sent: communication stopped";
      }
      else
      {
        // A peer that does not take a message within the transfer time-out, or
        // one that got only part of it, cannot be talked to any more.
        VEXA_WARN("IGTLDevice") << "Sent " << sent << " of " << size << " bytes of a " << wrapped->GetDeviceType()
                                << " message to " << s->GetPeerText() << " (" << ToString(result)
                                << "); closing that connection";
        s->Shutdown();
      }
      return 2;
    }
    if (m_LogMessages)
      VEXA_INFO << "Send IGTL message: " << message->ToString();
    InvokeEvent(MessageSentEvent());
    return 1;
  }

  unsigned int IGTLDevice::SendMessagePrivate(IGTLMessage::Pointer message, igtl::Socket *socket)
  {
    if (message.IsNull())
    {
      VEXA_ERROR("IGTLDevice") << "Could not send message because message is not valid. Please check.";
      return 0;
    }
    if (!PackMessage(message.GetPointer()))
      return 0;
    return SendPackedMessage(message.GetPointer(), socket);
  }

  // ------------------------------------------------------------------ receiving

  IGTLReceiveFraming &IGTLDevice::FramingOf(IGTLClientSocket &socket)
  {
    IGTLReceiveFraming *framing = socket.GetReceiveFraming();
    if (framing == nullptr)
    {
      socket.SetReceiveFraming(std::unique_ptr<IGTLReceiveFraming>(
        new IGTLReceiveFraming(m_MessageFactory, socket.GetPeerText(), GetMaximumMessageBodySize())));
      framing = socket.GetReceiveFraming();
    }
    return *framing;
  }

  unsigned int IGTLDevice::Deliver(IGTLReceiveFraming &framing,
                                   IGTLReceiveFraming::Status status,
                                   IGTLClientSocket &socket)
  {
    // OpenIGTLink's status numbers from here on, as the receive path has always answered.
    switch (status)
    {
      case IGTLReceiveFraming::Status::NeedMore:
        return 7;
      case IGTLReceiveFraming::Status::Skipped:
        return 4;
      case IGTLReceiveFraming::Status::ChecksumFailed:
        return 9;
      case IGTLReceiveFraming::Status::Broken:
        socket.Shutdown();
        return 16;
      case IGTLReceiveFraming::Status::Request:
        m_MessageQueue->PushCommandMessage(framing.TakeMessage());
        InvokeEvent(CommandReceivedEvent());
        return 1;
      case IGTLReceiveFraming::Status::Message:
        break;
    }
    igtl::MessageBase::Pointer message = framing.TakeMessage();
    if (m_LogMessages)
      VEXA_INFO << "Received Message: " << IGTLMessage::New(message)->ToString();
    m_MessageQueue->PushMessage(message);
    InvokeEvent(MessageReceivedEvent());
    return 1;
  }

  unsigned int IGTLDevice::ReceivePrivate(igtl::Socket *socket)
  {
    return ReceivePrivate(socket, SocketTimeout, GetReadFully());
  }

  unsigned int IGTLDevice::ReceivePrivate(igtl::Socket *socket, int waitMilliseconds, bool waitForWholeMessage)
  {
    auto *s = dynamic_cast<IGTLClientSocket *>(socket);
    if (s == nullptr || !s->IsOpen())
      return 16;
    IGTLReceiveFraming &framing = FramingOf(*s);
    framing.SetMaximumBodySize(GetMaximumMessageBodySize());
    const Clock::time_point waitEnd = Clock::now() + std::chrono::milliseconds(std::max(waitMilliseconds, 0));

    for (;;)
    {
      // Ask for exactly what the current part still lacks, never more: the
      // next message stays in the kernel, where poll() sees it.
      const IGTLReceiveFraming::Window window = framing.NextWindow();
      const IGTLClientSocket::Transfer t = s->ReceiveAvailable(window.data, window.length);

      if (t.result == IGTLSocketResult::Done && t.bytes > 0)
      {
        const IGTLReceiveFraming::Status status = framing.Received(t.bytes);
        if (status != IGTLReceiveFraming::Status::NeedMore)
          return Deliver(framing, status, *s);
        continue;
      }

      if (t.result == IGTLSocketResult::Closed || t.result == IGTLSocketResult::Failed)
      {
        if (framing.InMessage())
          VEXA_WARN("IGTLDevice") << "The connection to " << framing.GetPeer() << " ended in the middle of a message ("
                                  << ToString(t.result) << ")";
        framing.Reset();
        return 16;
      }

      // Nothing is waiting.
      int wait = MillisecondsUntil(waitEnd);
      if (framing.InMessage())
      {
        const int stallLeft = GetTransferTimeout() - MillisecondsSince(framing.GetLastProgress());
        if (stallLeft <= 0)
        {
          std::ostringstream why;
          why << "no data for " << GetTransferTimeout() << " ms in the middle of a message";
          return Deliver(framing, framing.Fail(why.str()), *s);
        }
        wait = waitForWholeMessage ? stallLeft : std::min(wait, stallLeft);
      }
      if (wait <= 0)
        return 7;
      const IGTLSocketResult w = s->WaitReadable(wait, GetStopDescriptor());
      if (w == IGTLSocketResult::Interrupted || w == IGTLSocketResult::Failed)
        return 7;
    }
  }
}
