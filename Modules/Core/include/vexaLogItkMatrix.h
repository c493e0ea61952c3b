#ifndef vexaLogItkMatrix_h
#define vexaLogItkMatrix_h

// How a log record writes a 2x2 itk::Matrix<double> (an image direction): per
// row the two elements and an end-of-line. Kept apart from vexaLog.h so that
// code which logs no matrix does not compile ITK's matrix headers. Include it
// in every file that logs such a matrix: without it the record would take
// ITK's own format.

#include "vexaLog.h"

#include <itkMatrix.h>

#include <ostream>

namespace vexa
{
  /** An image direction in a log record: per row the two elements and an end-of-line. */
  struct LoggedDirection2D
  {
    const itk::Matrix<double, 2, 2> &matrix;
  };

  inline std::ostream &operator<<(std::ostream &os, const LoggedDirection2D &d)
  {
    for (unsigned int r = 0; r < 2; ++r)
      os << d.matrix[r][0] << " " << d.matrix[r][1] << std::endl;
    return os;
  }
}

namespace vorlen
{
  template <>
  inline PseudoStream &PseudoStream::operator<<(const itk::Matrix<double, 2, 2> &value)
  {
    return (*this) << vexa::LoggedDirection2D{value};
  }
}

#endif
