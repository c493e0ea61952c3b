// Pictures per second that a device delivers through Modified() + Update(),
// unpaced, set against the same source without the device in the same run:
// a bare cv::VideoCapture::read loop over the same file, and an Ostrel
// client alone receiving the same stream over loopback. Also the time of the
// Update() that hands a picture over, and the heap allocations per picture
// at steady state (all, and those of at least 64 KiB: image-sized buffers).

#include <vexaUSIGTLDevice.h>
#include <vexaUSVideoDevice.h>

#include <vexaIGTLClient.h>
#include <vexaIGTLServer.h>
#include <vexaImageToIGTLMessageFilter.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <itkRGBPixel.h>

#include <vexaTestVideos.h>

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <vector>
#include <new>
#include <thread>
#include <unistd.h>

// ---- allocation counting for the whole program ----

namespace
{
  std::atomic<unsigned long long> g_Allocations{0};
  std::atomic<unsigned long long> g_LargeAllocations{0};
  thread_local unsigned long long t_Allocations = 0; // of the calling thread only
  constexpr std::size_t kLarge = 64 * 1024;

  void *Allocate(std::size_t size)
  {
    ++t_Allocations;
    g_Allocations.fetch_add(1, std::memory_order_relaxed);
    if (size >= kLarge)
      g_LargeAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
      return p;
    throw std::bad_alloc();
  }
}

void *operator new(std::size_t size) { return Allocate(size); }
void *operator new[](std::size_t size) { return Allocate(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
  try
  {
    return Allocate(size);
  }
  catch (...)
  {
    return nullptr;
  }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace
{
  using Clock = std::chrono::steady_clock;
  const int kFrames = 40;

  /** A clip of the size (a disc moving over noise, MJPG), written once per run. */
  const std::string &Clip(int width, int height) { return vexa::test::MovingDiscVideo(kFrames, width, height); }

  /** Counts the allocations of all threads (image-sized ones apart) while pictures are pulled. */
  struct AllocationMeter
  {
    unsigned long long large = 0;
    void Start() { large = g_LargeAllocations.load(); }
    void Report(benchmark::State &state, double pictures)
    {
      if (pictures > 0)
        state.counters["large allocs/picture"] = static_cast<double>(g_LargeAllocations.load() - large) / pictures;
    }
  };

  /** What the Update() that handed a picture over cost: time and allocations on the pulling thread. */
  struct Handover
  {
    double microseconds = 0.0;
    unsigned long long allocations = 0;
  };

  /** The first bytes of the output: every picture of the clips and streams here begins differently. */
  std::array<unsigned char, 64> Stamp(vexa::Image *image)
  {
    std::array<unsigned char, 64> stamp{};
    if (image->IsEmpty())
      return stamp;
    vexa::ImageReadAccessor access(image);
    std::memcpy(stamp.data(), access.GetConstData(), std::min(stamp.size(), access.GetSize()));
    return stamp;
  }

  /**
   * Pulls pictures the way a view does until the output holds a new one (10 s at most),
   * looking every `poll` (a tenth of the source's picture period or less, so
   * no picture is missed; a view's timer ticks far more rarely). The device's
   * thread works meanwhile. Adds the cost of the Update() that handed the
   * picture over to `handover`.
   */
  bool NextPicture(vexa::USDevice *device,
                   std::array<unsigned char, 64> &last,
                   Handover &handover,
                   std::chrono::microseconds poll)
  {
    const auto giveUp = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < giveUp)
    {
      const unsigned long long allocations = t_Allocations;
      const auto start = Clock::now();
      device->Modified();
      device->Update();
      const auto end = Clock::now();
      const unsigned long long made = t_Allocations - allocations;
      const std::array<unsigned char, 64> now = Stamp(device->GetOutput());
      if (now != last && !device->GetOutput()->IsEmpty())
      {
        last = now;
        handover.microseconds += std::chrono::duration<double, std::micro>(end - start).count();
        handover.allocations += made;
        return true;
      }
      std::this_thread::sleep_for(poll);
    }
    return false; // the device stopped delivering
  }

  void Finish(benchmark::State &state, const Handover &handover, AllocationMeter &meter)
  {
    const double pictures = static_cast<double>(state.iterations());
    state.counters["pictures/s"] = benchmark::Counter(pictures, benchmark::Counter::kIsRate);
    if (pictures <= 0)
      return;
    state.counters["handover us"] = handover.microseconds / pictures;
    state.counters["handover allocs"] = static_cast<double>(handover.allocations) / pictures;
    meter.Report(state, pictures);
  }
  /**
   * Pictures through the device as the benchmark's iterations, after
   * `warmUps` pictures that bring it to its steady state (buffers made); then
   * the figures, and the device is unregistered.
   */
  void MeasurePictures(benchmark::State &state, vexa::USDevice *device, int warmUps, std::chrono::microseconds poll)
  {
    std::array<unsigned char, 64> last{};
    Handover warmUp, handover;
    bool delivering = true;
    for (int i = 0; i < warmUps && delivering; ++i)
      delivering = NextPicture(device, last, warmUp, poll);
    AllocationMeter meter;
    meter.Start();
    for (auto _ : state)
      if (!delivering || !(delivering = NextPicture(device, last, handover, poll)))
      {
        state.SkipWithError("the device stopped delivering pictures");
        break;
      }
    Finish(state, handover, meter);
    device->UnregisterOnService();
  }

  // ---- from a file ----

  void FileBareRead(benchmark::State &state)
  {
    cv::VideoCapture capture(Clip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    cv::Mat frame;
    for (auto _ : state)
    {
      vexa::test::ReadLooping(capture, frame);
      benchmark::DoNotOptimize(frame.data);
    }
    state.counters["pictures/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  }

  /** The device's acquisition step alone (read, crop, convert into its frame), on one thread. */
  void FileAcquisitionStep(benchmark::State &state)
  {
    vexa::USImageVideoSource::Pointer source = vexa::USImageVideoSource::New();
    source->SetColorOutput(state.range(2) != 0);
    if (!source->SetVideoFileInput(Clip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)))))
    {
      state.SkipWithError("the clip did not open");
      return;
    }
    vexa::USImageFrame frame;
    for (auto _ : state)
    {
      source->GetNextFrame(frame);
      benchmark::DoNotOptimize(frame.GetPixels());
    }
    state.counters["pictures/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  }

  void FileDevice(benchmark::State &state)
  {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    vexa::USVideoDevice::Pointer device = vexa::USVideoDevice::New(Clip(width, height), "Bench", "File");
    static_cast<vexa::USImageVideoSource *>(device->GetImageSource().GetPointer())->SetColorOutput(state.range(2) != 0);
    device->SetFramePacing(false);
    if (!device->Initialize() || !device->Connect() || !device->Activate())
    {
      state.SkipWithError("the video device did not start");
      return;
    }
    // pictures come every 2.5 ms or more; the steady state once the clip has repeated
    MeasurePictures(state, device, 2 * kFrames, std::chrono::microseconds(250));
  }

  // ---- over OpenIGTLink loopback ----

  /**
   * A server that streams images as fast as it can pack and send them: a
   * ring of pictures that differ in their first bytes, so that a receiver
   * tells each from the one before.
   */
  struct Streamer
  {
    Streamer(int width, int height, bool color)
    {
      for (int k = 0; k < 8; ++k)
      {
        vexa::Image::Pointer image = vexa::Image::New();
        const unsigned int size[2] = {static_cast<unsigned int>(width), static_cast<unsigned int>(height)};
        if (color)
          image->Initialize(vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>>(3), 2, size);
        else
          image->Initialize(vexa::CreateScalarPixelType<unsigned char>(), 2, size);
        {
          vexa::ImageWriteAccessor access(image);
          cv::Mat pixels(height, width, color ? CV_8UC3 : CV_8UC1, access.GetData());
          cv::randu(pixels, 0, 255);
          std::memset(access.GetData(), k, 64);
        }
        vexa::ImageToIGTLMessageFilter::Pointer filter = vexa::ImageToIGTLMessageFilter::New();
        filter->SetInput(image);
        filter->Update();
        messages.push_back(filter->GetOutput());
      }
      server = vexa::IGTLServer::New(true);
      server->SetPortNumber(0);
      server->OpenConnection();
      server->StartCommunication();
      feeder = std::thread([this] {
        std::size_t next = 0;
        while (!stop.load())
        {
          // a message still waiting is replaced: the sender never idles
          if (server->GetNumberOfConnections() > 0)
            server->SendMessage(messages[next++ % messages.size()]);
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      });
    }
    ~Streamer()
    {
      stop = true;
      feeder.join();
      server->CloseConnection();
    }
    int Port() { return server->GetPortNumber(); }

    std::vector<vexa::IGTLMessage::Pointer> messages;
    vexa::IGTLServer::Pointer server;
    std::atomic<bool> stop{false};
    std::thread feeder;
  };

  void IGTLClientAlone(benchmark::State &state)
  {
    Streamer streamer(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), state.range(2) != 0);
    vexa::IGTLClient::Pointer client = vexa::IGTLClient::New(true);
    client->SetHostname("127.0.0.1");
    client->SetPortNumber(streamer.Port());
    if (!client->OpenConnection() || !client->StartCommunication())
    {
      state.SkipWithError("the client did not connect");
      return;
    }
    for (auto _ : state)
    {
      igtl::ImageMessage::Pointer image;
      while ((image = client->GetNextImage2dMessage()).IsNull())
        std::this_thread::sleep_for(std::chrono::microseconds(30));
      benchmark::DoNotOptimize(image->GetScalarPointer());
    }
    state.counters["pictures/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    client->CloseConnection();
  }

  void IGTLDevice(benchmark::State &state)
  {
    Streamer streamer(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), state.range(2) != 0);
    vexa::USIGTLDevice::Pointer device =
      vexa::USIGTLDevice::New("Bench", "Stream", "127.0.0.1", streamer.Port(), false);
    if (!device->Initialize() || !device->Connect() || !device->Activate())
    {
      state.SkipWithError("the OpenIGTLink device did not start");
      return;
    }
    MeasurePictures(state, device, 20, std::chrono::microseconds(30)); // pictures come every 0.3 ms or more
  }

  // arguments: width, height, colour (1) or grey (0)
  void Sizes(benchmark::internal::Benchmark *b)
  {
    b->Args({640, 480, 0})->Args({1920, 1080, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
  }
}

BENCHMARK(FileBareRead)->Apply(Sizes);
BENCHMARK(FileAcquisitionStep)->Apply(Sizes);
BENCHMARK(FileDevice)->Apply(Sizes);
BENCHMARK(IGTLClientAlone)->Apply(Sizes);
BENCHMARK(IGTLDevice)->Apply(Sizes);

BENCHMARK_MAIN();
