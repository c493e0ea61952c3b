// The processing view on Qt's offscreen platform: its form, how the selected
// image drives it, the settings it builds, and each Apply button run on real
// images through the real filter service.

#include "PAImageProcessing.h"
#include "PAImageProcessingTestSupport.h"

#include <vexaRawPhotoacousticSample.h>

#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaTestChildProcess.h>
#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace
{
  const auto Application = &vexa::test::QtApplication::WithGuiThreadCallback;
  using vexa::test::ApplicationFirst;

  /** A view built on a widget, lent a stand-in workbench whose selection the test sets. */
  struct ViewUnderTest
  {
    ViewUnderTest()
    {
      Application();
      view = std::make_unique<PAImageProcessing>();
      view->SetViewHost(&host);
      view->CreatePartControl(&parent);
      form = view->GetControls();
    }
    ~ViewUnderTest()
    {
      view.reset(); // waits for its workers
      vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(10));
    }

    void Select(const QList<vexa::DataNode::Pointer> &nodes)
    {
      host.m_Selection = nodes;
      view->NotifyNodeSelectionChanged(nullptr, nodes);
    }
    vexa::DataNode::Pointer SelectImage(vexa::Image *image, const char *name = "raw")
    {
      vexa::DataNode::Pointer node = vexa::test::MakeNode(image, name);
      host.m_Storage->AddNode(node);
      Select({node});
      return node;
    }
    /** Clicks the button and waits until the run has ended (a node added or the controls unlocked). */
    vexa::DataNode::Pointer Apply(QAbstractButton *button)
    {
      const std::size_t before = host.m_Storage->GetNumberOfNodes();
      QTest::mouseClick(button, Qt::LeftButton);
      EXPECT_TRUE(vexa::test::QtApplication::ProcessEventsUntil(
        [&] { return !view->HasRunningWork() && form->BatchProcessing->isEnabled(); }, std::chrono::seconds(60)));
      vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(5));
      const auto all = host.m_Storage->GetAll();
      return all.size() > before ? all.back() : nullptr;
    }

    ApplicationFirst application; // before any widget
    vexa::test::TestViewHost host;
    QWidget parent;
    std::unique_ptr<PAImageProcessing> view;
    Ui::PAImageProcessingControls *form = nullptr;
  };

  QList<QAbstractButton *> ApplyButtons(Ui::PAImageProcessingControls *form)
  {
    return {form->buttonApplyBModeFilter, form->buttonApplyCropFilter, form->buttonApplyBandpass,
            form->buttonApplyBeamforming};
  }
}

TEST(PAImageProcessing, StartsWithTheFormAndTheStatesThatOverrideIt)
{
  ViewUnderTest t;
  auto *f = t.form;
  EXPECT_EQ("QvexaTemplate", t.parent.windowTitle());
  EXPECT_EQ("Apply Crop Filer", f->buttonApplyCropFilter->text());
  EXPECT_EQ("Start Batch Processing", f->BatchProcessing->text());
  EXPECT_EQ(QStringList({"DAS", "DMAS", "sDMAS"}),
            QStringList({f->BFAlgorithm->itemText(0), f->BFAlgorithm->itemText(1), f->BFAlgorithm->itemText(2)}));
  EXPECT_EQ("Von Hann", f->Apodization->currentText());
  EXPECT_EQ("Envelope Detection", f->BModeMethod->currentText());
  // overridden at start: no resampling, hidden progress, GPU B-mode box hidden
  EXPECT_FALSE(f->DoResampling->isChecked());
  EXPECT_FALSE(f->ResamplingValue->isEnabled());
  EXPECT_EQ(0.0, t.view->GetDepthSpacing());
  EXPECT_TRUE(f->progressBar->isHidden());
  EXPECT_TRUE(f->ProgressInfo->isHidden());
  EXPECT_TRUE(f->UseGPUBmode->isHidden());
  EXPECT_FALSE(f->ScanDepth->isEnabled());
  EXPECT_FALSE(f->SignalDelay->isEnabled());
  EXPECT_FALSE(f->boundLow->isEnabled());
  EXPECT_EQ("Image spacing of y-Axis must be in us, x-Axis in mm.", f->UseImageSpacing->toolTip());
  for (QCheckBox *save : {f->SaveBeamforming, f->SaveCropping, f->SaveBandpass, f->SaveBMode})
    EXPECT_TRUE(save->isEnabled());
  EXPECT_TRUE(f->SaveBMode->isChecked());
  EXPECT_FALSE(f->SaveBeamforming->isChecked());
  // Apply buttons and warnings keep the form's state until the first selection
  for (QAbstractButton *button : ApplyButtons(f))
    EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(f->labelWarning4->isHidden());
  // the workers' signals carry these
  EXPECT_NE(0, QMetaType::type("vexa::Image::Pointer"));
  EXPECT_NE(0, QMetaType::type("std::string"));
}

TEST(PAImageProcessing, TheFirstImageNodeOfTheSelectionDrivesTheControls)
{
  ViewUnderTest t;
  auto *f = t.form;
  vexa::DataNode::Pointer empty = vexa::test::MakeNode(nullptr, "empty");
  // an image that holds no pixels yet (a device's output before its first frame)
  vexa::DataNode::Pointer blank = vexa::test::MakeNode(vexa::Image::New(), "no frame yet");
  vexa::Image::Pointer image = vexa::test::MakeRamp(96, 400, 3, 0.25, 0.02);
  vexa::DataNode::Pointer node = vexa::test::MakeNode(image, "ramp");

  struct Case
  {
    const char *what;
    QList<vexa::DataNode::Pointer> selection;
    bool enabled;
  };
  for (const Case &c : {Case{"nothing", {}, false}, Case{"no image", {empty}, false}, Case{"no pixels", {blank}, false},
                        Case{"image after a non-image", {empty, node}, true}, Case{"null first", {nullptr, node}, true},
                        Case{"image after one without pixels", {blank, node}, true}})
  {
    t.Select(c.selection);
    for (QAbstractButton *button : ApplyButtons(f))
      EXPECT_EQ(c.enabled, button->isEnabled()) << c.what;
    for (QLabel *warning : {f->labelWarning, f->labelWarning2, f->labelWarning3, f->labelWarning4})
      EXPECT_EQ(c.enabled, warning->isHidden()) << c.what;
  }

  // dims and spacing: elements and pitch from x, slice bounds from z, the
  // Nyquist frequency of 0.02 us samples (25 MHz)
  EXPECT_EQ(96, f->ElementCount->value());
  EXPECT_DOUBLE_EQ(0.25, f->Pitch->value());
  EXPECT_EQ(2, f->boundLow->maximum());
  EXPECT_EQ(2, f->boundHigh->maximum());
  EXPECT_NEAR(25.0, f->BPhigh->maximum(), 1e-3);
  EXPECT_NEAR(25.0, f->BPlow->maximum(), 1e-3);
  EXPECT_TRUE(f->BPlow->toolTip().endsWith("MHz is the maximal allowed frequency for the selected image."))
    << f->BPlow->toolTip().toStdString();

  // without image spacing the time step follows scan depth, speed of sound and rows:
  // 2 * 30 mm / 1500 m/s / 400 = 0.1 us -> 5 MHz
  QTest::mouseClick(f->UseImageSpacing, Qt::LeftButton);
  EXPECT_TRUE(f->ScanDepth->isEnabled());
  f->ScanDepth->setValue(30);
  f->SpeedOfSound->setValue(1500);
  EXPECT_EQ(1500, f->BPSpeedOfSound->value()); // mirrored
  EXPECT_NEAR(5.0, f->BPhigh->maximum(), 1e-3);
  f->BPSpeedOfSound->setValue(1200);
  EXPECT_EQ(1200, f->SpeedOfSound->value());
  EXPECT_NEAR(4.0, f->BPhigh->maximum(), 1e-3);

  // spatial input: y spacing in mm -> 0.5 / (0.02 / 1000 / 1200) = 30 MHz
  QTest::mouseClick(f->IsBFImage, Qt::LeftButton);
  EXPECT_NEAR(30.0, f->BPhigh->maximum(), 1e-3);

  // a scan depth of 0 gives no time step: the limits stay
  f->ScanDepth->setValue(0);
  QTest::mouseClick(f->IsBFImage, Qt::LeftButton);
  EXPECT_NEAR(30.0, f->BPhigh->maximum(), 1e-3);

  // a single slice: both bounds at most 0
  t.Select({vexa::test::MakeNode(vexa::test::MakeRamp(64, 64, 1, 0.3, 0.025), "flat")});
  EXPECT_EQ(0, f->boundHigh->maximum());
}

TEST(PAImageProcessing, SmallSlotsKeepTheControlsConsistent)
{
  ViewUnderTest t;
  auto *f = t.form;
  QTest::mouseClick(f->Partial, Qt::LeftButton);
  EXPECT_TRUE(f->boundLow->isEnabled());
  f->boundHigh->setValue(5);
  f->boundLow->setValue(8);
  EXPECT_EQ(8, f->boundHigh->value());
  f->boundHigh->setValue(3);
  EXPECT_EQ(3, f->boundLow->value());

  QTest::mouseClick(f->DoResampling, Qt::LeftButton);
  EXPECT_TRUE(f->ResamplingValue->isEnabled());
  EXPECT_FLOAT_EQ(0.15f, static_cast<float>(t.view->GetDepthSpacing()));
  f->ResamplingValue->setValue(0.3);
  EXPECT_FLOAT_EQ(0.3f, static_cast<float>(t.view->GetDepthSpacing()));
  QTest::mouseClick(f->DoResampling, Qt::LeftButton);
  EXPECT_EQ(0.0, t.view->GetDepthSpacing());

  QTest::mouseClick(f->Logfilter, Qt::LeftButton);
  EXPECT_TRUE(t.view->GetLogCompression());
  QTest::mouseClick(f->UseSignalDelay, Qt::LeftButton);
  EXPECT_TRUE(f->SignalDelay->isEnabled());
  QTest::mouseClick(f->StepCropping, Qt::LeftButton);
  EXPECT_FALSE(f->SaveCropping->isEnabled());

  // locking disables everything but the spatial-input box; unlocking follows the check boxes
  t.view->LockControls();
  for (QWidget *w : std::initializer_list<QWidget *>{f->BatchProcessing, f->SaveBMode, f->BPlow, f->Lines,
                                                     f->buttonApplyBeamforming, f->SignalDelay, f->ScanDepth})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(f->IsBFImage->isEnabled());
  t.view->UnlockControls();
  EXPECT_TRUE(f->BatchProcessing->isEnabled());
  EXPECT_FALSE(f->SaveCropping->isEnabled());
  EXPECT_FALSE(f->ResamplingValue->isEnabled());
  EXPECT_FALSE(f->ScanDepth->isEnabled());
  EXPECT_TRUE(f->SignalDelay->isEnabled());
}

TEST(PAImageProcessing, BeamformingSettingsComeFromTheComboTexts)
{
  ViewUnderTest t;
  auto *f = t.form;
  vexa::Image::Pointer image = vexa::test::MakeRamp(128, 512, 1, 0.3, 0.025);
  f->Angle->setValue(30);
  f->Lines->setValue(192);
  f->Samples->setValue(1024);
  f->ReconstructionDepth->setValue(35);
  f->Pitch->setValue(0.25);

  using S = vexa::BeamformingSettings;
  struct Case
  {
    const char *algorithm, *type, *apodization;
    S::BeamformingAlgorithm expectedAlgorithm;
    bool photoacoustic;
    S::Apodization expectedApodization;
  };
  const Case cases[] = {
    {"DAS", "PA Image", "Von Hann", S::DAS, true, S::Hann},
    {"DMAS", "US Image", "Hamming", S::DMAS, false, S::Hamm},
    {"sDMAS", "PA Image", "Box", S::sDMAS, true, S::Box},
    {"das", "us image", "Tukey", S::DAS, true, S::Box}, // texts outside the lists
  };
  for (const Case &c : cases)
  {
    for (QComboBox *box : {f->BFAlgorithm, f->ImageType, f->Apodization})
      box->setEditable(true);
    f->BFAlgorithm->setEditText(c.algorithm);
    f->ImageType->setEditText(c.type);
    f->Apodization->setEditText(c.apodization);
    const auto s = t.view->CreateBeamformingSettings(image);
    EXPECT_EQ(c.expectedAlgorithm, s->GetAlgorithm()) << c.algorithm;
    EXPECT_EQ(c.photoacoustic, s->GetIsPhotoacousticImage()) << c.type;
    EXPECT_EQ(c.expectedApodization, s->GetApod()) << c.apodization;
    EXPECT_FLOAT_EQ(0.25f / 1000, s->GetPitchInMeters());
    EXPECT_FLOAT_EQ(1540.f, s->GetSpeedOfSound());
    EXPECT_FLOAT_EQ(0.025f / 1e6f, s->GetTimeSpacing());
    EXPECT_FLOAT_EQ(30.f, s->GetAngle());
    EXPECT_EQ(1024u, s->GetSamplesPerLine());
    EXPECT_EQ(192u, s->GetReconstructionLines());
    EXPECT_EQ(192u, s->GetApodizationArraySize());
    EXPECT_FLOAT_EQ(0.035f, s->GetReconstructionDepth());
    EXPECT_EQ(512u, s->GetInputDim()[1]);
    EXPECT_EQ(16u, s->GetGPUBatchSize());
    EXPECT_EQ(S::Spherical, s->GetDelayCalculationMethod());
  }
}

// Each Apply button on the raw sample the build makes: a new node named
// after the source, the service's geometry, an automatic level window, the
// controls unlocked again.
TEST(PAImageProcessing, EachApplyAddsANamedResultAndUnlocks)
{
  ViewUnderTest t;
  auto *f = t.form;
  vexa::Image::Pointer raw = vexa::RawPhotoacousticSample::Make();
  const vexa::DataNode::Pointer source = t.SelectImage(raw, "sample");
  f->Samples->setValue(512);
  f->Lines->setValue(128);
  f->CutoffAbove->setValue(10);
  f->CutoffBelow->setValue(20);
  f->BPhigh->setValue(1);
  f->BPlow->setValue(8);

  struct Case
  {
    QAbstractButton *button;
    const char *name;
    unsigned int nx, ny;
  };
  const Case cases[] = {
    {f->buttonApplyBeamforming, "sample_bf", 128, 512},
    {f->buttonApplyBModeFilter, "sample_bmode", 128, 1024},
    {f->buttonApplyCropFilter, "sample_cropped", 128, 1024 - 30},
    {f->buttonApplyBandpass, "sample_bandpassed", 128, 1024},
  };
  for (const Case &c : cases)
  {
    t.Select({source});
    const vexa::DataNode::Pointer result = t.Apply(c.button);
    ASSERT_TRUE(result) << c.name;
    EXPECT_EQ(c.name, result->GetName());
    auto *image = dynamic_cast<vexa::Image *>(result->GetData().GetPointer());
    ASSERT_TRUE(image);
    EXPECT_EQ(c.nx, image->GetDimension(0)) << c.name;
    EXPECT_EQ(c.ny, image->GetDimension(1)) << c.name;
    vexa::LevelWindow levelWindow;
    ASSERT_TRUE(result->GetLevelWindow(levelWindow));
    vexa::LevelWindow expected;
    expected.SetAuto(image, true, true, 0);
    EXPECT_EQ(expected, levelWindow) << c.name;
    EXPECT_TRUE(c.button->isEnabled());
    EXPECT_TRUE(f->progressBar->isHidden());
    EXPECT_FALSE(t.view->HasRunningWork());
  }
  // the source was never touched
  EXPECT_EQ(1024u, raw->GetDimension(1));

  // a node without name: one space and the suffix
  t.SelectImage(raw, nullptr);
  const vexa::DataNode::Pointer unnamed = t.Apply(f->buttonApplyCropFilter);
  ASSERT_TRUE(unnamed);
  EXPECT_EQ(" _cropped", unnamed->GetName());
}

TEST(PAImageProcessing, CropsRowsAndTheSelectedSlices)
{
  ViewUnderTest t;
  auto *f = t.form;
  t.SelectImage(vexa::test::MakeRamp(40, 100, 6, 0.3, 0.025), "stack");
  f->CutoffAbove->setValue(5);
  f->CutoffBelow->setValue(7);
  struct Case
  {
    bool partial;
    int low, high;
    unsigned int slices;
  };
  for (const Case &c : {Case{false, 2, 3, 6}, Case{true, 2, 3, 2}, Case{true, 0, 5, 6}, Case{true, 4, 4, 1}})
  {
    f->Partial->setChecked(c.partial);
    t.view->SliceBoundsEnabled();
    f->boundLow->setValue(0);
    f->boundHigh->setValue(c.high);
    f->boundLow->setValue(c.low);
    const vexa::DataNode::Pointer result = t.Apply(f->buttonApplyCropFilter);
    ASSERT_TRUE(result);
    auto *image = dynamic_cast<vexa::Image *>(result->GetData().GetPointer());
    EXPECT_EQ(40u, image->GetDimension(0));
    EXPECT_EQ(88u, image->GetDimension(1));
    EXPECT_EQ(c.slices, image->GetDimension(2)) << c.partial << " " << c.low << "-" << c.high;
  }
}

// The hardware delay is cut from the top before beamforming: the absorber
// comes out shallower by delay x speed of sound.
TEST(PAImageProcessing, TheHardwareDelayMovesTheAbsorberUp)
{
  ViewUnderTest t;
  auto *f = t.form;
  t.SelectImage(vexa::test::MakePointAbsorber(128, 1024, 19.2, 20.0), "point");
  f->Samples->setValue(1024);
  f->Lines->setValue(128);
  f->ReconstructionDepth->setValue(40);
  const double mmPerRow = 40.0 / 1024;

  const vexa::DataNode::Pointer plain = t.Apply(f->buttonApplyBeamforming);
  ASSERT_TRUE(plain);
  const auto plainPeak = vexa::test::PeakOf(dynamic_cast<vexa::Image *>(plain->GetData().GetPointer()));
  EXPECT_NEAR(20.0, plainPeak.first * mmPerRow, 0.5);
  EXPECT_NEAR(64, plainPeak.second, 2);

  QTest::mouseClick(f->UseSignalDelay, Qt::LeftButton);
  f->SignalDelay->setValue(2.0); // 80 samples, 3.08 mm
  const vexa::DataNode::Pointer delayed = t.Apply(f->buttonApplyBeamforming);
  ASSERT_TRUE(delayed);
  const auto delayedPeak = vexa::test::PeakOf(dynamic_cast<vexa::Image *>(delayed->GetData().GetPointer()));
  EXPECT_NEAR(20.0 - 3.08, delayedPeak.first * mmPerRow, 0.5);
  EXPECT_NEAR(64, delayedPeak.second, 2);

  // no delay when the box is unchecked, whatever the value says
  QTest::mouseClick(f->UseSignalDelay, Qt::LeftButton);
  const vexa::DataNode::Pointer again = t.Apply(f->buttonApplyBeamforming);
  EXPECT_EQ(plainPeak, vexa::test::PeakOf(dynamic_cast<vexa::Image *>(again->GetData().GetPointer())));
}

// A worker's failure (here a crop that leaves no rows) becomes a message box;
// the process goes on and the controls are unlocked.
TEST(PAImageProcessing, AFailingWorkerReportsAndUnlocks)
{
  ViewUnderTest t;
  auto *f = t.form;
  vexa::Image::Pointer small = vexa::test::MakeRamp(40, 100, 1, 0.3, 0.025);
  t.SelectImage(small, "small");
  f->CutoffAbove->setValue(60);
  f->CutoffBelow->setValue(60);
  // the user reads what the service says is wrong, without the source position the log gets
  std::string description;
  try
  {
    vexa::PhotoacousticFilterService::New()->ApplyCropping(small, 60, 60, 0, 0, 0, 0);
  }
  catch (const vexa::Exception &e)
  {
    description = e.GetDescription();
  }
  ASSERT_FALSE(description.empty());
  vexa::test::DialogDriver dialogs;
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  EXPECT_FALSE(t.Apply(f->buttonApplyCropFilter));
  ASSERT_EQ(1u, dialogs.ShownDialogs().size());
  EXPECT_EQ(QString::fromStdString("Cropping failed: " + description), dialogs.ShownDialogs()[0].text);
  EXPECT_EQ(QMessageBox::NoIcon, dialogs.ShownDialogs()[0].icon);
  EXPECT_TRUE(f->buttonApplyCropFilter->isEnabled());
  EXPECT_FALSE(t.view->HasRunningWork());

  // and the next run works
  f->CutoffAbove->setValue(10);
  f->CutoffBelow->setValue(10);
  EXPECT_TRUE(t.Apply(f->buttonApplyCropFilter));
}

TEST(PAImageProcessing, StartSlotsWithoutAnImageAsk)
{
  ViewUnderTest t;
  vexa::test::DialogDriver dialogs;
  t.view->StartCropThread(); // empty selection: nothing at all
  t.Select({vexa::test::MakeNode(nullptr, "empty")});
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  t.view->StartBandpassThread();
  // an image without pixels is no image to process either
  t.Select({vexa::test::MakeNode(vexa::Image::New(), "no frame yet")});
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  t.view->StartBeamformingThread();
  ASSERT_EQ(2u, dialogs.ShownDialogs().size());
  for (const auto &shown : dialogs.ShownDialogs())
  {
    EXPECT_EQ("Template", shown.title);
    EXPECT_EQ(QMessageBox::Information, shown.icon);
  }
  EXPECT_EQ("Please load and select an image before applying a bandpass filter.", dialogs.ShownDialogs()[0].text);
  EXPECT_EQ("Please load and select an image before starting image processing.", dialogs.ShownDialogs()[1].text);
  EXPECT_FALSE(t.view->HasRunningWork());
  EXPECT_TRUE(t.form->BatchProcessing->isEnabled());
}

// One run at a time: while beamforming runs, neither a click, a direct call
// nor a new selection starts a second one.
TEST(PAImageProcessing, ASecondApplyIsRefusedWhileOneRuns)
{
  ViewUnderTest t;
  auto *f = t.form;
  const vexa::DataNode::Pointer node = t.SelectImage(vexa::RawPhotoacousticSample::Make(), "sample");
  f->Samples->setValue(2048);
  f->Lines->setValue(256);
  QTest::mouseClick(f->buttonApplyBeamforming, Qt::LeftButton);
  ASSERT_TRUE(t.view->HasRunningWork());
  EXPECT_FALSE(f->buttonApplyBModeFilter->isEnabled());
  t.Select({node}); // the selection hook respects the run
  EXPECT_FALSE(f->buttonApplyBModeFilter->isEnabled());
  EXPECT_FALSE(f->buttonApplyBeamforming->isEnabled());
  t.view->StartBmodeThread();
  t.view->StartBeamformingThread();
  QSignalSpy progress(f->progressBar, &QProgressBar::valueChanged);
  ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] { return f->BatchProcessing->isEnabled(); },
                                                            std::chrono::seconds(60)));
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));
  ASSERT_EQ(2u, t.host.m_Storage->GetNumberOfNodes());
  EXPECT_EQ("sample_bf", t.host.m_Storage->GetAll().back()->GetName());
  EXPECT_GT(progress.count(), 0);

  // a selection without an image made during a run leaves the buttons off after it
  f->Samples->setValue(512);
  f->Lines->setValue(128);
  QTest::mouseClick(f->buttonApplyBeamforming, Qt::LeftButton);
  t.Select({vexa::test::MakeNode(nullptr, "empty")});
  ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] { return f->BatchProcessing->isEnabled(); },
                                                            std::chrono::seconds(60)));
  EXPECT_FALSE(f->buttonApplyBeamforming->isEnabled());
  EXPECT_FALSE(f->labelWarning4->isHidden());
}

// Destroying the view while its worker runs waits for the worker: nothing of
// the view is touched afterwards and the process goes on.
TEST(PAImageProcessing, DestroyingTheViewWaitsForItsWorker)
{
  auto t = std::make_unique<ViewUnderTest>();
  t->SelectImage(vexa::RawPhotoacousticSample::Make(), "sample");
  QTest::mouseClick(t->form->buttonApplyBeamforming, Qt::LeftButton);
  ASSERT_TRUE(t->view->HasRunningWork());
  t->view.reset();
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
  EXPECT_EQ(1u, t->host.m_Storage->GetNumberOfNodes());
  t.reset();
}

// B-mode: the method by its text (the list order is not the service's
// numbering), then resampling to the depth spacing when it is asked for,
// keeping the x spacing.
TEST(PAImageProcessing, BModeFollowsTheMethodTextAndTheResampling)
{
  ViewUnderTest t;
  auto *f = t.form;
  // one line with a single negative spike: the absolute value keeps it
  // sharp, the envelope spreads it over its neighbours
  vexa::Image::Pointer image = vexa::test::MakeRamp(4, 200, 1, 0.3, 0.05);
  {
    vexa::ImageWriteAccessor access(image);
    auto *v = static_cast<float *>(access.GetData());
    std::fill(v, v + 4 * 200, 0.0f);
    for (int x = 0; x < 4; ++x)
      v[100 * 4 + x] = -2.0f;
  }
  t.SelectImage(image, "line");
  struct Case
  {
    const char *method;
    bool resample;
    unsigned int rows;
    bool sharp;
  };
  for (const Case &c : {Case{"Absolute Filter", false, 200, true}, Case{"Envelope Detection", false, 200, false},
                        Case{"Absolute Filter", true, 100, true}})
  {
    f->BModeMethod->setCurrentText(c.method);
    f->DoResampling->setChecked(c.resample);
    f->ResamplingValue->setValue(0.1);
    t.view->UseResampling();
    const vexa::DataNode::Pointer result = t.Apply(f->buttonApplyBModeFilter);
    ASSERT_TRUE(result) << c.method;
    auto *bmode = dynamic_cast<vexa::Image *>(result->GetData().GetPointer());
    EXPECT_EQ(c.rows, bmode->GetDimension(1)) << c.method << c.resample;
    EXPECT_DOUBLE_EQ(0.3, bmode->GetGeometry()->GetSpacing()[0]);
    vexa::ImageReadAccessor access(bmode);
    const auto *v = static_cast<const float *>(access.GetData());
    const unsigned int peak = c.rows / 2;
    EXPECT_NEAR(2.0f, v[peak * 4], 0.2f) << c.method;
    EXPECT_EQ(c.sharp, v[(peak + 1) * 4] < 0.01f) << c.method << " " << v[(peak + 1) * 4];
  }
}

// The bandpass gets the cut-offs in Hz as they are set and each Tukey alpha
// on the edge the service gives it: the view's result equals the service's
// with those arguments, and differs from the one with the alphas swapped.
TEST(PAImageProcessing, BandpassPassesTrueCutOffsAndEachAlphaOnItsEdge)
{
  ViewUnderTest t;
  auto *f = t.form;
  vexa::Image::Pointer raw = vexa::RawPhotoacousticSample::Make();
  t.SelectImage(raw, "sample");
  f->BPhigh->setValue(2);
  f->BPlow->setValue(9);
  f->BPFalloffHigh->setValue(0.2);
  f->BPFalloffLow->setValue(0.9);
  const vexa::DataNode::Pointer result = t.Apply(f->buttonApplyBandpass);
  ASSERT_TRUE(result);

  auto service = vexa::PhotoacousticFilterService::New();
  const float dt = 0.025e-6f;
  const auto expected = service->ApplyBandpassFilter(raw, 2e6f, 9e6f, 0.9f, 0.2f, dt, 1540.f, false);
  const auto swapped = service->ApplyBandpassFilter(raw, 2e6f, 9e6f, 0.2f, 0.9f, dt, 1540.f, false);
  auto pixels = [](const vexa::Image *image) {
    vexa::ImageReadAccessor access(image);
    const auto *v = static_cast<const float *>(access.GetData());
    return std::vector<float>(v, v + image->GetDimension(0) * image->GetDimension(1));
  };
  const auto got = pixels(dynamic_cast<vexa::Image *>(result->GetData().GetPointer()));
  EXPECT_EQ(pixels(expected), got);
  EXPECT_NE(pixels(swapped), got);
}

// Each step exists once: a batch of one step saves the very image that the
// step's Apply button adds as a node, pixel for pixel, with the same sizes
// and spacing.
TEST(PAImageProcessing, TheBatchAndTheApplyButtonsRunTheSameSteps)
{
  ViewUnderTest t;
  auto *f = t.form;
  vexa::test::TemporaryFolder folder;
  const QString input = QString::fromStdString(folder.File("raw.nrrd"));
  vexa::IOUtil::Save(vexa::test::MakePointAbsorber(64, 512, 9.6, 8.0, 2), input.toStdString());
  // the node holds what the batch reads
  t.SelectImage(vexa::IOUtil::LoadImage(input.toStdString()), "raw");
  f->Samples->setValue(256);
  f->Lines->setValue(64);
  f->CutoffAbove->setValue(16);
  f->CutoffBelow->setValue(8);
  f->BPhigh->setValue(1);
  f->BPlow->setValue(8); // below the 20 MHz Nyquist frequency of 0.025 us samples: no box
  f->BPFalloffHigh->setValue(0.2);
  f->BPFalloffLow->setValue(0.9);
  f->BModeMethod->setCurrentText("Absolute Filter");
  f->DoResampling->setChecked(true);
  f->ResamplingValue->setValue(0.05);
  t.view->UseResampling();

  struct Case
  {
    QCheckBox *step, *save;
    QAbstractButton *apply;
    const char *suffix;
  };
  const Case cases[] = {
    {f->StepBeamforming, f->SaveBeamforming, f->buttonApplyBeamforming, " beamformed"},
    {f->StepCropping, f->SaveCropping, f->buttonApplyCropFilter, " cropped"},
    {f->StepBandpass, f->SaveBandpass, f->buttonApplyBandpass, " bandpassed"},
    {f->StepBMode, f->SaveBMode, f->buttonApplyBModeFilter, " bmode"},
  };
  auto pixels = [](const vexa::Image *image) {
    vexa::ImageReadAccessor access(image);
    const auto *v = static_cast<const float *>(access.GetData());
    return std::vector<float>(v, v + image->GetDimension(0) * image->GetDimension(1) * image->GetDimension(2));
  };
  for (const Case &c : cases)
  {
    for (const Case &other : cases)
    {
      other.step->setChecked(&other == &c);
      other.save->setChecked(&other == &c);
    }
    t.view->UpdateSaveBoxes();
    vexa::test::DialogDriver dialogs;
    dialogs.AnswerFileDialog(input);
    dialogs.AnswerFileDialog(QString::fromStdString(folder.Path().string()));
    t.view->BatchProcessing();
    EXPECT_TRUE(dialogs.ShownDialogs().size() == 2 && dialogs.PendingAnswers() == 0) << c.suffix;
    const vexa::Image::Pointer saved = vexa::IOUtil::LoadImage(folder.File(std::string("raw") + c.suffix + ".nrrd"));

    const vexa::DataNode::Pointer node = t.Apply(c.apply);
    ASSERT_TRUE(node) << c.suffix;
    const auto *applied = dynamic_cast<vexa::Image *>(node->GetData().GetPointer());
    ASSERT_TRUE(applied);
    for (int axis = 0; axis < 3; ++axis)
    {
      EXPECT_EQ(applied->GetDimension(axis), saved->GetDimension(axis)) << c.suffix << " axis " << axis;
      EXPECT_DOUBLE_EQ(applied->GetGeometry()->GetSpacing()[axis], saved->GetGeometry()->GetSpacing()[axis])
        << c.suffix << " axis " << axis;
    }
    EXPECT_EQ(pixels(applied), pixels(saved)) << c.suffix;
  }
}

// A user who beamforms a file with Kestrol and one who does it in the view
// with Kestrol's settings (Box window over the array, one line per element,
// one row per sample, 40 mm deep) and then B-mode filters it by envelope gets
// the same pixels: both go through the one filter service.
TEST(PAImageProcessing, BeamformingThenBModeGivesKestrolsPixels)
{
  vexa::test::TemporaryFolder folder;
  const std::string raw = folder.File("raw.nrrd");
  vexa::IOUtil::Save(vexa::RawPhotoacousticSample::Make(), raw);
  for (const char *algorithm : {"DAS", "DMAS", "sDMAS"})
  {
    SCOPED_TRACE(algorithm);
    const std::string out = folder.File(std::string(algorithm) + ".nrrd");
    ASSERT_TRUE(vexa::test::RanToSuccess(
      vexa::test::RunProgram(VEXA_KESTROL_EXECUTABLE, {"-i", raw, "-o", out, "-alg", algorithm, "-sos", "1540"})));
    const vexa::Image::Pointer kestrol = vexa::IOUtil::LoadImage(out);

    ViewUnderTest t;
    auto *f = t.form;
    const vexa::Image::Pointer input = vexa::IOUtil::LoadImage(raw);
    t.SelectImage(input, "raw");
    f->UseGPUBf->setChecked(false);
    f->BFAlgorithm->setCurrentText(algorithm);
    f->Apodization->setCurrentText("Box");
    f->SpeedOfSound->setValue(1540);
    f->Angle->setValue(27);
    f->Samples->setValue(static_cast<int>(input->GetDimension(1)));
    f->Lines->setValue(static_cast<int>(input->GetDimension(0)));
    f->ReconstructionDepth->setValue(40);
    const vexa::DataNode::Pointer beamformed = t.Apply(f->buttonApplyBeamforming);
    ASSERT_TRUE(beamformed);
    t.Select({beamformed});
    const vexa::DataNode::Pointer bmode = t.Apply(f->buttonApplyBModeFilter);
    ASSERT_TRUE(bmode);
    const auto *view = dynamic_cast<vexa::Image *>(bmode->GetData().GetPointer());
    ASSERT_TRUE(view);

    for (unsigned int axis = 0; axis < 2; ++axis)
    {
      ASSERT_EQ(kestrol->GetDimension(axis), view->GetDimension(axis)) << "axis " << axis;
      EXPECT_EQ(kestrol->GetGeometry()->GetSpacing()[axis], view->GetGeometry()->GetSpacing()[axis]) << "axis " << axis;
    }
    vexa::ImageReadAccessor a(kestrol), b(view);
    const std::size_t n = static_cast<std::size_t>(view->GetDimension(0)) * view->GetDimension(1);
    ASSERT_EQ(kestrol->GetPixelType().GetSize(), view->GetPixelType().GetSize());
    EXPECT_EQ(0, std::memcmp(a.GetData(), b.GetData(), n * view->GetPixelType().GetSize()));
  }
}
