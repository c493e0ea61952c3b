#include "vexaIGTLModuleActivator.h"

#include <usModuleContext.h>

namespace vexa
{
  void IGTLModuleActivator::Load(us::ModuleContext *context)
  {
    if (m_Measurements.IsNull())
      m_Measurements = IGTLMeasurements::New();
    else
    {
      m_Measurements->Reset();
      m_Measurements->SetStarted(false);
    }
    m_MeasurementsServiceRegistration = context->RegisterService<IGTLMeasurements>(m_Measurements.GetPointer());
  }

  void IGTLModuleActivator::Unload(us::ModuleContext *)
  {
    // The registry may have withdrawn it already.
    if (m_MeasurementsServiceRegistration)
      m_MeasurementsServiceRegistration.Unregister();
    m_MeasurementsServiceRegistration = us::ServiceRegistration<IGTLMeasurements>();
  }
}

US_EXPORT_MODULE_ACTIVATOR(vexa::IGTLModuleActivator)
