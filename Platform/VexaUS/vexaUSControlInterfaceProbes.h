#ifndef vexaUSControlInterfaceProbes_h
#define vexaUSControlInterfaceProbes_h

#include "vexaUSAbstractControlInterface.h"
#include "vexaUSProbe.h"

#include <vector>

namespace vexa
{
  /**
   * Probe selection. A device implements the list and the selection step;
   * SelectProbe publishes the selected probe's name as the device's service
   * property.
   */
  class VEXAUS_EXPORT USControlInterfaceProbes : public USAbstractControlInterface
  {
  public:
    vexaClassMacro(USControlInterfaceProbes, USAbstractControlInterface);

    /** The device's probes in their order. */
    virtual std::vector<USProbe::Pointer> GetProbeList() = 0;
    /** The selected probe, or null. */
    virtual USProbe::Pointer GetSelectedProbe() = 0;
    unsigned int GetProbesCount() { return static_cast<unsigned int>(GetProbeList().size()); }

    /** Selects the probe at `index` of GetProbeList(); an index past the list is logged and ignored. */
    void SelectProbe(unsigned int index);
    /** Selects the probe of the list that is this object; others are logged and ignored. */
    void SelectProbe(USProbe::Pointer probe);

  protected:
    explicit USControlInterfaceProbes(USDevice *device);
    ~USControlInterfaceProbes() override;

    /** Makes the probe at `index` (valid) current. */
    virtual void OnSelectProbe(unsigned int index) = 0;
  };
}

#endif
