// Batch processing through the real file dialogs (answered by the shared
// dialog driver) on NRRD files in a temporary folder.

#include "PAImageProcessing.h"
#include "PAImageProcessingTestSupport.h"

#include <vexaIOUtil.h>
#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>

#include <QDir>
#include <QFile>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace
{
  using vexa::test::ApplicationFirst;

  struct BatchView
  {
    BatchView()
    {
      vexa::test::QtApplication::WithGuiThreadCallback();
      view = std::make_unique<PAImageProcessing>();
      view->SetViewHost(&host);
      view->CreatePartControl(&parent);
      form = view->GetControls();
      // small reconstructions keep the batch quick
      form->Samples->setValue(256);
      form->Lines->setValue(64);
    }
    QStringList Outputs(const QString &folder) const
    {
      return QDir(folder).entryList({"*.nrrd"}, QDir::Files, QDir::Name);
    }
    QStringList BoxTexts(const vexa::test::DialogDriver &dialogs) const
    {
      QStringList texts;
      for (const auto &shown : dialogs.ShownDialogs())
        if (shown.kind == vexa::test::DialogDriver::Shown::MessageBox)
          texts << shown.text;
      return texts;
    }

    ApplicationFirst application; // before any widget
    vexa::test::TestViewHost host;
    QWidget parent;
    std::unique_ptr<PAImageProcessing> view;
    Ui::PAImageProcessingControls *form = nullptr;
  };
}

// Two raw files, one file that is no image: the steps run in order on each
// good file, the asked-for results land under their exact names, the bad one
// is reported and the batch goes on.
TEST(PAImageProcessingBatch, ProcessesEachFileAndSavesTheCheckedSteps)
{
  BatchView b;
  vexa::test::TemporaryFolder input;
  vexa::test::TemporaryFolder output;
  const QString first = QString::fromStdString(input.File("scan.nrrd"));
  const QString second = QString::fromStdString(input.File("second scan.nrrd"));
  const QString broken = QString::fromStdString(input.File("broken.nrrd"));
  vexa::IOUtil::Save(vexa::test::MakePointAbsorber(64, 512, 9.6, 8.0), first.toStdString());
  vexa::IOUtil::Save(vexa::test::MakePointAbsorber(64, 512, 5.0, 6.0), second.toStdString());
  std::ofstream(broken.toStdString()) << "not an image at all\n";

  b.form->SaveBeamforming->setChecked(true);
  b.form->SaveCropping->setChecked(true);
  b.form->CutoffAbove->setValue(16);
  b.form->BPhigh->setValue(0);
  b.form->BPlow->setValue(3);          // below the 4.9 MHz Nyquist frequency of 40 mm in 256 rows
  b.form->IsBFImage->setChecked(true); // after beamforming y is depth

  vexa::test::DialogDriver dialogs;
  dialogs.AnswerFileDialog(QStringList{first, broken, second});
  dialogs.AnswerFileDialog(QString::fromStdString(output.Path().string()));
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  QTest::mouseClick(b.form->BatchProcessing, Qt::LeftButton);

  const QString out = QString::fromStdString(output.Path().string());
  EXPECT_EQ(QStringList({"scan beamformed.nrrd", "scan bmode.nrrd", "scan cropped.nrrd", "second scan beamformed.nrrd",
                         "second scan bmode.nrrd", "second scan cropped.nrrd"}),
            b.Outputs(out));
  const QStringList boxes = b.BoxTexts(dialogs);
  ASSERT_EQ(1, boxes.size()) << boxes.join("\n").toStdString();
  EXPECT_TRUE(boxes[0].startsWith("Processing " + broken + " failed")) << boxes[0].toStdString();
  EXPECT_EQ(0, dialogs.PendingAnswers());

  // each step worked on the one before: beamformed 64 x 256, cropped 16 rows, B-mode of that
  const auto beamformed = vexa::IOUtil::LoadImage((out + "/scan beamformed.nrrd").toStdString());
  const auto cropped = vexa::IOUtil::LoadImage((out + "/scan cropped.nrrd").toStdString());
  const auto bmode = vexa::IOUtil::LoadImage((out + "/scan bmode.nrrd").toStdString());
  EXPECT_EQ(64u, beamformed->GetDimension(0));
  EXPECT_EQ(256u, beamformed->GetDimension(1));
  EXPECT_EQ(240u, cropped->GetDimension(1));
  EXPECT_EQ(240u, bmode->GetDimension(1));
  EXPECT_TRUE(b.form->BatchProcessing->isEnabled());
  EXPECT_FALSE(b.view->HasRunningWork());
  EXPECT_EQ(0u, b.host.m_Storage->GetNumberOfNodes()); // the batch makes no nodes
}

// The bandpass limits of the batch: true cut-offs checked against the
// Nyquist frequency of the rows, each problem in a box of its own.
TEST(PAImageProcessingBatch, BandpassCutOffsAreCheckedAgainstTheNyquistFrequency)
{
  BatchView b;
  vexa::test::TemporaryFolder folder;
  // raw data of 0.025 us samples: 20 MHz Nyquist
  const QString file = QString::fromStdString(folder.File("raw.nrrd"));
  vexa::IOUtil::Save(vexa::test::MakePointAbsorber(32, 256, 4.8, 3.0), file.toStdString());
  b.form->StepBeamforming->setChecked(false);
  b.form->StepCropping->setChecked(false);
  b.form->StepBMode->setChecked(false);
  b.form->SaveBandpass->setChecked(true);
  b.view->UpdateSaveBoxes();

  struct Case
  {
    double high, low;
    QStringList messages;
  };
  const Case cases[] = {
    {1, 8, {}},
    {1, 25, {"LowPass too high, disabled it."}},
    {22, 8, {"HighPass too high, disabled it."}},
    {9, 8, {"HighPass higher than LowPass, disabled both."}},
  };
  for (const Case &c : cases)
  {
    b.form->BPhigh->setMaximum(100);
    b.form->BPlow->setMaximum(100);
    b.form->BPhigh->setValue(c.high);
    b.form->BPlow->setValue(c.low);
    vexa::test::DialogDriver dialogs;
    dialogs.AnswerFileDialog(file);
    dialogs.AnswerFileDialog(QString::fromStdString(folder.Path().string()));
    for (int i = 0; i < c.messages.size(); ++i)
      dialogs.AnswerMessageBox(QMessageBox::Ok);
    b.view->BatchProcessing();
    EXPECT_EQ(c.messages, b.BoxTexts(dialogs)) << c.high << " " << c.low;
    EXPECT_TRUE(QFile::exists(QString::fromStdString(folder.File("raw bandpassed.nrrd"))));
  }
}

// What the batch refuses: no files, no folder, a result over one of its inputs.
TEST(PAImageProcessingBatch, RefusesWhatWouldLoseData)
{
  BatchView b;
  vexa::test::TemporaryFolder folder;
  const QString dir = QString::fromStdString(folder.Path().string());
  const QString input = QString::fromStdString(folder.File("a.nrrd"));
  const QString target = QString::fromStdString(folder.File("a bmode.nrrd"));
  vexa::IOUtil::Save(vexa::test::MakeRamp(32, 64, 1, 0.3, 0.025), input.toStdString());
  vexa::IOUtil::Save(vexa::test::MakeRamp(32, 64, 1, 0.3, 0.025), target.toStdString());
  const QByteArray before = [&] {
    QFile f(target);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
  }();
  b.form->StepBeamforming->setChecked(false);
  b.form->StepBandpass->setChecked(false);

  {
    // cancelled file dialog: the folder is still asked for, nothing happens
    vexa::test::DialogDriver dialogs;
    dialogs.CancelFileDialog();
    dialogs.AnswerFileDialog(dir);
    b.view->BatchProcessing();
    EXPECT_EQ(2u, dialogs.ShownDialogs().size());
    EXPECT_TRUE(b.form->BatchProcessing->isEnabled());
  }
  {
    // no folder: refused (results would go to the file system's root)
    vexa::test::DialogDriver dialogs;
    dialogs.AnswerFileDialog(input);
    dialogs.CancelFileDialog();
    dialogs.AnswerMessageBox(QMessageBox::Ok);
    b.view->BatchProcessing();
    ASSERT_EQ(1, b.BoxTexts(dialogs).size());
    EXPECT_EQ("No folder to save the results to was chosen: nothing is processed.", b.BoxTexts(dialogs)[0]);
  }
  {
    // "a bmode.nrrd" is an input too: its result is not written over it
    vexa::test::DialogDriver dialogs;
    dialogs.AnswerFileDialog(QStringList{input, target});
    dialogs.AnswerFileDialog(dir);
    dialogs.AnswerMessageBox(QMessageBox::Ok);
    b.view->BatchProcessing();
    ASSERT_EQ(1, b.BoxTexts(dialogs).size());
    EXPECT_EQ(target + " is an input of this batch: the result is not saved over it.", b.BoxTexts(dialogs)[0]);
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(before, f.readAll());
    EXPECT_TRUE(QFile::exists(QString::fromStdString(folder.File("a bmode bmode.nrrd"))));
    EXPECT_TRUE(b.form->BatchProcessing->isEnabled());
  }
}
