#include "vexaPixelType.h"

#include "vexaException.h"

#include <sstream>

namespace vexa
{
  PixelType::PixelType(int componentType,
                       ItkIOPixelType pixelType,
                       std::size_t bytesPerComponent,
                       std::size_t numberOfComponents,
                       const std::string &componentTypeName,
                       const std::string &pixelTypeName)
    : m_ComponentType(componentType), m_PixelType(pixelType), m_BytesPerComponent(bytesPerComponent),
      m_NumberOfComponents(numberOfComponents), m_ComponentTypeName(componentTypeName), m_PixelTypeName(pixelTypeName)
  {
  }

  PixelType::~PixelType() = default;

  std::string PixelType::GetPixelTypeAsString() const
  {
    std::ostringstream s;
    s << itk::ImageIOBase::GetPixelTypeAsString(m_PixelType) << " (" << m_ComponentTypeName << "), "
      << m_NumberOfComponents << (m_NumberOfComponents == 1 ? " component" : " components");
    return s.str();
  }

  bool PixelType::operator==(const PixelType &other) const
  {
    return m_ComponentType == other.m_ComponentType && m_PixelType == other.m_PixelType &&
           m_BytesPerComponent == other.m_BytesPerComponent && m_NumberOfComponents == other.m_NumberOfComponents &&
           m_ComponentTypeName == other.m_ComponentTypeName && m_PixelTypeName == other.m_PixelTypeName;
  }

  PixelType PixelTypeOfImageFile(const itk::ImageIOBase &io, const std::string &path)
  {
    using IO = itk::ImageIOBase;
    const IO::IOComponentType component = io.GetComponentType();
    switch (component)
    {
      case IO::UCHAR:
      case IO::CHAR:
      case IO::USHORT:
      case IO::SHORT:
      case IO::UINT:
      case IO::INT:
      case IO::ULONG:
      case IO::LONG:
      case IO::ULONGLONG:
      case IO::LONGLONG:
      case IO::FLOAT:
      case IO::DOUBLE:
        break;
      default:
        vexaThrow() << "Cannot load \"" << path << "\": the component type \""
                    << IO::GetComponentTypeAsString(component) << "\" is not supported.";
    }
    const IO::IOPixelType kind = io.GetPixelType();
    const std::size_t components = io.GetNumberOfComponents();
    const bool described = (kind == IO::SCALAR && components == 1) || (kind == IO::RGB && components == 3) ||
                           (kind == IO::RGBA && components == 4) || (kind == IO::VECTOR && components >= 1);
    if (!described)
      vexaThrow() << "Cannot load \"" << path << "\": pixels of kind \"" << IO::GetPixelTypeAsString(kind) << "\" with "
                  << components << " components are not supported.";
    return PixelType(component, kind, io.GetComponentSize(), components, IO::GetComponentTypeAsString(component),
                     std::string());
  }

  std::ostream &operator<<(std::ostream &os, const PixelType &type) { return os << type.GetPixelTypeAsString(); }
}
