// The automatic window as a person sees it: the five-absorber phantom's
// B-mode image, as Kestrol writes it, loaded into the workbench and drawn by
// its render window (in this process on Qt's offscreen platform, and by the
// program on an X server for the screenshot).

#include <QvexaRenderWindow.h>
#include <QvexaWorkbenchWindow.h>

#include <vexaRawPhotoacousticPhantom.h>

#include <vexaIOUtil.h>
#include <vexaTestChildProcess.h>
#include <vexaTestQtApplication.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaTestXServer.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
  using Phantom = vexa::RawPhotoacousticPhantom;

  // Kestrol's B-mode image of the phantom at the phantom's speed of sound
  std::string KestrolBmode(const vexa::test::TemporaryFolder &folder)
  {
    const std::string output = folder.File("phantom-bmode.nrrd");
    const vexa::test::ProgramResult run =
      vexa::test::RunProgram(VEXA_KESTROL_EXECUTABLE, {"-i", VEXA_KESTROL_PHANTOM, "-o", output, "-sos", "1540"});
    EXPECT_TRUE(vexa::test::RanToSuccess(run));
    return output;
  }

  struct Figures
  {
    double whiteShare = 0;               // of the picture
    std::vector<double> discWhiteShares; // of each absorber's 0.5 mm disc, in Phantom::Absorbers() order
    std::vector<int> peakGreys;          // the brightest grey within Phantom::PeakRadiusMm of each absorber
    int background = 0;                  // 99.5th percentile of the greys farther than 2.5 mm from every absorber
  };

  // The figures of a picture of the image drawn into `rect` the way the
  // render window draws it: each picture pixel shows the image pixel under
  // its centre, which places it in millimetres.
  Figures Measure(const QImage &picture, const QRect &rect, const vexa::Image *image)
  {
    const unsigned int nx = image->GetDimension(0), ny = image->GetDimension(1);
    const vexa::Vector3D spacing = image->GetGeometry()->GetSpacing();
    const vexa::Point3D origin = image->GetGeometry()->GetOrigin();
    const auto mm = [](int i, int pixels, unsigned int n, double s, double o) {
      return o + std::floor((2.0 * i + 1) * n / (2.0 * pixels)) * s;
    };
    struct Pixel
    {
      double x, z;
      int grey;
    };
    std::vector<Pixel> pixels;
    for (int j = 0; j < rect.height(); ++j)
      for (int i = 0; i < rect.width(); ++i)
        pixels.push_back({mm(i, rect.width(), nx, spacing[0], origin[0]),
                          mm(j, rect.height(), ny, spacing[1], origin[1]),
                          qGray(picture.pixel(rect.x() + i, rect.y() + j))});

    Figures f;
    const auto white = [](const Pixel &p) { return p.grey == 255; };
    f.whiteShare = double(std::count_if(pixels.begin(), pixels.end(), white)) / pixels.size();
    std::vector<int> background;
    for (const Pixel &p : pixels)
    {
      bool far = true;
      for (const Phantom::Source &a : Phantom::Absorbers())
        far = far && std::hypot(p.x - a.xMm, p.z - a.zMm) > Phantom::BackgroundDistanceMm;
      if (far)
        background.push_back(p.grey);
    }
    std::sort(background.begin(), background.end());
    f.background = background[static_cast<std::size_t>(0.995 * (background.size() - 1) + 0.5)];
    for (const Phantom::Source &a : Phantom::Absorbers())
    {
      // the disc lies around the absorber's drawn peak, which beamforming may place a little off
      const Pixel *peak = nullptr;
      for (const Pixel &p : pixels)
        if (std::hypot(p.x - a.xMm, p.z - a.zMm) <= Phantom::PeakRadiusMm && (!peak || p.grey > peak->grey))
          peak = &p;
      EXPECT_TRUE(peak) << "no pixel near the absorber at " << a.xMm << ", " << a.zMm;
      if (!peak)
        return f;
      std::size_t disc = 0, whiteInDisc = 0;
      for (const Pixel &p : pixels)
        if (std::hypot(p.x - peak->x, p.z - peak->z) <= 0.5)
        {
          ++disc;
          whiteInDisc += white(p);
        }
      f.peakGreys.push_back(peak->grey);
      f.discWhiteShares.push_back(double(whiteInDisc) / disc);
    }
    return f;
  }

  void ExpectTheTargets(const Figures &f)
  {
    EXPECT_LE(f.whiteShare, 0.005) << "of the picture at full white";
    ASSERT_EQ(Phantom::Absorbers().size(), f.peakGreys.size());
    for (std::size_t i = 0; i < f.peakGreys.size(); ++i)
    {
      EXPECT_LE(f.discWhiteShares[i], 0.10) << "absorber " << i << " is clipped to white";
      if (i < Phantom::InnerAbsorbers().size())
      {
        EXPECT_GE(f.peakGreys[i], 1.5 * f.background) << "absorber " << i << " against the background";
      }
    }
  }
}

TEST(WorkbenchPhantom, TheAutomaticWindowDrawsEveryAbsorberAboveTheArtefactsUnclipped)
{
  vexa::test::QtApplication::WithGuiThreadCallback();
  vexa::test::TemporaryFolder folder;
  const std::string bmode = KestrolBmode(folder);

  for (const QSize &size : {QSize(1200, 800), QSize(1600, 1000)})
  {
    QvexaWorkbenchWindow window;
    window.resize(size);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QList<vexa::DataNode::Pointer> loaded = window.LoadFiles({QString::fromStdString(bmode)});
    ASSERT_EQ(1, loaded.size());
    QvexaRenderWindow *render = window.GetRenderWindow();
    ASSERT_TRUE(vexa::test::QtApplication::ProcessEventsUntil([&] { return render->GetShownNode() == loaded[0]; }));
    vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(100));
    const auto *image = dynamic_cast<const vexa::Image *>(loaded[0]->GetData().GetPointer());
    const Figures f = Measure(render->grab().toImage(), render->GetImageRect(), image);
    ExpectTheTargets(f);
  }
}

// The same on an X server, by the program: the screenshot (looked at by the
// developer) meets the targets too.
TEST(WorkbenchPhantom, TheScreenshotOfThePhantomMeetsTheTargets)
{
  vexa::test::XServer server;
  std::string error;
  if (!server.StartForChildProgram(&error))
    GTEST_SKIP() << error;
  vexa::test::TemporaryFolder folder;
  const std::string bmode = KestrolBmode(folder);
  ASSERT_TRUE(QDir().mkpath(VEXA_SCREENSHOT_FOLDER));
  const QString shot = QString(VEXA_SCREENSHOT_FOLDER) + "/workbench-phantom-bmode.png";
  QFile::remove(shot);

  vexa::test::ChildProcess::Options options;
  options.environment = server.ClientEnvironment();
  const vexa::test::ProgramResult run =
    vexa::test::RunProgram(VEXA_WORKBENCH_EXECUTABLE,
                           {"--plugins", folder.Path().string(), "--load", bmode, "--screenshot", shot.toStdString(),
                            "--after", "1500", "--quit-after", "2500"},
                           std::chrono::seconds(60), options);
  ASSERT_TRUE(vexa::test::RanToSuccess(run));

  QImage picture;
  ASSERT_TRUE(picture.load(shot));
  const QRect render = vexa::test::ScreenshotRegion(picture, "RenderWindowRegion");
  ASSERT_FALSE(render.isNull());
  // the image as the render window fits it (its own geometry, centred)
  const vexa::Image::Pointer image = vexa::IOUtil::LoadImage(bmode);
  const vexa::Vector3D spacing = image->GetGeometry()->GetSpacing();
  const QSizeF extent(image->GetDimension(0) * spacing[0], image->GetDimension(1) * spacing[1]);
  const QSizeF fitted = extent.scaled(QSizeF(render.size()), Qt::KeepAspectRatio);
  const QRect rect = QRectF(QPointF(render.x() + (render.width() - fitted.width()) / 2,
                                    render.y() + (render.height() - fitted.height()) / 2),
                            fitted)
                       .toAlignedRect()
                       .intersected(render);
  const Figures f = Measure(picture, rect, image);
  ExpectTheTargets(f);
  // not a blank picture: every absorber is drawn well above black
  for (int grey : f.peakGreys)
    EXPECT_GT(grey, 100);
}
