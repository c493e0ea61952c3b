#ifndef vexaIGTLMessagePacking_h
#define vexaIGTLMessagePacking_h

#include "OstrelExports.h"

#include <igtlMessageBase.h>

namespace vexa
{
  /**
   * Packs `message` exactly as its Pack() would (the same bytes, the same
   * state of the object afterwards), except that the header's CRC of the body
   * is computed with IGTLCrc64 instead of OpenIGTLink's byte-at-a-time
   * routine. Message classes whose packing is not OpenIGTLink's common one
   * (igtl::ImageMessage2, classes this library does not know) are packed by
   * their own Pack(). Returns what Pack() returns (1). Not thread-safe for one
   * message, as Pack() is not.
   */
  OSTREL_EXPORT int IGTLPackMessage(igtl::MessageBase *message);
}

#endif
