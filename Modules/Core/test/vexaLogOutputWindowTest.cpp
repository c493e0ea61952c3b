#include <vexaLogOutputWindow.h>

#include <vexaTestItkOutput.h>
#include <vorlenLogSink.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using vexa::test::WarningItkObject;

namespace
{
  struct DisplayCase
  {
    const char *name;
    int level;
    const char *text;
    // the record
    const char *file;
    int line;
    const char *function;
    const char *recordText;
  };

  const DisplayCase DisplayCases[] = {
    {"AnObjectsWarning", 1, "WARNING: In /src/itkImageSource.hxx, line 128\nImageSource (0x55d0): no data\n\n",
     "/src/itkImageSource.hxx", 128, "ImageSource", "ImageSource (0x55d0): no data"},
    {"DebugOutput", 0, "Debug: In filter.cxx, line 7\nMedianFilter (0x1): radius 2\n\n", "filter.cxx", 7,
     "MedianFilter", "MedianFilter (0x1): radius 2"},
    {"GenericOutputHasNoObject", 1, "WARNING: In /src/itkObjectFactoryBase.cxx, line 92\nno factory for NRRD\n\n",
     "/src/itkObjectFactoryBase.cxx", 92, "itk::OutputWindow", "no factory for NRRD"},
    {"AnErrorText", 2, "ERROR: In itkMultiThreader.cxx, line 300\nthread 3 failed\n", "itkMultiThreader.cxx", 300,
     "itk::OutputWindow", "thread 3 failed"},
    {"PlainTextKeepsItsLines", 0, "first line\nsecond line\n", "", 0, "itk::OutputWindow", "first line\nsecond line"},
    {"ALineThatIsNoNumberIsNoPosition", 1, "WARNING: In a.cxx, line twelve\nLens (0x2): m\n\n", "", 0,
     "itk::OutputWindow", "WARNING: In a.cxx, line twelve\nLens (0x2): m"},
    {"APathWithACommaInIt", 1, "WARNING: In /data/run 3, line 2/a.cxx, line 9\nLens (0x3): m\n\n",
     "/data/run 3, line 2/a.cxx", 9, "Lens", "Lens (0x3): m"},
    {"ASentenceIsNoClassName", 1, "the value (as read): 3\n", "", 0, "itk::OutputWindow", "the value (as read): 3"},
    {"NoText", 2, nullptr, "", 0, "itk::OutputWindow", ""},
  };

  class LogOutputWindowDisplay : public ::testing::TestWithParam<DisplayCase>
  {
  };
}

TEST_P(LogOutputWindowDisplay, BecomesOneRecordWithItsPositionAndClass)
{
  const DisplayCase &c = GetParam();
  const vorlen::LogRecord record = vexa::LogOutputWindow::ToRecord(c.level, c.text);
  EXPECT_EQ(c.level, record.level);
  EXPECT_EQ(std::vector<std::string>{"ITK"}, record.categories);
  EXPECT_EQ(c.file, record.file);
  EXPECT_EQ(c.line, record.line);
  EXPECT_EQ(c.function, record.function);
  EXPECT_EQ(c.recordText, record.text);
}

INSTANTIATE_TEST_SUITE_P(Texts,
                         LogOutputWindowDisplay,
                         ::testing::ValuesIn(DisplayCases),
                         [](const ::testing::TestParamInfo<DisplayCase> &info) { return info.param.name; });

TEST(LogOutputWindow, TheTestProgramsMainSendsItkWarningsIntoTheLogSink)
{
  ASSERT_NE(nullptr, dynamic_cast<vexa::LogOutputWindow *>(itk::OutputWindow::GetInstance().GetPointer()));
  vorlen::CapturingSink sink;
  WarningItkObject::Pointer lens = WarningItkObject::New();
  const int line = lens->Warn("focus 2.5 mm is out of range");

  const std::vector<vorlen::LogRecord> records = sink.Records();
  ASSERT_EQ(1u, records.size());
  const vorlen::LogRecord &r = records[0];
  EXPECT_EQ(1, r.level);
  EXPECT_EQ(std::vector<std::string>{"ITK"}, r.categories);
  EXPECT_THAT(r.file, EndsWith("vexaTestItkOutput.h"));
  EXPECT_EQ(line, r.line);
  EXPECT_EQ("WarningItkObject", r.function);
  EXPECT_THAT(r.text, StartsWith("WarningItkObject (0x"));
  EXPECT_THAT(r.text, HasSubstr("): focus 2.5 mm is out of range"));
  EXPECT_EQ(std::this_thread::get_id(), r.thread);
  EXPECT_EQ(std::string::npos, r.text.find('\n'));
}

TEST(LogOutputWindow, WarningsFromSeveralThreadsAtOnceAllArrive)
{
  vorlen::CapturingSink sink;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      WarningItkObject::Pointer lens = WarningItkObject::New();
      for (int i = 0; i < 50; ++i)
        lens->Warn("focus " + std::to_string(i));
    });
  for (auto &thread : threads)
    thread.join();
  const std::vector<vorlen::LogRecord> records = sink.Records();
  ASSERT_EQ(200u, records.size());
  for (const auto &r : records)
    EXPECT_EQ("WarningItkObject", r.function);
}
