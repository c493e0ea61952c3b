#ifndef vexaImageReadAccessor_h
#define vexaImageReadAccessor_h

#include "vexaImageAccessorBase.h"

namespace vexa
{
  /**
   * Read access to an image's pixels for the lifetime of the accessor:
   *
   *   vexa::ImageReadAccessor access(image);
   *   const auto *pixels = static_cast<const float *>(access.GetData());
   */
  class VEXACORE_EXPORT ImageReadAccessor : public ImageAccessorBase
  {
  public:
    explicit ImageReadAccessor(const Image *image, const ImageDataItem *item = nullptr, int options = DefaultBehavior);
    ~ImageReadAccessor() override;

    /** The first pixel, or null when the image holds no pixel memory. */
    const void *GetData() const { return Data(); }
  };
}

#endif
