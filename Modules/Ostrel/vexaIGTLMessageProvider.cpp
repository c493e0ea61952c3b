#include "vexaIGTLMessageProvider.h"

#include "vexaIGTLLog.h"

#include <vexaCallbackFromGUIThread.h>

#include <usGetModuleContext.h>
#include <usLDAPFilter.h>
#include <usModuleContext.h>

#include <igtlBindMessage.h>
#include <igtlQuaternionTrackingDataMessage.h>
#include <igtlTrackingDataMessage.h>

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <list>
#include <thread>
#include <vector>

namespace vexa
{
  namespace
  {
    bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

    /** A peer's type name as it can go into a log record: bytes that are not printable as \xNN. */
    std::string Printable(const std::string &text)
    {
      static const char *const hex = "0123456789abcdef";
      std::string out;
      for (const char c : text)
      {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f)
          out += c;
        else
        {
          out += "\\x";
          out += hex[u >> 4];
          out += hex[u & 0xf];
        }
      }
      return out;
    }

    /** The fallback of an "STT_" request without an interval of its own: 10 frames per second. */
    constexpr unsigned int DefaultStreamingInterval = 100;
  }

  /**
   * A call of the provider posted to the GUI thread. The provider detaches it
   * when it goes: a call still pending does nothing then, and Detach waits
   * for one that is running on another thread, so that no call ever reaches
   * a provider that is gone.
   */
  class IGTLMessageProvider::GUIThreadCall : public itk::Command
  {
  public:
    typedef GUIThreadCall Self;
    typedef itk::SmartPointer<Self> Pointer;
    itkTypeMacro(GUIThreadCall, itk::Command);

    static Pointer New(IGTLMessageProvider *provider, void (IGTLMessageProvider::*method)())
    {
      Pointer call = new Self(provider, method);
      call->UnRegister();
      return call;
    }

    void Execute(itk::Object *, const itk::EventObject &) override { Run(); }
    void Execute(const itk::Object *, const itk::EventObject &) override { Run(); }

    void Detach()
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_Provider = nullptr;
      const std::thread::id self = std::this_thread::get_id();
      m_Idle.wait(lock, [&] {
        return std::all_of(m_Running.begin(), m_Running.end(), [&](const std::thread::id &id) { return id == self; });
      });
    }

  private:
    GUIThreadCall(IGTLMessageProvider *provider, void (IGTLMessageProvider::*method)())
      : m_Provider(provider), m_Method(method)
    {
    }

    void Run()
    {
      IGTLMessageProvider *provider = nullptr;
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (m_Provider == nullptr)
          return;
        provider = m_Provider;
        m_Running.push_back(std::this_thread::get_id());
      }
      struct Leave
      {
        GUIThreadCall &call;
        ~Leave()
        {
          {
            std::lock_guard<std::mutex> lock(call.m_Mutex);
            call.m_Running.erase(std::find(call.m_Running.begin(), call.m_Running.end(), std::this_thread::get_id()));
          }
          call.m_Idle.notify_all();
        }
      } leave{*this};
      (provider->*m_Method)();
    }

    std::mutex m_Mutex;
    std::condition_variable m_Idle;
    IGTLMessageProvider *m_Provider;
    void (IGTLMessageProvider::*m_Method)();
    std::vector<std::thread::id> m_Running; // threads inside the call now
  };

  IGTLMessageProvider::IGTLMessageProvider() : m_StreamingTime(0), m_IsStreaming(false)
  {
    this->IGTLMessageSource::SetName("IGTLMessageProvider");
    m_StartStreamingCommand = GUIThreadCall::New(this, &IGTLMessageProvider::InvokeStartStreamingEvent);
    m_StopStreamingCommand = GUIThreadCall::New(this, &IGTLMessageProvider::InvokeStopStreamingEvent);
  }

  IGTLMessageProvider::~IGTLMessageProvider()
  {
    // Already done when the last reference went; a no-op then.
    IGTLMessageProvider::Withdraw();
  }

  void IGTLMessageProvider::Withdraw() noexcept
  {
    // First the device's threads, then the GUI thread: neither calls in after this.
    this->RemoveObservers();
    for (GUIThreadCall *call : {m_StartStreamingCommand.GetPointer(), m_StopStreamingCommand.GetPointer()})
    {
      call->Detach();
      CallbackFromGUIThread::GetInstance()->CancelCallsOf(call);
    }
    Superclass::Withdraw();
  }

  void IGTLMessageProvider::Update()
  {
    std::lock_guard<std::recursive_mutex> lock(m_PipelineMutex);
    Superclass::Update();
  }

  void IGTLMessageProvider::GenerateData()
  {
    if (m_IGTLDevice.IsNull())
      return;
    for (DataObjectPointerArraySizeType i = 0; i < this->GetNumberOfIndexedInputs(); ++i)
    {
      const IGTLMessage *input = this->GetInput(static_cast<unsigned int>(i));
      if (input == nullptr || !input->IsDataValid())
        continue;
      // A data object of its own for the sending thread: the source's next
      // update changes its output, never the copy being sent.
      m_IGTLDevice->SendMessage(input->Clone());
    }
  }

  void IGTLMessageProvider::CreateOutputs() { IGTLDeviceSource::CreateOutputs(); }

  void IGTLMessageProvider::OnIncomingMessage() {}

  void IGTLMessageProvider::OnIncomingCommand()
  {
    // Runs on the device's receiving thread: whatever a request does, nothing
    // may leave here and end that thread's loop.
    try
    {
      if (m_IGTLDevice.IsNull())
        return;
      igtl::MessageBase::Pointer command = m_IGTLDevice->GetNextCommand();
      if (command.IsNull())
        return; // taken by another observer of the device
      HandleCommand(command.GetPointer());
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("IGTLMessageProvider") << "Could not answer a request of the peer: " << e.what();
    }
    catch (...)
    {
      VEXA_ERROR("IGTLMessageProvider") << "Could not answer a request of the peer";
    }
  }

  void IGTLMessageProvider::HandleCommand(igtl::MessageBase *command)
  {
    const std::string type = command->GetDeviceType();
    const bool isGet = StartsWith(type, "GET_");
    const bool isStart = StartsWith(type, "STT_");
    const bool isStop = StartsWith(type, "STP_");
    if (!isGet && !isStart && !isStop)
    {
      // Replies ("RTS_") and anything else are no requests: answering them
      // would make two providers answer each other without end.
      VEXA_INFO("IGTLMessageProvider") << "Ignored the message " << Printable(type)
                                       << ": only GET_, STT_ and STP_ requests are answered";
      return;
    }
    const std::string requestedType = type.substr(4);

    IGTLMessageSource::Pointer source = this->GetFittingSource(requestedType.c_str());
    if (source.IsNull())
    {
      SendErrorReply(requestedType);
      return;
    }

    if (isGet)
    {
      IGTLMessage::Pointer reply;
      {
        std::lock_guard<std::recursive_mutex> lock(m_PipelineMutex);
        source->Update();
        IGTLMessage *output = source->GetOutput();
        if (output != nullptr && output->IsDataValid())
          reply = output->Clone();
      }
      if (reply.IsNotNull())
        m_IGTLDevice->SendMessage(reply);
    }
    else if (isStart)
    {
      StartStreaming(source, StreamingIntervalOf(command, type));
    }
    else
    {
      StopStreamingOfSource(source);
    }
  }

  unsigned int IGTLMessageProvider::StreamingIntervalOf(igtl::MessageBase *request, const std::string &type)
  {
    if (type == "STT_BIND")
    {
      auto *start = dynamic_cast<igtl::StartBindMessage *>(request);
      if (start == nullptr)
      {
        VEXA_WARN("IGTLMessageProvider") << "An STT_BIND request without its content; streaming every "
                                         << DefaultStreamingInterval << " ms";
        return DefaultStreamingInterval;
      }
      // OpenIGTLink's 64-bit time: seconds in the upper half, 2^-32 s in the lower.
      const igtlUint64 resolution = start->GetResolution();
      const igtlUint64 milliseconds = (resolution >> 32) * 1000 + (((resolution & 0xffffffffu) * 1000) >> 32);
      return static_cast<unsigned int>(
        std::clamp<igtlUint64>(milliseconds, 1, std::numeric_limits<unsigned int>::max()));
    }
    if (type == "STT_TDATA" || type == "STT_QTDATA")
    {
      // The minimum time between two frames in milliseconds; 0 asks for as
      // fast as possible, which is one frame per millisecond here.
      igtlInt32 resolution = 0;
      if (auto *tdata = dynamic_cast<igtl::StartTrackingDataMessage *>(request))
        resolution = tdata->GetResolution();
      else if (auto *qtdata = dynamic_cast<igtl::StartQuaternionTrackingDataMessage *>(request))
        resolution = qtdata->GetResolution();
      else
      {
        VEXA_WARN("IGTLMessageProvider") << "An " << type << " request without its content; streaming every "
                                         << DefaultStreamingInterval << " ms";
        return DefaultStreamingInterval;
      }
      return static_cast<unsigned int>(std::max<igtlInt32>(resolution, 1));
    }
    return DefaultStreamingInterval;
  }

  void IGTLMessageProvider::SendErrorReply(const std::string &requestedType)
  {
    const std::string replyType = "RTS_" + requestedType;
    const std::list<std::string> known = m_IGTLDevice->GetMessageFactory()->GetAvailableMessageRequestTypes();
    igtl::MessageBase::Pointer reply;
    if (std::find(known.begin(), known.end(), replyType) != known.end())
      reply = m_IGTLDevice->GetMessageFactory()->CreateInstance(replyType);
    if (reply.IsNull())
    {
      VEXA_WARN("IGTLMessageProvider") << "Tried to send a RTS message but did not succeed. Check if this type ( "
                                       << Printable(requestedType) << " ) was added to the message factory. ";
      return;
    }
    // Nothing to serve: the reply says so.
    if (auto *tdata = dynamic_cast<igtl::RTSTrackingDataMessage *>(reply.GetPointer()))
      tdata->SetStatus(igtl::RTSTrackingDataMessage::STATUS_ERROR);
    else if (auto *qtdata = dynamic_cast<igtl::RTSQuaternionTrackingDataMessage *>(reply.GetPointer()))
      qtdata->SetStatus(igtl::RTSQuaternionTrackingDataMessage::STATUS_ERROR);
    else if (auto *bind = dynamic_cast<igtl::RTSBindMessage *>(reply.GetPointer()))
      bind->SetStatus(igtl::RTSBindMessage::STATUS_ERROR);
    m_IGTLDevice->SendMessage(IGTLMessage::New(reply));
  }

  IGTLMessageSource::Pointer IGTLMessageProvider::GetFittingSource(const char *requestedType)
  {
    const std::string type = requestedType != nullptr ? requestedType : "";
    try
    {
      // The type comes from the peer: escaped, so that it is matched as text
      // and never read as part of the filter ("*", "(", ...).
      const std::string filter =
        "(" + IGTLMessageSource::US_PROPKEY_DEVICETYPE + "=" + us::LDAPFilter::Escape(type) + ")";
      const std::vector<us::ServiceReferenceU> references =
        us::GetModuleContext()->GetServiceReferences(IGTLMessageSource::US_INTERFACE_NAME, filter);
      for (const us::ServiceReferenceU &reference : references)
      {
        // A source may go between the look-up and here; then the next one serves.
        IGTLMessageSource::Pointer source = IGTLMessageSource::AcquireRegisteredSource(reference);
        if (source.IsNotNull())
          return source;
      }
    }
    catch (const std::exception &e)
    {
      VEXA_WARN("IGTLMessageProvider") << "Could not look for a source of the type " << Printable(type) << ": "
                                       << e.what();
    }
    return nullptr;
  }

  void IGTLMessageProvider::StartStreamingOfSource(IGTLMessageSource *src, unsigned int fps)
  {
    // 1000 / fps milliseconds cut to a whole number; no frame rate means no interval.
    const unsigned int interval = fps == 0 ? 0u : static_cast<unsigned int>((1.0 / fps) * 1000.0);
    StartStreaming(src, interval);
  }

  void IGTLMessageProvider::StartStreaming(IGTLMessageSource *src, unsigned int intervalMilliseconds)
  {
    if (src == nullptr)
      return;
    std::lock_guard<std::recursive_mutex> lock(m_PipelineMutex);
    if (m_IsStreaming)
    {
      VEXA_WARN("IGTLMessageProvider") << "This provider just supports the streaming of one source.";
      return;
    }
    this->ConnectTo(src);
    m_StreamingTime = intervalMilliseconds;
    CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(m_StartStreamingCommand);
    m_IsStreaming = true;
  }

  void IGTLMessageProvider::StopStreamingOfSource(IGTLMessageSource *src)
  {
    std::lock_guard<std::recursive_mutex> lock(m_PipelineMutex);
    this->DisconnectFrom(src);
    CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(m_StopStreamingCommand);
    m_IsStreaming = false;
  }

  void IGTLMessageProvider::StopStreamingOfAllSources()
  {
    std::lock_guard<std::recursive_mutex> lock(m_PipelineMutex);
    CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(m_StopStreamingCommand);
    m_IsStreaming = false;
  }

  void IGTLMessageProvider::OnLostConnection()
  {
    std::lock_guard<std::recursive_mutex> lock(m_PipelineMutex);
    if (!m_IsStreaming)
      return;
    CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(m_StopStreamingCommand);
    m_IsStreaming = false;
  }

  bool IGTLMessageProvider::IsStreaming() { return m_IsStreaming; }

  unsigned int IGTLMessageProvider::GetStreamingTime() { return m_StreamingTime; }

  void IGTLMessageProvider::Send(IGTLMessage::Pointer message)
  {
    if (message.IsNull())
      return;
    if (m_IGTLDevice.IsNull())
    {
      VEXA_ERROR("IGTLMessageProvider") << "Cannot send a message: the provider has no OpenIGTLink device";
      return;
    }
    VEXA_INFO << "Sending OpenIGTLink Message: " << message->ToString();
    m_IGTLDevice->SendMessage(message);
  }

  void IGTLMessageProvider::ConnectTo(IGTLMessageSource *src)
  {
    std::lock_guard<std::recursive_mutex> lock(m_PipelineMutex);
    for (DataObjectPointerArraySizeType i = 0; i < src->GetNumberOfIndexedOutputs(); ++i)
      this->SetInput(static_cast<unsigned int>(i), src->GetOutput(i));
  }

  void IGTLMessageProvider::DisconnectFrom(IGTLMessageSource *src)
  {
    if (src == nullptr)
      return;
    std::lock_guard<std::recursive_mutex> lock(m_PipelineMutex);
    for (DataObjectPointerArraySizeType i = 0; i < src->GetNumberOfIndexedOutputs(); ++i)
    {
      IGTLMessage *output = src->GetOutput(i);
      if (output == nullptr)
        continue;
      for (DataObjectPointerArraySizeType j = 0; j < this->GetNumberOfIndexedInputs(); ++j)
      {
        if (this->ProcessObject::GetInput(j) == output)
        {
          this->RemoveInput(j);
          break;
        }
      }
    }
  }

  void IGTLMessageProvider::InvokeStartStreamingEvent() { this->InvokeEvent(StreamingStartRequiredEvent()); }

  void IGTLMessageProvider::InvokeStopStreamingEvent() { this->InvokeEvent(StreamingStopRequiredEvent()); }
}
