#include "vexaAbstractOpenCVImageFilter.h"

#include <algorithm>

const int vexa::AbstractOpenCVImageFilter::INVALID_IMAGE_ID = -1;

vexa::AbstractOpenCVImageFilter::AbstractOpenCVImageFilter() = default;

vexa::AbstractOpenCVImageFilter::~AbstractOpenCVImageFilter() = default;

bool vexa::AbstractOpenCVImageFilter::FilterImage(cv::Mat &image, int id)
{
  m_CurrentImageId = std::max(id, INVALID_IMAGE_ID);
  return this->OnFilterImage(image);
}
