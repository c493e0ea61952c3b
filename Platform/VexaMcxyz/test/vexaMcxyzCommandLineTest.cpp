#include <vexaMcxyzCommandLine.h>

#include <gtest/gtest.h>

using namespace vexa::mcxyz;

TEST(SimulatorCommandLine, TheGeneratorsCommandLinesParse)
{
  const CommandLineOptions a = ParseCommandLine({"-i", "/data/in put/BaselineHB_x_0.nrrd", "-o", "/data/out.nrrd",
                                                 "-yo", "-1.680000", "-p", "probe.xml", "-n", "100000000"});
  EXPECT_EQ("/data/in put/BaselineHB_x_0.nrrd", a.inputPath);
  EXPECT_EQ("/data/out.nrrd", a.outputPath);
  EXPECT_DOUBLE_EQ(-1.68, a.lateralOffsetCm);
  EXPECT_EQ("probe.xml", a.probePath);
  EXPECT_EQ(100000000u, a.photons);
  EXPECT_FALSE(a.seed.has_value());
  EXPECT_EQ(0u, a.threads);

  // the phantom generator passes an empty probe path
  const CommandLineOptions b = ParseCommandLine(
    {"-i", "in.nrrd", "-o", "out.nrrd", "-yo", "0", "-p", "", "-n", "10000000", "-seed", "0", "-threads", "3"});
  EXPECT_EQ("", b.probePath);
  EXPECT_EQ(0.0, b.lateralOffsetCm);
  ASSERT_TRUE(b.seed.has_value());
  EXPECT_EQ(0u, *b.seed);
  EXPECT_EQ(3u, b.threads);

  EXPECT_TRUE(ParseCommandLine({"-h"}).help);
}

TEST(SimulatorCommandLine, FaultsAreNamed)
{
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
    {{}, "no input volume"},
    {{"-i", "a"}, "no output file"},
    {{"-i", "a", "-o"}, "-o needs a value"},
    {{"-i", "a", "-o", "b", "-x", "1"}, "unknown option \"-x\""},
    {{"-i", "a", "-i", "b", "-o", "c"}, "-i is given twice"},
    {{"-i", "a", "-o", "b", "-n", "0"}, "-n needs a whole number above 0"},
    {{"-i", "a", "-o", "b", "-n", "1e8"}, "got \"1e8\""},
    {{"-i", "a", "-o", "b", "-n", "-5"}, "got \"-5\""},
    {{"-i", "a", "-o", "b", "-n", "99999999999999999999999"}, "whole number"},
    {{"-i", "a", "-o", "b", "-yo", "1,5"}, "-yo needs a number, got \"1,5\""},
    {{"-i", "a", "-o", "b", "-yo", "inf"}, "-yo needs a number"},
    {{"-i", "a", "-o", "b", "-threads", "0"}, "-threads needs"},
  };
  for (const auto &c : cases)
  {
    try
    {
      ParseCommandLine(c.first);
      ADD_FAILURE() << c.second << ": accepted";
    }
    catch (const UsageError &e)
    {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.second)) << e.what();
    }
  }
}
