#include "vexaLevelWindow.h"

#include "vexaImage.h"
#include "vexaImageReadAccessor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace
{
  // Copies the finite values of one component into `values`.
  template <typename T>
  void CollectFinite(const void *buffer,
                     std::size_t first,
                     std::size_t count,
                     std::size_t components,
                     std::size_t component,
                     std::vector<double> &values)
  {
    const T *pixels = static_cast<const T *>(buffer) + first * components + component;
    values.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
    {
      const double value = static_cast<double>(pixels[i * components]);
      if (std::isfinite(value))
        values.push_back(value);
    }
  }

  bool Collect(int componentType,
               const void *buffer,
               std::size_t first,
               std::size_t count,
               std::size_t components,
               std::size_t component,
               std::vector<double> &values)
  {
    switch (componentType)
    {
      case itk::ImageIOBase::UCHAR:
        CollectFinite<std::uint8_t>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::CHAR:
        CollectFinite<std::int8_t>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::USHORT:
        CollectFinite<std::uint16_t>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::SHORT:
        CollectFinite<std::int16_t>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::UINT:
        CollectFinite<std::uint32_t>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::INT:
        CollectFinite<std::int32_t>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::ULONG:
        CollectFinite<unsigned long>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::LONG:
        CollectFinite<long>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::FLOAT:
        CollectFinite<float>(buffer, first, count, components, component, values);
        return true;
      case itk::ImageIOBase::DOUBLE:
        CollectFinite<double>(buffer, first, count, components, component, values);
        return true;
      default:
        return false;
    }
  }

  // The value at quantile q of `values` (nearest rank), reordering them.
  double Quantile(std::vector<double> &values, double q)
  {
    const std::size_t rank = static_cast<std::size_t>(std::floor(q * static_cast<double>(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + rank, values.end());
    return values[rank];
  }
}

namespace vexa
{
  LevelWindow::LevelWindow(double level, double window) : m_Lower(0), m_Upper(1), m_RangeMin(0), m_RangeMax(1)
  {
    SetLevelWindow(level, window);
    m_RangeMin = m_Lower;
    m_RangeMax = m_Upper;
  }

  void LevelWindow::SetLevelWindow(double level, double window)
  {
    if (!std::isfinite(level) || !std::isfinite(window))
      return;
    if (window <= 0)
      window = 1;
    SetWindowBounds(level - window / 2.0, level + window / 2.0);
  }

  void LevelWindow::SetWindowBounds(double lower, double upper)
  {
    if (!std::isfinite(lower) || !std::isfinite(upper))
      return;
    if (upper < lower)
      std::swap(lower, upper);
    if (upper == lower)
    {
      lower -= 0.5;
      upper += 0.5;
    }
    m_Lower = lower;
    m_Upper = upper;
    m_RangeMin = std::min(m_RangeMin, m_Lower);
    m_RangeMax = std::max(m_RangeMax, m_Upper);
  }

  void LevelWindow::SetRangeMinMax(double min, double max)
  {
    if (!std::isfinite(min) || !std::isfinite(max))
      return;
    if (max < min)
      std::swap(min, max);
    if (max == min)
    {
      min -= 0.5;
      max += 0.5;
    }
    m_RangeMin = min;
    m_RangeMax = max;
    ClampWindowIntoRange();
  }

  void LevelWindow::ClampWindowIntoRange()
  {
    const double width = std::min(m_Upper - m_Lower, m_RangeMax - m_RangeMin);
    double lower = std::max(m_Lower, m_RangeMin);
    if (lower + width > m_RangeMax)
      lower = m_RangeMax - width;
    m_Lower = lower;
    m_Upper = lower + width;
  }

  bool LevelWindow::SetAuto(const Image *image, bool, bool guessByCentralSlice, unsigned int selectedComponent)
  {
    if (!image || !image->IsInitialized())
      return false;
    const PixelType pixelType = image->GetPixelType(0);
    const std::size_t components = pixelType.GetNumberOfComponents();
    if (selectedComponent >= components)
      return false;

    const std::size_t sliceSize = std::size_t(image->GetDimension(0)) * image->GetDimension(1);
    const std::size_t depth = image->GetDimension() > 2 ? image->GetDimension(2) : 1;
    std::size_t first = 0;
    std::size_t count = sliceSize * depth; // time step 0
    if (guessByCentralSlice && depth > 1)
    {
      first = sliceSize * (depth / 2);
      count = sliceSize;
    }

    std::vector<double> values;
    {
      ImageReadAccessor access(image);
      if (!access.GetData() || access.GetSize() < (first + count) * pixelType.GetSize())
        return false;
      if (!Collect(pixelType.GetComponentType(), access.GetData(), first, count, components, selectedComponent, values))
        return false;
    }
    if (values.empty())
      return false;

    const auto extremes = std::minmax_element(values.begin(), values.end());
    const double min = *extremes.first;
    const double max = *extremes.second;
    double lower = Quantile(values, 0.02);
    double upper = Quantile(values, 0.98);
    if (upper <= lower)
    {
      lower = min;
      upper = max;
    }
    // set the range wide first so that the new window is not clamped by the old one
    m_RangeMin = std::min(min, lower);
    m_RangeMax = std::max(max, upper);
    SetWindowBounds(lower, upper);
    SetRangeMinMax(std::min(m_RangeMin, m_Lower), std::max(m_RangeMax, m_Upper));
    return true;
  }

  bool LevelWindow::operator==(const LevelWindow &other) const
  {
    return m_Lower == other.m_Lower && m_Upper == other.m_Upper && m_RangeMin == other.m_RangeMin &&
           m_RangeMax == other.m_RangeMax;
  }

  std::ostream &operator<<(std::ostream &os, const LevelWindow &levelWindow)
  {
    return os << "L:" << levelWindow.GetLevel() << " W:" << levelWindow.GetWindow() << " ["
              << levelWindow.GetLowerWindowBound() << ", " << levelWindow.GetUpperWindowBound() << "] range ["
              << levelWindow.GetRangeMin() << ", " << levelWindow.GetRangeMax() << "]";
  }
}
