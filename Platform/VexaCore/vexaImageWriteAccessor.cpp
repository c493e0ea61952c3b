#include "vexaImageWriteAccessor.h"

namespace vexa
{
  ImageWriteAccessor::ImageWriteAccessor(Image *image, ImageDataItem *item, int options)
    : ImageAccessorBase(image, item, options, true)
  {
  }

  ImageWriteAccessor::~ImageWriteAccessor() = default;
}
