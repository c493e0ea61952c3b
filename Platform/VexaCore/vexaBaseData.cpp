#include "vexaBaseData.h"

#include "vexaBaseDataSource.h"
#include "vexaException.h"

namespace vexa
{
  BaseData::BaseData() = default;

  BaseData::BaseData(const BaseData &other) : itk::DataObject()
  {
    if (other.m_TimeGeometry)
      m_TimeGeometry = other.m_TimeGeometry->Clone();
  }

  BaseData::~BaseData() = default;

  const TimeGeometry *BaseData::GetUpdatedTimeGeometry()
  {
    UpdateOutputInformation();
    return m_TimeGeometry;
  }

  void BaseData::SetTimeGeometry(TimeGeometry *geometry)
  {
    if (m_TimeGeometry == geometry)
      return;
    m_TimeGeometry = geometry;
    Modified();
  }

  void BaseData::SetClonedTimeGeometry(const TimeGeometry *geometry)
  {
    TimeGeometry::Pointer clone = geometry ? geometry->Clone() : nullptr;
    SetTimeGeometry(clone);
  }

  BaseGeometry *BaseData::GetGeometry(int t) const
  {
    if (!m_TimeGeometry || t < 0)
      return nullptr;
    return m_TimeGeometry->GetGeometryForTimeStep(static_cast<TimeStepType>(t)).GetPointer();
  }

  BaseGeometry *BaseData::GetUpdatedGeometry(int t)
  {
    UpdateOutputInformation();
    return GetGeometry(t);
  }

  void BaseData::SetGeometry(BaseGeometry *geometry)
  {
    if (!geometry)
    {
      SetTimeGeometry(nullptr);
      return;
    }
    ProportionalTimeGeometry::Pointer timeGeometry = ProportionalTimeGeometry::New();
    timeGeometry->Initialize(geometry, GetTimeSteps() > 0 ? GetTimeSteps() : 1);
    SetTimeGeometry(timeGeometry);
  }

  void BaseData::SetClonedGeometry(const BaseGeometry *geometry)
  {
    BaseGeometry::Pointer clone = geometry ? geometry->Clone() : nullptr;
    SetGeometry(clone);
  }

  unsigned int BaseData::GetTimeSteps() const
  {
    return m_TimeGeometry ? static_cast<unsigned int>(m_TimeGeometry->CountTimeSteps()) : 0u;
  }

  void BaseData::SetOrigin(const Point3D &origin)
  {
    const unsigned int steps = GetTimeSteps();
    for (unsigned int t = 0; t < steps; ++t)
    {
      if (BaseGeometry *geometry = GetGeometry(t))
        geometry->SetOrigin(origin);
    }
    Modified();
  }

  bool BaseData::IsInitialized() const { return m_TimeGeometry && m_TimeGeometry->CountTimeSteps() > 0; }

  bool BaseData::IsEmptyTimeStep(unsigned int) const { return !IsInitialized(); }

  bool BaseData::IsEmpty() const
  {
    if (!IsInitialized())
      return true;
    const unsigned int steps = GetTimeSteps();
    for (unsigned int t = 0; t < steps; ++t)
    {
      if (!IsEmptyTimeStep(t))
        return false;
    }
    return true;
  }

  itk::SmartPointer<BaseDataSource> BaseData::GetSource() const
  {
    itk::ProcessObject::Pointer source = itk::DataObject::GetSource().GetPointer();
    return dynamic_cast<BaseDataSource *>(source.GetPointer());
  }

  void BaseData::CopyInformation(const itk::DataObject *data)
  {
    const auto *other = dynamic_cast<const BaseData *>(data);
    if (!other || other == this)
      return;
    SetClonedTimeGeometry(other->GetTimeGeometry());
  }

  itk::ModifiedTimeType BaseData::GetMTime() const
  {
    const itk::ModifiedTimeType own = Superclass::GetMTime();
    if (!m_TimeGeometry)
      return own;
    const itk::ModifiedTimeType geometry = m_TimeGeometry->GetMTime();
    return own > geometry ? own : geometry;
  }

  void BaseData::PrintSelf(std::ostream &os, itk::Indent indent) const
  {
    Superclass::PrintSelf(os, indent);
    os << indent << "Time steps: " << GetTimeSteps() << std::endl;
  }
}
