#include "vexaIGTLBodyCheck.h"

#include <igtlBindMessage.h>
#include <igtlColorTableMessage.h>
#include <igtlImageMessage.h>
#include <igtlNDArrayMessage.h>
#include <igtlPolyDataMessage.h>
#include <igtlPositionMessage.h>
#include <igtlQuaternionTrackingDataMessage.h>
#include <igtlSensorMessage.h>
#include <igtlStatusMessage.h>
#include <igtlStringMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>
#include <igtl_colortable.h>
#include <igtl_header.h>
#include <igtl_image.h>
#include <igtl_ndarray.h>
#include <igtl_polydata.h>
#include <igtl_sensor.h>
#include <igtl_string.h>
#include <igtl_transform.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>

namespace
{
  /** Reads big-endian fields of a body without ever passing its end. */
  class Reader
  {
  public:
    Reader(const unsigned char *data, std::uint64_t size) : m_Data(data), m_Size(size) {}

    std::uint64_t Left() const { return m_Size - m_Position; }
    std::uint64_t Position() const { return m_Position; }
    bool Has(std::uint64_t n) const { return n <= Left(); }

    bool Skip(std::uint64_t n)
    {
      if (!Has(n))
        return false;
      m_Position += n;
      return true;
    }

    template <class T>
    bool Read(T &value)
    {
      if (!Has(sizeof(T)))
        return false;
      std::uint64_t v = 0;
      for (std::size_t i = 0; i < sizeof(T); ++i)
        v = (v << 8) | m_Data[m_Position + i];
      value = static_cast<T>(v);
      m_Position += sizeof(T);
      return true;
    }

    /** A NUL-terminated text of at most `maximum` characters; false when it does not end in time. */
    bool Text(std::uint64_t limit, std::size_t maximum)
    {
      const std::uint64_t end = m_Position + std::min(limit, Left());
      for (std::uint64_t p = m_Position; p < end; ++p)
      {
        if (m_Data[p] == 0)
        {
          const bool fits = p - m_Position <= maximum;
          m_Position = p + 1;
          return fits;
        }
      }
      return false;
    }

  private:
    const unsigned char *m_Data;
    std::uint64_t m_Size;
    std::uint64_t m_Position = 0;
  };

  std::string Need(const char *what, std::uint64_t needed, std::uint64_t size)
  {
    std::ostringstream why;
    why << what << " needs " << needed << " bytes, the body has " << size;
    return why.str();
  }

  int ScalarSize(int type)
  {
    switch (type)
    {
      case IGTL_IMAGE_STYPE_TYPE_INT8:
      case IGTL_IMAGE_STYPE_TYPE_UINT8:
        return 1;
      case IGTL_IMAGE_STYPE_TYPE_INT16:
      case IGTL_IMAGE_STYPE_TYPE_UINT16:
        return 2;
      case IGTL_IMAGE_STYPE_TYPE_INT32:
      case IGTL_IMAGE_STYPE_TYPE_UINT32:
      case IGTL_IMAGE_STYPE_TYPE_FLOAT32:
        return 4;
      case IGTL_IMAGE_STYPE_TYPE_FLOAT64:
        return 8;
      default:
        return 0;
    }
  }

  std::string CheckImage(Reader r, std::uint64_t size)
  {
    std::uint16_t version, dims[3], offset[3], sub[3];
    std::uint8_t components, scalarType, endian, coordinate;
    if (!r.Read(version) || !r.Read(components) || !r.Read(scalarType) || !r.Read(endian) || !r.Read(coordinate) ||
        !r.Read(dims[0]) || !r.Read(dims[1]) || !r.Read(dims[2]) || !r.Skip(12 * 4) || !r.Read(offset[0]) ||
        !r.Read(offset[1]) || !r.Read(offset[2]) || !r.Read(sub[0]) || !r.Read(sub[1]) || !r.Read(sub[2]))
      return Need("an image header", IGTL_IMAGE_HEADER_SIZE, size);
    if (ScalarSize(scalarType) == 0)
      return "the image scalar type " + std::to_string(scalarType) + " is not one of OpenIGTLink's";
    if (components == 0)
      return "the image has no components";
    for (int i = 0; i < 3; ++i)
      if (static_cast<std::uint32_t>(offset[i]) + sub[i] > dims[i])
        return "the image's sub-volume lies outside the image";
    const std::uint64_t data = std::uint64_t(sub[0]) * sub[1] * sub[2] * components * ScalarSize(scalarType);
    if (!r.Has(data))
      return Need("the image's pixels", IGTL_IMAGE_HEADER_SIZE + data, size);
    return std::string();
  }

  std::string CheckNDArray(Reader r, std::uint64_t size)
  {
    std::uint8_t type, dimensions;
    if (!r.Read(type) || !r.Read(dimensions))
      return Need("an array header", IGTL_NDARRAY_HEADER_SIZE, size);
    const int element = type == IGTL_NDARRAY_STYPE_TYPE_COMPLEX ? 16 : ScalarSize(type);
    if (element == 0)
      return "the array type " + std::to_string(type) + " is not one of OpenIGTLink's";
    if (dimensions == 0)
      return "the array has no dimensions";
    std::uint64_t elements = 1;
    for (std::uint8_t i = 0; i < dimensions; ++i)
    {
      std::uint16_t n;
      if (!r.Read(n))
        return "the array sizes do not fit the body";
      if (n == 0)
        return "the array has an empty dimension";
      elements *= n; // at most 65535^255 would overflow; the test below stops long before
      if (elements > size)
        return "the array values do not fit the body";
    }
    if (!r.Has(elements * element))
      return "the array values do not fit the body";
    return std::string();
  }

  std::string CheckCells(Reader &r, const char *what, std::uint32_t cells, std::uint32_t bytes)
  {
    if (!r.Has(bytes))
      return std::string("the polydata ") + what + " do not fit the body";
    std::uint64_t used = 0;
    for (std::uint32_t k = 0; k < cells; ++k)
    {
      // each cell: N, then N point indices (32-bit each)
      std::uint32_t n = 0;
      if (used + 4 > bytes)
        return std::string("the polydata ") + what + " hold fewer cells than announced";
      Reader cell = r;
      cell.Skip(used);
      cell.Read(n);
      used += 4 + 4 * std::uint64_t(n);
      if (used > bytes)
        return std::string("a polydata cell of the ") + what + " runs past its array";
    }
    r.Skip(bytes);
    return std::string();
  }

  std::string CheckPolyData(Reader r, std::uint64_t size)
  {
    std::uint32_t h[10];
    for (std::uint32_t &v : h)
      if (!r.Read(v))
        return Need("a polydata header", 40, size);
    const std::uint32_t points = h[0], attributes = h[9];
    if (!r.Skip(std::uint64_t(points) * 12))
      return "the polydata points do not fit the body";
    const char *names[] = {"vertices", "lines", "polygons", "triangle strips"};
    for (int i = 0; i < 4; ++i)
    {
      const std::string why = CheckCells(r, names[i], h[1 + 2 * i], h[2 + 2 * i]);
      if (!why.empty())
        return why;
    }
    std::uint64_t values = 0;
    for (std::uint32_t a = 0; a < attributes; ++a)
    {
      std::uint8_t type, components;
      std::uint32_t n;
      if (!r.Read(type) || !r.Read(components) || !r.Read(n))
        return "the polydata attribute headers do not fit the body";
      switch (type & 0x0f)
      {
        case IGTL_POLY_ATTR_TYPE_SCALAR:
          if (components < 1 || components > 128)
            return "a polydata scalar attribute has " + std::to_string(components) + " components";
          break;
        case IGTL_POLY_ATTR_TYPE_VECTOR:
        case IGTL_POLY_ATTR_TYPE_NORMAL:
          components = 3;
          break;
        case IGTL_POLY_ATTR_TYPE_TENSOR:
          components = 9;
          break;
        case IGTL_POLY_ATTR_TYPE_RGBA:
          components = 4;
          break;
        default:
          return "a polydata attribute has the unknown type " + std::to_string(type);
      }
      values += std::uint64_t(n) * components;
    }
    const std::uint64_t namesStart = r.Position();
    for (std::uint32_t a = 0; a < attributes; ++a)
      if (!r.Text(r.Left(), IGTL_POLY_MAX_ATTR_NAME_LEN))
        return "a polydata attribute name does not end within the body";
    if ((r.Position() - namesStart) % 2 != 0 && !r.Skip(1))
      return "the polydata attribute names lack their padding";
    if (!r.Has(values * 4))
      return "the polydata attribute values do not fit the body";
    return std::string();
  }

  /** The child table of BIND, GET_BIND and STT_BIND: types (with body sizes for BIND), then names. */
  std::string CheckBindTable(Reader &r, bool withSizes, std::uint64_t *bodies)
  {
    std::uint16_t children;
    if (!r.Read(children))
      return "the bind message has no child count";
    std::uint64_t total = 0;
    for (std::uint16_t i = 0; i < children; ++i)
    {
      if (!r.Skip(IGTL_HEADER_TYPE_SIZE))
        return "the bind child table does not fit the body";
      if (withSizes)
      {
        std::uint64_t bytes;
        if (!r.Read(bytes))
          return "the bind child table does not fit the body";
        if (bytes > r.Left())
          return "a bind child is larger than the body";
        total += bytes + (bytes % 2); // bodies are padded to an even length
      }
    }
    std::uint16_t tableSize;
    if (!r.Read(tableSize) || !r.Has(tableSize))
      return "the bind name table does not fit the body";
    Reader names = r;
    for (std::uint16_t i = 0; i < children; ++i)
      if (!names.Text(tableSize - (names.Position() - r.Position()), IGTL_HEADER_NAME_SIZE))
        return "a bind child name does not end within the name table";
    r.Skip(tableSize);
    if (bodies != nullptr)
      *bodies = total;
    return std::string();
  }
}

namespace vexa
{
  std::string CheckReceivedBody(igtl::MessageBase *message)
  {
    if (message == nullptr)
      return "there is no message";
    const int packedBody = message->GetPackBodySize();
    if (packedBody < 0 || message->GetPackBodyPointer() == nullptr)
      return "the message has no body buffer";
    const auto size = static_cast<std::uint64_t>(packedBody);
    Reader r(static_cast<const unsigned char *>(message->GetPackBodyPointer()), size);

    if (dynamic_cast<igtl::StringMessage *>(message) != nullptr)
    {
      std::uint16_t encoding, length;
      if (!r.Read(encoding) || !r.Read(length))
        return Need("a string header", IGTL_STRING_HEADER_SIZE, size);
      if (!r.Has(length))
        return Need("the string", IGTL_STRING_HEADER_SIZE + std::uint64_t(length), size);
      return std::string();
    }
    if (dynamic_cast<igtl::ImageMessage *>(message) != nullptr)
      return CheckImage(r, size);
    if (dynamic_cast<igtl::TransformMessage *>(message) != nullptr)
      return r.Has(IGTL_TRANSFORM_SIZE) ? std::string() : Need("a transform", IGTL_TRANSFORM_SIZE, size);
    if (dynamic_cast<igtl::PositionMessage *>(message) != nullptr)
      return (size == 12 || size == 24 || size == 28) ? std::string() : Need("a position", 28, size);
    if (dynamic_cast<igtl::StatusMessage *>(message) != nullptr)
    {
      // code (2), sub-code (8), error name (20), then a NUL-terminated status text
      if (!r.Skip(30))
        return Need("a status", 31, size);
      if (!r.Text(r.Left(), static_cast<std::size_t>(-1)))
        return "the status text does not end within the body";
      return std::string();
    }
    if (dynamic_cast<igtl::SensorMessage *>(message) != nullptr)
    {
      std::uint8_t length;
      if (!r.Read(length) || !r.Skip(IGTL_SENSOR_HEADER_SIZE - 1))
        return Need("a sensor header", IGTL_SENSOR_HEADER_SIZE, size);
      if (!r.Has(std::uint64_t(length) * 8))
        return Need("the sensor values", IGTL_SENSOR_HEADER_SIZE + std::uint64_t(length) * 8, size);
      return std::string();
    }
    if (dynamic_cast<igtl::StartTrackingDataMessage *>(message) != nullptr ||
        dynamic_cast<igtl::StartQuaternionTrackingDataMessage *>(message) != nullptr)
      return r.Has(36) ? std::string() : Need("a start request (resolution and coordinate name)", 36, size);
    if (dynamic_cast<igtl::ColorTableMessage *>(message) != nullptr)
    {
      std::int8_t indexType, mapType;
      if (!r.Read(indexType) || !r.Read(mapType))
        return Need("a color table header", IGTL_COLORTABLE_HEADER_SIZE, size);
      const std::uint64_t entries = indexType == IGTL_COLORTABLE_INDEX_UINT8    ? 256
                                    : indexType == IGTL_COLORTABLE_INDEX_UINT16 ? 65536
                                                                                : 0;
      const std::uint64_t bytes = mapType == IGTL_COLORTABLE_MAP_UINT8    ? 1
                                  : mapType == IGTL_COLORTABLE_MAP_UINT16 ? 2
                                  : mapType == IGTL_COLORTABLE_MAP_RGB    ? 3
                                                                          : 0;
      if (entries == 0 || bytes == 0)
        return "the color table has an unknown index or map type";
      if (!r.Has(entries * bytes))
        return Need("the color table", IGTL_COLORTABLE_HEADER_SIZE + entries * bytes, size);
      return std::string();
    }
    if (dynamic_cast<igtl::NDArrayMessage *>(message) != nullptr)
      return CheckNDArray(r, size);
    if (dynamic_cast<igtl::PolyDataMessage *>(message) != nullptr)
      return CheckPolyData(r, size);
    if (dynamic_cast<igtl::StartBindMessage *>(message) != nullptr)
    {
      std::string why = CheckBindTable(r, false, nullptr);
      if (why.empty() && !r.Has(8))
        why = "the bind request has no resolution";
      return why;
    }
    if (dynamic_cast<igtl::GetBindMessage *>(message) != nullptr)
      return CheckBindTable(r, false, nullptr);
    if (dynamic_cast<igtl::BindMessage *>(message) != nullptr)
    {
      std::uint64_t bodies = 0;
      std::string why = CheckBindTable(r, true, &bodies);
      if (why.empty() && !r.Has(bodies))
        why = "the bind children do not fit the body";
      return why;
    }
    return std::string();
  }
}
