#include "vexaImageToOpenCVImageFilter.h"

#include "vexaOpenCVImageBridge.h"

#include <vexaAccessByItkException.h>
#include <vexaImageToItk.h>
#include <vexaLog.h>
#include <vexaPixelTypeTraits.h>

#include <itkRGBPixel.h>

#include <iostream>
#include <sstream>

namespace
{
  const char *const kSupportedPixelTypes = " is not in (int)( unsigned int)( short)( unsigned short)( char)( unsigned "
                                           "char)(double)( float) "
                                           "(UCRGBPixelType)(USRGBPixelType)(FloatRGBPixelType)(DoubleRGBPixelType)";

  int IplDepth(int cvDepth)
  {
    switch (cvDepth)
    {
      case CV_8U:
        return IPL_DEPTH_8U;
      case CV_8S:
        return IPL_DEPTH_8S;
      case CV_16U:
        return IPL_DEPTH_16U;
      case CV_16S:
        return IPL_DEPTH_16S;
      case CV_32S:
        return IPL_DEPTH_32S;
      case CV_32F:
        return IPL_DEPTH_32F;
      default:
        return IPL_DEPTH_64F;
    }
  }

  std::string PixelTypeRefusal(const vexa::PixelType &type)
  {
    return "Pixel type " + type.GetPixelTypeAsString() + kSupportedPixelTypes;
  }
}

vexa::ImageToOpenCVImageFilter::ImageToOpenCVImageFilter() : m_sliceSelector(ImageSliceSelector::New()) {}

vexa::ImageToOpenCVImageFilter::~ImageToOpenCVImageFilter() = default;

void vexa::ImageToOpenCVImageFilter::SetImage(vexa::Image *image) { m_Image = image; }

vexa::Image *vexa::ImageToOpenCVImageFilter::GetImage() { return m_Image.Lock().GetPointer(); }

void vexa::ImageToOpenCVImageFilter::SetInputFromTimeSlice(vexa::Image::Pointer image, int slice, int timeStep)
{
  m_sliceSelector->SetInput(image);
  m_sliceSelector->SetTimeNr(timeStep);
  m_sliceSelector->SetSliceNr(slice);
  m_sliceSelector->Update();
  this->SetImage(m_sliceSelector->GetOutput());
}

bool vexa::ImageToOpenCVImageFilter::CheckImage(vexa::Image *image)
{
  if (image == nullptr)
  {
    VEXA_WARN << "VEXA Image is 0";
    return false;
  }
  if (image->GetDimension() >= 3)
  {
    VEXA_WARN << "Only 2D Images allowed";
    return false;
  }
  return true;
}

template <typename TPixel>
bool vexa::ImageToOpenCVImageFilter::ConvertIfPixelTypeIs(vexa::Image *image,
                                                          cv::Mat &destination,
                                                          bool intoIplImage,
                                                          IplImage **iplImage)
{
  typedef itk::Image<TPixel, 2> ItkImageType;
  const PixelType type = image->GetPixelType(0);
  if (!(type == CreatePixelType<ItkImageType>(type.GetNumberOfComponents())))
    return false;
  if constexpr (!OpenCVImageBridge::CanHold<TPixel>())
  {
    throw AccessByItkException(PixelTypeRefusal(type));
  }
  else
  {
    typename ItkImageType::Pointer itkImage = ConvertToItkImage<TPixel, 2>(image);
    if (intoIplImage)
    {
      constexpr int cvType = OpenCVImageBridge::CVType<TPixel>();
      const typename ItkImageType::SizeType size = itkImage->GetLargestPossibleRegion().GetSize();
      *iplImage = cvCreateImage(cvSize(static_cast<int>(size[0]), static_cast<int>(size[1])),
                                IplDepth(CV_MAT_DEPTH(cvType)), CV_MAT_CN(cvType));
      destination = cv::cvarrToMat(*iplImage);
      try
      {
        OpenCVImageBridge::ITKImageToCVMat(itkImage.GetPointer(), destination);
      }
      catch (...)
      {
        cvReleaseImage(iplImage);
        throw;
      }
    }
    else
    {
      OpenCVImageBridge::ITKImageToCVMat(itkImage.GetPointer(), destination);
    }
    return true;
  }
}

bool vexa::ImageToOpenCVImageFilter::Convert(cv::Mat &destination, bool intoIplImage, IplImage **iplImage)
{
  Image::Pointer image = m_Image.Lock();
  if (!this->CheckImage(image))
    return false;
  try
  {
    if (image->GetDimension() != 2)
    {
      std::ostringstream message;
      message << "Dimension " << image->GetDimension() << " is not in "
              << "(2)";
      throw AccessByItkException(message.str());
    }
    const bool converted =
      ConvertIfPixelTypeIs<int>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<unsigned int>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<short>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<unsigned short>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<char>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<unsigned char>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<double>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<float>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<itk::RGBPixel<unsigned char>>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<itk::RGBPixel<unsigned short>>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<itk::RGBPixel<float>>(image, destination, intoIplImage, iplImage) ||
      ConvertIfPixelTypeIs<itk::RGBPixel<double>>(image, destination, intoIplImage, iplImage);
    if (!converted)
      throw AccessByItkException(PixelTypeRefusal(image->GetPixelType(0)));
    return true;
  }
  catch (const AccessByItkException &e)
  {
    std::cout << "Caught exception [from AccessFixedTypeByItk]: \n" << e.what() << "\n";
    return false;
  }
}

IplImage *vexa::ImageToOpenCVImageFilter::GetOpenCVImage()
{
  cv::Mat header;
  IplImage *result = nullptr;
  if (!this->Convert(header, true, &result))
    return nullptr;
  return result;
}

cv::Mat vexa::ImageToOpenCVImageFilter::GetOpenCVMat()
{
  cv::Mat result;
  if (!this->Convert(result, false, nullptr))
    return cv::Mat();
  return result;
}
