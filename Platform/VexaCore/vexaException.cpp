#include "vexaException.h"

vexa::Exception::~Exception() noexcept = default;
