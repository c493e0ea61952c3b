#include "vexaImageToIGTLMessageFilter.h"

#include "vexaIGTLMessagePacking.h"

#include <vexaImageReadAccessor.h>

#include <igtlImageMessage.h>
#include <igtlTimeStamp.h>
#include <igtl_image.h>
#include <igtl_util.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <locale>
#include <sstream>

namespace vexa
{
  ImageToIGTLMessageFilter::ImageToIGTLMessageFilter()
  {
    IGTLMessage::Pointer output = IGTLMessage::New();
    this->SetNumberOfRequiredOutputs(1);
    this->SetNthOutput(0, output.GetPointer());
    this->SetNumberOfRequiredInputs(1);
  }

  ImageToIGTLMessageFilter::~ImageToIGTLMessageFilter() = default;

  int ImageToIGTLMessageFilter::ScalarTypeOf(int componentType)
  {
    switch (componentType)
    {
      case itk::ImageIOBase::UCHAR:
        return igtl::ImageMessage::TYPE_UINT8;
      case itk::ImageIOBase::CHAR:
        return igtl::ImageMessage::TYPE_INT8;
      case itk::ImageIOBase::USHORT:
        return igtl::ImageMessage::TYPE_UINT16;
      case itk::ImageIOBase::SHORT:
        return igtl::ImageMessage::TYPE_INT16;
      case itk::ImageIOBase::UINT:
        return igtl::ImageMessage::TYPE_UINT32;
      case itk::ImageIOBase::INT:
        return igtl::ImageMessage::TYPE_INT32;
      // codes that the OpenIGTLink image format does not name (its size table has 0 for them)
      case itk::ImageIOBase::ULONG:
        return 9;
      case itk::ImageIOBase::LONG:
        return 8;
      case itk::ImageIOBase::FLOAT:
        return igtl::ImageMessage::TYPE_FLOAT32;
      case itk::ImageIOBase::DOUBLE:
        return igtl::ImageMessage::TYPE_FLOAT64;
      default:
        return 0;
    }
  }

  void ImageToIGTLMessageFilter::GenerateData()
  {
    for (DataObjectPointerArraySizeType i = 0; i < this->GetNumberOfIndexedOutputs(); ++i)
      Convert(i);
  }

  bool ImageToIGTLMessageFilter::Convert(DataObjectPointerArraySizeType idx)
  {
    IGTLMessage *output = this->GetOutput(idx);
    const Image *img = this->GetInput(static_cast<unsigned int>(idx));
    if (output == nullptr)
      return false;
    if (img == nullptr)
    {
      VEXA_WARN << "Input " << idx << " holds no image; its message is not made";
      return false;
    }

    const unsigned int dimension = img->GetDimension();
    const unsigned int channels = img->GetNumberOfChannels();
    if (dimension == 0)
    {
      VEXA_ERROR << "Can not handle dimensionless images";
      return false;
    }
    if (dimension > 3)
    {
      VEXA_ERROR << "Can not handle more than three dimensions";
      return false;
    }
    if (channels != 1)
    {
      VEXA_ERROR << "Can not handle anything but one channel. Image contained " << channels;
      return false;
    }

    const PixelType pixelType = img->GetPixelType(0);
    const int scalarType = ScalarTypeOf(pixelType.GetComponentType());
    if (scalarType == 0)
    {
      VEXA_ERROR << "Can not handle pixel component type " << pixelType.GetComponentType();
      return false;
    }

    igtl::ImageMessage::Pointer imgMsg = igtl::ImageMessage::New();
    imgMsg->SetCoordinateSystem(igtl::ImageMessage::COORDINATE_RAS);
    // The pixels are copied as they lie in memory.
    imgMsg->SetEndian(igtl_is_little_endian() ? igtl::ImageMessage::ENDIAN_LITTLE : igtl::ImageMessage::ENDIAN_BIG);
    imgMsg->SetNumComponents(static_cast<int>(pixelType.GetNumberOfComponents()));
    imgMsg->SetScalarType(scalarType);
    if (imgMsg->GetScalarSize() == 0 ||
        static_cast<std::size_t>(imgMsg->GetScalarSize()) != pixelType.GetBytesPerComponent())
    {
      // 64-bit integers: OpenIGTLink has no size for them, so the message would hold no pixels.
      VEXA_ERROR << "Can not handle pixel component type " << pixelType.GetComponentType() << " ("
                 << pixelType.GetComponentTypeAsString() << "): OpenIGTLink image messages have no "
                 << pixelType.GetBitsPerComponent() << "-bit scalar type of code " << scalarType;
      return false;
    }

    // Sizes: OpenIGTLink counts them, and the bytes of a message, in int.
    const std::uint64_t maximumBytes =
      static_cast<std::uint64_t>(std::numeric_limits<int>::max()) - IGTL_IMAGE_HEADER_SIZE;
    int size[3];
    std::uint64_t bytes = pixelType.GetSize();
    for (int d = 0; d < 3; ++d)
    {
      const unsigned int extent = img->GetDimension(d);
      bytes *= extent;
      if (extent > static_cast<unsigned int>(std::numeric_limits<int>::max()) || bytes > maximumBytes)
      {
        VEXA_ERROR << "Can not handle an image of " << img->GetDimension(0) << " x " << img->GetDimension(1) << " x "
                   << img->GetDimension(2) << " pixels of " << pixelType.GetSize()
                   << " bytes: an OpenIGTLink image message holds at most " << maximumBytes << " bytes";
        return false;
      }
      size[d] = static_cast<int>(extent);
    }

    // Geometry. The toolkit's index-to-world matrix has columns of the
    // spacing's length; OpenIGTLink wants unit columns and the spacing apart
    // (it multiplies them again when packing), and the position of the
    // image's centre.
    const BaseGeometry *geometry = img->GetGeometry(0);
    if (geometry == nullptr)
    {
      VEXA_ERROR << "Can not handle an image without a geometry";
      return false;
    }
    const Vector3D spacing = geometry->GetSpacing();
    const AffineMatrix4x4 matrix = geometry->GetMatrix4x4();
    Point3D centreIndex;
    for (int d = 0; d < 3; ++d)
      centreIndex[d] = (size[d] - 1) / 2.0;
    const Point3D centre = geometry->IndexToWorld(centreIndex);
    igtl::Matrix4x4 igtlMatrix;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        igtlMatrix[r][c] = (r == c) ? 1.0f : 0.0f;
    for (int r = 0; r < 3; ++r)
    {
      for (int c = 0; c < 3; ++c)
        igtlMatrix[r][c] = static_cast<float>(matrix[r][c] / spacing[c]);
      igtlMatrix[r][3] = static_cast<float>(centre[r]);
    }
    imgMsg->SetMatrix(igtlMatrix);
    float igtlSpacing[3] = {static_cast<float>(spacing[0]), static_cast<float>(spacing[1]),
                            static_cast<float>(spacing[2])};
    imgMsg->SetSpacing(igtlSpacing);
    imgMsg->SetDimensions(size);

    imgMsg->AllocateScalars();
    if (static_cast<std::uint64_t>(imgMsg->GetImageSize()) != bytes || imgMsg->GetScalarPointer() == nullptr)
    {
      VEXA_ERROR << "The image message for " << bytes << " bytes of pixels could not be made";
      return false;
    }

    {
      // The pixels of time step 0, channel 0; allocated (zeros) when the image has none yet.
      ImageDataItem::Pointer volume = const_cast<Image *>(img)->GetVolumeData(0, 0);
      ImageReadAccessor access(img, volume.GetPointer());
      if (access.GetData() == nullptr || access.GetSize() < bytes)
      {
        VEXA_ERROR << "The image holds " << access.GetSize() << " bytes of pixels, not the " << bytes
                   << " its size asks for";
        return false;
      }
      std::memcpy(imgMsg->GetScalarPointer(), access.GetData(), static_cast<std::size_t>(bytes));
    }

    igtl::TimeStamp::Pointer timestamp = igtl::TimeStamp::New();
    timestamp->GetTime(); // now
    imgMsg->SetTimeStamp(timestamp);

    IGTLPackMessage(imgMsg);
    output->SetMessage(imgMsg.GetPointer());
    output->SetPacked(true); // the message is new and no one else has it: the device sends it as packed here
    return true;
  }

  void ImageToIGTLMessageFilter::SetInput(const Image *img) { this->SetInput(0, img); }

  void ImageToIGTLMessageFilter::SetInput(unsigned int idx, const Image *img)
  {
    this->ProcessObject::SetNthInput(idx, const_cast<Image *>(img));
    this->CreateOutputsForAllInputs();
  }

  const Image *ImageToIGTLMessageFilter::GetInput()
  {
    if (this->GetNumberOfIndexedInputs() < 1)
      return nullptr;
    return dynamic_cast<const Image *>(this->ProcessObject::GetInput(0));
  }

  const Image *ImageToIGTLMessageFilter::GetInput(unsigned int idx)
  {
    if (this->GetNumberOfIndexedInputs() <= idx)
      return nullptr;
    return dynamic_cast<const Image *>(this->ProcessObject::GetInput(idx));
  }

  void ImageToIGTLMessageFilter::ConnectTo(ImageSource *UpstreamFilter)
  {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << "Image source for this (" << static_cast<const void *>(this) << ") vexaImageToIGTLMessageFilter is "
         << static_cast<const void *>(UpstreamFilter);
    VEXA_INFO << text.str();
    if (UpstreamFilter == nullptr)
      return;
    for (DataObjectPointerArraySizeType i = 0; i < UpstreamFilter->GetNumberOfIndexedOutputs(); ++i)
      this->SetInput(static_cast<unsigned int>(i), UpstreamFilter->GetOutput(i));
  }

  void ImageToIGTLMessageFilter::CreateOutputsForAllInputs()
  {
    this->SetNumberOfIndexedOutputs(this->GetNumberOfIndexedInputs());
    for (DataObjectPointerArraySizeType idx = 0; idx < this->GetNumberOfIndexedOutputs(); ++idx)
    {
      if (this->GetOutput(idx) == nullptr)
      {
        itk::DataObject::Pointer newOutput = this->MakeOutput(idx);
        this->SetNthOutput(idx, newOutput);
      }
      this->Modified();
    }
  }

  void ImageToIGTLMessageFilter::GenerateOutputInformation() {}
}
