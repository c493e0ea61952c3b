#include "vexaSlicedData.h"

namespace vexa
{
  SlicedData::SlicedData() = default;
  SlicedData::SlicedData(const SlicedData &other) : BaseData(other) {}
  SlicedData::~SlicedData() = default;

  SlicedGeometry3D *SlicedData::GetSlicedGeometry(unsigned int t) const
  {
    return dynamic_cast<SlicedGeometry3D *>(GetGeometry(static_cast<int>(t)));
  }

  void SlicedData::SetGeometry(BaseGeometry *geometry)
  {
    if (!geometry)
    {
      SetTimeGeometry(nullptr);
      return;
    }
    SlicedGeometry3D::Pointer sliced = dynamic_cast<SlicedGeometry3D *>(geometry);
    if (!sliced)
    {
      sliced = SlicedGeometry3D::New();
      sliced->InitializeFromVolume(geometry);
    }
    ProportionalTimeGeometry::Pointer timeGeometry = ProportionalTimeGeometry::New();
    timeGeometry->Initialize(sliced, GetTimeSteps() > 0 ? GetTimeSteps() : 1);
    SetTimeGeometry(timeGeometry);
  }

  void SlicedData::SetSpacing(const Vector3D &spacing)
  {
    const unsigned int steps = GetTimeSteps();
    for (unsigned int t = 0; t < steps; ++t)
    {
      if (BaseGeometry *geometry = GetGeometry(t))
        geometry->SetSpacing(spacing);
    }
    Modified();
  }

  void SlicedData::SetSpacing(const ScalarType spacing[3]) { SetSpacing(Vector3D(spacing)); }
}
