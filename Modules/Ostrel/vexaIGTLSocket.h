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
//  - several sockets can be waited for at once, without allocating per wait.
//
// The OpenIGTLink protocol itself (headers, packing, CRC, byte order) stays
// OpenIGTLink's; this layer moves bytes only.

#include "OstrelExports.h"

#include <igtlClientSocket.h>
#include <igtlMessageBase.h>
#include <igtlServerSocket.h>
#include <igtl_header.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

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

  class IGTLReceiveFraming;

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
    IGTLSocketResult ReceiveExactly(void *data,
                                    std::uint64_t length,
                                    int stallTimeoutMilliseconds,
                                    int wakeDescriptor = -1);

    /**
     * Writes exactly `length` bytes; gives up when no byte can be written for
     * `stallTimeoutMilliseconds`. `sent` (if given) receives the number of
     * bytes written, so that the caller knows whether a message was cut.
     */
    IGTLSocketResult SendExactly(const void *data,
                                 std::uint64_t length,
                                 int stallTimeoutMilliseconds,
                                 int wakeDescriptor = -1,
                                 std::uint64_t *sent = nullptr);

    /** Waits until something can be read (data, close or error): Done, TimedOut or Interrupted. */
    IGTLSocketResult WaitReadable(int timeoutMilliseconds, int wakeDescriptor = -1);

    /**
     * Ends the connection in both directions but keeps the descriptor, so that
     * another thread still reading or writing it gets "closed" instead of
     * touching a reused descriptor. Safe while other threads use the socket.
     */
    void Shutdown();

    /** Releases the descriptor. Only when no other thread uses the socket any more. */
    void Close();

    /**
     * "address:port" of the peer, or "unknown". Taken when the connection is
     * made (connected or accepted), so that it still names the peer once the
     * peer has gone (a reset connection answers no address any more).
     */
    std::string GetPeerText() const;

    /**
     * How the bytes arriving on this connection are cut into messages: made by
     * the device that reads the connection first, gone when it is closed.
     */
    IGTLReceiveFraming *GetReceiveFraming() const { return m_ReceiveFraming.get(); }
    void SetReceiveFraming(std::unique_ptr<IGTLReceiveFraming> framing);

  protected:
    IGTLClientSocket();
    ~IGTLClientSocket();
    void PrintSelf(std::ostream &os) const; // OpenIGTLink's macros mark nothing override

  private:
    void TakeDescriptor(int descriptor);

    int m_Descriptor = -1; // ours to close, even after OpenIGTLink's CloseSocket() forgot it
    std::string m_Peer;    // set with the descriptor, before the socket is shared
    std::unique_ptr<IGTLReceiveFraming> m_ReceiveFraming;
  };

  /**
   * Wake-up descriptors and sockets waited for together. Kept from one wait
   * to the next, so that waiting allocates nothing; filled again only when
   * the sockets change. The sockets must stay alive while they are in the set.
   */
  class OSTREL_EXPORT IGTLPollSet
  {
  public:
    /** Empties the set and puts the wake-up descriptors (negative ones are ignored) in it. */
    void Reset(std::initializer_list<int> wakeDescriptors);
    void AddSocket(const IGTLClientSocket *socket);
    std::size_t GetNumberOfSockets() const { return m_Descriptors.size() - m_WakeDescriptors; }

    /**
     * Waits until a socket can be read (data, close or error): Done when at
     * least one can (IsReadable), TimedOut, Interrupted when a wake-up
     * descriptor was raised, Failed.
     */
    IGTLSocketResult Wait(int timeoutMilliseconds);

    /** After Wait: whether socket `index` (in the order added) can be read. */
    bool IsReadable(std::size_t index) const;

  private:
    std::vector<pollfd> m_Descriptors; // wake-up descriptors first, then the sockets
    std::size_t m_WakeDescriptors = 0;
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
    IGTLClientSocket::Pointer WaitForConnection(unsigned long milliseconds,
                                                int wakeDescriptor = -1,
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
