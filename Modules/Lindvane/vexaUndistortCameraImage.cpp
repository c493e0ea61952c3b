#include "vexaUndistortCameraImage.h"

#include <vexaException.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <iostream>

namespace
{
  bool IsUsableFocalLength(double f) { return std::isfinite(f) && f != 0.0; }
}

vexa::UndistortCameraImage::UndistortCameraImage()
  : m_IntrinsicMatrix(3, 3, CV_32FC1, m_intrinsicMatrixData), m_DistortionMatrix(1, 4, CV_32FC1, m_distortionMatrixData)
{
}

vexa::UndistortCameraImage::~UndistortCameraImage() = default;

void vexa::UndistortCameraImage::SetFocalLength(float x, float y)
{
  if (!IsUsableFocalLength(x) || !IsUsableFocalLength(y))
    vexaThrow() << "Focal length (" << x << ", " << y << ") refused: both values must be finite and not zero.";
  m_fcX = x;
  m_fcY = y;
}

void vexa::UndistortCameraImage::SetPrincipalPoint(float x, float y)
{
  m_ccX = x;
  m_ccY = y;
}

void vexa::UndistortCameraImage::SetCameraDistortion(float k1, float k2, float p1, float p2)
{
  m_distortionMatrixData[0] = k1;
  m_distortionMatrixData[1] = k2;
  m_distortionMatrixData[2] = p1;
  m_distortionMatrixData[3] = p2;
}

void vexa::UndistortCameraImage::SetUndistortImageFastInfo(
  float fx, float fy, float cx, float cy, float distortion[4], float imageWidth, float imageHeight)
{
  if (!IsUsableFocalLength(fx) || !IsUsableFocalLength(fy))
    vexaThrow() << "Focal length (" << fx << ", " << fy << ") refused: both values must be finite and not zero.";
  if (distortion == nullptr)
    vexaThrow() << "No distortion coefficients given.";
  // Truncation to whole pixels, as the image size is given in floats.
  const double w = std::isfinite(imageWidth) ? std::trunc(imageWidth) : 0.0;
  const double h = std::isfinite(imageHeight) ? std::trunc(imageHeight) : 0.0;
  if (w < 1.0 || h < 1.0 || w > 1 << 20 || h > 1 << 20)
    vexaThrow() << "Image size " << imageWidth << " x " << imageHeight << " refused for undistortion maps.";

  cv::Mat cameraMatrix = (cv::Mat_<double>(3, 3) << fx, 0.0, cx, 0.0, fy, cy, 0.0, 0.0, 1.0);
  cv::Mat distortionVector = (cv::Mat_<double>(4, 1) << distortion[0], distortion[1], distortion[2], distortion[3]);
  cv::Mat mapX, mapY;
  // No rectification and the camera matrix as the new one: the classic
  // undistortion map of a single camera.
  cv::initUndistortRectifyMap(cameraMatrix, distortionVector, cv::noArray(), cameraMatrix,
                              cv::Size(static_cast<int>(w), static_cast<int>(h)), CV_32FC1, mapX, mapY);
  m_CameraMatrix = cameraMatrix;
  m_DistortionVector = distortionVector;
  m_mapX = mapX;
  m_mapY = mapY;
}

void vexa::UndistortCameraImage::UndistortImage(IplImage *source, IplImage *destination)
{
  if (source == nullptr || destination == nullptr)
    return;
  const float model[9] = {m_fcX, 0.0f, m_ccX, 0.0f, m_fcY, m_ccY, 0.0f, 0.0f, 1.0f};
  std::copy(model, model + 9, m_intrinsicMatrixData);

  cv::Mat src = cv::cvarrToMat(source);
  cv::Mat dst = cv::cvarrToMat(destination);
  if (src.size() != dst.size() || src.type() != dst.type())
    CV_Error(cv::Error::StsUnmatchedSizes, "source and destination of the undistortion differ in size or type");
  // cv::undistort refuses to work in place.
  if (src.data == dst.data)
  {
    src.copyTo(m_tempImage);
    src = m_tempImage;
  }
  cv::Mat result = dst; // a header over the destination's pixels; undistort keeps writing there
  cv::undistort(src, result, m_IntrinsicMatrix, m_DistortionMatrix);
  CV_Assert(result.data == dst.data);
}

void vexa::UndistortCameraImage::UndistortImageFast(IplImage *source, IplImage *destination)
{
  if (source == nullptr)
    return;
  if (m_mapX.empty())
    CV_Error(cv::Error::StsError, "fast undistortion needs SetUndistortImageFastInfo first");
  cv::Mat src = cv::cvarrToMat(source);
  if (src.size() != m_mapX.size())
    CV_Error(cv::Error::StsUnmatchedSizes, "image size differs from the size of the undistortion maps");

  cv::Mat dst;
  if (destination != nullptr)
  {
    dst = cv::cvarrToMat(destination);
    if (dst.size() != src.size() || dst.type() != src.type())
      CV_Error(cv::Error::StsUnmatchedSizes, "source and destination of the undistortion differ in size or type");
  }
  else
  {
    dst = src;
    src.copyTo(m_tempImage); // reuses the scratch buffer while the size stays the same
    src = m_tempImage;
  }
  const uchar *target = dst.data;
  // Bicubic, and pixels that map from outside the image keep their values
  // (the remap without filling outliers).
  cv::remap(src, dst, m_mapX, m_mapY, cv::INTER_CUBIC, cv::BORDER_TRANSPARENT);
  CV_Assert(dst.data == target);
}

vexa::Point<double, 2> vexa::UndistortCameraImage::UndistortPixel(const vexa::Point<double, 2> &distorted)
{
  const float k1 = m_distortionMatrixData[0];
  const float k2 = m_distortionMatrixData[1];
  const float p1 = m_distortionMatrixData[2];
  const float p2 = m_distortionMatrixData[3];

  const double x0d = (distorted[0] - m_ccX) / m_fcX;
  const double y0d = (distorted[1] - m_ccY) / m_fcY;
  const float x0 = static_cast<float>(x0d);
  const float y0 = static_cast<float>(y0d);
  float x = x0;
  float y = y0;
  for (int round = 0; round < 5; ++round)
  {
    const float r2 = x * x + y * y;
    const float radial = 1.0f + k1 * r2 + k2 * r2 * r2;
    const float dx = p2 * (r2 + 2.0f * x * x) + 2.0f * p1 * x * y;
    const float dy = p1 * (r2 + 2.0f * y * y) + 2.0f * p2 * x * y;
    const float nx = (x0 - dx) / radial;
    const float ny = (y0 - dy) / radial;
    x = nx;
    y = ny;
  }

  vexa::Point<double, 2> result;
  result[0] = x * m_fcX + m_ccX;
  result[1] = y * m_fcY + m_ccY;

  // Distort the result again and compare: the fixed-point rounds do not
  // converge for strong distortion far from the centre.
  const double xr = (result[0] - m_ccX) / m_fcX;
  const double yr = (result[1] - m_ccY) / m_fcY;
  const double r2 = xr * xr + yr * yr;
  const double c = k1 * r2 + k2 * r2 * r2;
  const double redistortedX = (xr + c * xr + 2.0 * p1 * xr * yr + p2 * (r2 + 2.0 * xr * xr)) * m_fcX + m_ccX;
  const double redistortedY = (yr + c * yr + p1 * (r2 + 2.0 * yr * yr) + 2.0 * p2 * xr * yr) * m_fcY + m_ccY;
  const double diffx = distorted[0] - redistortedX;
  const double diffy = distorted[1] - redistortedY;
  if (std::fabs(diffx) > 0.1 || std::fabs(diffy) > 0.1)
    std::cout << "undistort sanity check error: diffx =" << diffx << " , diffy = " << diffy;
  return result;
}
