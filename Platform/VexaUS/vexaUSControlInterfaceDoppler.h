#ifndef vexaUSControlInterfaceDoppler_h
#define vexaUSControlInterfaceDoppler_h

#include "vexaUSAbstractControlInterface.h"

namespace vexa
{
  /** Doppler imaging controls. No device here offers Doppler; the panel only holds the interface. */
  class VEXAUS_EXPORT USControlInterfaceDoppler : public USAbstractControlInterface
  {
  public:
    vexaClassMacro(USControlInterfaceDoppler, USAbstractControlInterface);

  protected:
    explicit USControlInterfaceDoppler(USDevice *device);
    ~USControlInterfaceDoppler() override;
  };
}

#endif
