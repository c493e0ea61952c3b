#include "vexaImageReadAccessor.h"

namespace vexa
{
  ImageReadAccessor::ImageReadAccessor(const Image *image, const ImageDataItem *item, int options)
    : ImageAccessorBase(image, item, options, false)
  {
  }

  ImageReadAccessor::~ImageReadAccessor() = default;
}
