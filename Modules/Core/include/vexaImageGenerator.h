#ifndef vexaImageGenerator_h
#define vexaImageGenerator_h

#include "vexaException.h"
#include "vexaImage.h"
#include "vexaImageWriteAccessor.h"

#include <vexaLog.h>
#include <vexaPixelTypeTraits.h>

#include <itkMersenneTwisterRandomVariateGenerator.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>

namespace vexa
{
  /** Images for tests and placeholders. */
  class ImageGenerator
  {
  public:
    /**
     * An image of random values of one-component pixels of TPixelType: 2-D,
     * 3-D when dimZ > 1, 4-D when dimT > 1. Floating-point values lie in
     * [randomMin, randomMax); int values in 0..randomMax, unsigned char and
     * unsigned short values are those kept to 8 or 16 bits. Every image
     * differs from every other.
     */
    template <typename TPixelType>
    static Image::Pointer GenerateRandomImage(unsigned int dimX,
                                              unsigned int dimY,
                                              unsigned int dimZ = 1,
                                              unsigned int dimT = 1,
                                              double spacingX = 1,
                                              double spacingY = 1,
                                              double spacingZ = 1,
                                              double randomMax = 1000,
                                              double randomMin = 0)
    {
      const PixelType type = CreatePixelType<TPixelType, TPixelType, 1>();
      const unsigned int dims[4] = {dimX, dimY, dimZ, dimT};
      const unsigned int dimension = dimT > 1 ? 4u : (dimZ > 1 ? 3u : 2u);
      Image::Pointer image = Image::New();
      image->Initialize(type, dimension, dims);
      Vector3D spacing;
      spacing[0] = spacingX;
      spacing[1] = spacingY;
      spacing[2] = spacingZ;
      image->SetSpacing(spacing);

      std::unique_ptr<ImageWriteAccessor> access;
      try
      {
        access.reset(new ImageWriteAccessor(image));
      }
      catch (const vexa::Exception &)
      {
        VEXA_ERROR << "Write access not granted on vexa::Image.";
        return image;
      }
      TPixelType *pixels = static_cast<TPixelType *>(access->GetData());
      const std::size_t count = access->GetSize() / sizeof(TPixelType);

      // each generator gets a seed of its own: seeding from the clock gives
      // equal images when two are made within the same tick
      auto random = itk::Statistics::MersenneTwisterRandomVariateGenerator::New();
      random->Initialize(NextSeed());

      using IntegerType = itk::Statistics::MersenneTwisterRandomVariateGenerator::IntegerType;
      const IntegerType upper = randomMax > 0 ? static_cast<IntegerType>(static_cast<int>(randomMax)) : 0;
      switch (type.GetComponentType())
      {
        case itk::ImageIOBase::FLOAT:
        case itk::ImageIOBase::DOUBLE:
          for (std::size_t i = 0; i < count; ++i)
          {
            const double u = random->GetIntegerVariate() * (1.0 / 4294967296.0);
            pixels[i] = static_cast<TPixelType>((1.0 - u) * randomMin + u * randomMax);
          }
          break;
        case itk::ImageIOBase::INT:
          for (std::size_t i = 0; i < count; ++i)
            pixels[i] = static_cast<TPixelType>(random->GetIntegerVariate(upper));
          break;
        case itk::ImageIOBase::UCHAR:
          for (std::size_t i = 0; i < count; ++i)
            pixels[i] = static_cast<TPixelType>(random->GetIntegerVariate(upper) & 0xFFu);
          break;
        case itk::ImageIOBase::USHORT:
          for (std::size_t i = 0; i < count; ++i)
            pixels[i] = static_cast<TPixelType>(random->GetIntegerVariate(upper) & 0xFFFFu);
          break;
        default:
          // once per image, not once per pixel
          VEXA_ERROR << "Datatype not supported yet.";
          break;
      }
      return image;
    }

  private:
    static itk::Statistics::MersenneTwisterRandomVariateGenerator::IntegerType NextSeed()
    {
      static std::atomic<std::uint32_t> counter{0};
      std::uint32_t entropy = 0;
      try
      {
        std::random_device device;
        entropy = device();
      }
      catch (const std::exception &)
      {
      }
      const auto clock = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
      return entropy ^ clock ^ (counter.fetch_add(1) * 2654435761u);
    }
  };
}

#endif
