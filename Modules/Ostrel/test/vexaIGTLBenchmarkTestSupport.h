#ifndef vexaIGTLBenchmarkTestSupport_h
#define vexaIGTLBenchmarkTestSupport_h

// Pieces of the Ostrel benchmarks: the yardstick (raw loopback TCP moving
// the same bytes, with nothing but send() and recv()), arrival counting,
// allocation counting, and the figures one benchmark leaves for another
// of the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexa
{
  namespace bench
  {
    /** Counts arrivals and lets a thread wait for a count. */
    class Arrivals
    {
    public:
      void Arrived(long long n = 1)
      {
        {
          std::lock_guard<std::mutex> lock(m_Mutex);
          m_Count += n;
        }
        m_Changed.notify_all();
      }
      bool WaitFor(long long count)
      {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_Count >= count; });
      }
      long long Count()
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Count;
      }

    private:
      std::mutex m_Mutex;
      std::condition_variable m_Changed;
      long long m_Count = 0;
    };

    /** Messages per second of one benchmark, for the ratio of a later one in the same run. */
    inline std::map<std::string, double> &Rates()
    {
      static std::map<std::string, double> rates;
      return rates;
    }

    /** Reports `rate` as messages_per_s, remembers it under `key`, and its ratio to the rate under `reference`. */
    inline void ReportRate(benchmark::State &state, const std::string &key, double rate, const std::string &reference)
    {
      state.counters["messages_per_s"] = rate;
      Rates()[key] = rate;
      const auto it = Rates().find(reference);
      if (!reference.empty() && it != Rates().end() && it->second > 0)
        state.counters["x_raw_tcp"] = rate / it->second;
    }

    /** Allocations (operator new) made on the calling thread so far; counted by the benchmark program. */
    std::uint64_t AllocationsOnThisThread();

    /**
     * One loopback TCP connection of plain sockets: a sender writing frames of
     * `frameBytes` and a reading thread that only counts them.
     */
    class RawTcpLink
    {
    public:
      explicit RawTcpLink(std::size_t frameBytes) : m_FrameBytes(frameBytes)
      {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address;
        std::memset(&address, 0, sizeof(address));
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address));
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_Sender = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(m_Sender, reinterpret_cast<sockaddr *>(&address), sizeof(address));
        m_Receiver = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        const int one = 1;
        ::setsockopt(m_Sender, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        m_Reading = std::thread([this] { Read(); });
      }

      ~RawTcpLink()
      {
        ::shutdown(m_Sender, SHUT_RDWR);
        m_Reading.join();
        ::close(m_Sender);
        ::close(m_Receiver);
      }

      bool Send(const unsigned char *frame)
      {
        std::size_t done = 0;
        while (done < m_FrameBytes)
        {
          const ssize_t n = ::send(m_Sender, frame + done, m_FrameBytes - done, MSG_NOSIGNAL);
          if (n <= 0)
            return false;
          done += static_cast<std::size_t>(n);
        }
        return true;
      }

      Arrivals arrivals;

    private:
      void Read()
      {
        std::vector<unsigned char> buffer(1 << 20);
        std::size_t inFrame = 0;
        for (;;)
        {
          const ssize_t n = ::recv(m_Receiver, buffer.data(), buffer.size(), 0);
          if (n <= 0)
            return;
          inFrame += static_cast<std::size_t>(n);
          if (inFrame >= m_FrameBytes)
          {
            arrivals.Arrived(static_cast<long long>(inFrame / m_FrameBytes));
            inFrame %= m_FrameBytes;
          }
        }
      }

      std::size_t m_FrameBytes;
      int m_Sender = -1;
      int m_Receiver = -1;
      std::thread m_Reading;
    };

    /**
     * Frames of `frameBytes` from one sending thread (the caller) to `links`
     * connections, with up to `inFlight` frames on their way; frames per second.
     */
    inline double RawTcpRate(benchmark::State &state, std::size_t frameBytes, int links, int inFlight)
    {
      std::vector<std::unique_ptr<RawTcpLink>> all;
      for (int i = 0; i < links; ++i)
        all.emplace_back(new RawTcpLink(frameBytes));
      std::vector<unsigned char> frame(frameBytes, 0x5a);
      long long sent = 0;
      const auto start = std::chrono::steady_clock::now();
      for (auto _ : state)
      {
        for (auto &link : all)
        {
          if (sent >= inFlight && !link->arrivals.WaitFor(sent - inFlight + 1))
            state.SkipWithError("frames did not arrive");
          link->Send(frame.data());
        }
        ++sent;
      }
      for (auto &link : all)
        link->arrivals.WaitFor(sent);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      return static_cast<double>(sent) / seconds;
    }
  }
}

#endif
