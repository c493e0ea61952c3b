#ifndef vexaOpenCVToVexaImageFilter_h
#define vexaOpenCVToVexaImageFilter_h

#include "LindvaneExports.h"

#include <vexaCommon.h>
#include <vexaImage.h>
#include <vexaImageSource.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <mutex>

namespace vexa
{
  /**
   * Turns an OpenCV image into a 2-D toolkit image: set the matrix, Update(),
   * take GetOutput(). The pixels are copied once, into an ITK image whose
   * buffer the toolkit image then takes over.
   *
   * Converted: 8-bit signed and unsigned, 16-bit unsigned, 32- and 64-bit
   * float, each with 1 channel (scalar pixels) or 3 channels (RGB pixels;
   * OpenCV's blue, green, red become red, green, blue). 8-bit signed colour,
   * 16-bit signed, 32-bit integer and 2 or 4 channels are not.
   *
   * One thread may hand in matrices while another converts: the input and
   * the output have a lock each, never held together.
   */
  class LINDVANE_EXPORT OpenCVToVexaImageFilter : public ImageSource
  {
  public:
    vexaClassMacro(OpenCVToVexaImageFilter, ImageSource);
    vexaNewMacro(OpenCVToVexaImageFilter);

    /** The matrix to convert, shared (not copied) until the conversion. */
    void SetOpenCVMat(const cv::Mat &image);
    /** An IplImage to convert; it must stay alive and unchanged until the conversion has run. */
    void SetOpenCVImage(const IplImage *image);
    /** The matrix to convert (shared). */
    virtual cv::Mat GetOpenCVMat();

    /** The image of the last conversion (or insert); null before the first. Does not update. */
    vexa::Image *GetOutput();

    /**
     * Converts the matrix and copies its pixels, spacing, origin and
     * transform into time step timeStep of the target. Nothing changes when
     * the matrix cannot be converted (warning); a target that is not
     * initialised, has no such time step, or differs in size or pixel type is
     * refused with a vexa::Exception.
     */
    void InsertOpenCVImageAsVexaTimeSlice(const cv::Mat image, vexa::Image::Pointer vexaImage, int timeStep);

  protected:
    OpenCVToVexaImageFilter();
    ~OpenCVToVexaImageFilter() override;

    /** Converts the matrix; an empty or unsupported one leaves the output as it was (warning). */
    void GenerateData() override;

  private:
    template <typename TPixel>
    static vexa::Image::Pointer ConvertCVMatToVexaImage(const cv::Mat &input);

    vexa::Image::Pointer m_Image;
    vexa::Image::Pointer m_LastConversion; // null after a failed conversion
    cv::Mat m_OpenCVMat;
    std::mutex m_ImageMutex;
    std::mutex m_OpenCVMatMutex;
  };
}

#endif
