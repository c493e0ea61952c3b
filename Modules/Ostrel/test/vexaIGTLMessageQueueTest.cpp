#include <vexaIGTLDummyMessage.h>
#include <vexaIGTLMessageQueue.h>

#include <vorlenLogSink.h>

#include <igtlQuaternionTrackingDataMessage.h>
#include <igtlStatusMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>

#include <gtest/gtest.h>

#include <thread>

namespace
{
  template <class T>
  igtl::MessageBase::Pointer Make(const char *deviceName = "Device")
  {
    typename T::Pointer message = T::New();
    message->SetDeviceName(deviceName);
    return igtl::MessageBase::Pointer(message.GetPointer());
  }

  igtl::MessageBase::Pointer Image(int x, int y, int z)
  {
    igtl::ImageMessage::Pointer image = igtl::ImageMessage::New();
    image->SetDimensions(x, y, z);
    return igtl::MessageBase::Pointer(image.GetPointer());
  }

  vexa::IGTLMessage::Pointer Outgoing(igtl::MessageBase::Pointer message) { return vexa::IGTLMessage::New(message); }
}

TEST(IGTLMessageQueue, ClassMacroMembers)
{
  vexa::IGTLMessageQueue::Pointer queue = vexa::IGTLMessageQueue::New();
  EXPECT_STREQ("vexa::IGTLMessageQueue", queue->GetNameOfClass());
  EXPECT_EQ("vexa::IGTLMessageQueue", queue->GetClassHierarchy().front());
}

TEST(IGTLMessageQueue, NoBufferingKeepsTheNewestMessageOfEachKind)
{
  vexa::IGTLMessageQueue::Pointer queue = vexa::IGTLMessageQueue::New();
  igtl::MessageBase::Pointer first = Make<igtl::TransformMessage>();
  igtl::MessageBase::Pointer second = Make<igtl::TransformMessage>();
  igtl::MessageBase::Pointer text = Make<igtl::StringMessage>();
  queue->PushMessage(first);
  queue->PushMessage(text);
  queue->PushMessage(second);
  EXPECT_EQ(2, queue->GetSize());
  EXPECT_EQ(second.GetPointer(), queue->PullTransformMessage().GetPointer());
  EXPECT_TRUE(queue->PullTransformMessage().IsNull());
  EXPECT_EQ(text.GetPointer(), queue->PullStringMessage().GetPointer()) << "other kinds keep theirs";
}

TEST(IGTLMessageQueue, BufferingKeepsTheOrder)
{
  vexa::IGTLMessageQueue::Pointer queue = vexa::IGTLMessageQueue::New();
  queue->EnableNoBufferingMode(false);
  igtl::MessageBase::Pointer images[] = {Image(2, 2, 1), Image(2, 2, 1), Image(2, 2, 1)};
  for (auto &image : images)
    queue->PushMessage(image);
  for (auto &image : images)
    EXPECT_EQ(image.GetPointer(), queue->PullImage2dMessage().GetPointer());
  EXPECT_TRUE(queue->PullImage2dMessage().IsNull());
}

TEST(IGTLMessageQueue, MessagesAreSortedByKind)
{
  vexa::IGTLMessageQueue::Pointer queue = vexa::IGTLMessageQueue::New();
  igtl::MessageBase::Pointer flat = Image(256, 256, 1);
  igtl::MessageBase::Pointer volume = Image(256, 256, 2);
  igtl::MessageBase::Pointer tracking = Make<igtl::TrackingDataMessage>();
  igtl::MessageBase::Pointer transform = Make<igtl::TransformMessage>();
  igtl::MessageBase::Pointer dummy = Make<vexa::IGTLDummyMessage>();
  igtl::MessageBase::Pointer quaternions = Make<igtl::QuaternionTrackingDataMessage>();
  for (auto *m : {&flat, &volume, &tracking, &transform, &dummy, &quaternions})
    queue->PushMessage(*m);
  EXPECT_EQ(6, queue->GetSize());
  EXPECT_EQ(flat.GetPointer(), queue->PullImage2dMessage().GetPointer());
  EXPECT_EQ(volume.GetPointer(), queue->PullImage3dMessage().GetPointer());
  EXPECT_EQ(tracking.GetPointer(), queue->PullTrackingMessage().GetPointer());
  EXPECT_EQ(transform.GetPointer(), queue->PullTransformMessage().GetPointer());
  EXPECT_EQ(dummy.GetPointer(), queue->PullStringMessage().GetPointer());
  EXPECT_EQ(quaternions.GetPointer(), queue->PullMiscMessage().GetPointer());
  EXPECT_EQ(0, queue->GetSize());
}

TEST(IGTLMessageQueue, LatestMessageDescribesTheLastReceivedOne)
{
  vexa::IGTLMessageQueue::Pointer queue = vexa::IGTLMessageQueue::New();
  EXPECT_EQ("", queue->GetLatestMsgDeviceType());
  EXPECT_EQ("No Msg", queue->GetLatestMsgInformationString());

  queue->PushCommandMessage(Make<igtl::GetStatusMessage>());
  EXPECT_EQ("No Msg", queue->GetNextMsgInformationString()) << "commands are not messages";

  igtl::MessageBase::Pointer status = Make<igtl::StatusMessage>("Robot");
  queue->PushMessage(status);
  EXPECT_EQ("STATUS", queue->GetLatestMsgDeviceType());
  EXPECT_EQ("Device Type: STATUS\nDevice Name: Robot\n", queue->GetLatestMsgInformationString());
  EXPECT_EQ(queue->GetLatestMsgInformationString(), queue->GetNextMsgInformationString());
  EXPECT_EQ(status.GetPointer(), queue->PullMiscMessage().GetPointer());
  EXPECT_TRUE(queue->PullCommandMessage().IsNotNull()) << "the command waits in its own list";
}

TEST(IGTLMessageQueue, TheSendListIsNotCountedAndNeverLosesOtherMessages)
{
  vexa::IGTLMessageQueue::Pointer queue = vexa::IGTLMessageQueue::New();
  vexa::IGTLMessage::Pointer oldImage = Outgoing(Make<igtl::ImageMessage>("Probe"));
  vexa::IGTLMessage::Pointer status = Outgoing(Make<igtl::StatusMessage>("Probe"));
  vexa::IGTLMessage::Pointer otherImage = Outgoing(Make<igtl::ImageMessage>("Camera"));
  vexa::IGTLMessage::Pointer newImage = Outgoing(Make<igtl::ImageMessage>("Probe"));
  for (auto *m : {&oldImage, &status, &otherImage, &newImage})
    queue->PushSendMessage(*m);
  EXPECT_EQ(0, queue->GetSize());
  // The newer image of "Probe" took the place of the older one; nothing else went.
  EXPECT_EQ(newImage.GetPointer(), queue->PullSendMessage().GetPointer());
  EXPECT_EQ(status.GetPointer(), queue->PullSendMessage().GetPointer());
  EXPECT_EQ(otherImage.GetPointer(), queue->PullSendMessage().GetPointer());
  EXPECT_TRUE(queue->PullSendMessage().IsNull());
}

TEST(IGTLMessageQueue, BufferedListsAreBoundedAndWarnWhenTheyDrop)
{
  vorlen::CapturingSink sink;
  vexa::IGTLMessageQueue::Pointer queue = vexa::IGTLMessageQueue::New();
  queue->EnableNoBufferingMode(false);
  queue->SetMaximumListLength(3);
  std::vector<igtl::MessageBase::Pointer> strings;
  std::vector<vexa::IGTLMessage::Pointer> outgoing;
  for (int i = 0; i < 5; ++i)
  {
    strings.push_back(Make<igtl::StringMessage>());
    queue->PushMessage(strings.back());
    outgoing.push_back(Outgoing(Make<igtl::StringMessage>()));
    queue->PushSendMessage(outgoing.back());
  }
  EXPECT_EQ(3, queue->GetSize());
  for (int i = 2; i < 5; ++i)
  {
    EXPECT_EQ(strings[i].GetPointer(), queue->PullStringMessage().GetPointer());
    EXPECT_EQ(outgoing[i].GetPointer(), queue->PullSendMessage().GetPointer());
  }
  const std::vector<std::string> warnings = sink.Texts(1);
  ASSERT_EQ(2u, warnings.size()) << "one warning per list for the first drop";
  EXPECT_NE(std::string::npos, warnings[0].find("string list of the message queue is full"));
  EXPECT_NE(std::string::npos, warnings[1].find("send list of the message queue is full"));
}

TEST(IGTLMessageQueue, WaitingForAMessageToSendEndsWithAPushOrAStop)
{
  vexa::IGTLMessageQueue::Pointer queue = vexa::IGTLMessageQueue::New();
  std::atomic<bool> stop(false);
  vexa::IGTLMessage::Pointer message = Outgoing(Make<igtl::StatusMessage>());
  std::thread pusher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue->PushSendMessage(message);
  });
  EXPECT_EQ(message.GetPointer(), queue->PullSendMessage(std::chrono::seconds(60), stop).GetPointer());
  pusher.join();

  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    queue->WakeUpWaitingSenders();
  });
  EXPECT_TRUE(queue->PullSendMessage(std::chrono::seconds(60), stop).IsNull());
  stopper.join();
}
