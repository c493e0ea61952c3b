#ifndef vexaITKImageImport_h
#define vexaITKImageImport_h

// vexa::AdoptItkImageMemory: a toolkit image that takes over the pixel buffer
// of a 2-D ITK image, without copying a pixel.

#include <vexaException.h>
#include <vexaImage.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageInitializeByItk.h>

#include <itkImage.h>
#include <itkSmartPointer.h>

namespace vexa
{
  /**
   * Shapes `image` (or a new image) after the ITK image and hands it the ITK
   * image's buffer: afterwards the toolkit image alone owns it and frees it
   * as ITK allocated it, and the ITK image's pixels stay valid only while the
   * toolkit image lives. A given image that already uses this buffer is
   * returned unchanged. With a geometry given, the image takes a copy of it.
   *
   * Refused with vexa::Exception: a null ITK image, an ITK image without
   * buffer, one whose pixel container does not own its memory (it would get
   * a second owner) and one whose buffer does not hold its whole largest
   * region.
   */
  template <typename TItkImage>
  Image::Pointer AdoptItkImageMemory(TItkImage *itkImage,
                                     Image *image = nullptr,
                                     const BaseGeometry *geometry = nullptr,
                                     bool update = true)
  {
    using TPixel = typename TItkImage::PixelType;
    if (!itkImage)
      vexaThrow() << "AdoptItkImageMemory: the ITK image is null.";
    if (update)
      itkImage->Update();

    if (image && image->IsInitialized())
    {
      const void *current = nullptr;
      {
        ImageReadAccessor probe(image, nullptr, ImageAccessorBase::IgnoreLock);
        current = probe.GetData();
      }
      if (current != nullptr && current == itkImage->GetBufferPointer())
        return image;
    }

    auto *container = itkImage->GetPixelContainer();
    if (!container || !itkImage->GetBufferPointer())
      vexaThrow() << "AdoptItkImageMemory: the ITK image has no pixel buffer.";
    if (!container->GetContainerManageMemory())
      vexaThrow() << "AdoptItkImageMemory: the ITK image does not own its pixel buffer, so it cannot hand it over.";
    if (itkImage->GetBufferedRegion() != itkImage->GetLargestPossibleRegion())
      vexaThrow() << "AdoptItkImageMemory: the ITK image's buffer holds only part of its largest region.";
    if (container->Size() < itkImage->GetLargestPossibleRegion().GetNumberOfPixels())
      vexaThrow() << "AdoptItkImageMemory: the ITK image's pixel container is smaller than its region.";

    Image::Pointer result = image ? Image::Pointer(image) : Image::New();
    result->InitializeByItk(itkImage, 1, -1, -1);
    // ITK's import container allocates with new[] of the pixel type and frees with delete[]
    result->TakeVolumeBuffer(itkImage->GetBufferPointer(), 0, 0, Image::ManageMemory,
                             [](void *p) { delete[] static_cast<TPixel *>(p); });
    container->SetContainerManageMemory(false);

    if (geometry)
    {
      BaseGeometry::Pointer copy = geometry->Clone();
      result->SetGeometry(copy);
    }
    return result;
  }

  template <typename TItkImage>
  Image::Pointer AdoptItkImageMemory(const itk::SmartPointer<TItkImage> &itkImage,
                                     Image *image = nullptr,
                                     const BaseGeometry *geometry = nullptr,
                                     bool update = true)
  {
    return AdoptItkImageMemory(itkImage.GetPointer(), image, geometry, update);
  }
}

#endif
