#ifndef vexaIGTLBodyCheck_h
#define vexaIGTLBodyCheck_h

#include "OstrelExports.h"

#include <igtlMessageBase.h>

#include <string>

namespace vexa
{
  /**
   * Checks a received message body against the layout of its OpenIGTLink
   * message class before the class unpacks it, and tells why it is malformed
   * (empty when it is not).
   *
   * Several of OpenIGTLink's classes trust the counts and lengths inside a
   * body (a string's length, a sensor's array length, the tables of BIND and
   * POLYDATA messages) or read a fixed-size part from a shorter body; a peer
   * could make them read past the buffer. The check covers every OpenIGTLink
   * class of the message factory that unpacks a body, and their subclasses.
   * The body is read from `message`'s pack buffer in network byte order.
   */
  OSTREL_EXPORT std::string CheckReceivedBody(igtl::MessageBase *message);
}

#endif
