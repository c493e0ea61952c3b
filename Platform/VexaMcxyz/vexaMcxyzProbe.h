#ifndef vexaMcxyzProbe_h
#define vexaMcxyzProbe_h

#include "vexaMcxyzPhotonTransport.h"

#include <string>

namespace vexa
{
  namespace mcxyz
  {
    /**
     * Reads a probe file (the XML format described in README.md) into the
     * light sources of an illumination. Throws std::runtime_error with the
     * path, and the line where it applies, for a file that cannot be read,
     * is not well-formed, or holds an unknown element or attribute, a number
     * that does not parse, or values that Illumination::Validate refuses.
     */
    Illumination ReadProbeFile(const std::string &path);

    /** The same for the file's text; `origin` names it in error texts. */
    Illumination ParseProbe(const std::string &xmlText, const std::string &origin);
  }
}

#endif
