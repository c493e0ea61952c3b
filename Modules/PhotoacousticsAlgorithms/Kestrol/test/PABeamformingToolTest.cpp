// Kestrol run as a process on generated raw data.

#include "vexaRawPhotoacousticPhantom.h"
#include "vexaRawPhotoacousticSample.h"

#include <vexaBeamformingSettings.h>
#include <vexaCastToFloatImageFilter.h>
#include <vexaPhotoacousticFilterService.h>

#include <vexaIOUtil.h>
#include <vexaImageReadAccessor.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vexaTestChildProcess.h>
#include <vexaTestHostileFiles.h>
#include <vexaTestNrrdFiles.h>
#include <vexaTestTemporaryFolder.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;

namespace
{
  using vexa::test::TemporaryFolder;

  using Result = vexa::test::ProgramResult;

  // A sound run takes well under a second and ~20 MB (~65 MB under ASan): the guards against a
  // hang and a runaway allocation leave far more room than that.
  constexpr std::chrono::seconds TimeGuard(120);
  constexpr long MemoryGuardKiB = 1024 * 1024;

  /** Runs Kestrol with the arguments (no shell). */
  Result RunKestrol(const std::vector<std::string> &args)
  {
    return vexa::test::RunProgram(Kestrol_EXECUTABLE, args, TimeGuard);
  }

  std::vector<float> Pixels(const vexa::Image *image)
  {
    std::size_t n = 1;
    for (unsigned int d = 0; d < image->GetDimension(); ++d)
      n *= image->GetDimension(d);
    vexa::ImageReadAccessor access(image);
    const float *p = static_cast<const float *>(access.GetData());
    return std::vector<float>(p, p + n);
  }

  /** What Kestrol should write: the same steps in this process. */
  vexa::Image::Pointer Expected(
    const vexa::Image *raw,
    float speedOfSound = 1500.0f,
    vexa::BeamformingSettings::BeamformingAlgorithm algorithm = vexa::BeamformingSettings::DAS)
  {
    const auto spacing = raw->GetGeometry(0)->GetSpacing();
    auto settings = vexa::BeamformingSettings::New(
      static_cast<float>(spacing[0] / 1000), speedOfSound, static_cast<float>(spacing[1] / 1000000), 27.0f, true,
      raw->GetDimension(1), raw->GetDimension(0), raw->GetDimensions(), 0.04f, false, 16,
      vexa::BeamformingSettings::Spherical, vexa::BeamformingSettings::Box, raw->GetDimension(0), algorithm);
    auto cast = vexa::CastToFloatImageFilter::New();
    cast->SetInput(raw);
    cast->Update();
    auto service = vexa::PhotoacousticFilterService::New();
    return service->ApplyBmodeFilter(service->ApplyBeamforming(cast->GetOutput(), settings));
  }

  class Kestrol : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      m_Raw = vexa::RawPhotoacousticSample::Make();
      m_Input = m_Folder.File("raw.nrrd");
      vexa::IOUtil::Save(m_Raw, m_Input);
    }

    std::vector<float> OutputPixels(const std::string &path)
    {
      return Pixels(vexa::IOUtil::LoadFirstAs<vexa::Image>(path));
    }

    TemporaryFolder m_Folder;
    vexa::Image::Pointer m_Raw;
    std::string m_Input;
  };
}

TEST_F(Kestrol, WritesWhatTheServiceComputes)
{
  const std::string out = m_Folder.File("bf.nrrd");
  const Result r = RunKestrol({"-i", m_Input, "-o", out});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, ""); // not verbose: no log lines
  vexa::Image::Pointer written = vexa::IOUtil::LoadFirstAs<vexa::Image>(out);
  ASSERT_TRUE(written.IsNotNull());
  vexa::Image::Pointer expected = Expected(m_Raw);
  EXPECT_EQ(written->GetDimension(0), vexa::RawPhotoacousticSample::Elements);
  EXPECT_EQ(written->GetDimension(1), vexa::RawPhotoacousticSample::Samples);
  EXPECT_EQ(Pixels(written), Pixels(expected));
  const auto spacing = written->GetGeometry(0)->GetSpacing();
  EXPECT_NEAR(spacing[0], vexa::RawPhotoacousticSample::PitchMm, 1e-6); // through float settings
  EXPECT_NEAR(spacing[1], 40.0 / vexa::RawPhotoacousticSample::Samples, 1e-6);
}

TEST_F(Kestrol, VerboseRunTellsEachStep)
{
  const Result r = RunKestrol({"-i", m_Input, "-o", m_Folder.File("bf.nrrd"), "-v"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char *text : {"### VERBOSE OUTPUT ENABLED ###", "Reading input image...", "Reading input image...[Done]",
                           "No matching algorithm found. Using DAS.", "Beamforming input image...",
                           "Applying BModeFilter to image...", "Applying BModeFilter to image...[Done]",
                           "Saving image...", "Saving image...[Done]", "Beamforming input image...[Done]"})
    EXPECT_THAT(r.err, HasSubstr(text));
}

TEST_F(Kestrol, AlgorithmAndSpeedOfSoundReachTheSettings)
{
  const std::string das = m_Folder.File("das.nrrd"), dmas = m_Folder.File("dmas.nrrd"),
                    lower = m_Folder.File("lower.nrrd"), sos = m_Folder.File("sos.nrrd");
  ASSERT_EQ(RunKestrol({"-i", m_Input, "-o", das}).exitCode, 0);

  Result r = RunKestrol({"-i", m_Input, "-o", dmas, "-alg", "DMAS", "-v"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Parsing algorithm: DMAS"));
  EXPECT_THAT(r.err, HasSubstr("Sucessfully set algorithm: DMAS"));
  EXPECT_EQ(OutputPixels(dmas), Pixels(Expected(m_Raw, 1500.0f, vexa::BeamformingSettings::DMAS)));
  EXPECT_NE(OutputPixels(dmas), OutputPixels(das));

  // another letter case is no match: DAS, and the log still says it was set
  r = RunKestrol({"-i", m_Input, "-o", lower, "--algorithm", "dmas", "-v"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Not a valid beamforming algorithm: dmas Reverting to DAS"));
  EXPECT_THAT(r.err, HasSubstr("Sucessfully set algorithm: dmas"));
  EXPECT_EQ(OutputPixels(lower), OutputPixels(das));

  ASSERT_EQ(RunKestrol({"-i", m_Input, "-o", sos, "-sos", "1540"}).exitCode, 0);
  EXPECT_EQ(OutputPixels(sos), Pixels(Expected(m_Raw, 1540.0f)));
  EXPECT_NE(OutputPixels(sos), OutputPixels(das));
}

// The five-absorber phantom beamformed as a user would (-sos 1540, the
// default angle), with each algorithm: every absorber peaks where it lies,
// and each one inside the field stands at least four times above the
// brightest pixel 2.5 mm or more from every absorber (the arcs, the near
// field). (The figures are printed: they are the ones to quote.)
TEST(KestrolPhantom, EveryAlgorithmShowsEachAbsorberWhereItLiesAboveTheArtefacts)
{
  using Phantom = vexa::RawPhotoacousticPhantom;
  TemporaryFolder folder;
  const std::string in = folder.File("phantom.nrrd");
  vexa::IOUtil::Save(Phantom::Make(), in);
  const double lineMm = Phantom::PitchMm, rowMm = 40.0 / Phantom::Samples;
  const std::vector<Phantom::Source> absorbers = Phantom::Absorbers();
  for (const std::string algorithm : {"DAS", "DMAS", "sDMAS"})
  {
    const std::string out = folder.File(algorithm + ".nrrd");
    const Result r = RunKestrol({"-i", in, "-o", out, "-alg", algorithm, "-sos", "1540"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Phantom::Figures f = Phantom::Measure(vexa::IOUtil::LoadFirstAs<vexa::Image>(out));
    // DMAS multiplies the pulse by itself: its envelope peaks on one lobe of the
    // bipolar pulse, a pulse width (0.05 us, 0.077 mm) from its centre
    const double depthTolerance = algorithm == "DMAS" ? 0.15 : 2.0 * rowMm;
    std::ostringstream figures;
    for (std::size_t i = 0; i < absorbers.size(); ++i)
    {
      const Phantom::Peak &peak = f.absorbers[i];
      figures << " " << f.Contrast(i) << " at (" << peak.xMm << ", " << peak.zMm << ")";
      EXPECT_NEAR(peak.xMm, absorbers[i].xMm, 0.5 * lineMm) << algorithm << " absorber " << i;
      EXPECT_NEAR(peak.zMm, absorbers[i].zMm, depthTolerance) << algorithm << " absorber " << i;
    }
    for (std::size_t i = 0; i < Phantom::InnerAbsorbers().size(); ++i)
      EXPECT_GE(f.Contrast(i), 4.0) << algorithm << " absorber " << i;
    std::cout << algorithm << ", peak / brightest background pixel " << f.background.value << " at ("
              << f.background.xMm << ", " << f.background.zMm << "):" << figures.str() << std::endl;
  }
}

TEST_F(Kestrol, CutoffAndSamplesChangeNothing)
{
  const std::string plain = m_Folder.File("plain.nrrd"), other = m_Folder.File("other.nrrd");
  ASSERT_EQ(RunKestrol({"-i", m_Input, "-o", plain}).exitCode, 0);
  const Result r = RunKestrol({"-i", m_Input, "-o", other, "-co", "50", "-s", "512"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(OutputPixels(other), OutputPixels(plain));
}

TEST_F(Kestrol, AFailedParseEndsWithMinusOne)
{
  const Result r = RunKestrol({"-o", m_Folder.File("bf.nrrd")}); // the input image is required
  EXPECT_EQ(r.exitCode, 255);
  EXPECT_FALSE(std::filesystem::exists(m_Folder.File("bf.nrrd")));
}

TEST_F(Kestrol, AMissingFileEndsWithItsError)
{
  const std::string missing = m_Folder.File("no-such-file.nrrd");
  const Result r = RunKestrol({"-i", missing, "-o", m_Folder.File("bf.nrrd")});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.exitCode, 255);
  EXPECT_THAT(r.err, HasSubstr("no-such-file.nrrd"));
  EXPECT_FALSE(std::filesystem::exists(m_Folder.File("bf.nrrd")));
}

TEST_F(Kestrol, ANonImageFileEndsWithAClearError)
{
  const std::string text = m_Folder.File("notes.nrrd");
  std::ofstream(text) << "this is not an image\n";
  const Result r = RunKestrol({"-i", text, "-o", m_Folder.File("bf.nrrd")});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_THAT(r.err, HasSubstr("notes.nrrd"));
  EXPECT_FALSE(std::filesystem::exists(m_Folder.File("bf.nrrd")));
}

// Hostile input and output files: each is refused with a clear first line of
// the error and leaves what was at the output as it was; an output that is a
// link, a FIFO or a device node stays what it was. Every run is guarded
// against a hang (time limit) and a runaway allocation (peak memory of the
// child processes), each with far more room than a sound run needs, also under
// AddressSanitizer.
namespace
{
  namespace fs = std::filesystem;
  using vexa::test::PeakResidentKiBOfChildren;

  using vexa::test::FirstLine;
  using vexa::test::OldOutput;
  using vexa::test::OldOutputIntact;
  using HostileCase = vexa::test::HostileFileCase;

  /** A raw float image of 8 elements x 64 samples as a hand-written header states it. */
  std::string RawFile(const std::string &spacings,
                      const std::string &sizes = "8 64",
                      std::size_t dataBytes = 8 * 64 * 4)
  {
    return "NRRD0004\ntype: float\ndimension: 2\nsizes: " + sizes +
           "\nendian: little\nencoding: raw\nspacings: " + spacings + "\n\n" + std::string(dataBytes, '\0');
  }

  /** The sample written by ITK's own writer with gzip-compressed pixels. */
  std::string CompressedSample(const TemporaryFolder &folder, const vexa::Image *raw)
  {
    const std::string path = folder.File("compressed.nrrd");
    vexa::test::WriteCompressedNrrdWithItk(raw, path);
    std::string bytes = vexa::test::ReadFile(path);
    fs::remove(path);
    return bytes;
  }

  // the sound input is the sample's compressed bytes; what an earlier run left stands at the output
  std::string ExistingOutput(const TemporaryFolder &f) { return vexa::test::OldOutputAt(f); }

  const HostileCase HostileCases[] = {
    {"NanPitch",
     [](const TemporaryFolder &f, const std::string &in, const std::string &) {
       vexa::test::WriteBytes(in, RawFile("nan 0.025"));
       return ExistingOutput(f);
     },
     1, "Cannot load \"<in>\": the spacing of axis 0 is nan; a spacing must be a finite number other than zero.",
     OldOutputIntact},
    {"ZeroTimeStep",
     [](const TemporaryFolder &f, const std::string &in, const std::string &) {
       vexa::test::WriteBytes(in, RawFile("0.3 0"));
       return ExistingOutput(f);
     },
     1, "Cannot load \"<in>\": the spacing of axis 1 is 0; a spacing must be a finite number other than zero.",
     OldOutputIntact},
    {"NegativePitch",
     [](const TemporaryFolder &f, const std::string &in, const std::string &) {
       vexa::test::WriteBytes(in, RawFile("-0.3 0.025"));
       return ExistingOutput(f);
     },
     1, "Cannot beamform \"<in>\": its x spacing, the element pitch, is -0.3 mm; a pitch must be positive.",
     OldOutputIntact},
    {"NegativeTimeStep",
     [](const TemporaryFolder &f, const std::string &in, const std::string &) {
       vexa::test::WriteBytes(in, RawFile("0.3 -0.025"));
       return ExistingOutput(f);
     },
     1,
     "Cannot beamform \"<in>\": its y spacing, the time between samples, is -0.025 us; a time step must be positive.",
     OldOutputIntact},
    {"GzipCrcDamaged",
     [](const TemporaryFolder &f, const std::string &in, const std::string &z) {
       std::string bytes = z;
       bytes[bytes.size() - 8] ^= 0x10;
       vexa::test::WriteBytes(in, bytes);
       return ExistingOutput(f);
     },
     1, "Cannot load \"<in>\": its compressed data is damaged: the CRC does not match.", OldOutputIntact},
    {"GzipCutShort", // the path on which ITK's gzip reader leaks: never reached
     [](const TemporaryFolder &f, const std::string &in, const std::string &z) {
       vexa::test::WriteBytes(in, z.substr(0, z.size() / 2));
       return ExistingOutput(f);
     },
     1, "Cannot load \"<in>\": its compressed data is cut short.", OldOutputIntact},
    {"ClaimOfThreeGiBInATinyFile",
     [](const TemporaryFolder &f, const std::string &in, const std::string &) {
       vexa::test::WriteBytes(in, RawFile("0.3 0.025", "1024 786432", 16));
       return ExistingOutput(f);
     },
     1, "Cannot load \"<in>\": its header claims 3221225472 bytes of pixel data, the file holds 16 bytes.",
     OldOutputIntact},
    {"InputIsAFifoNobodyWritesTo", // reading it would block for ever
     [](const TemporaryFolder &f, const std::string &in, const std::string &) {
       fs::remove(in);
       ::mkfifo(in.c_str(), 0600);
       return ExistingOutput(f);
     },
     1, "Cannot load \"<in>\": it is not a regular file.", OldOutputIntact},
    {"TwelveThousandElements", // memory once grew with the square of the element count
     [](const TemporaryFolder &f, const std::string &in, const std::string &) {
       vexa::test::WriteBytes(in, RawFile("0.3 0.025", "12000 2", 12000 * 2 * 4));
       return f.File("wide.nrrd");
     },
     0, "",
     [](const TemporaryFolder &, const std::string &out) {
       EXPECT_EQ(12000u, vexa::IOUtil::LoadImage(out)->GetDimension(0));
     }},
    {"OutputNamedPng",
     [](const TemporaryFolder &f, const std::string &, const std::string &) { return f.File("out.png"); }, 1,
     "Cannot save \"<out>\": there is no writer for files of type \".png\".",
     [](const TemporaryFolder &, const std::string &out) { EXPECT_FALSE(fs::exists(out)); }},
    {"OutputIsAFolder",
     [](const TemporaryFolder &f, const std::string &, const std::string &) {
       fs::create_directory(f.File("out.nrrd"));
       return f.File("out.nrrd");
     },
     1, "Cannot save \"<out>\": a folder of that name exists.",
     [](const TemporaryFolder &, const std::string &out) { EXPECT_TRUE(fs::is_empty(out)); }},
    {"OutputIsALink",
     [](const TemporaryFolder &f, const std::string &, const std::string &) {
       return vexa::test::LinkToKeptFile(f, OldOutput);
     },
     0, "",
     [](const TemporaryFolder &f, const std::string &out) {
       EXPECT_EQ(S_IFLNK, vexa::test::FileTypeAt(out));
       EXPECT_EQ("results/kept.nrrd", fs::read_symlink(out).string());
       EXPECT_EQ(vexa::RawPhotoacousticSample::Elements,
                 vexa::IOUtil::LoadImage(f.File("results/kept.nrrd"))->GetDimension(0));
       EXPECT_EQ(1, std::distance(fs::directory_iterator(f.File("results")), fs::directory_iterator()));
     }},
    {"OutputIsANullDevice",
     [](const TemporaryFolder &f, const std::string &, const std::string &) {
       return vexa::test::CharacterDeviceAt(f, "out.nrrd", 3);
     },
     0, "", [](const TemporaryFolder &, const std::string &out) { EXPECT_EQ(S_IFCHR, vexa::test::FileTypeAt(out)); }},
    {"OutputIsAFullDevice",
     [](const TemporaryFolder &f, const std::string &, const std::string &) {
       return vexa::test::CharacterDeviceAt(f, "out.nrrd", 7);
     },
     1, "Cannot write \"<out>\": No space left on device.",
     [](const TemporaryFolder &, const std::string &out) { EXPECT_EQ(S_IFCHR, vexa::test::FileTypeAt(out)); }},
  };

  class KestrolHostileFiles : public ::testing::TestWithParam<HostileCase>
  {
  };
}

TEST_P(KestrolHostileFiles, AreRefusedClearlyAndLeaveTheOutputAsItWas)
{
  const HostileCase &c = GetParam();
  TemporaryFolder folder;
  vexa::Image::Pointer raw = vexa::RawPhotoacousticSample::Make();
  const std::string in = folder.File("raw input.nrrd");
  vexa::IOUtil::Save(raw, in);
  const std::string out = c.prepare(folder, in, CompressedSample(folder, raw));
  if (out.empty())
    GTEST_SKIP() << "device nodes can be made only as root";

  const Result r = RunKestrol({"-i", in, "-o", out});
  EXPECT_FALSE(r.timedOut);
  EXPECT_LT(PeakResidentKiBOfChildren(), MemoryGuardKiB);
  EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
  vexa::test::ExpectFirstErrorLine(c, r.err, in, out);
  c.check(folder, out);
}

TEST(KestrolHostileFifo, AFifoAtTheOutputIsWrittenToAndStaysAFifo)
{
  TemporaryFolder folder;
  const std::string in = folder.File("raw.nrrd"), out = folder.File("out.nrrd");
  vexa::IOUtil::Save(vexa::RawPhotoacousticSample::Make(), in);
  ASSERT_EQ(0, ::mkfifo(out.c_str(), 0600));
  std::string received;
  std::thread reader([&] { received = vexa::test::ReadFile(out); });
  const Result r = RunKestrol({"-i", in, "-o", out});
  reader.join();
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(S_IFIFO, vexa::test::FileTypeAt(out));
  EXPECT_EQ(0u, received.find("NRRD000")) << received.substr(0, 40);
  EXPECT_GT(received.size(),
            std::size_t(vexa::RawPhotoacousticSample::Elements) * vexa::RawPhotoacousticSample::Samples * 4);
  EXPECT_LT(PeakResidentKiBOfChildren(), MemoryGuardKiB);
}

INSTANTIATE_TEST_SUITE_P(Files,
                         KestrolHostileFiles,
                         ::testing::ValuesIn(HostileCases),
                         vexa::test::HostileFileCaseName);
