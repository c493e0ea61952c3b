#ifndef vexaPixelTypeTraits_h
#define vexaPixelTypeTraits_h

// The makers of pixel-type descriptions: a pixel type given as a C++ type (a
// scalar, or an ITK RGB/RGBA/vector pixel of one) becomes a vexa::PixelType
// value, so that code can test an image's pixels by comparing descriptions.
//
//   vexa::CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>>(3)
//   vexa::CreatePixelType<float, float, 1>()
//   vexa::CreateScalarPixelType<float>()
//   vexa::CreatePixelType<itk::Image<itk::RGBPixel<float>, 2>>(3)

#include <vexaPixelType.h>

#include <itkImageIOBase.h>
#include <itkRGBAPixel.h>
#include <itkRGBPixel.h>
#include <itkVariableLengthVector.h>
#include <itkVector.h>

#include <cstddef>
#include <string>
#include <type_traits>

namespace vexa
{
  namespace PixelTypeInternal
  {
    template <typename T>
    struct ComponentCode
    {
      static_assert(sizeof(T) == 0, "not a pixel component type of the toolkit");
    };
#define VEXA_COMPONENT_CODE(T, code)                                                                                   \
  template <>                                                                                                          \
  struct ComponentCode<T>                                                                                              \
  {                                                                                                                    \
    static constexpr itk::ImageIOBase::IOComponentType value = itk::ImageIOBase::code;                                 \
  }
    VEXA_COMPONENT_CODE(unsigned char, UCHAR);
    VEXA_COMPONENT_CODE(char, CHAR);
    VEXA_COMPONENT_CODE(signed char, CHAR);
    VEXA_COMPONENT_CODE(unsigned short, USHORT);
    VEXA_COMPONENT_CODE(short, SHORT);
    VEXA_COMPONENT_CODE(unsigned int, UINT);
    VEXA_COMPONENT_CODE(int, INT);
    VEXA_COMPONENT_CODE(unsigned long, ULONG);
    VEXA_COMPONENT_CODE(long, LONG);
    VEXA_COMPONENT_CODE(unsigned long long, ULONGLONG);
    VEXA_COMPONENT_CODE(long long, LONGLONG);
    VEXA_COMPONENT_CODE(float, FLOAT);
    VEXA_COMPONENT_CODE(double, DOUBLE);
#undef VEXA_COMPONENT_CODE

    /** The pixel kind of TPixel made of TComponent; only these combinations are descriptions. */
    template <typename TComponent, typename TPixel>
    struct PixelKind
    {
      static_assert(sizeof(TPixel) == 0, "pixel type and component type do not fit together");
    };
    template <typename T>
    struct PixelKind<T, T>
    {
      static constexpr itk::ImageIOBase::IOPixelType value = itk::ImageIOBase::SCALAR;
    };
    template <typename T>
    struct PixelKind<T, itk::RGBPixel<T>>
    {
      static constexpr itk::ImageIOBase::IOPixelType value = itk::ImageIOBase::RGB;
    };
    template <typename T>
    struct PixelKind<T, itk::RGBAPixel<T>>
    {
      static constexpr itk::ImageIOBase::IOPixelType value = itk::ImageIOBase::RGBA;
    };
    template <typename T, unsigned int N>
    struct PixelKind<T, itk::Vector<T, N>>
    {
      static constexpr itk::ImageIOBase::IOPixelType value = itk::ImageIOBase::VECTOR;
    };
    template <typename T>
    struct PixelKind<T, itk::VariableLengthVector<T>>
    {
      static constexpr itk::ImageIOBase::IOPixelType value = itk::ImageIOBase::VECTOR;
    };

    /** The component type of an ITK pixel type: the type itself for a scalar. */
    template <typename TPixel, typename = void>
    struct ComponentOf
    {
      using type = TPixel;
    };
    template <typename TPixel>
    struct ComponentOf<TPixel, std::void_t<typename TPixel::ComponentType>>
    {
      using type = typename TPixel::ComponentType;
    };
    template <typename T>
    struct ComponentOf<itk::VariableLengthVector<T>, void>
    {
      using type = T;
    };
  }

  /** ITK's name of the component type T (e.g. "unsigned_char"). */
  template <typename T>
  std::string GetComponentTypeName()
  {
    return itk::ImageIOBase::GetComponentTypeAsString(PixelTypeInternal::ComponentCode<T>::value);
  }

  /** Description of pixels of type TPixel made of numberOfComponents components of type TComponent. */
  template <typename TComponent, typename TPixel>
  PixelType CreatePixelType(std::size_t numberOfComponents)
  {
    const std::string pixelTypeName;
    const std::string componentTypeName = GetComponentTypeName<TComponent>();
    return PixelType(PixelTypeInternal::ComponentCode<TComponent>::value,
                     PixelTypeInternal::PixelKind<TComponent, TPixel>::value, sizeof(TComponent), numberOfComponents,
                     componentTypeName, pixelTypeName);
  }

  /** The same with the number of components fixed at compile time. */
  template <typename TComponent, typename TPixel, std::size_t N>
  PixelType CreatePixelType()
  {
    return CreatePixelType<TComponent, TPixel>(N);
  }

  /** A scalar of one component. */
  template <typename T>
  PixelType CreateScalarPixelType()
  {
    return CreatePixelType<T, T, 1>();
  }

  /** Description of the pixels of an itk::Image type, with the given number of components. */
  template <typename TItkImage>
  PixelType CreatePixelType(std::size_t numberOfComponents)
  {
    using TPixel = typename TItkImage::PixelType;
    using TComponent = typename PixelTypeInternal::ComponentOf<TPixel>::type;
    return CreatePixelType<TComponent, TPixel>(numberOfComponents);
  }
}

#endif
