#include <QvexaComboBoxStepThrough.h>
#include <QvexaUSControlsBModeWidget.h>

#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaUSDeviceTestSupport.h>
#include <vorlenLogSink.h>

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
  using Calls = std::vector<std::string>;

  /** B-mode controls whose gain setter fails, as a device that lost its connection may. */
  class FailingGainControls : public vexa::test::USTestBModeControls
  {
  public:
    vexaClassMacro(FailingGainControls, vexa::test::USTestBModeControls);
    static Pointer New()
    {
      Pointer p = new FailingGainControls;
      p->UnRegister();
      return p;
    }

  protected:
    FailingGainControls() : USTestBModeControls(nullptr) {}
    void OnSetScanningGain(double) override { throw std::runtime_error("probe unplugged"); }
  };

  struct StepCase
  {
    const char *name;
    int entries;      // added before the recording starts
    int start;        // current entry then
    Calls operations; // "next", "prev", "add"
    Calls reported;   // what the combo reports, in order
  };

  class BModePanel : public ::testing::Test
  {
  protected:
    QApplication *app = vexa::test::QtApplication::Instance();

    template <class T>
    T *Find(QWidget &panel, const char *name)
    {
      return vexa::test::NamedChild<T>(&panel, name);
    }
    QString Text(QWidget &panel, const char *label) { return Find<QLabel>(panel, label)->text(); }
  };
}

TEST_F(BModePanel, StepThroughReportsArrivingAndLeavingTheEnds)
{
  const std::vector<StepCase> cases = {
    {"three entries stepped over the end and back",
     3,
     0,
     {"next", "next", "next", "prev"},
     {"Begin false", "End true", "End false"}},
    {"back to the first entry", 3, 0, {"next", "prev", "prev"}, {"Begin false", "Begin true"}},
    {"second entry added while on the first", 1, 0, {"add"}, {"End false"}},
    {"two entries: one step reaches the end", 2, 0, {"next"}, {"Begin false", "End true"}},
    {"nothing before the first entry", 3, 0, {"prev"}, {}},
    {"an empty combo does not move", 0, -1, {"next", "prev"}, {}},
    {"an entry added at the end leaves the end", 2, 1, {"add", "next"}, {"End false", "End true"}},
  };
  for (const StepCase &c : cases)
  {
    SCOPED_TRACE(c.name);
    QvexaComboBoxStepThrough combo;
    for (int i = 0; i < c.entries; ++i)
      combo.addItem(QString::number(i));
    combo.setCurrentIndex(c.start);
    Calls seen;
    QObject::connect(&combo, &QvexaComboBoxStepThrough::SignalReachedBegin,
                     [&](bool reached) { seen.push_back(std::string("Begin ") + (reached ? "true" : "false")); });
    QObject::connect(&combo, &QvexaComboBoxStepThrough::SignalReachedEnd,
                     [&](bool reached) { seen.push_back(std::string("End ") + (reached ? "true" : "false")); });
    for (const std::string &op : c.operations)
    {
      if (op == "next")
        combo.OnSetNextIndex();
      else if (op == "prev")
        combo.OnSetPreviousIndex();
      else
        combo.addItem("added");
    }
    EXPECT_EQ(c.reported, seen);
  }
}

TEST_F(BModePanel, WithoutInterfaceTheFormStaysDisabledAndEmpty)
{
  QvexaUSControlsBModeWidget panel(nullptr);
  EXPECT_FALSE(panel.isEnabled());
  EXPECT_EQ(0, Find<QvexaComboBoxStepThrough>(panel, "scanningDepthComboBox")->count());
  EXPECT_EQ("100 %", Text(panel, "scanningPowerLabel_value"));
  EXPECT_EQ("80 dB", Text(panel, "scanningDynamicRangeLabel_value"));
  EXPECT_EQ("0", Text(panel, "scanningRejectionLabel_value"));
}

TEST_F(BModePanel, ShowsTheDeviceValuesAndSendsEveryChange)
{
  // the texts and the numbers read back do not depend on the user's locale
  for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)})
  {
    SCOPED_TRACE(locale.name().toStdString());
    QLocale::setDefault(locale);
    auto controls = vexa::test::USTestBModeControls::New();
    controls->Power = {0.9, 99.9, 10.0, 42.7};
    controls->Gain = {0.0, 100.0, 5.0, 30.0};
    QvexaUSControlsBModeWidget panel(controls.GetPointer());
    EXPECT_TRUE(controls->GetIsActive());

    auto *depth = Find<QvexaComboBoxStepThrough>(panel, "scanningDepthComboBox");
    auto *frequency = Find<QvexaComboBoxStepThrough>(panel, "scanningFrequencyComboBox");
    ASSERT_EQ(3, depth->count());
    EXPECT_EQ("20.00", depth->itemText(0));
    EXPECT_EQ("60.00", depth->itemText(2));
    EXPECT_EQ(1, depth->currentIndex());
    EXPECT_EQ("7.25 MHz", frequency->currentText());
    auto *power = Find<QSlider>(panel, "scanningPowerSlider");
    EXPECT_EQ(0, power->minimum());
    EXPECT_EQ(99, power->maximum());
    EXPECT_EQ(10, power->tickInterval());
    EXPECT_EQ(42, power->value());
    EXPECT_EQ("42%", Text(panel, "scanningPowerLabel_value"));
    EXPECT_EQ("30%", Text(panel, "scanningGainLabel_value"));
    EXPECT_EQ("0", Text(panel, "scanningRejectionLabel_value"));
    EXPECT_EQ("80dB", Text(panel, "scanningDynamicRangeLabel_value"));
    EXPECT_EQ(Calls({"SetIsActive 1"}), controls->Record.Calls()); // construction sends no value
    controls->Record.Clear();

    // depth's "-" button steps deeper (its names are crossed); at the last depth it is disabled
    auto *deeper = Find<QPushButton>(panel, "scanningDepthNext");
    EXPECT_EQ("-", deeper->text());
    deeper->click();
    EXPECT_FALSE(deeper->isEnabled());
    Find<QPushButton>(panel, "scanningDepthPrev")->click();
    EXPECT_TRUE(deeper->isEnabled());
    frequency->setCurrentIndex(2);
    Find<QPushButton>(panel, "scanningFrequencyPrev")->click();
    Find<QSlider>(panel, "scanningGainSlider")->setValue(57);
    Find<QSlider>(panel, "scanningDynamicRangeSlider")->setValue(57);
    Find<QSlider>(panel, "scanningRejectionSlider")->setValue(12);
    power->setValue(99);

    EXPECT_EQ(
      Calls({"SetScanningDepth 60", "SetScanningDepth 40", "SetScanningFrequency 10", "SetScanningFrequency 7.25",
             "SetScanningGain 57", "SetScanningDynamicRange 57", "SetScanningRejection 12", "SetScanningPower 99"}),
      controls->Record.Calls());
    EXPECT_EQ("57%", Text(panel, "scanningGainLabel_value"));
    EXPECT_EQ("57dB", Text(panel, "scanningDynamicRangeLabel_value"));
    EXPECT_EQ("12", Text(panel, "scanningRejectionLabel_value"));
    EXPECT_EQ("99%", Text(panel, "scanningPowerLabel_value"));
  }
  QLocale::setDefault(QLocale::c());
}

TEST_F(BModePanel, DeviceValuesOffTheListsAndActiveInterfaces)
{
  auto controls = vexa::test::USTestBModeControls::New();
  controls->Depth = 41.0; // not one of 20, 40, 60
  controls->Frequency = 7.2500001;
  controls->SetIsActive(true);
  controls->Record.Clear();
  QvexaUSControlsBModeWidget panel(controls.GetPointer());
  EXPECT_EQ(0, Find<QvexaComboBoxStepThrough>(panel, "scanningDepthComboBox")->currentIndex());
  EXPECT_EQ(0, Find<QvexaComboBoxStepThrough>(panel, "scanningFrequencyComboBox")->currentIndex());
  EXPECT_TRUE(controls->Record.Calls().empty()); // an active interface is not switched on again
}

TEST_F(BModePanel, AFailingDeviceIsReportedAndThePanelGoesOn)
{
  auto controls = FailingGainControls::New();
  QvexaUSControlsBModeWidget panel(controls.GetPointer());
  controls->Record.Clear();
  vexa::test::DialogDriver dialogs;
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  vorlen::CapturingSink log;

  Find<QSlider>(panel, "scanningGainSlider")->setValue(57);
  ASSERT_EQ(1u, dialogs.ShownDialogs().size());
  EXPECT_TRUE(dialogs.ShownDialogs()[0].text.contains("probe unplugged"));
  EXPECT_TRUE(log.Contains("probe unplugged", 2));
  EXPECT_EQ("50%", Text(panel, "scanningGainLabel_value")); // still the device's value

  Find<QSlider>(panel, "scanningPowerSlider")->setValue(60);
  EXPECT_EQ("60%", Text(panel, "scanningPowerLabel_value"));
  EXPECT_EQ(Calls({"SetScanningPower 60"}), controls->Record.Calls());
}
