#include <vexaUndistortCameraImage.h>

#include <vexaException.h>

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace
{
  // A camera with clearly visible barrel distortion and a little tangential
  // distortion, for images of 160 x 120 pixels.
  const float fx = 150.0f, fy = 140.0f, cx = 82.0f, cy = 57.0f;
  float distortion[4] = {-0.30f, 0.08f, 0.002f, -0.003f};

  cv::Mat Checkerboard(int width, int height, int square, int type)
  {
    cv::Mat board(height, width, type);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
      {
        const bool white = ((x / square) + (y / square)) % 2 == 0;
        if (type == CV_8UC3)
          board.at<cv::Vec3b>(y, x) = white ? cv::Vec3b(250, 240, 230) : cv::Vec3b(10, 20, 30);
        else
          board.at<uchar>(y, x) = white ? 255 : 0;
      }
    return board;
  }

  cv::Mat CameraMatrix() { return (cv::Mat_<double>(3, 3) << fx, 0, cx, 0, fy, cy, 0, 0, 1); }

  cv::Mat DistortionVector()
  {
    return (cv::Mat_<double>(4, 1) << distortion[0], distortion[1], distortion[2], distortion[3]);
  }

  vexa::UndistortCameraImage::Pointer FastUndistorter(float width, float height)
  {
    vexa::UndistortCameraImage::Pointer undistorter = vexa::UndistortCameraImage::New();
    undistorter->SetUndistortImageFastInfo(fx, fy, cx, cy, distortion, width, height);
    return undistorter;
  }
}

TEST(UndistortCameraImage, FastPathEqualsOpenCVsUndistortionMapsOnACheckerboard)
{
  const cv::Mat board = Checkerboard(160, 120, 10, CV_8UC3);
  vexa::UndistortCameraImage::Pointer undistorter = FastUndistorter(160, 120);
  EXPECT_EQ(cv::Size(160, 120), undistorter->GetUndistortMapSize());

  // OpenCV's own: the undistortion map of the camera, remapped bicubically,
  // pixels from outside keeping the destination's values.
  cv::Mat mapX, mapY;
  cv::initUndistortRectifyMap(CameraMatrix(), DistortionVector(), cv::noArray(), CameraMatrix(), board.size(), CV_32FC1,
                              mapX, mapY);
  cv::Mat expected(board.size(), board.type(), cv::Scalar(1, 2, 3));
  cv::remap(board, expected, mapX, mapY, cv::INTER_CUBIC, cv::BORDER_TRANSPARENT);

  cv::Mat source = board.clone();
  cv::Mat destination(board.size(), board.type(), cv::Scalar(1, 2, 3));
  IplImage sourceHeader = cvIplImage(source);
  IplImage destinationHeader = cvIplImage(destination);
  undistorter->UndistortImageFast(&sourceHeader, &destinationHeader);
  EXPECT_EQ(0.0, cv::norm(expected, destination, cv::NORM_INF));
  EXPECT_EQ(0.0, cv::norm(board, source, cv::NORM_INF)) << "the source stays as it was";
  EXPECT_GT(cv::norm(board, destination, cv::NORM_L1), 0.0) << "the distortion is strong enough to show";

  // In place: the same, with the source's own pixels where nothing maps in.
  cv::Mat expectedInPlace = board.clone();
  cv::remap(board, expectedInPlace, mapX, mapY, cv::INTER_CUBIC, cv::BORDER_TRANSPARENT);
  undistorter->UndistortImageFast(&sourceHeader);
  EXPECT_EQ(0.0, cv::norm(expectedInPlace, source, cv::NORM_INF));
  EXPECT_EQ(static_cast<void *>(source.data), static_cast<void *>(sourceHeader.imageData));
}

TEST(UndistortCameraImage, DirectPathIsOpenCVsUndistortAndAgreesWithTheFastPath)
{
  const cv::Mat board = Checkerboard(160, 120, 10, CV_8UC1);
  vexa::UndistortCameraImage::Pointer undistorter = FastUndistorter(160, 120);
  undistorter->SetFocalLength(fx, fy);
  undistorter->SetPrincipalPoint(cx, cy);
  undistorter->SetCameraDistortion(distortion[0], distortion[1], distortion[2], distortion[3]);

  cv::Mat expected;
  cv::undistort(board, expected, CameraMatrix(), DistortionVector());

  cv::Mat source = board.clone();
  cv::Mat destination(board.size(), board.type(), cv::Scalar(0));
  IplImage sourceHeader = cvIplImage(source);
  IplImage destinationHeader = cvIplImage(destination);
  undistorter->UndistortImage(&sourceHeader, &destinationHeader);
  EXPECT_EQ(0.0, cv::norm(expected, destination, cv::NORM_INF));

  // The same image as source and destination works too.
  undistorter->UndistortImage(&sourceHeader, &sourceHeader);
  EXPECT_EQ(0.0, cv::norm(expected, source, cv::NORM_INF));

  // Bilinear against bicubic: the two paths differ only at the edges of the squares.
  cv::Mat fast = board.clone();
  IplImage fastHeader = cvIplImage(fast);
  undistorter->UndistortImageFast(&fastHeader);
  const cv::Rect inner(20, 20, 120, 80);
  cv::Mat difference;
  cv::absdiff(fast(inner), expected(inner), difference);
  EXPECT_LT(cv::mean(difference)[0], 8.0);
}

TEST(UndistortCameraImage, RefusesMismatchedImagesAndIgnoresMissingOnes)
{
  vexa::UndistortCameraImage::Pointer undistorter = FastUndistorter(160, 120);
  cv::Mat small(60, 80, CV_8UC3, cv::Scalar::all(9));
  IplImage smallHeader = cvIplImage(small);
  EXPECT_THROW(undistorter->UndistortImageFast(&smallHeader), cv::Exception);
  EXPECT_EQ(9, small.at<cv::Vec3b>(30, 40)[0]);

  cv::Mat right(120, 160, CV_8UC3, cv::Scalar::all(9));
  IplImage rightHeader = cvIplImage(right);
  EXPECT_THROW(undistorter->UndistortImageFast(&rightHeader, &smallHeader), cv::Exception);
  EXPECT_THROW(undistorter->UndistortImage(&rightHeader, &smallHeader), cv::Exception);

  EXPECT_NO_THROW(undistorter->UndistortImageFast(nullptr, &rightHeader));
  EXPECT_NO_THROW(undistorter->UndistortImage(nullptr, &rightHeader));

  vexa::UndistortCameraImage::Pointer withoutMaps = vexa::UndistortCameraImage::New();
  EXPECT_THROW(withoutMaps->UndistortImageFast(&rightHeader), cv::Exception);
}

TEST(UndistortCameraImage, MapSizeIsTruncatedAndBadParametersAreRefused)
{
  vexa::UndistortCameraImage::Pointer undistorter = FastUndistorter(640.7f, 480.2f);
  EXPECT_EQ(cv::Size(640, 480), undistorter->GetUndistortMapSize());

  EXPECT_THROW(undistorter->SetFocalLength(0.0f, 100.0f), vexa::Exception);
  EXPECT_THROW(undistorter->SetFocalLength(100.0f, 0.0f), vexa::Exception);
  EXPECT_THROW(undistorter->SetUndistortImageFastInfo(0.0f, fy, cx, cy, distortion, 160, 120), vexa::Exception);
  EXPECT_THROW(undistorter->SetUndistortImageFastInfo(fx, fy, cx, cy, nullptr, 160, 120), vexa::Exception);
  EXPECT_THROW(undistorter->SetUndistortImageFastInfo(fx, fy, cx, cy, distortion, 0.5f, 120), vexa::Exception);
  EXPECT_EQ(cv::Size(640, 480), undistorter->GetUndistortMapSize()) << "a refused call keeps the maps";
}

TEST(UndistortCameraImage, UndistortPixelMatchesOpenCVsPointUndistortion)
{
  vexa::UndistortCameraImage::Pointer undistorter = vexa::UndistortCameraImage::New();
  undistorter->SetFocalLength(fx, fy);
  undistorter->SetPrincipalPoint(cx, cy);
  undistorter->SetCameraDistortion(distortion[0], distortion[1], distortion[2], distortion[3]);

  const std::vector<cv::Point2f> distorted{{82.0f, 57.0f}, {30.5f, 20.25f}, {140.0f, 100.0f}, {100.0f, 40.0f}};
  std::vector<cv::Point2f> expected;
  cv::undistortPoints(distorted, expected, CameraMatrix(), DistortionVector(), cv::noArray(), CameraMatrix());

  testing::internal::CaptureStdout();
  for (size_t i = 0; i < distorted.size(); ++i)
  {
    vexa::Point<double, 2> p;
    p[0] = distorted[i].x;
    p[1] = distorted[i].y;
    const vexa::Point<double, 2> result = undistorter->UndistortPixel(p);
    EXPECT_NEAR(expected[i].x, result[0], 0.01) << i;
    EXPECT_NEAR(expected[i].y, result[1], 0.01) << i;
  }
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST(UndistortCameraImage, UndistortPixelWithoutDistortionOrModelReturnsItsInput)
{
  vexa::Point<double, 2> p;
  p[0] = 12.25;
  p[1] = -3.5;
  testing::internal::CaptureStdout();
  // A fresh object is an identity camera.
  vexa::UndistortCameraImage::Pointer fresh = vexa::UndistortCameraImage::New();
  vexa::Point<double, 2> result = fresh->UndistortPixel(p);
  EXPECT_DOUBLE_EQ(12.25, result[0]);
  EXPECT_DOUBLE_EQ(-3.5, result[1]);

  fresh->SetFocalLength(200.0f, 210.0f);
  fresh->SetPrincipalPoint(50.0f, 60.0f);
  fresh->SetCameraDistortion(0, 0, 0, 0);
  result = fresh->UndistortPixel(p);
  EXPECT_NEAR(12.25, result[0], 1e-4);
  EXPECT_NEAR(-3.5, result[1], 1e-4);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST(UndistortCameraImage, UndistortPixelReportsAResultThatDoesNotConverge)
{
  vexa::UndistortCameraImage::Pointer undistorter = vexa::UndistortCameraImage::New();
  undistorter->SetFocalLength(100.0f, 100.0f);
  undistorter->SetPrincipalPoint(0.0f, 0.0f);
  undistorter->SetCameraDistortion(-0.9f, 0.6f, 0.0f, 0.0f);
  vexa::Point<double, 2> p;
  p[0] = 95.0;
  p[1] = 80.0;
  testing::internal::CaptureStdout();
  const vexa::Point<double, 2> result = undistorter->UndistortPixel(p);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, out.find("undistort sanity check error: diffx =")) << out;
  EXPECT_NE(std::string::npos, out.find(" , diffy = "));
  EXPECT_EQ(out.find("undistort sanity check"), out.rfind("undistort sanity check")) << "reported once";
  EXPECT_TRUE(std::isfinite(result[0]) && std::isfinite(result[1]));
}
