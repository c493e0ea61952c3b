#include "vexaImageSliceRendering.h"

#include <vexaImageReadAccessor.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

namespace
{
  // One rule for every pixel type: (value - lower) * 255 / width, rounded
  // half up, so that a value maps to the same grey whatever its type.
  struct Window
  {
    double lower;
    double width;

    std::uint8_t operator()(double value) const
    {
      const double grey = (value - lower) * 255.0 / width;
      if (!(grey > 0)) // also NaN
        return 0;
      if (grey >= 255)
        return 255;
      return static_cast<std::uint8_t>(grey + 0.5);
    }
  };

  // Small integer types go through a table of every value; the rest are computed.
  template <typename T>
  void DrawComponent(const T *source,
                     std::size_t stride,
                     unsigned int width,
                     unsigned int height,
                     const Window &window,
                     QImage &target,
                     int targetStride,
                     int targetOffset)
  {
    if constexpr (std::is_integral_v<T> && sizeof(T) <= 2)
    {
      const int count = 1 << (8 * sizeof(T));
      std::vector<std::uint8_t> table(count);
      for (int i = 0; i < count; ++i)
        table[i] = window(static_cast<double>(static_cast<T>(std::numeric_limits<T>::min() + i)));
      for (unsigned int y = 0; y < height; ++y)
      {
        std::uint8_t *out = target.scanLine(static_cast<int>(y)) + targetOffset;
        const T *in = source + std::size_t(y) * width * stride;
        for (unsigned int x = 0; x < width; ++x)
          out[x * targetStride] =
            table[static_cast<int>(in[x * stride]) - static_cast<int>(std::numeric_limits<T>::min())];
      }
    }
    else
    {
      for (unsigned int y = 0; y < height; ++y)
      {
        std::uint8_t *out = target.scanLine(static_cast<int>(y)) + targetOffset;
        const T *in = source + std::size_t(y) * width * stride;
        for (unsigned int x = 0; x < width; ++x)
          out[x * targetStride] = window(static_cast<double>(in[x * stride]));
      }
    }
  }

  template <typename T>
  void Draw(const void *slice,
            std::size_t components,
            bool colour,
            unsigned int width,
            unsigned int height,
            const Window &window,
            QImage &target)
  {
    const T *first = static_cast<const T *>(slice);
    if (!colour)
    {
      DrawComponent(first, components, width, height, window, target, 1, 0);
      return;
    }
    for (int c = 0; c < 3; ++c)
      DrawComponent(first + c, components, width, height, window, target, 3, c);
  }
}

namespace vexa
{
  bool RenderImageSlice(const Image *image, const LevelWindow &levelWindow, QImage &target)
  {
    if (!image || !image->IsInitialized())
      return false;
    const PixelType type = image->GetPixelType(0);
    const std::size_t components = type.GetNumberOfComponents();
    const unsigned int width = image->GetDimension(0);
    const unsigned int height = image->GetDimension() > 1 ? image->GetDimension(1) : 1;
    const unsigned int depth = image->GetDimension() > 2 ? image->GetDimension(2) : 1;
    if (width == 0 || height == 0 || components == 0)
      return false;
    const bool colour = (components == 3 || components == 4) && type.GetComponentType() == itk::ImageIOBase::UCHAR;
    const QImage::Format format = colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8;

    const std::size_t sliceBytes = std::size_t(width) * height * type.GetSize();
    const std::size_t offset = sliceBytes * (depth / 2);

    ImageReadAccessor access(image);
    if (!access.GetData() || access.GetSize() < offset + sliceBytes)
      return false;
    if (target.width() != static_cast<int>(width) || target.height() != static_cast<int>(height) ||
        target.format() != format)
      target = QImage(static_cast<int>(width), static_cast<int>(height), format);
    if (target.isNull())
      return false;

    Window window;
    window.lower = levelWindow.GetLowerWindowBound();
    window.width = std::max(levelWindow.GetWindow(), 1e-12);
    const void *slice = static_cast<const char *>(access.GetData()) + offset;
    switch (type.GetComponentType())
    {
      case itk::ImageIOBase::UCHAR:
        Draw<std::uint8_t>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::CHAR:
        Draw<std::int8_t>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::USHORT:
        Draw<std::uint16_t>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::SHORT:
        Draw<std::int16_t>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::UINT:
        Draw<std::uint32_t>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::INT:
        Draw<std::int32_t>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::ULONG:
        Draw<unsigned long>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::LONG:
        Draw<long>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::FLOAT:
        Draw<float>(slice, components, colour, width, height, window, target);
        break;
      case itk::ImageIOBase::DOUBLE:
        Draw<double>(slice, components, colour, width, height, window, target);
        break;
      default:
        return false;
    }
    return true;
  }
}
