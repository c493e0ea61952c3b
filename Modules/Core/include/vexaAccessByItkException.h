#ifndef vexaAccessByItkException_h
#define vexaAccessByItkException_h

#include <stdexcept>
#include <string>

namespace vexa
{
  /** Raised by a pixel-type dispatch that meets an image dimension or pixel type it does not handle. */
  class AccessByItkException : public virtual std::runtime_error
  {
  public:
    explicit AccessByItkException(const std::string &message) : std::runtime_error(message) {}
  };
}

#endif
