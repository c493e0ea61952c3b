#include <QvexaComboBoxStepThrough.h>
#include <QvexaUSControlsDopplerWidget.h>
#include <QvexaUSControlsProbesWidget.h>

#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaUSDeviceTestSupport.h>
#include <vorlenLogSink.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace
{
  using Calls = std::vector<std::string>;

  /** Probe controls whose selection of one probe fails, as a device with a broken connector may. */
  class RefusingProbesControls : public vexa::test::USTestProbesControls
  {
  public:
    vexaClassMacro(RefusingProbesControls, vexa::test::USTestProbesControls);
    static Pointer New()
    {
      Pointer p = new RefusingProbesControls;
      p->UnRegister();
      return p;
    }
    unsigned int Refused = 2;

  protected:
    RefusingProbesControls() : USTestProbesControls(nullptr) {}
    void OnSelectProbe(unsigned int index) override
    {
      if (index == Refused)
        throw std::runtime_error("probe connector not responding");
      USTestProbesControls::OnSelectProbe(index);
    }
  };

  class TestDopplerControls : public vexa::USControlInterfaceDoppler
  {
  public:
    vexaClassMacro(TestDopplerControls, vexa::USControlInterfaceDoppler);
    static Pointer New()
    {
      Pointer p = new TestDopplerControls;
      p->UnRegister();
      return p;
    }
    vexa::test::USCallRecord Record;
    void SetIsActive(bool active) override { Record.Add(vexa::test::USCallRecord::Text("SetIsActive", active)); }
    bool GetIsActive() override
    {
      Record.Add("GetIsActive");
      return false;
    }

  protected:
    TestDopplerControls() : USControlInterfaceDoppler(nullptr) {}
  };

  class ProbesPanel : public ::testing::Test
  {
  protected:
    QApplication *app = vexa::test::QtApplication::Instance();

    template <class T>
    static T *Find(QWidget &panel, const char *name)
    {
      return vexa::test::NamedChild<T>(&panel, name);
    }
  };
}

TEST_F(ProbesPanel, FillsTheComboAndSelectsTheFirstProbe)
{
  struct Case
  {
    std::vector<std::string> probes;
    Calls calls;
    bool previousEnabled, nextEnabled;
  };
  const std::vector<Case> cases = {
    {{}, {"SetIsActive 1"}, false, false},
    {{"L14-5"}, {"SetIsActive 1", "SelectProbe 0"}, false, false},
    {{"A", "B", "C"}, {"SetIsActive 1", "SelectProbe 0"}, false, true},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(std::to_string(c.probes.size()) + " probes");
    auto controls = vexa::test::USTestProbesControls::New();
    controls->SetProbeNames(c.probes);
    QvexaUSControlsProbesWidget panel(controls.GetPointer());

    auto *combo = Find<QvexaComboBoxStepThrough>(panel, "probesComboBox");
    ASSERT_EQ(static_cast<int>(c.probes.size()), combo->count());
    for (int i = 0; i < combo->count(); ++i)
      EXPECT_EQ(c.probes[i], combo->itemText(i).toStdString());
    EXPECT_EQ(c.probes.empty() ? -1 : 0, combo->currentIndex());
    EXPECT_EQ(c.calls, controls->Record.Calls());
    EXPECT_EQ(c.previousEnabled, Find<QPushButton>(panel, "probesComboBoxPrev")->isEnabled());
    EXPECT_EQ(c.nextEnabled, Find<QPushButton>(panel, "probesComboBoxNext")->isEnabled());
    EXPECT_TRUE(combo->isEnabled());
  }
}

TEST_F(ProbesPanel, WithoutInterfaceEverythingIsDisabled)
{
  QvexaUSControlsProbesWidget panel(nullptr);
  EXPECT_FALSE(Find<QvexaComboBoxStepThrough>(panel, "probesComboBox")->isEnabled());
  EXPECT_FALSE(Find<QLabel>(panel, "probesLabel")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>(panel, "probesComboBoxPrev")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>(panel, "probesComboBoxNext")->isEnabled());
  EXPECT_EQ("Probes", Find<QLabel>(panel, "probesLabel")->text());
}

TEST_F(ProbesPanel, TheProbeShownIsTheProbeSelected)
{
  auto controls = vexa::test::USTestProbesControls::New();
  controls->SetProbeNames({"A", "B", "C"});
  controls->SetIsActive(true);
  QvexaUSControlsProbesWidget panel(controls.GetPointer());
  controls->Record.Clear();
  auto *combo = Find<QvexaComboBoxStepThrough>(panel, "probesComboBox");
  auto *previous = Find<QPushButton>(panel, "probesComboBoxPrev");
  auto *next = Find<QPushButton>(panel, "probesComboBoxNext");

  next->click();
  next->click();
  EXPECT_EQ(2, combo->currentIndex());
  EXPECT_FALSE(next->isEnabled());
  EXPECT_TRUE(previous->isEnabled());
  previous->click();
  combo->setCurrentIndex(0); // as a choice from the list
  EXPECT_FALSE(previous->isEnabled());
  EXPECT_EQ(Calls({"SelectProbe 1", "SelectProbe 2", "SelectProbe 1", "SelectProbe 0"}), controls->Record.Calls());
  EXPECT_EQ("A", controls->GetSelectedProbe()->GetName());
}

TEST_F(ProbesPanel, AFailedSelectionIsReportedAndTheDevicesProbeStaysShown)
{
  auto controls = RefusingProbesControls::New();
  controls->SetProbeNames({"A", "B", "C"});
  QvexaUSControlsProbesWidget panel(controls.GetPointer());
  auto *combo = Find<QvexaComboBoxStepThrough>(panel, "probesComboBox");
  combo->setCurrentIndex(1);
  controls->Record.Clear();
  vexa::test::DialogDriver dialogs;
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  vorlen::CapturingSink log;

  Find<QPushButton>(panel, "probesComboBoxNext")->click();

  ASSERT_EQ(1u, dialogs.ShownDialogs().size());
  EXPECT_TRUE(dialogs.ShownDialogs()[0].text.contains("probe connector not responding"));
  EXPECT_TRUE(log.Contains("probe connector not responding", 2));
  EXPECT_EQ(1, combo->currentIndex());
  EXPECT_EQ("B", controls->GetSelectedProbe()->GetName());
  EXPECT_TRUE(Find<QPushButton>(panel, "probesComboBoxNext")->isEnabled());
  EXPECT_TRUE(controls->Record.Calls().empty()); // going back selects nothing anew
}

TEST_F(ProbesPanel, DopplerPanelNeverCallsItsInterface)
{
  auto controls = TestDopplerControls::New();
  {
    QvexaUSControlsDopplerWidget panel(controls.GetPointer());
    QvexaUSControlsDopplerWidget empty(nullptr);
    EXPECT_EQ("Form", panel.windowTitle());
    EXPECT_EQ(QSize(216, 161), panel.size());
    EXPECT_TRUE(empty.isEnabled());
  }
  EXPECT_TRUE(controls->Record.Calls().empty());
  EXPECT_EQ(1, controls->GetReferenceCount()); // released with the panel
}
