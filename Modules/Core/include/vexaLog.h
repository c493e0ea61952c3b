#ifndef vexaLog_h
#define vexaLog_h

// Log statements. One record per statement, written when the statement ends:
//
//   VEXA_INFO << "Connected to " << host;
//   VEXA_WARN("IGTLDevice") << "lost connection";
//   VEXA_INFO(verbose) << "Parsing arguments...";
//
// Records carry the source file, the line and the qualified function name.
// A 2x2 itk::Matrix<double> (an image direction) is written by the overload
// of vexaLogItkMatrix.h: include it wherever such a matrix is logged.

#include <vorlenPseudoStream.h>

#define VEXA_LOG_RECORD(level) ::vorlen::PseudoStream(level, __FILE__, __LINE__, __PRETTY_FUNCTION__)
#define VEXA_INFO VEXA_LOG_RECORD(0)
#define VEXA_WARN VEXA_LOG_RECORD(1)
#define VEXA_ERROR VEXA_LOG_RECORD(2)

#endif
