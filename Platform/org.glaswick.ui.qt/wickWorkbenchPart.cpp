#include "wickWorkbenchPart.h"

namespace wick
{
  WorkbenchPart::WorkbenchPart() = default;
  WorkbenchPart::~WorkbenchPart() = default;
  ViewPart::ViewPart() = default;
  ViewPart::~ViewPart() = default;
}
