#include "vexaBaseDataSource.h"

#include "vexaBaseData.h"
#include "vexaException.h"

namespace vexa
{
  BaseDataSource::BaseDataSource() = default;
  BaseDataSource::~BaseDataSource() = default;

  BaseDataSource::OutputType *BaseDataSource::GetOutput(DataObjectPointerArraySizeType idx)
  {
    if (idx >= GetNumberOfIndexedOutputs())
      return nullptr;
    return dynamic_cast<OutputType *>(itk::ProcessObject::GetOutput(idx));
  }

  const BaseDataSource::OutputType *BaseDataSource::GetOutput(DataObjectPointerArraySizeType idx) const
  {
    if (idx >= GetNumberOfIndexedOutputs())
      return nullptr;
    return dynamic_cast<const OutputType *>(itk::ProcessObject::GetOutput(idx));
  }

  void BaseDataSource::GraftOutput(OutputType *output) { GraftNthOutput(0, output); }

  void BaseDataSource::GraftNthOutput(unsigned int idx, OutputType *output)
  {
    if (!output)
      vexaThrow() << GetNameOfClass() << "::GraftNthOutput: the output to graft is null.";
    OutputType *own = GetOutput(idx);
    if (!own)
      vexaThrow() << GetNameOfClass() << "::GraftNthOutput: there is no output " << idx << ".";
    own->Graft(output);
  }
}
