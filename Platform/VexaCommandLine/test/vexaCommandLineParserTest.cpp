#include <vexaCommandLineParser.h>

#include <gtest/gtest.h>

#include <sstream>

namespace
{
  // the option set of the beamforming tool: files, a flag, numbers and a text
  struct ParserFixture : ::testing::Test
  {
    vexaCommandLineParser parser;
    std::ostringstream errors;

    void SetUp() override
    {
      parser.setErrorStream(&errors);
      parser.setArgumentPrefix("--", "-");
      parser.setTitle("Tool");
      parser.beginGroup("Required parameters");
      parser.addArgument("inputImage", "i", vexaCommandLineParser::Image, "Input image", "input", us::Any(), false);
      parser.addArgument("output", "o", vexaCommandLineParser::File, "Output", "output", us::Any(), false);
      parser.endGroup();
      parser.beginGroup("Optional parameters");
      parser.addArgument("verbose", "v", vexaCommandLineParser::Bool, "Verbose", "verbose", us::Any(), true);
      parser.addArgument("speed-of-sound", "sos", vexaCommandLineParser::Float, "SoS", "m/s", us::Any(), true);
      parser.addArgument("samples", "s", vexaCommandLineParser::Int, "Samples", "n", us::Any(), true);
      parser.addArgument("algorithm", "alg", vexaCommandLineParser::String, "Alg", "", us::Any(), true);
      parser.addArgument("offset", "yo", vexaCommandLineParser::Float, "Offset", "", us::Any(0.25f), true);
      parser.endGroup();
    }
  };
}

TEST_F(ParserFixture, LongShortAndInlineFormsGiveTypedValues)
{
  bool ok = false;
  auto args = parser.parseArguments(
    {"-i", "/data/in put.nrrd", "--output=out.nrrd", "-v", "--speed-of-sound", "1540.5", "-s", "-12", "-alg", "DMAS"},
    &ok);
  ASSERT_TRUE(ok) << errors.str();
  EXPECT_EQ("/data/in put.nrrd", us::any_cast<std::string>(args["inputImage"]));
  EXPECT_EQ("out.nrrd", us::any_cast<std::string>(args["output"]));
  EXPECT_TRUE(us::any_cast<bool>(args["verbose"]));
  EXPECT_FLOAT_EQ(1540.5f, us::any_cast<float>(args["speed-of-sound"]));
  EXPECT_EQ(-12, us::any_cast<int>(args["samples"]));
  EXPECT_EQ("DMAS", us::any_cast<std::string>(args["algorithm"]));
  EXPECT_FLOAT_EQ(0.25f, us::any_cast<float>(args["offset"])) << "default of an option not given";
  EXPECT_TRUE(errors.str().empty());
}

TEST_F(ParserFixture, OptionsNotGivenAreAbsent)
{
  auto args = parser.parseArguments({"-i", "a", "-o", "b"});
  EXPECT_EQ(3u, args.size());
  EXPECT_EQ(0u, args.count("verbose"));
  EXPECT_EQ(0u, args.count("samples"));
}

TEST_F(ParserFixture, EveryFailureGivesAnEmptyMapAndSaysWhy)
{
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
    {{"-o", "b"}, "missing required argument --inputImage"},
    {{"-i", "a", "-o", "b", "--bogus"}, "unknown argument \"--bogus\""},
    {{"-i", "a", "-o"}, "needs a value"},
    {{"-i", "-o", "b"}, "\"-i\" needs a value"},
    {{"-i", "a", "-o", "b", "-s", "12x"}, "is not a whole number"},
    {{"-i", "a", "-o", "b", "-s", "99999999999"}, "is not a whole number"},
    {{"-i", "a", "-o", "b", "-sos", "1,5"}, "is not a number"},
    {{"-i", "a", "-o", "b", "-sos", "nan"}, "is not a number"},
    {{"-i", "a", "-o", "b", "--verbose=maybe"}, "is not true or false"},
  };
  for (const auto &row : rows)
  {
    errors.str("");
    bool ok = true;
    auto args = parser.parseArguments(row.first, &ok);
    EXPECT_TRUE(args.empty());
    EXPECT_FALSE(ok);
    EXPECT_NE(std::string::npos, parser.errorString().find(row.second)) << parser.errorString();
    EXPECT_NE(std::string::npos, errors.str().find("Required parameters")) << "help text follows the error";
  }
}

TEST_F(ParserFixture, ArgvFormSkipsTheProgramName)
{
  const char *argv[] = {"tool", "-i", "a", "-o", "b", "-yo", "-1.5"};
  auto args = parser.parseArguments(7, const_cast<char **>(argv));
  ASSERT_EQ(3u, args.size());
  EXPECT_FLOAT_EQ(-1.5f, us::any_cast<float>(args["offset"]));
}
