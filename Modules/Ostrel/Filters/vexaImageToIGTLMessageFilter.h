#ifndef vexaImageToIGTLMessageFilter_h
#define vexaImageToIGTLMessageFilter_h

#include "OstrelExports.h"
#include "vexaIGTLMessageSource.h"

#include <vexaCommon.h>
#include <vexaImage.h>
#include <vexaImageSource.h>

namespace vexa
{
  /**
   * Turns toolkit images into OpenIGTLink image messages: input i (an image
   * of one to three dimensions with one channel) gives output i, a
   * vexa::IGTLMessage around a new, packed igtl::ImageMessage that holds the
   * pixels, the size, the spacing and the placement of the image.
   *
   * The placement is what OpenIGTLink defines for its image message: unit
   * direction columns and the spacing given separately, and the position of
   * the centre of the image (the middle between its first and last voxel
   * centres). A peer that reads the message thus gets back the image's own
   * geometry. The message's time stamp is the time of conversion.
   *
   * Registered as a message source with a device type such as "IMAGE", the
   * filter is what the message provider serves to a peer:
   *
   *   vexa::ImageToIGTLMessageFilter::Pointer filter = vexa::ImageToIGTLMessageFilter::New();
   *   filter->SetInput(image);
   *   filter->SetType("IMAGE");
   *   filter->RegisterAsMicroservice();
   *
   * An input that cannot be sent (no image, more than three dimensions, not
   * one channel, a pixel component type that OpenIGTLink has no size for, or
   * more bytes than an OpenIGTLink message holds) is refused with a log
   * record; its output keeps what it had, and the other inputs are converted.
   */
  class OSTREL_EXPORT ImageToIGTLMessageFilter : public IGTLMessageSource
  {
  public:
    vexaClassMacro(ImageToIGTLMessageFilter, IGTLMessageSource);
    vexaNewMacro(ImageToIGTLMessageFilter);

    /** Input idx becomes `img`; there is one output per input. */
    virtual void SetInput(unsigned int idx, const Image *img);
    virtual void SetInput(const Image *img);

    const Image *GetInput();
    const Image *GetInput(unsigned int idx);

    /** Takes every output of `UpstreamFilter` as the input of the same index. */
    virtual void ConnectTo(vexa::ImageSource *UpstreamFilter);

    /** The OpenIGTLink scalar type of an ITK component-type code, or 0 when there is none. */
    static int ScalarTypeOf(int componentType);

  protected:
    ImageToIGTLMessageFilter();
    ~ImageToIGTLMessageFilter() override;

    void GenerateData() override;
    /** Nothing to tell downstream before the data: the messages are made in GenerateData. */
    void GenerateOutputInformation() override;

    /** One output per indexed input. */
    virtual void CreateOutputsForAllInputs();

  private:
    /** Converts input idx into output idx; false (logged) when the input is refused. */
    bool Convert(DataObjectPointerArraySizeType idx);
  };
}

#endif
