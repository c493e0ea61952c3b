#ifndef vexaIGTLDevice_h
#define vexaIGTLDevice_h

#include "OstrelExports.h"
#include "vexaIGTLMessage.h"
#include "vexaIGTLMessageFactory.h"
#include "vexaIGTLMessageQueue.h"
#include "vexaIGTLReceiveFraming.h"
#include "vexaIGTLSocket.h"

#include <vexaCommon.h>
#include <vexaEventMacro.h>
#include <vexaObserverList.h>

#include <itkCommand.h>
#include <itkObject.h>

#include <igtlImageMessage.h>
#include <igtlMessageBase.h>
#include <igtlSocket.h>
#include <igtlStringMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vexa
{
  /** A message was written to a socket (sending thread). */
  vexaEventMacro(MessageSentEvent, itk::AnyEvent);
  /** A received message was put into the queue (receiving thread). */
  vexaEventMacro(MessageReceivedEvent, itk::AnyEvent);
  /** A request (GET_, STT_, STP_, RTS_) was put into the command list (receiving thread). */
  vexaEventMacro(CommandReceivedEvent, itk::AnyEvent);
  /** A client connected: in OpenConnection of a client, on the connecting thread of a server. */
  vexaEventMacro(NewClientConnectionEvent, itk::AnyEvent);
  /** A peer went away or broke the protocol (receiving thread). */
  vexaEventMacro(LostConnectionEvent, itk::AnyEvent);

  /**
   * An OpenIGTLink network endpoint: one socket, a message factory and a
   * message queue, the states Setup, Ready and Running, and while Running three
   * worker threads (sending, receiving, connecting, started in that order) that
   * repeat the subclass's Send, Receive and Connect steps. vexa::IGTLClient and
   * vexa::IGTLServer supply the connection.
   *
   * Receiving never loses the framing of the stream: once the first byte of a
   * header has arrived the whole header is read, its version and announced body
   * size are checked (the size against GetMaximumMessageBodySize() before
   * anything is allocated), and every announced body is read in full or skipped
   * exactly. A peer that breaks the framing (bad version, oversized body, a
   * pause longer than GetTransferTimeout() in the middle of a message) is
   * treated as gone: a client stops, a server drops that client; the reason is
   * logged. A body that fails its CRC drops only that message.
   *
   * Routing: GET_, STP_ and RTS_ headers, and STT_ headers of a type the
   * factory has no class for (STT_IMAGE), go to the command list as bare
   * headers (a body they announce is skipped); STT_ messages the factory knows
   * go there whole; everything else goes to the message lists.
   *
   * Threads: the workers are joined by StopCommunication (any number of
   * concurrent calls). A stop requested from a worker thread (for instance by
   * an observer of a device event) only sets the stop flag. Every concrete
   * device stops its threads in its own destructor. Events fire on the worker
   * threads with no lock of the device held; observers may be added and
   * removed from any thread, and once RemoveObserver returns the command is
   * not called again (unless from within itself).
   */
  class OSTREL_EXPORT IGTLDevice : public itk::Object
  {
  public:
    vexaClassMacroItkParent(IGTLDevice, itk::Object);

    explicit IGTLDevice(bool ReadFully);

    enum IGTLDeviceState
    {
      Setup = 0,
      Ready = 1,
      Running = 2
    };

    /** The default upper bound of an announced message body: large 3-D volumes fit, hostile lengths do not. */
    static constexpr std::uint64_t DefaultMaximumMessageBodySize = std::uint64_t(512) << 20;
    /** The default longest pause tolerated in the middle of a message, either direction. */
    static constexpr int DefaultTransferTimeout = 5000;
    /** How long one receiving step waits for data, and the sockets' own time-out. */
    static constexpr int SocketTimeout = 100;

    IGTLDeviceState GetState() const;

    virtual bool OpenConnection() = 0;

    /** Stops communication when running, closes the socket, and returns to Setup. */
    virtual bool CloseConnection();

    /** Ends and joins the worker threads; Running becomes Ready. From a worker thread: only requests the stop. */
    virtual bool StopCommunication();

    virtual void SetPortNumber(int portNumber);
    virtual int GetPortNumber();
    virtual void SetHostname(std::string hostname);
    virtual std::string GetHostname();
    virtual std::string GetName() const;
    virtual void SetName(std::string name);

    /**
     * Bodies are always read whole; the flag only chooses how a client waits
     * for the rest of a started message: in one receiving step (on) or over
     * several steps (off). A server never waits for one client, so that the
     * others are served.
     */
    virtual void SetReadFully(bool readFully);

    virtual IGTLMessageQueue::Pointer GetMessageQueue() const;
    virtual IGTLMessageFactory::Pointer GetMessageFactory();
    virtual bool TestConnection();
    virtual unsigned int GetNumberOfConnections() = 0;
    virtual bool GetLogMessages();
    virtual void SetLogMessages(bool logMessages);

    bool GetReadFully() const;

    /** Larger announced bodies end the connection (capped at what OpenIGTLink's int lengths hold). */
    void SetMaximumMessageBodySize(std::uint64_t bytes);
    std::uint64_t GetMaximumMessageBodySize() const;

    /** Milliseconds without progress in the middle of a message after which the peer counts as gone. */
    void SetTransferTimeout(int milliseconds);
    int GetTransferTimeout() const;

    /** From Ready: starts the sending, receiving and connecting threads; false in any other state. */
    bool StartCommunication();

    /**
     * Queues a message for the sending thread. A message that cannot be sent
     * (null, without an OpenIGTLink type, an image message without its pixel
     * buffer or with an inconsistent one) is refused with an error record.
     */
    bool SendMessage(IGTLMessage::Pointer message);

    /** Queues an empty "RTS_" + type reply; false when the factory does not know that type. */
    bool SendRTSMessage(const char *type);

    void EnableNoBufferingMode(bool enable);
    void EnableNoBufferingMode(IGTLMessageQueue::Pointer queue, bool enable);

    /** The oldest waiting message of a kind (it leaves the queue), or null. */
    igtl::MessageBase::Pointer GetNextCommand();
    igtl::ImageMessage::Pointer GetNextImage2dMessage();
    igtl::ImageMessage::Pointer GetNextImage3dMessage();
    igtl::TransformMessage::Pointer GetNextTransformMessage();
    igtl::TrackingDataMessage::Pointer GetNextTrackingDataMessage();
    igtl::StringMessage::Pointer GetNextStringMessage();
    igtl::MessageBase::Pointer GetNextMiscMessage();

    /** Why `message` cannot be sent, or empty when it can. */
    static std::string CheckSendable(const IGTLMessage *message);

    // Observers. The device keeps its own thread-safe observer list (vexa::ObserverList):
    // ITK's is not safe against observers added while a worker thread fires events.
    // (Observers added through an itk::Object pointer still work, without
    // that guarantee.)
    unsigned long AddObserver(const itk::EventObject &event, itk::Command *command);
    unsigned long AddObserver(const itk::EventObject &event, itk::Command *command) const;
    void RemoveObserver(unsigned long tag);
    void RemoveAllObservers();
    bool HasObserver(const itk::EventObject &event) const;
    void InvokeEvent(const itk::EventObject &event);
    void InvokeEvent(const itk::EventObject &event) const;
    void Modified() const override;

  protected:
    ~IGTLDevice() override;

    void SetState(IGTLDeviceState state);

    /** The receiving step: reads from the connection(s). */
    virtual void Receive() = 0;
    /** The sending step: writes a queued message. */
    virtual void Send() = 0;
    /** The connecting step; here it only waits for a stop request. */
    virtual void Connect();
    virtual void StopCommunicationWithSocket(igtl::Socket *socket) = 0;

    /**
     * Receives on one socket, waiting up to the socket time-out for a message
     * to begin: the OpenIGTLink status 1 (a message was routed), 4 (unknown
     * type, body skipped), 7 (nothing complete yet), 9 (body CRC failed,
     * message dropped) or 16 (the peer is gone or broke the framing).
     */
    unsigned int ReceivePrivate(igtl::Socket *socket);

    /**
     * The same with an explicit wait: up to `waitMilliseconds` for data, and
     * with `waitForWholeMessage` for the rest of a started message.
     */
    unsigned int ReceivePrivate(igtl::Socket *socket, int waitMilliseconds, bool waitForWholeMessage);

    /** Checks, packs and writes one message: 1 sent, 0 refused, 2 write failed. */
    unsigned int SendMessagePrivate(IGTLMessage::Pointer message, igtl::Socket *socket);

    /**
     * Checks and packs a message once, for writing with SendPackedMessage
     * (a message that says it is packed, IGTLMessage::IsPacked, is written as
     * it is); false (logged) when it cannot be sent.
     */
    bool PackMessage(IGTLMessage *message);

    /**
     * Writes a message packed by PackMessage: 1 sent (and MessageSentEvent), 2
     * failed. A failed or cut write shuts the connection down, so that the peer
     * never takes the rest of a message for the next one.
     */
    unsigned int SendPackedMessage(IGTLMessage *message, igtl::Socket *socket);

    /** The next message to send, waiting up to the socket time-out; null when none came or a stop was requested. */
    IGTLMessage::Pointer WaitForMessageToSend();

    /** Waits up to `milliseconds` for a stop request; true when one is pending. */
    bool WaitForStopRequest(int milliseconds);
    bool IsStopRequested() const;
    /** Sets the stop flag and wakes every waiting worker step. */
    void RequestStop();
    /** A descriptor that becomes readable when a stop is requested (for poll()). */
    int GetStopDescriptor() const;
    bool IsCalledFromWorkerThread() const;

    /** Stops and joins the worker threads; concrete devices call it first in their destructors. */
    void StopThreads();

    igtl::Socket::Pointer m_Socket;

  private:
    void RunCommunication(void (IGTLDevice::*step)());
    void JoinThreads();
    bool HasThreads() const;
    IGTLReceiveFraming &FramingOf(IGTLClientSocket &socket);
    /** Queues what a framing result carries and fires its event; the OpenIGTLink status of the result. */
    unsigned int Deliver(IGTLReceiveFraming &framing, IGTLReceiveFraming::Status status, IGTLClientSocket &socket);
    void InvokeOwnObservers(const itk::EventObject &event) const;

    mutable std::mutex m_StateMutex;
    IGTLDeviceState m_State;

    mutable std::mutex m_ParametersMutex; // name, host, port
    std::string m_Name;
    std::string m_Hostname;
    int m_PortNumber;

    std::atomic<bool> m_StopCommunication;
    std::mutex m_StopMutex;
    std::condition_variable m_StopRequested;
    IGTLWakeUpSignal m_StopSignal;

    std::mutex m_CommunicationMutex; // serialises starting, stopping and joining
    std::thread m_SendThread;
    std::thread m_ReceiveThread;
    std::thread m_ConnectThread;
    std::atomic<int> m_RunningLoops;
    std::atomic<bool> m_LoopFailed;

    IGTLMessageQueue::Pointer m_MessageQueue;
    IGTLMessageFactory::Pointer m_MessageFactory;

    std::atomic<bool> m_LogMessages;
    std::atomic<bool> m_ReadFully;
    std::atomic<std::uint64_t> m_MaximumMessageBodySize;
    std::atomic<int> m_TransferTimeout;

    std::unique_ptr<ObserverList> m_Observers;
  };
}

#endif
