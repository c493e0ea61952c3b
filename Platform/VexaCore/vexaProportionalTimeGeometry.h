#ifndef vexaProportionalTimeGeometry_h
#define vexaProportionalTimeGeometry_h

#include "vexaTimeGeometry.h"

#include <vector>

namespace vexa
{
  /** Time steps of equal duration from a first time point; one geometry per step. */
  class VEXACORE_EXPORT ProportionalTimeGeometry : public TimeGeometry
  {
  public:
    vexaClassMacro(ProportionalTimeGeometry, TimeGeometry);
    vexaNewMacro(ProportionalTimeGeometry);

    /** `timeSteps` steps, each an independent copy of the geometry (at least one step). */
    virtual void Initialize(const BaseGeometry *geometry, TimeStepType timeSteps);
    /** `timeSteps` steps, each a new default geometry. */
    virtual void Initialize(TimeStepType timeSteps);

    TimeStepType CountTimeSteps() const override { return m_Geometries.size(); }
    TimePointType GetMinimumTimePoint() const override { return m_FirstTimePoint; }
    TimePointType GetMaximumTimePoint() const override;
    bool IsValidTimePoint(TimePointType timePoint) const override;
    bool IsValidTimeStep(TimeStepType timeStep) const override { return timeStep < m_Geometries.size(); }
    TimePointType TimeStepToTimePoint(TimeStepType timeStep) const override;
    TimeStepType TimePointToTimeStep(TimePointType timePoint) const override;

    BaseGeometry::Pointer GetGeometryForTimeStep(TimeStepType timeStep) const override;
    void SetTimeStepGeometry(BaseGeometry *geometry, TimeStepType timeStep) override;
    void Expand(TimeStepType size) override;

    TimePointType GetFirstTimePoint() const { return m_FirstTimePoint; }
    void SetFirstTimePoint(TimePointType timePoint);
    TimePointType GetStepDuration() const { return m_StepDuration; }
    /** The duration must be positive and finite. */
    void SetStepDuration(TimePointType duration);

  protected:
    ProportionalTimeGeometry();
    ProportionalTimeGeometry(const ProportionalTimeGeometry &other);
    ~ProportionalTimeGeometry() override;
    vexaCloneMacro(ProportionalTimeGeometry);

  private:
    std::vector<BaseGeometry::Pointer> m_Geometries;
    TimePointType m_FirstTimePoint = 0.0;
    TimePointType m_StepDuration = 1.0;
  };
}

#endif
