#ifndef vexaIGTLReceiveFraming_h
#define vexaIGTLReceiveFraming_h

#include "OstrelExports.h"
#include "vexaIGTLMessageFactory.h"

#include <igtlMessageBase.h>
#include <igtl_header.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vexa
{
  /**
   * Cuts one connection's incoming byte stream into OpenIGTLink messages:
   * bytes in, whole checked messages out. One object per connection; it
   * moves no bytes itself, so it works the same on a socket, a file or a
   * buffer in memory.
   *
   * Use: write received bytes into NextWindow() (zero copy: the window is the
   * header buffer or the body of the message being read) and report them with
   * Received(), or hand over bytes with Feed(). Every result but NeedMore ends
   * a message.
   *
   * Checks, in order: the header's version and announced body size (against
   * the maximum, before anything is allocated); the type, routed as below; the
   * body's CRC, computed while the bytes arrive; the body's layout against its
   * class (vexa::CheckReceivedBody) before OpenIGTLink unpacks it. Every
   * announced body is read or skipped to its last byte, so the framing holds
   * whatever a message contains; only a header that cannot be framed (bad
   * version, oversized body) breaks the stream.
   *
   * Routing: GET_, STP_ and RTS_ headers, and STT_ headers of a type the
   * factory has no class for (STT_IMAGE), become bare-header requests (their
   * bodies skipped); STT_ messages the factory knows are read whole and are
   * requests too; everything else the factory knows is a message.
   *
   * Problems are logged here, naming the peer. Not thread-safe: one reading
   * thread per connection.
   */
  class OSTREL_EXPORT IGTLReceiveFraming
  {
  public:
    enum class Status
    {
      NeedMore,       ///< the current message is not complete yet
      Message,        ///< a whole, checked, unpacked message for the message lists (TakeMessage)
      Request,        ///< a request or reply for the command list (TakeMessage)
      Skipped,        ///< a type that is not taken (unknown, or not safely unpackable); its body was skipped
      ChecksumFailed, ///< the header's or the body's CRC failed, or the body is malformed: the message is dropped
      Broken          ///< the stream cannot be framed any more (GetFailure); the connection must end
    };

    /** Where the next bytes of the stream go: `data` null means they are to be discarded. */
    struct Window
    {
      void *data;
      std::size_t length;
    };

    /**
     * The largest window handed out for a body. Small reads interleave with
     * the peer's sending on the socket, and each part is checked while it is
     * still in the cache.
     */
    static constexpr std::size_t MaximumWindow = std::size_t(64) << 10;

    /** `peer` names the other end in log records; larger announced bodies than `maximumBodySize` break the stream. */
    IGTLReceiveFraming(IGTLMessageFactory *factory, std::string peer, std::uint64_t maximumBodySize);
    ~IGTLReceiveFraming();
    IGTLReceiveFraming(const IGTLReceiveFraming &) = delete;
    IGTLReceiveFraming &operator=(const IGTLReceiveFraming &) = delete;

    /** Takes effect at the next header; capped at what OpenIGTLink's int lengths hold. */
    void SetMaximumBodySize(std::uint64_t bytes);

    /** Never empty. */
    Window NextWindow();

    /** `bytes` (at least 1, at most the window's length) were written to, or discarded for, NextWindow(). */
    Status Received(std::size_t bytes);

    /** Copies bytes into the stream until a message ends or they are used up; `consumed` tells how many were taken. */
    Status Feed(const void *data, std::size_t length, std::size_t &consumed);

    /** The message or request of the last Message or Request result (once; null afterwards). */
    igtl::MessageBase::Pointer TakeMessage();

    /** Why the stream broke (the last Broken result). */
    const std::string &GetFailure() const { return m_Failure; }

    /** True between the first byte of a message and its last. */
    bool InMessage() const { return m_Phase != Phase::Header || m_HeaderBytes > 0; }

    /** When bytes last arrived (Received or Feed). */
    std::chrono::steady_clock::time_point GetLastProgress() const { return m_LastProgress; }

    const std::string &GetPeer() const { return m_Peer; }

    /** Breaks the stream from outside (a stall, say): logs the reason as Broken does, resets, and returns Broken. */
    Status Fail(const std::string &reason);

    /** Forgets the message in progress. */
    void Reset();

  private:
    enum class Phase
    {
      Header, ///< waiting for, or in the middle of, the header bytes
      Body,   ///< reading the announced body into the message
      Skip    ///< discarding the announced body
    };

    Status HeaderComplete();
    Status BodyComplete();
    Status SkipComplete();
    Status StartSkip(Status afterSkip);

    IGTLMessageFactory::Pointer m_Factory;
    std::string m_Peer;
    std::uint64_t m_MaximumBodySize;

    Phase m_Phase = Phase::Header;
    unsigned char m_HeaderBuffer[IGTL_HEADER_SIZE] = {};
    std::size_t m_HeaderBytes = 0;
    igtl::MessageBase::Pointer m_Header;  ///< reused for the headers of messages the factory makes
    igtl::MessageBase::Pointer m_Message; ///< the message being read, or the one ready to be taken
    unsigned char *m_Body = nullptr;
    std::uint64_t m_BodySize = 0;
    std::uint64_t m_BodyBytes = 0;
    std::uint64_t m_AnnouncedCrc = 0;
    std::uint64_t m_Crc = 0;
    Status m_AfterSkip = Status::Skipped;
    std::chrono::steady_clock::time_point m_LastProgress;
    std::string m_Failure;
  };
}

#endif
