#ifndef vexaIGTL3DImageDeviceSource_h
#define vexaIGTL3DImageDeviceSource_h

#include "vexaIGTLDeviceSource.h"

namespace vexa
{
  /** A device source whose every update hands on the oldest waiting 3-D image message. */
  class OSTREL_EXPORT IGTL3DImageDeviceSource : public IGTLDeviceSource
  {
  public:
    vexaClassMacro(IGTL3DImageDeviceSource, IGTLDeviceSource);
    vexaNewMacro(IGTL3DImageDeviceSource);

  protected:
    IGTL3DImageDeviceSource();
    ~IGTL3DImageDeviceSource() override;

    void GenerateData() override;
  };
}

#endif
