#ifndef vexaTestGeometry_h
#define vexaTestGeometry_h

#include <vexaPoint.h>
#include <vexaVector.h>

namespace vexa
{
  namespace test
  {
    /** The vector (x, y, z): the toolkit's vector has no constructor from three values. */
    inline vexa::Vector3D MakeVector3D(double x, double y, double z)
    {
      vexa::Vector3D v;
      v[0] = x;
      v[1] = y;
      v[2] = z;
      return v;
    }

    /** The point (x, y, z). */
    inline vexa::Point3D MakePoint3D(double x, double y, double z)
    {
      vexa::Point3D p;
      p[0] = x;
      p[1] = y;
      p[2] = z;
      return p;
    }
  }
}

#endif
