// The video device panel against a real video device reading a clip, and
// against stand-in controls that record every call and refuse crops that
// leave no pixel of their picture.

#include <QvexaUSControlsCustomVideoDeviceWidget.h>

#include <vexaException.h>
#include <vexaTestDialogDriver.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaUSDeviceTestSupport.h>
#include <vexaTestVideos.h>
#include <vexaUSVideoDevice.h>
#include <vexaUSVideoDeviceCustomControls.h>
#include <vorlenLogSink.h>

#include <QApplication>
#include <QComboBox>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
  using Calls = std::vector<std::string>;
  using Cropping = vexa::USImageVideoSource::USImageCropping;

  const QString kInvalidCrop =
    "The crop area you specified is invalid.\nPlease make sure that no more pixels are cropped than are available.";

  std::string Text(const Cropping &c)
  {
    return std::to_string(c.top) + " " + std::to_string(c.bottom) + " " + std::to_string(c.left) + " " +
           std::to_string(c.right);
  }

  /**
   * Video custom controls without a device: probes with depths and crops,
   * a picture of Width x Height that a crop must leave a pixel of, and a
   * record of every call ("SetCropArea 0 0 20 0": top, bottom, left, right).
   */
  class FakeVideoControls : public vexa::USVideoDeviceCustomControls
  {
  public:
    vexaClassMacro(FakeVideoControls, vexa::USVideoDeviceCustomControls);
    static Pointer New()
    {
      Pointer p = new FakeVideoControls;
      p->UnRegister();
      return p;
    }

    void AddProbe(const std::string &name, std::vector<int> depths, Cropping crop = Cropping())
    {
      auto probe = vexa::USProbe::New(name);
      for (int d : depths)
        probe->SetDepth(d);
      probe->SetProbeCropping(crop.top, crop.bottom, crop.left, crop.right);
      m_Probes.push_back(probe);
    }

    vexa::test::USCallRecord Record;
    std::uint32_t Width = 640, Height = 480;
    bool ThrowOnDepth = false;
    Cropping Applied;

    void SetCropArea(Cropping c) override
    {
      Record.Add("SetCropArea " + Text(c));
      if (std::uint64_t(c.left) + c.right >= Width || std::uint64_t(c.top) + c.bottom >= Height)
        vexaThrow() << "The crop leaves no pixel.";
      Applied = c;
    }
    vexa::USProbe::USProbeCropping_ GetCropArea() override
    {
      return m_Current ? m_Current->GetProbeCropping() : vexa::USProbe::USProbeCropping_();
    }
    void UpdateProbeCropping(Cropping c) override
    {
      Record.Add("UpdateProbeCropping " + Text(c));
      if (m_Current)
        m_Current->SetProbeCropping(c.top, c.bottom, c.left, c.right);
    }
    void SetNewDepth(double depth) override
    {
      Record.Add(vexa::test::USCallRecord::Text("SetNewDepth", depth));
      if (ThrowOnDepth)
        throw std::runtime_error("depth motor stalled");
    }
    void SetNewProbeIdentifier(std::string name) override
    {
      Record.Add("SetNewProbeIdentifier " + name);
      for (auto &p : m_Probes)
        if (p->GetName() == name)
          m_Current = p;
    }
    std::vector<vexa::USProbe::Pointer> GetProbes() override { return m_Probes; }
    std::vector<int> GetDepthsForProbe(std::string name) override
    {
      std::vector<int> depths;
      for (auto &p : m_Probes)
        if (p->GetName() == name)
          for (auto &entry : p->GetDepthsAndSpacing())
            depths.push_back(entry.first);
      return depths;
    }
    void SetDefaultProbeAsCurrentProbe() override
    {
      Record.Add("SetDefaultProbeAsCurrentProbe");
      m_Current = m_Probes.empty() ? nullptr : m_Probes.front();
    }

  protected:
    FakeVideoControls() : USVideoDeviceCustomControls(nullptr) {}

  private:
    std::vector<vexa::USProbe::Pointer> m_Probes;
    vexa::USProbe::Pointer m_Current;
  };

  /** A device of the video class whose custom controls are the fake. */
  vexa::test::USTestDevice::Pointer DeviceWith(FakeVideoControls *controls)
  {
    auto device = vexa::test::USTestDevice::New(1, "Fake", "Video", vexa::USVideoDevice::GetDeviceClassStatic());
    device->SetCustomControls(controls);
    return device;
  }

  class VideoPanel : public ::testing::Test
  {
  protected:
    QApplication *app = vexa::test::QtApplication::Instance();
    QvexaUSControlsCustomVideoDeviceWidget prototype;
    QWidget host;

    /** A copy made for showing, given `device`. Owned by `host`. */
    QvexaUSAbstractCustomWidget *Panel(vexa::USDevice *device)
    {
      QvexaUSAbstractCustomWidget *panel = prototype.CloneForQt(&host);
      if (device)
        panel->SetDevice(device);
      return panel;
    }
    template <class T>
    static T *Find(QWidget *panel, const char *name)
    {
      return vexa::test::NamedChild<T>(panel, name);
    }
    static QSpinBox *Box(QWidget *panel, const char *name) { return Find<QSpinBox>(panel, name); }
    /** The boxes as top, bottom, left, right. */
    static std::string Shown(QWidget *panel)
    {
      return std::to_string(Box(panel, "crop_top")->value()) + " " + std::to_string(Box(panel, "crop_bot")->value()) +
             " " + std::to_string(Box(panel, "crop_left")->value()) + " " +
             std::to_string(Box(panel, "crop_right")->value());
    }
    static QStringList Items(QWidget *panel, const char *combo)
    {
      QStringList items;
      auto *box = Find<QComboBox>(panel, combo);
      for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
      return items;
    }
  };
}

TEST_F(VideoPanel, FormAndPrototype)
{
  EXPECT_EQ("org.vexa.modules.us.USVideoDevice", prototype.GetDeviceClass());
  QWidget *panel = Panel(nullptr);
  EXPECT_TRUE(static_cast<QvexaUSAbstractCustomWidget *>(panel)->GetDevice().IsNull());
  EXPECT_EQ(QSize(383, 238), panel->size());
  for (const char *name : {"crop_top", "crop_bot", "crop_left", "crop_right"})
  {
    SCOPED_TRACE(name);
    QSpinBox *box = Box(panel, name);
    EXPECT_EQ(0, box->minimum());
    EXPECT_EQ(999, box->maximum());
    EXPECT_EQ(5, box->singleStep());
    EXPECT_FALSE(box->isEnabled()); // nothing to crop yet
    box->setValue(1000);
    EXPECT_EQ(999, box->value());
  }
}

TEST_F(VideoPanel, RealDeviceCropsSwitchesProbesAndRollsBackARefusedCrop)
{
  vexa::test::TemporaryFolder folder;
  const std::string clip = folder.File("clip.avi");
  vexa::test::WriteNumberedVideo(clip, 5, 64, 48);
  auto device = vexa::USVideoDevice::New(clip, "Clinic", "Clip");
  auto p1 = vexa::USProbe::New("P1");
  p1->SetDepth(40);
  p1->SetDepth(60);
  p1->SetProbeCropping(5, 0, 0, 0);
  auto p2 = vexa::USProbe::New("P2 ü");
  p2->SetDepth(80);
  p2->SetProbeCropping(0, 0, 10, 7);
  device->AddNewProbe(p1);
  device->AddNewProbe(p2);
  // an initialised device stays registered (and alive) until it is withdrawn
  const std::shared_ptr<void> withdraw(nullptr, [&](void *) { device->UnregisterOnService(); });
  ASSERT_TRUE(device->Initialize());
  ASSERT_TRUE(device->Connect());
  auto *source = static_cast<vexa::USImageVideoSource *>(device->GetImageSource().GetPointer());

  QWidget *panel = Panel(device.GetPointer());
  EXPECT_EQ(QStringList({"P1", "P2 ü"}), Items(panel, "m_ProbeIdentifier"));
  EXPECT_EQ(QStringList({"40", "60"}), Items(panel, "m_UsDepth"));
  EXPECT_EQ(40.0, device->GetCurrentDepth());
  EXPECT_EQ("5 0 0 0", Shown(panel));
  EXPECT_TRUE(Box(panel, "crop_left")->isEnabled());

  Find<QComboBox>(panel, "m_UsDepth")->setCurrentIndex(1);
  EXPECT_EQ(60.0, device->GetCurrentDepth());

  Box(panel, "crop_left")->setValue(20);
  EXPECT_EQ("5 0 20 0", Text(source->GetCropping()));
  EXPECT_EQ(20u, p1->GetProbeCropping().left);

  // 20 + 50 leaves no column of the 64 wide picture: everything goes back to 5 0 20 0
  vexa::test::DialogDriver dialogs;
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  vorlen::CapturingSink log;
  Box(panel, "crop_right")->setValue(50);
  ASSERT_EQ(1u, dialogs.ShownDialogs().size());
  EXPECT_EQ(kInvalidCrop, dialogs.ShownDialogs()[0].informativeText);
  EXPECT_TRUE(log.Contains("User tried to crop beyond limits of the image", 1));
  EXPECT_EQ("5 0 20 0", Shown(panel));
  EXPECT_EQ("5 0 20 0", Text(source->GetCropping()));
  EXPECT_EQ(0u, p1->GetProbeCropping().right);

  // the other probe: its depths, its crop
  Find<QComboBox>(panel, "m_ProbeIdentifier")->setCurrentIndex(1);
  EXPECT_EQ("P2 ü", device->GetCurrentProbe()->GetName());
  EXPECT_EQ(QStringList({"80"}), Items(panel, "m_UsDepth"));
  EXPECT_EQ(80.0, device->GetCurrentDepth());
  EXPECT_EQ("0 0 10 7", Shown(panel));
  EXPECT_EQ("0 0 10 7", Text(source->GetCropping()));
  EXPECT_EQ(1u, dialogs.ShownDialogs().size());
}

TEST_F(VideoPanel, CropsAreAppliedWholeAndOnce)
{
  auto controls = FakeVideoControls::New();
  Cropping wide;
  wide.top = 1200; // beyond what a box shows
  wide.left = 10;
  controls->Height = 2000;
  controls->AddProbe("P1", {40, 60});
  controls->AddProbe("P2", {80}, wide);
  auto device = DeviceWith(controls);
  QWidget *panel = Panel(device.GetPointer());
  EXPECT_EQ(
    Calls({"SetDefaultProbeAsCurrentProbe", "SetNewDepth 40", "SetCropArea 0 0 0 0", "UpdateProbeCropping 0 0 0 0"}),
    controls->Record.Calls());
  controls->Record.Clear();

  Find<QComboBox>(panel, "m_ProbeIdentifier")->setCurrentIndex(1);
  EXPECT_EQ(
    Calls({"SetNewProbeIdentifier P2", "SetNewDepth 80", "SetCropArea 1200 0 10 0", "UpdateProbeCropping 1200 0 10 0"}),
    controls->Record.Calls());
  EXPECT_EQ("999 0 10 0", Shown(panel));
  controls->Record.Clear();

  // another side changes: the top keeps the device's 1200, not the box's 999
  Box(panel, "crop_bot")->setValue(5);
  EXPECT_EQ(Calls({"SetCropArea 1200 5 10 0", "UpdateProbeCropping 1200 5 10 0"}), controls->Record.Calls());
  controls->Record.Clear();
  Box(panel, "crop_top")->setValue(100);
  EXPECT_EQ(Calls({"SetCropArea 100 5 10 0", "UpdateProbeCropping 100 5 10 0"}), controls->Record.Calls());
}

TEST_F(VideoPanel, RefusedCropsGoBackToTheLastAcceptedOneOfThisDevice)
{
  auto first = FakeVideoControls::New();
  first->Width = 100;
  first->AddProbe("P1", {40});
  auto firstDevice = DeviceWith(first);
  QWidget *panel = Panel(firstDevice.GetPointer());
  Box(panel, "crop_left")->setValue(20);

  vexa::test::DialogDriver dialogs;
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  first->Record.Clear();
  Box(panel, "crop_right")->setValue(80);
  EXPECT_EQ(Calls({"SetCropArea 0 0 20 80", "SetCropArea 0 0 20 0", "UpdateProbeCropping 0 0 20 0"}),
            first->Record.Calls());
  EXPECT_EQ("0 0 20 0", Shown(panel));

  // a new device starts from its own crop: a refusal returns there, not to the old device's
  auto second = FakeVideoControls::New();
  second->Width = 100;
  second->AddProbe("Q", {});
  auto secondDevice = DeviceWith(second);
  static_cast<QvexaUSAbstractCustomWidget *>(panel)->SetDevice(secondDevice.GetPointer());
  EXPECT_EQ("0 0 0 0", Shown(panel));
  second->Record.Clear();
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  Box(panel, "crop_right")->setValue(100);
  EXPECT_EQ(Calls({"SetCropArea 0 0 0 100", "SetCropArea 0 0 0 0", "UpdateProbeCropping 0 0 0 0"}),
            second->Record.Calls());
  EXPECT_EQ(2u, dialogs.ShownDialogs().size());
  EXPECT_TRUE(first->Record.Calls().size() == 3u); // the old device hears nothing more
}

TEST_F(VideoPanel, ASecondDeviceNeitherDuplicatesNorSendsDepthZero)
{
  auto controls = FakeVideoControls::New();
  controls->AddProbe("P1", {40, 60});
  controls->AddProbe("Bare", {}); // no depths
  auto device = DeviceWith(controls);
  auto *panel = static_cast<QvexaUSAbstractCustomWidget *>(Panel(device.GetPointer()));
  panel->SetDevice(device.GetPointer());
  EXPECT_EQ(QStringList({"P1", "Bare"}), Items(panel, "m_ProbeIdentifier"));
  EXPECT_EQ(QStringList({"40", "60"}), Items(panel, "m_UsDepth"));

  controls->Record.Clear();
  Find<QComboBox>(panel, "m_UsDepth")->setCurrentIndex(1);
  EXPECT_EQ(Calls({"SetNewDepth 60"}), controls->Record.Calls()); // once: one connection

  controls->Record.Clear();
  Find<QComboBox>(panel, "m_ProbeIdentifier")->setCurrentIndex(1);
  EXPECT_EQ(Calls({"SetNewProbeIdentifier Bare", "SetCropArea 0 0 0 0", "UpdateProbeCropping 0 0 0 0"}),
            controls->Record.Calls());
  EXPECT_TRUE(Items(panel, "m_UsDepth").isEmpty());
}

TEST_F(VideoPanel, WithoutVideoControlsTheCropIsOff)
{
  auto other = vexa::test::USTestDevice::New(); // no custom controls at all
  auto diphas = vexa::test::USTestDiPhASDevice::New();
  for (vexa::USDevice *device :
       {static_cast<vexa::USDevice *>(other.GetPointer()), static_cast<vexa::USDevice *>(diphas.GetPointer())})
  {
    vorlen::CapturingSink log;
    QWidget *panel = Panel(device);
    EXPECT_EQ(std::vector<std::string>{"Did not get a custom video device control interface."}, log.Texts(1));
    for (const char *name : {"crop_top", "crop_bot", "crop_left", "crop_right"})
      EXPECT_FALSE(Box(panel, name)->isEnabled()) << name;
    Box(panel, "crop_left")->setValue(500); // does nothing
    EXPECT_TRUE(Items(panel, "m_ProbeIdentifier").isEmpty());
  }
  EXPECT_TRUE(diphas->GetDiPhASControls()->Record.Calls().empty());
}

TEST_F(VideoPanel, OtherFailuresOfTheDeviceAreCaughtAndShown)
{
  auto controls = FakeVideoControls::New();
  controls->AddProbe("P1", {40, 60});
  auto device = DeviceWith(controls);
  QWidget *panel = Panel(device.GetPointer());
  controls->ThrowOnDepth = true;
  vexa::test::DialogDriver dialogs;
  dialogs.AnswerMessageBox(QMessageBox::Ok);
  vorlen::CapturingSink log;

  Find<QComboBox>(panel, "m_UsDepth")->setCurrentIndex(1);
  ASSERT_EQ(1u, dialogs.ShownDialogs().size());
  EXPECT_TRUE(dialogs.ShownDialogs()[0].text.contains("depth motor stalled"));
  EXPECT_TRUE(log.Contains("depth motor stalled", 2));

  controls->Record.Clear();
  Box(panel, "crop_top")->setValue(5); // the panel goes on
  EXPECT_EQ(Calls({"SetCropArea 5 0 0 0", "UpdateProbeCropping 5 0 0 0"}), controls->Record.Calls());
}
