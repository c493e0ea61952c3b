// Quarrow run as a process against a stand-in simulator.

#include "vexaGeneratorProgramTestSupport.h"

#include <vexaIOUtil.h>
#include <vexaImage.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

using namespace vexa::test;

namespace
{
  /** The 31 offsets counted in hundredths, independent of the program's floating-point loop. */
  std::vector<std::string> ExpectedOffsets()
  {
    std::vector<std::string> texts;
    for (int k = -15; k <= 15; ++k)
    {
      char text[32];
      const int hundredths = k * 12;
      std::snprintf(text, sizeof(text), "%s%d.%02d0000", hundredths < 0 ? "-" : "", std::abs(hundredths) / 100,
                    std::abs(hundredths) % 100);
      texts.push_back(text);
    }
    return texts;
  }

  /** Stops Quarrow from outside by its process id once the condition holds. */
  void StopWhen(ChildProcess &quarrow, const std::function<bool()> &condition)
  {
    const bool reached = vexa::test::WaitUntil(condition, std::chrono::seconds(180), std::chrono::milliseconds(20));
    ::kill(quarrow.Pid(), SIGTERM); // the program only, as a user stops it
    quarrow.Wait();
    ASSERT_TRUE(reached) << quarrow.Err();
    EXPECT_EQ(SIGTERM, quarrow.TermSignal()) << "Quarrow ended by itself: " << quarrow.Err();
  }
}

TEST(Quarrow, RunsTheSimulatorAt31OffsetsPerPassUntilStopped)
{
  TemporaryFolder tmp;
  fs::create_directories(tmp.Path() / "sim dir");
  const fs::path sim = WriteStandInSimulator(tmp.Path() / "sim dir", 3);
  const std::string save = (tmp.Path() / "it's a $HOME save").string() + "/";

  ChildProcess quarrow(Quarrow_EXECUTABLE, {"-s", save, "-m", sim.string(), "-i", "ID-1", "-v"}, AsAJob());
  ASSERT_GT(quarrow.Pid(), 0);
  StopWhen(quarrow, [&] { return RecordedCalls(sim).size() > 62; }); // into the third pass

  const auto calls = RecordedCalls(sim);
  const std::vector<std::string> offsets = ExpectedOffsets();
  ASSERT_EQ(31u, offsets.size());
  EXPECT_EQ("-1.800000", offsets.front());
  EXPECT_EQ("-1.680000", offsets[1]);
  EXPECT_EQ("0.000000", offsets[15]);
  EXPECT_EQ("1.800000", offsets.back());
  for (int pass = 0; pass < 2; ++pass)
  {
    const std::string id = "ID-1_" + std::to_string(pass);
    const std::string input = save + "input/BaselineHB_" + id + ".nrrd";
    for (int k = 0; k < 31; ++k)
    {
      const std::string output =
        save + "output/BaselineHB_" + id + "/Fluence_BaselineHB_" + id + "_yo" + offsets[k] + ".nrrd";
      EXPECT_EQ((std::vector<std::string>{"-i", input, "-o", output, "-yo", offsets[k], "-n", "100000000"}),
                calls[31 * pass + k]);
      EXPECT_TRUE(fs::exists(output)) << output; // the stand-in wrote its -o file there
    }
    // the input volume is complete and holds the generator's four properties per voxel
    vexa::Image::Pointer volume = vexa::IOUtil::LoadImage(input);
    EXPECT_EQ(3u, volume->GetDimension());
    EXPECT_EQ(70u, volume->GetDimension(0));
    EXPECT_EQ(100u, volume->GetDimension(1));
    EXPECT_EQ(100u, volume->GetDimension(2));
    EXPECT_EQ(4u, volume->GetPixelType().GetNumberOfComponents());
    EXPECT_NEAR(0.6, volume->GetGeometry(0)->GetSpacing()[0], 1e-9);
  }

  // the parse records always, the passes' records because of -v, and the simulator's exit status
  std::vector<std::string> expected = {"Paring arguments...", "verbose",    "savePath",
                                       "vexaMcxyz",           "identifyer", "Paring arguments...[Done]"};
  for (int pass = 0; pass < 2; ++pass)
  {
    expected.insert(expected.end(), {"Generating tissue..", "Generating tissue..[Done]", "Simulating fluence.."});
    for (const std::string &o : offsets)
      expected.push_back("yo: " + o + ": 3");
    expected.push_back("Simulating fluence..[Done]");
  }
  const std::vector<std::string> logged = InfoTexts(quarrow.Err());
  ASSERT_GE(logged.size(), expected.size()) << quarrow.Err();
  EXPECT_EQ(expected, std::vector<std::string>(logged.begin(), logged.begin() + expected.size()));
}

TEST(Quarrow, QuietRunWithProbeAndGeneratedIdentifierInsideTheNamedFolder)
{
  TemporaryFolder tmp;
  const fs::path sim = WriteStandInSimulator(tmp.Path(), 0);
  const std::string probe = (tmp.Path() / "my probe's file.xml").string();
  const fs::path save = tmp.Path() / "batch"; // no trailing separator

  ChildProcess quarrow(Quarrow_EXECUTABLE, {"-s", save.string(), "-m", sim.string(), "-p", probe}, AsAJob());
  // a call is complete once the next one has begun (the stand-in writes its record line by line)
  StopWhen(quarrow, [&] { return RecordedCalls(sim).size() > 31; });

  const auto calls = RecordedCalls(sim);
  ASSERT_GE(calls.size(), 31u);
  const std::string inputPrefix = (save / "input" / "BaselineHB_").string();
  ASSERT_EQ(0u, calls[0][1].find(inputPrefix)) << calls[0][1];
  const std::string id = calls[0][1].substr(inputPrefix.size(), 8);
  EXPECT_EQ(calls[0][1], inputPrefix + id + "_0.nrrd");
  for (char c : id)
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << id;
  const std::vector<std::string> offsets = ExpectedOffsets();
  for (int k = 0; k < 31; ++k)
  {
    const std::string output =
      (save / "output").string() + "/BaselineHB_" + id + "_0/Fluence_BaselineHB_" + id + "_0_yo" + offsets[k] + ".nrrd";
    EXPECT_EQ((std::vector<std::string>{"-i", inputPrefix + id + "_0.nrrd", "-o", output, "-yo", offsets[k], "-p",
                                        probe, "-n", "100000000"}),
              calls[k]);
  }
  EXPECT_TRUE(fs::is_directory(save / "input"));
  EXPECT_FALSE(fs::exists(tmp.Path() / "batchinput"));
  EXPECT_FALSE(fs::exists(tmp.Path() / "batchoutput"));

  // without -v: only the parse records and the "yo:" lines
  std::vector<std::string> expected = {
    "Paring arguments...", "savePath", "vexaMcxyz", "probe", "generating identifyer", "Paring arguments...[Done]"};
  for (const std::string &o : offsets)
    expected.push_back("yo: " + o + ": 0");
  std::vector<std::string> logged = InfoTexts(quarrow.Err());
  ASSERT_GE(logged.size(), expected.size()) << quarrow.Err();
  EXPECT_EQ(expected, std::vector<std::string>(logged.begin(), logged.begin() + expected.size()));
  for (std::size_t k = expected.size(); k < logged.size(); ++k)
    EXPECT_EQ(0u, logged[k].find("yo: ")) << logged[k];
}

TEST(Quarrow, AnInterruptedSimulatorEndsTheBatch)
{
  // An interrupt at the terminal reaches the whole job while the shell runs the simulator (the
  // stand-in sends it to its process group as the terminal would); the program, which ignores it
  // during the run, sees the shell end by the interrupt and ends the batch the same way.
  TemporaryFolder tmp;
  const fs::path sim = tmp.Path() / "interrupted simulator.sh";
  {
    std::ofstream out(sim);
    out << "#!/bin/sh\necho CALL >> \"$(dirname \"$0\")/calls.txt\"\nkill -INT 0\nsleep 5\n";
  }
  fs::permissions(sim, fs::perms::owner_all);
  ChildProcess quarrow(Quarrow_EXECUTABLE, {"-s", (tmp.Path() / "save").string(), "-m", sim.string()}, AsAJob());
  ASSERT_TRUE(quarrow.WaitFor(std::chrono::seconds(180))) << "Quarrow went on after the interrupt";
  EXPECT_EQ(SIGINT, quarrow.TermSignal()) << quarrow.ExitCode();
  EXPECT_EQ(1u, RecordedCalls(sim).size());
}

TEST(Quarrow, AFailedParseEndsWithMinusOne)
{
  TemporaryFolder tmp;
  const fs::path sim = WriteStandInSimulator(tmp.Path(), 0);
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{}, {"-s", (tmp.Path() / "save").string()}, {"-m", sim.string(), "--bogus"}})
  {
    ChildProcess quarrow(Quarrow_EXECUTABLE, args, AsAJob());
    ASSERT_TRUE(quarrow.WaitFor(TimeGuard));
    EXPECT_EQ(255, quarrow.ExitCode()) << quarrow.Err(); // exit(-1) as the shell sees it
    EXPECT_NE(std::string::npos, quarrow.Err().find("Paring arguments..."));
  }
  EXPECT_FALSE(fs::exists(tmp.Path() / "save"));
  EXPECT_TRUE(RecordedCalls(sim).empty());
}

TEST(Quarrow, AnErrorEndsWithItsDescriptionAndACode)
{
  // the save folder cannot be made: a file stands where it should be
  TemporaryFolder tmp;
  const fs::path sim = WriteStandInSimulator(tmp.Path(), 0);
  std::ofstream(tmp.Path() / "occupied") << "a file";
  ChildProcess quarrow(Quarrow_EXECUTABLE, {"-s", (tmp.Path() / "occupied").string() + "/", "-m", sim.string()},
                       AsAJob());
  ASSERT_TRUE(quarrow.WaitFor(TimeGuard));
  EXPECT_EQ(1, quarrow.ExitCode());
  EXPECT_NE(std::string::npos, quarrow.Err().find("Cannot create the folder")) << quarrow.Err();
  EXPECT_EQ(std::string::npos, quarrow.Err().find("terminate")) << quarrow.Err();
  EXPECT_TRUE(RecordedCalls(sim).empty());
}

// A simulator that cannot be started is refused at the start, before any
// volume is written; one that passes that check but still cannot be started
// by the shell ends the batch after its first volume. Each run is guarded
// against a hang and a runaway allocation with far more room than it needs.
namespace
{

  struct SimulatorCase
  {
    const char *name;
    /** Makes the simulator in the folder; answers the -m value. */
    std::function<std::string(const fs::path &folder)> simulator;
    /** The start of the first line of standard error that is not a log record (<sim>: the -m value). */
    const char *firstError;
    /** Input volumes written before the end. */
    std::size_t volumes;
  };

  const SimulatorCase SimulatorCases[] = {
    {"Missing", [](const fs::path &f) { return (f / "no such simulator").string(); },
     "The simulator \"<sim>\" does not exist.", 0},
    {"NotExecutable",
     [](const fs::path &f) {
       const fs::path sim = WriteStandInSimulator(f, 0);
       fs::permissions(sim, fs::perms::owner_read | fs::perms::owner_write);
       return sim.string();
     },
     "The simulator \"<sim>\" is not an executable file.", 0},
    {"AFolder", [](const fs::path &f) { return f.string(); }, "The simulator \"<sim>\" is a folder, not a program.", 0},
    {"NameNotInPath", [](const fs::path &) { return std::string("vexa-no-such-simulator"); },
     "The simulator \"<sim>\" is not an executable program in PATH (", 0},
    {"Empty", [](const fs::path &) { return std::string(); }, "No simulator given", 0},
    {"ItsInterpreterIsMissing",
     [](const fs::path &f) {
       const fs::path sim = f / "broken simulator.sh";
       std::ofstream(sim) << "#!/no/such/interpreter\n";
       fs::permissions(sim, fs::perms::owner_all);
       return sim.string();
     },
     "The shell could not start the simulator \"<sim>\" (exit status 12", 1},
  };

  class QuarrowSimulatorCheck : public ::testing::TestWithParam<SimulatorCase>
  {
  };

}

TEST_P(QuarrowSimulatorCheck, ASimulatorThatCannotStartEndsTheBatchClearly)
{
  const SimulatorCase &c = GetParam();
  TemporaryFolder tmp;
  fs::create_directories(tmp.Path() / "sim");
  const std::string sim = c.simulator(tmp.Path() / "sim");
  const fs::path save = tmp.Path() / "save";

  ChildProcess quarrow(Quarrow_EXECUTABLE, {"-s", save.string() + "/", "-m", sim}, AsAJob());
  ASSERT_TRUE(quarrow.WaitFor(TimeGuard)) << "Quarrow went on: " << quarrow.Err();
  EXPECT_EQ(1, quarrow.ExitCode()) << quarrow.Err();
  EXPECT_LT(PeakResidentKiBOfChildren(), MemoryGuardKiB);
  std::string expected = c.firstError;
  if (expected.find("<sim>") != std::string::npos)
    expected.replace(expected.find("<sim>"), 5, sim);
  EXPECT_EQ(0u, FirstErrorLine(quarrow.Err()).find(expected)) << quarrow.Err();
  EXPECT_EQ(c.volumes, FilesIn(save / "input"));
}

INSTANTIATE_TEST_SUITE_P(Simulators,
                         QuarrowSimulatorCheck,
                         ::testing::ValuesIn(SimulatorCases),
                         [](const ::testing::TestParamInfo<SimulatorCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(Quarrow, ASimulatorNamedWithoutAFolderIsLookedForInPath)
{
  TemporaryFolder tmp;
  const fs::path sim = WriteStandInSimulator(tmp.Path(), 0);
  const std::string path = "PATH=/no/such/folder:" + tmp.Path().string() + ":" + std::getenv("PATH");
  ChildProcess quarrow(Quarrow_EXECUTABLE, {"-s", (tmp.Path() / "save").string(), "-m", sim.filename().string()},
                       AsAJob({path}));
  StopWhen(quarrow, [&] { return RecordedCalls(sim).size() > 1; });
  EXPECT_EQ("-i", RecordedCalls(sim).front().front());
}

TEST(Quarrow, AStopDuringASaveLeavesNoPartialFile)
{
  // The program is stopped from outside as soon as a save is seen in progress
  // (its hidden temporary exists): the temporary goes with the program.
  TemporaryFolder tmp;
  const fs::path sim = WriteStandInSimulator(tmp.Path(), 0);
  const fs::path input = tmp.Path() / "save" / "input";
  ChildProcess quarrow(Quarrow_EXECUTABLE, {"-s", (tmp.Path() / "save").string(), "-m", sim.string()}, AsAJob());
  const auto partial = [&] {
    std::error_code ec;
    for (fs::directory_iterator it(input, ec), end; !ec && it != end; it.increment(ec))
      if (it->path().filename().string()[0] == '.')
        return true;
    return false;
  };
  bool caught = false;
  const auto end = std::chrono::steady_clock::now() + TimeGuard;
  while (!caught && std::chrono::steady_clock::now() < end && !quarrow.WaitFor(std::chrono::seconds(0)))
    caught = partial();
  ::kill(quarrow.Pid(), SIGTERM);
  quarrow.Wait();
  ASSERT_TRUE(caught) << "no save seen in progress: " << quarrow.Err();
  EXPECT_EQ(SIGTERM, quarrow.TermSignal()) << quarrow.Err();
  EXPECT_FALSE(partial()) << "a partial file was left behind";
}
