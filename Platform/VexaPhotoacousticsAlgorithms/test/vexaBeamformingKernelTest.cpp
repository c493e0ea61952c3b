#include "vexaBeamformingTestSupport.h"

#include <vexaBeamformingKernel.h>
#include <vexaException.h>
#include <vexaTestThisProcess.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <thread>

using vexa::BeamformingKernel;
using vexa::SampleVolume;
using Algorithm = vexa::BeamformingKernel::Algorithm;
using Window = vexa::BeamformingKernel::Window;
namespace t = vexa::test;

namespace
{
  // A 64-element array of 0.3 mm pitch sampled at 40 MHz.
  constexpr unsigned int Elements = 64;
  constexpr unsigned int Samples = 1024;
  constexpr double Pitch = 0.3e-3;
  constexpr double C = 1540.0;
  constexpr double Dt = 25e-9;

  BeamformingKernel::Parameters PointParameters(Algorithm algorithm, unsigned int lines = Elements)
  {
    BeamformingKernel::Parameters p;
    p.pitch = Pitch;
    p.speedOfSound = C;
    p.timeSpacing = Dt;
    p.angle = 27.0;
    p.photoacoustic = true;
    p.samplesPerLine = 512;
    p.lines = lines;
    p.depth = 30e-3;
    p.window = Window::Hann;
    p.windowSize = 64;
    p.algorithm = algorithm;
    return p;
  }

  double LineX(const BeamformingKernel::Parameters &p, double line)
  {
    return -0.5 * p.pitch + (line + 0.5) * BeamformingKernel::LineSpacing(p, Elements);
  }

  double MaxAbs(const SampleVolume &v)
  {
    double m = 0.0;
    for (float x : v.data)
      m = std::max(m, double(std::fabs(x)));
    return m;
  }

  /** Width at half maximum of the lateral profile through the peak (in lines, interpolated). */
  double LateralFwhm(const SampleVolume &img, const t::Peak &peak)
  {
    // the profile takes the strongest value near the peak row in each line, so a
    // slight axial tilt of the spot does not narrow it artificially
    std::vector<double> profile(img.nx, 0.0);
    for (unsigned int x = 0; x < img.nx; ++x)
      for (int dy = -3; dy <= 3; ++dy)
      {
        const int y = static_cast<int>(peak.row) + dy;
        if (y >= 0 && y < static_cast<int>(img.ny))
          profile[x] = std::max(profile[x], double(img.At(x, y, 0)));
      }
    const double half = 0.5 * profile[peak.line];
    double left = peak.line, right = peak.line;
    for (int x = peak.line; x > 0; --x)
      if (profile[x - 1] < half)
      {
        left = x - (profile[x] - half) / (profile[x] - profile[x - 1]);
        break;
      }
    for (unsigned int x = peak.line; x + 1 < img.nx; ++x)
      if (profile[x + 1] < half)
      {
        right = x + (profile[x] - half) / (profile[x] - profile[x + 1]);
        break;
      }
    return right - left;
  }

  struct PointCase
  {
    Algorithm algorithm;
    bool photoacoustic;
    double line; // lateral position of the absorber, in output lines
    double depth;
  };
}

class BeamformingPointAbsorber : public ::testing::TestWithParam<PointCase>
{
};

TEST_P(BeamformingPointAbsorber, PeakLiesAtTheAbsorber)
{
  const PointCase c = GetParam();
  BeamformingKernel::Parameters p = PointParameters(c.algorithm);
  p.photoacoustic = c.photoacoustic;
  const t::Absorber a{LineX(p, c.line), c.depth, 1.0};
  const SampleVolume raw = t::PointAbsorberFrame(Elements, Samples, Pitch, C, Dt, {a}, c.photoacoustic);

  const SampleVolume img = BeamformingKernel::Reconstruct(raw, p);
  // a signal of 1 on every element: each pixel then holds the share of the array that sees it
  const SampleVolume share = BeamformingKernel::Reconstruct(SampleVolume(Elements, Samples, 1, 1.0f), p);
  ASSERT_EQ(img.nx, p.lines);
  ASSERT_EQ(img.ny, p.samplesPerLine);
  ASSERT_EQ(img.nz, 1u);
  const t::Peak peak = t::FindPeak(img);
  const double trueRow = c.depth / BeamformingKernel::DepthSpacing(p);
  EXPECT_LE(std::fabs(peak.line - c.line), 1.0) << "peak line " << peak.line;
  EXPECT_LE(std::fabs(peak.row - trueRow), 2.0) << "peak row " << peak.row << ", true row " << trueRow;
  // a coherent unit pulse reconstructs to about its amplitude times that share with every algorithm
  const float gain = share.At(peak.line, peak.row, 0);
  EXPECT_GT(gain, 0.0f);
  EXPECT_LT(gain, 1.0f);
  EXPECT_GT(peak.value, 0.8f * gain);
  EXPECT_LT(peak.value, 1.05f * gain);
}

INSTANTIATE_TEST_SUITE_P(Algorithms,
                         BeamformingPointAbsorber,
                         ::testing::Values(PointCase{Algorithm::DAS, true, 20.0, 15e-3},
                                           PointCase{Algorithm::DMAS, true, 20.0, 15e-3},
                                           PointCase{Algorithm::sDMAS, true, 20.0, 15e-3},
                                           PointCase{Algorithm::DAS, true, 45.3, 8.2e-3},
                                           PointCase{Algorithm::DMAS, true, 45.3, 8.2e-3},
                                           PointCase{Algorithm::sDMAS, true, 45.3, 8.2e-3},
                                           PointCase{Algorithm::DAS, true, 3.0, 25e-3},
                                           PointCase{Algorithm::sDMAS, true, 60.0, 25e-3},
                                           PointCase{Algorithm::DAS, false, 32.0, 10e-3},
                                           PointCase{Algorithm::DMAS, false, 32.0, 10e-3},
                                           PointCase{Algorithm::sDMAS, false, 12.6, 12e-3}));

TEST(BeamformingKernel, ACoherentSignalReturnsItsAmplitudeTimesTheShareOfTheArrayThatSeesIt)
{
  // The same value a on every element and sample, the Box window: a pixel
  // that K of the N elements see is a K / N with every algorithm; K from the
  // element angle alone (every delay lies within the recording here).
  constexpr float A = 2.5f;
  const SampleVolume raw(Elements, Samples, 1, A);
  for (double angle : {27.0, 60.0, 180.0})
    for (Algorithm alg : {Algorithm::DAS, Algorithm::DMAS, Algorithm::sDMAS})
    {
      BeamformingKernel::Parameters p = PointParameters(alg);
      p.window = Window::Box;
      p.angle = angle;
      const SampleVolume img = BeamformingKernel::Reconstruct(raw, p);
      const double n = Elements;
      for (unsigned int line : {0u, 5u, 32u, 63u})
        for (unsigned int row : {0u, 1u, 40u, 200u, 511u})
        {
          const double z = row * BeamformingKernel::DepthSpacing(p);
          const double h =
            angle < 180.0 ? std::max(z * std::tan(angle * 0.5 * t::Pi / 180.0), 0.5 * Pitch) : Elements * Pitch;
          double k = 0;
          for (unsigned int e = 0; e < Elements; ++e)
            k += std::fabs(e * Pitch - LineX(p, line)) <= h ? 1 : 0;
          const double expected = alg == Algorithm::DAS || k >= 2 ? A * k / n : 0.0; // DMAS: one pair at least
          EXPECT_NEAR(img.At(line, row, 0), expected, 1e-5 * A)
            << BeamformingKernel::AlgorithmName(alg) << " angle " << angle << " line " << line << " row " << row << ": "
            << k << " elements";
        }
      // at 180 degrees every element sees every pixel: the whole array's focus returns a
      if (angle == 180.0)
      {
        EXPECT_NEAR(img.At(32, 200, 0), A, 1e-5 * A);
      }
    }
}

TEST(BeamformingKernel, DmasAndSdmasHaveANarrowerMainLobeThanDas)
{
  // four lines per element resolve the lobe
  const unsigned int lines = 4 * Elements;
  BeamformingKernel::Parameters p = PointParameters(Algorithm::DAS, lines);
  p.angle = 60.0;
  const t::Absorber a{LineX(p, 128.0), 12e-3, 1.0};
  const SampleVolume raw = t::PointAbsorberFrame(Elements, Samples, Pitch, C, Dt, {a});

  std::map<Algorithm, double> width;
  for (Algorithm alg : {Algorithm::DAS, Algorithm::DMAS, Algorithm::sDMAS})
  {
    p.algorithm = alg;
    const SampleVolume img = BeamformingKernel::Reconstruct(raw, p);
    const t::Peak peak = t::FindPeak(img);
    width[alg] = LateralFwhm(img, peak);
    EXPECT_GT(width[alg], 0.5) << BeamformingKernel::AlgorithmName(alg);
  }
  EXPECT_LT(width[Algorithm::DMAS], 0.9 * width[Algorithm::DAS]);
  EXPECT_LT(width[Algorithm::sDMAS], 0.9 * width[Algorithm::DAS]);
}

TEST(BeamformingKernel, SpeedOfSoundScalesThePeakDepth)
{
  const t::Absorber a{LineX(PointParameters(Algorithm::DAS), 32.0), 15e-3, 1.0};
  const SampleVolume raw = t::PointAbsorberFrame(Elements, Samples, Pitch, C, Dt, {a});
  for (double factor : {0.9, 1.0, 1.1})
  {
    BeamformingKernel::Parameters p = PointParameters(Algorithm::DAS);
    p.speedOfSound = C * factor;
    const t::Peak peak = t::FindPeak(BeamformingKernel::Reconstruct(raw, p));
    // the arrival under the absorber is z / c, so an assumed c' puts it at z c' / c
    const double expectedRow = a.z * factor / BeamformingKernel::DepthSpacing(p);
    EXPECT_NEAR(peak.row, expectedRow, 2.0 + 0.005 * expectedRow) << "factor " << factor;
    EXPECT_LE(std::fabs(peak.line - 32.0), 1.0);
  }
}

TEST(BeamformingKernel, MatchesThePlainReferenceForEverySetting)
{
  // 17 elements and 37 lines: no line lies exactly half a pitch from an element,
  // where float and double could decide the edge of the aperture differently
  const SampleVolume raw = t::RandomVolume(17, 200, 2, 7);
  for (Algorithm alg : {Algorithm::DAS, Algorithm::DMAS, Algorithm::sDMAS})
    for (Window win : {Window::Hamming, Window::Hann, Window::Box})
      for (bool pa : {true, false})
        for (double angle : {10.0, 27.0, 180.0})
          for (unsigned int lines : {17u, 37u})
          {
            BeamformingKernel::Parameters p;
            p.pitch = 0.25e-3;
            p.speedOfSound = 1500.0;
            p.timeSpacing = 1.0 / 20e6;
            p.angle = angle;
            p.photoacoustic = pa;
            p.samplesPerLine = 90;
            p.lines = lines;
            p.depth = 12e-3;
            p.window = win;
            p.windowSize = 33;
            p.algorithm = alg;
            const SampleVolume ref = t::ReferenceBeamform(raw, p, true);
            // the shared tracks and the tracks made per line (budget 0), with
            // every instruction set this processor has (the delays step by
            // 1.8 samples per row in photoacoustic and 3.6 in pulse-echo
            // mode, so the vector loops take both of their ways to the samples)
            for (std::size_t budget : {BeamformingKernel::DefaultTrackBudgetBytes, std::size_t(0)})
              for (int set = 0; set <= static_cast<int>(BeamformingKernel::BestInstructionSet()); ++set)
              {
                const SampleVolume fast = BeamformingKernel::Reconstruct(
                  raw, p, 3, {}, budget, static_cast<BeamformingKernel::InstructionSet>(set));
                ASSERT_EQ(fast.data.size(), ref.data.size());
                // relative to the image's largest value; the signed square root is
                // steep near 0, so float rounding of a sample weighs more in DMAS than in DAS
                const double tol = (alg == Algorithm::DAS ? 1e-4 : 2e-3) * MaxAbs(ref);
                std::size_t bad = 0;
                for (std::size_t i = 0; i < ref.data.size(); ++i)
                  if (!(std::fabs(fast.data[i] - ref.data[i]) <= tol)) // a NaN counts as wrong
                    ++bad;
                EXPECT_EQ(bad, 0u) << BeamformingKernel::AlgorithmName(alg) << " window " << int(win) << " pa " << pa
                                   << " angle " << angle << " lines " << lines << " budget " << budget
                                   << " instruction set " << set;
              }
          }
}

TEST(BeamformingKernel, EverySampleOfEveryChannelIsReadWhateverTheFrameSize)
{
  // The channels are copied in blocks of elements and samples; sizes that
  // end inside a block (or have one sample) must lose nothing at the edges.
  // The depth reaches the last sample in pulse-echo mode.
  struct Case
  {
    unsigned int elements, samples, frames;
  };
  for (const Case c :
       {Case{17, 1100, 2}, Case{16, 512, 1}, Case{3, 513, 1}, Case{5, 1, 1}, Case{33, 1537, 1}, Case{70, 700, 1}})
    for (Algorithm alg : {Algorithm::DAS, Algorithm::sDMAS})
    {
      const SampleVolume raw = t::RandomVolume(c.elements, c.samples, c.frames, c.samples);
      BeamformingKernel::Parameters p;
      p.pitch = 0.25e-3;
      p.speedOfSound = 1500.0;
      p.timeSpacing = 1.0 / 20e6;
      p.angle = 180.0;
      p.photoacoustic = false;
      p.samplesPerLine = 70;
      p.lines = 11;
      p.depth = 0.5 * c.samples * p.speedOfSound * p.timeSpacing;
      p.window = Window::Hann;
      p.windowSize = 33;
      p.algorithm = alg;
      const SampleVolume ref = t::ReferenceBeamform(raw, p, true);
      // shared tracks, and tracks made per line (more elements than one group of them)
      for (std::size_t budget : {BeamformingKernel::DefaultTrackBudgetBytes, std::size_t(0)})
      {
        const SampleVolume fast = BeamformingKernel::Reconstruct(raw, p, 4, {}, budget);
        ASSERT_EQ(fast.data.size(), ref.data.size());
        // the delays of the late samples carry float rounding that does not shrink with the image's values
        const double tol = (alg == Algorithm::DAS ? 1e-4 : 2e-3) * std::max(1.0, MaxAbs(ref));
        std::size_t bad = 0;
        for (std::size_t i = 0; i < ref.data.size(); ++i)
          if (!(std::fabs(fast.data[i] - ref.data[i]) <= tol))
            ++bad;
        EXPECT_EQ(bad, 0u) << c.elements << " x " << c.samples << " x " << c.frames << " "
                           << BeamformingKernel::AlgorithmName(alg) << " budget " << budget;
      }
    }
}

TEST(BeamformingKernel, ElementAngleDecidesWhereAnElementStartsToCount)
{
  // Only element 0 carries signal (a constant). Under line 40 it comes into view
  // at the depth where |dx| = z tan(angle / 2).
  SampleVolume raw(Elements, Samples, 1, 0.0f);
  for (unsigned int i = 0; i < Samples; ++i)
    raw.At(0, i, 0) = 1.0f;
  for (double angle : {20.0, 27.0, 60.0})
  {
    BeamformingKernel::Parameters p = PointParameters(Algorithm::DAS);
    p.window = Window::Box;
    p.angle = angle;
    const SampleVolume img = BeamformingKernel::Reconstruct(raw, p);
    const double dx = std::fabs(LineX(p, 40.0));
    const double zOn = dx / std::tan(angle * 0.5 * t::Pi / 180.0);
    const double dz = BeamformingKernel::DepthSpacing(p);
    for (unsigned int s = 0; s < p.samplesPerLine; ++s)
    {
      const double z = s * dz;
      if (z < zOn - 1e-6 * dz)
      {
        ASSERT_EQ(img.At(40, s, 0), 0.0f) << "angle " << angle << " row " << s;
      }
      else if (z > zOn + 1e-6 * dz && std::hypot(dx, z) / C / Dt < Samples - 1)
      {
        ASSERT_GT(img.At(40, s, 0), 0.0f) << "angle " << angle << " row " << s;
      }
    }
  }
}

TEST(BeamformingKernel, WindowTables)
{
  const std::vector<float> hamming = BeamformingKernel::MakeWindow(Window::Hamming, 5);
  const std::vector<float> hann = BeamformingKernel::MakeWindow(Window::Hann, 5);
  const std::vector<float> box = BeamformingKernel::MakeWindow(Window::Box, 5);
  const float expHamming[] = {0.08f, 0.54f, 1.0f, 0.54f, 0.08f};
  const float expHann[] = {0.0f, 0.5f, 1.0f, 0.5f, 0.0f};
  for (int i = 0; i < 5; ++i)
  {
    EXPECT_NEAR(hamming[i], expHamming[i], 1e-6);
    EXPECT_NEAR(hann[i], expHann[i], 1e-6);
    EXPECT_EQ(box[i], 1.0f);
  }
  EXPECT_EQ(BeamformingKernel::MakeWindow(Window::Hann, 1), std::vector<float>{1.0f});
}

TEST(BeamformingKernel, FramesAreReconstructedOnTheirOwn)
{
  BeamformingKernel::Parameters p = PointParameters(Algorithm::sDMAS);
  const SampleVolume f0 = t::PointAbsorberFrame(Elements, Samples, Pitch, C, Dt, {{LineX(p, 10), 9e-3, 1.0}});
  const SampleVolume f1 = t::PointAbsorberFrame(Elements, Samples, Pitch, C, Dt, {{LineX(p, 50), 21e-3, 1.0}});
  SampleVolume both(Elements, Samples, 2);
  std::copy(f0.data.begin(), f0.data.end(), both.data.begin());
  std::copy(f1.data.begin(), f1.data.end(), both.data.begin() + f0.data.size());

  const SampleVolume img = BeamformingKernel::Reconstruct(both, p);
  const SampleVolume img0 = BeamformingKernel::Reconstruct(f0, p);
  const SampleVolume img1 = BeamformingKernel::Reconstruct(f1, p);
  ASSERT_EQ(img.nz, 2u);
  EXPECT_TRUE(std::equal(img0.data.begin(), img0.data.end(), img.data.begin()));
  EXPECT_TRUE(std::equal(img1.data.begin(), img1.data.end(), img.data.begin() + img0.data.size()));
  EXPECT_LE(std::abs(int(t::FindPeak(img, 1).line) - 50), 1);
}

TEST(BeamformingKernel, ThreadCountAndConcurrentCallsDoNotChangeTheResult)
{
  const SampleVolume raw = t::RandomVolume(Elements, 512, 3, 11);
  BeamformingKernel::Parameters p = PointParameters(Algorithm::DMAS);
  const SampleVolume single = BeamformingKernel::Reconstruct(raw, p, 1);
  const SampleVolume all = BeamformingKernel::Reconstruct(raw, p, 0);
  EXPECT_EQ(single.data, all.data);

  std::vector<SampleVolume> results(4);
  std::vector<std::thread> callers;
  for (std::size_t i = 0; i < results.size(); ++i)
    callers.emplace_back([&, i] { results[i] = BeamformingKernel::Reconstruct(raw, p, 2); });
  for (auto &c : callers)
    c.join();
  for (const SampleVolume &r : results)
    EXPECT_EQ(r.data, single.data);
}

TEST(BeamformingKernel, ProgressIsMonotoneBoundedAndEndsAtHundred)
{
  const SampleVolume raw = t::RandomVolume(Elements, 256, 5, 3);
  BeamformingKernel::Parameters p = PointParameters(Algorithm::DAS);
  p.samplesPerLine = 128;
  for (unsigned int threads : {1u, 4u})
  {
    std::vector<int> seen;
    std::vector<std::string> texts;
    const std::thread::id caller = std::this_thread::get_id();
    bool otherThread = false;
    BeamformingKernel::Reconstruct(raw, p, threads, [&](int percent, std::string text) {
      seen.push_back(percent);
      texts.push_back(text);
      otherThread = otherThread || std::this_thread::get_id() != caller;
    });
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_LE(seen.size(), 101u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) && std::adjacent_find(seen.begin(), seen.end()) == seen.end());
    EXPECT_FALSE(otherThread);
    EXPECT_EQ(texts.front(), "DAS beamforming, frame 1 of 5");
    EXPECT_EQ(texts.back(), "DAS beamforming done");
  }
}

TEST(BeamformingKernel, InvalidParametersAreRefusedWithAClearText)
{
  const SampleVolume raw = t::RandomVolume(8, 64, 1, 1);
  struct Case
  {
    std::function<void(BeamformingKernel::Parameters &)> spoil;
    std::string text;
  };
  const std::vector<Case> cases = {
    {[](auto &p) { p.pitch = 0; }, "positive element pitch"},
    {[](auto &p) { p.pitch = -1e-3; }, "positive element pitch"},
    {[](auto &p) { p.speedOfSound = 0; }, "positive speed of sound"},
    {[](auto &p) { p.speedOfSound = std::nan(""); }, "positive speed of sound"},
    {[](auto &p) { p.timeSpacing = -1e-8; }, "positive time spacing"},
    {[](auto &p) { p.angle = 0; }, "positive element angle"},
    {[](auto &p) { p.depth = 0; }, "positive reconstruction depth"},
    {[](auto &p) { p.depth = std::numeric_limits<double>::infinity(); }, "positive reconstruction depth"},
    {[](auto &p) { p.lines = 0; }, "at least one reconstruction line"},
    {[](auto &p) { p.samplesPerLine = 0; }, "at least one sample per reconstructed line"},
    {[](auto &p) { p.windowSize = 0; }, "apodization window of at least one point"},
    {[](auto &p) { p.window = static_cast<Window>(7); }, "unknown apodization 7"},
    {[](auto &p) { p.algorithm = static_cast<Algorithm>(3); }, "unknown algorithm 3"},
  };
  for (const Case &c : cases)
  {
    BeamformingKernel::Parameters p = PointParameters(Algorithm::DAS);
    c.spoil(p);
    try
    {
      BeamformingKernel::Reconstruct(raw, p);
      ADD_FAILURE() << "no exception for: " << c.text;
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_NE(std::string(e.GetDescription()).find(c.text), std::string::npos) << e.GetDescription();
    }
  }
  EXPECT_THROW(BeamformingKernel::Reconstruct(SampleVolume(0, 10, 1), PointParameters(Algorithm::DAS)),
               vexa::Exception);
}

TEST(BeamformingKernel, CallsOfManyGeometriesAtOnceKeepTheirOwnPlans)
{
  // more geometries than plans are kept, from several threads at once: each
  // result must be the one its geometry gives alone
  const SampleVolume raw = t::RandomVolume(24, 300, 1, 5);
  std::vector<BeamformingKernel::Parameters> geometries;
  for (unsigned int lines : {16u, 24u, 31u})
    for (Algorithm alg : {Algorithm::DAS, Algorithm::sDMAS})
    {
      BeamformingKernel::Parameters p = PointParameters(alg, lines);
      p.samplesPerLine = 200 + lines;
      geometries.push_back(p);
    }
  std::vector<SampleVolume> alone;
  for (const auto &p : geometries)
    alone.push_back(BeamformingKernel::Reconstruct(raw, p, 1));

  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (unsigned int c = 0; c < 4; ++c)
    callers.emplace_back([&, c] {
      for (unsigned int round = 0; round < 12; ++round)
      {
        const std::size_t g = (c + round) % geometries.size();
        if (BeamformingKernel::Reconstruct(raw, geometries[g], 2).data != alone[g].data)
          ++wrong;
      }
    });
  for (auto &c : callers)
    c.join();
  EXPECT_EQ(wrong.load(), 0);
}

namespace
{
  using vexa::test::ResetPeakResident;

  /** Peak resident memory of this process since the last ResetPeakResident, in bytes (0 when unknown). */
  std::size_t PeakMemory() { return static_cast<std::size_t>(vexa::test::PeakResidentKiB()) * 1024; }
}

TEST(BeamformingKernel, ManyElementsFallBackToPerLineDelaysInBoundedMemory)
{
  // A wide array reconstructed the way the command-line tool sets it up (one
  // line per element, the window as wide as the array): the table of which
  // track each line and element use alone would be lines x elements entries
  // (40 GB here), so the shared tracks must be refused before anything of
  // that size is made, and the per-line delays used instead.
  constexpr unsigned int Wide = 100000;
  BeamformingKernel::Parameters p;
  p.pitch = 0.3e-3;
  p.speedOfSound = 1540.0;
  p.timeSpacing = 20e-6; // two samples reach past the second row's 20 mm
  p.angle = 27.0;
  p.samplesPerLine = 2;
  p.lines = Wide;
  p.depth = 0.04;
  p.window = Window::Box;
  p.windowSize = Wide;
  p.algorithm = Algorithm::DAS;
  EXPECT_EQ(BeamformingKernel::SharedTrackBytes(Wide, p), 0u);

  // the decision is exact at the budget's edge
  const BeamformingKernel::Parameters usual = PointParameters(Algorithm::DMAS);
  const std::size_t need = BeamformingKernel::SharedTrackBytes(Elements, usual);
  ASSERT_GT(need, 0u);
  EXPECT_EQ(BeamformingKernel::SharedTrackBytes(Elements, usual, need), need);
  EXPECT_EQ(BeamformingKernel::SharedTrackBytes(Elements, usual, need - 1), 0u);

  SampleVolume raw(Wide, 2, 1, 1.0f);
  const bool measured = ResetPeakResident() && PeakMemory() > 0;
  const std::size_t before = PeakMemory();
  const SampleVolume img = BeamformingKernel::Reconstruct(raw, p, 2);
  const std::size_t growth = PeakMemory() - before;
  // a signal of 1 gives the share of the array that sees the pixel: at the
  // surface the element under the line, at 20 mm those within 20 mm tan(13.5 deg)
  unsigned int seen = 0;
  for (unsigned int e = 0; e < Wide; ++e)
    seen += std::fabs((double(e) - Wide / 2) * p.pitch) <= 20e-3 * std::tan(13.5 * t::Pi / 180.0) ? 1 : 0;
  EXPECT_FLOAT_EQ(img.At(Wide / 2, 0, 0), 1.0f / Wide);
  EXPECT_FLOAT_EQ(img.At(Wide / 2, 1, 0), float(seen) / Wide);
  if (!measured)
    GTEST_SKIP() << "this system does not report peak memory (/proc/self/clear_refs, VmHWM)";
  // the input, the output and the channel copy are about 3 MB; the budget is 64 MB
  EXPECT_LT(growth, std::size_t(96) << 20) << "peak memory grew by " << growth << " bytes";
}
