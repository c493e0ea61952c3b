#include <vexaTestItkOutput.h>
#include <vexaTestThisProcess.h>
#include <vexaTestWaitUntil.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

TEST(ThisProcess, PeakMemoryFollowsWhatIsTouchedAndStartsAnewOnReset)
{
  ASSERT_GT(vexa::test::ResidentKiB(), 0);
  if (!vexa::test::ResetPeakResident())
    GTEST_SKIP() << "this system does not reset the peak (/proc/self/clear_refs)";
  const long before = vexa::test::PeakResidentKiB();
  EXPECT_LE(before, vexa::test::ResidentKiB() + 1024);

  constexpr std::size_t Bytes = 64 << 20;
  std::unique_ptr<char[]> block(new char[Bytes]);
  std::memset(block.get(), 1, Bytes); // resident only once written
  EXPECT_GT(vexa::test::PeakResidentKiB() - before, 60 * 1024);
  block.reset();
  // the peak starts again from what is resident now
  EXPECT_TRUE(vexa::test::ResetPeakResident());
  EXPECT_LE(vexa::test::PeakResidentKiB(), vexa::test::ResidentKiB() + 1024);
  EXPECT_EQ(0, vexa::test::StatusKiB("NoSuchField"));
}

TEST(WaitUntil, AnswersAsSoonAsTheConditionHoldsOrFalseAfterTheTimeOut)
{
  std::atomic<bool> done{false};
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    done = true;
  });
  EXPECT_TRUE(vexa::test::WaitUntil([&] { return done.load(); }));
  setter.join();

  const auto start = std::chrono::steady_clock::now();
  int looks = 0;
  EXPECT_FALSE(
    vexa::test::WaitUntil([&] { return ++looks < 0; }, std::chrono::milliseconds(50), std::chrono::milliseconds(10)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_LT(looks, 20); // it slept between looks
}

TEST(CapturedItkOutput, CollectsItksTextsAndPutsBackTheWindowAndTheWarningSetting)
{
  itk::OutputWindow::Pointer programs = itk::OutputWindow::GetInstance();
  itk::Object::SetGlobalWarningDisplay(false);
  {
    vexa::test::CapturedItkOutput output;
    EXPECT_TRUE(itk::Object::GetGlobalWarningDisplay());
    vexa::test::WarningItkObject::New()->Warn("careful");
    EXPECT_EQ(0u, output.Text().find("WARNING: In "));
    EXPECT_NE(std::string::npos, output.Text().find("WarningItkObject ("));
    EXPECT_NE(std::string::npos, output.Text().find("): careful\n\n"));
  }
  EXPECT_FALSE(itk::Object::GetGlobalWarningDisplay());
  EXPECT_EQ(programs, itk::OutputWindow::GetInstance());
  itk::Object::SetGlobalWarningDisplay(true);
}
