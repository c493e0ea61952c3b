#include "vexaMcxyzVolumeFile.h"

#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageFileWriter.h>
#include <itkImportImageFilter.h>
#include <itkMetaDataObject.h>
#include <itkNrrdImageIO.h>
#include <itkVectorImage.h>

#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaSafeFileReplace.h>

#include <cctype>
#include <stdexcept>

namespace vexa
{
  namespace mcxyz
  {
    namespace
    {
      // Refuse headers that announce more than this before anything is allocated.
      constexpr std::uint64_t MaximumVoxels = 1ull << 28;
      constexpr unsigned int MaximumComponents = 16;
    }

    VolumeFile ReadOpticalVolume(const std::string &path)
    {
      using InputImage = itk::VectorImage<float, 4>;
      itk::NrrdImageIO::Pointer io = itk::NrrdImageIO::New();
      if (!io->CanReadFile(path.c_str()))
        throw std::runtime_error("Cannot read \"" + path + "\": no such file or not an NRRD file");

      VolumeFile file;
      try
      {
        // the header's claims against what the file holds (a damaged or short data part, a NaN
        // spacing), before ITK reads the header or allocates for it
        IOUtil::CheckNrrdFile(path);
        io->SetFileName(path);
        io->ReadImageInformation();
        const unsigned int dims = io->GetNumberOfDimensions();
        const unsigned int components = io->GetNumberOfComponents();
        if (dims < 3 || dims > 4)
          throw std::runtime_error("it has " + std::to_string(dims) + " dimensions, not 3 or 4");
        std::uint64_t count = components;
        for (unsigned int d = 0; d < dims; ++d)
        {
          const std::uint64_t n = io->GetDimensions(d);
          if (n == 0 || n > MaximumVoxels || count > MaximumVoxels * MaximumComponents / n)
            throw std::runtime_error("its size is zero or too large for a volume");
          count *= n;
        }
        if (components > MaximumComponents || count > MaximumVoxels * MaximumComponents)
          throw std::runtime_error("its size is too large for a volume");
        const unsigned int properties = dims == 3 ? components : static_cast<unsigned int>(io->GetDimensions(3));
        if (dims == 3 ? components < 3 : (components != 1 || properties < 3))
          throw std::runtime_error(
            "it holds no optical properties (expected 3 components per voxel or 3 volumes along the 4th axis)");

        itk::ImageFileReader<InputImage>::Pointer reader = itk::ImageFileReader<InputImage>::New();
        reader->SetImageIO(io);
        reader->SetFileName(path);
        reader->Update();
        InputImage::Pointer image = reader->GetOutput();

        const InputImage::SizeType size = image->GetLargestPossibleRegion().GetSize();
        OpticalVolume &vol = file.volume;
        for (int i = 0; i < 3; ++i)
        {
          vol.dimensions[i] = size[i];
          file.geometry.spacingMm[i] = image->GetSpacing()[i];
          file.geometry.originMm[i] = image->GetOrigin()[i];
          for (int j = 0; j < 3; ++j)
            file.geometry.direction[i][j] = image->GetDirection()[i][j];
          if (!(image->GetSpacing()[i] > 0))
            throw std::runtime_error("its spacing along axis " + std::to_string(i) + " is not positive");
          vol.voxelSizeCm[i] = image->GetSpacing()[i] / 10.0;
        }
        const std::size_t voxels = vol.NumberOfVoxels();
        vol.absorption.resize(voxels);
        vol.scattering.resize(voxels);
        vol.anisotropy.resize(voxels);
        const float *buffer = image->GetBufferPointer();
        const unsigned int stride = image->GetNumberOfComponentsPerPixel();
        for (std::size_t v = 0; v < voxels; ++v)
        {
          if (dims == 3)
          {
            vol.absorption[v] = buffer[v * stride + 0];
            vol.scattering[v] = buffer[v * stride + 1];
            vol.anisotropy[v] = buffer[v * stride + 2];
          }
          else
          {
            vol.absorption[v] = buffer[v];
            vol.scattering[v] = buffer[voxels + v];
            vol.anisotropy[v] = buffer[2 * voxels + v];
          }
        }
        vol.Validate();
      }
      catch (const vexa::Exception &e)
      {
        throw std::runtime_error(e.GetDescription()); // names the file already
      }
      catch (const itk::ExceptionObject &e)
      {
        throw std::runtime_error("Cannot read \"" + path + "\": " + e.GetDescription());
      }
      catch (const std::invalid_argument &e)
      {
        throw std::runtime_error("The volume in \"" + path + "\" is not valid: " + e.what());
      }
      catch (const std::runtime_error &e)
      {
        throw std::runtime_error("Cannot use \"" + path + "\": " + e.what());
      }
      return file;
    }

    void CheckFluencePath(const std::string &path)
    {
      const std::string::size_type slash = path.find_last_of('/');
      const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
      std::string extension = name.size() > 5 ? name.substr(name.size() - 5) : std::string();
      for (char &c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (extension != ".nrrd")
        throw std::runtime_error("Cannot write \"" + path +
                                 "\": the fluence is written as NRRD with its data attached; name the file *.nrrd");
    }

    void WriteFluence(const std::string &path,
                      const std::vector<double> &values,
                      const std::array<std::size_t, 3> &dimensions,
                      const VolumeGeometry &geometry,
                      const std::map<std::string, std::string> &keyValues)
    {
      using OutputImage = itk::Image<float, 3>;
      if (values.size() != dimensions[0] * dimensions[1] * dimensions[2])
        throw std::invalid_argument("WriteFluence: the values do not match the dimensions");
      CheckFluencePath(path);
      OutputImage::Pointer image = OutputImage::New();
      OutputImage::RegionType region;
      OutputImage::SpacingType spacing;
      OutputImage::PointType origin;
      OutputImage::DirectionType direction;
      for (int i = 0; i < 3; ++i)
      {
        region.SetSize(i, dimensions[i]);
        spacing[i] = geometry.spacingMm[i];
        origin[i] = geometry.originMm[i];
        for (int j = 0; j < 3; ++j)
          direction[i][j] = geometry.direction[i][j];
      }
      image->SetRegions(region);
      image->SetSpacing(spacing);
      image->SetOrigin(origin);
      image->SetDirection(direction);
      image->Allocate();
      float *out = image->GetBufferPointer();
      for (std::size_t v = 0; v < values.size(); ++v)
        out[v] = static_cast<float>(values[v]);
      for (const auto &kv : keyValues)
        itk::EncapsulateMetaData<std::string>(image->GetMetaDataDictionary(), kv.first, kv.second);

      itk::ImageFileWriter<OutputImage>::Pointer writer = itk::ImageFileWriter<OutputImage>::New();
      writer->SetImageIO(itk::NrrdImageIO::New());
      writer->SetInput(image);
      writer->UseCompressionOn();
      try
      {
        // a missing or read-only folder is refused before ITK's writer sees it (it leaks on that path)
        ReplaceFileSafely(path, [&](const std::string &writePath) {
          writer->SetFileName(writePath);
          writer->Update();
          // ITK's gzip writer does not notice a failed write (a full disk): read the file back
          try
          {
            IOUtil::CheckNrrdFile(writePath);
          }
          catch (const vexa::Exception &e)
          {
            vexaThrow() << "Cannot write \"" << path << "\": the file read back is not what was written ("
                        << e.GetDescription() << ").";
          }
        });
      }
      catch (const vexa::Exception &e)
      {
        throw std::runtime_error(e.GetDescription());
      }
      catch (const itk::ExceptionObject &e)
      {
        throw std::runtime_error("Cannot write \"" + path + "\": " + e.GetDescription());
      }
    }
  }
}
