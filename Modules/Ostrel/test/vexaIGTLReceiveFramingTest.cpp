// The framing of a connection's byte stream, without sockets: streams in
// memory handed over in pieces of every size.

#include "vexaIGTLTestSupport.h"

#include <vexaIGTLReceiveFraming.h>

#include <vorlenLogSink.h>

#include <igtlTrackingDataMessage.h>

#include <gtest/gtest.h>

#include <random>

using namespace vexa;
using namespace vexa::test;
using Status = IGTLReceiveFraming::Status;

namespace
{
  struct Result
  {
    Status status;
    std::string type;
    std::string text; // of a STRING message
    bool operator==(const Result &o) const { return status == o.status && type == o.type && text == o.text; }
  };

  std::ostream &operator<<(std::ostream &os, const Result &r)
  {
    return os << static_cast<int>(r.status) << " " << r.type << " " << r.text;
  }

  /** Frames `stream`, handing it over in pieces whose sizes `piece` chooses; the results up to a break. */
  template <class Piece>
  std::vector<Result> Frame(const std::vector<unsigned char> &stream, Piece piece)
  {
    IGTLReceiveFraming framing(IGTLMessageFactory::New(), "peer", 1 << 20);
    std::vector<Result> results;
    std::size_t offset = 0;
    while (offset < stream.size())
    {
      std::size_t consumed = 0;
      const Status status = framing.Feed(stream.data() + offset, std::min(piece(), stream.size() - offset), consumed);
      offset += consumed;
      if (status == Status::NeedMore)
        continue;
      igtl::MessageBase::Pointer message = framing.TakeMessage();
      Result r{status, message.IsNotNull() ? message->GetDeviceType() : "", ""};
      if (auto *text = dynamic_cast<igtl::StringMessage *>(message.GetPointer()))
        r.text = text->GetString();
      results.push_back(r);
      if (status == Status::Broken)
        break;
    }
    EXPECT_FALSE(framing.InMessage());
    return results;
  }

  std::vector<unsigned char> RawMessage(const std::string &type, const std::vector<unsigned char> &body)
  {
    return Concat(RawHeader(type, body.size(), IGTL_HEADER_VERSION, body), body);
  }
}

TEST(IGTLReceiveFraming, TheSameMessagesInWhateverPiecesTheStreamArrives)
{
  vorlen::CapturingSink quiet;
  std::vector<unsigned char> corrupted = Packed(MakeString("corrupted"));
  corrupted.back() ^= 1;
  igtl::StartTrackingDataMessage::Pointer start = igtl::StartTrackingDataMessage::New();
  start->SetResolution(50);

  const std::vector<std::vector<unsigned char>> parts = {
    Packed(MakeString("first")),
    Packed(MakeImage(300, 200, 1, igtl::ImageMessage::TYPE_UINT16)), // a body of several windows
    RawMessage("GET_IMAGE", {1, 2, 3}),                              // a request's body is skipped
    RawMessage("STT_IMAGE", {}),                                     // a request without a class of its own
    Packed(start),                                                   // a request read whole
    RawMessage("FOOBAR", std::vector<unsigned char>(1000, 0xab)),    // unknown: skipped
    corrupted,                                                       // dropped, framing holds
    RawHeader("STATUS", 0),                                          // empty body: nothing to unpack
    Packed(MakeString("last")),
  };
  const std::vector<Result> expected = {
    {Status::Message, "STRING", "first"}, {Status::Message, "IMAGE", ""},     {Status::Request, "GET_IMAGE", ""},
    {Status::Request, "STT_IMAGE", ""},   {Status::Request, "STT_TDATA", ""}, {Status::Skipped, "", ""},
    {Status::ChecksumFailed, "", ""},     {Status::ChecksumFailed, "", ""},   {Status::Message, "STRING", "last"},
  };
  std::vector<unsigned char> stream;
  for (const auto &part : parts)
    stream = Concat(stream, part);

  EXPECT_EQ(expected, Frame(stream, [&] { return stream.size(); })) << "in one piece";
  EXPECT_EQ(expected, Frame(stream, [] { return std::size_t(1); })) << "byte by byte";
  std::mt19937 random(7);
  for (int trial = 0; trial < 20; ++trial)
    EXPECT_EQ(expected, Frame(stream, [&] { return std::size_t(1 + random() % 5000); })) << "random pieces";
}

TEST(IGTLReceiveFraming, HeadersThatCannotBeFramedBreakTheStream)
{
  struct Case
  {
    const char *what;
    std::vector<unsigned char> bytes;
    const char *failure;
  };
  std::vector<unsigned char> version2 = Packed(MakeString("v2"));
  version2[1] = 2;
  const std::vector<Case> cases = {
    {"version 2", version2, "the message header has the version 2, not 1"},
    {"above the maximum", RawHeader("STRING", (1 << 20) + 1),
     "a message announces a body of 1048577 bytes, more than the maximum of 1048576"},
    {"above 4 GiB", RawHeader("IMAGE", (std::uint64_t(1) << 32) + 100),
     "a message announces a body of 4294967396 bytes"},
  };
  for (const Case &c : cases)
  {
    vorlen::CapturingSink sink;
    IGTLReceiveFraming framing(IGTLMessageFactory::New(), "10.1.2.3:4567", 1 << 20);
    std::size_t consumed = 0;
    ASSERT_EQ(Status::Broken, framing.Feed(c.bytes.data(), c.bytes.size(), consumed)) << c.what;
    EXPECT_NE(std::string::npos, framing.GetFailure().find(c.failure)) << c.what << ": " << framing.GetFailure();
    EXPECT_TRUE(sink.Contains(std::string("Dropping the connection to 10.1.2.3:4567: ") + c.failure)) << c.what;
    EXPECT_FALSE(framing.InMessage()) << c.what;

    // Nothing of it is left over: the same object frames a new stream.
    const std::vector<unsigned char> next = Packed(MakeString("next"));
    ASSERT_EQ(Status::Message, framing.Feed(next.data(), next.size(), consumed)) << c.what;
    EXPECT_EQ(next.size(), consumed);
  }
}

TEST(IGTLReceiveFraming, BodiesAreReadInPlaceInBoundedWindows)
{
  IGTLReceiveFraming framing(IGTLMessageFactory::New(), "peer", 64 << 20);
  const std::vector<unsigned char> bytes = Packed(MakeImage(1024, 1024, 1, igtl::ImageMessage::TYPE_UINT16));
  std::size_t offset = 0;
  std::size_t windows = 0;
  void *body = nullptr;
  for (;;)
  {
    const IGTLReceiveFraming::Window window = framing.NextWindow();
    ASSERT_NE(nullptr, window.data);
    ASSERT_GT(window.length, 0u);
    ASSERT_LE(window.length, IGTLReceiveFraming::MaximumWindow);
    ASSERT_LE(offset + window.length, bytes.size());
    if (offset == IGTL_HEADER_SIZE)
      body = window.data;
    std::memcpy(window.data, bytes.data() + offset, window.length);
    offset += window.length;
    ++windows;
    const Status status = framing.Received(window.length);
    if (status == Status::NeedMore)
      continue;
    ASSERT_EQ(Status::Message, status);
    break;
  }
  EXPECT_EQ(bytes.size(), offset);
  EXPECT_GE(windows, 1 + (bytes.size() - IGTL_HEADER_SIZE) / IGTLReceiveFraming::MaximumWindow); // after the header
  igtl::MessageBase::Pointer message = framing.TakeMessage();
  ASSERT_TRUE(message.IsNotNull());
  EXPECT_EQ(body, message->GetPackBodyPointer()) << "the bytes went straight into the message's body";
  EXPECT_TRUE(framing.TakeMessage().IsNull());
}
