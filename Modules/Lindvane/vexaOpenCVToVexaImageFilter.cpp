#include "vexaOpenCVToVexaImageFilter.h"

#include "vexaOpenCVImageBridge.h"

#include <vexaException.h>
#include <vexaITKImageImport.h>
#include <vexaImageReadAccessor.h>
#include <vexaLog.h>

#include <itkRGBPixel.h>

vexa::OpenCVToVexaImageFilter::OpenCVToVexaImageFilter() = default;

vexa::OpenCVToVexaImageFilter::~OpenCVToVexaImageFilter() = default;

void vexa::OpenCVToVexaImageFilter::SetOpenCVMat(const cv::Mat &image)
{
  {
    std::lock_guard<std::mutex> lock(m_OpenCVMatMutex);
    m_OpenCVMat = image;
  }
  this->Modified();
}

void vexa::OpenCVToVexaImageFilter::SetOpenCVImage(const IplImage *image)
{
  const cv::Mat wrapped = image != nullptr ? cv::cvarrToMat(image, false) : cv::Mat();
  this->SetOpenCVMat(wrapped);
}

cv::Mat vexa::OpenCVToVexaImageFilter::GetOpenCVMat()
{
  std::lock_guard<std::mutex> lock(m_OpenCVMatMutex);
  return m_OpenCVMat;
}

vexa::Image *vexa::OpenCVToVexaImageFilter::GetOutput()
{
  std::lock_guard<std::mutex> lock(m_ImageMutex);
  return m_Image.GetPointer();
}

template <typename TPixel>
vexa::Image::Pointer vexa::OpenCVToVexaImageFilter::ConvertCVMatToVexaImage(const cv::Mat &input)
{
  typedef itk::Image<TPixel, 2> ItkImageType;
  typename ItkImageType::Pointer itkImage = OpenCVImageBridge::CVMatToITKImage<ItkImageType>(input);
  return vexa::AdoptItkImageMemory(itkImage.GetPointer(), nullptr, nullptr, true);
}

void vexa::OpenCVToVexaImageFilter::GenerateData()
{
  const cv::Mat input = this->GetOpenCVMat();
  if (input.cols == 0 || input.rows == 0 || input.data == nullptr)
  {
    VEXA_WARN << "Cannot start filter. OpenCV Image not set.";
    std::lock_guard<std::mutex> lock(m_ImageMutex);
    m_LastConversion = nullptr;
    return;
  }

  std::lock_guard<std::mutex> lock(m_ImageMutex);
  m_LastConversion = nullptr;
  const int depth = input.depth();
  const int channels = input.channels();
  Image::Pointer converted;
  if (depth == CV_8S && channels == 1)
    converted = ConvertCVMatToVexaImage<char>(input);
  else if (depth == CV_8U && channels == 1)
    converted = ConvertCVMatToVexaImage<unsigned char>(input);
  else if (depth == CV_8U && channels == 3)
    converted = ConvertCVMatToVexaImage<itk::RGBPixel<unsigned char>>(input);
  else if (depth == CV_16U && channels == 1)
    converted = ConvertCVMatToVexaImage<unsigned short>(input);
  else if (depth == CV_16U && channels == 3)
    converted = ConvertCVMatToVexaImage<itk::RGBPixel<unsigned short>>(input);
  else if (depth == CV_32F && channels == 1)
    converted = ConvertCVMatToVexaImage<float>(input);
  else if (depth == CV_32F && channels == 3)
    converted = ConvertCVMatToVexaImage<itk::RGBPixel<float>>(input);
  else if (depth == CV_64F && channels == 1)
    converted = ConvertCVMatToVexaImage<double>(input);
  else if (depth == CV_64F && channels == 3)
    converted = ConvertCVMatToVexaImage<itk::RGBPixel<double>>(input);

  if (converted.IsNull())
  {
    VEXA_WARN << "Unknown image depth and/or pixel type. Cannot convert OpenCV to VEXA image.";
    return;
  }
  m_Image = converted;
  m_LastConversion = converted;
}

void vexa::OpenCVToVexaImageFilter::InsertOpenCVImageAsVexaTimeSlice(const cv::Mat image,
                                                                     vexa::Image::Pointer vexaImage,
                                                                     int timeStep)
{
  if (vexaImage.IsNull() || !vexaImage->IsInitialized())
    vexaThrow() << "Cannot insert an OpenCV image into time step " << timeStep
                << " of an image that does not exist or is not initialised.";
  if (!vexaImage->IsValidTimeStep(timeStep))
    vexaThrow() << "Cannot insert an OpenCV image into time step " << timeStep << ": the image has "
                << vexaImage->GetDimension(3) << " time steps.";

  this->SetOpenCVMat(image);
  this->Update();

  Image::Pointer converted;
  {
    std::lock_guard<std::mutex> lock(m_ImageMutex);
    converted = m_LastConversion;
  }
  if (converted.IsNull())
  {
    VEXA_WARN << "Nothing inserted into time step " << timeStep << ": the OpenCV image could not be converted.";
    return;
  }
  // Checked before anything of the target changes.
  if (converted->GetPixelType() != vexaImage->GetPixelType() ||
      converted->GetDimension(0) != vexaImage->GetDimension(0) ||
      converted->GetDimension(1) != vexaImage->GetDimension(1) ||
      converted->GetVolumeSizeInBytes() != vexaImage->GetVolumeSizeInBytes())
    vexaThrow() << "Cannot insert an OpenCV image of " << converted->GetDimension(0) << " x "
                << converted->GetDimension(1) << " pixels of type " << converted->GetPixelType().GetPixelTypeAsString()
                << " into an image of " << vexaImage->GetDimension(0) << " x " << vexaImage->GetDimension(1) << " x "
                << vexaImage->GetDimension(2) << " pixels of type " << vexaImage->GetPixelType().GetPixelTypeAsString()
                << ".";

  const BaseGeometry *source = converted->GetGeometry(0);
  BaseGeometry *target = vexaImage->GetGeometry(timeStep);
  if (source != nullptr && target != nullptr)
  {
    target->SetSpacing(source->GetSpacing(), false);
    target->SetOrigin(source->GetOrigin());
    target->SetIndexToWorldTransform(source->GetIndexToWorldTransform());
  }
  {
    ImageReadAccessor access(converted);
    vexaImage->SetVolume(access.GetData(), converted->GetVolumeSizeInBytes(), converted->GetPixelType(), timeStep, 0);
  }
  vexaImage->Modified();
  vexaImage->Update();

  std::lock_guard<std::mutex> lock(m_ImageMutex);
  m_Image = vexaImage;
}
