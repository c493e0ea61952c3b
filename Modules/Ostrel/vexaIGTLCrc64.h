#ifndef vexaIGTLCrc64_h
#define vexaIGTLCrc64_h

#include "OstrelExports.h"

#include <cstddef>
#include <cstdint>

namespace vexa
{
  /**
   * The CRC of OpenIGTLink message bodies: ECMA-182 polynomial
   * (0x42F0E1EBA9EA3693), most significant bit first, no final inversion; the
   * same value as OpenIGTLink's own crc64(data, length, crc) for every input.
   * Chained: IGTLCrc64(b, nb, IGTLCrc64(a, na, 0)) is the CRC of a then b.
   *
   * Carry-less multiplication where the processor has it (chosen once, at the
   * first call), slice-by-8 tables otherwise; OpenIGTLink's routine takes one
   * table look-up per byte and bounds a message's packing and checking at a
   * few hundred MB/s. Thread-safe; any alignment.
   */
  OSTREL_EXPORT std::uint64_t IGTLCrc64(const void *data, std::size_t length, std::uint64_t crc = 0);

  /** The two implementations behind IGTLCrc64, for tests and measurements. */
  namespace IGTLCrc64Implementations
  {
    OSTREL_EXPORT std::uint64_t SliceBy8(const void *data, std::size_t length, std::uint64_t crc);

    /** Whether this processor can run CarryLessMultiply. */
    OSTREL_EXPORT bool HasCarryLessMultiply();

    /** Only where HasCarryLessMultiply(); falls back to SliceBy8 otherwise. */
    OSTREL_EXPORT std::uint64_t CarryLessMultiply(const void *data, std::size_t length, std::uint64_t crc);

    /** "carry-less multiply" or "slice-by-8": what IGTLCrc64 uses here. */
    OSTREL_EXPORT const char *InUse();
  }
}

#endif
