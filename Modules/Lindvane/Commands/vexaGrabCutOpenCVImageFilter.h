#ifndef vexaGrabCutOpenCVImageFilter_h
#define vexaGrabCutOpenCVImageFilter_h

#include "vexaAbstractOpenCVImageFilter.h"

#include <itkIndex.h>
#include <itkObjectFactory.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vexa
{
  /**
   * Segments a foreground object in a live video stream with OpenCV's
   * grab-cut, seeded by model points (pixels that are certainly foreground or
   * certainly background).
   *
   * Filtering only hands a copy of the frame to the filter's worker thread
   * and returns at once; the image itself is not changed (a grey frame is
   * made a colour frame). Whenever a frame is waiting and foreground points
   * exist, the worker segments the newest frame; frames that arrive during a
   * run replace each other, and the newest of them is segmented next.
   * Callers poll the latest result (mask, contours) together with the id of
   * the frame it came from. Segmentation can cover the whole frame or only a
   * rectangle around the model points.
   *
   * Every setter and getter may be called while the worker runs; the filter
   * can be destroyed at any time (the destructor waits for a run in progress).
   */
  class LINDVANE_EXPORT GrabCutOpenCVImageFilter : public AbstractOpenCVImageFilter
  {
  public:
    /** Pixel positions: index 0 the column (x), index 1 the row (y). */
    typedef std::vector<itk::Index<2>> ModelPointsList;

    vexaClassMacro(GrabCutOpenCVImageFilter, AbstractOpenCVImageFilter);
    vexaNewMacro(GrabCutOpenCVImageFilter);

    GrabCutOpenCVImageFilter();
    ~GrabCutOpenCVImageFilter() override;

    /**
     * Hands a copy of the frame to the worker (woken when foreground points
     * exist). False, with a warning, for an empty image or one that is not
     * 8-bit grey or 8-bit colour.
     */
    bool OnFilterImage(cv::Mat &image) override;

    void SetModelPoints(ModelPointsList foregroundPoints, ModelPointsList backgroundPoints);
    /** Replaces the foreground points only. */
    void SetModelPoints(ModelPointsList foregroundPoints);
    /** The non-zero pixels of each (8-bit, one channel) mask become the points. */
    void SetModelPoints(cv::Mat foregroundMask, cv::Mat backgroundMask);
    void SetModelPoints(cv::Mat foregroundMask);

    /** Half-width of the square drawn around every model point; negative sizes throw vexa::Exception. */
    void SetModelPointsDilationSize(int modelPointsDilationSize);

    /** Segment only the bounding rectangle of the model points, widened by the margin on each side. */
    void SetUseOnlyRegionAroundModelPoints(unsigned int additionalWidth);
    void SetUseFullImage();
    /** The rectangle of the last segmentation in region mode. */
    cv::Rect GetRegionAroundModelPoints();

    /** A copy of the latest result (255 foreground, 0 background); empty before the first. */
    cv::Mat GetResultMask();
    /** The latest result and the id of the frame it came from, read together. */
    cv::Mat GetResultMask(int &resultImageId);
    /** Id of the frame of the latest result; INVALID_IMAGE_ID before the first. */
    int GetResultImageId();

    /** Every contour of the latest result. */
    std::vector<ModelPointsList> GetResultContours();
    /** The outline of the connected region of the latest result that holds the pixel. */
    ModelPointsList GetResultContourWithPixel(itk::Index<2> pixelIndex);

  protected:
    ModelPointsList ConvertMaskToModelPointsList(cv::Mat mask);
    /** The grab-cut seed mask for a frame of the given size, from the model points. */
    cv::Mat GetMaskFromPointSets(cv::Size imageSize);
    cv::Rect GetBoundingRectFromMask(cv::Mat mask);
    /** One grab-cut iteration; all zeros when there are too few seeds of either kind. */
    cv::Mat RunSegmentation(cv::Mat input, cv::Mat mask);

  private:
    void SegmentationWorker();
    void Segment(const cv::Mat &image, int imageId);

    // Settings: read by the worker at the start of each run.
    int m_ModelPointsDilationSize = 0;
    bool m_UseOnlyRegionAroundModelPoints = false;
    unsigned int m_AdditionalWidth = 0;
    cv::Rect m_BoundingBox;
    std::mutex m_SettingsMutex;

    ModelPointsList m_ForegroundPoints;
    ModelPointsList m_BackgroundPoints;
    std::mutex m_PointSetsMutex;

    // The newest frame and whether the worker has yet to segment it.
    cv::Mat m_InputImage;
    int m_InputImageId = INVALID_IMAGE_ID;
    bool m_NewFramePending = false;
    bool m_StopThread = false;
    std::mutex m_ImageMutex;
    std::condition_variable m_WorkerBarrier;

    cv::Mat m_ResultMask;
    int m_ResultImageId = INVALID_IMAGE_ID;
    std::mutex m_ResultMutex;

    std::thread m_Worker; // last member: started when everything else exists
  };
}

#endif
