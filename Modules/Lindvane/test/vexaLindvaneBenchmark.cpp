// Frame rates of the capture source with conversion to toolkit images, set
// against a bare OpenCV read loop over the same file, and the bandwidth of
// the conversions against memcpy.

#include <vexaImageToOpenCVImageFilter.h>
#include <vexaOpenCVToVexaImageFilter.h>
#include <vexaOpenCVVideoSource.h>

#include <vexaTestVideos.h>

#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cstdlib>
#include <cstring>

namespace
{
  const int kFrames = 30;

  const std::string &Video(int width, int height) { return vexa::test::MovingDiscVideo(kFrames, width, height); }

  void BareRead(benchmark::State &state)
  {
    cv::VideoCapture capture(Video(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    cv::Mat frame;
    for (auto _ : state)
    {
      vexa::test::ReadLooping(capture, frame);
      benchmark::DoNotOptimize(frame.data);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  }

  void FetchAndConvert(benchmark::State &state)
  {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    vexa::OpenCVVideoSource::Pointer source = vexa::OpenCVVideoSource::New();
    source->SetVideoFileInput(Video(width, height).c_str(), true);
    if (state.range(2) != 0)
    {
      vexa::Point<double, 3> focal, principal;
      vexa::Point<double, 4> distortion;
      focal[0] = focal[1] = 0.8 * width;
      principal[0] = width / 2.0;
      principal[1] = height / 2.0;
      distortion[0] = -0.2;
      distortion[1] = 0.05;
      distortion[2] = 0.001;
      distortion[3] = 0.001;
      source->EnableOnlineImageUndistortion(focal, principal, distortion);
    }
    source->StartCapturing();
    vexa::OpenCVToVexaImageFilter::Pointer filter = vexa::OpenCVToVexaImageFilter::New();
    for (auto _ : state)
    {
      source->FetchFrame();
      filter->SetOpenCVImage(source->GetCurrentFrame());
      filter->Update();
      benchmark::DoNotOptimize(filter->GetOutput());
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  }

  void OpenCVToVexa(benchmark::State &state)
  {
    cv::Mat frame(static_cast<int>(state.range(1)), static_cast<int>(state.range(0)), CV_8UC3, cv::Scalar(1, 2, 3));
    vexa::OpenCVToVexaImageFilter::Pointer filter = vexa::OpenCVToVexaImageFilter::New();
    for (auto _ : state)
    {
      filter->SetOpenCVMat(frame);
      filter->Update();
      benchmark::DoNotOptimize(filter->GetOutput());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame.total() * 3));
  }

  void VexaToOpenCV(benchmark::State &state)
  {
    cv::Mat frame(static_cast<int>(state.range(1)), static_cast<int>(state.range(0)), CV_8UC3, cv::Scalar(1, 2, 3));
    vexa::OpenCVToVexaImageFilter::Pointer toVexa = vexa::OpenCVToVexaImageFilter::New();
    toVexa->SetOpenCVMat(frame);
    toVexa->Update();
    vexa::Image::Pointer image = toVexa->GetOutput();
    vexa::ImageToOpenCVImageFilter::Pointer filter = vexa::ImageToOpenCVImageFilter::New();
    filter->SetImage(image);
    for (auto _ : state)
    {
      cv::Mat mat = filter->GetOpenCVMat();
      benchmark::DoNotOptimize(mat.data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame.total() * 3));
  }

  void Memcpy(benchmark::State &state)
  {
    const size_t bytes = static_cast<size_t>(state.range(0) * state.range(1) * 3);
    std::vector<unsigned char> from(bytes, 1);
    for (auto _ : state)
    {
      // a fresh destination each time, as every conversion allocates its result
      std::unique_ptr<unsigned char[]> to(new unsigned char[bytes]);
      std::memcpy(to.get(), from.data(), bytes);
      benchmark::DoNotOptimize(to.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  }

  void MemcpyIntoExisting(benchmark::State &state)
  {
    const size_t bytes = static_cast<size_t>(state.range(0) * state.range(1) * 3);
    std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
    for (auto _ : state)
    {
      std::memcpy(to.data(), from.data(), bytes);
      benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  }
}

BENCHMARK(BareRead)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(FetchAndConvert)
  ->ArgNames({"w", "h", "undistort"})
  ->Args({640, 480, 0})
  ->Args({640, 480, 1})
  ->Args({1920, 1080, 0})
  ->Args({1920, 1080, 1})
  ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVToVexa)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(VexaToOpenCV)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(Memcpy)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(MemcpyIntoExisting)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
