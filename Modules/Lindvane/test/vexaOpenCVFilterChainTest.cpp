#include <vexaBasicCombinationOpenCVImageFilter.h>
#include <vexaConvertGrayscaleOpenCVImageFilter.h>
#include <vexaCropOpenCVImageFilter.h>

#include <vexaException.h>
#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

namespace
{
  // Records what it was called with and answers as told.
  class ProbeFilter : public vexa::AbstractOpenCVImageFilter
  {
  public:
    vexaClassMacro(ProbeFilter, vexa::AbstractOpenCVImageFilter);
    vexaNewMacro(ProbeFilter);
    bool OnFilterImage(cv::Mat &image) override
    {
      ids.push_back(GetCurrentImageId());
      if (log)
        log->push_back(name);
      image += cv::Scalar::all(1);
      return answer;
    }
    std::string name;
    bool answer = true;
    std::vector<int> ids;
    std::vector<std::string> *log = nullptr;

  protected:
    ProbeFilter() = default;
  };

  ProbeFilter::Pointer Probe(const std::string &name, std::vector<std::string> *log, bool answer = true)
  {
    ProbeFilter::Pointer p = ProbeFilter::New();
    p->name = name;
    p->log = log;
    p->answer = answer;
    return p;
  }

  const std::vector<std::string> kCropTags{"AbstractOpenCVImageFilter", "CropOpenCVImageFilter"};
}

TEST(AbstractOpenCVImageFilter, ImageIdsBelowTheInvalidIdBecomeIt)
{
  ProbeFilter::Pointer probe = Probe("p", nullptr);
  cv::Mat image(2, 2, CV_8UC1, cv::Scalar(0));
  EXPECT_EQ(-1, vexa::AbstractOpenCVImageFilter::INVALID_IMAGE_ID);
  probe->FilterImage(image, -7);
  probe->FilterImage(image, 12);
  probe->FilterImage(image);
  EXPECT_EQ((std::vector<int>{-1, 12, -1}), probe->ids);
}

TEST(BasicCombinationOpenCVImageFilter, RunsItsFiltersInOrderAndStopsAtTheFirstFailure)
{
  std::vector<std::string> log;
  vexa::BasicCombinationOpenCVImageFilter::Pointer chain = vexa::BasicCombinationOpenCVImageFilter::New();
  cv::Mat image(2, 2, CV_8UC1, cv::Scalar(0));
  EXPECT_TRUE(chain->GetIsEmpty());
  EXPECT_TRUE(chain->FilterImage(image, 3)) << "an empty chain succeeds";
  EXPECT_EQ(0, image.at<uchar>(0, 0)) << "and leaves the image alone";

  ProbeFilter::Pointer a = Probe("a", &log), b = Probe("b", &log, false), c = Probe("c", &log);
  chain->PushFilter(a.GetPointer());
  chain->PushFilter(b.GetPointer());
  chain->PushFilter(c.GetPointer());
  EXPECT_FALSE(chain->FilterImage(image, 5));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), log);
  EXPECT_EQ(std::vector<int>{5}, b->ids) << "members get the chain's image id";
  EXPECT_TRUE(c->ids.empty());

  b->answer = true;
  log.clear();
  EXPECT_TRUE(chain->FilterImage(image, 6));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), log);
  EXPECT_EQ(5, image.at<uchar>(0, 0)) << "each member worked on the same image";
}

TEST(BasicCombinationOpenCVImageFilter, ListOperations)
{
  std::vector<std::string> log;
  vexa::BasicCombinationOpenCVImageFilter::Pointer chain = vexa::BasicCombinationOpenCVImageFilter::New();
  EXPECT_THROW(chain->PopFilter(), std::out_of_range);

  ProbeFilter::Pointer a = Probe("a", &log), b = Probe("b", &log), other = Probe("x", &log);
  chain->PushFilter(a.GetPointer());
  chain->PushFilter(b.GetPointer());
  EXPECT_EQ(b.GetPointer(), chain->PopFilter().GetPointer());
  EXPECT_FALSE(chain->GetIsFilterOnTheList(b.GetPointer()));

  chain->PushFilter(b.GetPointer());
  chain->PushFilter(a.GetPointer()); // a, b, a
  EXPECT_FALSE(chain->RemoveFilter(other.GetPointer()));
  EXPECT_TRUE(chain->RemoveFilter(a.GetPointer())); // b, a
  EXPECT_TRUE(chain->GetIsFilterOnTheList(a.GetPointer()));
  cv::Mat image(1, 1, CV_8UC1, cv::Scalar(0));
  chain->FilterImage(image);
  EXPECT_EQ((std::vector<std::string>{"b", "a"}), log) << "only the first occurrence went";
  EXPECT_FALSE(chain->GetIsEmpty());
}

TEST(ConvertGrayscaleOpenCVImageFilter, WeighsColourFramesAsBlueGreenRed)
{
  vexa::ConvertGrayscaleOpenCVImageFilter::Pointer gray = vexa::ConvertGrayscaleOpenCVImageFilter::New();
  // A pure blue pixel in capture order: blue weighs 0.114, red would weigh 0.299.
  cv::Mat image(3, 4, CV_8UC3, cv::Scalar(200, 0, 0));
  EXPECT_TRUE(gray->FilterImage(image));
  ASSERT_EQ(CV_8UC1, image.type());
  EXPECT_EQ(cv::Size(4, 3), image.size());
  EXPECT_NEAR(0.114 * 200, image.at<uchar>(1, 1), 1.0);

  cv::Mat withAlpha(2, 2, CV_8UC4, cv::Scalar(0, 0, 100, 255));
  EXPECT_TRUE(gray->FilterImage(withAlpha));
  EXPECT_EQ(CV_8UC1, withAlpha.type());
  EXPECT_NEAR(0.299 * 100, withAlpha.at<uchar>(0, 0), 1.0);

  cv::Mat single(2, 2, CV_16UC1, cv::Scalar(1234));
  const uchar *data = single.data;
  EXPECT_TRUE(gray->FilterImage(single));
  EXPECT_EQ(data, single.data) << "one-channel images stay untouched";

  cv::Mat twoChannels(2, 2, CV_8UC2, cv::Scalar(1, 2));
  EXPECT_THROW(gray->FilterImage(twoChannels), cv::Exception);
}

TEST(CropOpenCVImageFilter, ChainOfGrayscaleAndCropGivesTheRegion)
{
  vexa::BasicCombinationOpenCVImageFilter::Pointer chain = vexa::BasicCombinationOpenCVImageFilter::New();
  vexa::CropOpenCVImageFilter::Pointer crop = vexa::CropOpenCVImageFilter::New();
  crop->SetCropRegion(cv::Rect(10, 20, 100, 50));
  chain->PushFilter(vexa::ConvertGrayscaleOpenCVImageFilter::New().GetPointer());
  chain->PushFilter(crop.GetPointer());

  cv::Mat image(480, 640, CV_8UC3);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      image.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(x), static_cast<uchar>(x), static_cast<uchar>(x));
  ASSERT_TRUE(chain->FilterImage(image));
  EXPECT_EQ(CV_8UC1, image.type());
  EXPECT_EQ(cv::Size(100, 50), image.size());
  EXPECT_EQ(10, image.at<uchar>(0, 0));
  EXPECT_EQ(109, image.at<uchar>(49, 99));
}

TEST(CropOpenCVImageFilter, SettingTheRegion)
{
  vorlen::CapturingSink sink;
  vexa::CropOpenCVImageFilter::Pointer crop = vexa::CropOpenCVImageFilter::New();
  EXPECT_TRUE(crop->GetIsCropRegionEmpty());
  crop->SetCropRegion(-5, 3, 20, 10);
  EXPECT_EQ(cv::Rect(0, 3, 25, 7), crop->GetCropRegion());
  ASSERT_EQ(1u, sink.Records().size());
  EXPECT_EQ("Changed negative x value in roi to 0.", sink.Records()[0].text);
  EXPECT_EQ(1, sink.Records()[0].level);
  EXPECT_EQ(kCropTags, sink.Records()[0].categories);

  crop->SetCropRegion(cv::Rect(2, -4, 8, 9));
  EXPECT_TRUE(sink.Contains("Changed negative y value in roi to 0.", 1));
  EXPECT_EQ(cv::Rect(2, 0, 8, 9), crop->GetCropRegion());

  try
  {
    crop->SetCropRegion(cv::Rect(1, 1, -3, 4));
    FAIL() << "a negative width must throw";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_STREQ("Invalid boundaries supplied to USImageVideoSource::SetRegionOfInterest()", e.GetDescription());
  }
  EXPECT_THROW(crop->SetCropRegion(cv::Rect(1, 1, 3, -4)), vexa::Exception);
  EXPECT_EQ(cv::Rect(2, 0, 8, 9), crop->GetCropRegion()) << "a refused region keeps the previous one";
}

TEST(CropOpenCVImageFilter, EmptyRegionsAndCornersOutsideTheImageFail)
{
  vorlen::CapturingSink sink;
  vexa::CropOpenCVImageFilter::Pointer crop = vexa::CropOpenCVImageFilter::New();
  cv::Mat image(480, 640, CV_8UC1, cv::Scalar(3));
  EXPECT_FALSE(crop->FilterImage(image));
  EXPECT_TRUE(sink.Contains("Cropping cannot be done without setting a non-empty crop region first.", 1));

  crop->SetCropRegion(cv::Rect(5, 5, 10, 0));
  EXPECT_TRUE(crop->GetIsCropRegionEmpty());
  EXPECT_FALSE(crop->FilterImage(image)) << "no height is empty too";

  crop->SetCropRegion(cv::Rect(640, 0, 10, 10));
  sink.Clear();
  EXPECT_FALSE(crop->FilterImage(image));
  EXPECT_EQ(std::vector<std::string>{"Cannot crop if top left corner of the roi is outside the image boundaries."},
            sink.Texts(1));
  crop->SetCropRegion(cv::Rect(0, 480, 10, 10));
  EXPECT_FALSE(crop->FilterImage(image));
  EXPECT_EQ(cv::Size(640, 480), image.size()) << "a failed crop leaves the image alone";
}

TEST(CropOpenCVImageFilter, RegionIsFittedToEveryFrameWithAWarningWhenTheFitChanges)
{
  vorlen::CapturingSink sink;
  vexa::CropOpenCVImageFilter::Pointer crop = vexa::CropOpenCVImageFilter::New();
  crop->SetCropRegion(cv::Rect(600, 400, 100, 50));
  auto frame = [](int cols, int rows) { return cv::Mat(rows, cols, CV_8UC1, cv::Scalar(1)); };

  cv::Mat image = frame(640, 480);
  ASSERT_TRUE(crop->FilterImage(image));
  EXPECT_EQ(cv::Size(40, 50), image.size());
  EXPECT_EQ(cv::Rect(600, 400, 40, 50), crop->GetCropRegion());
  EXPECT_EQ(std::vector<std::string>{"Changed too large roi in x direction to fit the image size."}, sink.Texts(1));
  EXPECT_EQ(kCropTags, sink.Records()[0].categories);

  sink.Clear();
  image = frame(640, 480);
  ASSERT_TRUE(crop->FilterImage(image));
  EXPECT_EQ(cv::Size(40, 50), image.size());
  EXPECT_TRUE(sink.Records().empty()) << "the same fit again is not worth a warning";

  // A larger frame gets the whole region again, a smaller one a new fit.
  image = frame(800, 600);
  ASSERT_TRUE(crop->FilterImage(image));
  EXPECT_EQ(cv::Size(100, 50), image.size());
  image = frame(620, 420);
  ASSERT_TRUE(crop->FilterImage(image));
  EXPECT_EQ(cv::Size(20, 20), image.size());
  EXPECT_EQ((std::vector<std::string>{"Changed too large roi in x direction to fit the image size.",
                                      "Changed too large roi in y direction to fit the image size."}),
            sink.Texts(1));
}
