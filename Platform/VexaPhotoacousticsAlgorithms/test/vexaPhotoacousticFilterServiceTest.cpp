#include "vexaBeamformingTestSupport.h"
#include "vexaPhotoacousticServiceTestSupport.h"

#include <vexaBeamformingKernel.h>
#include <vexaBeamformingSettings.h>
#include <vexaCastToFloatImageFilter.h>
#include <vexaPhotoacousticFilterService.h>
#include <vexaSignalKernels.h>

#include <vexaException.h>
#include <vexaPixelTypeTraits.h>
#include <vorlenLogSink.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <thread>

using vexa::BeamformingSettings;
using vexa::Image;
using vexa::PhotoacousticFilterService;
using vexa::SampleVolume;
namespace t = vexa::test;

namespace
{
  // Raw data: 64 elements of 0.3 mm, 1024 samples of 25 ns (40 MHz), as a
  // toolkit image: x spacing in mm, y spacing in microseconds.
  constexpr unsigned int Elements = 64;
  constexpr unsigned int Samples = 1024;
  constexpr double PitchMm = 0.3;
  constexpr double DtUs = 0.025;
  constexpr float C = 1540.0f;

  BeamformingSettings::Pointer Settings(const Image *image,
                                        BeamformingSettings::BeamformingAlgorithm algorithm = BeamformingSettings::DAS,
                                        unsigned int lines = Elements,
                                        bool gpu = false)
  {
    const auto spacing = image->GetGeometry(0)->GetSpacing();
    return BeamformingSettings::New(static_cast<float>(spacing[0] / 1000.0), C, static_cast<float>(spacing[1] / 1e6),
                                    27.0f, true, 512, lines, image->GetDimensions(), 0.03f, gpu, 16,
                                    BeamformingSettings::Spherical, BeamformingSettings::Hann, lines, algorithm);
  }

  Image::Pointer PointAbsorberImage(double xMm, double zMm, unsigned int frames = 1)
  {
    const SampleVolume frame =
      t::PointAbsorberFrame(Elements, Samples, PitchMm / 1000.0, C, DtUs / 1e6, {{xMm / 1000.0, zMm / 1000.0, 1000.0}});
    SampleVolume raw(Elements, Samples, frames);
    for (unsigned int f = 0; f < frames; ++f)
      std::copy(frame.data.begin(), frame.data.end(), raw.data.begin() + f * frame.data.size());
    // short pixels, as acquisition systems deliver them; the service converts
    return t::MakeImage<short>(raw, PitchMm, DtUs, 1.0, 5.0, 0.0, 0.0);
  }

  std::string DescriptionOf(const std::function<void()> &f)
  {
    try
    {
      f();
    }
    catch (const vexa::Exception &e)
    {
      return e.GetDescription();
    }
    return "(no exception)";
  }

  MATCHER_P(Says, text, "") { return arg.find(text) != std::string::npos; }
}

TEST(PhotoacousticFilterService, BeamformingPutsTheAbsorberAtItsWorldPosition)
{
  auto service = PhotoacousticFilterService::New();
  const double xMm = 20 * PitchMm, zMm = 12.0;
  Image::Pointer raw = PointAbsorberImage(xMm, zMm, 2);

  for (auto alg : {BeamformingSettings::DAS, BeamformingSettings::DMAS, BeamformingSettings::sDMAS})
  {
    Image::Pointer out = service->ApplyBeamforming(raw, Settings(raw, alg, 128));
    ASSERT_EQ(out->GetDimension(), 3u);
    EXPECT_EQ(out->GetDimension(0), 128u);
    EXPECT_EQ(out->GetDimension(1), 512u);
    EXPECT_EQ(out->GetDimension(2), 2u);
    EXPECT_EQ(out->GetPixelType(), vexa::CreateScalarPixelType<float>());
    // the settings carry floats: millimetres come back to about 1e-8
    const auto spacing = out->GetGeometry(0)->GetSpacing();
    EXPECT_NEAR(spacing[0], Elements * PitchMm / 128, 1e-6);
    EXPECT_NEAR(spacing[1], 30.0 / 512, 1e-6);
    const auto origin = out->GetGeometry(0)->GetOrigin();
    EXPECT_NEAR(origin[0], 5.0 - PitchMm / 2 + Elements * PitchMm / 128 / 2, 1e-6);
    EXPECT_NEAR(origin[1], 0.0, 1e-12);

    const SampleVolume img = t::ReadVolume(out);
    for (unsigned int f = 0; f < 2; ++f)
    {
      const t::Peak peak = t::FindPeak(img, f);
      vexa::Point3D index;
      index[0] = peak.line;
      index[1] = peak.row;
      index[2] = f;
      const vexa::Point3D world = out->GetGeometry(0)->IndexToWorld(index);
      // the absorber lies 20 pitches right of element 0, which sits at x = 5 mm
      EXPECT_NEAR(world[0], 5.0 + xMm, spacing[0]);
      EXPECT_NEAR(world[1], zMm, 2 * spacing[1]);
    }
  }
}

TEST(PhotoacousticFilterService, BeamformingEqualsTheKernelAndLeavesTheInputAlone)
{
  auto service = PhotoacousticFilterService::New();
  Image::Pointer raw = t::MakeImage(t::RandomVolume(Elements, 300, 1, 5), PitchMm, DtUs);
  const SampleVolume before = t::ReadVolume(raw);
  auto settings = Settings(raw, BeamformingSettings::sDMAS);
  Image::Pointer out = service->ApplyBeamforming(raw, settings);

  vexa::BeamformingKernel::Parameters p;
  p.pitch = settings->GetPitchInMeters();
  p.speedOfSound = settings->GetSpeedOfSound();
  p.timeSpacing = settings->GetTimeSpacing();
  p.angle = settings->GetAngle();
  p.samplesPerLine = settings->GetSamplesPerLine();
  p.lines = settings->GetReconstructionLines();
  p.depth = settings->GetReconstructionDepth();
  p.window = vexa::BeamformingKernel::Window::Hann;
  p.windowSize = settings->GetApodizationArraySize();
  p.algorithm = vexa::BeamformingKernel::Algorithm::sDMAS;
  EXPECT_EQ(t::ReadVolume(out).data, vexa::BeamformingKernel::Reconstruct(before, p).data);
  EXPECT_EQ(t::ReadVolume(raw).data, before.data);
  EXPECT_EQ(out->GetDimension(), 2u);
}

TEST(PhotoacousticFilterService, BeamformingReportsProgressAndRefusesWhatCannotWork)
{
  auto service = PhotoacousticFilterService::New();
  Image::Pointer raw = PointAbsorberImage(6.0, 10.0);
  std::vector<int> seen;
  service->ApplyBeamforming(raw, Settings(raw), [&](int p, std::string) { seen.push_back(p); });
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_LE(seen.size(), 101u);

  Image::Pointer other = t::MakeImage(SampleVolume(32, 100, 1, 0.0f), PitchMm, DtUs);
  const unsigned int dims[3] = {Elements, Samples, 1};
  auto make = [&](float pitch, float c, float dt, float angle, unsigned int samples, unsigned int lines, float depth,
                  BeamformingSettings::DelayCalc delay = BeamformingSettings::Spherical) {
    return BeamformingSettings::New(pitch, c, dt, angle, true, samples, lines, dims, depth, false, 16, delay,
                                    BeamformingSettings::Box, 64, BeamformingSettings::DAS);
  };
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBeamforming(raw, nullptr); }), Says("needs settings"));
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBeamforming(nullptr, Settings(raw)); }), Says("needs an image"));
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBeamforming(other, Settings(raw)); }),
              Says("the settings were made for an image of 64 x 1024 x 1, but the image is 32 x 100 x 1."));
  const struct
  {
    BeamformingSettings::Pointer settings;
    const char *text;
  } cases[] = {
    {make(0.0f, C, 25e-9f, 27, 512, 64, 0.03f), "positive element pitch"},
    {make(3e-4f, -C, 25e-9f, 27, 512, 64, 0.03f), "positive speed of sound"},
    {make(3e-4f, C, 0.0f, 27, 512, 64, 0.03f), "positive time spacing"},
    {make(3e-4f, C, 25e-9f, 27, 512, 64, 0.0f), "positive reconstruction depth"},
    {make(3e-4f, C, 25e-9f, 27, 0, 64, 0.03f), "at least one sample per reconstructed line"},
    {make(3e-4f, C, 25e-9f, 27, 512, 0, 0.03f), "at least one reconstruction line"},
    {make(3e-4f, C, 25e-9f, 27, 512, 64, 0.03f, BeamformingSettings::QuadApprox),
     "delay calculation method 0 is not available"},
  };
  for (const auto &c : cases)
    EXPECT_THAT(DescriptionOf([&] { service->ApplyBeamforming(raw, c.settings); }), Says(c.text));

  // enumerators from plain numbers, as a form's combo box index might give them
  auto numbered = [&](int apod, int algorithm) {
    return BeamformingSettings::New(3e-4f, C, 25e-9f, 27, true, 512, 64, dims, 0.03f, false, 16,
                                    BeamformingSettings::Spherical, static_cast<BeamformingSettings::Apodization>(apod),
                                    64, static_cast<BeamformingSettings::BeamformingAlgorithm>(algorithm));
  };
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBeamforming(raw, numbered(3, 1)); }), Says("unknown apodization 3"));
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBeamforming(raw, numbered(2, -1)); }), Says("unknown algorithm -1"));
}

TEST(PhotoacousticFilterService, TheGpuFlagWarnsOnceAndRunsOnTheCpu)
{
  vorlen::CapturingSink sink;
  auto service = PhotoacousticFilterService::New();
  Image::Pointer raw = PointAbsorberImage(6.0, 10.0);
  Image::Pointer cpu = service->ApplyBeamforming(raw, Settings(raw));
  Image::Pointer gpu1 = service->ApplyBeamforming(raw, Settings(raw, BeamformingSettings::DAS, Elements, true));
  Image::Pointer gpu2 = service->ApplyBeamforming(raw, Settings(raw, BeamformingSettings::DAS, Elements, true));
  EXPECT_EQ(t::ReadVolume(gpu1).data, t::ReadVolume(cpu).data);
  EXPECT_EQ(t::ReadVolume(gpu2).data, t::ReadVolume(cpu).data);
  // once per process; no other test of this program sets the flag
  EXPECT_EQ(sink.Texts(1),
            std::vector<std::string>{"GPU beamforming is not available in this build; beamforming runs on the CPU."});
}

TEST(PhotoacousticFilterService, OneServiceServesSeveralThreadsAtOnce)
{
  auto service = PhotoacousticFilterService::New();
  Image::Pointer raw = PointAbsorberImage(6.0, 10.0);
  const SampleVolume expected = t::ReadVolume(service->ApplyBmodeFilter(service->ApplyBeamforming(raw, Settings(raw))));
  std::vector<SampleVolume> results(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i)
    threads.emplace_back(
      [&, i] { results[i] = t::ReadVolume(service->ApplyBmodeFilter(service->ApplyBeamforming(raw, Settings(raw)))); });
  for (auto &th : threads)
    th.join();
  for (const SampleVolume &r : results)
    EXPECT_EQ(r.data, expected.data);
}

TEST(PhotoacousticFilterService, BmodeFilterKeepsTheGeometry)
{
  auto service = PhotoacousticFilterService::New();
  const SampleVolume v = t::RandomVolume(5, 64, 3, 9);
  Image::Pointer in = t::MakeImage(v, 0.2, 0.05, 2.0, 1.0, 2.0, 3.0);
  const struct
  {
    PhotoacousticFilterService::BModeMethod method;
    bool log;
  } cases[] = {{PhotoacousticFilterService::EnvelopeDetection, false},
               {PhotoacousticFilterService::EnvelopeDetection, true},
               {PhotoacousticFilterService::Abs, false},
               {PhotoacousticFilterService::Abs, true}};
  for (const auto &c : cases)
  {
    Image::Pointer out = service->ApplyBmodeFilter(in, c.method, c.log);
    SampleVolume expected = c.method == PhotoacousticFilterService::Abs ? vexa::SignalKernels::AbsoluteValue(v)
                                                                        : vexa::SignalKernels::Envelope(v);
    if (c.log)
      vexa::SignalKernels::LogCompress(expected);
    EXPECT_EQ(t::ReadVolume(out).data, expected.data);
    EXPECT_EQ(out->GetGeometry(0)->GetSpacing(), in->GetGeometry(0)->GetSpacing());
    EXPECT_EQ(out->GetGeometry(0)->GetOrigin(), in->GetGeometry(0)->GetOrigin());
  }
  EXPECT_THAT(DescriptionOf(
                [&] { service->ApplyBmodeFilter(in, static_cast<PhotoacousticFilterService::BModeMethod>(5), false); }),
              Says("unknown method 5"));
}

TEST(PhotoacousticFilterService, ResamplingChangesTheYSpacingOnly)
{
  auto service = PhotoacousticFilterService::New();
  SampleVolume v(3, 101, 2);
  for (unsigned int z = 0; z < 2; ++z)
    for (unsigned int y = 0; y < 101; ++y)
      for (unsigned int x = 0; x < 3; ++x)
        v.At(x, y, z) = static_cast<float>(y + 10 * x + 1000 * z);
  Image::Pointer in = t::MakeImage(v, 0.3, 0.02, 1.0, 4.0, 1.5, 0.0);
  Image::Pointer out = service->ApplyResampling(in, {0.3, 0.15});
  ASSERT_EQ(out->GetDimension(1), 14u); // rows at 0, 0.15, ..., 1.95 mm of the 2 mm covered
  EXPECT_EQ(out->GetDimension(0), 3u);
  EXPECT_EQ(out->GetDimension(2), 2u);
  EXPECT_NEAR(out->GetGeometry(0)->GetSpacing()[1], 0.15, 1e-12);
  EXPECT_NEAR(out->GetGeometry(0)->GetSpacing()[0], 0.3, 1e-12);
  EXPECT_EQ(out->GetGeometry(0)->GetOrigin(), in->GetGeometry(0)->GetOrigin());
  const SampleVolume r = t::ReadVolume(out);
  EXPECT_NEAR(r.At(2, 13, 1), 13 * 7.5 + 20 + 1000, 1e-3);

  double spacing[2] = {0.3, 0.05};
  EXPECT_EQ(service->ApplyResampling(in, spacing)->GetDimension(1), 41u);
  EXPECT_THAT(DescriptionOf([&] {
                service->ApplyResampling(in, {0.25, 0.15});
              }),
              Says("changes only the y spacing: the x spacing 0.25 mm differs from the image's 0.3 mm."));
  EXPECT_THAT(DescriptionOf([&] { service->ApplyResampling(in, {0.3, 0.0}); }), Says("positive wanted y spacing"));
}

TEST(PhotoacousticFilterService, CroppingMovesTheOriginToTheFirstKeptPixel)
{
  auto service = PhotoacousticFilterService::New();
  SampleVolume v(6, 10, 5);
  for (std::size_t i = 0; i < v.data.size(); ++i)
    v.data[i] = static_cast<float>(i);
  Image::Pointer in = t::MakeImage(v, 0.5, 0.25, 2.0, 1.0, 2.0, 3.0);
  Image::Pointer out = service->ApplyCropping(in, 2, 3, 1, 0, 1, 2);
  ASSERT_EQ(out->GetDimension(0), 5u);
  ASSERT_EQ(out->GetDimension(1), 5u);
  ASSERT_EQ(out->GetDimension(2), 2u);
  const auto origin = out->GetGeometry(0)->GetOrigin();
  EXPECT_NEAR(origin[0], 1.0 + 1 * 0.5, 1e-12);
  EXPECT_NEAR(origin[1], 2.0 + 2 * 0.25, 1e-12);
  EXPECT_NEAR(origin[2], 3.0 + 1 * 2.0, 1e-12);
  EXPECT_EQ(out->GetGeometry(0)->GetSpacing(), in->GetGeometry(0)->GetSpacing());
  EXPECT_EQ(t::ReadVolume(out).At(0, 0, 0), v.At(1, 2, 1));
  EXPECT_EQ(t::ReadVolume(out).At(4, 4, 1), v.At(5, 6, 2));

  // a single-frame image keeps its two dimensions
  Image::Pointer flat = t::MakeImage(SampleVolume(4, 8, 1, 1.0f), 0.5, 0.25);
  EXPECT_EQ(service->ApplyCropping(flat, 3, 0, 0, 0, 0, 0)->GetDimension(), 2u);
  EXPECT_THAT(DescriptionOf([&] { service->ApplyCropping(flat, 5, 3, 0, 0, 0, 0); }),
              Says("Cropping 5 + 3 rows from an image of 8 rows leaves nothing."));
  EXPECT_THAT(DescriptionOf([&] { service->ApplyCropping(flat, 0, 0, 0, 0, 1, 0); }),
              Says("Cropping 1 + 0 slices from an image of 1 slices leaves nothing."));
}

TEST(PhotoacousticFilterService, BandpassReadsTimeOrDepthFromTheRightPlace)
{
  auto service = PhotoacousticFilterService::New();
  const unsigned int n = 2048;
  auto tone = [&](double cyclesPerSample) {
    SampleVolume v(1, n, 1);
    for (unsigned int y = 0; y < n; ++y)
      v.At(0, y, 0) = static_cast<float>(std::sin(2 * 3.14159265358979 * cyclesPerSample * y));
    return v;
  };
  auto middleRms = [&](const SampleVolume &v) {
    double s = 0;
    for (unsigned int y = n / 4; y < 3 * n / 4; ++y)
      s += double(v.At(0, y, 0)) * v.At(0, y, 0);
    return std::sqrt(s / (n / 2));
  };
  // raw data sampled at 40 MHz: 0.125 cycles per sample is 5 MHz
  Image::Pointer raw = t::MakeImage(tone(0.125), PitchMm, DtUs);
  const float dt = 25e-9f;
  EXPECT_NEAR(middleRms(t::ReadVolume(service->ApplyBandpassFilter(raw, 2e6f, 8e6f, 0.5f, 0.5f, dt, C, false))),
              std::sqrt(0.5), 0.01);
  EXPECT_LT(middleRms(t::ReadVolume(service->ApplyBandpassFilter(raw, 6e6f, 10e6f, 0.5f, 0.5f, dt, C, false))),
            0.01 * std::sqrt(0.5));

  // a beamformed image: y spacing 0.0385 mm at 1540 m/s lasts 25 ns
  Image::Pointer bf = t::MakeImage(tone(0.125), 0.3, 0.0385);
  EXPECT_NEAR(middleRms(t::ReadVolume(service->ApplyBandpassFilter(bf, 2e6f, 8e6f, 0.5f, 0.5f, 0.0f, C, true))),
              std::sqrt(0.5), 0.01);
  EXPECT_LT(middleRms(t::ReadVolume(service->ApplyBandpassFilter(bf, 6e6f, 10e6f, 0.5f, 0.5f, 0.0f, C, true))),
            0.01 * std::sqrt(0.5));

  EXPECT_THAT(DescriptionOf([&] { service->ApplyBandpassFilter(raw, 2e6f, 8e6f, 0.5f, 0.5f, 0.0f, C, false); }),
              Says("needs a positive time spacing"));
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBandpassFilter(bf, 2e6f, 8e6f, 0.5f, 0.5f, dt, 0.0f, true); }),
              Says("needs a positive speed of sound"));
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBandpassFilter(raw, 9e6f, 8e6f, 0.5f, 0.5f, dt, C, false); }),
              Says("must lie below the low-pass cut-off"));
}

TEST(PhotoacousticFilterService, ImagesThatCannotBeProcessedAreRefused)
{
  auto service = PhotoacousticFilterService::New();
  Image::Pointer uninitialised = Image::New();
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBmodeFilter(uninitialised); }), Says("needs an initialised image"));
  EXPECT_THAT(DescriptionOf([&] { service->ApplyCropping(nullptr, 0, 0, 0, 0, 0, 0); }), Says("needs an image"));

  Image::Pointer rgb = Image::New();
  const unsigned int dims[2] = {4, 4};
  rgb->Initialize(vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>, 3>(), 2, dims);
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBmodeFilter(rgb); }), Says("needs a scalar image"));

  Image::Pointer movie = Image::New();
  const unsigned int dims4[4] = {4, 4, 1, 3};
  movie->Initialize(vexa::CreateScalarPixelType<float>(), 4, dims4);
  EXPECT_THAT(DescriptionOf([&] { service->ApplyBmodeFilter(movie); }), Says("works on images of one time step"));
}

TEST(CastToFloatImageFilter, CopiesValuesAndGeometryAsFloat)
{
  SampleVolume v(3, 4, 2);
  for (std::size_t i = 0; i < v.data.size(); ++i)
    v.data[i] = static_cast<float>(int(i) - 10);
  Image::Pointer in = t::MakeImage<short>(v, 0.3, 0.025, 1.5, 2.0, 0.0, -1.0);
  auto cast = vexa::CastToFloatImageFilter::New();
  cast->SetInput(in);
  cast->Update();
  Image::Pointer out = cast->GetOutput();
  ASSERT_EQ(out->GetPixelType(), vexa::CreateScalarPixelType<float>());
  EXPECT_EQ(out->GetDimension(), 3u);
  EXPECT_EQ(t::ReadVolume(out).data, v.data);
  EXPECT_EQ(out->GetGeometry(0)->GetSpacing(), in->GetGeometry(0)->GetSpacing());
  EXPECT_EQ(out->GetGeometry(0)->GetOrigin(), in->GetGeometry(0)->GetOrigin());

  Image::Pointer rgb = Image::New();
  const unsigned int dims[2] = {4, 4};
  rgb->Initialize(vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>, 3>(), 2, dims);
  auto refuse = vexa::CastToFloatImageFilter::New();
  refuse->SetInput(rgb);
  EXPECT_THROW(refuse->Update(), itk::ExceptionObject);
}
