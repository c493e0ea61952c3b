#include <vexaTestChildProcess.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

using vexa::test::ChildProcess;
using vexa::test::RunProgram;

namespace
{
  // Gone, or a zombie waiting for whoever adopted it.
  bool Ended(pid_t pid)
  {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return text.empty() || (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z');
  }
}

TEST(ChildProcess, ExitCodeAndBothOutputStreamsAreCaughtApart)
{
  const auto result = RunProgram("/bin/sh", {"-c", "echo to-out; echo to-err >&2; exit 3"});
  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.out, "to-out\n");
  EXPECT_EQ(result.err, "to-err\n");
}

TEST(ChildProcess, ArgumentsReachTheProgramAsTheyAreWithoutAShell)
{
  const std::vector<std::string> arguments = {"a b", "'quoted'", "$HOME", "; rm -rf x", "", "\"", "ü"};
  std::vector<std::string> printf = {"%s|\n"};
  printf.insert(printf.end(), arguments.begin(), arguments.end());
  const auto result = RunProgram("/usr/bin/printf", printf);
  std::string expected;
  for (const std::string &a : arguments)
    expected += a + "|\n";
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, expected);
}

TEST(ChildProcess, EnvironmentWorkingDirectoryAndStandardInput)
{
  vexa::test::TemporaryFolder folder;
  ChildProcess::Options options;
  options.workingDirectory = folder.Path().string();
  options.environment = {"VEXA_TEST_VALUE=given", "HOME=/replaced"};
  const auto result = RunProgram("/bin/sh", {"-c", "echo \"$VEXA_TEST_VALUE $HOME $(pwd)\"; cat; echo made > here.txt"},
                                 std::chrono::seconds(30), options);
  EXPECT_EQ(result.exitCode, 0);
  // standard input is empty: cat ends at once instead of waiting for the test's terminal
  EXPECT_EQ(result.out, "given /replaced " + folder.Path().string() + "\n");
  std::ifstream made(folder.File("here.txt"));
  std::string line;
  EXPECT_TRUE(std::getline(made, line));
  EXPECT_EQ(line, "made");
}

TEST(ChildProcess, TimeLimitsSignalsAndProgramsThatDoNotStart)
{
  const auto start = std::chrono::steady_clock::now();
  const auto slow = RunProgram("/bin/sleep", {"30"}, std::chrono::milliseconds(200));
  EXPECT_TRUE(slow.timedOut);
  EXPECT_EQ(slow.exitCode, 128 + SIGKILL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  // a signal to a child with a group of its own reaches what that child started
  vexa::test::TemporaryFolder folder;
  ChildProcess::Options options;
  options.ownProcessGroup = true;
  ChildProcess child("/bin/sh", {"-c", "sleep 30 & echo $! > " + folder.File("pid") + "; wait"}, options);
  ASSERT_TRUE(child.Started());
  pid_t grandchild = 0;
  ASSERT_TRUE([&] {
    for (int i = 0; i < 1000 && grandchild == 0; ++i)
    {
      std::ifstream pid(folder.File("pid"));
      if (!(pid >> grandchild))
        grandchild = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return grandchild > 0;
  }());
  EXPECT_TRUE(child.Running());
  EXPECT_EQ(child.ExitCode(), -1);
  EXPECT_TRUE(child.Signal(SIGTERM));
  ASSERT_TRUE(child.WaitFor(std::chrono::seconds(10)));
  EXPECT_EQ(child.TermSignal(), SIGTERM);
  EXPECT_EQ(child.ExitCode(), 128 + SIGTERM);
  EXPECT_FALSE(child.Signal(SIGTERM));
  for (int i = 0; i < 1000 && !Ended(grandchild); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(Ended(grandchild)) << "the child's own child got the signal too";

  const auto missing = RunProgram("/nonexistent/program", {});
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.exitCode, -1);
  EXPECT_NE(missing.err.find("/nonexistent/program"), std::string::npos);
}

TEST(ChildProcess, RanToSuccessSaysWhatWentWrongWithTheOutput)
{
  EXPECT_TRUE(vexa::test::RanToSuccess(RunProgram("/bin/true", {})));
  const struct
  {
    vexa::test::ProgramResult run;
    const char *says;
  } failures[] = {
    {RunProgram("/bin/sh", {"-c", "echo half done; exit 3"}), "returned 3; what it wrote:\nhalf done\n"},
    {RunProgram("/bin/sleep", {"30"}, std::chrono::milliseconds(100)), "killed at its time limit"},
    {RunProgram("/nonexistent/program", {}), "did not start"},
  };
  for (const auto &f : failures)
  {
    const ::testing::AssertionResult result = vexa::test::RanToSuccess(f.run);
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find(f.says), std::string::npos) << result.message();
  }
}
