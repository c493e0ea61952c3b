#ifndef vexaMcxyzTestSupport_h
#define vexaMcxyzTestSupport_h

// Input volumes the simulator's tests share.

#include <itkImageFileWriter.h>
#include <itkNrrdImageIO.h>
#include <itkVectorImage.h>

#include <string>

namespace vexa
{
  namespace test
  {
    /**
     * A sound optical volume of n x n x n voxels of 0.5 mm, the same tissue
     * everywhere (mu_a 0.1, mu_s 10, g 0.9), written as NRRD to `path`.
     */
    inline void WriteUniformOpticalVolume(const std::string &path, unsigned int n, bool compressed)
    {
      using Image = itk::VectorImage<float, 3>;
      Image::Pointer volume = Image::New();
      Image::RegionType region;
      for (unsigned int i = 0; i < 3; ++i)
        region.SetSize(i, n);
      volume->SetRegions(region);
      volume->SetNumberOfComponentsPerPixel(3);
      const double spacing[3] = {0.5, 0.5, 0.5};
      volume->SetSpacing(spacing);
      volume->Allocate();
      itk::VariableLengthVector<float> v(3);
      v[0] = 0.1f;
      v[1] = 10.0f;
      v[2] = 0.9f;
      volume->FillBuffer(v);
      itk::ImageFileWriter<Image>::Pointer w = itk::ImageFileWriter<Image>::New();
      w->SetImageIO(itk::NrrdImageIO::New());
      w->SetFileName(path);
      w->SetInput(volume);
      w->SetUseCompression(compressed);
      w->Update();
    }
  }
}

#endif
