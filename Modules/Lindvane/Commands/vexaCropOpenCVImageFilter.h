#ifndef vexaCropOpenCVImageFilter_h
#define vexaCropOpenCVImageFilter_h

#include "vexaAbstractOpenCVImageFilter.h"

#include <itkObjectFactory.h>

namespace vexa
{
  /**
   * Cuts a rectangle out of the image; the image becomes the rectangle.
   *
   * The region asked for is kept; on every frame it is fitted to the frame
   * (narrowed where it reaches past the right or bottom edge), so frames of
   * changing size never make the cut fail. A warning is given when the fitted
   * region changes.
   */
  class LINDVANE_EXPORT CropOpenCVImageFilter : public AbstractOpenCVImageFilter
  {
  public:
    vexaClassMacro(CropOpenCVImageFilter, AbstractOpenCVImageFilter);
    vexaNewMacro(CropOpenCVImageFilter);

    /**
     * False (with a warning) for an empty region or one whose top-left corner
     * lies outside the image; the image is then unchanged.
     */
    bool OnFilterImage(cv::Mat &image) override;

    /**
     * Negative x or y become 0 (with a warning); a negative width or height
     * throws vexa::Exception and keeps the previous region.
     */
    void SetCropRegion(cv::Rect cropRegion);
    void SetCropRegion(int topLeftX, int topLeftY, int bottomRightX, int bottomRightY);
    /** The region as fitted to the last frame (as set, before the first frame). */
    cv::Rect GetCropRegion();
    /** True when the region has no width or no height. */
    bool GetIsCropRegionEmpty();

    CropOpenCVImageFilter();
    ~CropOpenCVImageFilter() override;

  private:
    cv::Rect m_CropRegion;      // fitted to the last frame
    cv::Rect m_RequestedRegion; // as set
    bool m_NewCropRegionSet = false;
  };
}

#endif
