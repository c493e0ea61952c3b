#include <vexaException.h>
#include <vexaSignalKernels.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using vexa::SampleVolume;
using vexa::SignalKernels;

namespace
{
  constexpr double Pi = 3.14159265358979323846;
  constexpr double Dt = 25e-9; // 40 MHz sampling

  double Rms(const SampleVolume &v, unsigned int x, unsigned int z, unsigned int from, unsigned int to)
  {
    double s = 0.0;
    for (unsigned int y = from; y < to; ++y)
      s += double(v.At(x, y, z)) * v.At(x, y, z);
    return std::sqrt(s / (to - from));
  }

  SampleVolume Tone(double hz, unsigned int n, unsigned int columns = 1)
  {
    SampleVolume v(columns, n, 1);
    for (unsigned int x = 0; x < columns; ++x)
      for (unsigned int y = 0; y < n; ++y)
        v.At(x, y, 0) = static_cast<float>(std::sin(2.0 * Pi * hz * y * Dt + 0.3 * x));
    return v;
  }
}

TEST(SignalKernels, EnvelopeOfAModulatedGaussianMatchesTheAnalyticEnvelope)
{
  // 5 MHz carrier under Gaussians of 0.3 us; every column and frame has its own
  // centre so that a mix-up of columns shows
  const unsigned int n = 1024;
  const double sigma = 0.3e-6, f0 = 5e6;
  SampleVolume in(3, n, 2);
  auto centre = [](unsigned int x, unsigned int z) { return (300.0 + 90.0 * x + 250.0 * z) * Dt; };
  for (unsigned int z = 0; z < 2; ++z)
    for (unsigned int x = 0; x < 3; ++x)
      for (unsigned int y = 0; y < n; ++y)
      {
        const double t = y * Dt - centre(x, z);
        in.At(x, y, z) = static_cast<float>(std::exp(-t * t / (2 * sigma * sigma)) * std::cos(2 * Pi * f0 * t + 0.7));
      }
  const SampleVolume env = SignalKernels::Envelope(in);
  ASSERT_EQ(env.data.size(), in.data.size());
  for (unsigned int z = 0; z < 2; ++z)
    for (unsigned int x = 0; x < 3; ++x)
    {
      double worst = 0.0;
      for (unsigned int y = 0; y < n; ++y)
      {
        const double t = y * Dt - centre(x, z);
        worst = std::max(worst, std::fabs(env.At(x, y, z) - std::exp(-t * t / (2 * sigma * sigma))));
      }
      EXPECT_LT(worst, 0.01) << "column " << x << " frame " << z;
    }
}

TEST(SignalKernels, EnvelopeOfOddLengthsAndSingleSamples)
{
  SampleVolume in(1, 1, 1, -3.0f);
  EXPECT_NEAR(SignalKernels::Envelope(in).data[0], 3.0f, 1e-6);
  // an odd length: the envelope of a whole number of cosine periods is flat
  const unsigned int n = 75;
  SampleVolume odd(1, n, 1);
  for (unsigned int y = 0; y < n; ++y)
    odd.At(0, y, 0) = static_cast<float>(2.0 * std::cos(2 * Pi * 5.0 * y / n));
  for (float v : SignalKernels::Envelope(odd).data)
    EXPECT_NEAR(v, 2.0f, 1e-4);
}

TEST(SignalKernels, AbsoluteValueAndLogCompression)
{
  SampleVolume v(5, 1, 1);
  v.data = {0.0f, -0.5f, 1.0f, 1e-9f, -2.0f};
  SampleVolume a = SignalKernels::AbsoluteValue(v);
  EXPECT_EQ(a.data, (std::vector<float>{0.0f, 0.5f, 1.0f, 1e-9f, 2.0f}));
  SignalKernels::LogCompress(a);
  const float floorDb = SignalKernels::LogCompressionFloorDecibels;
  EXPECT_EQ(a.data[0], floorDb);
  EXPECT_NEAR(a.data[1], 20.0 * std::log10(0.25), 1e-4);
  EXPECT_NEAR(a.data[2], 20.0 * std::log10(0.5), 1e-4);
  EXPECT_EQ(a.data[3], floorDb);
  EXPECT_NEAR(a.data[4], 0.0, 1e-6);

  SampleVolume zeros(3, 2, 1, 0.0f);
  SignalKernels::LogCompress(zeros);
  EXPECT_EQ(zeros.data, std::vector<float>(6, floorDb));
}

TEST(SignalKernels, BandpassPassesInBandAndAttenuatesOutOfBandTonesBy40dB)
{
  const unsigned int n = 2048;
  const unsigned int from = n / 4, to = 3 * n / 4; // away from the ends of the column
  const struct
  {
    double hz;
    bool passes;
  } tones[] = {{5e6, true}, {4e6, true}, {0.3e6, false}, {14e6, false}, {19e6, false}};
  for (const auto &tone : tones)
  {
    const SampleVolume in = Tone(tone.hz, n, 2);
    const SampleVolume out = SignalKernels::Bandpass(in, 2e6, 8e6, 0.5, 0.5, Dt);
    for (unsigned int x = 0; x < 2; ++x)
    {
      const double ratio = Rms(out, x, 0, from, to) / Rms(in, x, 0, from, to);
      if (tone.passes)
        EXPECT_NEAR(ratio, 1.0, 0.01) << tone.hz << " Hz";
      else
        EXPECT_LT(20.0 * std::log10(ratio), -40.0) << tone.hz << " Hz";
    }
  }
}

TEST(SignalKernels, OpenEdgesKeepDcAndHighFrequencies)
{
  const unsigned int n = 1024;
  SampleVolume dc(1, n, 1, 1.5f);
  const SampleVolume lowOnly = SignalKernels::Bandpass(dc, 0.0, 8e6, 0.5, 0.5, Dt);
  EXPECT_NEAR(lowOnly.At(0, n / 2, 0), 1.5f, 1e-3);

  const SampleVolume high = Tone(15e6, n);
  const SampleVolume highOnly = SignalKernels::Bandpass(high, 1e6, 0.0, 0.5, 0.5, Dt);
  EXPECT_NEAR(Rms(highOnly, 0, 0, n / 4, 3 * n / 4) / Rms(high, 0, 0, n / 4, 3 * n / 4), 1.0, 0.01);
  const SampleVolume pastNyquist = SignalKernels::Bandpass(high, 1e6, 50e6, 0.5, 0.5, Dt);
  EXPECT_EQ(pastNyquist.data, highOnly.data);
}

TEST(SignalKernels, EachAlphaTapersItsOwnEdge)
{
  // band 2..8 MHz, B = 6 MHz: the high-pass edge rises over alphaHighPass * 3 MHz,
  // the low-pass edge falls over alphaLowPass * 3 MHz
  const double nyq = 20e6;
  const double aLow = 0.25, aHigh = 0.5;
  auto g = [&](double f) { return SignalKernels::BandGain(f, 2e6, 8e6, aLow, aHigh, nyq); };
  EXPECT_EQ(g(0.0), 0.0);
  EXPECT_EQ(g(2e6), 0.0);
  EXPECT_NEAR(g(2e6 + 0.75e6), 0.5, 1e-12); // middle of the 1.5 MHz rise
  EXPECT_EQ(g(3.6e6), 1.0);
  EXPECT_EQ(g(7.2e6), 1.0);
  EXPECT_NEAR(g(8e6 - 0.375e6), 0.5, 1e-12); // middle of the 0.75 MHz fall
  EXPECT_EQ(g(8e6), 0.0);
  EXPECT_EQ(g(12e6), 0.0);
  // alphas 0: a rectangular band
  EXPECT_EQ(SignalKernels::BandGain(2.01e6, 2e6, 8e6, 0.0, 0.0, nyq), 1.0);
  EXPECT_EQ(SignalKernels::BandGain(7.99e6, 2e6, 8e6, 0.0, 0.0, nyq), 1.0);
  // alphas 1: a Hann bump peaking in the middle of the band
  EXPECT_NEAR(SignalKernels::BandGain(5e6, 2e6, 8e6, 1.0, 1.0, nyq), 1.0, 1e-12);
  EXPECT_NEAR(SignalKernels::BandGain(3.5e6, 2e6, 8e6, 1.0, 1.0, nyq), 0.5, 1e-12);
}

TEST(SignalKernels, BandpassRefusesInvalidSettings)
{
  const SampleVolume in(1, 64, 1, 1.0f);
  const struct
  {
    double high, low, alphaLow, alphaHigh, dt;
    const char *text;
  } cases[] = {
    {1e6, 8e6, 0.5, 0.5, 0.0, "positive sample spacing"},
    {1e6, 8e6, 0.5, 0.5, -Dt, "positive sample spacing"},
    {-1.0, 8e6, 0.5, 0.5, Dt, "high-pass cut-off of 0 Hz or more"},
    {1e6, -8e6, 0.5, 0.5, Dt, "low-pass cut-off of 0 Hz or more"},
    {8e6, 8e6, 0.5, 0.5, Dt, "must lie below the low-pass cut-off"},
    {9e6, 8e6, 0.5, 0.5, Dt, "must lie below the low-pass cut-off"},
    {25e6, 0.0, 0.5, 0.5, Dt, "must lie below the Nyquist frequency"},
    {1e6, 8e6, 1.5, 0.5, Dt, "alpha of the low-pass edge must lie in [0, 1]"},
    {1e6, 8e6, 0.5, -0.1, Dt, "alpha of the high-pass edge must lie in [0, 1]"},
    {std::nan(""), 8e6, 0.5, 0.5, Dt, "high-pass cut-off of 0 Hz or more"},
  };
  for (const auto &c : cases)
  {
    try
    {
      SignalKernels::Bandpass(in, c.high, c.low, c.alphaLow, c.alphaHigh, c.dt);
      ADD_FAILURE() << "no exception: " << c.text;
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_NE(std::string(e.GetDescription()).find(c.text), std::string::npos) << e.GetDescription();
    }
  }
  EXPECT_THROW(SignalKernels::Bandpass(SampleVolume(), 1e6, 8e6, 0.5, 0.5, Dt), vexa::Exception);
  EXPECT_THROW(SignalKernels::Envelope(SampleVolume(2, 0, 1)), vexa::Exception);
}
