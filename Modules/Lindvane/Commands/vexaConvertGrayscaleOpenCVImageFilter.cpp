#include "vexaConvertGrayscaleOpenCVImageFilter.h"

#include <opencv2/imgproc.hpp>

vexa::ConvertGrayscaleOpenCVImageFilter::ConvertGrayscaleOpenCVImageFilter() = default;

vexa::ConvertGrayscaleOpenCVImageFilter::~ConvertGrayscaleOpenCVImageFilter() = default;

bool vexa::ConvertGrayscaleOpenCVImageFilter::OnFilterImage(cv::Mat &image)
{
  if (image.channels() <= 1)
    return true;
  cv::Mat gray;
  cv::cvtColor(image, gray, image.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
  image = gray;
  return true;
}
