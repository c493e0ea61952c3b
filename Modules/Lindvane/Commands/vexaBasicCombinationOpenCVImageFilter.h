#ifndef vexaBasicCombinationOpenCVImageFilter_h
#define vexaBasicCombinationOpenCVImageFilter_h

#include "vexaAbstractOpenCVImageFilter.h"

#include <itkObjectFactory.h>

#include <vector>

namespace vexa
{
  /**
   * Runs a list of filters in order on the same image, handing each the id
   * of the frame; stops at the first filter that fails. A filter may be on
   * the list more than once.
   */
  class LINDVANE_EXPORT BasicCombinationOpenCVImageFilter : public AbstractOpenCVImageFilter
  {
  public:
    vexaClassMacro(BasicCombinationOpenCVImageFilter, AbstractOpenCVImageFilter);
    vexaNewMacro(BasicCombinationOpenCVImageFilter);

    /** True when every filter succeeded (also for an empty list). */
    bool OnFilterImage(cv::Mat &image) override;

    void PushFilter(AbstractOpenCVImageFilter::Pointer filter);
    /** Removes and returns the last filter; std::out_of_range on an empty list. */
    AbstractOpenCVImageFilter::Pointer PopFilter();
    /** Removes the first occurrence of the filter; false when it is not on the list. */
    bool RemoveFilter(AbstractOpenCVImageFilter::Pointer filter);
    bool GetIsFilterOnTheList(AbstractOpenCVImageFilter::Pointer filter);
    bool GetIsEmpty();

    BasicCombinationOpenCVImageFilter();
    ~BasicCombinationOpenCVImageFilter() override;

  private:
    std::vector<AbstractOpenCVImageFilter::Pointer> m_FilterList;
  };
}

#endif
