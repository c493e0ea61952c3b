#include "vexaUSAbstractControlInterface.h"
#include "vexaUSControlInterfaceBMode.h"
#include "vexaUSControlInterfaceDoppler.h"
#include "vexaUSControlInterfaceProbes.h"
#include "vexaUSDevice.h"

#include <vexaLog.h>

namespace vexa
{
  USAbstractControlInterface::USAbstractControlInterface(USDevice *device) : m_Device(device) {}
  USAbstractControlInterface::~USAbstractControlInterface() = default;

  void USAbstractControlInterface::SetIsActive(bool isActive) { m_IsActive.store(isActive); }
  bool USAbstractControlInterface::GetIsActive() { return m_IsActive.load(); }

  // ---- B mode ----

  USControlInterfaceBMode::USControlInterfaceBMode(USDevice *device) : USAbstractControlInterface(device) {}
  USControlInterfaceBMode::~USControlInterfaceBMode() = default;

  void USControlInterfaceBMode::Publish(const std::string &key, double value)
  {
    if (USDevice *device = GetDevice())
      device->UpdateServiceProperty(key, value);
  }

  void USControlInterfaceBMode::SetScanningDepth(double depth)
  {
    OnSetScanningDepth(depth);
    Publish(USDevice::GetPropertyKeys().US_PROPKEY_BMODE_DEPTH, depth);
  }

  void USControlInterfaceBMode::SetScanningFrequency(double frequency)
  {
    OnSetScanningFrequency(frequency);
    Publish(USDevice::GetPropertyKeys().US_PROPKEY_BMODE_FREQUENCY, frequency);
  }

  void USControlInterfaceBMode::SetScanningPower(double power)
  {
    OnSetScanningPower(power);
    Publish(USDevice::GetPropertyKeys().US_PROPKEY_BMODE_POWER, power);
  }

  void USControlInterfaceBMode::SetScanningGain(double gain)
  {
    OnSetScanningGain(gain);
    Publish(USDevice::GetPropertyKeys().US_PROPKEY_BMODE_GAIN, gain);
  }

  void USControlInterfaceBMode::SetScanningRejection(double rejection)
  {
    OnSetScanningRejection(rejection);
    Publish(USDevice::GetPropertyKeys().US_PROPKEY_BMODE_REJECTION, rejection);
  }

  void USControlInterfaceBMode::SetScanningDynamicRange(double dynamicRange)
  {
    OnSetScanningDynamicRange(dynamicRange);
    Publish(USDevice::GetPropertyKeys().US_PROPKEY_BMODE_DYNAMIC_RANGE, dynamicRange);
  }

  // ---- Doppler ----

  USControlInterfaceDoppler::USControlInterfaceDoppler(USDevice *device) : USAbstractControlInterface(device) {}
  USControlInterfaceDoppler::~USControlInterfaceDoppler() = default;

  // ---- probes ----

  USControlInterfaceProbes::USControlInterfaceProbes(USDevice *device) : USAbstractControlInterface(device) {}
  USControlInterfaceProbes::~USControlInterfaceProbes() = default;

  void USControlInterfaceProbes::SelectProbe(unsigned int index)
  {
    const std::vector<USProbe::Pointer> probes = GetProbeList();
    if (index >= probes.size())
    {
      VEXA_WARN("USControlInterfaceProbes")
        << "There is no probe " << index << " (the device has " << probes.size() << ").";
      return;
    }
    OnSelectProbe(index);
    if (USDevice *device = GetDevice())
      device->UpdateServiceProperty(USDevice::GetPropertyKeys().US_PROPKEY_PROBES_SELECTED, probes[index]->GetName());
  }

  void USControlInterfaceProbes::SelectProbe(USProbe::Pointer probe)
  {
    const std::vector<USProbe::Pointer> probes = GetProbeList();
    for (std::size_t i = 0; i < probes.size(); ++i)
    {
      if (probes[i] == probe)
      {
        SelectProbe(static_cast<unsigned int>(i));
        return;
      }
    }
    VEXA_WARN("USControlInterfaceProbes") << "The probe \"" << (probe ? probe->GetName() : std::string("(null)"))
                                          << "\" is not one of the device's probes.";
  }
}
