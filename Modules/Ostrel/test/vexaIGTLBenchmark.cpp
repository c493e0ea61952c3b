// Loopback image streaming through the devices, side by side with raw
// loopback TCP moving the same bytes in the same run (its ratio is reported as
// x_raw_tcp) and with a plain loop over OpenIGTLink's own sockets and
// packing; fan-out from a server to several clients; CPU of an idle connected
// device; allocations per received message.
//
// Latency is from SendMessage (or the plain loop's Send) to the moment the
// receiver has the whole message checked and unpacked (MessageReceivedEvent),
// one message in flight at a time; throughput keeps up to four in flight.

#include "vexaIGTLBenchmarkTestSupport.h"
#include "vexaIGTLTestSupport.h"

#include <vexaIGTLCrc64.h>
#include <vorlenLogSink.h>

#include <igtl_util.h>

#include <benchmark/benchmark.h>

#include <igtlClientSocket.h>
#include <igtlServerSocket.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <new>

using namespace vexa;
using namespace vexa::test;
using vexa::bench::Arrivals;

// Every allocation of the program is counted, per thread.
namespace
{
  thread_local std::uint64_t t_Allocations = 0;
}

void *operator new(std::size_t size)
{
  ++t_Allocations;
  if (void *p = std::malloc(size != 0 ? size : 1))
    return p;
  throw std::bad_alloc();
}

void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

std::uint64_t vexa::bench::AllocationsOnThisThread() { return t_Allocations; }

namespace
{
  using Clock = std::chrono::steady_clock;

  struct ImageSize
  {
    int x, y, z, scalarType;
    const char *name;
  };
  const ImageSize Sizes[] = {{640, 480, 1, igtl::ImageMessage::TYPE_UINT8, "640x480 8-bit"},
                             {1024, 1024, 1, igtl::ImageMessage::TYPE_UINT16, "1024x1024 16-bit"},
                             {256, 256, 64, igtl::ImageMessage::TYPE_FLOAT32, "256x256x64 float (16 MiB)"}};
  constexpr int InFlight = 4;

  std::size_t PackSizeOf(const ImageSize &size)
  {
    igtl::ImageMessage::Pointer image = MakeImage(size.x, size.y, size.z, size.scalarType);
    image->Pack();
    return static_cast<std::size_t>(image->GetPackSize());
  }

  void ReportLatencies(benchmark::State &state, std::vector<double> &microseconds)
  {
    if (microseconds.empty())
      return;
    std::sort(microseconds.begin(), microseconds.end());
    state.counters["p50_us"] = microseconds[microseconds.size() / 2];
    state.counters["p99_us"] = microseconds[std::min(microseconds.size() - 1, microseconds.size() * 99 / 100)];
  }

  double Microseconds(Clock::time_point from, Clock::time_point to)
  {
    return std::chrono::duration<double, std::micro>(to - from).count();
  }

  /** A server with `clients` clients, all running; arrivals counted on every client and on the server. */
  struct Network
  {
    IGTLServer::Pointer server;
    std::vector<IGTLClient::Pointer> clients;
    Arrivals atServer, atClients;
    std::vector<std::unique_ptr<EventCounter>> observers;
    // Allocations of the server's receiving thread, read in its observer.
    std::atomic<std::uint64_t> firstAllocations{0}, lastAllocations{0};
    std::atomic<long long> counted{0};

    explicit Network(int clientCount)
    {
      server = StartServer();
      for (int i = 0; i < clientCount; ++i)
        clients.push_back(StartClient(server->GetPortNumber()));
      WaitUntil([&] { return server->GetNumberOfConnections() == static_cast<unsigned int>(clientCount); });
      observers.emplace_back(new EventCounter(server, MessageReceivedEvent(), [this] {
        const std::uint64_t allocations = vexa::bench::AllocationsOnThisThread();
        if (counted++ == 0)
          firstAllocations = allocations;
        lastAllocations = allocations;
        atServer.Arrived();
      }));
      for (auto &c : clients)
      {
        c->EnableNoBufferingMode(false);
        observers.emplace_back(new EventCounter(c, MessageReceivedEvent(), [this] { atClients.Arrived(); }));
      }
      server->EnableNoBufferingMode(false);
    }
    ~Network()
    {
      observers.clear();
      for (auto &c : clients)
        c->CloseConnection();
      server->CloseConnection();
    }

    /** Allocations of the receiving thread per message received by the server, between the first and the last. */
    double AllocationsPerReceivedMessage() const
    {
      const long long n = counted.load();
      return n > 1 ? static_cast<double>(lastAllocations - firstAllocations) / static_cast<double>(n - 1) : 0.0;
    }
  };

  void DrainImages(IGTLDevice *device)
  {
    while (device->GetNextImage2dMessage().IsNotNull() || device->GetNextImage3dMessage().IsNotNull())
    {
    }
  }
}

// ----------------------------------------------------------------- the CRC of message bodies

static void BM_Crc64(benchmark::State &state)
{
  std::vector<unsigned char> body(16 << 20);
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
  std::uint64_t crc = 0;
  switch (state.range(0))
  {
    case 0:
      state.SetLabel("OpenIGTLink's crc64");
      for (auto _ : state)
        crc = crc64(body.data(), body.size(), crc);
      break;
    case 1:
      state.SetLabel("slice-by-8");
      for (auto _ : state)
        crc = IGTLCrc64Implementations::SliceBy8(body.data(), body.size(), crc);
      break;
    default:
      state.SetLabel(IGTLCrc64Implementations::HasCarryLessMultiply() ? "carry-less multiply"
                                                                      : "carry-less multiply (not on this CPU)");
      for (auto _ : state)
        crc = IGTLCrc64Implementations::CarryLessMultiply(body.data(), body.size(), crc);
      break;
  }
  benchmark::DoNotOptimize(crc);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_Crc64)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// ----------------------------------------------------------------- the yardstick: raw loopback TCP

static void BM_RawTcpThroughput(benchmark::State &state)
{
  const ImageSize size = Sizes[state.range(0)];
  state.SetLabel(size.name);
  const std::size_t bytes = PackSizeOf(size);
  const double rate = vexa::bench::RawTcpRate(state, bytes, 1, InFlight);
  vexa::bench::ReportRate(state, "raw/" + std::to_string(state.range(0)), rate, "");
  state.counters["GB_per_s"] = rate * static_cast<double>(bytes) / 1e9;
}
BENCHMARK(BM_RawTcpThroughput)->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMicrosecond);

// ----------------------------------------------------------------- devices, client to server

static void BM_DeviceThroughput(benchmark::State &state)
{
  const ImageSize size = Sizes[state.range(0)];
  state.SetLabel(size.name);
  Network net(1);
  // distinct device names: none replaces another in the send list
  std::vector<IGTLMessage::Pointer> messages;
  for (int i = 0; i < InFlight; ++i)
    messages.push_back(
      IGTLMessage::New(MakeImage(size.x, size.y, size.z, size.scalarType, "Image" + std::to_string(i)).GetPointer()));
  long long sent = 0;
  const Clock::time_point start = Clock::now();
  for (auto _ : state)
  {
    if (sent >= InFlight && !net.atServer.WaitFor(sent - InFlight + 1))
      state.SkipWithError("messages did not arrive");
    net.clients[0]->SendMessage(messages[sent % InFlight]);
    ++sent;
    DrainImages(net.server);
  }
  net.atServer.WaitFor(sent);
  const double rate = static_cast<double>(sent) / std::chrono::duration<double>(Clock::now() - start).count();
  vexa::bench::ReportRate(state, "device/" + std::to_string(state.range(0)), rate,
                          "raw/" + std::to_string(state.range(0)));
  state.counters["GB_per_s"] = rate * static_cast<double>(messages[0]->GetMessage()->GetPackSize()) / 1e9;
  state.counters["allocs_per_received_msg"] = net.AllocationsPerReceivedMessage();
}
BENCHMARK(BM_DeviceThroughput)->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMicrosecond);

static void BM_DeviceLatency(benchmark::State &state)
{
  const ImageSize size = Sizes[state.range(0)];
  state.SetLabel(size.name);
  Network net(1);
  IGTLMessage::Pointer message = IGTLMessage::New(MakeImage(size.x, size.y, size.z, size.scalarType).GetPointer());
  std::vector<double> latencies;
  long long sent = 0;
  for (auto _ : state)
  {
    const Clock::time_point start = Clock::now();
    net.clients[0]->SendMessage(message);
    if (!net.atServer.WaitFor(++sent))
      state.SkipWithError("a message did not arrive");
    latencies.push_back(Microseconds(start, Clock::now()));
    DrainImages(net.server);
  }
  ReportLatencies(state, latencies);
}
BENCHMARK(BM_DeviceLatency)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

// ----------------------------------------------------------------- the plain loop over OpenIGTLink's sockets

namespace
{
  /** OpenIGTLink's own sockets, no device: a sender, and a receiving thread that reads, checks and unpacks. */
  struct PlainLink
  {
    igtl::ServerSocket::Pointer listener = igtl::ServerSocket::New();
    igtl::ClientSocket::Pointer sender = igtl::ClientSocket::New();
    igtl::ClientSocket::Pointer receiver;
    std::thread reading;
    std::atomic<bool> stop{false};
    Arrivals arrivals;

    PlainLink()
    {
      int port = 0;
      listener->CreateServer(0);
      port = listener->GetServerPort();
      sender->ConnectToServer("127.0.0.1", port);
      receiver = listener->WaitForConnection(10000);
      receiver->SetTimeout(100);
      reading = std::thread([this] { Read(); });
    }
    ~PlainLink()
    {
      stop = true;
      reading.join();
    }
    void Read()
    {
      igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
      while (!stop)
      {
        header->InitPack();
        if (receiver->Receive(header->GetPackPointer(), header->GetPackSize(), 1) != header->GetPackSize())
          continue; // time-out (between messages only, in this benchmark)
        header->Unpack();
        igtl::ImageMessage::Pointer image = igtl::ImageMessage::New();
        image->SetMessageHeader(header);
        image->AllocatePack();
        receiver->Receive(image->GetPackBodyPointer(), image->GetPackBodySize(), 1);
        image->Unpack(1);
        arrivals.Arrived();
      }
    }
  };
}

/** Each frame packed anew and sent; the receiver reads, checks and unpacks with OpenIGTLink alone. */
static void BM_PlainOpenIGTLinkThroughput(benchmark::State &state)
{
  const ImageSize size = Sizes[state.range(0)];
  state.SetLabel(size.name);
  PlainLink link;
  igtl::ImageMessage::Pointer image = MakeImage(size.x, size.y, size.z, size.scalarType);
  long long sent = 0;
  const Clock::time_point start = Clock::now();
  for (auto _ : state)
  {
    if (sent >= InFlight && !link.arrivals.WaitFor(sent - InFlight + 1))
      state.SkipWithError("messages did not arrive");
    image->Pack();
    link.sender->Send(image->GetPackPointer(), image->GetPackSize());
    ++sent;
  }
  link.arrivals.WaitFor(sent);
  const double rate = static_cast<double>(sent) / std::chrono::duration<double>(Clock::now() - start).count();
  vexa::bench::ReportRate(state, "plain/" + std::to_string(state.range(0)), rate,
                          "raw/" + std::to_string(state.range(0)));
}
BENCHMARK(BM_PlainOpenIGTLinkThroughput)->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMicrosecond);

// ----------------------------------------------------------------- fan-out from a server

static void BM_ServerFanOut(benchmark::State &state)
{
  const int clients = static_cast<int>(state.range(0));
  Network net(clients);
  IGTLMessage::Pointer message = IGTLMessage::New(MakeImage(640, 480, 1, igtl::ImageMessage::TYPE_UINT8).GetPointer());
  std::vector<double> latencies;
  long long expected = 0;
  for (auto _ : state)
  {
    const Clock::time_point start = Clock::now();
    net.server->SendMessage(message);
    expected += clients;
    if (!net.atClients.WaitFor(expected))
      state.SkipWithError("a client missed a message");
    latencies.push_back(Microseconds(start, Clock::now()));
    for (auto &c : net.clients)
      DrainImages(c);
  }
  ReportLatencies(state, latencies);
  state.counters["messages_per_s"] =
    benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ServerFanOut)->Arg(1)->Arg(4)->Arg(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

// ----------------------------------------------------------------- an idle connected device

static void BM_IdleConnectedDevices(benchmark::State &state)
{
  Network net(1); // one server and one client, six worker threads
  for (auto _ : state)
  {
    timespec cpuStart, cpuEnd;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
    const double cpu = (cpuEnd.tv_sec - cpuStart.tv_sec) + (cpuEnd.tv_nsec - cpuStart.tv_nsec) * 1e-9;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    // per device: the pair is two devices
    state.counters["cpu_percent_per_device"] = cpu / wall * 100.0 / 2.0;
  }
}
BENCHMARK(BM_IdleConnectedDevices)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
  // connection records of every set-up would drown the table
  vorlen::SetSink([](const vorlen::LogRecord &) {});
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
