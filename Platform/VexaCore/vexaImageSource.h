#ifndef vexaImageSource_h
#define vexaImageSource_h

#include "vexaBaseDataSource.h"
#include "vexaImage.h"

namespace vexa
{
  /** Base of the pipeline sources and filters whose outputs are images; output 0 exists from the start. */
  class VEXACORE_EXPORT ImageSource : public BaseDataSource
  {
  public:
    vexaClassMacro(ImageSource, BaseDataSource);
    vexaNewMacro(ImageSource);

    using OutputImageType = Image;
    using OutputImagePointer = Image::Pointer;
    using OutputType = Image;

    /** Output idx as an image, or null when there is no such output. */
    OutputType *GetOutput(DataObjectPointerArraySizeType idx);
    const OutputType *GetOutput(DataObjectPointerArraySizeType idx) const;
    OutputType *GetOutput() { return GetOutput(0); }
    const OutputType *GetOutput() const { return GetOutput(0); }

    /** A new image for output idx. */
    itk::DataObject::Pointer MakeOutput(DataObjectPointerArraySizeType idx) override;
    itk::DataObject::Pointer MakeOutput(const DataObjectIdentifierType &name) override;

  protected:
    ImageSource();
    ~ImageSource() override;
  };
}

#endif
