#include "vexaTimeGeometry.h"

namespace vexa
{
  TimeGeometry::TimeGeometry() = default;
  TimeGeometry::TimeGeometry(const TimeGeometry &) : itk::Object() {}
  TimeGeometry::~TimeGeometry() = default;

  BaseGeometry::Pointer TimeGeometry::GetGeometryCloneForTimeStep(TimeStepType timeStep) const
  {
    BaseGeometry::Pointer geometry = GetGeometryForTimeStep(timeStep);
    return geometry ? geometry->Clone() : nullptr;
  }

  bool TimeGeometry::IsValid() const
  {
    const TimeStepType steps = CountTimeSteps();
    if (steps == 0)
      return false;
    for (TimeStepType t = 0; t < steps; ++t)
    {
      BaseGeometry::Pointer geometry = GetGeometryForTimeStep(t);
      if (!geometry || !geometry->IsValid())
        return false;
    }
    return true;
  }

  itk::ModifiedTimeType TimeGeometry::GetMTime() const
  {
    itk::ModifiedTimeType result = Superclass::GetMTime();
    const TimeStepType steps = CountTimeSteps();
    for (TimeStepType t = 0; t < steps; ++t)
    {
      BaseGeometry::Pointer geometry = GetGeometryForTimeStep(t);
      if (geometry && geometry->GetMTime() > result)
        result = geometry->GetMTime();
    }
    return result;
  }
}
