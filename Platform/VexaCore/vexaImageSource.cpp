#include "vexaImageSource.h"

namespace vexa
{
  ImageSource::ImageSource()
  {
    Image::Pointer output = static_cast<Image *>(MakeOutput(0).GetPointer());
    SetNumberOfRequiredOutputs(1);
    SetNthOutput(0, output.GetPointer());
  }

  ImageSource::~ImageSource() = default;

  ImageSource::OutputType *ImageSource::GetOutput(DataObjectPointerArraySizeType idx)
  {
    return dynamic_cast<OutputType *>(BaseDataSource::GetOutput(idx));
  }

  const ImageSource::OutputType *ImageSource::GetOutput(DataObjectPointerArraySizeType idx) const
  {
    return dynamic_cast<const OutputType *>(BaseDataSource::GetOutput(idx));
  }

  itk::DataObject::Pointer ImageSource::MakeOutput(DataObjectPointerArraySizeType) { return Image::New().GetPointer(); }

  itk::DataObject::Pointer ImageSource::MakeOutput(const DataObjectIdentifierType &)
  {
    return Image::New().GetPointer();
  }
}
