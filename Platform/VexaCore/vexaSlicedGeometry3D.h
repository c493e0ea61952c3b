#ifndef vexaSlicedGeometry3D_h
#define vexaSlicedGeometry3D_h

#include "vexaBaseGeometry.h"

#include <mutex>
#include <vector>

namespace vexa
{
  /**
   * The geometry of a volume made of evenly spaced slices. The volume's
   * transform is the truth; the slice geometries are derived from it (slice s
   * has the volume's matrix, the origin moved s times along the third column,
   * and the bounds of one slice) and follow every change of the volume.
   */
  class VEXACORE_EXPORT SlicedGeometry3D : public BaseGeometry
  {
  public:
    vexaClassMacro(SlicedGeometry3D, BaseGeometry);
    vexaNewMacro(SlicedGeometry3D);

    /**
     * Rebuilds this geometry as `slices` evenly spaced copies of the slice
     * geometry: the slice's matrix (its third column is the step between
     * slices), its origin, its in-plane bounds and 0..slices along z.
     */
    virtual void InitializeFromSlice(const BaseGeometry *slice, unsigned int slices);

    /** Takes the transform and bounds of a volume geometry; the slice count is its z extent (at least 1). */
    virtual void InitializeFromVolume(const BaseGeometry *volume);

    unsigned int GetSlices() const { return m_Slices; }

    /** The geometry of slice s, or null when there is no such slice. */
    virtual BaseGeometry *GetSliceGeometry(int s) const;

  protected:
    SlicedGeometry3D();
    SlicedGeometry3D(const SlicedGeometry3D &other);
    ~SlicedGeometry3D() override;
    vexaCloneMacro(SlicedGeometry3D);

  private:
    void UpdateSlices() const;

    unsigned int m_Slices = 1;
    mutable std::mutex m_SliceMutex;
    mutable std::vector<BaseGeometry::Pointer> m_SliceGeometries;
    mutable itk::ModifiedTimeType m_SlicesBuiltFor = 0;
  };
}

#endif
