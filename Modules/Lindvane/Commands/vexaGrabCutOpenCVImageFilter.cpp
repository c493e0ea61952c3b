#include "vexaGrabCutOpenCVImageFilter.h"

#include <vexaException.h>
#include <vexaLog.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <exception>

#define VEXA_GRABCUT_LOG(level) VEXA_LOG_RECORD(level)("AbstractOpenCVImageFilter")("GrabCutOpenCVImageFilter")

namespace
{
  // grab-cut labels
  const unsigned char kBackground = 0;
  const unsigned char kForeground = 1;
  const unsigned char kProbableBackground = 2;
  const unsigned char kProbableForeground = 3;
}

vexa::GrabCutOpenCVImageFilter::GrabCutOpenCVImageFilter()
{
  m_Worker = std::thread(&GrabCutOpenCVImageFilter::SegmentationWorker, this);
}

vexa::GrabCutOpenCVImageFilter::~GrabCutOpenCVImageFilter()
{
  {
    std::lock_guard<std::mutex> lock(m_ImageMutex);
    m_StopThread = true;
  }
  m_WorkerBarrier.notify_all();
  if (m_Worker.joinable())
    m_Worker.join();
}

bool vexa::GrabCutOpenCVImageFilter::OnFilterImage(cv::Mat &image)
{
  if (image.empty() || image.total() == 0)
  {
    VEXA_GRABCUT_LOG(1) << "Filtering empty image?";
    return false;
  }
  if (image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3))
  {
    VEXA_GRABCUT_LOG(1) << "Cannot segment an image with " << image.channels() << " channels of depth " << image.depth()
                        << ": 8-bit grey or 8-bit colour images are needed.";
    return false;
  }
  if (image.type() != CV_8UC3)
  {
    cv::Mat gray = image.clone();
    cv::cvtColor(gray, image, cv::COLOR_GRAY2BGR);
  }

  bool haveForeground;
  {
    std::lock_guard<std::mutex> lock(m_PointSetsMutex);
    haveForeground = !m_ForegroundPoints.empty();
  }
  {
    std::lock_guard<std::mutex> lock(m_ImageMutex);
    image.copyTo(m_InputImage);
    m_InputImageId = this->GetCurrentImageId();
    if (haveForeground)
      m_NewFramePending = true;
  }
  if (haveForeground)
    m_WorkerBarrier.notify_all();
  return true;
}

void vexa::GrabCutOpenCVImageFilter::SetModelPoints(ModelPointsList foregroundPoints, ModelPointsList backgroundPoints)
{
  std::lock_guard<std::mutex> lock(m_PointSetsMutex);
  m_ForegroundPoints.swap(foregroundPoints);
  m_BackgroundPoints.swap(backgroundPoints);
}

void vexa::GrabCutOpenCVImageFilter::SetModelPoints(ModelPointsList foregroundPoints)
{
  std::lock_guard<std::mutex> lock(m_PointSetsMutex);
  m_ForegroundPoints.swap(foregroundPoints);
}

void vexa::GrabCutOpenCVImageFilter::SetModelPoints(cv::Mat foregroundMask, cv::Mat backgroundMask)
{
  ModelPointsList foreground = this->ConvertMaskToModelPointsList(foregroundMask);
  ModelPointsList background = this->ConvertMaskToModelPointsList(backgroundMask);
  this->SetModelPoints(std::move(foreground), std::move(background));
}

void vexa::GrabCutOpenCVImageFilter::SetModelPoints(cv::Mat foregroundMask)
{
  this->SetModelPoints(this->ConvertMaskToModelPointsList(foregroundMask));
}

void vexa::GrabCutOpenCVImageFilter::SetModelPointsDilationSize(int modelPointsDilationSize)
{
  if (modelPointsDilationSize < 0)
  {
    VEXA_GRABCUT_LOG(2) << "Model points dilation size must not be smaller then zero.";
    vexaThrow() << "Model points dilation size must not be smaller then zero.";
  }
  std::lock_guard<std::mutex> lock(m_SettingsMutex);
  m_ModelPointsDilationSize = modelPointsDilationSize;
}

void vexa::GrabCutOpenCVImageFilter::SetUseOnlyRegionAroundModelPoints(unsigned int additionalWidth)
{
  std::lock_guard<std::mutex> lock(m_SettingsMutex);
  m_UseOnlyRegionAroundModelPoints = true;
  m_AdditionalWidth = additionalWidth;
}

void vexa::GrabCutOpenCVImageFilter::SetUseFullImage()
{
  std::lock_guard<std::mutex> lock(m_SettingsMutex);
  m_UseOnlyRegionAroundModelPoints = false;
}

cv::Rect vexa::GrabCutOpenCVImageFilter::GetRegionAroundModelPoints()
{
  std::lock_guard<std::mutex> lock(m_SettingsMutex);
  return m_BoundingBox;
}

cv::Mat vexa::GrabCutOpenCVImageFilter::GetResultMask()
{
  int ignored;
  return this->GetResultMask(ignored);
}

cv::Mat vexa::GrabCutOpenCVImageFilter::GetResultMask(int &resultImageId)
{
  std::lock_guard<std::mutex> lock(m_ResultMutex);
  resultImageId = m_ResultImageId;
  return m_ResultMask.clone();
}

int vexa::GrabCutOpenCVImageFilter::GetResultImageId()
{
  std::lock_guard<std::mutex> lock(m_ResultMutex);
  return m_ResultImageId;
}

namespace
{
  vexa::GrabCutOpenCVImageFilter::ModelPointsList ToIndexList(const std::vector<cv::Point> &points)
  {
    vexa::GrabCutOpenCVImageFilter::ModelPointsList list;
    list.reserve(points.size());
    for (const cv::Point &p : points)
    {
      itk::Index<2> index;
      index[0] = p.x;
      index[1] = p.y;
      list.push_back(index);
    }
    return list;
  }
}

std::vector<vexa::GrabCutOpenCVImageFilter::ModelPointsList> vexa::GrabCutOpenCVImageFilter::GetResultContours()
{
  std::vector<ModelPointsList> result;
  cv::Mat mask = this->GetResultMask();
  if (mask.empty())
    return result;
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
  for (const std::vector<cv::Point> &contour : contours)
    result.push_back(ToIndexList(contour));
  return result;
}

vexa::GrabCutOpenCVImageFilter::ModelPointsList vexa::GrabCutOpenCVImageFilter::GetResultContourWithPixel(
  itk::Index<2> pixelIndex)
{
  cv::Mat mask = this->GetResultMask();
  if (mask.empty())
    return ModelPointsList();
  if (pixelIndex[0] < 0 || pixelIndex[0] >= mask.cols || pixelIndex[1] < 0 || pixelIndex[1] >= mask.rows)
  {
    VEXA_GRABCUT_LOG(1) << "Given pixel index (" << pixelIndex[0] << ", " << pixelIndex[1] << ") is outside the image ("
                        << mask.rows << ", " << mask.cols << ").";
    return ModelPointsList();
  }
  cv::floodFill(mask, cv::Point(static_cast<int>(pixelIndex[0]), static_cast<int>(pixelIndex[1])), 5, nullptr,
                cv::Scalar(0), cv::Scalar(0), 4);
  cv::Mat region = mask == 5;
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(region, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
  if (contours.empty())
    return ModelPointsList();
  return ToIndexList(contours.front());
}

vexa::GrabCutOpenCVImageFilter::ModelPointsList vexa::GrabCutOpenCVImageFilter::ConvertMaskToModelPointsList(
  cv::Mat mask)
{
  if (mask.empty())
    return ModelPointsList();
  std::vector<cv::Point> points;
  cv::findNonZero(mask, points);
  return ToIndexList(points);
}

cv::Mat vexa::GrabCutOpenCVImageFilter::GetMaskFromPointSets(cv::Size imageSize)
{
  cv::Mat mask(imageSize, CV_8UC1, cv::Scalar(kProbableBackground));
  int dilation;
  {
    std::lock_guard<std::mutex> lock(m_SettingsMutex);
    dilation = m_ModelPointsDilationSize;
  }
  ModelPointsList foreground, background;
  {
    std::lock_guard<std::mutex> lock(m_PointSetsMutex);
    foreground = m_ForegroundPoints;
    background = m_BackgroundPoints;
  }
  // A square of half-width `dilation` around each point, clipped to the
  // image; background is drawn last and wins where the two overlap.
  auto draw = [&mask, dilation](const ModelPointsList &points, unsigned char value) {
    for (const itk::Index<2> &p : points)
    {
      const long long x0 = std::max<long long>(0, static_cast<long long>(p[0]) - dilation);
      const long long y0 = std::max<long long>(0, static_cast<long long>(p[1]) - dilation);
      const long long x1 = std::min<long long>(mask.cols - 1, static_cast<long long>(p[0]) + dilation);
      const long long y1 = std::min<long long>(mask.rows - 1, static_cast<long long>(p[1]) + dilation);
      if (x0 > x1 || y0 > y1)
        continue;
      mask(cv::Rect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0 + 1),
                    static_cast<int>(y1 - y0 + 1)))
        .setTo(cv::Scalar(value));
    }
  };
  draw(foreground, kForeground);
  draw(background, kBackground);
  return mask;
}

cv::Rect vexa::GrabCutOpenCVImageFilter::GetBoundingRectFromMask(cv::Mat mask)
{
  cv::Mat modelPixels;
  cv::compare(mask, kProbableBackground, modelPixels, cv::CMP_NE);
  std::vector<cv::Point> points;
  cv::findNonZero(modelPixels, points);
  if (points.empty())
  {
    VEXA_GRABCUT_LOG(1) << "Cannot find any foreground points. Returning full image size as bounding rectangle.";
    return cv::Rect(0, 0, mask.cols, mask.rows);
  }
  const cv::Rect box = cv::boundingRect(points);
  unsigned int additionalWidth;
  {
    std::lock_guard<std::mutex> lock(m_SettingsMutex);
    additionalWidth = m_AdditionalWidth;
  }
  const long long a = additionalWidth;
  // The margin on every side, cut at the image's edges.
  const long long left = std::max<long long>(0, box.x - a);
  const long long top = std::max<long long>(0, box.y - a);
  const long long right = std::min<long long>(mask.cols, static_cast<long long>(box.x) + box.width + a);
  const long long bottom = std::min<long long>(mask.rows, static_cast<long long>(box.y) + box.height + a);
  return cv::Rect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                  static_cast<int>(bottom - top));
}

cv::Mat vexa::GrabCutOpenCVImageFilter::RunSegmentation(cv::Mat input, cv::Mat mask)
{
  // grab-cut models foreground and background with five Gaussians each and
  // needs at least that many samples of either.
  const int foreground = cv::countNonZero(mask == kForeground);
  const int probableBackground = cv::countNonZero(mask == kProbableBackground);
  if (foreground < 5 || probableBackground < 5)
    return cv::Mat::zeros(mask.size(), mask.type());

  cv::Mat labels = mask.clone();
  cv::Mat backgroundModel, foregroundModel;
  cv::grabCut(input, labels, cv::Rect(), backgroundModel, foregroundModel, 1, cv::GC_INIT_WITH_MASK);
  cv::Mat result = (labels == kProbableForeground) | (labels == kForeground);
  return result; // 255 where foreground
}

void vexa::GrabCutOpenCVImageFilter::Segment(const cv::Mat &image, int imageId)
{
  bool regionOnly;
  {
    std::lock_guard<std::mutex> lock(m_SettingsMutex);
    regionOnly = m_UseOnlyRegionAroundModelPoints;
  }
  cv::Mat mask = this->GetMaskFromPointSets(image.size());
  cv::Mat result;
  if (!regionOnly)
  {
    result = this->RunSegmentation(image, mask);
  }
  else
  {
    result = cv::Mat::zeros(mask.size(), mask.type());
    const cv::Rect region = this->GetBoundingRectFromMask(mask);
    {
      std::lock_guard<std::mutex> lock(m_SettingsMutex);
      m_BoundingBox = region;
    }
    this->RunSegmentation(image(region).clone(), mask(region).clone()).copyTo(result(region));
  }
  std::lock_guard<std::mutex> lock(m_ResultMutex);
  m_ResultMask = result;
  m_ResultImageId = imageId;
}

void vexa::GrabCutOpenCVImageFilter::SegmentationWorker()
{
  std::unique_lock<std::mutex> lock(m_ImageMutex);
  for (;;)
  {
    m_WorkerBarrier.wait(lock, [this] { return m_StopThread || m_NewFramePending; });
    if (m_StopThread)
      return;
    m_NewFramePending = false;
    const cv::Mat image = m_InputImage.clone();
    const int imageId = m_InputImageId;
    lock.unlock();
    // Nothing may end this thread but the destructor: a failed run is
    // logged and the next frame is tried.
    try
    {
      this->Segment(image, imageId);
    }
    catch (const std::exception &e)
    {
      VEXA_GRABCUT_LOG(2) << "Segmentation of image " << imageId << " failed: " << e.what();
    }
    catch (...)
    {
      VEXA_GRABCUT_LOG(2) << "Segmentation of image " << imageId << " failed with an unknown exception.";
    }
    lock.lock();
  }
}
