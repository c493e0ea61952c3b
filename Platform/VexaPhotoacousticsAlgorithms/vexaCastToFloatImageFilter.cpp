#include "vexaCastToFloatImageFilter.h"

#include <vexaException.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelType.h>
#include <vexaPixelTypeTraits.h>

#include <itkImageIOBase.h>

namespace
{
  template <class T>
  void Convert(const void *src, std::size_t n, float *dst)
  {
    const T *s = static_cast<const T *>(src);
    for (std::size_t i = 0; i < n; ++i)
      dst[i] = static_cast<float>(s[i]);
  }

  void ConvertComponents(int componentType, const void *src, std::size_t n, float *dst)
  {
    using IO = itk::ImageIOBase;
    switch (componentType)
    {
      case IO::UCHAR:
        return Convert<unsigned char>(src, n, dst);
      case IO::CHAR:
        return Convert<signed char>(src, n, dst);
      case IO::USHORT:
        return Convert<unsigned short>(src, n, dst);
      case IO::SHORT:
        return Convert<short>(src, n, dst);
      case IO::UINT:
        return Convert<unsigned int>(src, n, dst);
      case IO::INT:
        return Convert<int>(src, n, dst);
      case IO::ULONG:
        return Convert<unsigned long>(src, n, dst);
      case IO::LONG:
        return Convert<long>(src, n, dst);
      case IO::ULONGLONG:
        return Convert<unsigned long long>(src, n, dst);
      case IO::LONGLONG:
        return Convert<long long>(src, n, dst);
      case IO::FLOAT:
        return Convert<float>(src, n, dst);
      case IO::DOUBLE:
        return Convert<double>(src, n, dst);
      default:
        vexaThrow() << "CastToFloatImageFilter cannot read components of type "
                    << IO::GetComponentTypeAsString(static_cast<IO::IOComponentType>(componentType)) << ".";
    }
  }
}

vexa::CastToFloatImageFilter::CastToFloatImageFilter() { this->SetNumberOfRequiredInputs(1); }

vexa::CastToFloatImageFilter::~CastToFloatImageFilter() = default;

void vexa::CastToFloatImageFilter::SetInput(const Image *image)
{
  this->ProcessObject::SetNthInput(0, const_cast<Image *>(image));
}

const vexa::Image *vexa::CastToFloatImageFilter::GetInput() const
{
  return dynamic_cast<const Image *>(this->ProcessObject::GetInput(0));
}

void vexa::CastToFloatImageFilter::GenerateOutputInformation()
{
  // the output is shaped in GenerateData, after the input's checks
}

void vexa::CastToFloatImageFilter::GenerateData()
{
  const Image *input = this->GetInput();
  Image *output = this->GetOutput();
  if (!input)
    vexaThrow() << "CastToFloatImageFilter needs an input image.";
  if (!input->IsInitialized() || input->GetDimension() == 0)
    vexaThrow() << "CastToFloatImageFilter needs an initialised input image.";
  const PixelType type = input->GetPixelType();
  if (type.GetPixelType() != itk::ImageIOBase::SCALAR || type.GetNumberOfComponents() != 1)
    vexaThrow() << "CastToFloatImageFilter casts scalar images; the input has pixels of type "
                << type.GetPixelTypeAsString() << ".";

  const unsigned int channels = input->GetNumberOfChannels();
  output->Initialize(CreateScalarPixelType<float>(), input->GetDimension(), input->GetDimensions(), channels);
  output->SetClonedTimeGeometry(input->GetTimeGeometry());

  const std::size_t pixelsPerChannel = input->GetChannelSizeInBytes() / type.GetSize();
  for (unsigned int n = 0; n < channels; ++n)
  {
    if (!input->IsChannelSet(n))
      vexaThrow() << "CastToFloatImageFilter: channel " << n << " of the input holds no pixels.";
    ImageDataItem::Pointer inItem = const_cast<Image *>(input)->GetChannelData(n);
    ImageDataItem::Pointer outItem = output->GetChannelData(n);
    ImageReadAccessor in(input, inItem);
    ImageWriteAccessor out(output, outItem);
    ConvertComponents(type.GetComponentType(), in.GetData(), pixelsPerChannel, static_cast<float *>(out.GetData()));
  }
}
