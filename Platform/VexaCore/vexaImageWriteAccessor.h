#ifndef vexaImageWriteAccessor_h
#define vexaImageWriteAccessor_h

#include "vexaImageAccessorBase.h"

namespace vexa
{
  /** Write access to an image's pixels for the lifetime of the accessor (allocates them when needed). */
  class VEXACORE_EXPORT ImageWriteAccessor : public ImageAccessorBase
  {
  public:
    explicit ImageWriteAccessor(Image *image, ImageDataItem *item = nullptr, int options = DefaultBehavior);
    ~ImageWriteAccessor() override;

    /** The first pixel, or null when the image is not initialised. */
    void *GetData() const { return Data(); }
  };
}

#endif
