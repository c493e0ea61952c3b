#ifndef vexaBaseDataSource_h
#define vexaBaseDataSource_h

#include "VexaCoreExports.h"

#include <vexaCommon.h>

#include <itkProcessObject.h>

namespace vexa
{
  class BaseData;

  /** Base of the pipeline sources and filters whose outputs are toolkit data. */
  class VEXACORE_EXPORT BaseDataSource : public itk::ProcessObject
  {
  public:
    vexaClassMacroItkParent(BaseDataSource, itk::ProcessObject);

    using OutputType = BaseData;
    using DataObjectPointerArraySizeType = itk::ProcessObject::DataObjectPointerArraySizeType;

    /** Output idx, or null when there is no such output (never reads past the list). */
    OutputType *GetOutput(DataObjectPointerArraySizeType idx);
    const OutputType *GetOutput(DataObjectPointerArraySizeType idx) const;
    OutputType *GetOutput() { return GetOutput(0); }
    const OutputType *GetOutput() const { return GetOutput(0); }

    /** Lets a filter that runs a mini-pipeline hand that pipeline's result on as its own output. */
    virtual void GraftOutput(OutputType *output);
    virtual void GraftNthOutput(unsigned int idx, OutputType *output);

    /** True while this source is inside its own Update(). */
    bool Updating() const { return m_Updating; }

  protected:
    BaseDataSource();
    ~BaseDataSource() override;
  };
}

#endif
