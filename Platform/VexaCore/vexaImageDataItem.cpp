#include "vexaImageDataItem.h"

#include "vexaException.h"

#include <cstdlib>

namespace vexa
{
  ImageDataItem::ImageDataItem() = default;
  ImageDataItem::~ImageDataItem() = default;

  ImageDataItem::Pointer ImageDataItem::Allocate(std::size_t size)
  {
    // calloc: large zeroed blocks come from fresh pages without a separate fill
    void *memory = std::calloc(size > 0 ? size : 1, 1);
    if (!memory)
      vexaThrow() << "Cannot allocate " << size << " bytes of image memory.";
    Pointer item = new ImageDataItem();
    item->UnRegister();
    item->m_Memory = std::shared_ptr<void>(memory, [](void *p) { std::free(p); });
    item->m_Data = static_cast<char *>(memory);
    item->m_Size = size;
    item->m_Owner = true;
    return item;
  }

  ImageDataItem::Pointer ImageDataItem::Wrap(void *data, std::size_t size, BufferDeleter deleter)
  {
    if (!data)
      vexaThrow() << "ImageDataItem::Wrap: the buffer is null.";
    Pointer item = new ImageDataItem();
    item->UnRegister();
    if (deleter)
    {
      item->m_Memory = std::shared_ptr<void>(data, std::move(deleter));
      item->m_Owner = true;
    }
    else
    {
      item->m_Memory = std::shared_ptr<void>(data, [](void *) {});
    }
    item->m_Data = static_cast<char *>(data);
    item->m_Size = size;
    return item;
  }

  ImageDataItem::Pointer ImageDataItem::View(const ImageDataItem *parent, std::size_t offset, std::size_t size)
  {
    if (!parent)
      vexaThrow() << "ImageDataItem::View: the parent item is null.";
    if (offset > parent->m_Size || size > parent->m_Size - offset)
      vexaThrow() << "ImageDataItem::View: bytes " << offset << " to " << offset + size << " lie outside an item of "
                  << parent->m_Size << " bytes.";
    Pointer item = new ImageDataItem();
    item->UnRegister();
    item->m_Memory = parent->m_Memory;
    item->m_Data = parent->m_Data + offset;
    item->m_Size = size;
    item->m_Owner = parent->m_Owner;
    return item;
  }
}
