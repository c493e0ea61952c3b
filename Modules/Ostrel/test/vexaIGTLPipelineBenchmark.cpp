// Figures of the OpenIGTLink pipeline: conversion of images into image
// messages, streaming through the message provider to 1 and 4 client devices
// over loopback TCP beside raw loopback TCP fanned out from one thread to as
// many sockets (ratio x_raw_tcp), and the end-to-end latency of a GET_IMAGE
// request from a standard OpenIGTLink client.

#include "vexaIGTLBenchmarkTestSupport.h"
#include "vexaIGTLPipelineTestSupport.h"

#include <vexaIGTLMessageProvider.h>
#include <vexaImageToIGTLMessageFilter.h>

#include <vexaCallbackFromGUIThread.h>

#include <benchmark/benchmark.h>

#include <igtl_image.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace vexa;
using namespace vexa::test;

namespace
{
  using Clock = std::chrono::steady_clock;

  template <typename T>
  void ImageToMessage(benchmark::State &state, std::vector<unsigned int> size)
  {
    Image::Pointer image = MakeImage<T>(size);
    ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
    filter->SetInput(image);
    std::size_t bytes = sizeof(T);
    for (unsigned int s : size)
      bytes *= s;
    for (auto _ : state)
    {
      image->Modified();
      filter->Update();
      benchmark::DoNotOptimize(filter->GetOutput()->GetMessage().GetPointer());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  }

  void Convert640x480UInt8(benchmark::State &state) { ImageToMessage<unsigned char>(state, {640, 480}); }
  void Convert1024x1024UInt16(benchmark::State &state) { ImageToMessage<unsigned short>(state, {1024, 1024}); }
  void Convert256CubedFloat(benchmark::State &state) { ImageToMessage<float>(state, {256, 256, 256}); }

  constexpr int InFlight = 4;
  constexpr std::size_t FrameBytes = 640 * 480 + IGTL_IMAGE_HEADER_SIZE + IGTL_HEADER_SIZE;

  /** A server with a provider that streams a 640x480 8-bit image, and n client devices counting the frames. */
  struct StreamingSetUp
  {
    explicit StreamingSetUp(int clients)
    {
      server = IGTLServer::New(true);
      server->SetPortNumber(0);
      server->EnableNoBufferingMode(false); // every frame goes out: the benchmark bounds how many wait
      provider = IGTLMessageProvider::New();
      provider->SetIGTLDevice(server);
      provider->Connect();
      provider->StartCommunication();
      image = MakeImage<unsigned char>({640, 480});
      filter = ImageToIGTLMessageFilter::New();
      filter->SetInput(image);
      filter->SetType("IMAGE");
      received.reset(new std::atomic<long>[clients]);
      for (int i = 0; i < clients; ++i)
      {
        received[i] = 0;
        peers.push_back(StartClient(server->GetPortNumber()));
        counters.emplace_back(new EventCounter(peers.back(), MessageReceivedEvent(), [this, i] {
          ++received[i];
          arrivals.Arrived();
        }));
      }
      WaitUntil([&] { return server->GetNumberOfConnections() == static_cast<unsigned int>(clients); });
    }

    ~StreamingSetUp()
    {
      counters.clear();
      for (auto &peer : peers)
        peer->CloseConnection();
      provider = nullptr;
      CallbackFromGUIThread::GetInstance()->ProcessPendingCalls();
    }

    bool AllReceived(long frames)
    {
      for (std::size_t i = 0; i < peers.size(); ++i)
        if (received[i] < frames)
          return false;
      return true;
    }

    /** Waits until every client has `frames` frames; false after 30 s. */
    bool WaitForAll(long frames)
    {
      const auto end = Clock::now() + std::chrono::seconds(30);
      for (;;)
      {
        const long long seen = arrivals.Count(); // before the check: an arrival after it wakes the wait
        if (AllReceived(frames))
          return true;
        if (Clock::now() > end)
          return false;
        arrivals.WaitFor(seen + 1);
      }
    }

    IGTLServer::Pointer server;
    IGTLMessageProvider::Pointer provider;
    Image::Pointer image;
    ImageToIGTLMessageFilter::Pointer filter;
    std::vector<IGTLClient::Pointer> peers;
    std::vector<std::unique_ptr<EventCounter>> counters;
    std::unique_ptr<std::atomic<long>[]> received;
    vexa::bench::Arrivals arrivals;
  };

  /** The yardstick of provider streaming: raw TCP frames of the same size from one thread to n sockets. */
  void RawTcpFanOut(benchmark::State &state)
  {
    const double rate = vexa::bench::RawTcpRate(state, FrameBytes, static_cast<int>(state.range(0)), InFlight);
    vexa::bench::ReportRate(state, "rawfanout/" + std::to_string(state.range(0)), rate, "");
  }

  /** One new frame per iteration (a changed image, the provider's update), up to four on their way to every client. */
  void ProviderStreaming(benchmark::State &state)
  {
    StreamingSetUp setUp(static_cast<int>(state.range(0)));
    setUp.provider->StartStreamingOfSource(setUp.filter, 0);
    long frames = 0;
    const Clock::time_point start = Clock::now();
    for (auto _ : state)
    {
      if (frames >= InFlight && !setUp.WaitForAll(frames - InFlight + 1))
        state.SkipWithError("frames did not arrive");
      setUp.image->Modified();
      setUp.provider->Update();
      ++frames;
    }
    if (!setUp.WaitForAll(frames))
      state.SkipWithError("frames did not arrive");
    const double rate = static_cast<double>(frames) / std::chrono::duration<double>(Clock::now() - start).count();
    setUp.provider->StopStreamingOfAllSources();
    state.counters["frames_per_s"] = rate;
    vexa::bench::ReportRate(state, "provider/" + std::to_string(state.range(0)), rate,
                            "rawfanout/" + std::to_string(state.range(0)));
  }

  /**
   * GET_IMAGE from a standard client to the answer's last byte, the image
   * changed before every request (so the answer is converted anew).
   */
  void GetImageLatency(benchmark::State &state)
  {
    IGTLServer::Pointer server = IGTLServer::New(true);
    server->SetPortNumber(0);
    IGTLMessageProvider::Pointer provider = IGTLMessageProvider::New();
    provider->SetIGTLDevice(server);
    provider->Connect();
    provider->StartCommunication();
    Image::Pointer image = MakeImage<unsigned char>({640, 480});
    ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
    filter->SetInput(image);
    filter->SetType("IMAGE");
    filter->RegisterAsMicroservice();
    Peer peer;
    peer.Connect(server->GetPortNumber());
    WaitUntil([&] { return server->GetNumberOfConnections() == 1; });
    igtl::GetImageMessage::Pointer request = igtl::GetImageMessage::New();
    std::vector<double> microseconds;
    for (auto _ : state)
    {
      image->Modified();
      const Clock::time_point start = Clock::now();
      peer.Send(request);
      Received r;
      if (!peer.Receive(r) || r.type != "IMAGE")
      {
        state.SkipWithError("no answer");
        break;
      }
      microseconds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    if (!microseconds.empty())
    {
      std::sort(microseconds.begin(), microseconds.end());
      state.counters["p50_us"] = microseconds[microseconds.size() / 2];
      state.counters["p99_us"] = microseconds[std::min(microseconds.size() - 1, microseconds.size() * 99 / 100)];
    }
    peer.Close();
    filter->UnRegisterMicroservice();
  }
}

BENCHMARK(Convert640x480UInt8)->Unit(benchmark::kMicrosecond);
BENCHMARK(Convert1024x1024UInt16)->Unit(benchmark::kMicrosecond);
BENCHMARK(Convert256CubedFloat)->Unit(benchmark::kMillisecond);
BENCHMARK(RawTcpFanOut)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(ProviderStreaming)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(GetImageLatency)->Unit(benchmark::kMicrosecond)->UseRealTime();

// main() is the Ostrel benchmark program's own (vexaIGTLBenchmark.cpp): it silences the log.
