#ifndef vexaIGTLModuleActivator_h
#define vexaIGTLModuleActivator_h

#include "vexaIGTLMeasurements.h"

#include <usModuleActivator.h>
#include <usServiceRegistration.h>

namespace vexa
{
  /**
   * Ostrel's module activator: starting the module registers the process's
   * latency measurements (vexa::IGTLMeasurements) as a service, stopping it
   * withdraws the service. The measurements object stays as long as the
   * activator (the process), so a pointer from GetInstance() never dangles;
   * a new start gives it back empty and stopped.
   */
  class IGTLModuleActivator : public us::ModuleActivator
  {
  public:
    void Load(us::ModuleContext *context) override;
    void Unload(us::ModuleContext *context) override;

  private:
    IGTLMeasurements::Pointer m_Measurements;
    us::ServiceRegistration<IGTLMeasurements> m_MeasurementsServiceRegistration;
  };
}

#endif
