#ifndef vexaImageAccessorBase_h
#define vexaImageAccessorBase_h

#include "vexaImage.h"

#include <thread>

namespace vexa
{
  /**
   * Common part of the image accessors: holds the image, the memory item and
   * the access right for as long as the accessor lives.
   */
  class VEXACORE_EXPORT ImageAccessorBase
  {
  public:
    /** Option flags of the accessor constructors. */
    enum Options
    {
      /** Wait until accessors of other threads that conflict have been released. */
      DefaultBehavior = 0,
      /** Throw vexa::Exception instead of waiting. */
      ExceptionIfLocked = 1,
      /** Take no access right at all: for a look at the data pointer only. */
      IgnoreLock = 4
    };

    virtual ~ImageAccessorBase();
    ImageAccessorBase(const ImageAccessorBase &) = delete;
    ImageAccessorBase &operator=(const ImageAccessorBase &) = delete;

    /** The first pixel of the accessed memory, or null (read-only view of the data pointer). */
    const void *GetConstData() const { return m_Data; }
    /** Bytes reachable from the data pointer (0 when it is null). */
    std::size_t GetSize() const { return m_Size; }
    const Image *GetImage() const { return m_Image; }

  protected:
    /**
     * image: not null (vexa::Exception); item: a memory item of the image, or
     * null for the whole of channel 0. A write access allocates the memory of
     * an initialised image that has none; a read access then sees null.
     */
    ImageAccessorBase(const Image *image, const ImageDataItem *item, int options, bool write);

    void *Data() const { return m_Data; }

  private:
    Image::ConstPointer m_Image;
    ImageDataItem::ConstPointer m_Item;
    void *m_Data = nullptr;
    std::size_t m_Size = 0;
    bool m_Write;
    bool m_Holds = false;
    std::thread::id m_Owner;
  };
}

#endif
