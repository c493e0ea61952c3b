#ifndef vexaUSImageFrame_h
#define vexaUSImageFrame_h

#include "VexaUSExports.h"

#include <vexaPixelType.h>
#include <vexaPoint.h>
#include <vexaVector.h>

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace vexa
{
  class Image;

  /**
   * One acquired picture on its way from a device's acquisition thread to an
   * output of the device: the pixels (x fastest, then y, then z), their type,
   * the size and the geometry. The pixel buffer keeps its capacity, so a frame
   * that is refilled with pictures of the same size allocates nothing.
   */
  class VEXAUS_EXPORT USImageFrame
  {
  public:
    USImageFrame();

    /**
     * Shapes the frame (sizes each at least 1) and sizes the pixel buffer for
     * it; false, with the frame left empty, when the byte count does not fit
     * in 64 bits or the shape is unusable. The pixels are not cleared.
     */
    bool Reshape(const PixelType &type, unsigned int x, unsigned int y, unsigned int z = 1);

    /** Empties the frame (keeps the buffer's capacity). */
    void Clear();
    bool IsEmpty() const { return !m_PixelType.has_value(); }

    const std::optional<PixelType> &GetPixelType() const { return m_PixelType; }
    const std::array<unsigned int, 3> &GetSize() const { return m_Size; }
    unsigned char *GetData() { return m_Pixels.data(); }
    const unsigned char *GetData() const { return m_Pixels.data(); }
    std::size_t GetSizeInBytes() const { return m_Bytes; }

    Vector3D Spacing;
    Point3D Origin;

    /**
     * Writes the frame into `image`: reshapes the image only when its pixel
     * type or size differs (so its memory is reused from frame to frame),
     * copies the pixels under a write accessor and sets the whole geometry
     * (extent, spacing, origin). An empty frame leaves the image as it is.
     */
    void WriteInto(Image *image) const;

  private:
    std::optional<PixelType> m_PixelType;
    std::array<unsigned int, 3> m_Size{{0, 0, 0}};
    std::vector<unsigned char> m_Pixels;
    std::size_t m_Bytes = 0;
  };
}

#endif
