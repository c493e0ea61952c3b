#include "vexaProportionalTimeGeometry.h"

#include "vexaException.h"

#include <cmath>

namespace vexa
{
  ProportionalTimeGeometry::ProportionalTimeGeometry() = default;

  ProportionalTimeGeometry::ProportionalTimeGeometry(const ProportionalTimeGeometry &other)
    : TimeGeometry(other), m_FirstTimePoint(other.m_FirstTimePoint), m_StepDuration(other.m_StepDuration)
  {
    m_Geometries.reserve(other.m_Geometries.size());
    for (const auto &geometry : other.m_Geometries)
      m_Geometries.push_back(geometry ? geometry->Clone() : nullptr);
  }

  ProportionalTimeGeometry::~ProportionalTimeGeometry() = default;

  void ProportionalTimeGeometry::Initialize(const BaseGeometry *geometry, TimeStepType timeSteps)
  {
    if (!geometry)
      vexaThrow() << "ProportionalTimeGeometry::Initialize: the geometry is null.";
    if (timeSteps == 0)
      timeSteps = 1;
    std::vector<BaseGeometry::Pointer> geometries;
    geometries.reserve(timeSteps);
    for (TimeStepType t = 0; t < timeSteps; ++t)
      geometries.push_back(geometry->Clone());
    m_Geometries.swap(geometries);
    Modified();
  }

  void ProportionalTimeGeometry::Initialize(TimeStepType timeSteps)
  {
    BaseGeometry::Pointer geometry = BaseGeometry::New();
    Initialize(geometry, timeSteps);
  }

  TimePointType ProportionalTimeGeometry::GetMaximumTimePoint() const
  {
    return m_FirstTimePoint + m_StepDuration * static_cast<TimePointType>(m_Geometries.size());
  }

  bool ProportionalTimeGeometry::IsValidTimePoint(TimePointType timePoint) const
  {
    return timePoint >= m_FirstTimePoint && timePoint < GetMaximumTimePoint();
  }

  TimePointType ProportionalTimeGeometry::TimeStepToTimePoint(TimeStepType timeStep) const
  {
    return m_FirstTimePoint + m_StepDuration * static_cast<TimePointType>(timeStep);
  }

  TimeStepType ProportionalTimeGeometry::TimePointToTimeStep(TimePointType timePoint) const
  {
    if (!(timePoint > m_FirstTimePoint))
      return 0;
    return static_cast<TimeStepType>(std::floor((timePoint - m_FirstTimePoint) / m_StepDuration));
  }

  BaseGeometry::Pointer ProportionalTimeGeometry::GetGeometryForTimeStep(TimeStepType timeStep) const
  {
    if (timeStep >= m_Geometries.size())
      return nullptr;
    return m_Geometries[timeStep];
  }

  void ProportionalTimeGeometry::SetTimeStepGeometry(BaseGeometry *geometry, TimeStepType timeStep)
  {
    if (!geometry)
      vexaThrow() << "ProportionalTimeGeometry::SetTimeStepGeometry: the geometry is null.";
    if (timeStep >= m_Geometries.size())
      vexaThrow() << "ProportionalTimeGeometry::SetTimeStepGeometry: time step " << timeStep << " does not exist ("
                  << m_Geometries.size() << " steps).";
    m_Geometries[timeStep] = geometry;
    Modified();
  }

  void ProportionalTimeGeometry::Expand(TimeStepType size)
  {
    if (size <= m_Geometries.size())
      return;
    BaseGeometry::Pointer last = m_Geometries.empty() ? BaseGeometry::New() : m_Geometries.back();
    while (m_Geometries.size() < size)
      m_Geometries.push_back(last->Clone());
    Modified();
  }

  void ProportionalTimeGeometry::SetFirstTimePoint(TimePointType timePoint)
  {
    if (!std::isfinite(timePoint))
      vexaThrow() << "ProportionalTimeGeometry: the first time point must be finite.";
    m_FirstTimePoint = timePoint;
    Modified();
  }

  void ProportionalTimeGeometry::SetStepDuration(TimePointType duration)
  {
    if (!(duration > 0.0) || !std::isfinite(duration))
      vexaThrow() << "ProportionalTimeGeometry: the step duration must be positive and finite; got " << duration << ".";
    m_StepDuration = duration;
    Modified();
  }
}
