#include "vexaIGTLReceiveFraming.h"

#include "vexaIGTLBodyCheck.h"
#include "vexaIGTLCrc64.h"
#include "vexaIGTLLog.h"

#include <vexaLog.h>

#include <igtlBindMessage.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <sstream>

namespace
{
  using Clock = std::chrono::steady_clock;

  bool StartsWith(const std::string &text, const char *prefix)
  {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
  }

  // OpenIGTLink keeps message lengths in int.
  constexpr std::uint64_t LargestBodyOpenIGTLinkHolds = static_cast<std::uint64_t>(INT_MAX) - IGTL_HEADER_SIZE;

  // Discarded bytes go to the socket layer's own scratch buffer, whatever size is asked for.
  constexpr std::size_t MaximumSkipWindow = std::size_t(1) << 30;
}

namespace vexa
{
  IGTLReceiveFraming::IGTLReceiveFraming(IGTLMessageFactory *factory, std::string peer, std::uint64_t maximumBodySize)
    : m_Factory(factory), m_Peer(std::move(peer)), m_MaximumBodySize(0)
  {
    SetMaximumBodySize(maximumBodySize);
  }

  IGTLReceiveFraming::~IGTLReceiveFraming() = default;

  void IGTLReceiveFraming::SetMaximumBodySize(std::uint64_t bytes)
  {
    m_MaximumBodySize = std::min(bytes, LargestBodyOpenIGTLinkHolds);
  }

  void IGTLReceiveFraming::Reset()
  {
    m_Phase = Phase::Header;
    m_HeaderBytes = 0;
    m_Message = nullptr;
    m_Body = nullptr;
    m_BodySize = 0;
    m_BodyBytes = 0;
    m_AnnouncedCrc = 0;
    m_Crc = 0;
    m_AfterSkip = Status::Skipped;
  }

  IGTLReceiveFraming::Window IGTLReceiveFraming::NextWindow()
  {
    switch (m_Phase)
    {
      case Phase::Body:
        return {m_Body + m_BodyBytes,
                static_cast<std::size_t>(std::min<std::uint64_t>(m_BodySize - m_BodyBytes, MaximumWindow))};
      case Phase::Skip:
        return {nullptr,
                static_cast<std::size_t>(std::min<std::uint64_t>(m_BodySize - m_BodyBytes, MaximumSkipWindow))};
      case Phase::Header:
        break;
    }
    return {m_HeaderBuffer + m_HeaderBytes, IGTL_HEADER_SIZE - m_HeaderBytes};
  }

  IGTLReceiveFraming::Status IGTLReceiveFraming::Received(std::size_t bytes)
  {
    bytes = std::min(bytes, NextWindow().length);
    if (bytes == 0)
      return Status::NeedMore;
    m_LastProgress = Clock::now();
    switch (m_Phase)
    {
      case Phase::Header:
        m_HeaderBytes += bytes;
        return m_HeaderBytes == IGTL_HEADER_SIZE ? HeaderComplete() : Status::NeedMore;
      case Phase::Body:
        m_Crc = IGTLCrc64(m_Body + m_BodyBytes, bytes, m_Crc);
        m_BodyBytes += bytes;
        return m_BodyBytes == m_BodySize ? BodyComplete() : Status::NeedMore;
      case Phase::Skip:
        m_BodyBytes += bytes;
        return m_BodyBytes == m_BodySize ? SkipComplete() : Status::NeedMore;
    }
    return Status::NeedMore;
  }

  IGTLReceiveFraming::Status IGTLReceiveFraming::Feed(const void *data, std::size_t length, std::size_t &consumed)
  {
    const auto *bytes = static_cast<const unsigned char *>(data);
    consumed = 0;
    while (consumed < length)
    {
      const Window window = NextWindow();
      const std::size_t n = std::min(window.length, length - consumed);
      if (window.data != nullptr)
        std::memcpy(window.data, bytes + consumed, n);
      consumed += n;
      const Status status = Received(n);
      if (status != Status::NeedMore)
        return status;
    }
    return Status::NeedMore;
  }

  igtl::MessageBase::Pointer IGTLReceiveFraming::TakeMessage()
  {
    igtl::MessageBase::Pointer message = m_Message;
    m_Message = nullptr;
    return message;
  }

  IGTLReceiveFraming::Status IGTLReceiveFraming::Fail(const std::string &reason)
  {
    VEXA_WARN("IGTLDevice") << "Dropping the connection to " << m_Peer << ": " << reason;
    m_Failure = reason;
    Reset();
    return Status::Broken;
  }

  IGTLReceiveFraming::Status IGTLReceiveFraming::StartSkip(Status afterSkip)
  {
    m_AfterSkip = afterSkip;
    m_BodyBytes = 0;
    if (m_BodySize == 0)
      return SkipComplete();
    m_Phase = Phase::Skip;
    return Status::NeedMore;
  }

  IGTLReceiveFraming::Status IGTLReceiveFraming::SkipComplete()
  {
    const Status status = m_AfterSkip;
    igtl::MessageBase::Pointer request = m_Message; // kept for a request
    Reset();
    if (status == Status::Request)
      m_Message = request;
    return status;
  }

  IGTLReceiveFraming::Status IGTLReceiveFraming::HeaderComplete()
  {
    igtl_header raw;
    std::memcpy(&raw, m_HeaderBuffer, IGTL_HEADER_SIZE);
    igtl_header_convert_byte_order(&raw);
    if (raw.version != IGTL_HEADER_VERSION)
    {
      std::ostringstream why;
      why << "the message header has the version " << raw.version << ", not " << IGTL_HEADER_VERSION;
      return Fail(why.str());
    }
    if (raw.body_size > m_MaximumBodySize)
    {
      std::ostringstream why;
      why << "a message announces a body of " << raw.body_size << " bytes, more than the maximum of "
          << m_MaximumBodySize;
      return Fail(why.str());
    }
    m_BodySize = raw.body_size;
    m_BodyBytes = 0;
    m_AnnouncedCrc = raw.crc;
    m_Crc = 0;

    // One header object serves every message the factory makes; a request keeps its own.
    if (m_Header.IsNull())
      m_Header = igtl::MessageHeader::New();
    m_Header->InitPack();
    std::memcpy(m_Header->GetPackPointer(), m_HeaderBuffer, IGTL_HEADER_SIZE);
    if ((m_Header->Unpack(1) & igtl::MessageBase::UNPACK_HEADER) == 0)
    {
      VEXA_WARN << "CRC Check failed";
      return StartSkip(Status::ChecksumFailed);
    }

    const std::string type = m_Header->GetDeviceType();
    // A start request of a type without a message class of its own (STT_IMAGE
    // is only a header) is a request all the same; the factory would skip it.
    if (StartsWith(type, "GET_") || StartsWith(type, "STP_") || StartsWith(type, "RTS_") ||
        (StartsWith(type, "STT_") && !m_Factory->IsRegistered(type)))
    {
      // A body (an RTS_ reply's status byte) is skipped so that the framing holds.
      m_Message = m_Header;
      m_Header = nullptr;
      return StartSkip(Status::Request);
    }

    igtl::MessageBase::Pointer message = m_Factory->CreateInstance(m_Header);
    if (message.IsNull())
      return StartSkip(Status::Skipped);
    if (type != message->GetDeviceType())
    {
      // e.g. "image": the upper-cased name finds igtl::ImageMessage, which would refuse the header
      VEXA_WARN("IGTLDevice") << "Unknown IGT message type: " << type << " (the type of " << message->GetDeviceType()
                              << " only when upper-cased); message skipped";
      return StartSkip(Status::Skipped);
    }
    // (Its result is not a test: igtl::PositionMessage answers 0 while it takes the header.)
    message->SetMessageHeader(m_Header);
    if (m_BodySize == 0)
    {
      // OpenIGTLink cannot unpack an empty body (and AllocatePack() would make one of the class's own size).
      Reset();
      return Status::ChecksumFailed;
    }
    try
    {
      message->AllocatePack();
    }
    catch (const std::bad_alloc &)
    {
      std::ostringstream why;
      why << "no memory for a message body of " << m_BodySize << " bytes";
      return Fail(why.str());
    }
    if (message->GetPackBodySize() < 0 || static_cast<std::uint64_t>(message->GetPackBodySize()) != m_BodySize)
      return Fail("the message body buffer does not match the announced size");
    m_Message = message;
    m_Body = static_cast<unsigned char *>(message->GetPackBodyPointer());
    m_Phase = Phase::Body;
    return Status::NeedMore;
  }

  IGTLReceiveFraming::Status IGTLReceiveFraming::BodyComplete()
  {
    igtl::MessageBase::Pointer message = m_Message;
    const bool crcMatches = m_Crc == m_AnnouncedCrc;
    Reset();
    if (!crcMatches)
      return Status::ChecksumFailed; // only this message is lost, the framing holds

    // OpenIGTLink's classes trust lengths inside the body: check them first.
    const std::string type = message->GetDeviceType();
    const std::string malformed = CheckReceivedBody(message);
    if (!malformed.empty())
    {
      VEXA_WARN("IGTLDevice") << "Dropped a malformed " << type << " message from " << m_Peer << ": " << malformed;
      return Status::ChecksumFailed;
    }
    if (auto *startBind = dynamic_cast<igtl::StartBindMessage *>(message.GetPointer()))
    {
      // OpenIGTLink 1.11 reads uninitialised memory while it unpacks a bind table,
      // and ignores the resolution: the request goes on with its header and the
      // resolution (the body's last 8 bytes, which the body check saw) only.
      const auto *end = static_cast<const unsigned char *>(message->GetPackBodyPointer()) + message->GetPackBodySize();
      std::uint64_t resolution = 0;
      for (int i = 8; i > 0; --i)
        resolution = (resolution << 8) | end[-i];
      startBind->SetResolution(resolution);
    }
    else if (dynamic_cast<igtl::BindMessage *>(message.GetPointer()) != nullptr)
    {
      VEXA_WARN("IGTLDevice") << "Skipped a BIND message from " << m_Peer
                              << ": the OpenIGTLink library of this build cannot unpack BIND messages safely";
      return Status::Skipped;
    }
    else
    {
      // The CRC was computed while the body arrived; OpenIGTLink need not compute it again.
      if ((message->Unpack(0) & igtl::MessageBase::UNPACK_BODY) == 0)
        return Status::ChecksumFailed;
    }
    m_Message = message;
    return StartsWith(type, "STT_") ? Status::Request : Status::Message;
  }
}
