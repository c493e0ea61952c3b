#include "vexaImageDataItem.h"

#include "vexaException.h"

#include <sys/mman.h>

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define VEXA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXA_ADDRESS_SANITIZER 1
#endif
#endif

namespace vexa
{
  ImageDataItem::ImageDataItem() = default;
  ImageDataItem::~ImageDataItem() = default;

  namespace
  {
    // From this size on (a 1024 x 1024 float image) a block is a mapping of
    // its own (see ZeroedMemory); smaller ones, which pipelines make and drop
    // at a high rate, keep the heap's reuse of freed pages.
    [[maybe_unused]] constexpr std::size_t OwnMappingFrom = std::size_t(4) << 20; // not under AddressSanitizer

    /** Zeroed memory of `size` bytes that goes back to the system when the pointer's last copy does. */
    std::shared_ptr<void> ZeroedMemory(std::size_t size)
    {
#ifndef VEXA_ADDRESS_SANITIZER
      // glibc raises its mmap threshold to the size of each large mapped
      // block it frees (up to 32 MiB), so the next images of that size come
      // from its heaps, whose free chunks stay resident when the images go:
      // results removed in a long session would keep their memory. A large
      // block of pixels is therefore mapped on its own, fresh zero pages
      // (no fill), and unmapped when the last holder lets go. (Under
      // AddressSanitizer the blocks stay with its allocator, which checks
      // each access against their bounds and maps large ones on its own.)
      if (size >= OwnMappingFrom)
      {
        void *mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
          return nullptr;
        return std::shared_ptr<void>(mapped, [size](void *p) { ::munmap(p, size); });
      }
#endif
      // calloc: zeroed blocks come from fresh pages without a separate fill where it can
      void *memory = std::calloc(size > 0 ? size : 1, 1);
      if (!memory)
        return nullptr;
      return std::shared_ptr<void>(memory, [](void *p) { std::free(p); });
    }
  }

  ImageDataItem::Pointer ImageDataItem::Allocate(std::size_t size)
  {
    std::shared_ptr<void> memory = ZeroedMemory(size);
    if (!memory)
      vexaThrow() << "Cannot allocate " << size << " bytes of image memory.";
    Pointer item = new ImageDataItem();
    item->UnRegister();
    item->m_Memory = memory;
    item->m_Data = static_cast<char *>(memory.get());
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
