#include <vexaIGTLDummyMessage.h>
#include <vexaIGTLMessageFactory.h>

#include <vexaException.h>
#include <vorlenLogSink.h>

#include <igtlImageMessage.h>
#include <igtlStringMessage.h>

#include <gtest/gtest.h>

#include <igtl_header.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace
{
  igtl::MessageBase::Pointer HeaderOfType(const char *type)
  {
    // A header as the receiving path gets it: a message's packed header, unpacked.
    igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
    header->InitPack();
    igtl_header raw;
    std::memset(&raw, 0, sizeof(raw));
    raw.version = IGTL_HEADER_VERSION;
    std::memcpy(raw.name, type, std::min(std::strlen(type), sizeof(raw.name)));
    igtl_header_convert_byte_order(&raw);
    std::memcpy(header->GetPackPointer(), &raw, IGTL_HEADER_SIZE);
    header->Unpack();
    return header;
  }

  igtl::MessageBase::Pointer NewFooMessage() { return igtl::StringMessage::New().GetPointer(); }

  class CopyingHandler : public vexa::IGTLMessageCloneHandler
  {
  public:
    vexaClassMacro(CopyingHandler, vexa::IGTLMessageCloneHandler);
    vexaNewMacro(CopyingHandler);
    igtl::MessageBase::Pointer Clone(igtl::MessageBase *) override { return made; }
    igtl::MessageBase::Pointer made = igtl::StringMessage::New().GetPointer();
  };
}

TEST(IGTLMessageFactory, EveryTypeOfTheDefaultTableMakesAMessageOfThatType)
{
  vexa::IGTLMessageFactory::Pointer factory = vexa::IGTLMessageFactory::New();
  const char *names[] = {
    "IMAGE",       "TRANSFORM",  "POSITION", "STATUS",       "CAPABILITY", "GET_IMAGE",   "GET_TRANS",  "GET_STATUS",
    "GET_CAPABIL", "IMGMETA",    "LBMETA",   "COLORT",       "POINT",      "TRAJ",        "TDATA",      "QTDATA",
    "SENSOR",      "STRING",     "NDARRAY",  "BIND",         "POLYDATA",   "GET_IMGMETA", "GET_LBMETA", "GET_COLORT",
    "GET_POINT",   "GET_TRAJ",   "GET_BIND", "GET_POLYDATA", "RTS_BIND",   "RTS_QTDATA",  "RTS_TDATA",  "STT_BIND",
    "STT_TDATA",   "STT_QTDATA", "STP_BIND", "STP_TDATA",    "STP_QTDATA", "DUMMY"};
  for (const char *name : names)
  {
    igtl::MessageBase::Pointer message = factory->CreateInstance(std::string(name));
    ASSERT_TRUE(message.IsNotNull()) << name;
    EXPECT_STREQ(name, message->GetDeviceType());
    // and the received header of that type finds the same class
    igtl::MessageBase::Pointer fromHeader = factory->CreateInstance(HeaderOfType(name));
    ASSERT_TRUE(fromHeader.IsNotNull()) << name;
    EXPECT_STREQ(message->GetNameOfClass(), fromHeader->GetNameOfClass());
  }
  EXPECT_EQ(nullptr, factory->GetMessageTypeNewPointer("NONE"));
}

TEST(IGTLMessageFactory, HeaderTypesAreLookedUpUpperCasedNamesExactly)
{
  vorlen::CapturingSink sink;
  vexa::IGTLMessageFactory::Pointer factory = vexa::IGTLMessageFactory::New();

  igtl::MessageBase::Pointer image = factory->CreateInstance(HeaderOfType("image"));
  ASSERT_TRUE(image.IsNotNull());
  EXPECT_NE(nullptr, dynamic_cast<igtl::ImageMessage *>(image.GetPointer()));
  EXPECT_TRUE(sink.Records().empty());

  EXPECT_TRUE(factory->CreateInstance(std::string("image")).IsNull());
  EXPECT_TRUE(sink.Contains("image message type is not registered to factory!", 2));

  sink.Clear();
  EXPECT_TRUE(factory->CreateInstance(HeaderOfType("weird")).IsNull());
  ASSERT_EQ(1u, sink.Records().size());
  EXPECT_EQ("Unknown IGT message type: WEIRD", sink.Records()[0].text);
  EXPECT_EQ(2, sink.Records()[0].level);
  EXPECT_EQ(std::vector<std::string>{"IGTLMessageFactory"}, sink.Records()[0].categories);

  sink.Clear();
  EXPECT_TRUE(factory->CreateInstance(igtl::MessageBase::Pointer()).IsNull());
  EXPECT_TRUE(factory->CreateInstance(HeaderOfType("NONE")).IsNull());
  EXPECT_TRUE(sink.Records().empty());
}

TEST(IGTLMessageFactory, CloneNeedsARegisteredHandler)
{
  vorlen::CapturingSink sink;
  vexa::IGTLMessageFactory::Pointer factory = vexa::IGTLMessageFactory::New();
  igtl::MessageBase::Pointer image = igtl::ImageMessage::New().GetPointer();
  try
  {
    factory->Clone(image);
    FAIL() << "no exception";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_STREQ("IMAGE message type is not registered to factory!", e.GetDescription());
  }
  EXPECT_TRUE(sink.Contains("IMAGE message type is not registered to factory!", 2));

  factory->AddMessageCloneHandler("IMAGE", vexa::IGTLMessageCloneHandler::New());
  EXPECT_TRUE(factory->Clone(image).IsNull()) << "the base handler copies nothing";

  CopyingHandler::Pointer handler = CopyingHandler::New();
  factory->AddMessageType("IMAGE", &vexa::IGTLMessageFactory::NewMessage<igtl::ImageMessage>, handler.GetPointer());
  EXPECT_EQ(handler->made.GetPointer(), factory->Clone(image).GetPointer());
}

TEST(IGTLMessageFactory, RequestTypesAreListedInSortedOrder)
{
  vexa::IGTLMessageFactory::Pointer factory = vexa::IGTLMessageFactory::New();
  const std::list<std::string> defaults = {"GET_BIND",   "GET_CAPABIL", "GET_COLORT",   "GET_IMAGE",  "GET_IMGMETA",
                                           "GET_LBMETA", "GET_POINT",   "GET_POLYDATA", "GET_STATUS", "GET_TRAJ",
                                           "GET_TRANS",  "RTS_BIND",    "RTS_QTDATA",   "RTS_TDATA",  "STP_BIND",
                                           "STP_QTDATA", "STP_TDATA",   "STT_BIND",     "STT_QTDATA", "STT_TDATA"};
  EXPECT_EQ(defaults, factory->GetAvailableMessageRequestTypes());

  factory->AddMessageNewMethod("GET_FOO", &NewFooMessage);
  factory->AddMessageNewMethod("FOO", &NewFooMessage);
  const std::list<std::string> types = factory->GetAvailableMessageRequestTypes();
  auto foo = std::find(types.begin(), types.end(), "GET_FOO");
  ASSERT_NE(types.end(), foo);
  EXPECT_EQ("GET_COLORT", *std::prev(foo));
  EXPECT_EQ("GET_IMAGE", *std::next(foo));
  EXPECT_EQ(types.end(), std::find(types.begin(), types.end(), "FOO"));
  EXPECT_TRUE(factory->CreateInstance(std::string("FOO")).IsNotNull());
}

TEST(IGTLDummyMessage, IsAStringMessageOfTypeDummy)
{
  vexa::IGTLMessageFactory::Pointer factory = vexa::IGTLMessageFactory::New();
  igtl::MessageBase::Pointer made = factory->CreateInstance(std::string("DUMMY"));
  auto *dummy = dynamic_cast<vexa::IGTLDummyMessage *>(made.GetPointer());
  ASSERT_NE(nullptr, dummy);
  EXPECT_STREQ("DUMMY", dummy->GetDeviceType());
  EXPECT_STREQ("", dummy->GetString());
  EXPECT_STREQ("vexa::IGTLDummyMessage", dummy->GetNameOfClass());

  dummy->SetDummyString("anything");
  EXPECT_STREQ("This is a dummy string", dummy->GetString());
  EXPECT_EQ("anything", dummy->GetDummyString());

  igtl::MessageBase::Pointer clone = dummy->Clone();
  auto *copy = dynamic_cast<vexa::IGTLDummyMessage *>(clone.GetPointer());
  ASSERT_NE(nullptr, copy);
  EXPECT_NE(dummy, copy);
  EXPECT_STREQ("This is a dummy string", copy->GetString());
  EXPECT_EQ("anything", copy->GetDummyString());
}
