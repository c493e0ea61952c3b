#include <vexaMcxyzPhotonTransport.h>
#include <vexaMcxyzRandom.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numeric>
#include <set>
#include <stdexcept>

using namespace vexa::mcxyz;

namespace
{
  OpticalVolume Homogeneous(std::size_t nx, std::size_t ny, std::size_t nz, double h, float mua, float mus, float g)
  {
    OpticalVolume vol;
    vol.dimensions = {{nx, ny, nz}};
    vol.voxelSizeCm = {{h, h, h}};
    vol.absorption.assign(vol.NumberOfVoxels(), mua);
    vol.scattering.assign(vol.NumberOfVoxels(), mus);
    vol.anisotropy.assign(vol.NumberOfVoxels(), g);
    return vol;
  }

  TransportSettings Settings(std::uint64_t photons, std::uint64_t seed, unsigned int threads)
  {
    TransportSettings s;
    s.photons = photons;
    s.seed = seed;
    s.threads = threads;
    return s;
  }

  /** Fluence summed over each x-y plane, in plane order (depth). */
  std::vector<double> PlaneSums(const OpticalVolume &vol, const std::vector<double> &fluence)
  {
    const std::size_t plane = vol.dimensions[0] * vol.dimensions[1];
    std::vector<double> sums(vol.dimensions[2], 0.0);
    for (std::size_t z = 0; z < vol.dimensions[2]; ++z)
      sums[z] = std::accumulate(fluence.begin() + z * plane, fluence.begin() + (z + 1) * plane, 0.0);
    return sums;
  }
}

TEST(PhotonTransport, EnergyIsConservedAndTheTwoEstimatorsAgree)
{
  const OpticalVolume vol = Homogeneous(30, 30, 30, 0.05, 1.0f, 50.0f, 0.8f);
  TransportSettings s = Settings(20000, 7, 4);
  s.tallyAbsorbedEnergy = true;
  const TransportResult r = SimulatePhotonTransport(vol, Illumination::Default(), s);

  EXPECT_EQ(20000.0, r.launched);
  // the bookkeeping closes exactly: every weight is absorbed, escapes or is settled by roulette
  EXPECT_NEAR(r.launched, r.absorbedTotal + r.escaped + r.rouletteLoss - r.rouletteGain, 1e-9 * r.launched);
  // roulette is fair: what it takes and what it gives cancel within Monte-Carlo noise
  EXPECT_NEAR(r.launched, r.absorbedTotal + r.escaped, 0.01 * r.launched);
  EXPECT_GT(r.absorbedTotal, 0.1 * r.launched);
  EXPECT_GT(r.escaped, 0.1 * r.launched);

  // the deposit per voxel sums to the absorbed total ...
  const double deposited = std::accumulate(r.absorbed.begin(), r.absorbed.end(), 0.0);
  EXPECT_NEAR(r.absorbedTotal / r.launched, deposited, 1e-9);
  // ... and the track-length fluence predicts the same absorption: sum of mu_a * fluence * voxel volume
  const double voxelVolume = 0.05 * 0.05 * 0.05;
  double predicted = 0;
  for (std::size_t v = 0; v < vol.NumberOfVoxels(); ++v)
    predicted += vol.absorption[v] * r.fluence[v] * voxelVolume;
  EXPECT_NEAR(deposited, predicted, 0.02 * deposited);
}

TEST(PhotonTransport, ExtremeMediaEndExactly)
{
  // nothing absorbs: every packet keeps weight 1 until it leaves the volume
  const TransportResult clear = SimulatePhotonTransport(Homogeneous(10, 10, 10, 0.1, 0.0f, 20.0f, 0.0f),
                                                        Illumination::Default(), Settings(2000, 3, 2));
  EXPECT_EQ(0.0, clear.absorbedTotal);
  EXPECT_EQ(clear.launched, clear.escaped);
  EXPECT_EQ(0.0, clear.rouletteGain);

  // a pure absorber takes everything at the first interaction
  const TransportResult black = SimulatePhotonTransport(Homogeneous(10, 10, 10, 0.1, 1000.0f, 0.0f, 0.0f),
                                                        Illumination::Default(), Settings(2000, 3, 2));
  EXPECT_EQ(black.launched, black.absorbedTotal);
  EXPECT_EQ(0.0, black.escaped);
}

TEST(PhotonTransport, TrackLengthFluenceInVacuumIsExact)
{
  // a pencil beam through empty, anisotropic voxels: each voxel of its column
  // is crossed once by every packet, so the fluence is 1 / (dx * dy) there and 0 elsewhere
  OpticalVolume vol = Homogeneous(5, 7, 9, 0.1, 0.0f, 0.0f, 0.0f);
  vol.voxelSizeCm = {{0.1, 0.2, 0.05}};
  Illumination ill = Illumination::Default();
  ill.sources[0].positionCm = {{0.01, 0.03, -1.0}}; // above the volume: enters through the top face
  const TransportResult r = SimulatePhotonTransport(vol, ill, Settings(100, 1, 1));
  EXPECT_EQ(r.launched, r.escaped);
  for (std::size_t z = 0; z < 9; ++z)
    for (std::size_t y = 0; y < 7; ++y)
      for (std::size_t x = 0; x < 5; ++x)
      {
        const double f = r.fluence[x + 5 * (y + 7 * z)];
        if (x == 2 && y == 3)
          EXPECT_NEAR(1.0 / (0.1 * 0.2), f, 1e-9) << z;
        else
          EXPECT_EQ(0.0, f) << x << " " << y << " " << z;
      }

  // pointing away from the volume: launched, never entered, counted as escaped
  ill.sources[0].direction = {{0, 0, -1}};
  const TransportResult away = SimulatePhotonTransport(vol, ill, Settings(100, 1, 1));
  EXPECT_EQ(away.launched, away.escaped);
  EXPECT_EQ(0.0, std::accumulate(away.fluence.begin(), away.fluence.end(), 0.0));
}

TEST(PhotonTransport, FluenceDecaysWithDepthAsDiffusionTheoryPredicts)
{
  // Homogeneous medium, mu_a = 0.5/cm, mu_s = 20/cm, g = 0.5: mu_s' = 10/cm, mu_a << mu_s'.
  // Far from the source the laterally integrated fluence of a pencil beam
  // falls as exp(-mu_eff z) with mu_eff = sqrt(3 mu_a (mu_a + mu_s')) = 3.969/cm.
  // Exact transport theory differs from diffusion theory here by about 2 %;
  // we accept 5 %.
  const double mua = 0.5, mus = 20, g = 0.5, h = 0.05;
  const OpticalVolume vol = Homogeneous(80, 80, 50, h, mua, mus, g);
  const TransportResult r = SimulatePhotonTransport(vol, Illumination::Default(), Settings(200000, 11, 4));
  const std::vector<double> planes = PlaneSums(vol, r.fluence);

  // least-squares slope of ln F(z) over 0.6 cm .. 1.6 cm (3 to 6 diffusion lengths from the surface)
  double sz = 0, sl = 0, szz = 0, szl = 0;
  int n = 0;
  for (std::size_t k = 12; k < 32; ++k)
  {
    const double z = (k + 0.5) * h;
    ASSERT_GT(planes[k], 0.0);
    const double l = std::log(planes[k]);
    sz += z;
    sl += l;
    szz += z * z;
    szl += z * l;
    ++n;
  }
  const double slope = (n * szl - sz * sl) / (n * szz - sz * sz);
  const double muEff = std::sqrt(3 * mua * (mua + mus * (1 - g)));
  EXPECT_NEAR(muEff, -slope, 0.05 * muEff) << "fitted mu_eff " << -slope;
}

TEST(PhotonTransport, ASeedGivesTheSameResultOnAnyNumberOfThreads)
{
  // a volume the packets spread through, so that the workers' additions meet in many voxels
  const OpticalVolume vol = Homogeneous(64, 64, 16, 0.03, 0.5f, 30.0f, 0.8f);
  auto run = [&](std::uint64_t seed, unsigned int threads) {
    TransportSettings s = Settings(20000, seed, threads);
    s.tallyAbsorbedEnergy = true;
    return SimulatePhotonTransport(vol, Illumination::Default(), s);
  };
  const TransportResult one = run(42, 1);
  for (unsigned int threads : {1u, 2u, 8u})
  {
    const TransportResult r = run(42, threads);
    EXPECT_EQ(threads, r.threadsUsed);
    // the totals are summed in chunk order: equal to the bit
    EXPECT_EQ(one.absorbedTotal, r.absorbedTotal) << threads;
    EXPECT_EQ(one.escaped, r.escaped) << threads;
    EXPECT_EQ(one.rouletteGain, r.rouletteGain) << threads;
    EXPECT_EQ(one.rouletteLoss, r.rouletteLoss) << threads;
    EXPECT_EQ(one.interactions, r.interactions) << threads;
    // the voxel sums are added in another order: equal within their rounding, far below a float's
    std::size_t lit = 0;
    for (std::size_t v = 0; v < vol.NumberOfVoxels(); ++v)
    {
      ASSERT_NEAR(one.fluence[v], r.fluence[v], 1e-12 * one.fluence[v]) << threads << " threads, voxel " << v;
      ASSERT_NEAR(one.absorbed[v], r.absorbed[v], 1e-12 * one.absorbed[v]) << threads << " threads, voxel " << v;
      lit += one.fluence[v] > 0;
    }
    EXPECT_GT(lit, vol.NumberOfVoxels() / 2);
  }
  const TransportResult other = run(43, 8);
  EXPECT_NE(one.absorbedTotal, other.absorbedTotal);
  EXPECT_NE(one.fluence, other.fluence);
}

TEST(PhotonTransport, TheInteractionCapEndsPacketsAndTheBalanceStaysExact)
{
  // a medium that scatters and barely absorbs: packets wander long before they leave
  const OpticalVolume vol = Homogeneous(20, 20, 20, 0.1, 0.01f, 200.0f, 0.0f);
  for (unsigned int threads : {1u, 4u})
  {
    TransportSettings s = Settings(2000, 5, threads);
    s.tallyAbsorbedEnergy = true;
    s.maximumInteractions = 50;
    const TransportResult r = SimulatePhotonTransport(vol, Illumination::Default(), s);
    EXPECT_GT(r.terminatedPackets, 100u) << threads;
    EXPECT_LE(r.terminatedPackets, 2000u);
    EXPECT_GT(r.terminated, 0.05 * r.launched);
    EXPECT_LE(r.interactions, 2000u * 50u);
    EXPECT_NEAR(r.launched, r.absorbedTotal + r.escaped + r.terminated + r.rouletteLoss - r.rouletteGain,
                1e-12 * r.launched);
    EXPECT_NEAR(r.absorbedTotal / r.launched, std::accumulate(r.absorbed.begin(), r.absorbed.end(), 0.0), 1e-12);

    // without the cap the same packets end by escaping or by roulette
    s.maximumInteractions = TransportSettings::DefaultMaximumInteractions;
    const TransportResult free = SimulatePhotonTransport(vol, Illumination::Default(), s);
    EXPECT_EQ(0u, free.terminatedPackets);
    EXPECT_EQ(0.0, free.terminated);
    EXPECT_GT(free.interactions, r.interactions);
  }
}

TEST(PhotonTransport, StreamsOfOneSeedShareNoNumbers)
{
  std::set<std::uint64_t> seen;
  for (std::uint64_t stream = 0; stream < 64; ++stream)
  {
    RandomStream rng(42, stream);
    for (int k = 0; k < 1000; ++k)
      seen.insert(rng.Next());
  }
  EXPECT_EQ(64000u, seen.size());
  RandomStream again(42, 7);
  RandomStream same(42, 7);
  for (int k = 0; k < 100; ++k)
    ASSERT_EQ(again.Next(), same.Next());
}

TEST(PhotonTransport, LateralOffsetShiftsTheIllumination)
{
  const OpticalVolume vol = Homogeneous(20, 60, 20, 0.05, 2.0f, 20.0f, 0.9f);
  auto centroidY = [&](double offset) {
    Illumination ill = Illumination::Default();
    ill.lateralOffsetCm = offset;
    const TransportResult r = SimulatePhotonTransport(vol, ill, Settings(4000, 9, 2));
    double sum = 0, moment = 0;
    for (std::size_t z = 0; z < 20; ++z)
      for (std::size_t y = 0; y < 60; ++y)
        for (std::size_t x = 0; x < 20; ++x)
        {
          const double f = r.fluence[x + 20 * (y + 60 * z)];
          sum += f;
          moment += f * ((y + 0.5) * 0.05 - 1.5);
        }
    return moment / sum;
  };
  EXPECT_NEAR(0.0, centroidY(0.0), 0.03);
  EXPECT_NEAR(0.6, centroidY(0.6), 0.03);
  EXPECT_NEAR(-0.9, centroidY(-0.9), 0.03);
}

TEST(PhotonTransport, HenyeyGreensteinSamplingHasMeanCosineG)
{
  for (double g : {-0.9, 0.0, 0.3, 0.8, 0.95})
  {
    const int n = 200000;
    double mean = 0;
    for (int k = 0; k < n; ++k)
    {
      const double c = SampleHenyeyGreensteinCosine(g, (k + 0.5) / n);
      ASSERT_GE(c, -1.0);
      ASSERT_LE(c, 1.0);
      mean += c / n;
    }
    EXPECT_NEAR(g, mean, 1e-3) << g;
  }
  // the limits of g stay finite: straight on and straight back
  for (double xi : {0.3, 0.5, 0.9})
  {
    EXPECT_NEAR(1.0, SampleHenyeyGreensteinCosine(1.0, xi), 1e-5);
    EXPECT_NEAR(-1.0, SampleHenyeyGreensteinCosine(-1.0, xi), 1e-5);
  }
}

TEST(PhotonTransport, InvalidInputIsRefusedWithAClearText)
{
  struct Case
  {
    const char *name;
    std::function<void(OpticalVolume &, Illumination &, TransportSettings &)> spoil;
    const char *text;
  };
  const std::vector<Case> cases = {
    {"zero size", [](OpticalVolume &v, Illumination &, TransportSettings &) { v.dimensions[1] = 0; }, "no voxels"},
    {"voxel size", [](OpticalVolume &v, Illumination &, TransportSettings &) { v.voxelSizeCm[2] = -1; }, "voxel size"},
    {"arrays", [](OpticalVolume &v, Illumination &, TransportSettings &) { v.scattering.pop_back(); }, "do not match"},
    {"negative mu_a", [](OpticalVolume &v, Illumination &, TransportSettings &) { v.absorption[5] = -1; }, "Voxel 5"},
    {"NaN mu_s", [](OpticalVolume &v, Illumination &, TransportSettings &) { v.scattering[2] = std::nanf(""); },
     "Voxel 2"},
    {"g", [](OpticalVolume &v, Illumination &, TransportSettings &) { v.anisotropy[0] = 1.5f; }, "anisotropy"},
    {"huge mu_s", [](OpticalVolume &v, Illumination &, TransportSettings &) { v.scattering[3] = 3e38f; },
     "Voxel 3 has a scattering coefficient of 3e+38/cm, above the limit of 1000/cm"},
    {"mu_s just above the limit",
     [](OpticalVolume &v, Illumination &, TransportSettings &) { v.scattering[1] = 1000.5f; }, "limit of 1000/cm"},
    {"huge mu_a", [](OpticalVolume &v, Illumination &, TransportSettings &) { v.absorption[4] = 1e5f; },
     "Voxel 4 has an absorption coefficient of 100000/cm, above the limit of 10000/cm"},
    {"no sources", [](OpticalVolume &, Illumination &i, TransportSettings &) { i.sources.clear(); }, "no light source"},
    {"zero direction",
     [](OpticalVolume &, Illumination &i, TransportSettings &) {
       i.sources[0].direction = {{0, 0, 0}};
     },
     "no direction"},
    {"negative zero direction",
     [](OpticalVolume &, Illumination &i, TransportSettings &) {
       i.sources[0].direction = {{-0.0, 0, 0}};
     },
     "no direction"},
    {"position beyond reach",
     [](OpticalVolume &, Illumination &i, TransportSettings &) {
       i.sources[0].positionCm[1] = 1.7e308;
       i.lateralOffsetCm = 1.7e308;
     },
     "too far"},
    {"zero weights", [](OpticalVolume &, Illumination &i, TransportSettings &) { i.sources[0].weight = 0; },
     "sum to zero"},
    {"offset", [](OpticalVolume &, Illumination &i, TransportSettings &) { i.lateralOffsetCm = INFINITY; },
     "lateral offset"},
    {"photons", [](OpticalVolume &, Illumination &, TransportSettings &s) { s.photons = 0; }, "photons"},
    {"chance", [](OpticalVolume &, Illumination &, TransportSettings &s) { s.rouletteChance = 0; }, "chance"},
    {"cap", [](OpticalVolume &, Illumination &, TransportSettings &s) { s.maximumInteractions = 0; }, "cap"},
  };
  for (const Case &c : cases)
  {
    // the limits themselves are valid
    OpticalVolume vol = Homogeneous(4, 4, 4, 0.1, 1.0f, 10.0f, 0.5f);
    vol.absorption[0] = static_cast<float>(OpticalVolume::MaximumAbsorptionPerCm);
    vol.scattering[0] = static_cast<float>(OpticalVolume::MaximumScatteringPerCm);
    Illumination ill = Illumination::Default();
    TransportSettings s = Settings(10, 1, 1);
    c.spoil(vol, ill, s);
    try
    {
      SimulatePhotonTransport(vol, ill, s);
      ADD_FAILURE() << c.name << ": accepted";
    }
    catch (const std::invalid_argument &e)
    {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.text)) << c.name << ": " << e.what();
    }
  }
}

TEST(PhotonTransport, AnyFiniteDirectionIsNormalisedWithoutOverflow)
{
  const double r2 = 1 / std::sqrt(2.0), r3 = 1 / std::sqrt(3.0);
  struct Case
  {
    std::array<double, 3> direction;
    std::array<double, 3> unit;
  };
  const Case cases[] = {
    {{{1e200, 0, 1e200}}, {{r2, 0, r2}}},
    {{{1e-200, 0, -1e-200}}, {{r2, 0, -r2}}},
    {{{1.7e308, -1.7e308, 1.7e308}}, {{r3, -r3, r3}}},
    {{{5e-324, 0, 0}}, {{1, 0, 0}}},
    {{{0, 3, 4}}, {{0, 0.6, 0.8}}},
    {{{0, 0, -2}}, {{0, 0, -1}}},
  };
  for (const Case &c : cases)
  {
    const std::array<double, 3> u = UnitDirection(c.direction);
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(c.unit[i], u[i], 1e-15) << c.direction[0] << " " << c.direction[1] << " " << c.direction[2];
  }
  for (const std::array<double, 3> &bad :
       {std::array<double, 3>{{0, 0, 0}}, std::array<double, 3>{{INFINITY, 0, 1}}, std::array<double, 3>{{0, NAN, 1}}})
    EXPECT_THROW(UnitDirection(bad), std::invalid_argument);

  // a source given with a huge direction runs exactly like one given with its unit vector
  const OpticalVolume vol = Homogeneous(10, 10, 10, 0.1, 0.5f, 20.0f, 0.7f);
  Illumination huge = Illumination::Default();
  huge.sources[0].positionCm = {{-0.3, 0, -0.2}};
  huge.sources[0].direction = {{1e200, 0, 1e200}};
  Illumination unit = huge;
  unit.sources[0].direction = {{r2, 0, r2}};
  const TransportResult a = SimulatePhotonTransport(vol, huge, Settings(500, 3, 1));
  const TransportResult b = SimulatePhotonTransport(vol, unit, Settings(500, 3, 1));
  EXPECT_EQ(a.fluence, b.fluence);
  EXPECT_GT(a.absorbedTotal, 0.1 * a.launched);
}
