// Loopback image streaming through the devices, side by side with a plain loop
// over OpenIGTLink's own sockets moving the same messages; fan-out from a
// server to several clients; CPU of an idle connected device.
//
// Latency is from SendMessage (or the plain loop's Send) to the moment the
// receiver has the whole message unpacked (MessageReceivedEvent), one message
// in flight at a time; throughput keeps several in flight.

#include "vexaIGTLTestHelpers.h"

#include <vorlenLogSink.h>

#include <benchmark/benchmark.h>

#include <igtlClientSocket.h>
#include <igtlServerSocket.h>

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <mutex>

using namespace vexa;
using namespace vexa::test;

namespace
{
  using Clock = std::chrono::steady_clock;

  struct ImageSize
  {
    int x, y, scalarType;
  };
  const ImageSize Sizes[] = {{640, 480, igtl::ImageMessage::TYPE_UINT8}, {1024, 1024, igtl::ImageMessage::TYPE_UINT16}};

  /** Counts arrivals and lets a thread wait for a count. */
  class Arrivals
  {
  public:
    void Arrived()
    {
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        ++m_Count;
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

    explicit Network(int clientCount)
    {
      server = StartServer();
      for (int i = 0; i < clientCount; ++i)
        clients.push_back(StartClient(server->GetPortNumber()));
      WaitUntil([&] { return server->GetNumberOfConnections() == static_cast<unsigned int>(clientCount); });
      observers.emplace_back(new EventCounter(server, MessageReceivedEvent(), [this] { atServer.Arrived(); }));
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
  };

  void DrainImages(IGTLDevice *device)
  {
    while (device->GetNextImage2dMessage().IsNotNull())
    {
    }
  }
}

// ----------------------------------------------------------------- devices, client to server

static void BM_DeviceLatency(benchmark::State &state)
{
  const ImageSize size = Sizes[state.range(0)];
  Network net(1);
  IGTLMessage::Pointer message = IGTLMessage::New(MakeImage(size.x, size.y, 1, size.scalarType).GetPointer());
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
  state.SetBytesProcessed(state.iterations() * message->GetMessage()->GetPackSize());
}
BENCHMARK(BM_DeviceLatency)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

static void BM_DeviceThroughput(benchmark::State &state)
{
  const ImageSize size = Sizes[state.range(0)];
  Network net(1);
  // distinct device names: none replaces another in the send list
  std::vector<IGTLMessage::Pointer> messages;
  for (int i = 0; i < 4; ++i)
    messages.push_back(IGTLMessage::New(
      MakeImage(size.x, size.y, 1, size.scalarType, "Image" + std::to_string(i)).GetPointer()));
  long long sent = 0;
  for (auto _ : state)
  {
    // up to four in flight
    if (sent >= 4 && !net.atServer.WaitFor(sent - 3))
      state.SkipWithError("messages did not arrive");
    net.clients[0]->SendMessage(messages[sent % 4]);
    ++sent;
    DrainImages(net.server);
  }
  net.atServer.WaitFor(sent);
  state.counters["messages_per_s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DeviceThroughput)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

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

static void BM_PlainSocketLatency(benchmark::State &state)
{
  const ImageSize size = Sizes[state.range(0)];
  PlainLink link;
  igtl::ImageMessage::Pointer image = MakeImage(size.x, size.y, 1, size.scalarType);
  image->Pack();
  std::vector<double> latencies;
  long long sent = 0;
  for (auto _ : state)
  {
    const Clock::time_point start = Clock::now();
    link.sender->Send(image->GetPackPointer(), image->GetPackSize());
    if (!link.arrivals.WaitFor(++sent))
      state.SkipWithError("a message did not arrive");
    latencies.push_back(Microseconds(start, Clock::now()));
  }
  ReportLatencies(state, latencies);
  state.SetBytesProcessed(state.iterations() * image->GetPackSize());
}
BENCHMARK(BM_PlainSocketLatency)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

static void BM_PlainSocketThroughput(benchmark::State &state)
{
  const ImageSize size = Sizes[state.range(0)];
  PlainLink link;
  igtl::ImageMessage::Pointer image = MakeImage(size.x, size.y, 1, size.scalarType);
  image->Pack();
  long long sent = 0;
  for (auto _ : state)
  {
    if (sent >= 4 && !link.arrivals.WaitFor(sent - 3))
      state.SkipWithError("messages did not arrive");
    link.sender->Send(image->GetPackPointer(), image->GetPackSize());
    ++sent;
  }
  link.arrivals.WaitFor(sent);
  state.counters["messages_per_s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainSocketThroughput)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

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
