#ifndef vexaVector_h
#define vexaVector_h

#include "vexaNumericConstants.h"

#include <itkVector.h>

namespace vexa
{
  /** A fixed-size coordinate vector (an ITK vector; streams as "[x, y, z]"). */
  template <class TCoordRep, unsigned int NVectorDimension = 3>
  class Vector : public itk::Vector<TCoordRep, NVectorDimension>
  {
  public:
    using BaseType = itk::Vector<TCoordRep, NVectorDimension>;
    using ValueType = TCoordRep;

    Vector() { this->Fill(TCoordRep()); }
    Vector(const BaseType &other) : BaseType(other) {}
    explicit Vector(const TCoordRep r[NVectorDimension]) : BaseType(r) {}
    explicit Vector(TCoordRep value) { this->Fill(value); }
  };

  using Vector2D = Vector<ScalarType, 2>;
  using Vector3D = Vector<ScalarType, 3>;
}

#endif
