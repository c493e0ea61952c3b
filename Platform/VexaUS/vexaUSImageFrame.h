#ifndef vexaUSImageFrame_h
#define vexaUSImageFrame_h

#include "VexaUSExports.h"

#include <vexaPixelType.h>
#include <vexaPoint.h>
#include <vexaVector.h>

#include <array>
#include <cstddef>
#include <memory>
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

    /**
     * Shapes the frame around pixels it does not own (a received message's),
     * `bytes` of them at `data`; `owner` keeps them alive until the frame is
     * reshaped, wrapped anew or cleared. Saves a copy on the thread that
     * receives; the pixels must not change while the frame holds them.
     * False, with the frame left empty, when `bytes` is not the shape's size.
     */
    bool Wrap(const PixelType &type,
              unsigned int x,
              unsigned int y,
              unsigned int z,
              const unsigned char *data,
              std::size_t bytes,
              std::shared_ptr<const void> owner);

    /**
     * Marks 8-bit three-component pixels as being in blue-green-red order
     * (OpenCV's): they are written into the output as red-green-blue. The
     * swap then happens in the copy to the output, which is made anyway, and
     * not on the acquisition thread. Reshape and Wrap clear the mark.
     */
    void SetBlueGreenRedOrder(bool bgr) { m_BlueGreenRed = bgr; }
    bool GetBlueGreenRedOrder() const { return m_BlueGreenRed; }

    /** True while the frame holds pixels it does not own (see Wrap). */
    bool IsWrapped() const { return m_External != nullptr; }

    /** Empties the frame (keeps the buffer's capacity). */
    void Clear();
    bool IsEmpty() const { return !m_PixelType.has_value(); }

    const std::optional<PixelType> &GetPixelType() const { return m_PixelType; }
    const std::array<unsigned int, 3> &GetSize() const { return m_Size; }
    /** The frame's own pixel buffer, to fill after Reshape (not the pixels of a wrapped frame). */
    unsigned char *GetData() { return m_Pixels.data(); }
    /** The pixels: the own buffer, or the wrapped ones. */
    const unsigned char *GetPixels() const { return m_External ? m_External : m_Pixels.data(); }
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
    const unsigned char *m_External = nullptr;
    bool m_BlueGreenRed = false;
    std::shared_ptr<const void> m_Owner;
  };
}

#endif
