#include "vexaPhotoacousticImageBridge.h"

#include <vexaBaseGeometry.h>
#include <vexaException.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelType.h>
#include <vexaPixelTypeTraits.h>

#include <itkImageIOBase.h>

#include <cstdint>

namespace
{
  template <class T>
  void Convert(const void *src, std::size_t n, float *dst)
  {
    const T *s = static_cast<const T *>(src);
    for (std::size_t i = 0; i < n; ++i)
      dst[i] = static_cast<float>(s[i]);
  }

  const vexa::BaseGeometry *GeometryOf(const vexa::Image *image)
  {
    const vexa::BaseGeometry *g = image->GetGeometry(0);
    if (!g)
      vexaThrow() << "The image has no geometry.";
    return g;
  }

  void CheckScalar(const vexa::Image *image, const std::string &operation)
  {
    if (!image)
      vexaThrow() << operation << " needs an image; got none.";
    if (!image->IsInitialized() || image->GetDimension() == 0)
      vexaThrow() << operation << " needs an initialised image.";
    if (image->GetDimension(3) > 1)
      vexaThrow() << operation << " works on images of one time step; this one has " << image->GetDimension(3) << ".";
    const vexa::PixelType type = image->GetPixelType();
    if (type.GetNumberOfComponents() != 1)
      vexaThrow() << operation << " needs a scalar image; this one has " << type.GetNumberOfComponents()
                  << " components per pixel (" << type.GetPixelTypeAsString() << ").";
  }
}

vexa::SampleVolume vexa::PhotoacousticImageBridge::ToVolume(const Image *image, const std::string &operation)
{
  CheckScalar(image, operation);
  const PixelType type = image->GetPixelType();
  SampleVolume v(image->GetDimension(0), image->GetDimension(1), image->GetDimension(2));
  const std::size_t n = v.data.size();
  ImageReadAccessor access(image);
  const void *src = access.GetData();
  if (!src)
    vexaThrow() << operation << " needs an image with pixels; this one holds none.";
  using IO = itk::ImageIOBase;
  switch (type.GetComponentType())
  {
    case IO::UCHAR:
      Convert<unsigned char>(src, n, v.data.data());
      break;
    case IO::CHAR:
      Convert<signed char>(src, n, v.data.data());
      break;
    case IO::USHORT:
      Convert<unsigned short>(src, n, v.data.data());
      break;
    case IO::SHORT:
      Convert<short>(src, n, v.data.data());
      break;
    case IO::UINT:
      Convert<unsigned int>(src, n, v.data.data());
      break;
    case IO::INT:
      Convert<int>(src, n, v.data.data());
      break;
    case IO::ULONG:
      Convert<unsigned long>(src, n, v.data.data());
      break;
    case IO::LONG:
      Convert<long>(src, n, v.data.data());
      break;
    case IO::ULONGLONG:
      Convert<unsigned long long>(src, n, v.data.data());
      break;
    case IO::LONGLONG:
      Convert<long long>(src, n, v.data.data());
      break;
    case IO::FLOAT:
      Convert<float>(src, n, v.data.data());
      break;
    case IO::DOUBLE:
      Convert<double>(src, n, v.data.data());
      break;
    default:
      vexaThrow() << operation << " cannot read pixels of type " << type.GetPixelTypeAsString() << ".";
  }
  return v;
}

vexa::PhotoacousticImageBridge::FloatPixels::FloatPixels(const Image *image, const std::string &operation)
{
  CheckScalar(image, operation);
  nx = image->GetDimension(0);
  ny = image->GetDimension(1);
  nz = image->GetDimension(2);
  if (image->GetPixelType().GetComponentType() == itk::ImageIOBase::FLOAT)
  {
    m_Access.reset(new ImageReadAccessor(image));
    m_Data = static_cast<const float *>(m_Access->GetData());
    if (!m_Data)
      vexaThrow() << operation << " needs an image with pixels; this one holds none.";
  }
  else
  {
    m_Copy = ToVolume(image, operation);
    m_Data = m_Copy.data.data();
  }
}

vexa::PhotoacousticImageBridge::FloatPixels::~FloatPixels() = default;

vexa::Vector3D vexa::PhotoacousticImageBridge::SpacingOf(const Image *image) { return GeometryOf(image)->GetSpacing(); }

vexa::Point3D vexa::PhotoacousticImageBridge::OriginOf(const Image *image) { return GeometryOf(image)->GetOrigin(); }

vexa::Image::Pointer vexa::PhotoacousticImageBridge::NewImage(unsigned int nx,
                                                              unsigned int ny,
                                                              unsigned int nz,
                                                              const Image *reference,
                                                              const Vector3D &spacing,
                                                              const Point3D &origin)
{
  unsigned int dimension = std::max(2u, reference ? reference->GetDimension() : 2u);
  if (nz > 1)
    dimension = std::max(dimension, 3u);
  dimension = std::min(dimension, 3u);
  const unsigned int dims[3] = {nx, ny, nz};

  Image::Pointer out = Image::New();
  out->Initialize(CreateScalarPixelType<float>(), dimension, dims);
  BaseGeometry *g = out->GetGeometry(0);
  if (reference)
    g->SetIndexToWorldTransform(GeometryOf(reference)->GetIndexToWorldTransform()); // the direction
  g->SetSpacing(spacing);
  g->SetOrigin(origin);
  return out;
}

vexa::Image::Pointer vexa::PhotoacousticImageBridge::ToImage(const SampleVolume &volume,
                                                             const Image *reference,
                                                             const Vector3D &spacing,
                                                             const Point3D &origin)
{
  Image::Pointer out = NewImage(volume.nx, volume.ny, volume.nz, reference, spacing, origin);
  {
    ImageWriteAccessor access(out);
    float *dst = static_cast<float *>(access.GetData());
    std::copy(volume.data.begin(), volume.data.end(), dst);
  }
  return out;
}

vexa::Image::Pointer vexa::PhotoacousticImageBridge::ToImage(const SampleVolume &volume, const Image *reference)
{
  return ToImage(volume, reference, SpacingOf(reference), OriginOf(reference));
}
