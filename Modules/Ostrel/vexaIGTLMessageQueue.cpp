#include "vexaIGTLMessageQueue.h"

#include <vexaLog.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace vexa
{
  IGTLMessageQueue::IGTLMessageQueue() : m_BufferingType(1), m_MaximumListLength(DefaultMaximumListLength) {}

  IGTLMessageQueue::~IGTLMessageQueue() = default;

  template <class List>
  void IGTLMessageQueue::AppendLocked(
    List &list, typename List::value_type message, bool emptyFirst, DropCount &drops, std::string &warning)
  {
    if (emptyFirst)
      list.clear();
    while (!list.empty() && list.size() >= m_MaximumListLength)
    {
      list.pop_front();
      ++drops.dropped;
      // The first drop and every hundredth after it: enough to notice, not a flood.
      if (drops.dropped % 100 == 1)
      {
        std::ostringstream text;
        text << "The " << drops.listName << " list of the message queue is full (" << m_MaximumListLength
             << " messages): dropped its oldest message; " << drops.dropped << " dropped so far";
        warning = text.str();
      }
    }
    list.push_back(message);
  }

  template <class List>
  typename List::value_type IGTLMessageQueue::PullFront(List &list)
  {
    if (list.empty())
      return typename List::value_type();
    typename List::value_type front = list.front();
    list.pop_front();
    return front;
  }

  void IGTLMessageQueue::PushMessage(igtl::MessageBase::Pointer message)
  {
    if (message.IsNull())
      return;
    std::string warning;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      igtl::MessageBase *m = message.GetPointer();
      const bool emptyFirst = m_BufferingType == 1;
      if (auto *tracking = dynamic_cast<igtl::TrackingDataMessage *>(m))
        AppendLocked(m_TrackingDataQueue, igtl::TrackingDataMessage::Pointer(tracking), emptyFirst, m_TrackingDataDrops,
                     warning);
      else if (auto *transform = dynamic_cast<igtl::TransformMessage *>(m))
        AppendLocked(m_TransformQueue, igtl::TransformMessage::Pointer(transform), emptyFirst, m_TransformDrops,
                     warning);
      else if (auto *text = dynamic_cast<igtl::StringMessage *>(m))
        AppendLocked(m_StringQueue, igtl::StringMessage::Pointer(text), emptyFirst, m_StringDrops, warning);
      else if (auto *image = dynamic_cast<igtl::ImageMessage *>(m))
      {
        int dimensions[3] = {0, 0, 0};
        image->GetDimensions(dimensions);
        if (dimensions[2] < 2)
          AppendLocked(m_Image2dQueue, igtl::ImageMessage::Pointer(image), emptyFirst, m_Image2dDrops, warning);
        else
          AppendLocked(m_Image3dQueue, igtl::ImageMessage::Pointer(image), emptyFirst, m_Image3dDrops, warning);
      }
      else
        AppendLocked(m_MiscQueue, message, emptyFirst, m_MiscDrops, warning);
      m_Latest_Message = message;
    }
    if (!warning.empty())
      VEXA_WARN("IGTLMessageQueue") << warning;
  }

  void IGTLMessageQueue::PushCommandMessage(igtl::MessageBase::Pointer message)
  {
    if (message.IsNull())
      return;
    std::string warning;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      AppendLocked(m_CommandQueue, message, m_BufferingType == 1, m_CommandDrops, warning);
    }
    if (!warning.empty())
      VEXA_WARN("IGTLMessageQueue") << warning;
  }

  void IGTLMessageQueue::PushSendMessage(IGTLMessage::Pointer message)
  {
    if (message.IsNull())
    {
      VEXA_WARN("IGTLMessageQueue") << "Refused to queue a null message for sending";
      return;
    }
    std::string warning;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      bool replaced = false;
      if (m_BufferingType == 1)
      {
        // Only a waiting message of the same kind is outdated by this one.
        igtl::MessageBase::Pointer wrapped = message->GetMessage();
        const std::string type = wrapped->GetDeviceType();
        const std::string name = wrapped->GetDeviceName();
        for (IGTLMessage::Pointer &waiting : m_SendQueue)
        {
          igtl::MessageBase::Pointer other = waiting->GetMessage();
          if (type == other->GetDeviceType() && name == other->GetDeviceName())
          {
            waiting = message;
            replaced = true;
            break;
          }
        }
      }
      if (!replaced)
      {
        AppendLocked(m_SendQueue, message, false, m_SendDrops, warning); // never emptied wholesale
      }
    }
    m_SendListChanged.notify_all();
    if (!warning.empty())
      VEXA_WARN("IGTLMessageQueue") << warning;
  }

  igtl::MessageBase::Pointer IGTLMessageQueue::PullCommandMessage()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return PullFront(m_CommandQueue);
  }

  igtl::ImageMessage::Pointer IGTLMessageQueue::PullImage2dMessage()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return PullFront(m_Image2dQueue);
  }

  igtl::ImageMessage::Pointer IGTLMessageQueue::PullImage3dMessage()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return PullFront(m_Image3dQueue);
  }

  igtl::TransformMessage::Pointer IGTLMessageQueue::PullTransformMessage()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return PullFront(m_TransformQueue);
  }

  igtl::TrackingDataMessage::Pointer IGTLMessageQueue::PullTrackingMessage()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return PullFront(m_TrackingDataQueue);
  }

  igtl::StringMessage::Pointer IGTLMessageQueue::PullStringMessage()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return PullFront(m_StringQueue);
  }

  igtl::MessageBase::Pointer IGTLMessageQueue::PullMiscMessage()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return PullFront(m_MiscQueue);
  }

  IGTLMessage::Pointer IGTLMessageQueue::PullSendMessage()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return PullFront(m_SendQueue);
  }

  IGTLMessage::Pointer IGTLMessageQueue::PullSendMessage(std::chrono::milliseconds maxWait,
                                                         const std::atomic<bool> &stop)
  {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_SendListChanged.wait_for(lock, maxWait, [&] { return !m_SendQueue.empty() || stop.load(); });
    return PullFront(m_SendQueue);
  }

  void IGTLMessageQueue::WakeUpWaitingSenders()
  {
    {
      // Taking the lock orders this wake-up after a waiter's look at its stop flag.
      std::lock_guard<std::mutex> lock(m_Mutex);
    }
    m_SendListChanged.notify_all();
  }

  int IGTLMessageQueue::GetSize()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return static_cast<int>(m_CommandQueue.size() + m_Image2dQueue.size() + m_Image3dQueue.size() +
                            m_TransformQueue.size() + m_TrackingDataQueue.size() + m_StringQueue.size() +
                            m_MiscQueue.size());
  }

  void IGTLMessageQueue::EnableNoBufferingMode(bool enable)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_BufferingType = enable ? 1 : 0;
  }

  void IGTLMessageQueue::SetMaximumListLength(std::size_t length)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_MaximumListLength = std::max<std::size_t>(length, 1);
  }

  std::size_t IGTLMessageQueue::GetMaximumListLength()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_MaximumListLength;
  }

  std::string IGTLMessageQueue::GetLatestMsgDeviceType()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Latest_Message.IsNull() ? std::string() : std::string(m_Latest_Message->GetDeviceType());
  }

  std::string IGTLMessageQueue::GetLatestMsgInformationString()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Latest_Message.IsNull())
      return "No Msg";
    std::ostringstream s;
    s << "Device Type: " << m_Latest_Message->GetDeviceType() << std::endl
      << "Device Name: " << m_Latest_Message->GetDeviceName() << std::endl;
    return s.str();
  }

  std::string IGTLMessageQueue::GetNextMsgDeviceType() { return GetLatestMsgDeviceType(); }

  std::string IGTLMessageQueue::GetNextMsgInformationString() { return GetLatestMsgInformationString(); }
}
