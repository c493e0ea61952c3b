#include "vexaUSImageSource.h"

namespace vexa
{
  USImageSource::USImageSource() = default;
  USImageSource::~USImageSource() = default;
}
