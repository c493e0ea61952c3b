#include <vexaITKImageImport.h>
#include <vexaImageToItk.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace
{
  using GrayImage = itk::Image<unsigned char, 2>;
  using RgbPixel = itk::RGBPixel<unsigned char>;
  using RgbImage = itk::Image<RgbPixel, 2>;

  GrayImage::Pointer MakeGray(unsigned int width, unsigned int height)
  {
    GrayImage::Pointer image = GrayImage::New();
    GrayImage::SizeType size;
    size[0] = width;
    size[1] = height;
    image->SetRegions(size);
    image->Allocate();
    return image;
  }

  vexa::Image::Pointer MakeRgbImage(unsigned int width, unsigned int height)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    const unsigned int dims[] = {width, height};
    image->Initialize(vexa::CreatePixelType<unsigned char, RgbPixel>(3), 2, dims);
    vexa::ImageWriteAccessor access(image);
    std::memset(access.GetData(), 7, access.GetSize());
    return image;
  }
}

// Adopting an ITK image's buffer: the cost must not grow with the image (no pixel copy).
static void BM_AdoptItkImageMemory(benchmark::State &state)
{
  const auto side = static_cast<unsigned int>(state.range(0));
  const auto height = static_cast<unsigned int>(state.range(1));
  for (auto _ : state)
  {
    state.PauseTiming();
    GrayImage::Pointer itkImage = MakeGray(side, height);
    state.ResumeTiming();
    vexa::Image::Pointer image = vexa::AdoptItkImageMemory(itkImage, nullptr, nullptr, false);
    benchmark::DoNotOptimize(image.GetPointer());
    state.PauseTiming();
    image = nullptr;
    itkImage = nullptr;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_AdoptItkImageMemory)->Args({640, 480})->Args({4096, 4096});

// The ITK view that lends the toolkit image's buffer.
static void BM_ImageToItkLending(benchmark::State &state)
{
  vexa::Image::Pointer image = MakeRgbImage(1920, 1080);
  for (auto _ : state)
  {
    RgbImage::Pointer view = vexa::ConvertToItkImage<RgbPixel, 2>(image);
    benchmark::DoNotOptimize(view->GetBufferPointer());
  }
}
BENCHMARK(BM_ImageToItkLending);

// The copying ITK view of a 1920 x 1080 RGB image, against a plain memcpy of the same bytes.
static void BM_ImageToItkCopy(benchmark::State &state)
{
  vexa::Image::Pointer image = MakeRgbImage(1920, 1080);
  auto filter = vexa::ImageToItk<RgbImage>::New();
  filter->CopyMemoryOn();
  filter->SetInput(static_cast<const vexa::Image *>(image.GetPointer()));
  for (auto _ : state)
  {
    filter->Modified();
    filter->Update();
    benchmark::DoNotOptimize(filter->GetOutput()->GetBufferPointer());
  }
  state.SetBytesProcessed(state.iterations() * int64_t(1920) * 1080 * 3);
}
BENCHMARK(BM_ImageToItkCopy)->Unit(benchmark::kMicrosecond);

static void BM_MemcpyBaseline(benchmark::State &state)
{
  const std::size_t bytes = std::size_t(1920) * 1080 * 3;
  std::vector<unsigned char> source(bytes, 7);
  for (auto _ : state)
  {
    // a fresh target each time, as the copying view allocates its own buffer
    std::unique_ptr<unsigned char[]> target(new unsigned char[bytes]);
    std::memcpy(target.get(), source.data(), bytes);
    benchmark::DoNotOptimize(target.get());
  }
  state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}
BENCHMARK(BM_MemcpyBaseline)->Unit(benchmark::kMicrosecond);
