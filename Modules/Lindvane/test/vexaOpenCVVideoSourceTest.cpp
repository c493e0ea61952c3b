#include "vexaLindvaneTestSupport.h"

#include <vexaOpenCVVideoSource.h>

#include <vexaException.h>
#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using lindvane_test::NumberedVideoFrame;
using lindvane_test::TemporaryFolder;
using lindvane_test::WriteNumberedVideo;

namespace
{
  // Opens up the protected colour conversion and the camera's capture.
  class ExposedVideoSource : public vexa::OpenCVVideoSource
  {
  public:
    vexaClassMacro(ExposedVideoSource, vexa::OpenCVVideoSource);
    vexaNewMacro(ExposedVideoSource);
    using vexa::OpenCVVideoSource::OpenCamera;
    using vexa::OpenCVVideoSource::RGBtoHSV;

  protected:
    ExposedVideoSource() = default;
  };

  // No camera is attached here: this capture stands in for one. It opens by
  // any index, delivers numbered frames of 32 x 24 pixels or, while told not
  // to, nothing, and records every call that could close or move it. Opening
  // it by a file name closes it and fails, as OpenCV's capture does.
  class StandInCamera : public cv::VideoCapture
  {
  public:
    struct State
    {
      bool deliver = true;
      bool opened = false;
      int reads = 0;
      std::vector<std::string> calls;
    };

    explicit StandInCamera(std::shared_ptr<State> state) : m_State(std::move(state)) {}

    using cv::VideoCapture::open;
    bool open(int index, int /*apiPreference*/) override
    {
      m_State->calls.push_back("open " + std::to_string(index));
      m_State->opened = true;
      return true;
    }
    bool open(const cv::String &filename, int /*apiPreference*/) override
    {
      m_State->calls.push_back("open \"" + filename + "\"");
      m_State->opened = false;
      return false;
    }
    bool isOpened() const override { return m_State->opened; }
    void release() override
    {
      m_State->calls.push_back("release");
      m_State->opened = false;
    }
    bool read(cv::OutputArray image) override
    {
      ++m_State->reads;
      if (!m_State->opened || !m_State->deliver)
      {
        image.release();
        return false;
      }
      NumberedVideoFrame(m_State->reads, 32, 24).copyTo(image);
      return true;
    }
    bool set(int propertyId, double value) override
    {
      m_State->calls.push_back("set " + std::to_string(propertyId) + " " + std::to_string(value));
      return false;
    }
    double get(int /*propertyId*/) const override { return 0.0; }

  private:
    std::shared_ptr<State> m_State;
  };

  vexa::OpenCVVideoSource::Pointer OpenVideo(const std::string &path, bool repeat = false)
  {
    vexa::OpenCVVideoSource::Pointer source = vexa::OpenCVVideoSource::New();
    source->SetVideoFileInput(path.c_str(), repeat);
    source->StartCapturing();
    return source;
  }

  double Difference(const cv::Mat &a, const cv::Mat &b)
  {
    if (a.size() != b.size() || a.type() != b.type())
      return -1.0;
    return cv::norm(a, b, cv::NORM_INF);
  }

  vexa::Point<double, 3> Point3(double x, double y)
  {
    vexa::Point<double, 3> p;
    p[0] = x;
    p[1] = y;
    p[2] = 0.0;
    return p;
  }

  vexa::Point<double, 4> Point4(double a, double b, double c, double d)
  {
    vexa::Point<double, 4> p;
    p[0] = a;
    p[1] = b;
    p[2] = c;
    p[3] = d;
    return p;
  }

  // The lens model of the undistortion tests, for frames of 32 x 24 pixels.
  const vexa::Point<double, 3> kFocal = Point3(30.0, 28.0);
  const vexa::Point<double, 3> kPrincipal = Point3(16.5, 11.0);
  const vexa::Point<double, 4> kDistortion = Point4(-0.35, 0.1, 0.003, -0.002);

  cv::Mat UndistortedReference(const cv::Mat &frame)
  {
    vexa::UndistortCameraImage::Pointer reference = vexa::UndistortCameraImage::New();
    float d[4] = {static_cast<float>(kDistortion[0]), static_cast<float>(kDistortion[1]),
                  static_cast<float>(kDistortion[2]), static_cast<float>(kDistortion[3])};
    reference->SetUndistortImageFastInfo(static_cast<float>(kFocal[0]), static_cast<float>(kFocal[1]),
                                         static_cast<float>(kPrincipal[0]), static_cast<float>(kPrincipal[1]), d,
                                         static_cast<float>(frame.cols), static_cast<float>(frame.rows));
    cv::Mat result = frame.clone();
    IplImage header = cvIplImage(result);
    reference->UndistortImageFast(&header);
    return result;
  }
}

TEST(OpenCVVideoSource, ReadsEveryFrameOfAFileThenThrowsWithItsName)
{
  TemporaryFolder folder;
  const std::string path = WriteNumberedVideo(folder, 5);
  vorlen::CapturingSink sink;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(path);
  ASSERT_TRUE(source->IsCapturingEnabled());
  EXPECT_EQ(0, source->GetImageWidth());
  EXPECT_EQ(nullptr, source->GetCurrentFrame());
  EXPECT_TRUE(source->GetImage().empty());

  for (int i = 0; i < 5; ++i)
  {
    source->FetchFrame();
    EXPECT_EQ(0.0, Difference(NumberedVideoFrame(i, 32, 24), source->GetImage())) << "frame " << i;
    EXPECT_EQ(i + 1, source->GetFrameCount());
  }
  EXPECT_EQ(32, source->GetImageWidth());
  EXPECT_EQ(24, source->GetImageHeight());
  EXPECT_EQ(std::vector<std::string>{"frame width: 32, height: 24"}, sink.Texts(0)) << "logged once";

  try
  {
    source->FetchFrame();
    FAIL() << "no exception at the end of the file";
  }
  catch (const std::logic_error &e)
  {
    EXPECT_EQ("End of video file " + path, e.what());
  }
  EXPECT_EQ(6, source->GetFrameCount());
  EXPECT_EQ(nullptr, source->GetCurrentFrame()) << "no stale frame after a failed read";
  EXPECT_TRUE(source->IsCapturingEnabled());
}

TEST(OpenCVVideoSource, FetchingReusesItsBuffers)
{
  TemporaryFolder folder;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 4));
  const unsigned char *texture = source->GetVideoTexture();
  const char *frameData = source->GetCurrentFrame()->imageData;
  for (int i = 1; i < 4; ++i)
  {
    EXPECT_EQ(texture, source->GetVideoTexture());
    EXPECT_EQ(frameData, source->GetCurrentFrame()->imageData);
  }
}

TEST(OpenCVVideoSource, RepeatModeRewindsToTheFirstFrame)
{
  TemporaryFolder folder;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 3), true);
  for (int i = 0; i < 3; ++i)
    source->FetchFrame();
  for (int round = 0; round < 2; ++round)
  {
    ASSERT_NO_THROW(source->FetchFrame());
    EXPECT_EQ(0, source->GetFrameCount());
    EXPECT_EQ(0.0, Difference(NumberedVideoFrame(0, 32, 24), source->GetImage()));
    source->FetchFrame();
    source->FetchFrame();
    EXPECT_EQ(0.0, Difference(NumberedVideoFrame(2, 32, 24), source->GetImage()));
  }
}

TEST(OpenCVVideoSource, RepeatModeShowsAOneFrameFileAgainAndAgain)
{
  // A still picture as a video: the backend accepts the seek back to frame 0
  // but has nothing to read after it.
  struct Case
  {
    const char *name;
    const char *fourcc;
    double tolerance; // H.264 is lossy
  };
  for (const Case &c : {Case{"still.avi", "FFV1", 0.0}, Case{"still.mp4", "avc1", 40.0}})
  {
    TemporaryFolder folder;
    const std::string path = folder.File(c.name);
    const cv::Mat still = NumberedVideoFrame(3, 32, 24);
    {
      cv::VideoWriter writer(path, cv::VideoWriter::fourcc(c.fourcc[0], c.fourcc[1], c.fourcc[2], c.fourcc[3]), 25.0,
                             still.size(), true);
      if (!writer.isOpened())
      {
        ADD_FAILURE() << "cannot write " << c.fourcc;
        continue;
      }
      writer.write(still);
    }
    vexa::OpenCVVideoSource::Pointer source = OpenVideo(path, true);
    ASSERT_TRUE(source->IsCapturingEnabled()) << c.name;
    for (int i = 0; i < 4; ++i)
    {
      ASSERT_NO_THROW(source->FetchFrame()) << c.name << ", fetch " << i;
      const double difference = Difference(still, source->GetImage());
      EXPECT_GE(difference, 0.0) << c.name;
      EXPECT_LE(difference, c.tolerance) << c.name << ", fetch " << i;
    }
  }
}

TEST(OpenCVVideoSource, RepeatModeThrowsWhenTheFileHasNoFrames)
{
  TemporaryFolder folder;
  const std::string path = folder.File("empty.avi");
  {
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), 25.0, cv::Size(32, 24), true);
    ASSERT_TRUE(writer.isOpened());
  }
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(path, true);
  if (!source->IsCapturingEnabled())
    GTEST_SKIP() << "this OpenCV does not open a video without frames";
  EXPECT_THROW(source->FetchFrame(), std::logic_error);
}

TEST(OpenCVVideoSource, InputsThatCannotBeOpenedLeaveCapturingOff)
{
  TemporaryFolder folder;
  vorlen::CapturingSink sink;
  vexa::OpenCVVideoSource::Pointer source = vexa::OpenCVVideoSource::New();
  source->SetVideoFileInput(folder.File("missing.avi").c_str(), true);
  EXPECT_TRUE(sink.Contains("Error in initializing video file input!", 1));
  EXPECT_TRUE(source->GetRepeatVideo());
  source->StartCapturing();
  EXPECT_FALSE(source->IsCapturingEnabled());
  EXPECT_NO_THROW(source->FetchFrame());
  EXPECT_EQ(nullptr, source->GetVideoTexture());
  EXPECT_EQ(0.0, source->GetVideoCaptureProperty(2));
  EXPECT_EQ(0, source->SetVideoCaptureProperty(2, 0.0));

  // No camera is attached to this machine.
  source->SetVideoCameraInput(61);
  EXPECT_TRUE(sink.Contains("Error in initializing CVHighGUI video camera!", 2));
  EXPECT_EQ(61, source->GetGrabbingDeviceNumber());
  EXPECT_EQ("", source->GetVideoFileName());
  source->StartCapturing();
  EXPECT_FALSE(source->IsCapturingEnabled());
  EXPECT_NO_THROW(source->FetchFrame());
  EXPECT_EQ(0, source->GetFrameCount());
}

TEST(OpenCVVideoSource, ACameraThatDeliversNoFrameSaysSoAndStaysOpen)
{
  // Repeat outlives the file that set it; on a camera it changes nothing.
  for (bool repeat : {true, false})
  {
    TemporaryFolder folder;
    ExposedVideoSource::Pointer source = ExposedVideoSource::New();
    source->SetVideoFileInput(WriteNumberedVideo(folder, 2).c_str(), repeat);
    auto camera = std::make_shared<StandInCamera::State>();
    source->OpenCamera(3, std::make_unique<StandInCamera>(camera));
    ASSERT_EQ(repeat, source->GetRepeatVideo());
    source->StartCapturing();
    ASSERT_TRUE(source->IsCapturingEnabled()) << "repeat " << repeat;
    source->FetchFrame();
    EXPECT_EQ(0.0, Difference(NumberedVideoFrame(1, 32, 24), source->GetImage())) << "repeat " << repeat;

    camera->deliver = false;
    for (int i = 0; i < 2; ++i)
    {
      try
      {
        source->FetchFrame();
        ADD_FAILURE() << "no exception without a frame, repeat " << repeat;
      }
      catch (const std::logic_error &e)
      {
        EXPECT_STREQ("No frame from camera 3", e.what()) << "repeat " << repeat;
      }
    }
    EXPECT_TRUE(camera->opened) << "repeat " << repeat;
    EXPECT_EQ(std::vector<std::string>{"open 3"}, camera->calls) << "neither rewound nor opened again";
    EXPECT_EQ(3, camera->reads) << "one read a fetch, repeat " << repeat;
    EXPECT_EQ(nullptr, source->GetCurrentFrame());
    EXPECT_TRUE(source->IsCapturingEnabled());

    camera->deliver = true;
    ASSERT_NO_THROW(source->FetchFrame()) << "repeat " << repeat;
    EXPECT_EQ(0.0, Difference(NumberedVideoFrame(4, 32, 24), source->GetImage())) << "repeat " << repeat;
    EXPECT_EQ(4, source->GetFrameCount());
  }
}

TEST(OpenCVVideoSource, PausingHoldsTheFrameAndResumingReadsOn)
{
  TemporaryFolder folder;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 4));
  source->PauseCapturing();
  EXPECT_FALSE(source->GetCapturePaused()) << "nothing to hold before the first frame";

  source->FetchFrame();
  source->PauseCapturing();
  ASSERT_TRUE(source->GetCapturePaused());
  for (int i = 0; i < 3; ++i)
  {
    source->FetchFrame();
    EXPECT_EQ(0.0, Difference(NumberedVideoFrame(0, 32, 24), source->GetImage()));
  }
  EXPECT_EQ(1, source->GetFrameCount());

  source->PauseCapturing();
  EXPECT_FALSE(source->GetCapturePaused());
  EXPECT_EQ(nullptr, source->GetCurrentFrame());
  source->FetchFrame();
  EXPECT_EQ(0.0, Difference(NumberedVideoFrame(1, 32, 24), source->GetImage()));
  EXPECT_EQ(2, source->GetFrameCount());

  source->PauseCapturing();
  source->StopCapturing();
  EXPECT_FALSE(source->GetCapturePaused());
  EXPECT_FALSE(source->IsCapturingEnabled());
}

TEST(OpenCVVideoSource, TextureHoldsRgbRowsFromTheBottomUp)
{
  TemporaryFolder folder;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 2));
  const unsigned char *texture = source->GetVideoTexture();
  ASSERT_NE(nullptr, texture);
  const cv::Mat frame = NumberedVideoFrame(0, 32, 24);
  cv::Mat expected;
  cv::cvtColor(frame, expected, cv::COLOR_BGR2RGB);
  cv::flip(expected, expected, 0);
  EXPECT_EQ(0.0, Difference(expected, cv::Mat(24, 32, CV_8UC3, const_cast<unsigned char *>(texture))));
  // The frame's top-left pixel (blue 0, green 0, red 0) opens the last
  // texture row; its bottom-left pixel (0, 23, 0) the first.
  const unsigned char *lastRow = texture + 23 * 32 * 3;
  EXPECT_EQ(0, lastRow[0]);
  EXPECT_EQ(0, lastRow[1]);
  EXPECT_EQ(0, lastRow[2]);
  EXPECT_EQ(23, texture[1]);

  source->GetVideoTexture();
  EXPECT_EQ(40, texture[0]) << "red of frame 1 in the same buffer";
}

TEST(OpenCVVideoSource, FlipsAboutTheEnabledAxesOncePerFrame)
{
  struct Case
  {
    bool x, y;
    int flipCode;
  };
  for (const Case &c : {Case{true, false, 0}, Case{false, true, 1}, Case{true, true, -1}})
  {
    TemporaryFolder folder;
    vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 3));
    source->SetEnableXAxisFlip(c.x);
    source->SetEnableYAxisFlip(c.y);
    source->GetVideoTexture();
    cv::Mat expected;
    cv::flip(NumberedVideoFrame(0, 32, 24), expected, c.flipCode);
    EXPECT_EQ(0.0, Difference(expected, source->GetImage())) << "flip code " << c.flipCode;

    // A held frame is flipped once, not once more on every texture request.
    source->PauseCapturing();
    const cv::Mat texture(24, 32, CV_8UC3, source->GetVideoTexture());
    const cv::Mat first = texture.clone();
    source->GetVideoTexture();
    EXPECT_EQ(0.0, Difference(first, texture)) << "flip code " << c.flipCode;
    EXPECT_EQ(0.0, Difference(expected, source->GetImage())) << "flip code " << c.flipCode;

    source->PauseCapturing();
    source->GetVideoTexture();
    cv::flip(NumberedVideoFrame(1, 32, 24), expected, c.flipCode);
    EXPECT_EQ(0.0, Difference(expected, source->GetImage())) << "flip code " << c.flipCode;
  }
}

TEST(OpenCVVideoSource, FlipImageOfNothingSaysSoAndReturnsNull)
{
  vexa::OpenCVVideoSource::Pointer source = vexa::OpenCVVideoSource::New();
  source->SetEnableXAxisFlip(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, source->FlipImage(nullptr));
  EXPECT_EQ("openCVVideoSource: Current video image is null! \n", testing::internal::GetCapturedStdout());
}

TEST(OpenCVVideoSource, CopiesTheFrameOnlyIntoAnImageOfItsLayout)
{
  TemporaryFolder folder;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 1));
  source->FetchFrame();

  // A row-padded target of the right size gets the pixels row by row.
  IplImage *target = cvCreateImage(cvSize(32, 24), IPL_DEPTH_8U, 3);
  source->GetCurrentFrameAsOpenCVImage(target);
  EXPECT_EQ(0.0, Difference(NumberedVideoFrame(0, 32, 24), cv::cvarrToMat(target)));
  cvReleaseImage(&target);

  vorlen::CapturingSink sink;
  IplImage *wrong = cvCreateImage(cvSize(16, 24), IPL_DEPTH_8U, 3);
  cvSet(wrong, cvScalarAll(7));
  source->GetCurrentFrameAsOpenCVImage(wrong);
  EXPECT_EQ(7, cv::cvarrToMat(wrong).at<cv::Vec3b>(23, 15)[0]);
  EXPECT_EQ(1u, sink.Texts(1).size());
  cvReleaseImage(&wrong);
}

TEST(OpenCVVideoSource, HsvImageMatchesOpenCVsConversionWithTheBottomRowFirst)
{
  TemporaryFolder folder;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 3));
  source->FetchFrame();

  using HSVImage = vexa::OpenCVVideoSource::HSVImageType;
  HSVImage::Pointer image = HSVImage::New();
  HSVImage::RegionType region;
  region.SetSize(0, 32);
  region.SetSize(1, 24);
  image->SetRegions(region);
  image->Allocate();
  source->GetCurrentFrameAsItkHSVPixelImage(image); // fetches frame 1

  cv::Mat frame;
  NumberedVideoFrame(1, 32, 24).convertTo(frame, CV_32FC3, 1.0 / 255.0);
  cv::Mat hsv;
  cv::cvtColor(frame, hsv, cv::COLOR_BGR2HSV);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x)
    {
      HSVImage::IndexType index;
      index[0] = x;
      index[1] = 23 - y;
      const vexa::OpenCVVideoSource::HSVPixelType pixel = image->GetPixel(index);
      const cv::Vec3f expected = hsv.at<cv::Vec3f>(y, x);
      ASSERT_NEAR(expected[0], pixel[0], 0.05) << x << ", " << y;
      ASSERT_NEAR(expected[1], pixel[1], 1e-4) << x << ", " << y;
      ASSERT_NEAR(expected[2], pixel[2], 1e-4) << x << ", " << y;
    }

  // An image of another size is left as it was.
  vorlen::CapturingSink sink;
  HSVImage::Pointer small = HSVImage::New();
  region.SetSize(0, 8);
  small->SetRegions(region);
  small->Allocate();
  vexa::OpenCVVideoSource::HSVPixelType seven;
  seven.Fill(7.0f);
  small->FillBuffer(seven);
  source->GetCurrentFrameAsItkHSVPixelImage(small);
  EXPECT_EQ(seven, small->GetPixel({{7, 23}}));
  EXPECT_EQ(1u, sink.Texts(1).size());
}

TEST(OpenCVVideoSource, RgbToHsvOfTheEdgeValues)
{
  struct Case
  {
    float r, g, b, h, s, v;
  };
  ExposedVideoSource::Pointer source = ExposedVideoSource::New();
  for (const Case &c : {Case{255, 0, 0, 0, 1, 1}, Case{0, 0, 0, 0, 0, 0}, Case{0.5f, 0.5f, 0.5f, -1, 0, 0.5f},
                        Case{0, 0, 255, 240, 1, 1}, Case{0, 255, 0, 120, 1, 1}, Case{255, 0, 255, 300, 1, 1},
                        Case{0.2f, 0.4f, 0.4f, 180, 0.5f, 0.4f}})
  {
    float h = 99, s = 99, v = 99;
    source->RGBtoHSV(c.r, c.g, c.b, h, s, v);
    EXPECT_FLOAT_EQ(c.h, h) << c.r << " " << c.g << " " << c.b;
    EXPECT_FLOAT_EQ(c.s, s) << c.r << " " << c.g << " " << c.b;
    EXPECT_FLOAT_EQ(c.v, v) << c.r << " " << c.g << " " << c.b;
  }
}

TEST(OpenCVVideoSource, OnlineUndistortionUsesTheFirstRealFrame)
{
  TemporaryFolder folder;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 4));
  EXPECT_FALSE(source->OnlineImageUndistortionEnabled());
  source->EnableOnlineImageUndistortion(kFocal, kPrincipal, kDistortion);
  EXPECT_TRUE(source->OnlineImageUndistortionEnabled());
  EXPECT_EQ(0, source->GetFrameCount()) << "enabling reads no frame";

  source->FetchFrame();
  const cv::Mat undistorted0 = UndistortedReference(NumberedVideoFrame(0, 32, 24));
  EXPECT_GT(Difference(NumberedVideoFrame(0, 32, 24), undistorted0), 0.0);
  EXPECT_EQ(0.0, Difference(undistorted0, source->GetImage()));

  // A held frame is undistorted once, not again on every fetch.
  source->PauseCapturing();
  source->FetchFrame();
  source->FetchFrame();
  EXPECT_EQ(0.0, Difference(undistorted0, source->GetImage()));
  source->PauseCapturing();

  source->DisableOnlineImageUndistortion();
  EXPECT_TRUE(source->OnlineImageUndistortionEnabled());
  source->FetchFrame();
  EXPECT_EQ(0.0, Difference(NumberedVideoFrame(1, 32, 24), source->GetImage()));
}

TEST(OpenCVVideoSource, UndistortionWithAZeroFocalLengthIsRefused)
{
  TemporaryFolder folder;
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(WriteNumberedVideo(folder, 2));
  EXPECT_THROW(source->EnableOnlineImageUndistortion(Point3(0.0, 28.0), kPrincipal, kDistortion), vexa::Exception);
  EXPECT_FALSE(source->OnlineImageUndistortionEnabled());
  source->FetchFrame();
  EXPECT_EQ(0.0, Difference(NumberedVideoFrame(0, 32, 24), source->GetImage()));
}

TEST(OpenCVVideoSource, ANewInputKeepsFlipsAndLensModelButTakesItsRepeatFlag)
{
  TemporaryFolder folder;
  const std::string first = WriteNumberedVideo(folder, 3, 32, 24, "first.avi");
  const std::string second = WriteNumberedVideo(folder, 3, 32, 24, "second.avi");
  vexa::OpenCVVideoSource::Pointer source = OpenVideo(first, true);
  source->SetEnableYAxisFlip(true);
  source->EnableOnlineImageUndistortion(kFocal, kPrincipal, kDistortion);
  source->GetVideoTexture();

  source->SetVideoFileInput(second.c_str(), false);
  EXPECT_FALSE(source->GetRepeatVideo());
  EXPECT_EQ(second, source->GetVideoFileName());
  EXPECT_FALSE(source->IsCapturingEnabled());
  EXPECT_EQ(0, source->GetImageWidth());
  EXPECT_EQ(0, source->GetFrameCount());
  EXPECT_EQ(nullptr, source->GetCurrentFrame());
  EXPECT_TRUE(source->OnlineImageUndistortionEnabled());

  source->StartCapturing();
  source->GetVideoTexture();
  cv::Mat expected;
  cv::flip(UndistortedReference(NumberedVideoFrame(0, 32, 24)), expected, 1);
  EXPECT_EQ(0.0, Difference(expected, source->GetImage()));
}

TEST(OpenCVVideoSource, ClassHierarchyNamesTheVideoSourceChainOnly)
{
  vexa::OpenCVVideoSource::Pointer source = vexa::OpenCVVideoSource::New();
  const std::vector<std::string> expected{"OpenCVVideoSource", "VideoSource", "itk::Object", "itk::LightObject"};
  EXPECT_EQ(expected, source->GetClassHierarchy());
  vexa::OpenCVImageSource *asImageSource = source.GetPointer();
  EXPECT_STREQ("OpenCVVideoSource", asImageSource->GetNameOfClass());
  EXPECT_EQ(expected, asImageSource->GetClassHierarchy());
  EXPECT_EQ(1, source->GetReferenceCount());
}
