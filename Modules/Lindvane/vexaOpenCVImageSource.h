#ifndef vexaOpenCVImageSource_h
#define vexaOpenCVImageSource_h

#include "LindvaneExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <opencv2/core.hpp>

namespace vexa
{
  /**
   * Anything that hands out its current picture as an OpenCV matrix, so that
   * image filters can take frames from any such source.
   *
   * itk::Object is a virtual base: a source that is also another kind of
   * itk::Object (a video source) stays one object.
   */
  class LINDVANE_EXPORT OpenCVImageSource : public virtual itk::Object
  {
  public:
    vexaClassMacroItkParent(OpenCVImageSource, itk::Object);

    /** A matrix of the current picture; empty when there is none. */
    virtual cv::Mat GetImage() = 0;

  protected:
    OpenCVImageSource();
    ~OpenCVImageSource() override;
  };
}

#endif
