#ifndef vexaConvertGrayscaleOpenCVImageFilter_h
#define vexaConvertGrayscaleOpenCVImageFilter_h

#include "vexaAbstractOpenCVImageFilter.h"

#include <itkObjectFactory.h>

namespace vexa
{
  /**
   * Reduces a colour image to one grey channel. Colour frames are taken in
   * OpenCV's blue, green, red order, as capture delivers them; a 4-channel
   * image loses its alpha. One-channel images stay as they are.
   */
  class LINDVANE_EXPORT ConvertGrayscaleOpenCVImageFilter : public AbstractOpenCVImageFilter
  {
  public:
    vexaClassMacro(ConvertGrayscaleOpenCVImageFilter, AbstractOpenCVImageFilter);
    vexaNewMacro(ConvertGrayscaleOpenCVImageFilter);

    /** Always true; OpenCV's exception for channel counts it cannot convert (2) passes on. */
    bool OnFilterImage(cv::Mat &image) override;

    ConvertGrayscaleOpenCVImageFilter();
    ~ConvertGrayscaleOpenCVImageFilter() override;
  };
}

#endif
