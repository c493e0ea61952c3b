#ifndef vexaIGTLMessageQueue_h
#define vexaIGTLMessageQueue_h

#include "OstrelExports.h"
#include "vexaIGTLMessage.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <igtlImageMessage.h>
#include <igtlMessageBase.h>
#include <igtlStringMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

namespace vexa
{
  /**
   * The store between a device's worker threads and its users. Received
   * messages are sorted by kind into first-in-first-out lists, commands into a
   * command list; outgoing messages wait in the send list for the sending
   * thread. One lock guards everything; no operation calls out while holding
   * it (but for the getters of the message it sorts or describes).
   *
   * No-buffering mode (the default) keeps only the newest message of each
   * receive list; in the send list a new message replaces only a waiting one of
   * the same type and device name, so different messages are never dropped.
   * With buffering every list keeps its messages, up to GetMaximumListLength()
   * each: a list that nobody pulls drops its oldest message then, with a
   * warning, instead of growing without bound.
   */
  class OSTREL_EXPORT IGTLMessageQueue : public itk::Object
  {
  public:
    vexaClassMacroItkParent(vexa::IGTLMessageQueue, itk::Object);
    vexaNewMacro(vexa::IGTLMessageQueue);

    static constexpr std::size_t DefaultMaximumListLength = 100;

    /** Sorts a received message into its list (tracking data, transform, string, 2-D or 3-D image, other). */
    void PushMessage(igtl::MessageBase::Pointer message);
    void PushCommandMessage(igtl::MessageBase::Pointer message);
    void PushSendMessage(IGTLMessage::Pointer message);

    /** The oldest message of a list (it leaves the queue), or null. */
    igtl::MessageBase::Pointer PullCommandMessage();
    igtl::ImageMessage::Pointer PullImage2dMessage();
    igtl::ImageMessage::Pointer PullImage3dMessage();
    igtl::TransformMessage::Pointer PullTransformMessage();
    igtl::TrackingDataMessage::Pointer PullTrackingMessage();
    igtl::StringMessage::Pointer PullStringMessage();
    igtl::MessageBase::Pointer PullMiscMessage();
    IGTLMessage::Pointer PullSendMessage();

    /**
     * The oldest message to send; waits up to `maxWait` for one while `stop` is
     * false. WakeUpWaitingSenders() makes a waiting call look at `stop` again.
     */
    IGTLMessage::Pointer PullSendMessage(std::chrono::milliseconds maxWait, const std::atomic<bool> &stop);
    void WakeUpWaitingSenders();

    /** Messages waiting in the seven receive lists (the send list is not counted). */
    int GetSize();

    /** true: keep only the newest message per list (see the class comment); false: keep all. */
    void EnableNoBufferingMode(bool enable);

    /** Bound of every list in buffering mode (at least 1). */
    void SetMaximumListLength(std::size_t length);
    std::size_t GetMaximumListLength();

    /** Device type of the message most recently given to PushMessage, or empty. */
    std::string GetLatestMsgDeviceType();
    /** "Device Type: <type>\nDevice Name: <name>\n" of that message, or "No Msg". */
    std::string GetLatestMsgInformationString();
    std::string GetNextMsgDeviceType();
    std::string GetNextMsgInformationString();

  protected:
    IGTLMessageQueue();
    ~IGTLMessageQueue() override;

  private:
    struct DropCount
    {
      const char *listName;
      unsigned long long dropped = 0;
    };

    template <class List>
    void AppendLocked(
      List &list, typename List::value_type message, bool emptyFirst, DropCount &drops, std::string &warning);

    template <class List>
    static typename List::value_type PullFront(List &list);

    std::mutex m_Mutex;
    std::condition_variable m_SendListChanged;
    std::deque<igtl::MessageBase::Pointer> m_CommandQueue;
    std::deque<igtl::ImageMessage::Pointer> m_Image2dQueue;
    std::deque<igtl::ImageMessage::Pointer> m_Image3dQueue;
    std::deque<igtl::TransformMessage::Pointer> m_TransformQueue;
    std::deque<igtl::TrackingDataMessage::Pointer> m_TrackingDataQueue;
    std::deque<igtl::StringMessage::Pointer> m_StringQueue;
    std::deque<igtl::MessageBase::Pointer> m_MiscQueue;
    std::deque<IGTLMessage::Pointer> m_SendQueue;
    igtl::MessageBase::Pointer m_Latest_Message;
    int m_BufferingType; // 1: no buffering, 0: keep all
    std::size_t m_MaximumListLength;
    DropCount m_CommandDrops{"command"};
    DropCount m_Image2dDrops{"2-D image"};
    DropCount m_Image3dDrops{"3-D image"};
    DropCount m_TransformDrops{"transform"};
    DropCount m_TrackingDataDrops{"tracking data"};
    DropCount m_StringDrops{"string"};
    DropCount m_MiscDrops{"other"};
    DropCount m_SendDrops{"send"};
  };
}

#endif
