#include "vexaImageSliceSelector.h"

#include "vexaException.h"
#include "vexaImageReadAccessor.h"
#include "vexaImageWriteAccessor.h"

#include <cstring>

namespace vexa
{
  ImageSliceSelector::ImageSliceSelector() { SetNumberOfRequiredInputs(1); }
  ImageSliceSelector::~ImageSliceSelector() = default;

  void ImageSliceSelector::SetInput(const Image *image) { SetNthInput(0, const_cast<Image *>(image)); }

  const Image *ImageSliceSelector::GetInput() const
  {
    return GetNumberOfIndexedInputs() > 0 ? dynamic_cast<const Image *>(GetPrimaryInput()) : nullptr;
  }

  void ImageSliceSelector::SetSliceNr(int slice)
  {
    if (m_SliceNr == slice)
      return;
    m_SliceNr = slice;
    Modified();
  }

  void ImageSliceSelector::SetTimeNr(int timeStep)
  {
    if (m_TimeNr == timeStep)
      return;
    m_TimeNr = timeStep;
    Modified();
  }

  void ImageSliceSelector::SetChannelNr(int channel)
  {
    if (m_ChannelNr == channel)
      return;
    m_ChannelNr = channel;
    Modified();
  }

  void ImageSliceSelector::GenerateOutputInformation()
  {
    const Image *input = GetInput();
    if (!input || !input->IsInitialized())
      vexaThrow() << "ImageSliceSelector: no initialised input image.";
    if (m_SliceNr < 0 || static_cast<unsigned int>(m_SliceNr) >= input->GetDimension(2))
      vexaThrow() << "ImageSliceSelector: slice " << m_SliceNr << " does not exist (" << input->GetDimension(2)
                  << " slices).";
    if (!input->IsValidTimeStep(m_TimeNr))
      vexaThrow() << "ImageSliceSelector: time step " << m_TimeNr << " does not exist (" << input->GetDimension(3)
                  << " time steps).";
    if (!input->IsValidChannel(m_ChannelNr))
      vexaThrow() << "ImageSliceSelector: channel " << m_ChannelNr << " does not exist ("
                  << input->GetNumberOfChannels() << " channels).";

    Image *output = GetOutput();
    const unsigned int dims[] = {input->GetDimension(0), input->GetDimension(1)};
    output->Initialize(input->GetPixelType(m_ChannelNr), 2, dims, 1);
    const SlicedGeometry3D *volume = input->GetSlicedGeometry(m_TimeNr);
    if (volume)
    {
      if (BaseGeometry *slice = volume->GetSliceGeometry(m_SliceNr))
        output->SetClonedGeometry(slice);
    }
  }

  void ImageSliceSelector::GenerateData()
  {
    const Image *input = GetInput();
    Image *output = GetOutput();
    if (!input || !output->IsInitialized())
      vexaThrow() << "ImageSliceSelector: the output information was not generated.";
    if (!input->IsChannelSet(m_ChannelNr))
      return; // an input without pixels gives an output without pixels
    Image *modifiable = const_cast<Image *>(input);
    ImageDataItem::Pointer channel = modifiable->GetChannelData(m_ChannelNr);
    ImageReadAccessor source(input, channel);
    const std::size_t sliceBytes = output->GetVolumeSizeInBytes();
    const std::size_t offset = input->GetVolumeSizeInBytes() * static_cast<std::size_t>(m_TimeNr) +
                               sliceBytes * static_cast<std::size_t>(m_SliceNr);
    if (offset + sliceBytes > source.GetSize())
      vexaThrow() << "ImageSliceSelector: the slice lies outside the input's pixel memory.";
    ImageWriteAccessor target(output);
    std::memcpy(target.GetData(), static_cast<const char *>(source.GetData()) + offset, sliceBytes);
  }
}
