#include "vexaUSImageFrame.h"

#include <vexaImage.h>
#include <vexaImageWriteAccessor.h>
#include <vexaLog.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <limits>

namespace vexa
{
  USImageFrame::USImageFrame()
  {
    Spacing.Fill(1.0);
    Origin.Fill(0.0);
  }

  namespace
  {
    bool ShapeBytes(const PixelType &type, unsigned int x, unsigned int y, unsigned int z, std::uint64_t &bytes)
    {
      bytes = type.GetSize();
      const std::uint64_t limit = std::numeric_limits<std::size_t>::max();
      for (unsigned int extent : {x, y, z})
      {
        if (extent == 0 || bytes == 0 || bytes > limit / extent)
          return false;
        bytes *= extent;
      }
      return true;
    }
  }

  bool USImageFrame::Wrap(const PixelType &type,
                          unsigned int x,
                          unsigned int y,
                          unsigned int z,
                          const unsigned char *data,
                          std::size_t bytes,
                          std::shared_ptr<const void> owner)
  {
    std::uint64_t expected = 0;
    if (!data || !ShapeBytes(type, x, y, z, expected) || expected != bytes)
    {
      Clear();
      return false;
    }
    m_PixelType = type;
    m_Size = {{x, y, z}};
    m_Bytes = bytes;
    m_BlueGreenRed = false;
    m_External = data;
    m_Owner = std::move(owner);
    return true;
  }

  bool USImageFrame::Reshape(const PixelType &type, unsigned int x, unsigned int y, unsigned int z)
  {
    m_External = nullptr;
    m_Owner.reset();
    std::uint64_t bytes = 0;
    if (!ShapeBytes(type, x, y, z, bytes))
    {
      Clear();
      return false;
    }
    try
    {
      // keeps the capacity: no allocation while pictures keep their size
      m_Pixels.resize(static_cast<std::size_t>(bytes));
    }
    catch (const std::exception &)
    {
      Clear();
      return false;
    }
    m_PixelType = type;
    m_Size = {{x, y, z}};
    m_Bytes = static_cast<std::size_t>(bytes);
    m_BlueGreenRed = false;
    return true;
  }

  void USImageFrame::Clear()
  {
    m_External = nullptr;
    m_Owner.reset();
    m_PixelType.reset();
    m_Size = {{0, 0, 0}};
    m_Bytes = 0;
  }

  void USImageFrame::WriteInto(Image *image) const
  {
    if (!image || IsEmpty())
      return;
    const unsigned int dimension = m_Size[2] > 1 ? 3u : 2u;
    bool reshape = !image->IsInitialized() || image->GetPixelType() != *m_PixelType ||
                   image->GetDimension() != dimension || image->GetDimension(0) != m_Size[0] ||
                   image->GetDimension(1) != m_Size[1] || image->GetDimension(2) != m_Size[2] ||
                   image->GetTimeSteps() != 1;
    if (!reshape)
    {
      // Someone may have given the image another geometry (a placeholder's):
      // the picture's own extent comes back with it.
      const BaseGeometry *geometry = image->GetGeometry(0);
      reshape = !geometry;
      for (unsigned int i = 0; geometry && i < 3 && !reshape; ++i)
        reshape = std::abs(geometry->GetExtent(i) - m_Size[i]) > 1e-9;
    }
    if (reshape)
      image->Initialize(*m_PixelType, dimension, m_Size.data());
    {
      ImageWriteAccessor access(image);
      if (access.GetData() && access.GetSize() >= m_Bytes)
      {
        if (m_BlueGreenRed && m_PixelType->GetSize() == 3 && m_PixelType->GetBytesPerComponent() == 1)
        {
          const int rows = static_cast<int>(m_Size[1] * m_Size[2]);
          const int columns = static_cast<int>(m_Size[0]);
          const cv::Mat source(rows, columns, CV_8UC3, const_cast<unsigned char *>(GetPixels()));
          cv::Mat target(rows, columns, CV_8UC3, access.GetData());
          cv::cvtColor(source, target, cv::COLOR_BGR2RGB);
        }
        else
          std::memcpy(access.GetData(), GetPixels(), m_Bytes);
      }
    }
    // a spacing the geometry would refuse (not positive, not finite) counts as 1
    Vector3D spacing = Spacing;
    for (unsigned int i = 0; i < 3; ++i)
      if (!(spacing[i] > 0.0) || !std::isfinite(spacing[i]))
        spacing[i] = 1.0;
    image->SetSpacing(spacing);
    image->SetOrigin(Origin);
    image->Modified();
  }
}
