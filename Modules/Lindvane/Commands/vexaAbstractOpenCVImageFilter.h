#ifndef vexaAbstractOpenCVImageFilter_h
#define vexaAbstractOpenCVImageFilter_h

#include "LindvaneExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <opencv2/core.hpp>

namespace vexa
{
  /**
   * In-place filter of OpenCV images, one frame at a time: FilterImage
   * changes the image and answers whether it succeeded. The id handed in
   * with the image lets a filter that works asynchronously tell which frame
   * a result belongs to.
   */
  class LINDVANE_EXPORT AbstractOpenCVImageFilter : public itk::Object
  {
  public:
    /** The lowest image id: a frame without an id. */
    static const int INVALID_IMAGE_ID;

    vexaClassMacroItkParent(AbstractOpenCVImageFilter, itk::Object);

    /** Remembers the id (ids below INVALID_IMAGE_ID become it) and filters the image. */
    virtual bool FilterImage(cv::Mat &image, int id = INVALID_IMAGE_ID);

    /** The filter's work on the image, in place; true on success. */
    virtual bool OnFilterImage(cv::Mat &image) = 0;

  protected:
    AbstractOpenCVImageFilter();
    ~AbstractOpenCVImageFilter() override;

    /** The id given to the FilterImage call in progress (or the last one). */
    int GetCurrentImageId() const { return m_CurrentImageId; }

  private:
    int m_CurrentImageId = INVALID_IMAGE_ID;
  };
}

#endif
