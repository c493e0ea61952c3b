#ifndef vexaImageToItk_h
#define vexaImageToItk_h

// vexa::ImageToItk presents a 2-D toolkit image as an itk::Image: by default
// the ITK image uses the toolkit image's own pixel buffer, which an accessor
// owned by the ITK image's pixel container keeps alive; on request it copies
// the pixels instead. vexa::ConvertToItkImage is the one-call form.

#include <itkImportVexaImageContainer.h>

#include <vexaCommon.h>
#include <vexaImage.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <itkImage.h>
#include <itkImageSource.h>
#include <itkOutputWindow.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>

namespace vexa
{
  template <class TOutputImage>
  class ImageToItk : public itk::ImageSource<TOutputImage>
  {
  public:
    typedef ImageToItk Self;
    typedef itk::ImageSource<TOutputImage> Superclass;
    typedef itk::SmartPointer<Self> Pointer;
    typedef itk::SmartPointer<const Self> ConstPointer;

    // created directly; the name stays ITK's ("ImageSource")
    itkFactorylessNewMacro(Self);

    typedef TOutputImage OutputImageType;
    typedef typename TOutputImage::PixelType PixelType;
    typedef typename PixelTypeInternal::ComponentOf<PixelType>::type ComponentType;
    typedef itk::ImportVexaImageContainer<itk::SizeValueType, PixelType> ImportContainerType;

    static_assert(TOutputImage::ImageDimension == 2, "ImageToItk presents 2-D images");

    /**
     * The image to present, read-only. Refused with itk::ExceptionObject when
     * it is null, not 2-D or of another pixel type; the input then stays as
     * it was. A new image replaces the previous one.
     */
    virtual void SetInput(const vexa::Image *image)
    {
      if (!image)
        vexaItkExceptionMacro(<< "image is null");
      if (image->GetDimension() != TOutputImage::ImageDimension)
        vexaItkExceptionMacro(<< "image has dimension " << image->GetDimension() << " instead of "
                              << static_cast<unsigned int>(TOutputImage::ImageDimension));
      const vexa::PixelType imageType = image->GetPixelType(0);
      if (!(imageType == CreatePixelType<ComponentType, PixelType>(imageType.GetNumberOfComponents())))
        vexaItkExceptionMacro(<< "image has wrong pixel type ");
      this->SetNthInput(0, const_cast<vexa::Image *>(image));
      m_ConstInput = true;
    }

    /** The image to present, modifiable: it is accessed for writing. */
    virtual void SetInput(vexa::Image *image)
    {
      this->SetInput(static_cast<const vexa::Image *>(image));
      m_ConstInput = false;
    }

    const vexa::Image *GetInput() const
    {
      return this->GetNumberOfIndexedInputs() > 0 ? dynamic_cast<const vexa::Image *>(this->GetPrimaryInput())
                                                  : nullptr;
    }

    virtual int GetReservedIndex() const { return m_ReservedIndex; }
    virtual void SetReservedIndex(int value)
    {
      if (m_ReservedIndex == value)
        return;
      m_ReservedIndex = value;
      this->Modified();
    }

    virtual void SetCopyMemory(bool copy)
    {
      if (m_CopyMemory == copy)
        return;
      m_CopyMemory = copy;
      this->Modified();
    }
    virtual bool GetCopyMemory() const { return m_CopyMemory; }
    virtual void CopyMemoryOn() { SetCopyMemory(true); }
    virtual void CopyMemoryOff() { SetCopyMemory(false); }

    /** Option flags for the accessor of the toolkit image (vexa::ImageAccessorBase::Options). */
    virtual void SetAccessOptions(int options)
    {
      if (m_AccessOptions == options)
        return;
      m_AccessOptions = options;
      this->Modified();
    }
    virtual int GetAccessOptions() const { return m_AccessOptions; }

    /**
     * Inside an update of the input's own source the input is not asked to
     * update again: only this filter's output information is renewed.
     */
    void UpdateOutputInformation() override
    {
      const vexa::Image *input = GetInput();
      if (!input)
        vexaItkExceptionMacro(<< "no input image set");
      itk::SmartPointer<vexa::BaseDataSource> source = input->GetSource();
      if (source && source->Updating())
      {
        const itk::ModifiedTimeType t = static_cast<std::uint32_t>(input->GetUpdateMTime() + 1);
        if (t > this->m_OutputInformationMTime.GetMTime())
        {
          if (auto *output = this->GetOutput())
            output->SetPipelineMTime(t);
          this->GenerateOutputInformation();
          this->m_OutputInformationMTime.Modified();
        }
        return;
      }
      Superclass::UpdateOutputInformation();
    }

  protected:
    ImageToItk() = default;
    ~ImageToItk() override = default;

    void GenerateOutputInformation() override
    {
      const vexa::Image *input = GetInput();
      if (!input)
        vexaItkExceptionMacro(<< "no input image set");
      TOutputImage *output = this->GetOutput();
      const vexa::BaseGeometry *geometry = input->GetGeometry(0);
      if (!geometry)
        vexaItkExceptionMacro(<< "image has no geometry");
      const vexa::Vector3D spacing3 = geometry->GetSpacing();
      const vexa::Point3D origin3 = geometry->GetOrigin();
      const auto &m = geometry->GetIndexToWorldTransform()->GetMatrix();

      typename TOutputImage::SizeType size;
      typename TOutputImage::IndexType start;
      typename TOutputImage::SpacingType spacing;
      typename TOutputImage::PointType origin;
      for (unsigned int i = 0; i < 2; ++i)
      {
        size[i] = input->GetDimension(i);
        start[i] = 0;
        spacing[i] = spacing3[i];
        origin[i] = origin3[i];
      }

      typename TOutputImage::DirectionType direction;
      direction.SetIdentity();
      const bool inPlane =
        m[0][2] == 0.0 && m[1][2] == 0.0 && m[2][0] == 0.0 && m[2][1] == 0.0 && (m[2][2] == 1.0 || m[2][2] == -1.0);
      // a zero or unusable spacing would divide into inf/NaN: keep the identity then
      const bool divisible =
        spacing[0] > 0.0 && spacing[1] > 0.0 && std::isfinite(spacing[0]) && std::isfinite(spacing[1]);
      if (inPlane && divisible)
      {
        for (unsigned int i = 0; i < 2; ++i)
          for (unsigned int j = 0; j < 2; ++j)
            direction[i][j] = m[i][j] / spacing[j];
      }

      typename TOutputImage::RegionType region(start, size);
      output->SetRegions(region);
      output->SetOrigin(origin);
      output->SetSpacing(spacing);
      output->SetDirection(direction);
    }

    void GenerateData() override
    {
      vexa::Image::ConstPointer input = GetInput();
      if (!input)
        vexaItkExceptionMacro(<< "no input image set");
      typename TOutputImage::Pointer output = this->GetOutput();

      // the image may have changed since SetInput checked it
      const vexa::PixelType imageType = input->GetPixelType(0);
      if (input->GetDimension() != 2 ||
          !(imageType == CreatePixelType<ComponentType, PixelType>(imageType.GetNumberOfComponents())))
        vexaItkExceptionMacro(<< "image has changed its dimension or pixel type since it was set as input");

      std::uint64_t elements = std::uint64_t(input->GetDimension(0)) * input->GetDimension(1);
      if (imageType.GetPixelType() == itk::ImageIOBase::VECTOR)
        elements *= imageType.GetNumberOfComponents();
      const std::uint64_t bytes = elements * sizeof(PixelType);

      std::unique_ptr<vexa::ImageAccessorBase> accessor;
      if (m_ConstInput)
        accessor.reset(new vexa::ImageReadAccessor(input, nullptr, m_AccessOptions));
      else
        accessor.reset(
          new vexa::ImageWriteAccessor(const_cast<vexa::Image *>(input.GetPointer()), nullptr, m_AccessOptions));

      if (!accessor->GetConstData())
      {
        if (itk::Object::GetGlobalWarningDisplay())
        {
          std::ostringstream warning;
          warning << "WARNING: In " __FILE__ ", line " << __LINE__ << "\n"
                  << this->GetNameOfClass() << " (" << static_cast<const void *>(this)
                  << "): no image data to import in ITK image\n\n";
          itk::OutputWindowDisplayWarningText(warning.str().c_str());
        }
        typename TOutputImage::RegionType empty;
        typename TOutputImage::IndexType start;
        start.Fill(0);
        typename TOutputImage::SizeType size;
        size.Fill(0);
        empty.SetIndex(start);
        empty.SetSize(size);
        output->SetBufferedRegion(empty);
        return;
      }
      if (accessor->GetSize() < bytes)
        vexaItkExceptionMacro(<< "image memory of " << accessor->GetSize() << " bytes holds less than the " << bytes
                              << " bytes of the image");

      // the pipeline cleared the buffered region when it prepared the output
      output->SetBufferedRegion(output->GetLargestPossibleRegion());
      if (m_CopyMemory)
      {
        // a fresh container: never the buffer an earlier run lent to the output
        output->SetPixelContainer(TOutputImage::PixelContainer::New());
        output->Allocate(false);
        const std::uint64_t outputBytes = std::uint64_t(output->GetPixelContainer()->Size()) * sizeof(PixelType);
        if (outputBytes < bytes)
          vexaItkExceptionMacro(<< "the output buffer of " << outputBytes << " bytes cannot take " << bytes
                                << " bytes");
        std::memcpy(output->GetBufferPointer(), accessor->GetConstData(), bytes);
      }
      else
      {
        typename ImportContainerType::Pointer container = ImportContainerType::New();
        container->Initialize();
        container->TakeImageAccessor(accessor.release(), elements);
        output->SetPixelContainer(container);
      }
    }

    void PrintSelf(std::ostream &os, itk::Indent indent) const override { itk::ProcessObject::PrintSelf(os, indent); }

  private:
    ImageToItk(const Self &) = delete;
    void operator=(const Self &) = delete;

    bool m_CopyMemory = false;
    int m_ReservedIndex = 0;
    int m_AccessOptions = 0;
    bool m_ConstInput = true;
  };

  /**
   * A 2-D ITK image over the toolkit image's own pixels (write access, held
   * for the life of the ITK image's pixel container). The ITK image stays
   * valid, and keeps the toolkit image alive, after the filter is gone.
   */
  template <typename TPixel, unsigned int VDimension>
  typename itk::Image<TPixel, VDimension>::Pointer ConvertToItkImage(vexa::Image *image)
  {
    typedef itk::Image<TPixel, VDimension> ItkImageType;
    typename ImageToItk<ItkImageType>::Pointer filter = ImageToItk<ItkImageType>::New();
    filter->SetInput(image);
    filter->Update();
    typename ItkImageType::Pointer output = filter->GetOutput();
    output->DisconnectPipeline();
    return output;
  }
}

#endif
