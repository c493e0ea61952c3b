#ifndef itkImportVexaImageContainer_h
#define itkImportVexaImageContainer_h

// The pixel container of an ITK image that shows a toolkit image's pixels: an
// import container over memory it does not allocate, which owns the toolkit
// image accessor that keeps that memory alive and accessible for exactly as
// long as the container lives. Toolkit code in ITK's namespace, beside ITK's
// own containers.

#include <vexaImageAccessorBase.h>

#include <itkImportImageContainer.h>
#include <itkObjectFactory.h>

#include <memory>

namespace itk
{
  template <typename TElementIdentifier, typename TElement>
  class ImportVexaImageContainer : public ImportImageContainer<TElementIdentifier, TElement>
  {
  public:
    typedef ImportVexaImageContainer Self;
    typedef ImportImageContainer<TElementIdentifier, TElement> Superclass;
    typedef SmartPointer<Self> Pointer;
    typedef SmartPointer<const Self> ConstPointer;
    typedef TElementIdentifier ElementIdentifier;
    typedef TElement Element;

    itkFactorylessNewMacro(Self);
    itkTypeMacro(ImportVexaImageContainer, ImportImageContainer);

    /**
     * Takes the accessor over (this container deletes it) and shows its
     * memory as `count` elements, without managing that memory. The accessor
     * must reach at least that many elements; otherwise it is deleted and an
     * itk::ExceptionObject thrown.
     */
    void TakeImageAccessor(vexa::ImageAccessorBase *accessor, ElementIdentifier count)
    {
      std::unique_ptr<vexa::ImageAccessorBase> taken(accessor);
      if (!taken || !taken->GetConstData())
        itkExceptionMacro(<< "no image memory to import");
      if (taken->GetSize() / sizeof(TElement) < count)
        itkExceptionMacro(<< count << " elements of " << sizeof(TElement) << " bytes do not fit into "
                          << taken->GetSize() << " bytes of image memory");
      // ITK has no read-only buffers; a read accessor's memory must only be read through the ITK image
      TElement *data = static_cast<TElement *>(const_cast<void *>(taken->GetConstData()));
      this->SetImportPointer(data, count, false);
      m_ImageAccessor = std::move(taken);
    }

  protected:
    ImportVexaImageContainer() = default;
    // the accessor goes before the base class would free memory it manages (never the lent memory)
    ~ImportVexaImageContainer() override = default;

    void PrintSelf(std::ostream &os, Indent indent) const override
    {
      Object::PrintSelf(os, indent);
      os << indent << "ImageAccessor: " << static_cast<const void *>(m_ImageAccessor.get()) << std::endl;
    }

  private:
    ImportVexaImageContainer(const Self &) = delete;
    void operator=(const Self &) = delete;

    std::unique_ptr<vexa::ImageAccessorBase> m_ImageAccessor;
  };
}

#endif
