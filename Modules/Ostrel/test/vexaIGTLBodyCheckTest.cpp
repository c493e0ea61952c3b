// Every kind of body OpenIGTLink unpacks, well-formed, cut short and with
// bytes overwritten: a body that passes the check must unpack without reading
// past its buffer (the sanitizer builds catch such reads), and the bodies that
// OpenIGTLink itself would read past are refused.

#include "vexaIGTLTestSupport.h"

#include <vexaIGTLBodyCheck.h>
#include <vexaIGTLDummyMessage.h>
#include <vexaIGTLMessageFactory.h>

#include <igtlBindMessage.h>
#include <igtlCapabilityMessage.h>
#include <igtlColorTableMessage.h>
#include <igtlImageMetaMessage.h>
#include <igtlLabelMetaMessage.h>
#include <igtlPointMessage.h>
#include <igtlPolyDataMessage.h>
#include <igtlPositionMessage.h>
#include <igtlQuaternionTrackingDataMessage.h>
#include <igtlSensorMessage.h>
#include <igtlStatusMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTrajectoryMessage.h>
#include <igtlTransformMessage.h>

#include <gtest/gtest.h>

using namespace vexa;
using namespace vexa::test;

namespace
{
  struct Sample
  {
    const char *type;
    igtl::MessageBase::Pointer message;
    bool shortBodiesRefused;                 ///< OpenIGTLink itself would read past a short body of this type
    std::vector<unsigned char> rawBody = {}; ///< the body, where no message is given
    /** false: OpenIGTLink 1.11 cannot unpack this type safely at all; the device does not let it. */
    bool unpackedByOpenIGTLink = true;

    std::vector<unsigned char> Body() const
    {
      if (message.IsNull())
        return rawBody;
      message->Pack();
      const auto *p = static_cast<const unsigned char *>(message->GetPackBodyPointer());
      return std::vector<unsigned char>(p, p + message->GetPackBodySize());
    }
  };

  /** A STT_BIND body asking for TRANSFORM "Tool" and IMAGE "Probe". */
  std::vector<unsigned char> StartBindBody(std::uint64_t resolution)
  {
    std::vector<unsigned char> body = {0, 2,   'T', 'R', 'A', 'N', 'S', 'F', 'O', 'R', 'M', 0,   0,
                                       0, 'I', 'M', 'A', 'G', 'E', 0,   0,   0,   0,   0,   0,   0,
                                       0, 11,  'T', 'o', 'o', 'l', 0,   'P', 'r', 'o', 'b', 'e', 0};
    for (int shift = 56; shift >= 0; shift -= 8)
      body.push_back(static_cast<unsigned char>(resolution >> shift));
    return body;
  }

  template <class T>
  igtl::MessageBase::Pointer Base(const igtl::SmartPointer<T> &m)
  {
    return igtl::MessageBase::Pointer(m.GetPointer());
  }

  std::vector<Sample> Samples()
  {
    std::vector<Sample> samples;
    samples.push_back({"STRING", MakeString("a string of some length"), true});
    samples.push_back({"IMAGE", Base(MakeImage(5, 4, 3, igtl::ImageMessage::TYPE_INT16)), true});
    samples.push_back({"TRANSFORM", Base(igtl::TransformMessage::New()), true});
    samples.push_back({"POSITION", Base(igtl::PositionMessage::New()), true});
    {
      igtl::StatusMessage::Pointer m = igtl::StatusMessage::New();
      m->SetCode(igtl::StatusMessage::STATUS_OK);
      m->SetErrorName("no error at all");
      m->SetStatusString("a status text");
      samples.push_back({"STATUS", Base(m), true});
    }
    {
      igtl::SensorMessage::Pointer m = igtl::SensorMessage::New();
      m->SetLength(5);
      for (unsigned int i = 0; i < 5; ++i)
        m->SetValue(i, 0.5 * i);
      samples.push_back({"SENSOR", Base(m), true});
    }
    {
      igtl::StartTrackingDataMessage::Pointer m = igtl::StartTrackingDataMessage::New();
      m->SetResolution(50);
      m->SetCoordinateName("Patient");
      samples.push_back({"STT_TDATA", Base(m), true});
    }
    samples.push_back({"STT_QTDATA", Base(igtl::StartQuaternionTrackingDataMessage::New()), true});
    {
      igtl::PolyDataMessage::Pointer m = igtl::PolyDataMessage::New();
      igtl::PolyDataPointArray::Pointer points = igtl::PolyDataPointArray::New();
      for (int i = 0; i < 4; ++i)
        points->AddPoint(float(i), float(i * i), 1.0f);
      m->SetPoints(points);
      igtl::PolyDataCellArray::Pointer polygons = igtl::PolyDataCellArray::New();
      igtlUint32 triangle[3] = {0, 1, 2};
      polygons->AddCell(3, triangle);
      igtlUint32 square[4] = {0, 1, 2, 3};
      polygons->AddCell(4, square);
      m->SetPolygons(polygons);
      igtl::PolyDataCellArray::Pointer lines = igtl::PolyDataCellArray::New();
      igtlUint32 line[2] = {1, 3};
      lines->AddCell(2, line);
      m->SetLines(lines);
      igtl::PolyDataAttribute::Pointer attribute = igtl::PolyDataAttribute::New();
      attribute->SetType(igtl::PolyDataAttribute::POINT_SCALAR);
      attribute->SetName("temperature");
      attribute->SetSize(4);
      igtlFloat32 values[4] = {1, 2, 3, 4};
      attribute->SetData(values);
      m->AddAttribute(attribute);
      samples.push_back({"POLYDATA", Base(m), true});
    }
    {
      // built by hand: OpenIGTLink 1.11 writes past its buffer when it packs a BIND message
      std::vector<unsigned char> body = {0, 2};
      const std::vector<unsigned char> text = Packed(MakeString("first child"));
      const std::vector<unsigned char> textBody(text.begin() + IGTL_HEADER_SIZE, text.end());
      auto appendChild = [&](const char *type, std::uint64_t size) {
        unsigned char typeField[IGTL_HEADER_TYPE_SIZE] = {};
        std::memcpy(typeField, type, std::strlen(type));
        body.insert(body.end(), typeField, typeField + IGTL_HEADER_TYPE_SIZE);
        for (int shift = 56; shift >= 0; shift -= 8)
          body.push_back(static_cast<unsigned char>(size >> shift));
      };
      appendChild("STRING", textBody.size());
      appendChild("TRANSFORM", 48);
      const char names[] = "One\0Two"; // 8 bytes with both terminators
      body.push_back(0);
      body.push_back(8);
      body.insert(body.end(), names, names + 8);
      body.insert(body.end(), textBody.begin(), textBody.end());
      if (textBody.size() % 2 != 0)
        body.push_back(0);
      body.insert(body.end(), 48, 0);
      samples.push_back({"BIND", nullptr, true, body, false});
    }
    // the layout of the OpenIGTLink protocol (the GET_BIND table, then the
    // resolution), built by hand: OpenIGTLink 1.11 packs it otherwise
    samples.push_back({"STT_BIND", nullptr, true, StartBindBody(100), false});
    {
      igtl::TrackingDataMessage::Pointer m = igtl::TrackingDataMessage::New();
      igtl::TrackingDataElement::Pointer e = igtl::TrackingDataElement::New();
      e->SetName("Needle");
      m->AddTrackingDataElement(e);
      samples.push_back({"TDATA", Base(m), false});
    }
    {
      igtl::QuaternionTrackingDataMessage::Pointer m = igtl::QuaternionTrackingDataMessage::New();
      igtl::QuaternionTrackingDataElement::Pointer e = igtl::QuaternionTrackingDataElement::New();
      e->SetName("Needle");
      m->AddQuaternionTrackingDataElement(e);
      samples.push_back({"QTDATA", Base(m), false});
    }
    {
      igtl::PointMessage::Pointer m = igtl::PointMessage::New();
      igtl::PointElement::Pointer e = igtl::PointElement::New();
      e->SetName("Target");
      m->AddPointElement(e);
      samples.push_back({"POINT", Base(m), false});
    }
    {
      igtl::TrajectoryMessage::Pointer m = igtl::TrajectoryMessage::New();
      igtl::TrajectoryElement::Pointer e = igtl::TrajectoryElement::New();
      e->SetName("Path");
      m->AddTrajectoryElement(e);
      samples.push_back({"TRAJ", Base(m), false});
    }
    {
      igtl::CapabilityMessage::Pointer m = igtl::CapabilityMessage::New();
      m->SetTypes({"IMAGE", "TRANSFORM", "STATUS"});
      samples.push_back({"CAPABILITY", Base(m), false});
    }
    {
      igtl::ColorTableMessage::Pointer m = igtl::ColorTableMessage::New();
      m->SetIndexTypeToUint8();
      m->SetMapTypeToUint8();
      m->AllocateTable();
      samples.push_back({"COLORT", Base(m), false});
    }
    {
      igtl::ImageMetaMessage::Pointer m = igtl::ImageMetaMessage::New();
      igtl::ImageMetaElement::Pointer e = igtl::ImageMetaElement::New();
      e->SetName("Scan");
      m->AddImageMetaElement(e);
      samples.push_back({"IMGMETA", Base(m), false});
    }
    {
      igtl::LabelMetaMessage::Pointer m = igtl::LabelMetaMessage::New();
      igtl::LabelMetaElement::Pointer e = igtl::LabelMetaElement::New();
      e->SetName("Liver");
      m->AddLabelMetaElement(e);
      samples.push_back({"LBMETA", Base(m), false});
    }
    // built by hand: igtl::Array's destructor frees with the wrong operator
    samples.push_back(
      {"NDARRAY", nullptr, false, {10,   2, 0, 3,    0,    2, 0x3f, 0x80, 0,    0, 0x40, 0,    0,    0, 0x40,
                                   0x40, 0, 0, 0x40, 0x80, 0, 0,    0x40, 0xa0, 0, 0,    0x40, 0xc0, 0, 0}});
    samples.push_back({"DUMMY", Base(vexa::IGTLDummyMessage::New()), true});
    return samples;
  }

  /** A message of `type` as the receiving path makes it, with `body` as its body. */
  igtl::MessageBase::Pointer Received(IGTLMessageFactory *factory,
                                      const char *type,
                                      const std::vector<unsigned char> &body)
  {
    const std::vector<unsigned char> headerBytes = RawHeader(type, body.size(), IGTL_HEADER_VERSION, body);
    igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
    header->InitPack();
    std::memcpy(header->GetPackPointer(), headerBytes.data(), IGTL_HEADER_SIZE);
    header->Unpack();
    igtl::MessageBase::Pointer message = factory->CreateInstance(header);
    if (message.IsNull())
      return nullptr;
    message->SetMessageHeader(header);
    message->AllocatePack();
    if (message->GetPackBodySize() != static_cast<int>(body.size()))
      return nullptr;
    std::memcpy(message->GetPackBodyPointer(), body.data(), body.size());
    return message;
  }
}

TEST(IGTLBodyCheck, WellFormedBodiesPassAndUnpack)
{
  IGTLMessageFactory::Pointer factory = IGTLMessageFactory::New();
  for (const Sample &s : Samples())
  {
    const std::vector<unsigned char> body = s.Body();
    igtl::MessageBase::Pointer m = Received(factory, s.type, body);
    ASSERT_TRUE(m.IsNotNull()) << s.type;
    EXPECT_EQ("", CheckReceivedBody(m)) << s.type;
    if (s.unpackedByOpenIGTLink)
    {
      EXPECT_NE(0, m->Unpack(1) & igtl::MessageBase::UNPACK_BODY) << s.type;
    }
  }
}

TEST(IGTLBodyCheck, CutAndOverwrittenBodiesNeverUnpackPastTheirEnd)
{
  IGTLMessageFactory::Pointer factory = IGTLMessageFactory::New();
  for (const Sample &s : Samples())
  {
    SCOPED_TRACE(s.type);
    const std::vector<unsigned char> body = s.Body();

    int refusedShort = 0;
    for (std::size_t length = 1; length < body.size(); ++length)
    {
      igtl::MessageBase::Pointer m =
        Received(factory, s.type, std::vector<unsigned char>(body.begin(), body.begin() + length));
      if (m.IsNull())
        continue;
      if (!CheckReceivedBody(m).empty())
        ++refusedShort;
      else if (s.unpackedByOpenIGTLink)
        m->Unpack(0);
    }
    if (s.shortBodiesRefused)
    {
      EXPECT_GT(refusedShort, 0);
    }

    for (std::size_t i = 0; i < body.size(); ++i)
      for (unsigned char value : {0x00, 0x7f, 0xff})
      {
        std::vector<unsigned char> changed = body;
        changed[i] = value;
        igtl::MessageBase::Pointer m = Received(factory, s.type, changed);
        if (m.IsNotNull() && CheckReceivedBody(m).empty() && s.unpackedByOpenIGTLink)
          m->Unpack(0);
      }
  }
}

TEST(IGTLBodyCheck, TheLengthsInsideABodyAreChecked)
{
  IGTLMessageFactory::Pointer factory = IGTLMessageFactory::New();
  // a string whose length field says 28524 in a body of 70 bytes
  std::vector<unsigned char> body(70, 'x');
  body[2] = 0x6f;
  body[3] = 0x6c;
  igtl::MessageBase::Pointer m = Received(factory, "STRING", body);
  ASSERT_TRUE(m.IsNotNull());
  EXPECT_EQ("the string needs 28528 bytes, the body has 70", CheckReceivedBody(m));

  // an image whose scalar type is not one of OpenIGTLink's
  igtl::ImageMessage::Pointer image = MakeImage(2, 2, 1, igtl::ImageMessage::TYPE_UINT8);
  image->Pack();
  const auto *p = static_cast<const unsigned char *>(image->GetPackBodyPointer());
  std::vector<unsigned char> imageBody(p, p + image->GetPackBodySize());
  imageBody[3] = 8;
  m = Received(factory, "IMAGE", imageBody);
  ASSERT_TRUE(m.IsNotNull());
  EXPECT_EQ("the image scalar type 8 is not one of OpenIGTLink's", CheckReceivedBody(m));
}
