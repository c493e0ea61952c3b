#ifndef vexaIGTLSocket_h
#define vexaIGTLSocket_h

// The one socket layer of the tree: OpenIGTLink's socket classes, extended
// where they fall short for a device that must survive hostile peers and be
// opened and closed many times in one process:
//
//  - closing really releases the descriptor (OpenIGTLink only shuts it down),
//    and the destructor does so too, whoever closed the socket before;
//  - a listening socket sets SO_REUSEADDR, so that a closed server's port can
//    be bound again at once, and has a real listen backlog;
//  - every connected socket (client end, accepted end) gets a receive and send
//    time-out, close-on-exec and TCP_NODELAY;
//  - connecting has a time-out;
//  - reads and writes never block: they take what is there, wait with poll()
//    up to a deadline, can be woken by a signal descriptor, and use 64-bit
//    lengths;
//  - several sockets can be waited for at once.
//
// The OpenIGTLink protocol itself (headers, packing, CRC, byte order) stays
// OpenIGTLink's; this layer moves bytes only.

#include "OstrelExports.h"

#include <igtlClientSocket.h>
#include <igtlMessageBase.h>
#include <igtlServerSocket.h>
#include <igtl_header.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexa
{
  /** Outcome of a socket operation of this layer. */
  enum class IGTLSocketResult
  {
    Done,        ///< everything asked for was done
    TimedOut,    ///< the deadline passed first
    Interrupted, ///< the wake-up descriptor was signalled first
    Closed,      ///< the peer closed the connection (or this side shut it down)
    Failed       ///< any other error (reset, not connected, ...)
  };

  OSTREL_EXPORT const char *ToString(IGTLSocketResult result);

  /**
   * How far the message currently arriving on a connection has got. It lives
   * with the connection, so that one message can arrive over several reads
   * and its progress goes away with the connection. Filled and read only by
   * the device's receive path (vexa::IGTLDevice).
   */
  struct IGTLReceiveProgress
  {
    enum class Phase
    {
      Header, ///< waiting for, or in the middle of, the 58 header bytes
      Body,   ///< reading the announced body into Message
      Skip    ///< discarding the announced body
    };
    Phase phase = Phase::Header;
    unsigned char header[IGTL_HEADER_SIZE] = {};
    std::size_t headerBytes = 0;
    igtl::MessageBase::Pointer headerMessage; ///< the unpacked header
    igtl::MessageBase::Pointer message;       ///< the message whose body is being read
    std::uint64_t bodySize = 0;
    std::uint64_t bodyBytes = 0;
    std::uint64_t announcedCrc = 0; ///< the header's CRC of the body
    std::uint64_t crc = 0;          ///< CRC of the body bytes read so far
    unsigned int statusAfterSkip = 0;            ///< what a finished skip returns
    bool commandAfterSkip = false;               ///< a skipped body belonged to a GET_/STP_/RTS_ request
    std::chrono::steady_clock::time_point lastProgress;

    /** True between the first byte of a message and its last. */
    bool InMessage() const { return phase != Phase::Header || headerBytes > 0; }
    void Reset() { *this = IGTLReceiveProgress(); }
  };

  /** A descriptor that wakes waiting socket calls when raised (an eventfd). */
  class OSTREL_EXPORT IGTLWakeUpSignal
  {
  public:
    IGTLWakeUpSignal();
    ~IGTLWakeUpSignal();
    IGTLWakeUpSignal(const IGTLWakeUpSignal &) = delete;
    IGTLWakeUpSignal &operator=(const IGTLWakeUpSignal &) = delete;

    /** Wakes every present and future wait on this signal until Clear(). */
    void Raise();
    void Clear();
    int GetDescriptor() const { return m_Descriptor; }

  private:
    int m_Descriptor;
  };

  /** A connected stream socket: the client end of a connection, or a connection accepted by a server. */
  class OSTREL_EXPORT IGTLClientSocket : public igtl::ClientSocket
  {
  public:
    typedef IGTLClientSocket Self;
    typedef igtl::ClientSocket Superclass;
    typedef igtl::SmartPointer<Self> Pointer;
    typedef igtl::SmartPointer<const Self> ConstPointer;
    igtlTypeMacro(vexa::IGTLClientSocket, igtl::ClientSocket);
    igtlNewMacro(vexa::IGTLClientSocket);

    static constexpr int DefaultConnectTimeoutMilliseconds = 5000;

    /**
     * Connects to host:port (IPv4, name or dotted address), giving up after the
     * time-out. Returns 0 on success and -1 on failure, as OpenIGTLink does;
     * unlike OpenIGTLink's it prints nothing and never waits for the kernel's
     * minutes-long connect time-out.
     */
    int ConnectToServer(const char *hostname, int port, int timeoutMilliseconds = DefaultConnectTimeoutMilliseconds);

    /** Takes over an already connected descriptor (an accepted connection, one end of a socket pair). */
    static Pointer Adopt(int descriptor);

    int GetDescriptor() const { return m_Descriptor; }
    bool IsOpen() const { return m_Descriptor >= 0; }

    /** Result of one non-blocking transfer: how many bytes moved, and why it stopped if it moved none. */
    struct Transfer
    {
      IGTLSocketResult result;
      std::size_t bytes;
    };

    /**
     * Reads what has already arrived, at most `length` bytes, without waiting.
     * `data` may be null to discard the bytes (skipping). Result Done with
     * bytes > 0, TimedOut with 0 bytes when nothing is waiting, Closed on an
     * orderly close, Failed on an error.
     */
    Transfer ReceiveAvailable(void *data, std::size_t length);

    /** Reads exactly `length` bytes; gives up when no byte arrives for `stallTimeoutMilliseconds`. */
    IGTLSocketResult ReceiveExactly(void *data, std::uint64_t length, int stallTimeoutMilliseconds,
                                    int wakeDescriptor = -1);

    /**
     * Writes exactly `length` bytes; gives up when no byte can be written for
     * `stallTimeoutMilliseconds`. `sent` (if given) receives the number of
     * bytes written, so that the caller knows whether a message was cut.
     */
    IGTLSocketResult SendExactly(const void *data, std::uint64_t length, int stallTimeoutMilliseconds,
                                 int wakeDescriptor = -1, std::uint64_t *sent = nullptr);

    /** Waits until something can be read (data, close or error): Done, TimedOut or Interrupted. */
    IGTLSocketResult WaitReadable(int timeoutMilliseconds, int wakeDescriptor = -1);

    /**
     * Waits for several sockets at once. `readable[i]` tells whether socket i
     * can be read (data, close or error). Done when at least one can,
     * TimedOut, or Interrupted when one of the wake-up descriptors was raised.
     */
    static IGTLSocketResult WaitReadable(const std::vector<Self *> &sockets, int timeoutMilliseconds,
                                         const std::vector<int> &wakeDescriptors, std::vector<bool> &readable);

    /**
     * Ends the connection in both directions but keeps the descriptor, so that
     * another thread still reading or writing it gets "closed" instead of
     * touching a reused descriptor. Safe while other threads use the socket.
     */
    void Shutdown();

    /** Releases the descriptor. Only when no other thread uses the socket any more. */
    void Close();

    /** "address:port" of the peer, or "unknown". */
    std::string GetPeerText() const;

    IGTLReceiveProgress &GetReceiveProgress() { return m_ReceiveProgress; }

  protected:
    IGTLClientSocket();
    ~IGTLClientSocket();
    void PrintSelf(std::ostream &os) const; // OpenIGTLink's macros mark nothing override


  private:
    void TakeDescriptor(int descriptor);

    int m_Descriptor = -1; // ours to close, even after OpenIGTLink's CloseSocket() forgot it
    IGTLReceiveProgress m_ReceiveProgress;
  };

  /** A listening socket. */
  class OSTREL_EXPORT IGTLServerSocket : public igtl::ServerSocket
  {
  public:
    typedef IGTLServerSocket Self;
    typedef igtl::ServerSocket Superclass;
    typedef igtl::SmartPointer<Self> Pointer;
    typedef igtl::SmartPointer<const Self> ConstPointer;
    igtlTypeMacro(vexa::IGTLServerSocket, igtl::ServerSocket);
    igtlNewMacro(vexa::IGTLServerSocket);

    /**
     * Listens on every interface at `port` (0: a port the system chooses, see
     * GetServerPort). Returns 0 on success, -1 on failure, as OpenIGTLink does.
     */
    int CreateServer(int port);

    /** The port actually listened on, or -1. */
    int GetServerPort();

    /**
     * Waits up to `milliseconds` for a client and accepts it; null when none
     * came or the wake-up descriptor was raised. The accepted socket has the
     * receive and send time-out `socketTimeoutMilliseconds`.
     */
    IGTLClientSocket::Pointer WaitForConnection(unsigned long milliseconds, int wakeDescriptor = -1,
                                                int socketTimeoutMilliseconds = 100);

    int GetDescriptor() const { return m_Descriptor; }
    void Close();

  protected:
    IGTLServerSocket();
    ~IGTLServerSocket();

  private:
    int m_Descriptor = -1;
  };

  /** Closes (really) a socket of this layer given by its OpenIGTLink base; other sockets get OpenIGTLink's CloseSocket(). */
  OSTREL_EXPORT void CloseIGTLSocket(igtl::Socket *socket);
}

#endif
