#include "vexaImageSliceRendering.h"

#include <vexaImageReadAccessor.h>
#include <vexaPixelType.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
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

  // The slice pixel under the centre of each of `to` picture pixels along an
  // axis of `from` slice pixels.
  std::vector<std::size_t> Samples(unsigned int from, unsigned int to)
  {
    std::vector<std::size_t> samples(to);
    for (unsigned int i = 0; i < to; ++i)
      samples[i] = static_cast<std::size_t>((2 * std::uint64_t(i) + 1) * from / (2 * std::uint64_t(to)));
    return samples;
  }

  template <typename T>
  void DrawChannel(const T *slice,
                   std::size_t stride,
                   unsigned int width,
                   const std::vector<std::size_t> &rows,
                   const std::vector<std::size_t> &columns,
                   const Window &window,
                   QImage &target,
                   int targetStride,
                   int targetOffset)
  {
    for (std::size_t row = 0; row < rows.size(); ++row)
    {
      const T *in = slice + rows[row] * width * stride;
      std::uint8_t *out = target.scanLine(static_cast<int>(row)) + targetOffset;
      for (std::size_t column = 0; column < columns.size(); ++column)
        out[column * targetStride] = window(static_cast<double>(in[columns[column] * stride]));
    }
  }

  template <typename T>
  void Draw(const void *slice,
            std::size_t components,
            bool colour,
            unsigned int width,
            const std::vector<std::size_t> &rows,
            const std::vector<std::size_t> &columns,
            const Window &window,
            QImage &target)
  {
    const T *first = static_cast<const T *>(slice);
    if (!colour)
    {
      DrawChannel(first, components, width, rows, columns, window, target, 1, 0);
      return;
    }
    for (int c = 0; c < 3; ++c)
      DrawChannel(first + c, components, width, rows, columns, window, target, 3, c);
  }
}

namespace vexa
{
  bool RenderImageSlice(const Image *image, const LevelWindow &levelWindow, QImage &target, QSize size)
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
    if (size.isEmpty())
      size = QSize(static_cast<int>(width), static_cast<int>(height));
    const bool colour = (components == 3 || components == 4) && type.GetComponentType() == itk::ImageIOBase::UCHAR;
    const QImage::Format format = colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8;

    const std::size_t sliceBytes = std::size_t(width) * height * type.GetSize();
    const std::size_t offset = sliceBytes * (depth / 2);

    ImageReadAccessor access(image);
    if (!access.GetData() || access.GetSize() < offset + sliceBytes)
      return false;
    if (target.size() != size || target.format() != format)
      target = QImage(size, format);
    if (target.isNull())
      return false;

    Window window;
    window.lower = levelWindow.GetLowerWindowBound();
    window.width = std::max(levelWindow.GetWindow(), 1e-12);
    const std::vector<std::size_t> rows = Samples(height, static_cast<unsigned int>(size.height()));
    const std::vector<std::size_t> columns = Samples(width, static_cast<unsigned int>(size.width()));
    const void *slice = static_cast<const char *>(access.GetData()) + offset;
    if (!vexa::ForComponentType(type.GetComponentType(), [&](auto tag) {
          Draw<decltype(tag)>(slice, components, colour, width, rows, columns, window, target);
        }))
      return false;
    return true;
  }
}
