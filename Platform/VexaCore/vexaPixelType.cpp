#include "vexaPixelType.h"

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

  std::ostream &operator<<(std::ostream &os, const PixelType &type) { return os << type.GetPixelTypeAsString(); }
}
