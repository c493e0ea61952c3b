#include "vexaIOUtil.h"

#include "vexaException.h"
#include "vexaImageReadAccessor.h"
#include "vexaImageWriteAccessor.h"
#include "vexaSafeFileReplace.h"

#include <vexaLog.h>

#include <itkImageIOFactory.h>
#include <itkNrrdImageIO.h>
#include <itkNrrdImageIOFactory.h>
#include <vnl/vnl_det.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>

namespace vexa
{
  namespace
  {
    namespace fs = std::filesystem;

    // Only the IO factories this toolkit asks for are registered: NRRD, once.
    void RegisterImageIOFactories()
    {
      static std::once_flag once;
      std::call_once(once, []() { itk::NrrdImageIOFactory::RegisterOneFactory(); });
    }

    std::string LowerExtension(const std::string &path)
    {
      std::string ext = fs::path(path).extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
      return ext;
    }

    bool IsNrrdExtension(const std::string &ext) { return ext == ".nrrd" || ext == ".nhdr"; }

    /** The index-to-world matrix and origin that the file's header describes, checked. */
    void GeometryOf(const itk::ImageIOBase &io, const std::string &path, AffineMatrix3D &matrix, Point3D &origin)
    {
      const unsigned int n = std::min(io.GetNumberOfDimensions(), 3u);
      Vector3D spacing(1.0);
      AffineMatrix3D direction;
      direction.SetIdentity();
      origin.Fill(0.0);
      for (unsigned int i = 0; i < n; ++i)
      {
        // a negative spacing is an axis that runs the other way: its direction turns round
        const double s = io.GetSpacing(i);
        const double sign = s < 0.0 ? -1.0 : 1.0;
        if (std::isfinite(s) && s != 0.0)
          spacing[i] = std::abs(s);
        else
          VEXA_WARN << "\"" << path << "\": spacing " << s << " of axis " << i << " is not usable; using 1.0.";
        const double o = io.GetOrigin(i);
        if (std::isfinite(o))
          origin[i] = o;
        else
          VEXA_WARN << "\"" << path << "\": origin " << o << " of axis " << i << " is not usable; using 0.";
        const std::vector<double> column = io.GetDirection(i);
        for (unsigned int j = 0; j < n && j < column.size(); ++j)
          direction[j][i] = sign * column[j];
      }
      bool usable = true;
      for (unsigned int r = 0; r < 3; ++r)
        for (unsigned int c = 0; c < 3; ++c)
          usable = usable && std::isfinite(direction[r][c]);
      if (!usable || std::abs(vnl_det(direction.GetVnlMatrix())) < eps)
      {
        VEXA_WARN << "\"" << path << "\": the space directions are not usable; using the identity.";
        direction.SetIdentity();
      }
      for (unsigned int r = 0; r < 3; ++r)
        for (unsigned int c = 0; c < 3; ++c)
          matrix[r][c] = direction[r][c] * spacing[c];
    }

    Image::Pointer ReadNrrd(const std::string &path)
    {
      IOUtil::CheckNrrdFile(path);
      RegisterImageIOFactories();
      itk::ImageIOBase::Pointer io = itk::ImageIOFactory::CreateImageIO(path.c_str(), itk::ImageIOFactory::ReadMode);
      if (!io)
        vexaThrow() << "Cannot load \"" << path << "\": the file is not an NRRD image.";
      io->SetFileName(path);
      io->ReadImageInformation();

      const unsigned int dimension = io->GetNumberOfDimensions();
      if (dimension < 1 || dimension > Image::MaxDimension)
        vexaThrow() << "Cannot load \"" << path << "\": images of " << dimension << " dimensions are not supported.";
      unsigned int dims[Image::MaxDimension] = {1, 1, 1, 1};
      for (unsigned int i = 0; i < dimension; ++i)
      {
        const auto size = io->GetDimensions(i);
        if (size < 1 || size > std::numeric_limits<unsigned int>::max())
          vexaThrow() << "Cannot load \"" << path << "\": axis " << i << " has size " << size << ".";
        dims[i] = static_cast<unsigned int>(size);
      }

      Image::Pointer image = Image::New();
      image->Initialize(PixelTypeOfImageFile(*io, path), dimension, dims, 1);
      if (static_cast<std::size_t>(io->GetImageSizeInBytes()) != image->GetChannelSizeInBytes())
        vexaThrow() << "Cannot load \"" << path << "\": the header describes " << io->GetImageSizeInBytes()
                    << " bytes of pixels, the image would hold " << image->GetChannelSizeInBytes() << ".";

      AffineMatrix3D matrix;
      Point3D origin;
      GeometryOf(*io, path, matrix, origin);
      BaseGeometry::TransformType::Pointer transform = BaseGeometry::TransformType::New();
      transform->SetMatrix(matrix);
      for (unsigned int t = 0; t < image->GetTimeSteps(); ++t)
      {
        BaseGeometry *geometry = image->GetGeometry(t);
        geometry->SetIndexToWorldTransform(transform);
        geometry->SetOrigin(origin);
      }

      itk::ImageIORegion region(dimension);
      for (unsigned int i = 0; i < dimension; ++i)
      {
        region.SetIndex(i, 0);
        region.SetSize(i, dims[i]);
      }
      io->SetIORegion(region);
      ImageWriteAccessor access(image);
      io->Read(access.GetData());
      return image;
    }

    /**
     * Reads back what ITK's writer wrote at `written` (the temporary name of
     * `path`): its NRRD writer reports success when a write of the header or
     * of raw pixels failed (a full disk), and a cut-short file must not
     * replace the user's file. A detached header must refer to its data file
     * by a bare name: the pair is moved into place from a temporary folder,
     * and a header that named the data file by a path would go on naming the
     * temporary one.
     */
    void CheckWritten(const std::string &path, const std::string &written)
    {
      std::ifstream in(written, std::ios::binary);
      std::string line;
      while (std::getline(in, line) && !line.empty())
      {
        static const std::string field = "data file: ";
        if (line.compare(0, field.size(), field) != 0)
          continue;
        const std::string name = line.substr(field.size());
        if (name.empty() || name.find_first_of("/ ") != std::string::npos)
          vexaThrow() << "Cannot save \"" << path << "\": the header refers to its data file as \"" << name
                      << "\", not by a name beside it.";
        if (in.eof())
          vexaThrow() << "Cannot save \"" << path << "\": the header was cut short while it was written.";
      }
      try
      {
        IOUtil::CheckNrrdFile(written);
      }
      catch (const vexa::Exception &e)
      {
        // the reason without the temporary name, which is gone once this fails
        std::string reason = e.GetDescription();
        const std::string prefix = "Cannot load \"" + written + "\": ";
        if (reason.compare(0, prefix.size(), prefix) == 0)
          reason.erase(0, prefix.size());
        vexaThrow() << "Cannot save \"" << path << "\": the write failed, the file read back is incomplete: " << reason;
      }
    }

    /** Writes the pixels at `written`, the temporary name of `path`, and reads the file back. */
    void Write(itk::NrrdImageIO &io,
               const ImageReadAccessor &access,
               const std::string &path,
               const std::string &written)
    {
      io.SetFileName(written);
      try
      {
        io.Write(access.GetData());
      }
      catch (const vexa::Exception &)
      {
        throw;
      }
      catch (const itk::ExceptionObject &e)
      {
        vexaThrow() << "Cannot save \"" << path << "\": the write failed: " << e.GetDescription();
      }
      CheckWritten(path, written);
    }

    void WriteNrrd(const Image &image, const std::string &path, const std::string &ext)
    {
      ImageReadAccessor access(&image);
      if (!access.GetData())
        vexaThrow() << "Cannot save \"" << path << "\": the image holds no pixel data.";
      if (image.GetNumberOfChannels() > 1)
        VEXA_WARN << "Saving \"" << path << "\": only channel 0 of " << image.GetNumberOfChannels()
                  << " channels is written.";

      const PixelType type = image.GetPixelType(0);
      const unsigned int dimension = image.GetDimension();
      const BaseGeometry *geometry = image.GetGeometry(0);
      const Vector3D spacing = geometry->GetSpacing();
      const Point3D origin = geometry->GetOrigin();
      const auto &matrix = geometry->GetIndexToWorldTransform()->GetMatrix();

      itk::NrrdImageIO::Pointer io = itk::NrrdImageIO::New();
      io->SetNumberOfDimensions(dimension);
      itk::ImageIORegion region(dimension);
      for (unsigned int i = 0; i < dimension; ++i)
      {
        io->SetDimensions(i, image.GetDimension(i));
        region.SetIndex(i, 0);
        region.SetSize(i, image.GetDimension(i));
        const bool spatial = i < 3;
        io->SetSpacing(i, spatial ? spacing[i] : 1.0);
        io->SetOrigin(i, spatial ? origin[i] : 0.0);
        std::vector<double> column(dimension, 0.0);
        for (unsigned int j = 0; j < dimension; ++j)
        {
          if (spatial && j < 3)
            column[j] = spacing[i] > 0.0 ? matrix[j][i] / spacing[i] : (i == j ? 1.0 : 0.0);
          else
            column[j] = (i == j) ? 1.0 : 0.0;
        }
        io->SetDirection(i, column);
      }
      io->SetComponentType(static_cast<itk::ImageIOBase::IOComponentType>(type.GetComponentType()));
      io->SetPixelType(type.GetPixelType());
      io->SetNumberOfComponents(static_cast<unsigned int>(type.GetNumberOfComponents()));
      io->SetIORegion(region);
      io->SetUseCompression(false);

      if (ext == ".nhdr")
      {
        // ITK names the data file after the header and the header refers to it
        // by that name alone: written in the group's temporary folder under the
        // header's own name, the pair already refers to the final data file
        ReplaceFileGroupSafely(path, [&](const std::string &writePath) { Write(*io, access, path, writePath); });
        return;
      }
      ReplaceFileSafely(path, [&](const std::string &writePath) { Write(*io, access, path, writePath); });
    }
  }

  std::vector<BaseData::Pointer> IOUtil::Load(const std::string &path)
  {
    if (path.empty())
      vexaThrow() << "Cannot load a file: no file name given.";
    std::error_code ec;
    if (!fs::exists(path, ec))
      vexaThrow() << "Cannot load \"" << path << "\": the file does not exist.";
    if (fs::is_directory(path, ec))
      vexaThrow() << "Cannot load \"" << path << "\": it is a folder, not a file.";
    const std::string ext = LowerExtension(path);
    if (!IsNrrdExtension(ext))
      vexaThrow() << "Cannot load \"" << path << "\": there is no reader for files of type \"" << ext << "\".";
    try
    {
      return {ReadNrrd(path).GetPointer()};
    }
    catch (const itk::ExceptionObject &e)
    {
      // vexa::Exception is one too: name the file in every failure, once
      if (dynamic_cast<const vexa::Exception *>(&e) && std::string(e.GetDescription()).find(path) != std::string::npos)
        throw;
      vexaThrow() << "Cannot load \"" << path << "\": " << e.GetDescription();
    }
    catch (const std::bad_alloc &)
    {
      vexaThrow() << "Cannot load \"" << path << "\": not enough memory for its pixels.";
    }
  }

  Image::Pointer IOUtil::LoadImage(const std::string &path)
  {
    Image::Pointer image = LoadFirstAs<Image>(path);
    if (!image)
      vexaThrow() << "\"" << path << "\" does not hold an image.";
    return image;
  }

  void IOUtil::Save(const BaseData *data, const std::string &path)
  {
    if (!data)
      vexaThrow() << "Cannot save \"" << path << "\": no data given.";
    if (path.empty())
      vexaThrow() << "Cannot save: no file name given.";
    const auto *image = dynamic_cast<const Image *>(data);
    if (!image)
      vexaThrow() << "Cannot save \"" << path << "\": only images can be saved, not a " << data->GetNameOfClass()
                  << ".";
    if (!image->IsInitialized())
      vexaThrow() << "Cannot save \"" << path << "\": the image is not initialised.";
    const std::string ext = LowerExtension(path);
    if (!IsNrrdExtension(ext))
      vexaThrow() << "Cannot save \"" << path << "\": there is no writer for files of type \"" << ext << "\".";
    const fs::path folder = fs::absolute(fs::path(path)).parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
      vexaThrow() << "Cannot save \"" << path << "\": the folder " << folder << " does not exist.";
    if (fs::is_directory(path, ec))
      vexaThrow() << "Cannot save \"" << path << "\": a folder of that name exists.";
    try
    {
      WriteNrrd(*image, path, ext);
    }
    catch (const itk::ExceptionObject &e)
    {
      if (dynamic_cast<const vexa::Exception *>(&e) && std::string(e.GetDescription()).find(path) != std::string::npos)
        throw;
      vexaThrow() << "Cannot save \"" << path << "\": " << e.GetDescription();
    }
  }
}
