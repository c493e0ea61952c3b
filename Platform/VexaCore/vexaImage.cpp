#include "vexaImage.h"

#include "vexaException.h"
#include "vexaImageAccessorBase.h"
#include "vexaImageReadAccessor.h"
#include "vexaImageWriteAccessor.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace vexa
{
  namespace
  {
    bool MultiplyChecked(std::size_t a, std::size_t b, std::size_t &result)
    {
      if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a)
        return false;
      result = a * b;
      return true;
    }
  }

  Image::Image() = default;

  Image::Image(const Image &other)
    : SlicedData(other), m_PixelType(other.m_PixelType), m_Dimension(other.m_Dimension),
      m_Dimensions(other.m_Dimensions)
  {
    m_Channels.resize(other.m_Channels.size());
    for (std::size_t n = 0; n < other.m_Channels.size(); ++n)
    {
      ImageDataItem::Pointer source;
      {
        std::lock_guard<std::mutex> lock(other.m_Mutex);
        source = other.m_Channels[n];
      }
      if (!source)
        continue;
      ImageReadAccessor access(&other, source);
      ImageDataItem::Pointer copy = ImageDataItem::Allocate(access.GetSize());
      std::memcpy(copy->GetData(), access.GetData(), access.GetSize());
      m_Channels[n] = copy;
    }
  }

  Image::~Image() = default;

  void Image::Initialize(const PixelType &type,
                         unsigned int dimension,
                         const unsigned int *dimensions,
                         unsigned int channels)
  {
    if (dimension < 1 || dimension > MaxDimension)
      vexaThrow() << "Image::Initialize: " << dimension << " dimensions are not supported (1 to " << MaxDimension
                  << ").";
    if (!dimensions)
      vexaThrow() << "Image::Initialize: the dimension array is null.";
    if (channels < 1)
      vexaThrow() << "Image::Initialize: an image needs at least one channel.";
    if (type.GetSize() == 0)
      vexaThrow() << "Image::Initialize: the pixel type " << type << " has no size.";
    std::array<unsigned int, MaxDimension> dims{{1, 1, 1, 1}};
    std::size_t bytes = type.GetSize();
    for (unsigned int i = 0; i < dimension; ++i)
    {
      if (dimensions[i] == 0)
        vexaThrow() << "Image::Initialize: dimension " << i << " has size 0.";
      dims[i] = dimensions[i];
      if (!MultiplyChecked(bytes, dims[i], bytes))
        vexaThrow() << "Image::Initialize: the image is too large to address.";
    }

    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_PixelType = type;
      m_Dimension = dimension;
      m_Dimensions = dims;
      m_Channels.assign(channels, nullptr);
    }
    InitializeTimeGeometry();
    Modified();
  }

  void Image::Initialize(const PixelType &type, const BaseGeometry &geometry, unsigned int channels, int tDim)
  {
    std::array<unsigned int, MaxDimension> dims{{1, 1, 1, 1}};
    for (unsigned int i = 0; i < 3; ++i)
    {
      const ScalarType extent = std::round(geometry.GetExtent(i));
      if (!(extent >= 1.0) || extent > std::numeric_limits<unsigned int>::max())
        vexaThrow() << "Image::Initialize: the geometry's extent " << geometry.GetExtent(i) << " along axis " << i
                    << " is not a usable image size.";
      dims[i] = static_cast<unsigned int>(extent);
    }
    dims[3] = tDim > 1 ? static_cast<unsigned int>(tDim) : 1u;
    const unsigned int dimension = dims[3] > 1 ? 4u : (dims[2] > 1 ? 3u : 2u);
    Initialize(type, dimension, dims.data(), channels);
    SetClonedGeometry(&geometry);
  }

  void Image::Initialize(const Image *image)
  {
    if (!image || !image->IsInitialized())
      vexaThrow() << "Image::Initialize: the model image is null or not initialised.";
    Initialize(image->GetPixelType(), image->GetDimension(), image->GetDimensions(), image->GetNumberOfChannels());
    SetClonedTimeGeometry(image->GetTimeGeometry());
    Initialize();
  }

  void Image::Initialize()
  {
    if (!m_PixelType)
      return;
    TimeGeometry *timeGeometry = GetTimeGeometry();
    if (!timeGeometry || timeGeometry->CountTimeSteps() == 0)
    {
      InitializeTimeGeometry();
      return;
    }
    if (timeGeometry->CountTimeSteps() < m_Dimensions[3])
      timeGeometry->Expand(m_Dimensions[3]);
    for (TimeStepType t = 0; t < timeGeometry->CountTimeSteps(); ++t)
    {
      BaseGeometry::Pointer geometry = timeGeometry->GetGeometryForTimeStep(t);
      if (geometry && !dynamic_cast<SlicedGeometry3D *>(geometry.GetPointer()))
      {
        SlicedGeometry3D::Pointer sliced = SlicedGeometry3D::New();
        sliced->InitializeFromVolume(geometry);
        timeGeometry->SetTimeStepGeometry(sliced, t);
      }
    }
  }

  void Image::InitializeTimeGeometry()
  {
    BaseGeometry::Pointer slice = BaseGeometry::New();
    slice->SetBounds({0, static_cast<ScalarType>(m_Dimensions[0]), 0, static_cast<ScalarType>(m_Dimensions[1]), 0, 1});
    SlicedGeometry3D::Pointer sliced = SlicedGeometry3D::New();
    sliced->InitializeFromSlice(slice, m_Dimensions[2]);
    ProportionalTimeGeometry::Pointer timeGeometry = ProportionalTimeGeometry::New();
    timeGeometry->Initialize(sliced, m_Dimensions[3]);
    SetTimeGeometry(timeGeometry);
  }

  bool Image::IsInitialized() const { return m_PixelType.has_value() && BaseData::IsInitialized(); }

  bool Image::IsEmptyTimeStep(unsigned int t) const
  {
    if (!IsInitialized() || t >= m_Dimensions[3])
      return true;
    return !IsChannelSet(0);
  }

  unsigned int Image::GetDimension(int i) const
  {
    if (i < 0)
      return 0;
    if (static_cast<unsigned int>(i) >= m_Dimension || static_cast<unsigned int>(i) >= MaxDimension)
      return 1;
    return m_Dimensions[i];
  }

  PixelType Image::GetPixelType(int n) const
  {
    if (!m_PixelType)
      vexaThrow() << "Image::GetPixelType: the image is not initialised.";
    if (!IsValidChannel(n))
      vexaThrow() << "Image::GetPixelType: channel " << n << " does not exist (" << m_Channels.size() << " channels).";
    return *m_PixelType;
  }

  ChannelDescriptor Image::GetChannelDescriptor(int n) const
  {
    return ChannelDescriptor(GetPixelType(n), GetChannelSizeInBytes());
  }

  std::size_t Image::GetVolumeSizeInBytes() const
  {
    if (!m_PixelType)
      return 0;
    return m_PixelType->GetSize() * m_Dimensions[0] * m_Dimensions[1] * m_Dimensions[2];
  }

  std::size_t Image::GetChannelSizeInBytes() const { return GetVolumeSizeInBytes() * m_Dimensions[3]; }

  bool Image::IsChannelSet(int n) const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return IsValidChannel(n) && m_Channels[n];
  }

  bool Image::IsVolumeSet(int t, int n) const { return IsValidTimeStep(t) && IsChannelSet(n); }

  ImageDataItem::Pointer Image::ChannelItemLocked(std::size_t n, bool allocate) const
  {
    if (n >= m_Channels.size())
      return nullptr;
    if (!m_Channels[n] && allocate)
      m_Channels[n] = ImageDataItem::Allocate(GetChannelSizeInBytes());
    return m_Channels[n];
  }

  void Image::CheckVolumeArguments(const char *function, const void *data, int t, int n) const
  {
    if (!IsInitialized())
      vexaThrow() << "Image::" << function << ": the image is not initialised.";
    if (!IsValidTimeStep(t))
      vexaThrow() << "Image::" << function << ": time step " << t << " does not exist (" << m_Dimensions[3]
                  << " time steps).";
    if (!IsValidChannel(n))
      vexaThrow() << "Image::" << function << ": channel " << n << " does not exist (" << m_Channels.size()
                  << " channels).";
    if (!data)
      vexaThrow() << "Image::" << function << ": the data pointer is null.";
  }

  ImageDataItem::Pointer Image::GetVolumeData(int t,
                                              int n,
                                              void *data,
                                              ImportMemoryManagementType importMemoryManagement)
  {
    if (data)
      SetImportVolume(data, t, n, importMemoryManagement);
    CheckVolumeArguments("GetVolumeData", this, t, n);
    ImageDataItem::Pointer channel;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      channel = ChannelItemLocked(n, true);
    }
    const std::size_t volume = GetVolumeSizeInBytes();
    return ImageDataItem::View(channel, volume * static_cast<std::size_t>(t), volume);
  }

  ImageDataItem::Pointer Image::GetChannelData(int n)
  {
    CheckVolumeArguments("GetChannelData", this, 0, n);
    std::lock_guard<std::mutex> lock(m_Mutex);
    return ChannelItemLocked(n, true);
  }

  bool Image::SetVolume(const void *data, int t, int n)
  {
    return SetImportVolume(const_cast<void *>(data), t, n, CopyMemory);
  }

  bool Image::SetVolume(const void *data, std::size_t sizeInBytes, const PixelType &sourceType, int t, int n)
  {
    CheckVolumeArguments("SetVolume", data, t, n);
    if (sourceType != *m_PixelType)
      vexaThrow() << "Image::SetVolume: the data has pixel type " << sourceType << ", the image " << *m_PixelType
                  << ".";
    if (sizeInBytes != GetVolumeSizeInBytes())
      vexaThrow() << "Image::SetVolume: the data has " << sizeInBytes << " bytes, a volume of the image "
                  << GetVolumeSizeInBytes() << ".";
    return SetVolume(data, t, n);
  }

  bool Image::SetImportVolume(
    void *data, int t, int n, ImportMemoryManagementType importMemoryManagement, BufferDeleter deleter)
  {
    CheckVolumeArguments("SetImportVolume", data, t, n);
    const std::size_t volume = GetVolumeSizeInBytes();

    if (importMemoryManagement != CopyMemory && m_Dimensions[3] == 1)
    {
      if (importMemoryManagement == ManageMemory && !deleter)
        deleter = [](void *p) { delete[] static_cast<char *>(p); };
      if (importMemoryManagement != ManageMemory)
        deleter = nullptr;
      ImageDataItem::Pointer item = ImageDataItem::Wrap(data, volume, std::move(deleter));
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Channels[n] = item;
      }
      Modified();
      return true;
    }
    if (importMemoryManagement == ReferenceMemory)
      vexaThrow() << "Image::SetImportVolume: a buffer cannot be referenced as one volume of an image with "
                  << m_Dimensions[3] << " time steps; copy it instead.";

    {
      // writing pixels: the same access rules as a write accessor
      ImageDataItem::Pointer target = GetVolumeData(t, n);
      ImageWriteAccessor access(this, target);
      std::memmove(access.GetData(), data, volume);
    }
    if (importMemoryManagement == ManageMemory)
    {
      if (deleter)
        deleter(data);
      else
        delete[] static_cast<char *>(data);
    }
    Modified();
    return true;
  }

  bool Image::TakeVolumeBuffer(
    void *data, int t, int n, ImportMemoryManagementType importMemoryManagement, BufferDeleter deleter)
  {
    return SetImportVolume(data, t, n, importMemoryManagement, std::move(deleter));
  }

  void Image::Graft(const itk::DataObject *data)
  {
    const auto *other = dynamic_cast<const Image *>(data);
    if (!other || other == this)
      return;
    std::vector<ImageDataItem::Pointer> channels;
    {
      std::lock_guard<std::mutex> lock(other->m_Mutex);
      channels = other->m_Channels;
    }
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_PixelType = other->m_PixelType;
      m_Dimension = other->m_Dimension;
      m_Dimensions = other->m_Dimensions;
      m_Channels = channels;
    }
    SetClonedTimeGeometry(other->GetTimeGeometry());
    Modified();
  }

  bool Image::AcquireAccess(bool write, int options) const
  {
    if (options & ImageAccessorBase::IgnoreLock)
      return false;
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_Mutex);
    const auto conflicts = [&]() {
      for (const auto &entry : m_Holds)
      {
        if (entry.first == self)
          continue;
        if (entry.second.writers > 0 || (write && entry.second.readers > 0))
          return true;
      }
      return false;
    };
    if (conflicts())
    {
      if (options & ImageAccessorBase::ExceptionIfLocked)
        vexaThrow() << "The image is locked by " << (write ? "an accessor" : "a write accessor")
                    << " of another thread.";
      m_AccessReleased.wait(lock, [&]() { return !conflicts(); });
    }
    Holds &holds = m_Holds[self];
    if (write)
      ++holds.writers;
    else
      ++holds.readers;
    return true;
  }

  void Image::ReleaseAccess(std::thread::id owner, bool write) const
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      auto found = m_Holds.find(owner);
      if (found == m_Holds.end())
        return;
      if (write)
        --found->second.writers;
      else
        --found->second.readers;
      if (found->second.writers <= 0 && found->second.readers <= 0)
        m_Holds.erase(found);
    }
    m_AccessReleased.notify_all();
  }

  void Image::PrintSelf(std::ostream &os, itk::Indent indent) const
  {
    Superclass::PrintSelf(os, indent);
    os << indent << "Dimension: " << m_Dimension << " (" << m_Dimensions[0] << ", " << m_Dimensions[1] << ", "
       << m_Dimensions[2] << ", " << m_Dimensions[3] << ")" << std::endl;
    if (m_PixelType)
      os << indent << "Pixel type: " << *m_PixelType << std::endl;
    os << indent << "Channels: " << m_Channels.size() << std::endl;
  }
}
