#include "vexaImageAccessorBase.h"

#include "vexaException.h"

namespace vexa
{
  ImageAccessorBase::ImageAccessorBase(const Image *image, const ImageDataItem *item, int options, bool write)
    : m_Image(image), m_Write(write)
  {
    if (!image)
      vexaThrow() << (write ? "ImageWriteAccessor" : "ImageReadAccessor") << ": the image is null.";
    m_Holds = image->AcquireAccess(write, options);
    m_Owner = std::this_thread::get_id();
    try
    {
      if (item)
      {
        m_Item = item;
      }
      else if (image->IsInitialized())
      {
        std::lock_guard<std::mutex> lock(image->m_Mutex);
        m_Item = image->ChannelItemLocked(0, write);
      }
    }
    catch (...)
    {
      if (m_Holds)
        image->ReleaseAccess(m_Owner, m_Write);
      throw;
    }
    if (m_Item)
    {
      m_Data = m_Item->GetData();
      m_Size = m_Item->GetSize();
    }
  }

  ImageAccessorBase::~ImageAccessorBase()
  {
    if (m_Holds)
      m_Image->ReleaseAccess(m_Owner, m_Write);
  }
}
