#ifndef vexaLookupTables_h
#define vexaLookupTables_h

#include "vexaGenericLookupTable.h"

#include <string>

namespace vexa
{
  // Four distinct table types, so that a property of one is never taken for another.
  class BoolLookupTable : public GenericLookupTable<bool>
  {
  };
  class FloatLookupTable : public GenericLookupTable<float>
  {
  };
  class IntLookupTable : public GenericLookupTable<int>
  {
  };
  class StringLookupTable : public GenericLookupTable<std::string>
  {
  };
}

#endif
