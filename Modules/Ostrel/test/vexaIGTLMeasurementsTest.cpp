#include <vexaIGTLMeasurements.h>

#include <usModule.h>
#include <usModuleRegistry.h>

#include <vexaTestTemporaryFolder.h>

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <locale>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace vexa;

namespace
{
  /** A number format with digit grouping and a comma, to show that the export does not use the process's locale. */
  struct GroupingPunct : std::numpunct<char>
  {
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
    char do_decimal_point() const override { return ','; }
  };

  /** Ostrel's module started for the test, so that its activator has registered the measurements. */
  class Measurements : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      m_Module = us::ModuleRegistry::GetModule("Ostrel");
      ASSERT_NE(nullptr, m_Module);
      ASSERT_TRUE(m_Module->Start());
      m_Measurements = IGTLMeasurements::GetInstance();
      ASSERT_NE(nullptr, m_Measurements);
      m_Folder = m_Temporary.Path().string();
    }

    void TearDown() override { m_Module->Stop(); }

    std::string File() const { return m_Temporary.File("latency.txt"); }

    vexa::test::TemporaryFolder m_Temporary;
    us::Module *m_Module = nullptr;
    IGTLMeasurements *m_Measurements = nullptr;
    std::string m_Folder;
  };
}

TEST_F(Measurements, ExportByteForByte)
{
  m_Measurements->SetStarted(true);
  m_Measurements->AddMeasurement(3, 5, 1500);
  m_Measurements->AddMeasurement(1, 5, 1000);
  m_Measurements->AddMeasurement(1, 6, 2000);
  m_Measurements->AddMeasurement(4000000000u, 4000000000u, -9000000000000000000LL);
  ASSERT_TRUE(m_Measurements->ExportData(File()));
  EXPECT_EQ("3\n2;1;1000;5;2000;6;\n1;3;1500;5;\n1;4000000000;-9000000000000000000;4000000000;\n",
            vexa::test::ReadFile(File()));

  // The export does not clear; a reset does, and leaves recording on.
  ASSERT_TRUE(m_Measurements->ExportData(File()));
  m_Measurements->Reset();
  EXPECT_FALSE(m_Measurements->ExportData(File()));
  EXPECT_EQ("0\n", vexa::test::ReadFile(File()));
  m_Measurements->AddMeasurement(2, 1, 7);
  ASSERT_TRUE(m_Measurements->ExportData(File()));
  EXPECT_EQ("1\n1;2;7;1;\n", vexa::test::ReadFile(File()));
}

TEST_F(Measurements, RecordsOnlyWhileStartedAndStampsWithTheSteadyClock)
{
  m_Measurements->AddMeasurement(7, 1, 42); // starts stopped
  EXPECT_FALSE(m_Measurements->ExportData(File()));
  m_Measurements->SetStarted(true);
  const long long before =
    std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  m_Measurements->AddMeasurement(7, 1, 0);
  const long long after =
    std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  m_Measurements->AddMeasurement(7, 2, 42);
  m_Measurements->SetStarted(false);
  m_Measurements->AddMeasurement(7, 3, 43);
  ASSERT_TRUE(m_Measurements->ExportData(File()));
  long long stamp = 0;
  ASSERT_EQ(1, std::sscanf(vexa::test::ReadFile(File()).c_str(), "1\n2;7;%lld;1;42;2;\n", &stamp));
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
}

TEST_F(Measurements, ExportIgnoresTheProcessLocaleAndLeavesItAlone)
{
  const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new GroupingPunct));
  const std::string cLocale = std::setlocale(LC_ALL, nullptr);
  m_Measurements->SetStarted(true);
  m_Measurements->AddMeasurement(1234, 5678, 1234567);
  const bool exported = m_Measurements->ExportData(File());
  const std::string afterC = std::setlocale(LC_ALL, nullptr);
  const std::string afterName = std::locale().name();
  std::locale::global(previous);
  ASSERT_TRUE(exported);
  EXPECT_EQ("1\n1;1234;1234567;5678;\n", vexa::test::ReadFile(File()));
  EXPECT_EQ(cLocale, afterC);
  EXPECT_EQ("*", afterName); // still the grouping locale set above
}

TEST_F(Measurements, AFileThatCannotBeWrittenIsReported)
{
  m_Measurements->SetStarted(true);
  m_Measurements->AddMeasurement(1, 1, 1);
  EXPECT_FALSE(m_Measurements->ExportData(m_Folder + "/no/such/folder/latency.txt"));
  EXPECT_FALSE(m_Measurements->ExportData(m_Folder)); // a folder
}

TEST_F(Measurements, SeveralThreadsRecordAtOnce)
{
  m_Measurements->SetStarted(true);
  std::vector<std::thread> threads;
  for (unsigned int t = 0; t < 4; ++t)
    threads.emplace_back([this, t] {
      for (unsigned int i = 0; i < 1000; ++i)
        m_Measurements->AddMeasurement(t, i, 1);
    });
  std::thread exporter([this] {
    for (int i = 0; i < 20; ++i)
      m_Measurements->ExportData(File());
  });
  for (std::thread &t : threads)
    t.join();
  exporter.join();
  ASSERT_TRUE(m_Measurements->ExportData(File()));
  std::istringstream lines(vexa::test::ReadFile(File()));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ("4", line);
  for (int t = 0; t < 4; ++t)
  {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(0u, line.rfind("1000;" + std::to_string(t) + ";", 0)) << line.substr(0, 20);
  }
}

TEST(MeasurementsService, FollowsTheModuleThroughStopAndStart)
{
  us::Module *module = us::ModuleRegistry::GetModule("Ostrel");
  ASSERT_NE(nullptr, module);
  module->Stop();
  EXPECT_EQ(nullptr, IGTLMeasurements::GetInstance());
  ASSERT_TRUE(module->Start());
  IGTLMeasurements *first = IGTLMeasurements::GetInstance();
  ASSERT_NE(nullptr, first);
  first->SetStarted(true);
  first->AddMeasurement(1, 1, 1);
  ASSERT_TRUE(module->Stop());
  EXPECT_EQ(nullptr, IGTLMeasurements::GetInstance());
  ASSERT_TRUE(module->Start());
  IGTLMeasurements *again = IGTLMeasurements::GetInstance();
  ASSERT_NE(nullptr, again); // found again after the restart
  // a new start gives the measurements back empty and stopped
  again->AddMeasurement(2, 2, 2);
  vexa::test::TemporaryFolder folder;
  const std::string path = folder.File("latency.txt");
  EXPECT_FALSE(again->ExportData(path));
  EXPECT_EQ("0\n", vexa::test::ReadFile(path));
  module->Stop();
}
