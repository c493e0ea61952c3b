#include "vexaBaseData.h"

#include "vexaBaseDataSource.h"
#include "vexaException.h"

#include <vexaLog.h>

#include <limits>

namespace vexa
{
  namespace
  {
    // far below zero, so that references taken by delete observers never bring the count back to zero
    constexpr int Dying = std::numeric_limits<int>::min() / 2;
  }

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

  void BaseData::Register() const { m_Count.fetch_add(1); }

  void BaseData::UnRegister() const noexcept
  {
    const int remaining = m_Count.fetch_sub(1) - 1;
    // above zero: still in use; below zero: a delete observer let go during the announcement
    if (remaining == 0)
      AnnounceAndDelete();
  }

  int BaseData::GetReferenceCount() const
  {
    const int count = m_Count.load();
    // during the announcement it reads as ITK's does then: the last reference (and observers' own)
    return count >= 0 ? count : count - Dying + 1;
  }

  void BaseData::SetReferenceCount(int count)
  {
    if (count > 0)
    {
      m_Count.store(count);
      return;
    }
    m_Count.store(0);
    AnnounceAndDelete();
  }

  bool BaseData::TryRegister() const
  {
    int count = m_Count.load();
    while (count > 0)
    {
      if (m_Count.compare_exchange_weak(count, count + 1))
        return true;
    }
    return false;
  }

  void BaseData::AnnounceAndDelete() const noexcept
  {
    m_Count.store(Dying);
    try
    {
      InvokeEvent(itk::DeleteEvent());
    }
    catch (...)
    {
      try
      {
        VEXA_WARN << GetNameOfClass() << ": an observer of its deletion threw; deleting it anyway.";
      }
      catch (...)
      {
      }
    }
    // ITK's own count stood at 1 all along; its destructor expects 0
    m_ReferenceCount = 0;
    delete this;
  }

  void BaseData::PrintSelf(std::ostream &os, itk::Indent indent) const
  {
    Superclass::PrintSelf(os, indent);
    os << indent << "Time steps: " << GetTimeSteps() << std::endl;
  }
}
