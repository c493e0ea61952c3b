#ifndef vexaIGTLMessageProvider_h
#define vexaIGTLMessageProvider_h

#include "OstrelExports.h"
#include "vexaIGTLDeviceSource.h"

#include <vexaCommon.h>
#include <vexaEventMacro.h>

#include <itkCommand.h>

#include <atomic>
#include <mutex>
#include <string>

namespace vexa
{
  /** Streaming should start: update the provider every GetStreamingTime() milliseconds (GUI thread). */
  vexaEventMacro(StreamingStartRequiredEvent, itk::AnyEvent);
  /** Streaming should stop (GUI thread). */
  vexaEventMacro(StreamingStopRequiredEvent, itk::AnyEvent);

  /**
   * Serves an OpenIGTLink peer from registered message sources.
   *
   * Set a device (usually a vexa::IGTLServer) and start it; when a peer sends
   * a request whose type begins with "GET_", "STT_" or "STP_", the provider
   * looks for a message source registered under
   * vexa::IGTLMessageSource::US_INTERFACE_NAME whose device type is the rest
   * of the name ("IMAGE" for "GET_IMAGE") and
   * - GET_: updates it and sends its current output once;
   * - STT_: starts streaming it (one source at a time);
   * - STP_: stops streaming it.
   * Without a fitting source it answers "RTS_" + the type with an error
   * status when OpenIGTLink has such a reply, else it logs a warning.
   *
   * Requests are handled on the device's receiving thread; nothing a peer
   * sends ends that thread's loop (a bad request is logged and ignored).
   * Streaming is driven from the GUI thread: the provider posts the start and
   * the stop through vexa::CallbackFromGUIThread, where it raises
   * StreamingStartRequiredEvent and StreamingStopRequiredEvent; an observer
   * of the start calls Update() every GetStreamingTime() milliseconds until
   * the stop, and each update sends the streamed source's valid outputs.
   *
   * The provider's pipeline (its inputs and the updates of sources through
   * it) is used by the GUI thread and the receiving thread; one lock of the
   * provider serialises these uses. A message handed to the device for
   * sending is a data object of its own that shares the source's OpenIGTLink
   * message, so the next update of the source never changes what is being
   * sent. (Sources make a new OpenIGTLink message on every update.)
   */
  class OSTREL_EXPORT IGTLMessageProvider : public IGTLDeviceSource
  {
  public:
    vexaClassMacro(IGTLMessageProvider, IGTLDeviceSource);
    vexaNewMacro(IGTLMessageProvider);

    /** Brings the streamed source up to date through the pipeline and sends its valid outputs. */
    void Update() override;

    /**
     * Streams `src` at `fps` frames per second (an interval of 1000 / fps
     * milliseconds, cut to a whole number; 0 frames per second and rates above
     * 1000 give 0, as fast as possible). Only one source streams at a time: a
     * second start while streaming is refused with a warning.
     */
    void StartStreamingOfSource(vexa::IGTLMessageSource *src, unsigned int fps);

    /** Disconnects `src` and stops streaming (whether or not it was streaming). */
    void StopStreamingOfSource(vexa::IGTLMessageSource *src);

    /** Stops streaming; the inputs stay connected. */
    void StopStreamingOfAllSources();

    bool IsStreaming();

    /** Logs and queues one message for sending. */
    void Send(itk::SmartPointer<vexa::IGTLMessage> message);

    /** Milliseconds between two updates while streaming (0 before the first start). */
    virtual unsigned int GetStreamingTime();

  protected:
    IGTLMessageProvider();
    ~IGTLMessageProvider() override;

    /** Removes the observers from the device and cancels the calls posted to the GUI thread, then the rest. */
    void Withdraw() noexcept override;

    /** Sends every valid input (each as a data object of its own). */
    void GenerateData() override;

    /** Answers the peer's next request (receiving thread). */
    void OnIncomingCommand() override;
    void OnIncomingMessage() override;
    /** Stops streaming when the peer is gone. */
    void OnLostConnection() override;

    /** The provider's inputs become the outputs of `src`. */
    void ConnectTo(vexa::IGTLMessageSource *src);
    /** Removes the inputs that are outputs of `src`. */
    void DisconnectFrom(vexa::IGTLMessageSource *src);

    /** The first registered message source whose device type is `requestedType`, or null. */
    vexa::IGTLMessageSource::Pointer GetFittingSource(const char *requestedType);

    /** Raise the streaming events; the posted commands call them on the GUI thread. */
    void InvokeStartStreamingEvent();
    void InvokeStopStreamingEvent();

    void CreateOutputs();

  private:
    class GUIThreadCall;

    /** Connects `src`, sets the interval and posts the start (unless streaming already). */
    void StartStreaming(vexa::IGTLMessageSource *src, unsigned int intervalMilliseconds);
    void HandleCommand(igtl::MessageBase *command);
    /** The request's own interval for an "STT_" request, in milliseconds. */
    unsigned int StreamingIntervalOf(igtl::MessageBase *request, const std::string &type);
    void SendErrorReply(const std::string &requestedType);

    // serialises the provider's pipeline: inputs and the updates through it
    std::recursive_mutex m_PipelineMutex;

    itk::SmartPointer<GUIThreadCall> m_StartStreamingCommand;
    itk::SmartPointer<GUIThreadCall> m_StopStreamingCommand;

    std::atomic<unsigned int> m_StreamingTime;
    std::atomic<bool> m_IsStreaming;
  };
}

#endif
