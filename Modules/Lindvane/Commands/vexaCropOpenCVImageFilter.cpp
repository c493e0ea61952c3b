#include "vexaCropOpenCVImageFilter.h"

#include <vexaException.h>
#include <vexaLog.h>

#define VEXA_CROP_WARN VEXA_WARN("AbstractOpenCVImageFilter")("CropOpenCVImageFilter")

vexa::CropOpenCVImageFilter::CropOpenCVImageFilter() = default;

vexa::CropOpenCVImageFilter::~CropOpenCVImageFilter() = default;

bool vexa::CropOpenCVImageFilter::OnFilterImage(cv::Mat &image)
{
  if (m_RequestedRegion.width == 0 || m_RequestedRegion.height == 0)
  {
    VEXA_CROP_WARN << "Cropping cannot be done without setting a non-empty crop region first.";
    return false;
  }
  if (m_RequestedRegion.x >= image.cols || m_RequestedRegion.y >= image.rows)
  {
    VEXA_CROP_WARN << "Cannot crop if top left corner of the roi is outside the image boundaries.";
    return false;
  }

  cv::Rect fitted = m_RequestedRegion;
  if (static_cast<long long>(fitted.x) + fitted.width > image.cols)
    fitted.width = image.cols - fitted.x;
  if (static_cast<long long>(fitted.y) + fitted.height > image.rows)
    fitted.height = image.rows - fitted.y;
  // Warn when the fit changes, not on every frame of the same size.
  if (m_NewCropRegionSet || fitted != m_CropRegion)
  {
    if (fitted.width != m_RequestedRegion.width && (m_NewCropRegionSet || fitted.width != m_CropRegion.width))
      VEXA_CROP_WARN << "Changed too large roi in x direction to fit the image size.";
    if (fitted.height != m_RequestedRegion.height && (m_NewCropRegionSet || fitted.height != m_CropRegion.height))
      VEXA_CROP_WARN << "Changed too large roi in y direction to fit the image size.";
    m_NewCropRegionSet = false;
    m_CropRegion = fitted;
  }

  cv::Mat cropped;
  cv::Mat(image, fitted).copyTo(cropped);
  image = cropped;
  return true;
}

void vexa::CropOpenCVImageFilter::SetCropRegion(cv::Rect cropRegion)
{
  if (cropRegion.x < 0)
  {
    VEXA_CROP_WARN << "Changed negative x value in roi to 0.";
    cropRegion.x = 0;
  }
  if (cropRegion.y < 0)
  {
    cropRegion.y = 0;
    VEXA_CROP_WARN << "Changed negative y value in roi to 0.";
  }
  if (cropRegion.height < 0 || cropRegion.width < 0)
  {
    vexaThrow() << "Invalid boundaries supplied to USImageVideoSource::SetRegionOfInterest()";
  }
  m_RequestedRegion = cropRegion;
  m_CropRegion = cropRegion;
  m_NewCropRegionSet = true;
}

void vexa::CropOpenCVImageFilter::SetCropRegion(int topLeftX, int topLeftY, int bottomRightX, int bottomRightY)
{
  this->SetCropRegion(cv::Rect(topLeftX, topLeftY, bottomRightX - topLeftX, bottomRightY - topLeftY));
}

cv::Rect vexa::CropOpenCVImageFilter::GetCropRegion() { return m_CropRegion; }

bool vexa::CropOpenCVImageFilter::GetIsCropRegionEmpty() { return m_CropRegion.width == 0 || m_CropRegion.height == 0; }
