#ifndef vexaLog_h
#define vexaLog_h

// Log statements. One record per statement, written when the statement ends:
//
//   VEXA_INFO << "Connected to " << host;
//   VEXA_WARN("IGTLDevice") << "lost connection";
//   VEXA_INFO(verbose) << "Parsing arguments...";
//
// Records carry the source file, the line and the qualified function name.

#include <vorlenPseudoStream.h>

#include <itkMatrix.h>

#define VEXA_LOG_RECORD(level) ::vorlen::PseudoStream(level, __FILE__, __LINE__, __PRETTY_FUNCTION__)
#define VEXA_INFO VEXA_LOG_RECORD(0)
#define VEXA_WARN VEXA_LOG_RECORD(1)
#define VEXA_ERROR VEXA_LOG_RECORD(2)

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
