// What a person sees of the panels: each one shown as a window at its own
// size, every text in full, and a picture of it in the build tree
// (screenshots/Parmody/<panel>.png). Run under an X server (xvfb-run with
// QT_QPA_PLATFORM=xcb) to look at the real thing; offscreen draws the same.

#include <QvexaUSControlsBModeWidget.h>
#include <QvexaUSControlsCustomDiPhASDeviceWidget.h>
#include <QvexaUSControlsCustomVideoDeviceWidget.h>
#include <QvexaUSControlsDopplerWidget.h>
#include <QvexaUSControlsProbesWidget.h>

#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaUSDeviceTestSupport.h>
#include <vexaTestVideos.h>
#include <vexaUSVideoDevice.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <set>

namespace
{
  void ExpectEveryTextFits(const QWidget *panel)
  {
    for (const QWidget *child : panel->findChildren<QWidget *>())
    {
      const auto *label = qobject_cast<const QLabel *>(child);
      const auto *button = qobject_cast<const QAbstractButton *>(child);
      if ((!label && !button) || !child->isVisible())
        continue;
      const QString text = label ? label->text() : button->text();
      if (text.isEmpty())
        continue;
      SCOPED_TRACE(child->objectName().toStdString() + " \"" + text.toStdString() + "\"");
      // what the text itself needs, not what its fixed size says
      QSize needed = label ? label->sizeHint() : button->sizeHint();
      if (label && label->textFormat() != Qt::PlainText && Qt::mightBeRichText(text))
      {
        QTextDocument document;
        document.setDefaultFont(label->font());
        document.setDocumentMargin(0);
        document.setHtml(text);
        needed = document.size().toSize();
        needed.setHeight(label->fontMetrics().height());
      }
      EXPECT_GE(child->width(), needed.width() - 1);
      EXPECT_GE(child->height(), label ? label->fontMetrics().height() : needed.height() - 4);
    }
  }

  /** More than one colour: something was drawn. */
  bool IsDrawn(const QImage &image)
  {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 3; y += 3)
      for (int x = 0; x < image.width() && colours.size() < 3; x += 3)
        colours.insert(image.pixel(x, y));
    return colours.size() >= 3;
  }
}

TEST(ParmodyPanelsLook, EveryTextShowsInFull)
{
  vexa::test::QtApplication::Instance();
  ASSERT_TRUE(QDir().mkpath("screenshots/Parmody"));

  auto bmode = vexa::test::USTestBModeControls::New();
  auto probes = vexa::test::USTestProbesControls::New();
  probes->SetProbeNames({"L14-5 linear", "C5-2 convex", "P4-1 phased"});
  auto diphas = vexa::test::USTestDiPhASDevice::New();
  vexa::test::TemporaryFolder folder;
  vexa::test::WriteNumberedVideo(folder.File("clip.avi"), 2, 640, 480);
  auto video = vexa::USVideoDevice::New(folder.File("clip.avi"), "Clinic", "Grabber");
  for (const char *name : {"L14-5 linear", "C5-2 convex"})
  {
    auto probe = vexa::USProbe::New(name);
    probe->SetDepth(40);
    probe->SetDepth(120);
    probe->SetProbeCropping(35, 120, 210, 205);
    video->AddNewProbe(probe);
  }
  // an initialised device stays registered (and alive) until it is withdrawn
  const std::shared_ptr<void> withdraw(nullptr, [&](void *) { video->UnregisterOnService(); });
  ASSERT_TRUE(video->Initialize());
  ASSERT_TRUE(video->Connect());
  QvexaUSControlsCustomVideoDeviceWidget videoPrototype;
  QvexaUSControlsCustomDiPhASDeviceWidget diphasPrototype;

  const std::vector<std::pair<const char *, std::function<QWidget *()>>> panels = {
    {"bmode", [&] { return new QvexaUSControlsBModeWidget(bmode.GetPointer()); }},
    {"probes", [&] { return new QvexaUSControlsProbesWidget(probes.GetPointer()); }},
    {"doppler", [&] { return new QvexaUSControlsDopplerWidget(nullptr); }},
    {"video",
     [&] {
       QvexaUSAbstractCustomWidget *panel = videoPrototype.CloneForQt(nullptr);
       panel->SetDevice(video.GetPointer());
       return panel;
     }},
    {"diphas",
     [&] {
       QvexaUSAbstractCustomWidget *panel = diphasPrototype.CloneForQt(nullptr);
       panel->SetDevice(diphas.GetPointer());
       return panel;
     }},
  };
  for (const auto &entry : panels)
  {
    SCOPED_TRACE(entry.first);
    std::unique_ptr<QWidget> panel(entry.second());
    const QSize formSize = panel->size();
    panel->show();
    // at the form's size (the window's default when the form gives none), then as small as it goes
    for (const QSize &size : {formSize.expandedTo(panel->minimumSizeHint()), panel->minimumSizeHint()})
    {
      panel->resize(size);
      vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
      ExpectEveryTextFits(panel.get());
    }
    panel->resize(formSize.expandedTo(panel->minimumSizeHint()));
    vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
    const QImage shot = panel->grab().toImage();
    EXPECT_TRUE(std::string(entry.first) == "doppler" || IsDrawn(shot)); // the Doppler page is empty
    EXPECT_TRUE(shot.save(QString("screenshots/Parmody/%1.png").arg(entry.first)));
  }
}
