#ifndef vexaTimeGeometry_h
#define vexaTimeGeometry_h

#include "vexaBaseGeometry.h"

namespace vexa
{
  using TimeStepType = std::size_t;
  using TimePointType = ScalarType;

  /** The geometries of the time steps of a datum, and how time points map to steps. */
  class VEXACORE_EXPORT TimeGeometry : public itk::Object
  {
  public:
    vexaClassMacroItkParent(TimeGeometry, itk::Object);
    vexaCloneCastMacro(TimeGeometry);

    virtual TimeStepType CountTimeSteps() const = 0;
    virtual TimePointType GetMinimumTimePoint() const = 0;
    virtual TimePointType GetMaximumTimePoint() const = 0;
    virtual bool IsValidTimePoint(TimePointType timePoint) const = 0;
    virtual bool IsValidTimeStep(TimeStepType timeStep) const = 0;
    virtual TimePointType TimeStepToTimePoint(TimeStepType timeStep) const = 0;
    virtual TimeStepType TimePointToTimeStep(TimePointType timePoint) const = 0;

    /** The live geometry of a time step (not a copy), or null when there is no such step. */
    virtual BaseGeometry::Pointer GetGeometryForTimeStep(TimeStepType timeStep) const = 0;
    /** The geometry of a time step as an independent copy, or null. */
    virtual BaseGeometry::Pointer GetGeometryCloneForTimeStep(TimeStepType timeStep) const;
    /** Stores the geometry (not a copy) as the geometry of the step. */
    virtual void SetTimeStepGeometry(BaseGeometry *geometry, TimeStepType timeStep) = 0;
    /** Grows to the given number of steps; new steps get copies of the last geometry. */
    virtual void Expand(TimeStepType size) = 0;

    /** True when there is at least one step and every step has a valid geometry. */
    virtual bool IsValid() const;

    /** Includes the modification times of the step geometries. */
    itk::ModifiedTimeType GetMTime() const override;

  protected:
    TimeGeometry();
    TimeGeometry(const TimeGeometry &other);
    ~TimeGeometry() override;
  };
}

#endif
