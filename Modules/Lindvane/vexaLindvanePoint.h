#ifndef vexaLindvanePoint_h
#define vexaLindvanePoint_h

// The toolkit core's point type, for the camera model's interfaces.
#if __has_include(<vexaPoint.h>)
#include <vexaPoint.h>
#else
#include <itkPoint.h>
namespace vexa
{
  template <class T, unsigned int N>
  using Point = itk::Point<T, N>;
}
#endif

#endif
