#ifndef vexaImageDataItem_h
#define vexaImageDataItem_h

#include "VexaCoreExports.h"

#include <vexaCommon.h>

#include <itkLightObject.h>

#include <cstddef>
#include <functional>
#include <memory>

namespace vexa
{
  /**
   * One block of pixel memory of an image (a whole channel or one volume of
   * it), reference counted. Whoever holds an item keeps its memory alive,
   * also after the image has moved on to another buffer or is gone; a volume
   * item is a view that keeps the whole buffer it lies in alive.
   */
  class VEXACORE_EXPORT ImageDataItem : public itk::LightObject
  {
  public:
    vexaClassMacroItkParent(ImageDataItem, itk::LightObject);

    /** How an owned buffer is freed. */
    using BufferDeleter = std::function<void(void *)>;

    /**
     * New zeroed memory of the given size (vexa::Exception when it cannot be
     * had). A large block goes back to the system as soon as its last holder
     * lets go.
     */
    static Pointer Allocate(std::size_t size);
    /** Memory of the caller: owned and freed with the deleter, or borrowed when the deleter is empty. */
    static Pointer Wrap(void *data, std::size_t size, BufferDeleter deleter);
    /** A part of another item's memory (keeps that memory alive). */
    static Pointer View(const ImageDataItem *parent, std::size_t offset, std::size_t size);

    void *GetData() const { return m_Data; }
    std::size_t GetSize() const { return m_Size; }
    /** True when the item (or the item it is a view of) frees its memory itself. */
    bool IsOwner() const { return m_Owner; }

  protected:
    ImageDataItem();
    ~ImageDataItem() override;

  private:
    std::shared_ptr<void> m_Memory;
    char *m_Data = nullptr;
    std::size_t m_Size = 0;
    bool m_Owner = false;
  };
}

#endif
