#ifndef vexaImageToOpenCVImageFilter_h
#define vexaImageToOpenCVImageFilter_h

#include "LindvaneExports.h"

#include <vexaCommon.h>
#include <vexaImage.h>
#include <vexaImageSliceSelector.h>
#include <vexaWeakPointer.h>

#include <itkObject.h>
#include <itkObjectFactory.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

namespace vexa
{
  /**
   * Turns a 2-D toolkit image into an OpenCV image, anew on every request.
   * The image is held weakly: the filter never keeps it alive, and a deleted
   * image is simply gone.
   *
   * Converted: int, short, unsigned short, char, unsigned char, double and
   * float pixels (one channel) and RGB pixels of unsigned char, unsigned
   * short, float and double (three channels, in OpenCV's blue, green, red
   * order). Unsigned int pixels, which OpenCV cannot hold, and every other
   * pixel type are refused.
   */
  class LINDVANE_EXPORT ImageToOpenCVImageFilter : public itk::Object
  {
  public:
    vexaClassMacroItkParent(ImageToOpenCVImageFilter, itk::Object);
    vexaNewMacro(ImageToOpenCVImageFilter);

    void SetImage(vexa::Image *image);
    /** The image to convert; null when none is set or it was deleted. */
    vexa::Image *GetImage();

    /**
     * Converts one 2-D slice of one time step of a larger image from now on;
     * the slice selector keeps the slice. Invalid numbers throw vexa::Exception.
     */
    void SetInputFromTimeSlice(vexa::Image::Pointer image, int slice, int timeStep);

    /** False, with a warning, for no image and for images of 3 or more dimensions. */
    bool CheckImage(vexa::Image *image);

    /** A new IplImage with the image's pixels, which the caller releases (cvReleaseImage); null when refused. */
    IplImage *GetOpenCVImage();
    /** A matrix with the image's pixels, owning them; empty when refused. */
    cv::Mat GetOpenCVMat();

  protected:
    ImageToOpenCVImageFilter();
    ~ImageToOpenCVImageFilter() override;

  private:
    /** Writes the pixels into the matrix (in place when its size and type fit); false when refused. */
    bool Convert(cv::Mat &destination, bool intoIplImage, IplImage **iplImage);
    template <typename TPixel>
    bool ConvertIfPixelTypeIs(vexa::Image *image, cv::Mat &destination, bool intoIplImage, IplImage **iplImage);

    vexa::WeakPointer<vexa::Image> m_Image;
    vexa::ImageSliceSelector::Pointer m_sliceSelector;
  };
}

#endif
