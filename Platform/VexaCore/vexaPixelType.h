#ifndef vexaPixelType_h
#define vexaPixelType_h

#include "VexaCoreExports.h"

#include <itkImageIOBase.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace vexa
{
  class PixelType;

  // The makers of pixel-type descriptions: the core templates' vexaPixelTypeTraits.h.
  template <typename TComponent, typename TPixel>
  PixelType CreatePixelType(std::size_t numberOfComponents);

  /**
   * The description of the pixels an image file holds, from what its ITK
   * reader read of the header (component type, pixel kind, components): the
   * same description as CreatePixelType makes of the matching C++ type. A
   * combination that no pixel type of the toolkit has throws vexa::Exception
   * whose text names `path`.
   */
  VEXACORE_EXPORT PixelType PixelTypeOfImageFile(const itk::ImageIOBase &io, const std::string &path);

  /**
   * Description of the pixels of an image: the component type (ITK's
   * component code), the pixel kind (scalar, RGB, ...), the component size and
   * the number of components. Made only by the CreatePixelType templates
   * (include vexaPixelTypeTraits.h) and, for a file's pixels, by
   * PixelTypeOfImageFile, so that every description in the process is one of
   * a real C++ type.
   */
  class VEXACORE_EXPORT PixelType
  {
  public:
    using ItkIOComponentType = itk::ImageIOBase::IOComponentType;
    using ItkIOPixelType = itk::ImageIOBase::IOPixelType;

    PixelType(const PixelType &other) = default;
    PixelType &operator=(const PixelType &other) = default;
    ~PixelType();

    /** The component type as ITK's component code (1 unsigned char, ..., 11 float, 12 double). */
    int GetComponentType() const { return m_ComponentType; }
    /** The pixel kind as ITK's pixel type (1 scalar, 2 RGB, 3 RGBA, 5 vector). */
    ItkIOPixelType GetPixelType() const { return m_PixelType; }
    std::size_t GetNumberOfComponents() const { return m_NumberOfComponents; }
    std::size_t GetBytesPerComponent() const { return m_BytesPerComponent; }
    std::size_t GetBitsPerComponent() const { return 8 * m_BytesPerComponent; }
    /** Bytes of one whole pixel (all components). */
    std::size_t GetSize() const { return m_BytesPerComponent * m_NumberOfComponents; }
    /** Bits of one whole pixel. */
    std::size_t GetBpe() const { return 8 * GetSize(); }

    std::string GetComponentTypeAsString() const { return m_ComponentTypeName; }
    /** The name of the pixel type given by its maker (empty for every maker of this toolkit). */
    std::string GetTypeAsString() const { return m_PixelTypeName; }
    /** A readable text of the whole description, e.g. "rgb (unsigned_char), 3 components". */
    std::string GetPixelTypeAsString() const;

    bool operator==(const PixelType &other) const;
    bool operator!=(const PixelType &other) const { return !(*this == other); }

  private:
    template <typename TComponent, typename TPixel>
    friend PixelType CreatePixelType(std::size_t numberOfComponents);
    friend PixelType PixelTypeOfImageFile(const itk::ImageIOBase &io, const std::string &path);

    PixelType(int componentType,
              ItkIOPixelType pixelType,
              std::size_t bytesPerComponent,
              std::size_t numberOfComponents,
              const std::string &componentTypeName,
              const std::string &pixelTypeName);

    int m_ComponentType;
    ItkIOPixelType m_PixelType;
    std::size_t m_BytesPerComponent;
    std::size_t m_NumberOfComponents;
    std::string m_ComponentTypeName;
    std::string m_PixelTypeName;
  };

  VEXACORE_EXPORT std::ostream &operator<<(std::ostream &os, const PixelType &type);

  /**
   * Calls `f(T())` with the C++ type T of an ITK component code (UCHAR gives
   * std::uint8_t, ..., LONGLONG long long, DOUBLE double), so that code which
   * works on any pixel buffer names every component type the toolkit knows in
   * one place. False, without calling f, for a code that has no such type.
   */
  template <class F>
  bool ForComponentType(int componentType, F &&f)
  {
    using IO = itk::ImageIOBase;
    switch (componentType)
    {
      case IO::UCHAR:
        f(std::uint8_t());
        return true;
      case IO::CHAR:
        f(std::int8_t());
        return true;
      case IO::USHORT:
        f(std::uint16_t());
        return true;
      case IO::SHORT:
        f(std::int16_t());
        return true;
      case IO::UINT:
        f(std::uint32_t());
        return true;
      case IO::INT:
        f(std::int32_t());
        return true;
      case IO::ULONG:
        f((unsigned long)0);
        return true;
      case IO::LONG:
        f(long());
        return true;
      case IO::ULONGLONG:
        f((unsigned long long)0);
        return true;
      case IO::LONGLONG:
        f((long long)0);
        return true;
      case IO::FLOAT:
        f(float());
        return true;
      case IO::DOUBLE:
        f(double());
        return true;
      default:
        return false;
    }
  }
}

#endif
