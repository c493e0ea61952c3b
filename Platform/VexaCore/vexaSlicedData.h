#ifndef vexaSlicedData_h
#define vexaSlicedData_h

#include "vexaBaseData.h"
#include "vexaSlicedGeometry3D.h"

namespace vexa
{
  /** A datum made of slices: every time step has a SlicedGeometry3D. */
  class VEXACORE_EXPORT SlicedData : public BaseData
  {
  public:
    vexaClassMacro(SlicedData, BaseData);

    /** The sliced geometry of a time step, or null. */
    SlicedGeometry3D *GetSlicedGeometry(unsigned int t = 0) const;

    /**
     * Every time step (at least one) gets an independent sliced copy of the
     * geometry; a geometry that is not sliced is taken as the volume.
     */
    void SetGeometry(BaseGeometry *geometry) override;

    /** Sets the spacing of the geometries of all time steps. */
    virtual void SetSpacing(const Vector3D &spacing);
    void SetSpacing(const ScalarType spacing[3]);

  protected:
    SlicedData();
    SlicedData(const SlicedData &other);
    ~SlicedData() override;
  };
}

#endif
