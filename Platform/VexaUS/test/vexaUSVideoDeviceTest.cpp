// The video device on clips the tests write: pictures arrive in the output
// with the clip's pixels, in grey or colour, cropped, scaled and with the
// probe's spacing; changes show in the pictures that follow; the clip
// repeats; a frozen device holds its picture; a clip cut short on disk stops
// the device with its reason.

#include <vexaTestVideos.h>
#include <vexaUSVideoDevice.h>
#include <vexaUSVideoDeviceCustomControls.h>

#include <vexaException.h>
#include <vexaImageReadAccessor.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaTestWaitUntil.h>
#include <vexaPixelTypeTraits.h>
#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <gtest/gtest.h>

#include <itkRGBPixel.h>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

using vexa::USDevice;
using vexa::USImageVideoSource;
using vexa::USProbe;
using vexa::USVideoDevice;
using vexa::USVideoDeviceCustomControls;
using vexa::test::TemporaryFolder;

namespace
{
  constexpr int kWidth = 64;
  constexpr int kHeight = 48;

  /** What the output holds now: size, pixel bytes, spacing. */
  struct Picture
  {
    unsigned int width = 0, height = 0, components = 0;
    std::vector<unsigned char> pixels;
    double spacingX = 0, spacingY = 0;

    unsigned char At(unsigned int x, unsigned int y, unsigned int c = 0) const
    {
      return pixels[(y * width + x) * components + c];
    }
  };

  Picture Read(vexa::Image *image)
  {
    Picture p;
    if (image->IsEmpty())
      return p;
    p.width = image->GetDimension(0);
    p.height = image->GetDimension(1);
    p.components = static_cast<unsigned int>(image->GetPixelType().GetNumberOfComponents());
    vexa::ImageReadAccessor access(image);
    const auto *data = static_cast<const unsigned char *>(access.GetConstData());
    p.pixels.assign(data, data + access.GetSize());
    p.spacingX = image->GetGeometry()->GetSpacing()[0];
    p.spacingY = image->GetGeometry()->GetSpacing()[1];
    return p;
  }

  /** Pulls pictures the way a view does until one satisfies `condition` (10 s at most). */
  bool UpdateUntil(USDevice *device, const std::function<bool(const Picture &)> &condition, Picture *last = nullptr)
  {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end)
    {
      device->Modified();
      device->Update();
      Picture picture = Read(device->GetOutput());
      const bool met = !picture.pixels.empty() && condition(picture);
      if (last)
        *last = std::move(picture);
      if (met)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  bool Arrived(const Picture &) { return true; }

  vexa::Vector3D Spacing3(double x, double y)
  {
    vexa::Vector3D s;
    s[0] = x, s[1] = y, s[2] = 1.0;
    return s;
  }

  /** The clip's frame number of a colour picture whose left and top are uncut. */
  int FrameOf(const Picture &p) { return p.At(0, 0, 0) / 40; }

  class VideoDevice : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      path = folder.File("clip.avi");
      vexa::test::WriteNumberedVideo(path, 5, kWidth, kHeight, 100.0);
      device = USVideoDevice::New(path, "Acme", "Clip");
    }

    void TearDown() override
    {
      if (device->GetIsInitialized())
        device->UnregisterOnService();
    }

    void Start()
    {
      ASSERT_TRUE(device->Initialize());
      ASSERT_TRUE(device->Connect());
      ASSERT_TRUE(device->Activate());
    }

    USImageVideoSource *Source() { return static_cast<USImageVideoSource *>(device->GetImageSource().GetPointer()); }
    USVideoDeviceCustomControls *Controls()
    {
      return dynamic_cast<USVideoDeviceCustomControls *>(device->GetCustomControlInterface().GetPointer());
    }

    TemporaryFolder folder;
    std::string path;
    USVideoDevice::Pointer device;
  };
}

TEST_F(VideoDevice, IdentityAndInterfaces)
{
  EXPECT_EQ("org.vexa.modules.us.USVideoDevice", USVideoDevice::GetDeviceClassStatic());
  EXPECT_EQ("org.vexa.modules.us.USVideoDevice", device->GetDeviceClass());
  EXPECT_EQ("Clip", device->GetName());
  EXPECT_EQ("Acme", device->GetManufacturer());
  EXPECT_TRUE(device->GetIsSourceFile());
  EXPECT_EQ(path, device->GetFilePath());
  EXPECT_TRUE(device->GetBModeControlInterface().IsNull());
  EXPECT_TRUE(device->GetDopplerControlInterface().IsNull());
  EXPECT_TRUE(device->GetProbesControlInterface().IsNotNull());
  EXPECT_NE(nullptr, Controls());
  EXPECT_NE(nullptr, dynamic_cast<USImageVideoSource *>(device->GetImageSource().GetPointer()));
  EXPECT_EQ(1u, device->GetNumberOfIndexedOutputs());
}

TEST_F(VideoDevice, ColourPicturesCarryTheClipsPixelsAndRepeatAtTheEnd)
{
  Source()->SetColorOutput(true);
  Start();
  device->Modified();
  device->Update();
  std::set<int> seen;
  std::vector<int> order;
  Picture p;
  ASSERT_TRUE(UpdateUntil(
    device,
    [&](const Picture &picture) {
      const int frame = FrameOf(picture);
      if (order.empty() || order.back() != frame)
        order.push_back(frame);
      seen.insert(frame);
      // a return to an earlier frame: the clip started again
      return order.size() > 1 && order.back() < order[order.size() - 2];
    },
    &p))
    << "the clip did not repeat";
  ASSERT_EQ(static_cast<unsigned int>(kWidth), p.width);
  ASSERT_EQ(static_cast<unsigned int>(kHeight), p.height);
  ASSERT_EQ(3u, p.components) << "RGB";
  const vexa::PixelType rgb = vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>>(3);
  EXPECT_EQ(rgb, device->GetOutput()->GetPixelType());
  const cv::Mat expected = vexa::test::NumberedVideoFrame(FrameOf(p), kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
    {
      const cv::Vec3b bgr = expected.at<cv::Vec3b>(y, x);
      ASSERT_EQ(bgr[2], p.At(x, y, 0)) << x << ", " << y;
      ASSERT_EQ(bgr[1], p.At(x, y, 1)) << x << ", " << y;
      ASSERT_EQ(bgr[0], p.At(x, y, 2)) << x << ", " << y;
    }
  EXPECT_EQ(1.0, p.spacingX) << "no probe: unit spacing";

  device->Deactivate();
  EXPECT_EQ(USDevice::State_Connected, device->GetDeviceState());
  EXPECT_TRUE(device->Disconnect());
  EXPECT_FALSE(Source()->GetIsReady());
  device->UnregisterOnService();
  EXPECT_TRUE(us::GetModuleContext()->GetServiceReferences<USDevice>().empty());
}

TEST_F(VideoDevice, GreyPicturesAreOpenCVsGreyOfAClipFrame)
{
  Start(); // grey by default
  Picture p;
  ASSERT_TRUE(UpdateUntil(device, Arrived, &p));
  ASSERT_EQ(1u, p.components);
  bool matches = false;
  for (int i = 0; i < 5 && !matches; ++i)
  {
    cv::Mat grey;
    cv::cvtColor(vexa::test::NumberedVideoFrame(i, kWidth, kHeight), grey, cv::COLOR_BGR2GRAY);
    matches = std::equal(p.pixels.begin(), p.pixels.end(), grey.data);
  }
  EXPECT_TRUE(matches);
}

TEST_F(VideoDevice, CropScalingProbeAndDepthShowInTheFollowingPictures)
{
  USProbe::Pointer wide = USProbe::New("Wide");
  vexa::Vector3D s10, s20;
  s10[0] = 0.1, s10[1] = 0.2, s10[2] = 1.0;
  s20[0] = 0.3, s20[1] = 0.4, s20[2] = 1.0;
  wide->SetDepthAndSpacing(20, s20);
  wide->SetDepthAndSpacing(10, s10);
  USProbe::Pointer narrow = USProbe::New("Narrow");
  narrow->SetDepth(5);
  narrow->SetProbeCropping(1, 2, 10, 20);
  device->AddNewProbe(wide);
  device->AddNewProbe(narrow);
  EXPECT_EQ(wide, device->GetCurrentProbe()) << "the first probe is current";
  Source()->SetColorOutput(true);
  Start();

  // the current probe at its smallest depth
  ASSERT_TRUE(UpdateUntil(device, [](const Picture &p) { return p.spacingX == 0.1 && p.spacingY == 0.2; }));

  USVideoDeviceCustomControls *controls = Controls();
  EXPECT_EQ((std::vector<int>{10, 20}), controls->GetDepthsForProbe("Wide"));
  controls->SetNewDepth(20);
  ASSERT_TRUE(UpdateUntil(device, [](const Picture &p) { return p.spacingX == 0.3 && p.spacingY == 0.4; }));
  EXPECT_EQ(
    20.0, us::any_cast<double>(device->GetServiceProperties().at(USDevice::GetPropertyKeys().US_PROPKEY_BMODE_DEPTH)));

  USImageVideoSource::USImageCropping crop;
  crop.top = 2, crop.bottom = 4, crop.left = 3, crop.right = 5;
  controls->SetCropArea(crop);
  controls->UpdateProbeCropping(crop);
  Picture p;
  ASSERT_TRUE(UpdateUntil(
    device, [](const Picture &q) { return q.width == kWidth - 8; }, &p));
  EXPECT_EQ(static_cast<unsigned int>(kHeight - 6), p.height);
  EXPECT_EQ(3, p.At(0, 0, 2)) << "the first column left is the clip's column 3";
  EXPECT_EQ(2, p.At(0, 0, 1)) << "the first row left is the clip's row 2";
  EXPECT_EQ(3u, controls->GetCropArea().left) << "stored in the probe";

  // a crop that leaves nothing is refused and changes nothing
  USImageVideoSource::USImageCropping tooMuch;
  tooMuch.left = 40, tooMuch.right = 24;
  EXPECT_THROW(controls->SetCropArea(tooMuch), vexa::Exception);
  tooMuch = USImageVideoSource::USImageCropping();
  tooMuch.top = kHeight;
  EXPECT_THROW(controls->SetCropArea(tooMuch), vexa::Exception);
  EXPECT_EQ(3u, Source()->GetCropping().left);

  // another probe: its cropping and its spacing
  device->GetProbesControlInterface()->SelectProbe(1);
  ASSERT_TRUE(UpdateUntil(
    device, [](const Picture &q) { return q.width == kWidth - 30; }, &p));
  EXPECT_EQ(static_cast<unsigned int>(kHeight - 3), p.height);
  EXPECT_EQ(1.0, p.spacingX);
  EXPECT_EQ(10, p.At(0, 0, 2));
  EXPECT_EQ("Narrow",
            device->GetServiceProperties().at(USDevice::GetPropertyKeys().US_PROPKEY_PROBES_SELECTED).ToString());

  // scaled first, then cropped
  Source()->OverrideResolution(128, 96);
  Source()->EnableResolutionOverride(true);
  ASSERT_TRUE(UpdateUntil(device, [](const Picture &q) { return q.width == 128 - 30 && q.height == 96 - 3; }));
  Source()->EnableResolutionOverride(false);
  ASSERT_TRUE(UpdateUntil(device, [](const Picture &q) { return q.width == kWidth - 30; }));
}

TEST_F(VideoDevice, AProbeEditedWhileInactiveShowsWithTheNextActivation)
{
  // what the new-device form's editor does with the device's own probe objects
  USProbe::Pointer probe = USProbe::New("Edited");
  probe->SetDepth(10);
  device->AddNewProbe(probe);
  Start();
  ASSERT_TRUE(UpdateUntil(device, [](const Picture &p) { return p.width == kWidth; }));
  device->Deactivate();
  probe->SetProbeCropping(0, 0, 10, 10);
  probe->SetSpacingForGivenDepth(10, Spacing3(0.5, 0.5));
  ASSERT_TRUE(device->Activate());
  EXPECT_TRUE(UpdateUntil(device, [](const Picture &p) { return p.width == kWidth - 20 && p.spacingX == 0.5; }));
}

TEST_F(VideoDevice, AFrozenDeviceHoldsItsPictureAndTheNewestFollowsTheThaw)
{
  Source()->SetColorOutput(true);
  Start();
  Picture held;
  ASSERT_TRUE(UpdateUntil(device, Arrived, &held));
  device->SetIsFrozen(true);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
  while (std::chrono::steady_clock::now() < end)
  {
    device->Modified();
    device->Update();
    ASSERT_EQ(held.pixels, Read(device->GetOutput()).pixels);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  device->SetIsFrozen(false);
  EXPECT_TRUE(UpdateUntil(device, [&](const Picture &p) { return p.pixels != held.pixels; }));
}

TEST_F(VideoDevice, AFilePlaysAtItsFrameRateUnlessPacingIsOff)
{
  // A clip of 5 frames at one frame in 5 s: paced, frame k comes no earlier
  // than k periods after the start; unpaced, the clip runs through at once.
  // The period is long against anything the test does, so that a loaded
  // machine, which may keep this thread away for a while, cannot blur the two.
  using Clock = std::chrono::steady_clock;
  constexpr auto kPeriod = std::chrono::seconds(5);
  const std::string slow = folder.File("slow.avi");
  vexa::test::WriteNumberedVideo(slow, 5, 16, 8, 0.2);
  // Watches the clip until `enough` holds (or 20 s passed); `watched` is the
  // time since before the activation, when the clip's clock cannot have started.
  const auto framesSeen = [&](bool paced, const std::function<bool(const std::set<int> &)> &enough,
                              Clock::duration &watched) {
    USVideoDevice::Pointer clip = USVideoDevice::New(slow, "Acme", "Slow");
    static_cast<USImageVideoSource *>(clip->GetImageSource().GetPointer())->SetColorOutput(true);
    clip->SetFramePacing(paced);
    std::set<int> seen;
    const Clock::time_point before = Clock::now();
    if (!clip->Initialize() || !clip->Connect() || !clip->Activate())
      return seen;
    while (!enough(seen) && Clock::now() - before < std::chrono::seconds(20))
    {
      clip->Modified();
      clip->Update();
      const Picture p = Read(clip->GetOutput());
      if (!p.pixels.empty())
        seen.insert(FrameOf(p));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    watched = Clock::now() - before;
    clip->UnregisterOnService();
    return seen;
  };

  // paced, watched for a quarter of a second and until the first frame came: frame 0 alone
  Clock::duration watched{};
  const Clock::time_point start = Clock::now();
  const std::set<int> paced = framesSeen(
    true,
    [&](const std::set<int> &seen) { return !seen.empty() && Clock::now() - start > std::chrono::milliseconds(250); },
    watched);
  const auto periods = static_cast<std::size_t>(watched / kPeriod);
  ASSERT_FALSE(paced.empty());
  EXPECT_LE(paced.size(), 1 + periods);
  if (periods < 5) // the clip starts over after its 5 frames
  {
    EXPECT_LE(static_cast<std::size_t>(*paced.rbegin()), periods);
  }

  // unpaced: all 5 frames before a paced clip could have shown its second
  const std::set<int> unpaced = framesSeen(
    false, [](const std::set<int> &seen) { return seen.size() == 5; }, watched);
  EXPECT_EQ(5u, unpaced.size());
  EXPECT_LT(watched, kPeriod);
}

TEST_F(VideoDevice, AOneFrameClipIsAStillPicture)
{
  const std::string still = folder.File("still.avi");
  vexa::test::WriteNumberedVideo(still, 1, 16, 8, 200.0);
  device = USVideoDevice::New(still, "Acme", "Still");
  Start();
  Picture p;
  ASSERT_TRUE(UpdateUntil(device, Arrived, &p));
  EXPECT_EQ(16u, p.width);
  std::this_thread::sleep_for(std::chrono::milliseconds(50)); // ten repeats at 200 frames per second
  device->Modified();
  device->Update();
  EXPECT_EQ(p.pixels, Read(device->GetOutput()).pixels);
  EXPECT_TRUE(device->GetIsActive()) << "still running";
}

TEST_F(VideoDevice, InputsThatCannotBeOpenedFailToConnectWithoutThrowing)
{
  vorlen::CapturingSink sink;
  device = USVideoDevice::New(folder.File("missing.avi"), "Acme", "Missing");
  ASSERT_TRUE(device->Initialize());
  EXPECT_FALSE(device->Connect());
  EXPECT_EQ(USDevice::State_Initialized, device->GetDeviceState());
  EXPECT_TRUE(sink.Contains("Cannot open the video file", 2));
  EXPECT_NO_THROW(device->Update());
  EXPECT_TRUE(device->GetOutput()->IsEmpty());
  device->UnregisterOnService();

  // no camera is attached to this machine
  device = USVideoDevice::New(61, "Acme", "Camera");
  EXPECT_FALSE(device->GetIsSourceFile());
  EXPECT_EQ(61, device->GetDeviceID());
  ASSERT_TRUE(device->Initialize());
  EXPECT_FALSE(device->Connect());
}

TEST_F(VideoDevice, AClipCutShortStopsTheDeviceWithItsReasonAndConnectingOpensItAgain)
{
  // large enough that the video library cannot go on from what it has read ahead
  vexa::test::WriteNumberedVideo(path, 10, 320, 240, 25.0);
  Start();
  ASSERT_TRUE(UpdateUntil(device, [](const Picture &p) { return p.width == 320; }));
  std::mutex mutex;
  std::vector<std::string> published; // is-active and stop reason of each change
  const auto &keys = USDevice::GetPropertyKeys();
  const us::ListenerToken token = us::GetModuleContext()->AddServiceListener(
    [&](const us::ServiceEvent &event) {
      const us::ServiceReferenceU reference = event.GetServiceReference();
      std::lock_guard<std::mutex> lock(mutex);
      published.push_back(reference.GetProperty(keys.US_PROPKEY_ISACTIVE).ToString() + " " +
                          reference.GetProperty(keys.US_PROPKEY_STOP_REASON).ToString());
    },
    "(" + keys.US_PROPKEY_NAME + "=Clip)");

  // reopening a cut file makes OpenCV's backends complain on every attempt
  const cv::utils::logging::LogLevel level = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  vorlen::CapturingSink log;
  const auto cut = std::chrono::steady_clock::now();
  std::filesystem::resize_file(path, 0);
  vexa::test::WaitUntil([&] { return !device->GetIsActive(); }, std::chrono::seconds(20),
                        std::chrono::milliseconds(10));
  cv::utils::logging::setLogLevel(level);
  ASSERT_FALSE(device->GetIsActive());
  EXPECT_GE(std::chrono::steady_clock::now() - cut, std::chrono::seconds(2)) << "a hiccup does not stop it";
  // the acquisition thread stops the device first, then logs and publishes
  ASSERT_TRUE(vexa::test::WaitUntil([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return !published.empty();
  }));
  const std::string reason = "no picture for 2 s: End of video file " + path;
  EXPECT_EQ(reason, device->GetStopReason());
  EXPECT_TRUE(log.Contains("The device \"Clip\" stopped: " + reason, 1));
  EXPECT_EQ(USDevice::State_Initialized, device->GetDeviceState());
  // every retry of those 2 s failed alike: the failure is logged once, not once a retry
  EXPECT_EQ(std::vector<std::string>{"Reading a picture failed: End of video file " + path}, log.Texts(2));
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(std::vector<std::string>{"false " + reason}, published);
    published.clear();
  }
  // the picture that was shown stays in the output
  device->Modified();
  EXPECT_NO_THROW(device->Update());
  EXPECT_EQ(320u, Read(device->GetOutput()).width);

  // the clip is back: connecting opens it again and the activation clears the reason
  vexa::test::WriteNumberedVideo(path, 5, kWidth, kHeight, 100.0);
  ASSERT_TRUE(device->Connect());
  ASSERT_TRUE(device->Activate());
  EXPECT_EQ("", device->GetStopReason());
  EXPECT_TRUE(UpdateUntil(device, [](const Picture &p) { return p.width == kWidth; }));
  us::GetModuleContext()->RemoveServiceListener(token);
  EXPECT_EQ((std::vector<std::string>{"false " + reason, "true "}), published);
}
