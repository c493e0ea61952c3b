#ifndef vexaNumericConstants_h
#define vexaNumericConstants_h

#include <limits>

namespace vexa
{
  using ScalarType = double;

  /** The toolkit's small number: tolerance of geometry comparisons and the least usable spacing. */
  constexpr ScalarType eps = 100.0 * std::numeric_limits<double>::epsilon();
}

#endif
