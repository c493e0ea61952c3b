#include "vexaLindvaneTestSupport.h"

#include <vexaGrabCutOpenCVImageFilter.h>

#include <vexaException.h>
#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>

using lindvane_test::WaitUntil;
using ModelPoints = vexa::GrabCutOpenCVImageFilter::ModelPointsList;

namespace
{
  // a segmentation runs on the filter's worker thread, slowly under the thread sanitizer
  const std::chrono::seconds GrabCutTime(20);

  // Opens up the protected steps of a segmentation run.
  class ExposedGrabCut : public vexa::GrabCutOpenCVImageFilter
  {
  public:
    vexaClassMacro(ExposedGrabCut, vexa::GrabCutOpenCVImageFilter);
    vexaNewMacro(ExposedGrabCut);
    using vexa::GrabCutOpenCVImageFilter::ConvertMaskToModelPointsList;
    using vexa::GrabCutOpenCVImageFilter::GetBoundingRectFromMask;
    using vexa::GrabCutOpenCVImageFilter::GetMaskFromPointSets;
    using vexa::GrabCutOpenCVImageFilter::RunSegmentation;
  };

  itk::Index<2> Pixel(long x, long y)
  {
    itk::Index<2> index;
    index[0] = x;
    index[1] = y;
    return index;
  }

  // A red disc of radius 28 around (80, 60) on coloured noise, 160 x 120.
  struct DiscScene
  {
    cv::Mat image, truth;
    ModelPoints foreground, background;
    DiscScene()
    {
      cv::RNG rng(12345);
      image.create(120, 160, CV_8UC3);
      truth = cv::Mat::zeros(120, 160, CV_8UC1);
      cv::circle(truth, cv::Point(80, 60), 28, cv::Scalar(255), -1);
      for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x)
          image.at<cv::Vec3b>(y, x) = truth.at<uchar>(y, x)
                                        ? cv::Vec3b(rng.uniform(20, 70), rng.uniform(20, 70), rng.uniform(190, 250))
                                        : cv::Vec3b(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 120));
      foreground = {Pixel(80, 60), Pixel(70, 60), Pixel(90, 60), Pixel(80, 50), Pixel(80, 70)};
      for (int a = 0; a < 360; a += 15)
        background.push_back(
          Pixel(std::lround(80 + 45 * std::cos(a * CV_PI / 180)), std::lround(60 + 45 * std::sin(a * CV_PI / 180))));
    }
  };

  double IoU(const cv::Mat &a, const cv::Mat &b)
  {
    const double united = cv::countNonZero(a | b);
    return united == 0 ? 0.0 : cv::countNonZero(a & b) / united;
  }
}

TEST(GrabCutOpenCVImageFilter, SegmentsADiscOnNoise)
{
  DiscScene scene;
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  filter->SetModelPointsDilationSize(3);
  filter->SetModelPoints(scene.foreground, scene.background);
  cv::Mat frame = scene.image.clone();
  ASSERT_TRUE(filter->FilterImage(frame, 7));
  EXPECT_EQ(0.0, cv::norm(scene.image, frame, cv::NORM_INF)) << "the frame itself carries no result";

  ASSERT_TRUE(WaitUntil([&] { return filter->GetResultImageId() == 7; }, GrabCutTime));
  int id = -5;
  const cv::Mat mask = filter->GetResultMask(id);
  EXPECT_EQ(7, id);
  ASSERT_EQ(CV_8UC1, mask.type());
  ASSERT_EQ(scene.truth.size(), mask.size());
  EXPECT_GT(IoU(mask, scene.truth), 0.9);

  // The outline of the disc, from a pixel inside it, and all contours.
  const ModelPoints contour = filter->GetResultContourWithPixel(Pixel(80, 60));
  ASSERT_FALSE(contour.empty());
  for (const itk::Index<2> &p : contour)
    EXPECT_NEAR(28.0, std::hypot(p[0] - 80.0, p[1] - 60.0), 3.0) << p;
  EXPECT_FALSE(filter->GetResultContours().empty());
}

TEST(GrabCutOpenCVImageFilter, RegionModeSegmentsOnlyAroundTheModelPoints)
{
  DiscScene scene;
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  filter->SetModelPointsDilationSize(3);
  filter->SetUseOnlyRegionAroundModelPoints(5);
  filter->SetModelPoints(scene.foreground, scene.background);
  cv::Mat frame = scene.image.clone();
  filter->FilterImage(frame, 1);
  ASSERT_TRUE(WaitUntil([&] { return filter->GetResultImageId() == 1; }, GrabCutTime));
  // The ring of background points spans 35..125 x 15..105; dilated by 3 and widened by 5 on each side.
  EXPECT_EQ(cv::Rect(27, 7, 107, 107), filter->GetRegionAroundModelPoints());
  const cv::Mat mask = filter->GetResultMask();
  EXPECT_GT(IoU(mask, scene.truth), 0.9);
  EXPECT_EQ(0, cv::countNonZero(mask(cv::Rect(0, 0, 27, 120)))) << "nothing outside the region";
}

TEST(GrabCutOpenCVImageFilter, WithoutForegroundPointsTheWorkerIsNotWoken)
{
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  cv::Mat frame(40, 40, CV_8UC3, cv::Scalar(1, 2, 3));
  EXPECT_TRUE(filter->FilterImage(frame, 3));
  EXPECT_TRUE(filter->GetResultMask().empty());
  EXPECT_EQ(-1, filter->GetResultImageId());
  EXPECT_TRUE(filter->GetResultContours().empty());
  EXPECT_TRUE(filter->GetResultContourWithPixel(Pixel(1, 1)).empty());

  // Too few foreground seeds (4 pixels): a run that yields an empty result.
  filter->SetModelPoints(ModelPoints{Pixel(1, 1), Pixel(2, 1), Pixel(3, 1), Pixel(4, 1)});
  filter->FilterImage(frame, 4);
  ASSERT_TRUE(WaitUntil([&] { return filter->GetResultImageId() == 4; }, GrabCutTime));
  const cv::Mat mask = filter->GetResultMask();
  EXPECT_EQ(cv::Size(40, 40), mask.size());
  EXPECT_EQ(0, cv::countNonZero(mask));
}

TEST(GrabCutOpenCVImageFilter, TheNewestFrameIsAlwaysSegmented)
{
  DiscScene scene;
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  filter->SetModelPointsDilationSize(3);
  filter->SetModelPoints(scene.foreground, scene.background);
  // Frames arrive much faster than they are segmented; the last one is
  // segmented however the wake-ups fall.
  for (int id = 0; id < 40; ++id)
  {
    cv::Mat frame = scene.image.clone();
    filter->FilterImage(frame, id);
  }
  ASSERT_TRUE(WaitUntil([&] { return filter->GetResultImageId() == 39; }, GrabCutTime));
}

TEST(GrabCutOpenCVImageFilter, MaskIsSizedFromTheFrameBeingSegmented)
{
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  filter->SetModelPointsDilationSize(2);
  filter->SetModelPoints(ModelPoints{Pixel(10, 10)}, ModelPoints{Pixel(1, 1)});
  cv::RNG rng(3);
  for (const cv::Size &size : {cv::Size(64, 48), cv::Size(30, 20)})
  {
    cv::Mat frame(size, CV_8UC3);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    const int id = size.width;
    filter->FilterImage(frame, id);
    ASSERT_TRUE(WaitUntil([&] { return filter->GetResultImageId() == id; }, GrabCutTime));
    EXPECT_EQ(size, filter->GetResultMask().size());
  }
}

TEST(GrabCutOpenCVImageFilter, GreyFramesBecomeColourFramesAndBadFramesAreRefused)
{
  vorlen::CapturingSink sink;
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  cv::Mat gray(10, 12, CV_8UC1, cv::Scalar(77));
  EXPECT_TRUE(filter->FilterImage(gray));
  ASSERT_EQ(CV_8UC3, gray.type());
  EXPECT_EQ(cv::Vec3b(77, 77, 77), gray.at<cv::Vec3b>(9, 11));

  cv::Mat empty;
  EXPECT_FALSE(filter->FilterImage(empty));
  EXPECT_TRUE(sink.Contains("Filtering empty image?", 1));
  EXPECT_EQ((std::vector<std::string>{"AbstractOpenCVImageFilter", "GrabCutOpenCVImageFilter"}),
            sink.Records()[0].categories);

  cv::Mat deep(10, 12, CV_16UC1, cv::Scalar(77));
  EXPECT_FALSE(filter->FilterImage(deep));
  EXPECT_EQ(CV_16UC1, deep.type());
}

TEST(GrabCutOpenCVImageFilter, NegativeDilationIsLoggedAndThrown)
{
  vorlen::CapturingSink sink;
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  try
  {
    filter->SetModelPointsDilationSize(-1);
    FAIL() << "no exception";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_STREQ("Model points dilation size must not be smaller then zero.", e.GetDescription());
  }
  EXPECT_EQ(std::vector<std::string>{"Model points dilation size must not be smaller then zero."}, sink.Texts(2));
}

TEST(GrabCutOpenCVImageFilter, SeedMaskFromThePointSets)
{
  ExposedGrabCut::Pointer filter = ExposedGrabCut::New();
  filter->SetModelPoints(ModelPoints{Pixel(5, 5), Pixel(0, 0)}, ModelPoints{Pixel(6, 6)});
  cv::Mat mask = filter->GetMaskFromPointSets(cv::Size(20, 10));
  ASSERT_EQ(cv::Size(20, 10), mask.size());
  EXPECT_EQ(1, mask.at<uchar>(5, 5));
  EXPECT_EQ(0, mask.at<uchar>(6, 6));
  EXPECT_EQ(2, mask.at<uchar>(5, 6));
  EXPECT_EQ(2, cv::countNonZero(mask == 1));

  // Dilation 1: a square of 9 pixels, cut at the image's edge, background on top.
  filter->SetModelPointsDilationSize(1);
  mask = filter->GetMaskFromPointSets(cv::Size(20, 10));
  EXPECT_EQ(9 + 4 - 4, cv::countNonZero(mask == 1)) << "the background square covers 4 of the first";
  EXPECT_EQ(9, cv::countNonZero(mask == 0));
  EXPECT_EQ(1, mask.at<uchar>(0, 1));

  // Points outside the image draw nothing.
  filter->SetModelPoints(ModelPoints{Pixel(-5, 3), Pixel(25, 3)}, ModelPoints{});
  mask = filter->GetMaskFromPointSets(cv::Size(20, 10));
  EXPECT_EQ(0, cv::countNonZero(mask != 2));

  // Masks as point sources: the non-zero pixels, row by row.
  cv::Mat points = cv::Mat::zeros(4, 4, CV_8UC1);
  points.at<uchar>(2, 1) = 9;
  points.at<uchar>(0, 3) = 1;
  const ModelPoints list = filter->ConvertMaskToModelPointsList(points);
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(Pixel(3, 0), list[0]);
  EXPECT_EQ(Pixel(1, 2), list[1]);
}

TEST(GrabCutOpenCVImageFilter, RegionAroundTheModelPoints)
{
  vorlen::CapturingSink sink;
  ExposedGrabCut::Pointer filter = ExposedGrabCut::New();
  filter->SetUseOnlyRegionAroundModelPoints(10);
  cv::Mat mask(480, 640, CV_8UC1, cv::Scalar(2));
  mask.at<uchar>(40, 50) = 1;
  mask.at<uchar>(45, 60) = 0;
  EXPECT_EQ(cv::Rect(40, 30, 31, 26), filter->GetBoundingRectFromMask(mask));

  // At the right and bottom edges the region reaches the last column and row.
  mask.setTo(2);
  mask.at<uchar>(470, 630) = 1;
  mask.at<uchar>(479, 639) = 1;
  EXPECT_EQ(cv::Rect(620, 460, 20, 20), filter->GetBoundingRectFromMask(mask));
  // At the left and top edges the margin is cut.
  mask.setTo(2);
  mask.at<uchar>(3, 4) = 1;
  EXPECT_EQ(cv::Rect(0, 0, 15, 14), filter->GetBoundingRectFromMask(mask));

  EXPECT_TRUE(sink.Records().empty());
  mask.setTo(2);
  EXPECT_EQ(cv::Rect(0, 0, 640, 480), filter->GetBoundingRectFromMask(mask));
  EXPECT_TRUE(sink.Contains("Cannot find any foreground points. Returning full image size as bounding rectangle.", 1));
}

TEST(GrabCutOpenCVImageFilter, RunSegmentationNeedsFiveSeedsOfEachKind)
{
  DiscScene scene;
  ExposedGrabCut::Pointer filter = ExposedGrabCut::New();
  cv::Mat mask(scene.image.size(), CV_8UC1, cv::Scalar(2));
  mask(cv::Rect(78, 58, 2, 2)).setTo(1); // 4 foreground pixels
  EXPECT_EQ(0, cv::countNonZero(filter->RunSegmentation(scene.image, mask)));
  mask(cv::Rect(78, 58, 3, 3)).setTo(1); // 9
  EXPECT_GE(cv::countNonZero(filter->RunSegmentation(scene.image, mask)), 9) << "the seeds at least";

  cv::Mat allForeground(scene.image.size(), CV_8UC1, cv::Scalar(1));
  EXPECT_EQ(0, cv::countNonZero(filter->RunSegmentation(scene.image, allForeground)));
}

TEST(GrabCutOpenCVImageFilter, ContourOfAPixelOutsideTheResultIsRefused)
{
  vorlen::CapturingSink sink;
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  filter->SetModelPoints(ModelPoints{Pixel(1, 1)});
  cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(10, 20, 30));
  filter->FilterImage(frame, 2);
  ASSERT_TRUE(WaitUntil([&] { return filter->GetResultImageId() == 2; }, GrabCutTime));
  EXPECT_TRUE(filter->GetResultContourWithPixel(Pixel(700, 10)).empty());
  EXPECT_TRUE(filter->GetResultContourWithPixel(Pixel(-1, 10)).empty());
  EXPECT_TRUE(sink.Contains("Given pixel index (700, 10) is outside the image (480, 640).", 1));
}

TEST(GrabCutOpenCVImageFilter, FiltersCanBeMadeAndDestroyedAtAnyMoment)
{
  // A thousand filters that never segment...
  for (int i = 0; i < 1000; ++i)
    vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();

  // ...and filters destroyed while they have work.
  DiscScene scene;
  for (int i = 0; i < 20; ++i)
  {
    vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
    filter->SetModelPointsDilationSize(3);
    filter->SetModelPoints(scene.foreground, scene.background);
    cv::Mat frame = scene.image.clone();
    filter->FilterImage(frame, i);
  }
}

TEST(GrabCutOpenCVImageFilter, SettingsChangeWhileTheWorkerRuns)
{
  DiscScene scene;
  vexa::GrabCutOpenCVImageFilter::Pointer filter = vexa::GrabCutOpenCVImageFilter::New();
  filter->SetModelPoints(scene.foreground, scene.background);
  for (int id = 0; id < 30; ++id)
  {
    filter->SetModelPointsDilationSize(id % 4);
    if (id % 2)
      filter->SetUseOnlyRegionAroundModelPoints(static_cast<unsigned int>(id));
    else
      filter->SetUseFullImage();
    filter->SetModelPoints(scene.foreground);
    cv::Mat frame = scene.image.clone();
    filter->FilterImage(frame, id);
    filter->GetResultMask();
    filter->GetRegionAroundModelPoints();
  }
  ASSERT_TRUE(WaitUntil([&] { return filter->GetResultImageId() == 29; }, GrabCutTime));
  EXPECT_EQ(scene.image.size(), filter->GetResultMask().size());
}
