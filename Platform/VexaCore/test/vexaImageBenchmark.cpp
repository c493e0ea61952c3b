#include "vexaTestNrrdFiles.h"
#include "vexaTestTemporaryFolder.h"

#include <vexaIOUtil.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <benchmark/benchmark.h>

namespace
{
  vexa::Image::Pointer MakeVolume(unsigned int x, unsigned int y, unsigned int z)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    const unsigned int dims[] = {x, y, z};
    image->Initialize(vexa::CreateScalarPixelType<float>(), 3, dims);
    vexa::ImageWriteAccessor access(image);
    auto *p = static_cast<float *>(access.GetData());
    for (std::size_t i = 0; i < access.GetSize() / sizeof(float); ++i)
      p[i] = static_cast<float>(i % 1000);
    return image;
  }
}

// The cost of taking and releasing a read right (done around every pixel access).
static void BM_ReadAccessor(benchmark::State &state)
{
  vexa::Image::Pointer image = MakeVolume(64, 64, 1);
  for (auto _ : state)
  {
    vexa::ImageReadAccessor access(image);
    benchmark::DoNotOptimize(access.GetData());
  }
}
BENCHMARK(BM_ReadAccessor);

static void BM_NrrdSave(benchmark::State &state)
{
  vexa::test::TemporaryFolder folder;
  vexa::Image::Pointer image = MakeVolume(512, 512, static_cast<unsigned int>(state.range(0)));
  const std::string path = folder.File("volume.nrrd");
  for (auto _ : state)
    vexa::IOUtil::Save(image, path);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image->GetChannelSizeInBytes()));
}
BENCHMARK(BM_NrrdSave)->Arg(32)->Unit(benchmark::kMillisecond);

static void BM_NrrdLoad(benchmark::State &state)
{
  vexa::test::TemporaryFolder folder;
  vexa::Image::Pointer image = MakeVolume(512, 512, static_cast<unsigned int>(state.range(0)));
  const std::string path = folder.File("volume.nrrd");
  vexa::IOUtil::Save(image, path);
  for (auto _ : state)
    benchmark::DoNotOptimize(vexa::IOUtil::LoadImage(path));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image->GetChannelSizeInBytes()));
}
BENCHMARK(BM_NrrdLoad)->Arg(32)->Unit(benchmark::kMillisecond);

/** The volume written by ITK's own writer with gzip-compressed pixels. */
static std::string SaveCompressed(const vexa::Image *image, const std::string &path)
{
  vexa::test::WriteCompressedNrrdWithItk(image, path);
  return path;
}

// The check of a file before it is read, alone: for a raw part a look at the file's length, for
// a gzip part a full inflate through one buffer (CRC and length); compare with the loads.
static void BM_NrrdCheck(benchmark::State &state)
{
  vexa::test::TemporaryFolder folder;
  vexa::Image::Pointer image = MakeVolume(512, 512, 32);
  const std::string path =
    state.range(0) ? SaveCompressed(image, folder.File("volume.nrrd")) : folder.File("volume.nrrd");
  if (!state.range(0))
    vexa::IOUtil::Save(image, path);
  for (auto _ : state)
    vexa::IOUtil::CheckNrrdFile(path);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image->GetChannelSizeInBytes()));
  state.SetLabel(state.range(0) ? "gzip" : "raw");
}
BENCHMARK(BM_NrrdCheck)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

static void BM_NrrdLoadCompressed(benchmark::State &state)
{
  vexa::test::TemporaryFolder folder;
  vexa::Image::Pointer image = MakeVolume(512, 512, 32);
  const std::string path = SaveCompressed(image, folder.File("volume.nrrd"));
  for (auto _ : state)
    benchmark::DoNotOptimize(vexa::IOUtil::LoadImage(path));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image->GetChannelSizeInBytes()));
}
BENCHMARK(BM_NrrdLoadCompressed)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
