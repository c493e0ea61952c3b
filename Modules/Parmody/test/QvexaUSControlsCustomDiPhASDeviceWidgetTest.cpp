#include <QvexaUSControlsCustomDiPhASDeviceWidget.h>

#include <vexaTestQtApplication.h>
#include <vexaUSDeviceTestSupport.h>
#include <vorlenLogSink.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace
{
  using Calls = std::vector<std::string>;

  class DiPhASPanel : public ::testing::Test
  {
  protected:
    QApplication *app = vexa::test::QtApplication::Instance();
    QvexaUSControlsCustomDiPhASDeviceWidget prototype;
    QWidget host;
    vexa::test::USTestDiPhASDevice::Pointer device = vexa::test::USTestDiPhASDevice::New();
    vexa::test::USCallRecord &record = device->GetDiPhASControls()->Record;

    /** A copy made for showing and given the device, its start-up calls forgotten. */
    QWidget *Panel()
    {
      QvexaUSAbstractCustomWidget *panel = prototype.CloneForQt(&host);
      panel->SetDevice(device.GetPointer());
      record.Clear();
      return panel;
    }
    template <class T>
    static T *Find(QWidget *panel, const char *name)
    {
      return vexa::test::NamedChild<T>(panel, name);
    }
  };
}

TEST_F(DiPhASPanel, SettingTheDeviceSendsTheWholeFormInOneBatchThenTheMode)
{
  QvexaUSAbstractCustomWidget *panel = prototype.CloneForQt(&host);
  EXPECT_TRUE(record.Calls().empty());
  panel->SetDevice(device.GetPointer());
  const Calls expected = {"SetTransmitPhaseLength 4", "SetExcitationFrequency 7.5", "SetTransmitEvents 1",
                          "SetVoltage 70", "SetScanDepth 50", "SetAveragingCount 1", "SetTGCMin 10", "SetTGCMax 20",
                          "SetDataType 0", "SetPitch 0.3", "SetReconstructedSamples 2048", "SetReconstructedLines 128",
                          "SetSpeedOfSound 1480", "SetBandpassEnabled true", "SetLowCut 0", "SetHighCut 5",
                          "SetUseBModeFilter true", "SetVerticalSpacing 0.3", "SetScatteringCoefficient 15",
                          "SetCompensateScattering false", "SetSavingSettings raw false, beamformed false",
                          "SetCompensateEnergy false", "Apply",
                          // the mode, in a batch of its own, then the transmit events once more
                          "SetInterleaved false", "Apply", "SetTransmitEvents 1", "Apply"};
  EXPECT_EQ(expected, record.Calls());
  EXPECT_FALSE(device->GetDiPhASControls()->GetBatchUpdate());
  EXPECT_EQ("TGC min = 10", Find<QLabel>(panel, "TimeGainCompensationMinLabel")->text());
  EXPECT_EQ("TGC max = 20", Find<QLabel>(panel, "TimeGainCompensationMaxLabel")->text());
  EXPECT_EQ("Avg. μs' [1/cm]", Find<QLabel>(panel, "labelScattering")->text());

  // a prototype given a device before its copy is built sends the form once, when it is built
  QvexaUSControlsCustomDiPhASDeviceWidget withDevice;
  withDevice.SetDevice(device.GetPointer());
  record.Clear();
  QWidget *copy = withDevice.CloneForQt(&host);
  const Calls calls = record.Calls();
  EXPECT_EQ(1, std::count(calls.begin(), calls.end(), "SetVoltage 70"));
  EXPECT_NE(nullptr, copy);
}

TEST_F(DiPhASPanel, CrossingPartnersArePulledBack)
{
  struct Case
  {
    const char *name;
    const char *moved;
    double value;
    Calls sent;
    double settled;
  };
  const std::vector<Case> cases = {
    {"TGC min above max", "TimeGainCompensationMinSlider", 30, {"SetTGCMin 20", "Apply", "SetTGCMin 20", "Apply"}, 20},
    {"TGC max below min", "TimeGainCompensationMaxSlider", 5, {"SetTGCMax 10", "Apply", "SetTGCMax 10", "Apply"}, 10},
    {"TGC min within", "TimeGainCompensationMinSlider", 15, {"SetTGCMin 15", "Apply"}, 15},
    {"low cut above high, same whole part", "LowCut", 5.2, {"SetLowCut 5", "Apply", "SetLowCut 5", "Apply"}, 5},
    {"low cut below high", "LowCut", 4.5, {"SetLowCut 4.5", "Apply"}, 4.5},
    {"high cut below low", "HighCut", 2.5, {"SetHighCut 3", "Apply", "SetHighCut 3", "Apply"}, 3},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    QWidget *panel = Panel();
    Find<QDoubleSpinBox>(panel, "LowCut")->setValue(3.0); // low 3, high 5
    record.Clear();
    vorlen::CapturingSink log;
    if (QSlider *slider = panel->findChild<QSlider *>(c.moved))
    {
      slider->setValue(static_cast<int>(c.value));
      EXPECT_EQ(c.settled, slider->value());
      EXPECT_EQ(c.settled != c.value, log.Contains("User tried to set tgcMin>tgcMax.", 0));
    }
    else
    {
      auto *box = Find<QDoubleSpinBox>(panel, c.moved);
      box->setValue(c.value);
      EXPECT_EQ(c.settled, box->value());
      EXPECT_EQ(c.settled != c.value, log.Contains("User tried to set LowCut>HighCut.", 0));
    }
    EXPECT_EQ(c.sent, record.Calls());
    delete panel;
  }
}

TEST_F(DiPhASPanel, PitchFollowsTheNumberOfLines)
{
  QWidget *panel = Panel();
  auto *lines = Find<QSpinBox>(panel, "ReconstructedLines");
  auto *pitch = Find<QDoubleSpinBox>(panel, "PitchOfTransducer");
  lines->setValue(1024);
  EXPECT_EQ(0.0375, pitch->value());
  EXPECT_EQ(Calls({"SetReconstructedLines 1024", "Apply", "SetPitch 0.0375", "Apply"}), record.Calls());
  lines->setValue(256);
  EXPECT_DOUBLE_EQ(0.15, pitch->value());
  lines->setValue(128);
  EXPECT_DOUBLE_EQ(0.3, pitch->value());
  EXPECT_DOUBLE_EQ(0.3, device->GetDiPhASControls()->GetParameters().pitch);
}

TEST_F(DiPhASPanel, RecordingLocksTheParameters)
{
  QWidget *panel = Panel();
  auto *button = Find<QPushButton>(panel, "StartStopRecord");
  const char *parameters[] = {"VerticalSpacing",
                              "SaveBeamformed",
                              "SaveRaw",
                              "TransmitPhaseLength",
                              "ExcitationFrequency",
                              "TransmitEvents",
                              "Voltage",
                              "Mode",
                              "ScanDepth",
                              "AveragingCount",
                              "TimeGainCompensationMinSlider",
                              "TimeGainCompensationMaxSlider",
                              "DataType",
                              "PitchOfTransducer",
                              "ReconstructedSamplesPerLine",
                              "ReconstructedLines",
                              "SpeedOfSound",
                              "BandpassEnabled",
                              "LowCut",
                              "HighCut",
                              "CompensateEnergy",
                              "UseBModeFilter",
                              "CompensateScattering",
                              "ScatteringCoefficient"};
  button->click();
  EXPECT_EQ("Stop Recording", button->text());
  for (const char *name : parameters)
    EXPECT_FALSE(Find<QWidget>(panel, name)->isEnabled()) << name;
  button->click();
  EXPECT_EQ("Start Recording", button->text());
  for (const char *name : parameters)
    EXPECT_EQ(std::string(name) != "ScatteringCoefficient", Find<QWidget>(panel, name)->isEnabled()) << name;

  Find<QCheckBox>(panel, "CompensateScattering")->setChecked(true);
  button->click();
  button->click();
  EXPECT_TRUE(Find<QWidget>(panel, "ScatteringCoefficient")->isEnabled());
  EXPECT_EQ(Calls({"SetRecord true", "Apply", "SetRecord false", "Apply", "SetCompensateScattering true", "Apply",
                   "SetRecord true", "Apply", "SetRecord false", "Apply"}),
            record.Calls());
}

TEST_F(DiPhASPanel, ModeSavingAndDataType)
{
  QWidget *panel = Panel();
  Find<QSpinBox>(panel, "TransmitEvents")->setValue(5);
  record.Clear();
  Find<QComboBox>(panel, "Mode")->setCurrentText("Interleaved");
  EXPECT_EQ(1, Find<QSpinBox>(panel, "TransmitEvents")->value());
  EXPECT_EQ(Calls({"SetInterleaved true", "SetTransmitEvents 1", "Apply", "SetTransmitEvents 1", "Apply"}),
            record.Calls());

  record.Clear();
  Find<QCheckBox>(panel, "SaveRaw")->setChecked(true);
  Find<QComboBox>(panel, "DataType")->setCurrentText("Beamformed Data");
  Find<QComboBox>(panel, "BandpassEnabled")->setCurrentText("Off");
  EXPECT_EQ(Calls({"SetSavingSettings raw true, beamformed false", "Apply", "SetDataType 1", "Apply",
                   "SetBandpassEnabled false", "Apply"}),
            record.Calls());
}

TEST_F(DiPhASPanel, StateTextsArriveOnTheGuiThreadAndNeverAfterThePanel)
{
  auto *controls = device->GetDiPhASControls();
  QPointer<QWidget> panel = Panel();
  std::thread worker([controls] { controls->ReportState("Scanning"); });
  worker.join();
  EXPECT_EQ("Started", Find<QLabel>(panel, "CurrentState")->text()); // not from the worker
  EXPECT_TRUE(vexa::test::QtApplication::ProcessEventsUntil(
    [&] { return Find<QLabel>(panel, "CurrentState")->text() == "Scanning"; }, std::chrono::seconds(5)));

  // a text reported while the panel goes away is dropped, and later ones reach nothing
  std::thread late([controls] { controls->ReportState("Late"); });
  late.join();
  delete panel.data();
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));
  controls->ReportState("After");
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));
  EXPECT_TRUE(panel.isNull());
}

TEST_F(DiPhASPanel, WithoutDiPhASControlsNothingIsSent)
{
  auto other = vexa::test::USTestDevice::New(1, "Other", "Device", "org.vexa.modules.us.USDiPhASDevice");
  vorlen::CapturingSink log;
  QvexaUSAbstractCustomWidget *panel = prototype.CloneForQt(&host);
  panel->SetDevice(other.GetPointer());
  EXPECT_EQ(std::vector<std::string>{"Did not get a custom device control interface."}, log.Texts(1));
  Find<QSpinBox>(panel, "Voltage")->setValue(20);
  Find<QPushButton>(panel, "StartStopRecord")->click();
  Find<QSlider>(panel, "TimeGainCompensationMinSlider")->setValue(40);
  EXPECT_TRUE(log.Texts(2).empty());

  // from a DiPhAS device to another: the first one no longer reports to the panel
  panel->SetDevice(device.GetPointer());
  record.Clear();
  Find<QSpinBox>(panel, "Voltage")->setValue(30);
  EXPECT_EQ(Calls({"SetVoltage 30", "Apply"}), record.Calls());
  EXPECT_EQ("org.vexa.modules.us.USDiPhASDevice", prototype.GetDeviceClass());
}
