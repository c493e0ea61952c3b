#include "vexaIGTLTestSupport.h"

#include <vexaIGTLCrc64.h>
#include <vexaIGTLMessagePacking.h>

#include <igtlImageMessage.h>
#include <igtlNDArrayMessage.h>
#include <igtlPointMessage.h>
#include <igtlPolyDataMessage.h>
#include <igtlPositionMessage.h>
#include <igtlQuaternionTrackingDataMessage.h>
#include <igtlSensorMessage.h>
#include <igtlStatusMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>
#include <igtl_util.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace vexa;
using namespace vexa::test;

namespace
{
  /** OpenIGTLink's own routine: the reference. */
  std::uint64_t Reference(const unsigned char *data, std::size_t length, std::uint64_t crc)
  {
    return crc64(const_cast<unsigned char *>(data), length, crc);
  }

  struct Implementation
  {
    const char *name;
    std::function<std::uint64_t(const void *, std::size_t, std::uint64_t)> crc;
  };

  std::vector<Implementation> Implementations()
  {
    std::vector<Implementation> all = {{"IGTLCrc64", &IGTLCrc64}, {"slice-by-8", &IGTLCrc64Implementations::SliceBy8}};
    if (IGTLCrc64Implementations::HasCarryLessMultiply())
      all.push_back({"carry-less multiply", &IGTLCrc64Implementations::CarryLessMultiply});
    return all;
  }
}

TEST(IGTLCrc64, EqualsOpenIGTLinksOnEveryLengthAlignmentAndStartValue)
{
  std::mt19937_64 random(18);
  std::vector<unsigned char> data((1 << 20) + 64);
  for (unsigned char &byte : data)
    byte = static_cast<unsigned char>(random());
  // Every length up to a few folds (the edges of each block size), then random ones up to a megabyte.
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 300; ++n)
    lengths.push_back(n);
  for (int i = 0; i < 60; ++i)
    lengths.push_back(random() % (1 << 20));
  lengths.push_back(1 << 20);

  for (const Implementation &implementation : Implementations())
  {
    for (std::size_t length : lengths)
    {
      const std::size_t offset = random() % 64;
      const std::uint64_t start = (length % 3 == 0) ? 0 : random();
      const unsigned char *p = data.data() + offset;
      ASSERT_EQ(Reference(p, length, start), implementation.crc(p, length, start))
        << implementation.name << ": " << length << " bytes at offset " << offset << ", start " << start;
    }
  }
}

TEST(IGTLCrc64, ChainsAsOneRun)
{
  std::mt19937_64 random(64);
  std::vector<unsigned char> data(100000);
  for (unsigned char &byte : data)
    byte = static_cast<unsigned char>(random());
  for (const Implementation &implementation : Implementations())
  {
    for (int trial = 0; trial < 200; ++trial)
    {
      const std::size_t length = random() % data.size();
      const std::uint64_t whole = Reference(data.data(), length, 0);
      // cut into pieces of any size, as bytes arrive from a socket
      std::uint64_t chained = 0;
      std::size_t done = 0;
      while (done < length)
      {
        const std::size_t piece = std::min<std::size_t>(length - done, 1 + random() % (trial % 2 ? 300 : 30000));
        chained = implementation.crc(data.data() + done, piece, chained);
        done += piece;
      }
      ASSERT_EQ(whole, chained) << implementation.name << ": " << length << " bytes";
    }
  }
  // what a message with an empty body carries
  EXPECT_EQ(0u, IGTLCrc64(nullptr, 0, 0));
}

namespace
{
  /** The object's state that Pack() leaves behind, besides its bytes. */
  struct PackState : igtl::MessageBase
  {
    static std::vector<int> Of(igtl::MessageBase &m)
    {
      return {m.*(&PackState::m_IsHeaderUnpacked), m.*(&PackState::m_IsBodyUnpacked), m.*(&PackState::m_BodySizeToRead),
              m.GetPackSize()};
    }
  };

  struct PackCase
  {
    const char *what;
    std::function<igtl::MessageBase::Pointer()> make;
  };

  template <class T>
  igtl::MessageBase::Pointer Base(const igtl::SmartPointer<T> &m)
  {
    return igtl::MessageBase::Pointer(m.GetPointer());
  }

  std::vector<PackCase> PackCases()
  {
    return {
      {"image 640x480 8-bit", [] { return Base(MakeImage(640, 480, 1, igtl::ImageMessage::TYPE_UINT8)); }},
      {"image 33x17x5 float, odd size", [] { return Base(MakeImage(33, 17, 5, igtl::ImageMessage::TYPE_FLOAT32)); }},
      {"transform with a time stamp and a 20-character name",
       [] {
         igtl::TransformMessage::Pointer m = igtl::TransformMessage::New();
         m->SetDeviceName("ABCDEFGHIJKLMNOPQRST");
         m->SetTimeStamp(1234567890u, 0xdeadbeefu);
         return Base(m);
       }},
      {"string with a name longer than the field",
       [] {
         igtl::MessageBase::Pointer m = MakeString("some text", "A device name of more than twenty bytes");
         return m;
       }},
      {"tracking data",
       [] {
         igtl::TrackingDataMessage::Pointer m = igtl::TrackingDataMessage::New();
         igtl::TrackingDataElement::Pointer e = igtl::TrackingDataElement::New();
         e->SetName("Needle");
         e->SetPosition(1.0f, 2.0f, 3.0f);
         m->AddTrackingDataElement(e);
         return Base(m);
       }},
      {"position", [] { return Base(igtl::PositionMessage::New()); }},
      {"status",
       [] {
         igtl::StatusMessage::Pointer m = igtl::StatusMessage::New();
         m->SetStatusString("fine");
         return Base(m);
       }},
      {"sensor",
       [] {
         igtl::SensorMessage::Pointer m = igtl::SensorMessage::New();
         m->SetLength(5);
         return Base(m);
       }},
      {"point",
       [] {
         igtl::PointMessage::Pointer m = igtl::PointMessage::New();
         igtl::PointElement::Pointer point = igtl::PointElement::New();
         point->SetName("Target");
         m->AddPointElement(point);
         return Base(m);
       }},
      {"GET_IMAGE, empty body", [] { return Base(igtl::GetImageMessage::New()); }},
      {"STT_TDATA",
       [] {
         igtl::StartTrackingDataMessage::Pointer m = igtl::StartTrackingDataMessage::New();
         m->SetResolution(40);
         m->SetCoordinateName("Patient");
         return Base(m);
       }},
      {"RTS_QTDATA", [] { return Base(igtl::RTSQuaternionTrackingDataMessage::New()); }},
      {"a received request header, packed again",
       [] {
         igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
         header->InitPack();
         const std::vector<unsigned char> bytes = RawHeader("GET_IMAGE", 0, IGTL_HEADER_VERSION, {}, "Viewer");
         std::memcpy(header->GetPackPointer(), bytes.data(), IGTL_HEADER_SIZE);
         header->Unpack(1);
         return igtl::MessageBase::Pointer(header);
       }},
      {"a received transform, packed again",
       [] {
         igtl::TransformMessage::Pointer sent = igtl::TransformMessage::New();
         sent->SetDeviceName("Tool");
         sent->Pack();
         igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
         header->InitPack();
         std::memcpy(header->GetPackPointer(), sent->GetPackPointer(), IGTL_HEADER_SIZE);
         header->Unpack();
         igtl::TransformMessage::Pointer got = igtl::TransformMessage::New();
         got->SetMessageHeader(header);
         got->AllocatePack();
         std::memcpy(got->GetPackBodyPointer(), sent->GetPackBodyPointer(), got->GetPackBodySize());
         got->Unpack(1);
         return Base(got);
       }},
    };
  }
}

TEST(IGTLPackMessage, WritesWhatOpenIGTLinksPackWrites)
{
  for (const PackCase &c : PackCases())
  {
    // The same object packed both ways (some classes stamp the time they were made).
    igtl::MessageBase::Pointer message = c.make();
    ASSERT_EQ(1, IGTLPackMessage(message)) << c.what;
    const auto *p = static_cast<const unsigned char *>(message->GetPackPointer());
    const std::vector<unsigned char> ours(p, p + message->GetPackSize());
    const std::vector<int> ourState = PackState::Of(*message);

    // and a standard receiver's check passes
    igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
    header->InitPack();
    std::memcpy(header->GetPackPointer(), ours.data(), IGTL_HEADER_SIZE);
    header->Unpack();
    igtl::MessageBase::Pointer received = c.make();
    received->SetMessageHeader(header);
    received->AllocatePack();
    ASSERT_EQ(ours.size(), static_cast<std::size_t>(received->GetPackSize())) << c.what;
    if (received->GetPackBodySize() > 0)
    {
      std::memcpy(received->GetPackBodyPointer(), ours.data() + IGTL_HEADER_SIZE, received->GetPackBodySize());
      EXPECT_NE(0, received->Unpack(1) & igtl::MessageBase::UNPACK_BODY) << c.what;
    }

    ASSERT_EQ(1, message->Pack()) << c.what;
    p = static_cast<const unsigned char *>(message->GetPackPointer());
    EXPECT_EQ(std::vector<unsigned char>(p, p + message->GetPackSize()), ours) << c.what;
    EXPECT_EQ(PackState::Of(*message), ourState) << c.what;
  }
}
