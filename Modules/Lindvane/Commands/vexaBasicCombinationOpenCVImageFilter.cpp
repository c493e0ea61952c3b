#include "vexaBasicCombinationOpenCVImageFilter.h"

#include <algorithm>

vexa::BasicCombinationOpenCVImageFilter::BasicCombinationOpenCVImageFilter() = default;

vexa::BasicCombinationOpenCVImageFilter::~BasicCombinationOpenCVImageFilter() = default;

bool vexa::BasicCombinationOpenCVImageFilter::OnFilterImage(cv::Mat &image)
{
  const int imageId = this->GetCurrentImageId();
  for (const AbstractOpenCVImageFilter::Pointer &filter : m_FilterList)
  {
    if (!filter->FilterImage(image, imageId))
      return false;
  }
  return true;
}

void vexa::BasicCombinationOpenCVImageFilter::PushFilter(AbstractOpenCVImageFilter::Pointer filter)
{
  m_FilterList.push_back(filter);
}

vexa::AbstractOpenCVImageFilter::Pointer vexa::BasicCombinationOpenCVImageFilter::PopFilter()
{
  AbstractOpenCVImageFilter::Pointer last = m_FilterList.at(m_FilterList.size() - 1);
  m_FilterList.pop_back();
  return last;
}

bool vexa::BasicCombinationOpenCVImageFilter::RemoveFilter(AbstractOpenCVImageFilter::Pointer filter)
{
  auto it = std::find(m_FilterList.begin(), m_FilterList.end(), filter);
  if (it == m_FilterList.end())
    return false;
  m_FilterList.erase(it);
  return true;
}

bool vexa::BasicCombinationOpenCVImageFilter::GetIsFilterOnTheList(AbstractOpenCVImageFilter::Pointer filter)
{
  return std::find(m_FilterList.begin(), m_FilterList.end(), filter) != m_FilterList.end();
}

bool vexa::BasicCombinationOpenCVImageFilter::GetIsEmpty() { return m_FilterList.empty(); }
