#include <vexaTestChildProcess.h>
#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaTestXServer.h>

#include <vexaCallbackFromGUIThread.h>
#include <vexaFunctionCommand.h>

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

using vexa::test::DialogDriver;
using vexa::test::QtApplication;
using Shown = DialogDriver::Shown;

namespace
{
  class QtSupport : public ::testing::Test
  {
  protected:
    void SetUp() override { ASSERT_NE(nullptr, QtApplication::Instance()); }
  };

  QString Touch(const vexa::test::TemporaryFolder &folder, const std::string &name)
  {
    std::ofstream(folder.File(name)) << "x";
    return QString::fromStdString(folder.File(name));
  }
}

TEST_F(QtSupport, OneApplicationWhoseSettingsStayInItsOwnFolder)
{
  EXPECT_EQ(QtApplication::Instance(), QtApplication::Instance());
  EXPECT_EQ(QtApplication::Instance(), qApp);
  EXPECT_TRUE(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs));

  const QString folder = QtApplication::SettingsFolder();
  ASSERT_FALSE(folder.isEmpty());
  QCoreApplication::setOrganizationName("VexaTestOrganisation");
  QCoreApplication::setApplicationName("VexaTestApplication");
  for (QSettings *settings :
       {new QSettings, new QSettings(QSettings::IniFormat, QSettings::UserScope, "VexaTestOrganisation", "Other")})
  {
    settings->setValue("key", 42);
    settings->sync();
    EXPECT_EQ(settings->status(), QSettings::NoError);
    EXPECT_TRUE(settings->fileName().startsWith(folder + "/")) << settings->fileName().toStdString();
    EXPECT_TRUE(QFileInfo::exists(settings->fileName()));
    delete settings;
  }
  EXPECT_EQ(QSettings().value("key").toInt(), 42);
}

TEST_F(QtSupport, MessageBoxesAreAnsweredInOrderAndRecorded)
{
  DialogDriver dialogs;
  dialogs.AnswerMessageBox(QMessageBox::No);
  dialogs.AnswerMessageBox(QMessageBox::Yes);
  dialogs.AnswerMessageBox(QMessageBox::Save); // not among the buttons

  // opened by a slot, as the code under test would
  QPushButton button("Remove");
  QMessageBox::StandardButton firstAnswer = QMessageBox::NoButton;
  QObject::connect(&button, &QPushButton::clicked,
                   [&] { firstAnswer = QMessageBox::question(&button, "Remove device", "Remove the device?"); });
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(firstAnswer, QMessageBox::No);

  EXPECT_EQ(QMessageBox::question(nullptr, "Again", "Sure?"), QMessageBox::Yes);
  EXPECT_NE(QMessageBox::question(nullptr, "Third", "Save?"), QMessageBox::Save);
  // nothing queued: closed with its escape button, and the test goes on
  EXPECT_EQ(QMessageBox::warning(nullptr, "Warning", "Nobody expects this", QMessageBox::Ok), QMessageBox::Ok);

  const std::vector<Shown> &shown = dialogs.ShownDialogs();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].kind, Shown::MessageBox);
  EXPECT_EQ(shown[0].title, "Remove device");
  EXPECT_EQ(shown[0].text, "Remove the device?");
  EXPECT_EQ(shown[0].icon, QMessageBox::Question);
  EXPECT_FALSE(shown[0].unexpected);
  EXPECT_TRUE(shown[0].problem.isEmpty());
  EXPECT_FALSE(shown[2].problem.isEmpty());
  EXPECT_TRUE(shown[3].unexpected);
  EXPECT_EQ(shown[3].icon, QMessageBox::Warning);
  EXPECT_EQ(shown[3].text, "Nobody expects this");
  EXPECT_EQ(dialogs.PendingAnswers(), 0);
}

TEST_F(QtSupport, FileDialogsChooseOrCancelAsAUserWould)
{
  vexa::test::TemporaryFolder folder;
  const QString existing = Touch(folder, "image.nrrd");
  const QString dir = QString::fromStdString(folder.Path().string());
  DialogDriver dialogs;

  dialogs.AnswerFileDialog(existing);
  EXPECT_EQ(QFileDialog::getOpenFileName(nullptr, "Open image", dir, "Images (*.nrrd)"), existing);

  dialogs.CancelFileDialog();
  EXPECT_TRUE(QFileDialog::getOpenFileName(nullptr, "Open image", dir).isEmpty());

  // saving over an existing file asks first; that question is answered too
  dialogs.AnswerFileDialog(existing);
  dialogs.AnswerMessageBox(QMessageBox::Yes);
  EXPECT_EQ(QFileDialog::getSaveFileName(nullptr, "Save image", dir), existing);

  const QString newFile = dir + "/new result.nrrd";
  dialogs.AnswerFileDialog(newFile);
  EXPECT_EQ(QFileDialog::getSaveFileName(nullptr, "Save image", dir), newFile);

  dialogs.AnswerFileDialog(dir);
  EXPECT_EQ(QFileDialog::getExistingDirectory(nullptr, "Choose folder", dir), dir);

  // a file that does not exist cannot be opened: the dialog refuses it, the driver gives up
  dialogs.AnswerFileDialog(dir + "/missing.nrrd");
  EXPECT_TRUE(QFileDialog::getOpenFileName(nullptr, "Open image", dir).isEmpty());

  const std::vector<Shown> &shown = dialogs.ShownDialogs();
  ASSERT_EQ(shown.size(), 8u);
  EXPECT_EQ(shown[0].kind, Shown::FileDialog);
  EXPECT_EQ(shown[0].title, "Open image");
  EXPECT_EQ(shown[0].text, dir);
  EXPECT_EQ(shown[2].kind, Shown::FileDialog);
  // the overwrite question came after the save dialog that asked it
  EXPECT_EQ(shown[3].kind, Shown::MessageBox);
  EXPECT_TRUE(shown[3].text.contains("already exists"));
  EXPECT_FALSE(shown[3].unexpected);
  EXPECT_EQ(shown[5].title, "Choose folder");
  EXPECT_TRUE(shown[6].problem.contains("missing.nrrd"));
  // the dialog's own complaint about the missing file, closed unanswered
  EXPECT_EQ(shown[7].kind, Shown::MessageBox);
  EXPECT_TRUE(shown[7].unexpected);
  EXPECT_EQ(dialogs.PendingAnswers(), 0);
}

TEST_F(QtSupport, BoxesShownTogetherAreRecordedInTheOrderTheyAppeared)
{
  DialogDriver dialogs;
  for (int i = 0; i < 6; ++i)
  {
    dialogs.AnswerMessageBox(QMessageBox::Ok);
    auto *box = new QMessageBox(QMessageBox::Critical, "Error", QString("problem %1").arg(i), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show(); // not modal: all are open at once
  }
  ASSERT_TRUE(QtApplication::ProcessEventsUntil([&] { return dialogs.ShownDialogs().size() == 6; }));
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(dialogs.ShownDialogs()[i].text, QString("problem %1").arg(i));
  EXPECT_EQ(dialogs.PendingAnswers(), 0);
}

TEST_F(QtSupport, TheGuiThreadCallbackRunsWhatWorkersPostInTheEventLoop)
{
  ASSERT_EQ(QtApplication::Instance(), QtApplication::WithGuiThreadCallback());
  EXPECT_EQ(QtApplication::Instance(), QtApplication::WithGuiThreadCallback()); // one backend
  const auto gui = std::this_thread::get_id();
  std::atomic<int> ranOnGui{0};
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i)
      vexa::CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(
        vexa::FunctionCommand::New([&](itk::Object *, const itk::EventObject &) {
          if (std::this_thread::get_id() == gui)
            ++ranOnGui;
        }));
  });
  worker.join();
  EXPECT_TRUE(QtApplication::ProcessEventsUntil([&] { return ranOnGui == 3; }));
  EXPECT_EQ(0u, vexa::CallbackFromGUIThread::GetInstance()->GetNumberOfPendingCalls());
}

TEST_F(QtSupport, QtFilesAndScreenshotRegionsAreRead)
{
  vexa::test::TemporaryFolder folder;
  EXPECT_EQ(QByteArray("x"), vexa::test::ReadQtFile(Touch(folder, "one")));
  EXPECT_TRUE(vexa::test::ReadQtFile(":/no/such/resource").isEmpty());

  QImage picture(8, 8, QImage::Format_RGB32);
  const struct
  {
    const char *text;
    QRect region;
  } cases[] = {{"10,20,300,400", QRect(10, 20, 300, 400)}, {"1,2,3", QRect()}, {"1,2,3,four", QRect()}, {"", QRect()}};
  for (const auto &c : cases)
  {
    picture.setText("RenderWindowRegion", c.text);
    EXPECT_EQ(c.region, vexa::test::ScreenshotRegion(picture, "RenderWindowRegion")) << c.text;
  }
  EXPECT_TRUE(vexa::test::ScreenshotRegion(picture, "Missing").isNull());
}

// A benchmark program makes the application without running any test, so the
// test runner's teardown never comes; the program must still end cleanly.
TEST(QtSupportExit, AProgramThatRunsNoTestsEndsCleanly)
{
  if (std::getenv("VEXA_TEST_EXIT_WITHOUT_TEARDOWN"))
  {
    QtApplication::WithGuiThreadCallback();
    std::exit(0);
  }
  vexa::test::ChildProcess child("/proc/self/exe", {"--gtest_filter=QtSupportExit.*"},
                                 {"", {"VEXA_TEST_EXIT_WITHOUT_TEARDOWN=1"}, false});
  ASSERT_TRUE(child.Started()) << child.StartError();
  ASSERT_TRUE(child.WaitFor(std::chrono::seconds(60)));
  EXPECT_EQ(0, child.ExitCode()) << child.Err();
}
