#ifndef vexaUIDGenerator_h
#define vexaUIDGenerator_h

#include "VexaCoreExports.h"

#include <random>
#include <string>

namespace vexa
{
  /**
   * Random identifiers: the prefix followed by the given number of random
   * characters from [0-9A-Za-z]. Every generator seeds itself from the
   * system's random device, so generators made at the same moment (in one
   * process or in programs started together) draw different identifiers.
   * One generator is not shared between threads; make one per thread.
   */
  class VEXACORE_EXPORT UIDGenerator
  {
  public:
    explicit UIDGenerator(const char *prefix = "UID_", unsigned int lengthOfRandomPart = 8);
    std::string GetUID();

  private:
    std::string m_Prefix;
    unsigned int m_LengthOfRandomPart;
    std::mt19937_64 m_Engine;
  };
}

#endif
