#ifndef vexaPoint_h
#define vexaPoint_h

#include "vexaNumericConstants.h"

#include <itkPoint.h>

namespace vexa
{
  /** A fixed-size coordinate point (an ITK point; streams as "[x, y, z]"). */
  template <class TCoordRep, unsigned int NPointDimension = 3>
  class Point : public itk::Point<TCoordRep, NPointDimension>
  {
  public:
    using BaseType = itk::Point<TCoordRep, NPointDimension>;
    using ValueType = TCoordRep;

    Point() { this->Fill(TCoordRep()); }
    Point(const BaseType &other) : BaseType(other) {}
    explicit Point(const TCoordRep r[NPointDimension]) : BaseType(r) {}
    template <class TOther>
    explicit Point(const itk::FixedArray<TOther, NPointDimension> &other)
    {
      for (unsigned int i = 0; i < NPointDimension; ++i)
        (*this)[i] = static_cast<TCoordRep>(other[i]);
    }
  };

  using Point2D = Point<ScalarType, 2>;
  using Point3D = Point<ScalarType, 3>;
  using Point4D = Point<ScalarType, 4>;
  using Point3I = Point<int, 3>;
}

#endif
