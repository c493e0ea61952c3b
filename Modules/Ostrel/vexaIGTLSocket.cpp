#include "vexaIGTLSocket.h"

#include "vexaIGTLReceiveFraming.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
  using Clock = std::chrono::steady_clock;

  int MillisecondsLeft(Clock::time_point deadline)
  {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
  }

  Clock::time_point DeadlineIn(int milliseconds)
  {
    return Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
  }

  /** poll() that survives signals; a negative time-out waits for ever. */
  int PollRetrying(pollfd *fds, nfds_t count, int timeoutMilliseconds)
  {
    if (timeoutMilliseconds < 0)
    {
      for (;;)
      {
        const int r = ::poll(fds, count, -1);
        if (r >= 0 || errno != EINTR)
          return r;
      }
    }
    const Clock::time_point deadline = DeadlineIn(timeoutMilliseconds);
    for (;;)
    {
      const int r = ::poll(fds, count, MillisecondsLeft(deadline));
      if (r >= 0 || errno != EINTR)
        return r;
    }
  }

  // Largest single transfer handed to the kernel; lengths of this layer are 64-bit.
  constexpr std::uint64_t MaximumChunk = std::uint64_t(1) << 30;

  /** "address:port" of the peer of a connected descriptor, or "unknown". */
  std::string PeerOf(int descriptor)
  {
    sockaddr_in address;
    socklen_t length = sizeof(address);
    if (descriptor < 0 || ::getpeername(descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        address.sin_family != AF_INET)
      return "unknown";
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
  }

  void CloseDescriptor(int descriptor)
  {
    if (descriptor < 0)
      return;
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    ::close(descriptor);
  }
}

namespace vexa
{
  const char *ToString(IGTLSocketResult result)
  {
    switch (result)
    {
      case IGTLSocketResult::Done:
        return "done";
      case IGTLSocketResult::TimedOut:
        return "timed out";
      case IGTLSocketResult::Interrupted:
        return "interrupted";
      case IGTLSocketResult::Closed:
        return "connection closed";
      case IGTLSocketResult::Failed:
        return "connection failed";
    }
    return "unknown";
  }

  // ---------------------------------------------------------------- wake-up signal

  IGTLWakeUpSignal::IGTLWakeUpSignal() : m_Descriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  IGTLWakeUpSignal::~IGTLWakeUpSignal() { CloseDescriptor(m_Descriptor); }

  void IGTLWakeUpSignal::Raise()
  {
    const std::uint64_t one = 1;
    // A full counter (never reached in practice) is still raised, so the result does not matter.
    [[maybe_unused]] const ssize_t written = ::write(m_Descriptor, &one, sizeof(one));
  }

  void IGTLWakeUpSignal::Clear()
  {
    std::uint64_t value = 0;
    while (::read(m_Descriptor, &value, sizeof(value)) > 0)
    {
    }
  }

  // ---------------------------------------------------------------- connected socket

  IGTLClientSocket::IGTLClientSocket() = default;

  IGTLClientSocket::~IGTLClientSocket() { Close(); }

  void IGTLClientSocket::TakeDescriptor(int descriptor)
  {
    Close();
    m_Descriptor = descriptor;
    this->m_SocketDescriptor = descriptor;
    const int flags = ::fcntl(descriptor, F_GETFD);
    if (flags >= 0)
      ::fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC);
    // Messages are written whole; waiting for more data to fill a segment only adds latency.
    // (Fails harmlessly on socket pairs.)
    const int one = 1;
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    m_Peer = PeerOf(descriptor);
  }

  IGTLClientSocket::Pointer IGTLClientSocket::Adopt(int descriptor)
  {
    Pointer socket = New();
    if (descriptor >= 0)
      socket->TakeDescriptor(descriptor);
    return socket;
  }

  int IGTLClientSocket::ConnectToServer(const char *hostname, int port, int timeoutMilliseconds)
  {
    Close();
    if (hostname == nullptr || *hostname == '\0' || port < 0 || port > 65535)
      return -1;

    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET; // OpenIGTLink peers are addressed by IPv4, as OpenIGTLink does
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *addresses = nullptr;
    if (::getaddrinfo(hostname, std::to_string(port).c_str(), &hints, &addresses) != 0 || addresses == nullptr)
      return -1;

    const Clock::time_point deadline = DeadlineIn(timeoutMilliseconds);
    int connected = -1;
    for (addrinfo *a = addresses; a != nullptr && connected < 0; a = a->ai_next)
    {
      const int fd = ::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd < 0)
        continue;
      int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
      if (r != 0 && (errno == EINPROGRESS || errno == EINTR))
      {
        pollfd p = {fd, POLLOUT, 0};
        r = -1;
        if (PollRetrying(&p, 1, MillisecondsLeft(deadline)) == 1)
        {
          int error = 0;
          socklen_t length = sizeof(error);
          if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
            r = 0;
        }
      }
      if (r == 0)
      {
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        connected = fd;
      }
      else
      {
        CloseDescriptor(fd);
      }
    }
    ::freeaddrinfo(addresses);
    if (connected < 0)
      return -1;
    TakeDescriptor(connected);
    return 0;
  }

  IGTLClientSocket::Transfer IGTLClientSocket::ReceiveAvailable(void *data, std::size_t length)
  {
    if (m_Descriptor < 0)
      return {IGTLSocketResult::Failed, 0};
    if (length == 0)
      return {IGTLSocketResult::Done, 0};
    unsigned char discard[16384];
    void *target = data != nullptr ? data : discard;
    std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, MaximumChunk));
    if (data == nullptr)
      wanted = std::min(wanted, sizeof(discard));
    for (;;)
    {
      const ssize_t n = ::recv(m_Descriptor, target, wanted, MSG_DONTWAIT);
      if (n > 0)
        return {IGTLSocketResult::Done, static_cast<std::size_t>(n)};
      if (n == 0)
        return {IGTLSocketResult::Closed, 0};
      if (errno == EINTR)
        continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK)
        return {IGTLSocketResult::TimedOut, 0};
      return {IGTLSocketResult::Failed, 0};
    }
  }

  IGTLSocketResult IGTLClientSocket::WaitReadable(int timeoutMilliseconds, int wakeDescriptor)
  {
    pollfd fds[2] = {{m_Descriptor, POLLIN, 0}, {wakeDescriptor, POLLIN, 0}};
    const int r = PollRetrying(fds, 2, timeoutMilliseconds); // negative descriptors are ignored
    if (r < 0)
      return IGTLSocketResult::Failed;
    if (fds[1].revents != 0)
      return IGTLSocketResult::Interrupted;
    return (fds[0].fd >= 0 && fds[0].revents != 0) ? IGTLSocketResult::Done : IGTLSocketResult::TimedOut;
  }

  IGTLSocketResult IGTLClientSocket::ReceiveExactly(void *data,
                                                    std::uint64_t length,
                                                    int stallTimeoutMilliseconds,
                                                    int wakeDescriptor)
  {
    auto *bytes = static_cast<unsigned char *>(data);
    std::uint64_t done = 0;
    Clock::time_point deadline = DeadlineIn(stallTimeoutMilliseconds);
    while (done < length)
    {
      const Transfer t = ReceiveAvailable(bytes != nullptr ? bytes + done : nullptr,
                                          static_cast<std::size_t>(std::min(length - done, MaximumChunk)));
      if (t.result == IGTLSocketResult::Done)
      {
        done += t.bytes;
        deadline = DeadlineIn(stallTimeoutMilliseconds);
        continue;
      }
      if (t.result != IGTLSocketResult::TimedOut)
        return t.result;
      const int left = MillisecondsLeft(deadline);
      if (left <= 0)
        return IGTLSocketResult::TimedOut;
      const IGTLSocketResult w = WaitReadable(left, wakeDescriptor);
      if (w == IGTLSocketResult::Interrupted || w == IGTLSocketResult::Failed)
        return w;
    }
    return IGTLSocketResult::Done;
  }

  IGTLSocketResult IGTLClientSocket::SendExactly(
    const void *data, std::uint64_t length, int stallTimeoutMilliseconds, int wakeDescriptor, std::uint64_t *sent)
  {
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::uint64_t done = 0;
    Clock::time_point deadline = DeadlineIn(stallTimeoutMilliseconds);
    IGTLSocketResult result = IGTLSocketResult::Done;
    if (m_Descriptor < 0)
      result = IGTLSocketResult::Failed;
    while (result == IGTLSocketResult::Done && done < length)
    {
      const ssize_t n =
        ::send(m_Descriptor, bytes + done, static_cast<std::size_t>(std::min(length - done, MaximumChunk)),
               MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0)
      {
        done += static_cast<std::uint64_t>(n);
        deadline = DeadlineIn(stallTimeoutMilliseconds);
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      {
        const int left = MillisecondsLeft(deadline);
        if (left <= 0)
        {
          result = IGTLSocketResult::TimedOut;
          break;
        }
        pollfd fds[2] = {{m_Descriptor, POLLOUT, 0}, {wakeDescriptor, POLLIN, 0}};
        const int r = PollRetrying(fds, wakeDescriptor >= 0 ? 2 : 1, left);
        if (r < 0)
          result = IGTLSocketResult::Failed;
        else if (wakeDescriptor >= 0 && fds[1].revents != 0)
          result = IGTLSocketResult::Interrupted;
        continue; // an error or hang-up shows in the next send()
      }
      result = (n < 0 && errno == EPIPE) ? IGTLSocketResult::Closed : IGTLSocketResult::Failed;
    }
    if (sent != nullptr)
      *sent = done;
    return result;
  }

  void IGTLClientSocket::Shutdown()
  {
    if (m_Descriptor >= 0)
      ::shutdown(m_Descriptor, SHUT_RDWR);
  }

  void IGTLClientSocket::Close()
  {
    CloseDescriptor(m_Descriptor);
    m_Descriptor = -1;
    this->m_SocketDescriptor = -1;
    m_ReceiveFraming.reset();
    m_Peer.clear();
  }

  void IGTLClientSocket::SetReceiveFraming(std::unique_ptr<IGTLReceiveFraming> framing)
  {
    m_ReceiveFraming = std::move(framing);
  }

  std::string IGTLClientSocket::GetPeerText() const
  {
    // taken with the descriptor; one that had no address then (a socket pair) is asked now
    return m_Peer.empty() || m_Peer == "unknown" ? PeerOf(m_Descriptor) : m_Peer;
  }

  void IGTLClientSocket::PrintSelf(std::ostream &os) const
  {
    Superclass::PrintSelf(os);
    os << "  Peer: " << GetPeerText() << "\n";
  }

  // ---------------------------------------------------------------- poll set

  void IGTLPollSet::Reset(std::initializer_list<int> wakeDescriptors)
  {
    m_Descriptors.clear();
    for (int w : wakeDescriptors)
      m_Descriptors.push_back(pollfd{w, POLLIN, 0});
    m_WakeDescriptors = m_Descriptors.size();
  }

  void IGTLPollSet::AddSocket(const IGTLClientSocket *socket)
  {
    m_Descriptors.push_back(pollfd{socket != nullptr ? socket->GetDescriptor() : -1, POLLIN, 0});
  }

  IGTLSocketResult IGTLPollSet::Wait(int timeoutMilliseconds)
  {
    for (pollfd &p : m_Descriptors)
      p.revents = 0;
    const int r = PollRetrying(m_Descriptors.data(), m_Descriptors.size(), timeoutMilliseconds);
    if (r < 0)
      return IGTLSocketResult::Failed;
    for (std::size_t i = 0; i < m_WakeDescriptors; ++i)
      if (m_Descriptors[i].revents != 0)
        return IGTLSocketResult::Interrupted;
    for (std::size_t i = m_WakeDescriptors; i < m_Descriptors.size(); ++i)
      if (m_Descriptors[i].fd >= 0 && m_Descriptors[i].revents != 0)
        return IGTLSocketResult::Done;
    return IGTLSocketResult::TimedOut;
  }

  bool IGTLPollSet::IsReadable(std::size_t index) const
  {
    const std::size_t i = m_WakeDescriptors + index;
    return i < m_Descriptors.size() && m_Descriptors[i].fd >= 0 && m_Descriptors[i].revents != 0;
  }

  // ---------------------------------------------------------------- listening socket

  IGTLServerSocket::IGTLServerSocket() = default;

  IGTLServerSocket::~IGTLServerSocket() { Close(); }

  int IGTLServerSocket::CreateServer(int port)
  {
    Close();
    if (port < 0 || port > 65535)
      return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
      return -1;
    // Without it a port whose server was just closed cannot be bound again while
    // its old connections linger in TIME_WAIT. It does not allow two listeners.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 || ::listen(fd, SOMAXCONN) != 0)
    {
      CloseDescriptor(fd);
      return -1;
    }
    m_Descriptor = fd;
    this->m_SocketDescriptor = fd;
    return 0;
  }

  int IGTLServerSocket::GetServerPort()
  {
    sockaddr_in address;
    socklen_t length = sizeof(address);
    if (m_Descriptor < 0 || ::getsockname(m_Descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0)
      return -1;
    return ntohs(address.sin_port);
  }

  IGTLClientSocket::Pointer IGTLServerSocket::WaitForConnection(unsigned long milliseconds,
                                                                int wakeDescriptor,
                                                                int socketTimeoutMilliseconds)
  {
    if (m_Descriptor < 0)
      return nullptr;
    pollfd fds[2] = {{m_Descriptor, POLLIN, 0}, {wakeDescriptor, POLLIN, 0}};
    const int timeout = static_cast<int>(std::min<unsigned long>(milliseconds, 1u << 30));
    const Clock::time_point deadline = DeadlineIn(timeout);
    const int r = PollRetrying(fds, wakeDescriptor >= 0 ? 2 : 1, timeout);
    if (r <= 0 || (wakeDescriptor >= 0 && fds[1].revents != 0) || fds[0].revents == 0)
      return nullptr;
    const int fd = ::accept4(m_Descriptor, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
    {
      // Out of descriptors: the pending connection stays readable, so rest for
      // the rest of the wait instead of spinning on it.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        std::this_thread::sleep_for(std::chrono::milliseconds(MillisecondsLeft(deadline)));
      return nullptr;
    }
    IGTLClientSocket::Pointer client = IGTLClientSocket::Adopt(fd);
    // An accepted socket does not inherit a time-out set on the listener after it was created.
    client->SetTimeout(socketTimeoutMilliseconds);
    return client;
  }

  void IGTLServerSocket::Close()
  {
    CloseDescriptor(m_Descriptor);
    m_Descriptor = -1;
    this->m_SocketDescriptor = -1;
  }

  void CloseIGTLSocket(igtl::Socket *socket)
  {
    if (socket == nullptr)
      return;
    if (auto *client = dynamic_cast<IGTLClientSocket *>(socket))
      client->Close();
    else if (auto *server = dynamic_cast<IGTLServerSocket *>(socket))
      server->Close();
    else
      socket->CloseSocket();
  }
}
