#include <vexaIGTLLog.h>
#include <vexaIGTLMessage.h>

#include <vorlenLogSink.h>

#include <itkImage.h>

#include <igtlStatusMessage.h>
#include <igtlTransformMessage.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace
{
  igtl::MessageBase::Pointer MessageWithTime(const char *name, unsigned int seconds, unsigned int fraction)
  {
    igtl::StatusMessage::Pointer status = igtl::StatusMessage::New();
    status->SetDeviceName(name);
    status->SetTimeStamp(seconds, fraction);
    return igtl::MessageBase::Pointer(status.GetPointer());
  }
}

TEST(IGTLMessage, DefaultObjectHasAnEmptyMessageAndIsNotValid)
{
  vexa::IGTLMessage::Pointer message = vexa::IGTLMessage::New();
  ASSERT_TRUE(message->GetMessage().IsNotNull());
  EXPECT_STREQ("", message->GetName());
  EXPECT_FALSE(message->IsDataValid());
  EXPECT_EQ(0.0, message->GetIGTTimeStamp());
  EXPECT_STREQ(igtl::MessageBase::New()->GetDeviceType(), message->GetIGTLMessageType());
  const std::string text = message->ToString();
  EXPECT_NE(std::string::npos, text.find("valid: 0\n"));
  EXPECT_NE(std::string::npos, text.find("timestamp: 0\n"));
  EXPECT_NE(std::string::npos, text.find("OpenIGTLinkMessage: \n"));
  EXPECT_EQ(1, message->GetReferenceCount());
}

TEST(IGTLMessage, ClassMacroMembers)
{
  vexa::IGTLMessage::Pointer message = vexa::IGTLMessage::New();
  EXPECT_STREQ("IGTLMessage", message->GetNameOfClass());
  const std::vector<std::string> expected = {"IGTLMessage", "itk::DataObject", "itk::Object", "itk::LightObject"};
  EXPECT_EQ(expected, message->GetClassHierarchy());
}

TEST(IGTLMessage, TimeStampIsInMilliseconds)
{
  // The fraction counts 2^-32 s: half a second is 2^31.
  struct Case
  {
    unsigned int seconds, fraction;
    double milliseconds;
  } cases[] = {
    {5, 0, 5000.0},
    {5, 2147483648u, 5500.0},
    {5, 250, 5000.0 + 250.0 * 1000.0 / 4294967296.0},
    {0, 4294967295u, 1000.0 - 1000.0 / 4294967296.0},
    {4000000000u, 1073741824u, 4.0e12 + 250.0},
  };
  for (const Case &c : cases)
  {
    vexa::IGTLMessage::Pointer message = vexa::IGTLMessage::New(MessageWithTime("Probe", c.seconds, c.fraction));
    EXPECT_DOUBLE_EQ(c.milliseconds, message->GetIGTTimeStamp()) << c.seconds << " s + " << c.fraction;
  }
}

TEST(IGTLMessage, NewFromMessageTakesNameTimeAndValidity)
{
  igtl::MessageBase::Pointer status = MessageWithTime("Tracker", 7, 0);
  vexa::IGTLMessage::Pointer message = vexa::IGTLMessage::New(status);
  EXPECT_EQ(status.GetPointer(), message->GetMessage().GetPointer());
  EXPECT_STREQ("Tracker", message->GetName());
  EXPECT_STREQ("STATUS", message->GetIGTLMessageType());
  EXPECT_TRUE(message->IsDataValid());
  EXPECT_EQ(7000.0, message->GetIGTTimeStamp());
  EXPECT_NE(std::string::npos, message->ToString().find("name: Tracker\n"));
}

TEST(IGTLMessage, SettingTheSameMessageAgainRereadsItButModifiesOnlyOnChange)
{
  igtl::MessageBase::Pointer status = MessageWithTime("Tracker", 7, 0);
  vexa::IGTLMessage::Pointer message = vexa::IGTLMessage::New(status);
  const itk::ModifiedTimeType before = message->GetMTime();
  message->SetMessage(status);
  EXPECT_EQ(before, message->GetMTime()) << "nothing changed";

  status->SetDeviceName("Renamed");
  status->SetTimeStamp(8, 0);
  message->SetDataValid(false);
  message->SetMessage(status);
  EXPECT_STREQ("Renamed", message->GetName());
  EXPECT_EQ(8000.0, message->GetIGTTimeStamp());
  EXPECT_TRUE(message->IsDataValid());
  EXPECT_GT(message->GetMTime(), before);
}

TEST(IGTLMessage, SettersModifyOnlyOnChange)
{
  vexa::IGTLMessage::Pointer message = vexa::IGTLMessage::New();
  message->SetName("a");
  itk::ModifiedTimeType t = message->GetMTime();
  message->SetName(std::string("a"));
  message->SetDataValid(false);
  EXPECT_EQ(t, message->GetMTime());
  message->SetName(static_cast<const char *>(nullptr));
  EXPECT_STREQ("", message->GetName());
  EXPECT_GT(message->GetMTime(), t);
}

TEST(IGTLMessage, CloneSharesTheWrappedMessage)
{
  vexa::IGTLMessage::Pointer message = vexa::IGTLMessage::New(MessageWithTime("Tracker", 3, 0));
  vexa::IGTLMessage::Pointer clone = message->Clone();
  ASSERT_TRUE(clone.IsNotNull());
  EXPECT_NE(message.GetPointer(), clone.GetPointer());
  EXPECT_EQ(message->GetMessage().GetPointer(), clone->GetMessage().GetPointer());
  EXPECT_STREQ("Tracker", clone->GetName());
  EXPECT_TRUE(clone->IsDataValid());
  EXPECT_EQ(3000.0, clone->GetIGTTimeStamp());
  EXPECT_EQ(1, clone->GetReferenceCount());
}

TEST(IGTLMessage, GraftAndCopyInformationRefuseOtherData)
{
  vexa::IGTLMessage::Pointer message = vexa::IGTLMessage::New(MessageWithTime("Tracker", 3, 0));
  igtl::MessageBase *before = message->GetMessage().GetPointer();
  try
  {
    message->Graft(nullptr);
    FAIL() << "no exception";
  }
  catch (const itk::ExceptionObject &e)
  {
    const std::string description = e.GetDescription();
    EXPECT_EQ(0u, description.find("itk::ERROR: IGTLMessage("));
    EXPECT_NE(
      std::string::npos,
      description.find("): vexa::IGTLMessage::Graft cannot cast itk::DataObject const* to vexa::IGTLMessage const*"))
      << description;
    EXPECT_STREQ("unknown", e.GetLocation());
  }
  itk::Image<unsigned char, 2>::Pointer other = itk::Image<unsigned char, 2>::New();
  EXPECT_THROW(message->CopyInformation(other), itk::ExceptionObject);
  EXPECT_EQ(before, message->GetMessage().GetPointer());

  vexa::IGTLMessage::Pointer source = vexa::IGTLMessage::New(MessageWithTime("Other", 9, 0));
  message->CopyInformation(source);
  EXPECT_STREQ("Tracker", message->GetName());
  EXPECT_EQ(before, message->GetMessage().GetPointer());

  message->Graft(source);
  EXPECT_STREQ("Other", message->GetName());
  EXPECT_EQ(source->GetMessage().GetPointer(), message->GetMessage().GetPointer());
}

TEST(IGTLMessage, EqualComparesNamesAndExactTimeStamps)
{
  vorlen::CapturingSink sink;
  vexa::IGTLMessage::Pointer a = vexa::IGTLMessage::New(MessageWithTime("A", 1, 0));
  vexa::IGTLMessage::Pointer b = vexa::IGTLMessage::New(MessageWithTime("A", 1, 0));
  EXPECT_TRUE(vexa::Equal(*a, *b)) << "different wrapped messages do not matter";

  vexa::IGTLMessage::Pointer later = vexa::IGTLMessage::New(MessageWithTime("A", 1, 2147483648u));
  EXPECT_FALSE(vexa::Equal(*a, *later, 1000.0)) << "eps is not used";

  vexa::IGTLMessage::Pointer renamed = vexa::IGTLMessage::New(MessageWithTime("B", 1, 0));
  EXPECT_FALSE(vexa::Equal(*a, *renamed, 0.0, true));
  const std::vector<std::string> texts = sink.Texts(0);
  ASSERT_EQ(2u, texts.size());
  EXPECT_EQ("[( IGTLMessage )] Name differs.", texts[0]);
  EXPECT_EQ("leftHandSide is ArightHandSide is B", texts[1]);
  EXPECT_EQ("vexa::Equal", sink.Records()[0].function);

  sink.Clear();
  EXPECT_FALSE(vexa::Equal(*a, *later, 0.0, true));
  EXPECT_TRUE(sink.Contains("[( IGTLMessage )] IGTTimeStamp differs.", 0));
}

TEST(IGTLMessage, LogRecordOfAnOpenIGTLinkPointerPrintsTheObjectOrNull)
{
  vorlen::CapturingSink sink;
  igtl::MessageBase::Pointer none;
  VEXA_INFO << none;
  VEXA_INFO << "message: " << none;
  igtl::TransformMessage::Pointer transform = igtl::TransformMessage::New();
  VEXA_INFO << transform;
  const std::vector<std::string> texts = sink.Texts();
  ASSERT_EQ(3u, texts.size());
  EXPECT_EQ("(null)", texts[0]);
  EXPECT_EQ("message: (null)", texts[1]);
  EXPECT_NE(std::string::npos, texts[2].find("igtl::TransformMessage")) << texts[2];
}
