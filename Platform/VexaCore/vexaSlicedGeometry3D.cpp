#include "vexaSlicedGeometry3D.h"

#include "vexaException.h"

#include <cmath>

namespace vexa
{
  SlicedGeometry3D::SlicedGeometry3D() = default;

  SlicedGeometry3D::SlicedGeometry3D(const SlicedGeometry3D &other) : BaseGeometry(other), m_Slices(other.m_Slices) {}

  SlicedGeometry3D::~SlicedGeometry3D() = default;

  void SlicedGeometry3D::InitializeFromSlice(const BaseGeometry *slice, unsigned int slices)
  {
    if (!slice)
      vexaThrow() << "SlicedGeometry3D::InitializeFromSlice: the slice geometry is null.";
    if (slices == 0)
      vexaThrow() << "SlicedGeometry3D::InitializeFromSlice: a volume needs at least one slice.";
    m_Slices = slices;
    BaseGeometry::SetIndexToWorldTransform(slice->GetIndexToWorldTransform());
    BoundsArrayType bounds = slice->GetBounds();
    bounds[4] = 0;
    bounds[5] = slices;
    SetBounds(bounds);
    Modified();
  }

  void SlicedGeometry3D::InitializeFromVolume(const BaseGeometry *volume)
  {
    if (!volume)
      vexaThrow() << "SlicedGeometry3D::InitializeFromVolume: the geometry is null.";
    const ScalarType extent = std::round(volume->GetExtent(2));
    m_Slices = extent >= 1.0 ? static_cast<unsigned int>(extent) : 1u;
    BaseGeometry::SetIndexToWorldTransform(volume->GetIndexToWorldTransform());
    BoundsArrayType bounds = volume->GetBounds();
    bounds[5] = bounds[4] + m_Slices;
    SetBounds(bounds);
    Modified();
  }

  BaseGeometry *SlicedGeometry3D::GetSliceGeometry(int s) const
  {
    if (s < 0 || static_cast<unsigned int>(s) >= m_Slices)
      return nullptr;
    std::lock_guard<std::mutex> lock(m_SliceMutex);
    UpdateSlices();
    return m_SliceGeometries[s];
  }

  // Slice objects are kept and updated in place, so that pointers handed out
  // stay valid across changes of the volume.
  void SlicedGeometry3D::UpdateSlices() const
  {
    const itk::ModifiedTimeType now = GetMTime();
    if (m_SliceGeometries.size() == m_Slices && m_SlicesBuiltFor == now)
      return;
    m_SliceGeometries.resize(m_Slices);
    const auto &matrix = GetIndexToWorldTransform()->GetMatrix();
    const Point3D origin = GetOrigin();
    BoundsArrayType bounds = GetBounds();
    bounds[4] = 0;
    bounds[5] = 1;
    for (unsigned int s = 0; s < m_Slices; ++s)
    {
      if (!m_SliceGeometries[s])
        m_SliceGeometries[s] = BaseGeometry::New();
      BaseGeometry *slice = m_SliceGeometries[s];
      slice->SetIndexToWorldTransform(GetIndexToWorldTransform());
      Point3D sliceOrigin;
      for (unsigned int i = 0; i < 3; ++i)
        sliceOrigin[i] = origin[i] + s * matrix[i][2];
      slice->SetOrigin(sliceOrigin);
      slice->SetBounds(bounds);
    }
    m_SlicesBuiltFor = now;
  }
}
