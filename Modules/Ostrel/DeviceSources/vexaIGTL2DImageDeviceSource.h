#ifndef vexaIGTL2DImageDeviceSource_h
#define vexaIGTL2DImageDeviceSource_h

#include "vexaIGTLDeviceSource.h"

namespace vexa
{
  /** A device source whose every update hands on the oldest waiting 2-D image message. */
  class OSTREL_EXPORT IGTL2DImageDeviceSource : public IGTLDeviceSource
  {
  public:
    vexaClassMacro(IGTL2DImageDeviceSource, IGTLDeviceSource);
    vexaNewMacro(IGTL2DImageDeviceSource);

  protected:
    IGTL2DImageDeviceSource();
    ~IGTL2DImageDeviceSource() override;

    void GenerateData() override;
  };
}

#endif
