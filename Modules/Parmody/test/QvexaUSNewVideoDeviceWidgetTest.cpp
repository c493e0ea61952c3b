// The new/edit device form driven as a user drives it (clicks, keys, real
// file dialogs and message boxes answered by the DialogDriver): the form as
// built, the probe editor's rules, devices created and edited through it,
// and device configuration files.

#include <QvexaUSNewVideoDeviceWidget.h>

#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaTestVideos.h>
#include <vexaUSIGTLDevice.h>
#include <vexaUSImageVideoSource.h>
#include <vexaUSDeviceTestSupport.h>
#include <vexaUSVideoDevice.h>
#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidgetItem>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using vexa::test::DialogDriver;

namespace
{
  const QString kDuplicateProbe = "Probe name already exists. Please choose another name for the probe.";
  const QString kWriteError =
    "Error when writing the configuration to the selected file. Could not write device information.";
  const QString kParseError = "Error when parsing the selected file. Could not load stored device information.";
  const std::string kUnknownVersion = "Unknown fileversion. Only fileversion 1.0 is known to the system.";
  const std::string kUnknownType = "Unknown device type detected. The device type must be of type |video|";

  /** The form with its protected members in reach of the tests. */
  class Form : public QvexaUSNewVideoDeviceWidget
  {
  public:
    using QvexaUSNewVideoDeviceWidget::CheckIfProbeExistsAlready;
    using QvexaUSNewVideoDeviceWidget::ConstructItemFromDevice;

    template <class T>
    T *Get(const char *name)
    {
      return vexa::test::NamedChild<T>(this, name);
    }

    void Click(const char *button) { QTest::mouseClick(Get<QAbstractButton>(button), Qt::LeftButton); }

    /** Replaces a line edit's text as a user does: select all, type. */
    void Type(const char *lineEdit, const QString &text)
    {
      auto *edit = Get<QLineEdit>(lineEdit);
      edit->selectAll();
      QTest::keyClicks(edit, text);
    }

    /** Types a value into a spin box and confirms it. */
    void TypeValue(const char *spinBox, const QString &text)
    {
      auto *box = Get<QAbstractSpinBox>(spinBox);
      box->setFocus();
      QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(box, text);
      QTest::keyClick(box, Qt::Key_Return);
    }

    void AddProbe(const QString &name)
    {
      Type("m_ProbeNameLineEdit", name);
      Click("m_AddNewProbePushButton");
    }
    void AddDepths(const QString &text)
    {
      Type("m_AddDepths", text);
      Click("m_BtnAddDepths");
    }
    void SelectProbe(int index) { Get<QComboBox>("m_Probes")->setCurrentIndex(index); }
    void SelectDepth(int index) { Get<QComboBox>("m_Depths")->setCurrentIndex(index); }

    QStringList Entries(const char *combo)
    {
      QStringList entries;
      auto *box = Get<QComboBox>(combo);
      for (int i = 0; i < box->count(); ++i)
        entries << box->itemText(i);
      return entries;
    }

    /**
     * The probes behind the entries of the probe box, looked up by name:
     * "Linear[5:0.5/1,10:1/1|top,bottom,left,right]", separated by blanks.
     */
    std::string Probes()
    {
      std::ostringstream text;
      for (const QString &name : Entries("m_Probes"))
      {
        vexa::USProbe::Pointer probe = CheckIfProbeExistsAlready(name.toStdString());
        if (text.tellp() > 0)
          text << " ";
        text << Describe(probe);
      }
      return text.str();
    }

    static std::string Describe(const vexa::USProbe *probe)
    {
      if (!probe)
        return "(missing)";
      std::ostringstream text;
      text << probe->GetName() << "[";
      bool first = true;
      for (const auto &entry : probe->GetDepthsAndSpacing())
      {
        text << (first ? "" : ",") << entry.first << ":" << entry.second[0] << "/" << entry.second[1];
        first = false;
      }
      const auto c = probe->GetProbeCropping();
      text << "|" << c.top << "," << c.bottom << "," << c.left << "," << c.right << "]";
      return text.str();
    }

    /** Enabled state of the probe box, the depth box and the spacing/cropping widgets, e.g. "1 0 0". */
    std::string Enabled()
    {
      const bool spacing = Get<QWidget>("m_XSpacingSpinBox")->isEnabled();
      for (const char *name :
           {"m_YSpacingSpinBox", "m_XSpacingLabel", "m_YSpacingLabel", "m_CroppingTopSpinBox", "m_CroppingRightSpinBox",
            "m_CroppingBottomSpinBox", "m_CroppingLeftSpinBox", "m_CroppingTopLabel", "m_CroppingBottomLabel",
            "m_CroppingLeftLabel", "m_CroppingRightLabel"})
        EXPECT_EQ(spacing, Get<QWidget>(name)->isEnabled()) << name << " goes with the spacing widgets";
      const bool probes = Get<QWidget>("m_Probes")->isEnabled();
      for (const char *name : {"m_BtnRemoveProbe", "m_AddDepths", "m_BtnAddDepths"})
        EXPECT_EQ(probes, Get<QWidget>(name)->isEnabled()) << name << " goes with the probe box";
      EXPECT_EQ(Get<QWidget>("m_Depths")->isEnabled(), Get<QWidget>("m_BtnRemoveDepth")->isEnabled());
      return std::string(probes ? "1" : "0") + (Get<QWidget>("m_Depths")->isEnabled() ? " 1" : " 0") +
             (spacing ? " 1" : " 0");
    }

    /**
     * The source part of the form: the checked choice with its value, what of
     * it is open for input, and "fixed" while the line that the source cannot
     * change shows, e.g. "From File: /a.avi | choices path file-button".
     */
    std::string Source()
    {
      std::string text;
      for (const char *name :
           {"m_RadioDeviceSource", "m_RadioFileSource", "m_RadioOIGTLServerSource", "m_RadioOIGTLClientSource"})
        if (Get<QRadioButton>(name)->isChecked())
          text = Get<QRadioButton>(name)->text().toStdString();
      if (Get<QRadioButton>("m_RadioDeviceSource")->isChecked())
        text += " " + std::to_string(Get<QSpinBox>("m_DeviceSelector")->value());
      else if (Get<QRadioButton>("m_RadioFileSource")->isChecked())
        text += " " + Get<QLineEdit>("m_FilePathSelector")->text().toStdString();
      text += " |";
      const bool choices = Get<QWidget>("m_RadioDeviceSource")->isEnabled();
      for (const char *name : {"m_RadioFileSource", "m_RadioOIGTLServerSource", "m_RadioOIGTLClientSource"})
        EXPECT_EQ(choices, Get<QWidget>(name)->isEnabled()) << name << " goes with the other choices";
      EXPECT_EQ(Get<QWidget>("m_OIGTLClientHost")->isEnabled(), Get<QWidget>("m_OIGTLClientPort")->isEnabled());
      EXPECT_EQ(Get<QWidget>("m_OIGTLServerHost")->isEnabled(), Get<QWidget>("m_OIGTLServerPort")->isEnabled());
      const std::vector<std::pair<const char *, const char *>> parts = {{"m_DeviceSelector", "index"},
                                                                        {"m_FilePathSelector", "path"},
                                                                        {"m_OpenFileButton", "file-button"},
                                                                        {"m_OIGTLServerHost", "server"},
                                                                        {"m_OIGTLClientHost", "client"}};
      if (choices)
        text += " choices";
      for (const auto &part : parts)
        if (Get<QWidget>(part.first)->isEnabled())
          text += std::string(" ") + part.second;
      const QLabel *line = Get<QLabel>("m_LabelSourceFixed");
      if (line && line->isVisible())
        text += " | fixed";
      return text;
    }
  };

  /** What the dialogs showed from the `first` one on: a message box's text, a file dialog's title. */
  QStringList Texts(const DialogDriver &dialogs, int first = 0)
  {
    QStringList texts;
    for (const DialogDriver::Shown &shown : dialogs.ShownDialogs())
      texts << (shown.kind == DialogDriver::Shown::FileDialog ? "file dialog: " + shown.title : shown.text);
    return texts.mid(first);
  }

  class NewDeviceForm : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      form.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    void TearDown() override
    {
      for (const vexa::USDevice::Pointer &device : vexa::test::RegisteredUSDevices())
        device->UnregisterOnService();
      EXPECT_EQ(0, dialogs.PendingAnswers()) << "a dialog the test expected did not come";
    }

    /**
     * A configuration file as the device library writes it, with the given
     * version and type, naming the clip `filePath` unless that is empty.
     */
    std::string WriteConfigFile(const std::string &name,
                                const std::string &version,
                                const std::string &type,
                                const std::string &filePath = "")
    {
      const std::string path = folder.File(name);
      std::ofstream file(path);
      file << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           << "<ultrasoundDevice fileversion=\"" << version << "\">\n"
           << "  <general deviceType=\"" << type
           << "\" deviceName=\"Loaded\" manufacturer=\"Loaded Inc\" model=\"L1\" comment=\"c\"/>\n";
      if (!filePath.empty())
        file << "  <video deviceIndex=\"0\" filePath=\"" << filePath << "\"/>\n";
      file << "  <probes><probe name=\"Loaded probe\"><depth value=\"40\"/></probe></probes>\n"
           << "</ultrasoundDevice>\n";
      return path;
    }

    QApplication *app = vexa::test::QtApplication::Instance();
    DialogDriver dialogs;
    vexa::test::TemporaryFolder folder;
    Form form;
  };
}

TEST_F(NewDeviceForm, IsBuiltAsDesignedAndFollowsTheSourceChoice)
{
  EXPECT_EQ("QvexaUSNewVideoDeviceWidget", form.windowTitle());
  EXPECT_EQ("QvexaUSNewVideoDeviceWidgetControls", form.objectName()) << "named by the form as it had no name";
  EXPECT_EQ("org.vexa.views.QvexaUSNewVideoDeviceWidget", QvexaUSNewVideoDeviceWidget::VIEW_ID);
  EXPECT_EQ("Add Video Device", form.Get<QPushButton>("m_BtnDone")->text());
  EXPECT_EQ("Save->File", form.Get<QPushButton>("m_BtnSave")->text());
  EXPECT_TRUE(form.Get<QCheckBox>("m_CheckGreyscale")->isChecked());
  EXPECT_FALSE(form.Get<QCheckBox>("m_CheckResolutionOverride")->isChecked());
  for (const char *name : {"m_ResolutionWidth", "m_ResolutionHeight"})
  {
    auto *box = form.Get<QSpinBox>(name);
    EXPECT_EQ(10, box->minimum()) << name;
    EXPECT_EQ(2048, box->maximum()) << name;
    EXPECT_EQ(10, box->singleStep()) << name;
  }
  EXPECT_EQ(640, form.Get<QSpinBox>("m_ResolutionWidth")->value());
  EXPECT_EQ(480, form.Get<QSpinBox>("m_ResolutionHeight")->value());
  auto *spacing = form.Get<QDoubleSpinBox>("m_XSpacingSpinBox");
  EXPECT_EQ(6, spacing->decimals());
  EXPECT_DOUBLE_EQ(0.000001, spacing->minimum());
  EXPECT_DOUBLE_EQ(1.0, spacing->maximum());
  EXPECT_EQ(400, form.Get<QSpinBox>("m_CroppingLeftSpinBox")->maximum());
  EXPECT_EQ("0 0 0", form.Enabled());
  EXPECT_TRUE(form.Get<QLineEdit>("m_ProbeNameLineEdit")->isEnabled());

  // tab order of the form: the next widget that takes focus by Tab
  QvexaUSNewVideoDeviceWidget unshown;
  EXPECT_EQ(QSize(332, 972), unshown.size()) << "as designed; shown, the layout may widen it";
  const std::vector<const char *> chain = {"m_Manufacturer",           "m_Model",          "m_Comment",
                                           "m_RadioDeviceSource",      "m_DeviceSelector", "m_RadioFileSource",
                                           "m_CheckResolutionOverride"};
  for (std::size_t i = 0; i + 1 < chain.size(); ++i)
  {
    QWidget *next = form.Get<QWidget>(chain[i])->nextInFocusChain();
    // labels take no focus; a spin box's line edit is the spin box's own
    while (next && (!(next->focusPolicy() & Qt::TabFocus) || qobject_cast<QAbstractSpinBox *>(next->parentWidget())))
      next = next->nextInFocusChain();
    EXPECT_EQ(form.Get<QWidget>(chain[i + 1]), next) << chain[i];
  }

  // the source choice: only the checked source's fields are open for input
  struct Choice
  {
    const char *radio;
    std::vector<const char *> open;
  };
  const std::vector<const char *> fields = {"m_DeviceSelector",  "m_FilePathSelector", "m_OIGTLClientHost",
                                            "m_OIGTLClientPort", "m_OIGTLServerHost",  "m_OIGTLServerPort"};
  for (const Choice &choice :
       std::vector<Choice>{{"m_RadioFileSource", {"m_FilePathSelector"}},
                           {"m_RadioOIGTLClientSource", {"m_OIGTLClientHost", "m_OIGTLClientPort"}},
                           {"m_RadioOIGTLServerSource", {"m_OIGTLServerHost", "m_OIGTLServerPort"}},
                           {"m_RadioDeviceSource", {"m_DeviceSelector"}}})
  {
    SCOPED_TRACE(choice.radio);
    form.Click(choice.radio);
    for (const char *field : fields)
    {
      const bool open = std::find(choice.open.begin(), choice.open.end(), std::string(field)) != choice.open.end();
      EXPECT_EQ(open, form.Get<QWidget>(field)->isEnabled()) << field;
    }
    EXPECT_TRUE(form.Get<QWidget>("m_OpenFileButton")->isEnabled());
  }
  EXPECT_TRUE(Texts(dialogs).isEmpty());
}

TEST_F(NewDeviceForm, ProbeEditorRules)
{
  struct Case
  {
    const char *name;
    std::function<void(Form &)> steps;
    std::string probes;  // what the probe list holds, entry by entry
    std::string enabled; // probe box, depth box, spacing and cropping
    QStringList dialogs;
  };
  const QString ignored = "Depths are whole numbers of 0 or more, separated by commas. Ignored: ";
  const std::vector<Case> cases = {
    {"a name of blanks adds nothing", [](Form &f) { f.AddProbe("   "); }, "", "0 0 0", {}},
    {"a name with blanks around it is the name itself",
     [](Form &f) {
       f.AddProbe("Linear");
       f.AddProbe("  Linear ");
     },
     "Linear[|0,0,0,0]",
     "1 0 0",
     {kDuplicateProbe}},
    {"names differing in case are different probes",
     [](Form &f) {
       f.AddProbe("Linear");
       f.AddProbe("linear");
     },
     "Linear[|0,0,0,0] linear[|0,0,0,0]",
     "1 0 0",
     {}},
    {"depth parts that are no whole numbers of 0 or more are ignored with a warning",
     [](Form &f) {
       f.AddProbe("Linear");
       f.AddDepths("10,5,,x,-3, 7 ,2.5");
     },
     "Linear[5:1/1,7:1/1,10:1/1|0,0,0,0]",
     "1 1 1",
     {ignored + "\"\", \"x\", \"-3\", \"2.5\""}},
    {"only bad depth parts: nothing added",
     [](Form &f) {
       f.AddProbe("Linear");
       f.AddDepths("deep");
     },
     "Linear[|0,0,0,0]",
     "1 0 0",
     {ignored + "\"deep\""}},
    {"spacing belongs to the shown depth, cropping to the probe",
     [](Form &f) {
       f.AddProbe("Linear");
       f.AddDepths("5,10");
       f.TypeValue("m_XSpacingSpinBox", "0.5");
       f.TypeValue("m_YSpacingSpinBox", "0.25");
       f.TypeValue("m_CroppingTopSpinBox", "7");
       f.TypeValue("m_CroppingLeftSpinBox", "3");
       f.SelectDepth(1);
       EXPECT_DOUBLE_EQ(1.0, f.Get<QDoubleSpinBox>("m_XSpacingSpinBox")->value()) << "depth 10's own spacing";
       EXPECT_EQ(7, f.Get<QSpinBox>("m_CroppingTopSpinBox")->value()) << "the probe's cropping";
       f.TypeValue("m_CroppingRightSpinBox", "9");
       f.TypeValue("m_CroppingBottomSpinBox", "11");
     },
     "Linear[5:0.5/0.25,10:1/1|7,11,3,9]",
     "1 1 1",
     {}},
    {"removing the only depth closes spacing and cropping",
     [](Form &f) {
       f.AddProbe("Linear");
       f.AddDepths("5");
       f.Click("m_BtnRemoveDepth");
     },
     "Linear[|0,0,0,0]",
     "1 0 0",
     {}},
    {"removing one of two depths shows the other",
     [](Form &f) {
       f.AddProbe("Linear");
       f.AddDepths("5,10");
       f.Click("m_BtnRemoveDepth");
       EXPECT_EQ(QStringList{"10"}, f.Entries("m_Depths"));
     },
     "Linear[10:1/1|0,0,0,0]",
     "1 1 1",
     {}},
    {"removing the only probe closes the whole group",
     [](Form &f) {
       f.AddProbe("Linear");
       f.AddDepths("5");
       f.Click("m_BtnRemoveProbe");
     },
     "",
     "0 0 0",
     {}},
    {"each probe shows its own depths",
     [](Form &f) {
       f.AddProbe("A");
       f.AddDepths("1,2");
       f.AddProbe("B");
       f.SelectProbe(1);
       EXPECT_TRUE(f.Entries("m_Depths").isEmpty());
       f.AddDepths("3");
       f.SelectProbe(0);
       EXPECT_EQ(QStringList({"1", "2"}), f.Entries("m_Depths"));
     },
     "A[1:1/1,2:1/1|0,0,0,0] B[3:1/1|0,0,0,0]",
     "1 1 1",
     {}},
    {"removing a middle probe keeps entries and probes in step",
     [](Form &f) {
       f.AddProbe("A");
       f.AddProbe("B");
       f.AddProbe("C");
       f.SelectProbe(1);
       f.Click("m_BtnRemoveProbe");
       f.SelectProbe(1);
       f.AddDepths("4");
     },
     "A[|0,0,0,0] C[4:1/1|0,0,0,0]",
     "1 1 1",
     {}},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    const int shown = Texts(dialogs).size();
    Form f;
    f.show();
    for (int i = 0; i < c.dialogs.size(); ++i)
      dialogs.AnswerMessageBox(QMessageBox::Ok);
    c.steps(f);
    EXPECT_EQ(c.probes, f.Probes());
    EXPECT_EQ(c.enabled, f.Enabled());
    EXPECT_TRUE(f.Get<QLineEdit>("m_ProbeNameLineEdit")->text().isEmpty());
    EXPECT_EQ(c.dialogs, Texts(dialogs, shown));
  }
}

TEST_F(NewDeviceForm, ShowingStoredValuesNeverWritesThemBack)
{
  // values a spin box cannot show: they are shown clamped and stay as stored
  vexa::USProbe::Pointer probe = vexa::USProbe::New("Wide");
  vexa::Vector3D spacing;
  spacing[0] = 2.5, spacing[1] = 0.0000001, spacing[2] = 3.0;
  probe->SetDepthAndSpacing(30, spacing);
  probe->SetDepth(60);
  probe->SetProbeCropping(1000, 401, 0, 4000000000u);
  const std::string stored = Form::Describe(probe);
  vexa::USVideoDevice::Pointer device = vexa::USVideoDevice::New(0, "Acme", "Wide");
  device->AddNewProbe(probe);

  vorlen::CapturingSink sink;
  form.EditDevice(device.GetPointer());
  EXPECT_EQ("1 1 1", form.Enabled());
  EXPECT_DOUBLE_EQ(1.0, form.Get<QDoubleSpinBox>("m_XSpacingSpinBox")->value());
  EXPECT_DOUBLE_EQ(0.000001, form.Get<QDoubleSpinBox>("m_YSpacingSpinBox")->value());
  EXPECT_EQ(400, form.Get<QSpinBox>("m_CroppingTopSpinBox")->value());
  form.SelectDepth(1); // depth 60: spacing 1/1, a shown value that differs from the box's last one
  form.SelectDepth(0);
  EXPECT_EQ(stored, Form::Describe(probe));
  EXPECT_FALSE(sink.Contains("Changing ")) << "no value handler ran";

  // a value the user types is stored, the others stay
  form.TypeValue("m_CroppingBottomSpinBox", "12");
  EXPECT_EQ(12u, probe->GetProbeCropping().bottom);
  EXPECT_EQ(1000u, probe->GetProbeCropping().top);
  EXPECT_TRUE(sink.Contains("Changing cropping bottom to: 12", 0));
  form.Click("m_BtnCancel");
}

TEST_F(NewDeviceForm, CreatesAVideoDeviceOnAFileOncePerClick)
{
  const std::string clip = folder.File("clip.avi");
  std::ofstream(clip) << "a clip"; // only its path matters here

  QSignalSpy finished(&form, SIGNAL(Finished()));
  form.CreateNewDevice();
  form.CreateNewDevice(); // shown twice: still one device per click
  dialogs.AnswerFileDialog(QString::fromStdString(clip));
  form.Click("m_OpenFileButton");
  EXPECT_TRUE(form.Get<QRadioButton>("m_RadioFileSource")->isChecked());
  EXPECT_TRUE(form.Get<QWidget>("m_FilePathSelector")->isEnabled());
  EXPECT_FALSE(form.Get<QWidget>("m_DeviceSelector")->isEnabled());
  form.Get<QLineEdit>("m_Manufacturer")->setText(QString::fromUtf8("Müller & Söhne"));
  form.Type("m_Model", "Bench");
  form.Type("m_Comment", "left arm");
  form.Click("m_CheckGreyscale");
  form.Click("m_CheckResolutionOverride");
  form.TypeValue("m_ResolutionWidth", "320");
  form.AddProbe("Linear");
  form.AddDepths("30,50");
  form.AddProbe("Convex"); // no depth: gets depth 0
  form.Click("m_BtnDone");

  ASSERT_EQ(1, finished.count());
  std::vector<vexa::USDevice::Pointer> devices = vexa::test::RegisteredUSDevices();
  ASSERT_EQ(1u, devices.size());
  auto *video = dynamic_cast<vexa::USVideoDevice *>(devices[0].GetPointer());
  ASSERT_NE(nullptr, video);
  EXPECT_TRUE(video->GetIsSourceFile());
  EXPECT_EQ(clip, video->GetFilePath());
  EXPECT_EQ("Müller & Söhne", video->GetManufacturer());
  EXPECT_EQ("Bench", video->GetName());
  EXPECT_EQ("left arm", video->GetComment());
  auto *source = dynamic_cast<vexa::USImageVideoSource *>(video->GetImageSource().GetPointer());
  ASSERT_NE(nullptr, source);
  EXPECT_TRUE(source->GetColorOutput());
  EXPECT_TRUE(source->GetResolutionOverride());
  EXPECT_EQ(320, source->GetResolutionOverrideWidth());
  EXPECT_EQ(480, source->GetResolutionOverrideHeight());
  std::string probes;
  for (const vexa::USProbe::Pointer &probe : video->GetAllProbes())
    probes += Form::Describe(probe) + " ";
  EXPECT_EQ("Linear[30:1/1,50:1/1|0,0,0,0] Convex[0:1/1|0,0,0,0] ", probes);

  // the form is cleared and no longer creates
  EXPECT_TRUE(form.Entries("m_Probes").isEmpty());
  form.Click("m_BtnDone");
  EXPECT_EQ(1u, vexa::test::RegisteredUSDevices().size());
  EXPECT_EQ(1, finished.count());

  // without any probe a device gets the one probe "default" at depth 0; from a camera index
  form.CreateNewDevice();
  form.Click("m_RadioDeviceSource");
  form.TypeValue("m_DeviceSelector", "3");
  form.Click("m_BtnDone");
  EXPECT_EQ(2, finished.count());
  devices = vexa::test::RegisteredUSDevices();
  ASSERT_EQ(2u, devices.size());
  auto *camera = dynamic_cast<vexa::USVideoDevice *>(devices[1].GetPointer());
  ASSERT_NE(nullptr, camera);
  EXPECT_FALSE(camera->GetIsSourceFile());
  EXPECT_EQ(3, camera->GetDeviceID());
  EXPECT_EQ("Unknown Manufacturer", camera->GetManufacturer()) << "reset by CreateNewDevice";
  ASSERT_EQ(1u, camera->GetAllProbes().size());
  EXPECT_EQ("default[0:1/1|0,0,0,0]", Form::Describe(camera->GetAllProbes()[0]));
  EXPECT_TRUE(Texts(dialogs) == QStringList{"file dialog: Open Video File"}) << Texts(dialogs).join("; ").toStdString();
}

TEST_F(NewDeviceForm, CreatesOpenIGTLinkClientsAndServersWithTheFormsDefaults)
{
  struct Case
  {
    const char *radio;
    bool server;
  };
  for (const Case &c : {Case{"m_RadioOIGTLClientSource", false}, Case{"m_RadioOIGTLServerSource", true}})
  {
    SCOPED_TRACE(c.radio);
    QSignalSpy finished(&form, SIGNAL(Finished()));
    form.CreateNewDevice();
    form.Click(c.radio);
    form.Click("m_BtnDone");
    EXPECT_EQ(1, finished.count());
    const std::vector<vexa::USDevice::Pointer> devices = vexa::test::RegisteredUSDevices();
    ASSERT_EQ(1u, devices.size());
    auto *igtl = dynamic_cast<vexa::USIGTLDevice *>(devices[0].GetPointer());
    ASSERT_NE(nullptr, igtl);
    EXPECT_EQ("localhost", igtl->GetHostname());
    EXPECT_EQ(18944, igtl->GetPort());
    EXPECT_EQ(c.server, igtl->GetIsServer());
    EXPECT_EQ("Unknown Model", igtl->GetName());
    devices[0]->UnregisterOnService();
  }
}

TEST_F(NewDeviceForm, EditsAVideoDeviceInPlaceAndRefusesOtherDevices)
{
  vexa::USVideoDevice::Pointer device = vexa::USVideoDevice::New(0, "Acme", "L14");
  device->SetComment("old");
  vexa::USProbe::Pointer linear = vexa::USProbe::New("Linear");
  linear->SetDepth(30);
  linear->SetDepth(50);
  device->AddNewProbe(linear);
  auto *source = dynamic_cast<vexa::USImageVideoSource *>(device->GetImageSource().GetPointer());
  ASSERT_NE(nullptr, source);
  source->SetColorOutput(true);
  source->OverrideResolution(320, 200);
  source->EnableResolutionOverride(true);
  ASSERT_TRUE(device->Initialize());

  // another class of device: refused, the form stays as it was
  form.CreateNewDevice();
  vexa::USIGTLDevice::Pointer igtl = vexa::USIGTLDevice::New("Acme", "Stream", "localhost", 18944, false);
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  form.EditDevice(igtl.GetPointer());
  EXPECT_EQ("Add Video Device", form.Get<QPushButton>("m_BtnDone")->text());
  EXPECT_EQ("Unknown Manufacturer", form.Get<QLineEdit>("m_Manufacturer")->text());
  ASSERT_EQ(1, Texts(dialogs).size());
  EXPECT_EQ("NewVideoDeviceWidget recieved an incompatible device type to edit. Type was: "
            "org.vexa.modules.us.USIGTLDevice",
            Texts(dialogs)[0]);

  QSignalSpy finished(&form, SIGNAL(Finished()));
  form.EditDevice(device.GetPointer());
  EXPECT_EQ("Apply Changes", form.Get<QPushButton>("m_BtnDone")->text());
  EXPECT_EQ("Acme", form.Get<QLineEdit>("m_Manufacturer")->text());
  EXPECT_EQ("L14", form.Get<QLineEdit>("m_Model")->text());
  EXPECT_EQ("old", form.Get<QLineEdit>("m_Comment")->text());
  EXPECT_EQ(QStringList{"Linear"}, form.Entries("m_Probes"));
  EXPECT_EQ(QStringList({"30", "50"}), form.Entries("m_Depths"));
  // the device's own video options, which applying keeps
  EXPECT_FALSE(form.Get<QCheckBox>("m_CheckGreyscale")->isChecked());
  EXPECT_TRUE(form.Get<QCheckBox>("m_CheckResolutionOverride")->isChecked());
  EXPECT_EQ(320, form.Get<QSpinBox>("m_ResolutionWidth")->value());
  EXPECT_EQ(200, form.Get<QSpinBox>("m_ResolutionHeight")->value());

  form.Type("m_Model", "L15");
  form.Type("m_Comment", "new");
  form.TypeValue("m_XSpacingSpinBox", "0.2"); // on the device's own probe at depth 30
  form.AddProbe("Convex");
  form.Click("m_BtnDone");

  EXPECT_EQ(1, finished.count());
  EXPECT_EQ(1u, vexa::test::RegisteredUSDevices().size()) << "changed in place, not made anew";
  EXPECT_EQ(device.GetPointer(), vexa::test::RegisteredUSDevices()[0].GetPointer());
  EXPECT_EQ("L15", device->GetName());
  EXPECT_EQ("new", device->GetComment());
  std::string probes;
  for (const vexa::USProbe::Pointer &probe : device->GetAllProbes())
    probes += Form::Describe(probe) + " ";
  EXPECT_EQ("Linear[30:0.2/1,50:1/1|0,0,0,0] Convex[0:1/1|0,0,0,0] ", probes);
  EXPECT_EQ(linear, device->GetAllProbes()[0]) << "the same probe object";
  EXPECT_TRUE(source->GetColorOutput());
  EXPECT_TRUE(source->GetResolutionOverride());
  EXPECT_EQ(320, source->GetResolutionOverrideWidth());
  EXPECT_EQ(200, source->GetResolutionOverrideHeight());
  form.Click("m_BtnDone");
  EXPECT_EQ(1, finished.count()) << "done is tied to nothing after the edit";

  // Cancel keeps what the editor did to the device's probes, but adds and removes none
  form.EditDevice(device.GetPointer());
  form.TypeValue("m_CroppingLeftSpinBox", "8");
  form.AddProbe("Phased");
  form.Click("m_CheckResolutionOverride");
  form.Click("m_BtnCancel");
  EXPECT_TRUE(source->GetResolutionOverride()) << "cancelled";
  EXPECT_EQ(2, finished.count());
  EXPECT_EQ(8u, linear->GetProbeCropping().left);
  EXPECT_EQ(2u, device->GetAllProbes().size());
  EXPECT_EQ("Apply Changes", form.Get<QPushButton>("m_BtnDone")->text()) << "captions change only when prepared";

  // the override switched off in an edit goes off
  form.EditDevice(device.GetPointer());
  form.Click("m_CheckResolutionOverride");
  form.Click("m_BtnDone");
  EXPECT_FALSE(source->GetResolutionOverride());
  EXPECT_TRUE(source->GetColorOutput());

  // prepared for editing, then for creating: done creates and leaves the edited device alone
  form.EditDevice(device.GetPointer());
  form.CreateNewDevice();
  form.Click("m_BtnDone");
  EXPECT_EQ(4, finished.count());
  EXPECT_EQ(2u, vexa::test::RegisteredUSDevices().size());
  EXPECT_EQ("Acme", device->GetManufacturer());
  EXPECT_EQ(2u, device->GetAllProbes().size());

  std::unique_ptr<QListWidgetItem> item(form.ConstructItemFromDevice(device.GetPointer()));
  EXPECT_EQ("Acme|L15", item->text());
}

TEST_F(NewDeviceForm, ALoadedConfigurationThatNamesAClipMakesADeviceThatStreamsIt)
{
  const std::string clip = folder.File("clip.avi");
  vexa::test::WriteNumberedVideo(clip, 10, 64, 48);
  const std::string config = WriteConfigFile("clip.xml", "1.0", "video", clip);

  form.CreateNewDevice();
  EXPECT_EQ("From Device: 0 | choices index file-button", form.Source());
  dialogs.AnswerFileDialog(QString::fromStdString(config));
  form.Click("m_BtnLoadConfiguration");
  EXPECT_EQ("From File: " + clip + " | choices path file-button", form.Source());
  form.Click("m_BtnDone");

  const std::vector<vexa::USDevice::Pointer> devices = vexa::test::RegisteredUSDevices();
  ASSERT_EQ(1u, devices.size());
  auto *video = dynamic_cast<vexa::USVideoDevice *>(devices[0].GetPointer());
  ASSERT_NE(nullptr, video);
  ASSERT_TRUE(video->GetIsSourceFile()) << "made on camera " << video->GetDeviceID();
  EXPECT_EQ(clip, video->GetFilePath());
  EXPECT_EQ("L1", video->GetName());
  ASSERT_TRUE(video->Connect());
  ASSERT_TRUE(video->Activate());
  EXPECT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] {
    video->Modified();
    video->Update();
    return !video->GetOutput()->IsEmpty();
  }));
  EXPECT_EQ(64u, video->GetOutput()->GetDimension(0));
  EXPECT_EQ(48u, video->GetOutput()->GetDimension(1));
  video->Disconnect();

  // a record without a path keeps the source the user chose
  form.CreateNewDevice();
  form.Click("m_RadioOIGTLClientSource");
  dialogs.AnswerFileDialog(QString::fromStdString(WriteConfigFile("plain.xml", "1.0", "video")));
  form.Click("m_BtnLoadConfiguration");
  EXPECT_EQ("OIGTL Client | choices file-button client", form.Source());
  EXPECT_TRUE(form.Get<QLineEdit>("m_FilePathSelector")->text().isEmpty());
  EXPECT_EQ(QStringList({"file dialog: Open ultrasound device configuration ...",
                         "file dialog: Open ultrasound device configuration ..."}),
            Texts(dialogs));
}

TEST_F(NewDeviceForm, EditingShowsTheDevicesSourceAsFixedAndKeepsIt)
{
  const std::string clip = folder.File("clip.avi");
  vexa::test::WriteNumberedVideo(clip, 10, 64, 48);
  vexa::USVideoDevice::Pointer camera = vexa::USVideoDevice::New(3, "Acme", "Cam");
  vexa::USVideoDevice::Pointer player = vexa::USVideoDevice::New(clip, "Acme", "Player");
  ASSERT_TRUE(camera->Initialize());
  ASSERT_TRUE(player->Initialize());
  QSignalSpy finished(&form, SIGNAL(Finished()));

  form.CreateNewDevice();
  form.Click("m_RadioOIGTLServerSource");
  form.EditDevice(camera.GetPointer());
  EXPECT_EQ("From Device: 3 | | fixed", form.Source()) << "the device's own source, closed";
  ASSERT_NE(nullptr, form.Get<QLabel>("m_LabelSourceFixed"));
  EXPECT_EQ("The source of a device is fixed once the device is made. To use another source, remove this device and "
            "add a new one.",
            form.Get<QLabel>("m_LabelSourceFixed")->text());
  // what a user tries: another choice, the file button, a configuration that names a clip
  form.Click("m_RadioFileSource");
  form.Click("m_OpenFileButton");
  dialogs.AnswerFileDialog(QString::fromStdString(WriteConfigFile("clip.xml", "1.0", "video", clip)));
  form.Click("m_BtnLoadConfiguration");
  EXPECT_EQ("L1", form.Get<QLineEdit>("m_Model")->text()) << "the rest of the record is taken";
  EXPECT_EQ("From Device: 3 | | fixed", form.Source());
  form.Click("m_BtnDone");
  EXPECT_EQ(1, finished.count());
  EXPECT_FALSE(camera->GetIsSourceFile());
  EXPECT_EQ(3, camera->GetDeviceID());
  EXPECT_EQ("L1", camera->GetName());

  // after the edit, a new device has the whole choice again
  form.CreateNewDevice();
  EXPECT_EQ("From Device: 3 | choices index file-button", form.Source());

  // a device on a clip shows its clip; Cancel opens the choice again
  form.EditDevice(player.GetPointer());
  EXPECT_EQ("From File: " + clip + " | | fixed", form.Source());
  form.Click("m_RadioDeviceSource");
  form.Click("m_BtnDone");
  EXPECT_TRUE(player->GetIsSourceFile());
  EXPECT_EQ(clip, player->GetFilePath());
  form.EditDevice(player.GetPointer());
  form.Click("m_BtnCancel");
  EXPECT_EQ(3, finished.count());
  form.CreateNewDevice();
  EXPECT_EQ("From File: " + clip + " | choices path file-button", form.Source());
  EXPECT_EQ(QStringList({"file dialog: Open ultrasound device configuration ..."}), Texts(dialogs))
    << "the file button opened nothing";
}

TEST_F(NewDeviceForm, ConfigurationRoundTripKeepsEveryValue)
{
  form.CreateNewDevice();
  form.Get<QLineEdit>("m_DeviceName")->setText(QString::fromUtf8("Gerät 1 – 超声"));
  form.Get<QLineEdit>("m_Manufacturer")->setText(QString::fromUtf8("Müller"));
  form.Type("m_Model", "L14");
  form.Get<QLineEdit>("m_Comment")->setText(QString::fromUtf8("links, \"quoted\" & <tagged>"));
  form.TypeValue("m_DeviceSelector", "2");
  form.Get<QLineEdit>("m_FilePathSelector")->setText(QString::fromUtf8("/data/Aufnahme ä.avi"));
  form.Click("m_CheckGreyscale");
  form.Click("m_CheckResolutionOverride");
  form.TypeValue("m_ResolutionHeight", "300");
  form.AddProbe(QString::fromUtf8("Linear"));
  form.AddDepths("30,50");
  form.TypeValue("m_XSpacingSpinBox", "0.125");
  form.TypeValue("m_CroppingTopSpinBox", "10");
  form.AddProbe("Convex");
  form.SelectProbe(1);
  form.AddDepths("80");
  form.TypeValue("m_YSpacingSpinBox", "0.333333");
  form.TypeValue("m_CroppingRightSpinBox", "400");
  form.AddProbe("Bare");
  const std::string probes = form.Probes();

  const std::string file = folder.File("device.xml");
  dialogs.AnswerFileDialog(QString::fromStdString(file));
  form.Click("m_BtnSave");

  Form loaded;
  loaded.show();
  dialogs.AnswerFileDialog(QString::fromStdString(file));
  loaded.Click("m_BtnLoadConfiguration");
  EXPECT_EQ(QString::fromUtf8("Gerät 1 – 超声"), loaded.Get<QLineEdit>("m_DeviceName")->text());
  for (const char *name : {"m_Manufacturer", "m_Model", "m_Comment", "m_FilePathSelector"})
    EXPECT_EQ(form.Get<QLineEdit>(name)->text(), loaded.Get<QLineEdit>(name)->text()) << name;
  EXPECT_EQ(2, loaded.Get<QSpinBox>("m_DeviceSelector")->value());
  EXPECT_FALSE(loaded.Get<QCheckBox>("m_CheckGreyscale")->isChecked());
  EXPECT_TRUE(loaded.Get<QCheckBox>("m_CheckResolutionOverride")->isChecked());
  EXPECT_EQ(640, loaded.Get<QSpinBox>("m_ResolutionWidth")->value());
  EXPECT_EQ(300, loaded.Get<QSpinBox>("m_ResolutionHeight")->value());
  EXPECT_EQ(probes, loaded.Probes());
  EXPECT_EQ(QStringList({"30", "50"}), loaded.Entries("m_Depths")) << "the first probe's depths are shown";
  EXPECT_DOUBLE_EQ(0.125, loaded.Get<QDoubleSpinBox>("m_XSpacingSpinBox")->value());
  EXPECT_EQ("1 1 1", loaded.Enabled());
  EXPECT_TRUE(loaded.Get<QRadioButton>("m_RadioFileSource")->isChecked()) << "the stored file path is the source";

  // the file says version 1 and a video device whatever the source choice
  const std::string text = vexa::test::ReadFile(file);
  EXPECT_NE(std::string::npos, text.find("fileversion=\"1\"")) << text;
  EXPECT_NE(std::string::npos, text.find("deviceType=\"video\"")) << text;

  EXPECT_EQ(
    QStringList({"file dialog: Save Configuration ...", "file dialog: Open ultrasound device configuration ..."}),
    Texts(dialogs));
}

TEST_F(NewDeviceForm, AFileTheFormCannotTakeLeavesEverythingTyped)
{
  struct Case
  {
    const char *name;
    std::string version, type;
    std::string warning; // empty: the file is refused by the reader
    QString box;
  };
  const std::vector<Case> cases = {
    {"another file version", "2", "video", kUnknownVersion, QString::fromStdString(kUnknownVersion)},
    {"version 1.5", "1.5", "video", kUnknownVersion, QString::fromStdString(kUnknownVersion)},
    {"another device type", "1", "camera", kUnknownType, QString::fromStdString(kUnknownType)},
    {"a device type in other letter case", "1.0", "Video", kUnknownType, QString::fromStdString(kUnknownType)},
    {"a file that is no configuration", "broken", "", "", kParseError},
  };
  form.CreateNewDevice();
  form.Type("m_Model", "typed model");
  form.AddProbe("Typed");
  form.AddDepths("12");
  const std::string probes = form.Probes();
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    std::string file = folder.File("broken.xml");
    if (c.version == "broken")
      std::ofstream(file) << "<ultrasoundDevice fileversion=\"1\"><general deviceType=\"video\"";
    else
      file = WriteConfigFile("config.xml", c.version, c.type);
    const int shown = Texts(dialogs).size();
    dialogs.AnswerFileDialog(QString::fromStdString(file));
    dialogs.AnswerMessageBox(QMessageBox::Ok);
    vorlen::CapturingSink sink;
    form.Click("m_BtnLoadConfiguration");
    if (!c.warning.empty())
    {
      EXPECT_EQ(std::vector<std::string>{c.warning}, sink.Texts(1));
    }
    EXPECT_EQ("typed model", form.Get<QLineEdit>("m_Model")->text());
    EXPECT_EQ(probes, form.Probes());
    EXPECT_EQ(QStringList{"12"}, form.Entries("m_Depths"));
    EXPECT_EQ(QStringList({"file dialog: Open ultrasound device configuration ...", c.box}), Texts(dialogs, shown));
    EXPECT_EQ(0, dialogs.PendingAnswers());
  }

  // a file it can take replaces the probes and shows the first one's depths
  dialogs.AnswerFileDialog(QString::fromStdString(WriteConfigFile("good.xml", "1", "video")));
  form.Click("m_BtnLoadConfiguration");
  EXPECT_EQ("L1", form.Get<QLineEdit>("m_Model")->text());
  EXPECT_EQ("Loaded probe[40:1/1|0,0,0,0]", form.Probes());
  EXPECT_EQ(QStringList{"40"}, form.Entries("m_Depths"));
  EXPECT_EQ("Add Video Device", form.Get<QPushButton>("m_BtnDone")->text()) << "still creating";
}

TEST_F(NewDeviceForm, ARefusedConfigurationWriteKeepsTheOldFile)
{
  const std::string file = folder.File("device.xml");
  const std::string old = "<old/>";
  std::ofstream(file) << old;

  form.CreateNewDevice();
  form.AddProbe("Linear");
  form.AddDepths("30,40,50,60");
  dialogs.AnswerFileDialog(QString::fromStdString(file));
  dialogs.AnswerMessageBox(QMessageBox::Yes); // the file dialog asks before replacing
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  {
    // a disk that takes no more than 64 bytes per file
    vexa::test::FileSizeLimit limit(64);
    ASSERT_TRUE(limit.IsSet());
    form.Click("m_BtnSave");
  }
  EXPECT_EQ(old, vexa::test::ReadFile(file));
  ASSERT_EQ(3, Texts(dialogs).size());
  EXPECT_EQ(kWriteError, Texts(dialogs)[2]);

  // and a write that can be done replaces it
  dialogs.AnswerFileDialog(QString::fromStdString(file));
  dialogs.AnswerMessageBox(QMessageBox::Yes);
  form.Click("m_BtnSave");
  EXPECT_NE(std::string::npos, vexa::test::ReadFile(file).find("<probe name=\"Linear\">"));
  EXPECT_EQ(5, Texts(dialogs).size());
}
