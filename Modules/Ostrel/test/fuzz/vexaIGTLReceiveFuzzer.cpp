// libFuzzer target of the receive framing: the input is what a peer sends on
// one connection. It is cut into messages twice, in one piece and in pieces
// of varying size as a socket delivers them; both must give the same results.
// Every message taken is then checked for sending and packed again, as a
// device forwarding it would, by this library and by OpenIGTLink, which must
// give the same bytes. The same input also checks the library's CRC against
// OpenIGTLink's own.

#include <vexaIGTLCrc64.h>
#include <vexaIGTLDevice.h>
#include <vexaIGTLMessagePacking.h>
#include <vexaIGTLReceiveFraming.h>

#include <vorlenLogSink.h>

#include <igtlColorTableMessage.h>
#include <igtlImageMessage.h>
#include <igtlPointMessage.h>
#include <igtlPolyDataMessage.h>
#include <igtlSensorMessage.h>
#include <igtlStatusMessage.h>
#include <igtlStringMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>
#include <igtl_header.h>
#include <igtl_util.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace
{
  std::vector<unsigned char> Packed(igtl::MessageBase *message)
  {
    message->Pack();
    const auto *p = static_cast<const unsigned char *>(message->GetPackPointer());
    return std::vector<unsigned char>(p, p + message->GetPackSize());
  }

  /** A message of `type` around a body built by hand. */
  std::vector<unsigned char> Raw(const char *type, std::vector<unsigned char> body)
  {
    igtl_header header;
    std::memset(&header, 0, sizeof(header));
    header.version = IGTL_HEADER_VERSION;
    std::memcpy(header.name, type, std::strlen(type));
    header.body_size = body.size();
    header.crc = crc64(body.data(), body.size(), 0);
    igtl_header_convert_byte_order(&header);
    std::vector<unsigned char> bytes(IGTL_HEADER_SIZE);
    std::memcpy(bytes.data(), &header, IGTL_HEADER_SIZE);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
  }

  /** Well-formed messages of several kinds, one per file, and all of them in one stream. */
  void WriteSeeds(const std::string &folder)
  {
    std::vector<std::vector<unsigned char>> seeds;
    igtl::StringMessage::Pointer text = igtl::StringMessage::New();
    text->SetString("seed");
    seeds.push_back(Packed(text));
    seeds.push_back(Packed(igtl::TransformMessage::New()));
    igtl::ImageMessage::Pointer image = igtl::ImageMessage::New();
    image->SetDimensions(4, 3, 2);
    image->SetScalarTypeToUint16();
    image->AllocateScalars();
    seeds.push_back(Packed(image));
    igtl::TrackingDataMessage::Pointer tracking = igtl::TrackingDataMessage::New();
    igtl::TrackingDataElement::Pointer element = igtl::TrackingDataElement::New();
    element->SetName("tool");
    tracking->AddTrackingDataElement(element);
    seeds.push_back(Packed(tracking));
    seeds.push_back(Packed(igtl::StatusMessage::New()));
    seeds.push_back(Packed(igtl::StartTrackingDataMessage::New()));
    seeds.push_back(Packed(igtl::RTSTrackingDataMessage::New()));
    seeds.push_back(Packed(igtl::GetImageMessage::New()));
    igtl::SensorMessage::Pointer sensor = igtl::SensorMessage::New();
    sensor->SetLength(3);
    seeds.push_back(Packed(sensor));
    igtl::PointMessage::Pointer point = igtl::PointMessage::New();
    igtl::PointElement::Pointer pointElement = igtl::PointElement::New();
    point->AddPointElement(pointElement);
    seeds.push_back(Packed(point));
    igtl::ColorTableMessage::Pointer colors = igtl::ColorTableMessage::New();
    colors->AllocateTable();
    seeds.push_back(Packed(colors));
    igtl::PolyDataMessage::Pointer poly = igtl::PolyDataMessage::New();
    igtl::PolyDataPointArray::Pointer polyPoints = igtl::PolyDataPointArray::New();
    polyPoints->AddPoint(1.0f, 2.0f, 3.0f);
    polyPoints->AddPoint(4.0f, 5.0f, 6.0f);
    poly->SetPoints(polyPoints);
    igtl::PolyDataCellArray::Pointer polyLines = igtl::PolyDataCellArray::New();
    igtlUint32 line[2] = {0, 1};
    polyLines->AddCell(2, line);
    poly->SetLines(polyLines);
    igtl::PolyDataAttribute::Pointer attribute = igtl::PolyDataAttribute::New();
    attribute->SetType(igtl::PolyDataAttribute::POINT_SCALAR);
    attribute->SetName("value");
    attribute->SetSize(2);
    igtlFloat32 values[2] = {1.0f, 2.0f};
    attribute->SetData(values);
    poly->AddAttribute(attribute);
    seeds.push_back(Packed(poly));
    // hand-built: an NDARRAY (float32, 2 x 1) and a STT_BIND (OpenIGTLink 1.11 packs neither usably)
    seeds.push_back(Raw("NDARRAY", {10, 2, 0, 2, 0, 1, 0x3f, 0x80, 0, 0, 0x40, 0, 0, 0}));
    seeds.push_back(Raw("STT_BIND", {0, 1,   'I', 'M', 'A', 'G', 'E', 0, 0, 0, 0, 0, 0, 0, 0,
                                     5, 'P', 'r', 'o', 'b', 'e', 0,   0, 0, 0, 0, 0, 0, 0, 10}));
    std::vector<unsigned char> all;
    for (const auto &seed : seeds)
      all.insert(all.end(), seed.begin(), seed.end());
    seeds.push_back(all);
    for (std::size_t i = 0; i < seeds.size(); ++i)
    {
      std::ofstream out(folder + "/seed-" + std::to_string(i), std::ios::binary);
      out.write(reinterpret_cast<const char *>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
    }
  }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  if (const char *folder = std::getenv("OSTREL_FUZZ_WRITE_SEEDS"))
    WriteSeeds(folder);
  return 0;
}

namespace
{
  /** Every implementation of the CRC equals OpenIGTLink's, in one run and cut in two where the input says. */
  void CompareCrcs(const std::uint8_t *data, std::size_t size)
  {
    std::uint64_t start = 0;
    std::memcpy(&start, data, std::min(size, sizeof(start)));
    const std::size_t cut = size == 0 ? 0 : (static_cast<std::size_t>(data[size - 1]) * size) / 256;
    auto *bytes = const_cast<unsigned char *>(data);
    const std::uint64_t expected = crc64(bytes, size, start);
    for (auto crc : {&vexa::IGTLCrc64, &vexa::IGTLCrc64Implementations::SliceBy8,
                     &vexa::IGTLCrc64Implementations::CarryLessMultiply})
    {
      if (crc(data, size, start) != expected || crc(data + cut, size - cut, crc(data, cut, start)) != expected)
        __builtin_trap();
    }
  }
}

namespace
{
  using Status = vexa::IGTLReceiveFraming::Status;

  vexa::IGTLMessageFactory *Factory()
  {
    static vexa::IGTLMessageFactory::Pointer factory = [] {
      vorlen::SetSink([](const vorlen::LogRecord &) {}); // the warnings of broken input are expected
      return vexa::IGTLMessageFactory::New();
    }();
    return factory;
  }

  struct Result
  {
    Status status;
    std::string type;
  };

  /** Cuts the stream into messages, handing it over in pieces of the sizes `pieceSize` gives; stops where it breaks. */
  template <class PieceSize>
  std::vector<Result> Frame(const std::uint8_t *data,
                            std::size_t size,
                            PieceSize pieceSize,
                            std::vector<igtl::MessageBase::Pointer> *taken)
  {
    vexa::IGTLReceiveFraming framing(Factory(), "fuzzer", 1 << 20);
    std::vector<Result> results;
    std::size_t offset = 0;
    while (offset < size)
    {
      std::size_t consumed = 0;
      const Status status = framing.Feed(data + offset, std::min(pieceSize(), size - offset), consumed);
      offset += consumed;
      if (status == Status::NeedMore)
        continue;
      igtl::MessageBase::Pointer message = framing.TakeMessage();
      results.push_back({status, message.IsNotNull() ? message->GetDeviceType() : ""});
      if (taken != nullptr && message.IsNotNull())
        taken->push_back(message);
      if (status == Status::Broken)
        break;
    }
    return results;
  }

  /** Checked for sending and packed as a device forwarding it would; both packings give the same bytes. */
  void Repack(igtl::MessageBase *message)
  {
    vexa::IGTLMessage::Pointer wrapped = vexa::IGTLMessage::New(message);
    if (!vexa::IGTLDevice::CheckSendable(wrapped).empty())
      return;
    vexa::IGTLPackMessage(message);
    const auto *p = static_cast<const unsigned char *>(message->GetPackPointer());
    const std::vector<unsigned char> ours(p, p + message->GetPackSize());
    message->Pack();
    p = static_cast<const unsigned char *>(message->GetPackPointer());
    const std::size_t theirs = static_cast<std::size_t>(message->GetPackSize());
    if (ours.size() != theirs || std::memcmp(ours.data(), p, theirs) != 0)
      __builtin_trap();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
  CompareCrcs(data, size);

  std::vector<igtl::MessageBase::Pointer> taken;
  const std::vector<Result> whole = Frame(
    data, size, [&] { return size; }, &taken);
  std::uint32_t state = size == 0 ? 1 : data[0] * 2654435761u + static_cast<std::uint32_t>(size);
  const std::vector<Result> pieces = Frame(
    data, size,
    [&] {
      state = state * 1103515245u + 12345u;
      return static_cast<std::size_t>(1 + (state >> 16) % 97);
    },
    nullptr);
  if (whole.size() != pieces.size())
    __builtin_trap();
  for (std::size_t i = 0; i < whole.size(); ++i)
    if (whole[i].status != pieces[i].status || whole[i].type != pieces[i].type)
      __builtin_trap();

  for (const igtl::MessageBase::Pointer &message : taken)
    Repack(message);
  return 0;
}
