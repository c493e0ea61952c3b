#ifndef vexaOpenCVImageBridge_h
#define vexaOpenCVImageBridge_h

// The one bridge between OpenCV matrices and 2-D ITK images of this tree.
// Pixels are copied once; colour pixels change order on the way (OpenCV keeps
// blue, green, red; ITK's RGB pixels red, green, blue). ITK images are
// allocated by ITK itself, so a toolkit image can later take their buffer
// over (vexa::AdoptItkImageMemory).

#include <vexaException.h>

#include <itkImage.h>
#include <itkRGBPixel.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>

namespace vexa
{
  namespace OpenCVImageBridgeInternal
  {
    /** OpenCV depth of a component type; -1 where OpenCV has none (32-bit unsigned). */
    template <class T>
    struct Depth
    {
      static constexpr int value = -1;
    };
    template <>
    struct Depth<unsigned char>
    {
      static constexpr int value = CV_8U;
    };
    template <>
    struct Depth<char>
    {
      static constexpr int value = CV_8S;
    };
    template <>
    struct Depth<signed char>
    {
      static constexpr int value = CV_8S;
    };
    template <>
    struct Depth<unsigned short>
    {
      static constexpr int value = CV_16U;
    };
    template <>
    struct Depth<short>
    {
      static constexpr int value = CV_16S;
    };
    template <>
    struct Depth<int>
    {
      static constexpr int value = CV_32S;
    };
    template <>
    struct Depth<float>
    {
      static constexpr int value = CV_32F;
    };
    template <>
    struct Depth<double>
    {
      static constexpr int value = CV_64F;
    };

    /** Component type and channel count of an ITK pixel type. */
    template <class TPixel>
    struct Pixel
    {
      typedef TPixel ComponentType;
      static constexpr int channels = 1;
    };
    template <class T>
    struct Pixel<itk::RGBPixel<T>>
    {
      typedef T ComponentType;
      static constexpr int channels = 3;
    };

    /** Copies src into dst (same size and type), swapping channels 0 and 2 of colour images. */
    inline void CopyPixels(const cv::Mat &src, cv::Mat &dst)
    {
      if (src.channels() != 3)
      {
        src.copyTo(dst);
        return;
      }
      const int depth = src.depth();
      if (depth == CV_8U || depth == CV_16U || depth == CV_32F)
      {
        cv::cvtColor(src, dst, cv::COLOR_BGR2RGB); // fastest where OpenCV offers it
        return;
      }
      const int fromTo[] = {0, 2, 1, 1, 2, 0};
      cv::mixChannels(&src, 1, &dst, 1, fromTo, 3);
    }
  }

  class OpenCVImageBridge
  {
  public:
    /** Whether OpenCV can hold pixels of TPixel. */
    template <class TPixel>
    static constexpr bool CanHold()
    {
      return OpenCVImageBridgeInternal::Depth<
               typename OpenCVImageBridgeInternal::Pixel<TPixel>::ComponentType>::value >= 0;
    }

    /** The OpenCV type (depth and channels) of pixels of TPixel; -1 where OpenCV has none. */
    template <class TPixel>
    static constexpr int CVType()
    {
      using P = OpenCVImageBridgeInternal::Pixel<TPixel>;
      return CanHold<TPixel>()
               ? CV_MAKETYPE(OpenCVImageBridgeInternal::Depth<typename P::ComponentType>::value, P::channels)
               : -1;
    }

    /**
     * A new ITK image (spacing 1, origin 0, identity direction) with the
     * matrix's pixels. The matrix must be 2-D, not empty, and of exactly the
     * depth and channel count of the image's pixel type (vexa::Exception).
     */
    template <class TImage>
    static typename TImage::Pointer CVMatToITKImage(const cv::Mat &mat)
    {
      static_assert(TImage::ImageDimension == 2, "2-D images only");
      typedef typename TImage::PixelType TPixel;
      if (mat.dims != 2 || mat.empty())
        vexaThrow() << "Cannot convert an empty or not 2-D OpenCV image into an ITK image.";
      if (mat.type() != CVType<TPixel>())
        vexaThrow() << "Cannot convert an OpenCV image of depth " << mat.depth() << " with " << mat.channels()
                    << " channels into an ITK image of pixels with "
                    << OpenCVImageBridgeInternal::Pixel<TPixel>::channels << " components of depth "
                    << CV_MAT_DEPTH(CVType<TPixel>()) << ".";

      typename TImage::Pointer image = TImage::New();
      typename TImage::RegionType region;
      region.SetSize(0, static_cast<itk::SizeValueType>(mat.cols));
      region.SetSize(1, static_cast<itk::SizeValueType>(mat.rows));
      image->SetRegions(region);
      image->Allocate();
      cv::Mat target(mat.rows, mat.cols, mat.type(), image->GetBufferPointer());
      OpenCVImageBridgeInternal::CopyPixels(mat, target);
      return image;
    }

    /**
     * Writes the ITK image's pixels into the matrix. A matrix of the image's
     * size and OpenCV type (for example a header over an IplImage) is filled
     * in place; any other is made a new matrix of its own.
     */
    template <class TImage>
    static void ITKImageToCVMat(const TImage *image, cv::Mat &mat)
    {
      static_assert(TImage::ImageDimension == 2, "2-D images only");
      typedef typename TImage::PixelType TPixel;
      static_assert(CanHold<TPixel>(), "OpenCV has no depth for this pixel type");
      if (image == nullptr || image->GetBufferPointer() == nullptr)
        vexaThrow() << "Cannot convert an ITK image without pixels into an OpenCV image.";
      if (image->GetBufferedRegion() != image->GetLargestPossibleRegion())
        vexaThrow() << "Cannot convert an ITK image whose buffer holds only part of its region.";
      const typename TImage::SizeType size = image->GetLargestPossibleRegion().GetSize();
      const cv::Mat source(static_cast<int>(size[1]), static_cast<int>(size[0]), CVType<TPixel>(),
                           const_cast<TPixel *>(image->GetBufferPointer()));
      mat.create(source.rows, source.cols, source.type());
      OpenCVImageBridgeInternal::CopyPixels(source, mat);
    }
  };
}

#endif
