// VexaMcxyz run as a process on hostile files: a damaged or lying input is
// refused before it is read, an output name that cannot hold NRRD is refused
// before the simulation starts, and an output that is a link, a FIFO or a
// device node stays what it was. Every run is guarded against a hang and a
// runaway allocation with far more room than a sound run needs.

#include <vexaTestChildProcess.h>
#include <vexaTestHostileFiles.h>
#include <vexaTestTemporaryFolder.h>

#include "vexaMcxyzTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sys/stat.h>
#include <thread>

namespace
{
  namespace fs = std::filesystem;
  using vexa::test::PeakResidentKiBOfChildren;
  using vexa::test::TemporaryFolder;

  // A sound run of these few photons takes well under a second and ~20 MB (a few times that under ASan).
  constexpr std::chrono::seconds TimeGuard(120);
  constexpr long MemoryGuardKiB = 1024 * 1024;

  /** Runs the simulator (no shell). */
  vexa::test::ProgramResult RunSimulator(const std::vector<std::string> &args)
  {
    return vexa::test::RunProgram(VexaMcxyz_EXECUTABLE, args, TimeGuard);
  }

  /** A small sound volume (mu_a, mu_s, g per voxel), gzip-compressed as the file bytes. */
  std::string CompressedVolume(const TemporaryFolder &folder)
  {
    const std::string path = folder.File("volume source.nrrd");
    vexa::test::WriteUniformOpticalVolume(path, 6, true);
    const std::string bytes = vexa::test::ReadFile(path);
    fs::remove(path);
    return bytes;
  }

  using vexa::test::OldOutput;
  using vexa::test::OldOutputIntact;
  using HostileCase = vexa::test::HostileFileCase;
  const auto Replace = &vexa::test::ReplaceAll;

  // the sound input is a compressed volume
  std::string SoundInputAndOldOutput(const TemporaryFolder &f,
                                     const std::string &in,
                                     const std::string &volume,
                                     const std::string &outName)
  {
    vexa::test::WriteBytes(in, volume);
    return vexa::test::OldOutputAt(f, outName);
  }

  const HostileCase HostileCases[] = {
    {"OutputNamedPng",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       return SoundInputAndOldOutput(f, in, volume, "out.png");
     },
     2,
     "VexaMcxyz: Cannot write \"<out>\": the fluence is written as NRRD with its data attached; name the file *.nrrd",
     OldOutputIntact},
    {"OutputNamedNhdr",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       vexa::test::WriteBytes(in, volume);
       return f.File("out.nhdr");
     },
     2, "VexaMcxyz: Cannot write \"<out>\": the fluence is written as NRRD with its data attached",
     [](const TemporaryFolder &, const std::string &out) { EXPECT_FALSE(fs::exists(out)); }},
    {"OutputInCapitals",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       vexa::test::WriteBytes(in, volume);
       return f.File("OUT.NRRD");
     },
     0, "",
     [](const TemporaryFolder &, const std::string &out) { EXPECT_EQ(0u, vexa::test::ReadFile(out).find("NRRD000")); }},
    {"InputWithADamagedCrc",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       std::string damaged = volume;
       damaged[damaged.size() - 7] ^= 0x04;
       SoundInputAndOldOutput(f, in, damaged, "out.nrrd");
       return f.File("out.nrrd");
     },
     2, "VexaMcxyz: Cannot load \"<in>\": its compressed data is damaged: the CRC does not match.", OldOutputIntact},
    {"InputCutShort",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       return SoundInputAndOldOutput(f, in, volume.substr(0, volume.size() - 40), "out.nrrd");
     },
     2, "VexaMcxyz: Cannot load \"<in>\": its compressed data is cut short.", OldOutputIntact},
    {"InputWithANanSpacing",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       return SoundInputAndOldOutput(f, in, Replace(volume, "(0,0,0.5)", "(0,0,nan)"), "out.nrrd");
     },
     2, "VexaMcxyz: Cannot load \"<in>\": the space direction of axis 3", OldOutputIntact},
    {"OutputIsALink",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       vexa::test::WriteBytes(in, volume);
       return vexa::test::LinkToKeptFile(f, OldOutput);
     },
     0, "",
     [](const TemporaryFolder &f, const std::string &out) {
       EXPECT_EQ(S_IFLNK, vexa::test::FileTypeAt(out));
       EXPECT_EQ(0u, vexa::test::ReadFile(f.File("results/kept.nrrd")).find("NRRD000"));
       EXPECT_EQ(1, std::distance(fs::directory_iterator(f.File("results")), fs::directory_iterator()));
     }},
    {"OutputIsANullDevice",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       vexa::test::WriteBytes(in, volume);
       return vexa::test::CharacterDeviceAt(f, "out.nrrd", 3);
     },
     0, "", [](const TemporaryFolder &, const std::string &out) { EXPECT_EQ(S_IFCHR, vexa::test::FileTypeAt(out)); }},
    {"OutputIsAFullDevice",
     [](const TemporaryFolder &f, const std::string &in, const std::string &volume) {
       vexa::test::WriteBytes(in, volume);
       return vexa::test::CharacterDeviceAt(f, "out.nrrd", 7);
     },
     2, "VexaMcxyz: Cannot write \"<out>\": ",
     [](const TemporaryFolder &, const std::string &out) { EXPECT_EQ(S_IFCHR, vexa::test::FileTypeAt(out)); }},
  };

  class SimulatorHostileFiles : public ::testing::TestWithParam<HostileCase>
  {
  };
}

TEST_P(SimulatorHostileFiles, AreRefusedClearlyAndLeaveTheOutputAsItWas)
{
  const HostileCase &c = GetParam();
  TemporaryFolder folder;
  const std::string in = folder.File("volume in.nrrd");
  const std::string out = c.prepare(folder, in, CompressedVolume(folder));
  if (out.empty())
    GTEST_SKIP() << "device nodes can be made only as root";

  const auto r = RunSimulator({"-i", in, "-o", out, "-n", "2000", "-seed", "3", "-threads", "1"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_LT(PeakResidentKiBOfChildren(), MemoryGuardKiB);
  EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
  vexa::test::ExpectFirstErrorLine(c, r.err, in, out);
  c.check(folder, out);
}

INSTANTIATE_TEST_SUITE_P(Files,
                         SimulatorHostileFiles,
                         ::testing::ValuesIn(HostileCases),
                         vexa::test::HostileFileCaseName);

TEST(SimulatorHostileFifo, AFifoAtTheOutputIsWrittenToAndStaysAFifo)
{
  TemporaryFolder folder;
  const std::string in = folder.File("volume.nrrd"), out = folder.File("fluence.nrrd");
  vexa::test::WriteBytes(in, CompressedVolume(folder));
  ASSERT_EQ(0, ::mkfifo(out.c_str(), 0600));
  std::string received;
  std::thread reader([&] { received = vexa::test::ReadFile(out); });
  const auto r = RunSimulator({"-i", in, "-o", out, "-n", "2000", "-seed", "3", "-threads", "1"});
  reader.join();
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(S_IFIFO, vexa::test::FileTypeAt(out));
  EXPECT_EQ(0u, received.find("NRRD000")) << received.substr(0, 40);
}
