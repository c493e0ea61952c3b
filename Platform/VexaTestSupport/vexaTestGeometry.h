#ifndef vexaTestGeometry_h
#define vexaTestGeometry_h

#include <vexaPoint.h>
#include <vexaVector.h>

namespace vexa
{
  namespace test
  {
    /** A vector or point of three coordinates: the toolkit's have no constructor from three values. */
    template <class Triple>
    Triple MakeTriple(double x, double y, double z)
    {
      Triple t;
      t[0] = x;
      t[1] = y;
      t[2] = z;
      return t;
    }

    inline vexa::Vector3D MakeVector3D(double x, double y, double z) { return MakeTriple<vexa::Vector3D>(x, y, z); }
    inline vexa::Point3D MakePoint3D(double x, double y, double z) { return MakeTriple<vexa::Point3D>(x, y, z); }
  }
}

#endif
