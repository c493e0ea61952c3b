// Kestrol run as a process on generated raw data.

#include "vexaRawPhotoacousticSample.h"

#include <vexaBeamformingSettings.h>
#include <vexaCastToFloatImageFilter.h>
#include <vexaPhotoacousticFilterService.h>

#include <vexaIOUtil.h>
#include <vexaImageReadAccessor.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vexaTestTemporaryFolder.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;

namespace
{
  using vexa::test::TemporaryFolder;

  struct Result
  {
    int exitCode = -1000;
    std::string out;
    std::string err;
  };

  std::string ReadFile(const std::string &path)
  {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  /** Runs Kestrol with the arguments (no shell), its output streams caught in files of the folder. */
  Result RunKestrol(const TemporaryFolder &folder, const std::vector<std::string> &args)
  {
    const std::string outPath = folder.File("stdout.txt"), errPath = folder.File("stderr.txt");
    std::vector<std::string> all = {Kestrol_EXECUTABLE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all)
      argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0)
    {
      const int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0)
        ::_exit(120);
      ::execv(argv[0], argv.data());
      ::_exit(121);
    }
    Result r;
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
      return r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    return r;
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
  vexa::Image::Pointer Expected(const vexa::Image *raw,
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
  const Result r = RunKestrol(m_Folder, {"-i", m_Input, "-o", out});
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
  const Result r = RunKestrol(m_Folder, {"-i", m_Input, "-o", m_Folder.File("bf.nrrd"), "-v"});
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
  ASSERT_EQ(RunKestrol(m_Folder, {"-i", m_Input, "-o", das}).exitCode, 0);

  Result r = RunKestrol(m_Folder, {"-i", m_Input, "-o", dmas, "-alg", "DMAS", "-v"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Parsing algorithm: DMAS"));
  EXPECT_THAT(r.err, HasSubstr("Sucessfully set algorithm: DMAS"));
  EXPECT_EQ(OutputPixels(dmas), Pixels(Expected(m_Raw, 1500.0f, vexa::BeamformingSettings::DMAS)));
  EXPECT_NE(OutputPixels(dmas), OutputPixels(das));

  // another letter case is no match: DAS, and the log still says it was set
  r = RunKestrol(m_Folder, {"-i", m_Input, "-o", lower, "--algorithm", "dmas", "-v"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Not a valid beamforming algorithm: dmas Reverting to DAS"));
  EXPECT_THAT(r.err, HasSubstr("Sucessfully set algorithm: dmas"));
  EXPECT_EQ(OutputPixels(lower), OutputPixels(das));

  ASSERT_EQ(RunKestrol(m_Folder, {"-i", m_Input, "-o", sos, "-sos", "1540"}).exitCode, 0);
  EXPECT_EQ(OutputPixels(sos), Pixels(Expected(m_Raw, 1540.0f)));
  EXPECT_NE(OutputPixels(sos), OutputPixels(das));
}

TEST_F(Kestrol, CutoffAndSamplesChangeNothing)
{
  const std::string plain = m_Folder.File("plain.nrrd"), other = m_Folder.File("other.nrrd");
  ASSERT_EQ(RunKestrol(m_Folder, {"-i", m_Input, "-o", plain}).exitCode, 0);
  const Result r = RunKestrol(m_Folder, {"-i", m_Input, "-o", other, "-co", "50", "-s", "512"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(OutputPixels(other), OutputPixels(plain));
}

TEST_F(Kestrol, AFailedParseEndsWithMinusOne)
{
  const Result r = RunKestrol(m_Folder, {"-o", m_Folder.File("bf.nrrd")}); // the input image is required
  EXPECT_EQ(r.exitCode, 255);
  EXPECT_FALSE(std::filesystem::exists(m_Folder.File("bf.nrrd")));
}

TEST_F(Kestrol, AMissingFileEndsWithItsError)
{
  const std::string missing = m_Folder.File("no-such-file.nrrd");
  const Result r = RunKestrol(m_Folder, {"-i", missing, "-o", m_Folder.File("bf.nrrd")});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.exitCode, 255);
  EXPECT_THAT(r.err, HasSubstr("no-such-file.nrrd"));
  EXPECT_FALSE(std::filesystem::exists(m_Folder.File("bf.nrrd")));
}

TEST_F(Kestrol, ANonImageFileEndsWithAClearError)
{
  const std::string text = m_Folder.File("notes.nrrd");
  std::ofstream(text) << "this is not an image\n";
  const Result r = RunKestrol(m_Folder, {"-i", text, "-o", m_Folder.File("bf.nrrd")});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_THAT(r.err, HasSubstr("notes.nrrd"));
  EXPECT_FALSE(std::filesystem::exists(m_Folder.File("bf.nrrd")));
}
