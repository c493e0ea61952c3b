#ifndef vexaTestNrrdFiles_h
#define vexaTestNrrdFiles_h

#include <vexaImage.h>
#include <vexaImageReadAccessor.h>

#include <itkNrrdImageIO.h>

#include <string>

namespace vexa
{
  namespace test
  {
    /**
     * Writes a float image with ITK's own NRRD writer, its pixels
     * gzip-compressed, its spacing that of its first geometry: a file as
     * other programs write it, so that the reading side is tested on a file
     * it did not write itself. Throws what ITK throws.
     */
    inline void WriteCompressedNrrdWithItk(const vexa::Image *image, const std::string &path)
    {
      vexa::ImageReadAccessor access(image);
      const unsigned int dimension = image->GetDimension();
      itk::NrrdImageIO::Pointer io = itk::NrrdImageIO::New();
      io->SetNumberOfDimensions(dimension);
      itk::ImageIORegion region(dimension);
      for (unsigned int i = 0; i < dimension; ++i)
      {
        io->SetDimensions(i, image->GetDimension(i));
        io->SetSpacing(i, i < 3 ? image->GetGeometry(0)->GetSpacing()[i] : 1.0);
        region.SetSize(i, image->GetDimension(i));
      }
      io->SetComponentType(itk::ImageIOBase::FLOAT);
      io->SetPixelType(itk::ImageIOBase::SCALAR);
      io->SetIORegion(region);
      io->SetUseCompression(true);
      io->SetFileName(path);
      io->Write(access.GetData());
    }
  }
}

#endif
