// Figures of the OpenIGTLink pipeline: conversion of images into image
// messages, streaming through the message provider to 1 and 4 standard
// OpenIGTLink clients over loopback TCP, and the end-to-end latency of a
// GET_IMAGE request.

#include "vexaIGTLPipelineTestHelpers.h"

#include <vexaIGTLMessageProvider.h>
#include <vexaImageToIGTLMessageFilter.h>

#include <vexaCallbackFromGUIThread.h>

#include <benchmark/benchmark.h>

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

  /** A server with a provider that streams a 640x480 8-bit image, and n standard OpenIGTLink clients. */
  struct StreamingSetUp
  {
    explicit StreamingSetUp(int clients)
    {
      server = IGTLServer::New(true);
      server->SetPortNumber(0);
      provider = IGTLMessageProvider::New();
      provider->SetIGTLDevice(server);
      provider->Connect();
      provider->StartCommunication();
      image = MakeImage<unsigned char>({640, 480});
      filter = ImageToIGTLMessageFilter::New();
      filter->SetInput(image);
      filter->SetType("IMAGE");
      for (int i = 0; i < clients; ++i)
      {
        peers.emplace_back(new Peer);
        peers.back()->Connect(server->GetPortNumber());
      }
      WaitUntil([&] { return server->GetNumberOfConnections() == static_cast<unsigned int>(clients); });
      received.reset(new std::atomic<long>[clients]);
      for (int i = 0; i < clients; ++i)
      {
        received[i] = 0;
        readers.emplace_back([this, i] {
          Received r;
          while (peers[i]->Receive(r))
            if (r.type == "IMAGE")
              ++received[i];
        });
      }
    }

    ~StreamingSetUp()
    {
      for (auto &peer : peers)
        peer->Close();
      for (std::thread &t : readers)
        t.join();
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

    IGTLServer::Pointer server;
    IGTLMessageProvider::Pointer provider;
    Image::Pointer image;
    ImageToIGTLMessageFilter::Pointer filter;
    std::vector<std::unique_ptr<Peer>> peers;
    std::unique_ptr<std::atomic<long>[]> received;
    std::vector<std::thread> readers;
  };

  /** One frame per iteration: a changed image, the provider's update, until every client has it. */
  void ProviderStreaming(benchmark::State &state)
  {
    StreamingSetUp setUp(static_cast<int>(state.range(0)));
    setUp.provider->StartStreamingOfSource(setUp.filter, 0);
    long frames = 0;
    for (auto _ : state)
    {
      setUp.image->Modified();
      setUp.provider->Update();
      ++frames;
      while (!setUp.AllReceived(frames))
        std::this_thread::yield();
    }
    setUp.provider->StopStreamingOfAllSources();
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(frames) * 640 * 480 * state.range(0));
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
BENCHMARK(ProviderStreaming)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(GetImageLatency)->Unit(benchmark::kMicrosecond)->UseRealTime();

// main() is the Ostrel benchmark program's own (vexaIGTLBenchmark.cpp): it silences the log.
