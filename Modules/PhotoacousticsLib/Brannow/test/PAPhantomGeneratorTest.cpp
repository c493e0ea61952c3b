// Brannow run as a process against a stand-in simulator.

#include "vexaGeneratorProgramTestSupport.h"

#include <vexaIOUtil.h>
#include <vexaImage.h>
#include <vexaImageReadAccessor.h>

#include <cctype>
#include <set>

using namespace vexa::test;

namespace
{
  /** Segmentation labels and absorptions of the voxels below the air of a saved phantom. */
  struct PhantomContent
  {
    std::set<float> labels;
    std::set<float> backgroundAbsorptions;
  };

  PhantomContent Content(const std::string &path)
  {
    vexa::Image::Pointer image = vexa::IOUtil::LoadImage(path);
    EXPECT_EQ(140u, image->GetDimension(0));
    EXPECT_EQ(100u, image->GetDimension(1));
    EXPECT_EQ(180u, image->GetDimension(2));
    EXPECT_EQ(4u, image->GetPixelType().GetNumberOfComponents());
    vexa::ImageReadAccessor access(image);
    const float *p = static_cast<const float *>(access.GetData());
    PhantomContent c;
    const std::size_t voxels = 140u * 100u * 180u;
    for (std::size_t v = 0; v < voxels; ++v)
    {
      c.labels.insert(p[4 * v + 3]);
      if (p[4 * v + 3] == 1.0f)
        c.backgroundAbsorptions.insert(p[4 * v]);
    }
    return c;
  }
}

TEST(Brannow, MakesOnePhantomAndRunsTheSimulatorOnceWithTheProbe)
{
  TemporaryFolder tmp;
  const fs::path sim = WriteStandInSimulator(tmp.Path(), 0);
  const std::string probe = (tmp.Path() / "probe $1 'x'.xml").string();
  const std::string save = (tmp.Path() / "phantoms").string() + "/";

  ChildProcess brannow(Brannow_EXECUTABLE, {"-s", save, "-m", sim.string(), "-p", probe, "-i", "P7", "-v"}, AsAJob());
  ASSERT_TRUE(brannow.WaitFor(std::chrono::seconds(300)));
  EXPECT_EQ(0, brannow.ExitCode()) << brannow.Err();

  const std::string input = save + "input/Phantom_P7.nrrd";
  const std::string output = save + "output/Phantom_P7/Fluence_Phantom_P7.nrrd";
  const auto calls = RecordedCalls(sim);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ((std::vector<std::string>{"-i", input, "-o", output, "-yo", "0", "-p", probe, "-n", "10000000"}), calls[0]);
  EXPECT_TRUE(fs::exists(output));

  const std::string command = Quoted(sim.string()) + " -i " + Quoted(input) + " -o " + Quoted(output) + " -yo " +
                              Quoted("0") + " -p " + Quoted(probe) + " -n " + Quoted("10000000");
  EXPECT_EQ((std::vector<std::string>{"Parsing arguments...", "Parsing arguments...[Done]", "Generating tissue..",
                                      "Generating tissue..[Done]", "Simulating fluence..", "Executing: " + command, "0",
                                      "Simulating fluence..[Done]"}),
            InfoTexts(brannow.Err()));

  const PhantomContent c = Content(input);
  EXPECT_TRUE(c.labels.count(2.0f)) << "vessels (1 to 8 of them) were drawn";
  EXPECT_TRUE(c.labels.count(0.0f)) << "the 12 mm air layer";
}

TEST(Brannow, EmptyVolumeWithoutProbeKeepsTheEmptyArgumentAndReportsAFailedSimulator)
{
  TemporaryFolder tmp;
  const fs::path sim = WriteStandInSimulator(tmp.Path(), 3);
  const fs::path save = tmp.Path() / "phantoms"; // no trailing separator: used as the folder named

  ChildProcess brannow(Brannow_EXECUTABLE, {"-s", save.string(), "-m", sim.string(), "-e"}, AsAJob());
  ASSERT_TRUE(brannow.WaitFor(std::chrono::seconds(300)));
  EXPECT_EQ(1, brannow.ExitCode()) << "the simulator failed (status 3): " << brannow.Err();

  const auto calls = RecordedCalls(sim);
  ASSERT_EQ(1u, calls.size());
  ASSERT_EQ(10u, calls[0].size());
  EXPECT_EQ("-p", calls[0][6]);
  EXPECT_EQ("", calls[0][7]); // one empty argument, not swallowing -n
  EXPECT_EQ("-n", calls[0][8]);
  EXPECT_EQ("10000000", calls[0][9]);
  const std::string inputPrefix = (save / "input" / "Phantom_").string();
  ASSERT_EQ(0u, calls[0][1].find(inputPrefix)) << calls[0][1];
  const std::string id = calls[0][1].substr(inputPrefix.size(), 8);
  EXPECT_EQ(inputPrefix + id + ".nrrd", calls[0][1]);
  for (char c : id)
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << id;
  EXPECT_EQ((save / "output").string() + "/Phantom_" + id + "/Fluence_Phantom_" + id + ".nrrd", calls[0][3]);

  // without -v: the parse records, the command line and the simulator's exit status
  const std::vector<std::string> logged = InfoTexts(brannow.Err());
  ASSERT_EQ(4u, logged.size()) << brannow.Err();
  EXPECT_EQ("Parsing arguments...", logged[0]);
  EXPECT_EQ("Parsing arguments...[Done]", logged[1]);
  EXPECT_EQ(0u, logged[2].find("Executing: " + Quoted(sim.string()) + " -i ")) << logged[2];
  EXPECT_NE(std::string::npos, logged[2].find(" -p '' -n '10000000'")) << logged[2];
  EXPECT_EQ("3", logged[3]);

  // no vessels: one uniform background below the air
  const PhantomContent c = Content(calls[0][1]);
  EXPECT_EQ((std::set<float>{0.0f, 1.0f}), c.labels);
  EXPECT_EQ(1u, c.backgroundAbsorptions.size());
}

TEST(Brannow, AFailedParseEndsWithMinusOne)
{
  TemporaryFolder tmp;
  const fs::path sim = WriteStandInSimulator(tmp.Path(), 0);
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{}, {"-m", sim.string()}, {"-s", tmp.Path().string(), "-m", sim.string(), "-x"}})
  {
    ChildProcess brannow(Brannow_EXECUTABLE, args, AsAJob());
    ASSERT_TRUE(brannow.WaitFor(TimeGuard));
    EXPECT_EQ(255, brannow.ExitCode()) << brannow.Err();
    EXPECT_NE(std::string::npos, brannow.Err().find("Parsing arguments..."));
  }
  EXPECT_TRUE(RecordedCalls(sim).empty());
  EXPECT_FALSE(fs::exists(tmp.Path() / "input"));
}

TEST(Brannow, ASimulatorThatCannotStartIsRefusedBeforeThePhantomIsMade)
{
  TemporaryFolder tmp;
  const fs::path notExecutable = WriteStandInSimulator(tmp.Path(), 0);
  fs::permissions(notExecutable, fs::perms::owner_read | fs::perms::owner_write);
  const struct
  {
    std::string simulator;
    std::string firstError;
  } cases[] = {
    {(tmp.Path() / "missing").string(), "The simulator \"" + (tmp.Path() / "missing").string() + "\" does not exist."},
    {notExecutable.string(), "The simulator \"" + notExecutable.string() + "\" is not an executable file."},
    {"vexa-no-such-simulator", "The simulator \"vexa-no-such-simulator\" is not an executable program in PATH ("}};
  for (const auto &c : cases)
  {
    ChildProcess brannow(Brannow_EXECUTABLE, {"-s", (tmp.Path() / "save").string(), "-m", c.simulator}, AsAJob());
    ASSERT_TRUE(brannow.WaitFor(TimeGuard)) << c.simulator;
    EXPECT_EQ(1, brannow.ExitCode()) << brannow.Err();
    EXPECT_EQ(0u, FirstErrorLine(brannow.Err()).find(c.firstError)) << brannow.Err();
    EXPECT_FALSE(fs::exists(tmp.Path() / "save")) << "a phantom was made for nothing";
  }
  EXPECT_LT(PeakResidentKiBOfChildren(), MemoryGuardKiB);
}
