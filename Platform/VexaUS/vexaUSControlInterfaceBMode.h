#ifndef vexaUSControlInterfaceBMode_h
#define vexaUSControlInterfaceBMode_h

#include "vexaUSAbstractControlInterface.h"

#include <vector>

namespace vexa
{
  /**
   * B-mode imaging controls: depth and frequency chosen from lists the
   * device offers; power, gain, rejection and dynamic range within the
   * ranges it reports. A device implements the On... steps and the getters;
   * the setters pass the value on and publish it as the device's service
   * property (the depth as the fifteenth key).
   */
  class VEXAUS_EXPORT USControlInterfaceBMode : public USAbstractControlInterface
  {
  public:
    vexaClassMacro(USControlInterfaceBMode, USAbstractControlInterface);

    void SetScanningDepth(double depth);
    virtual double GetScanningDepth() = 0;
    virtual std::vector<double> GetScanningDepthValues() = 0;

    void SetScanningFrequency(double frequency);
    virtual double GetScanningFrequency() = 0;
    virtual std::vector<double> GetScanningFrequencyValues() = 0;

    void SetScanningPower(double power);
    virtual double GetScanningPower() = 0;
    virtual double GetScanningPowerMin() = 0;
    virtual double GetScanningPowerMax() = 0;
    virtual double GetScanningPowerTickInterval() = 0;

    void SetScanningGain(double gain);
    virtual double GetScanningGain() = 0;
    virtual double GetScanningGainMin() = 0;
    virtual double GetScanningGainMax() = 0;
    virtual double GetScanningGainTickInterval() = 0;

    void SetScanningRejection(double rejection);
    virtual double GetScanningRejection() = 0;
    virtual double GetScanningRejectionMin() = 0;
    virtual double GetScanningRejectionMax() = 0;
    virtual double GetScanningRejectionTickInterval() = 0;

    virtual void SetScanningDynamicRange(double dynamicRange);
    virtual double GetScanningDynamicRange() = 0;
    virtual double GetScanningDynamicRangeMin() = 0;
    virtual double GetScanningDynamicRangeMax() = 0;
    virtual double GetScanningDynamicRangeTickInterval() = 0;

  protected:
    explicit USControlInterfaceBMode(USDevice *device);
    ~USControlInterfaceBMode() override;

    virtual void OnSetScanningDepth(double depth) = 0;
    virtual void OnSetScanningFrequency(double frequency) = 0;
    virtual void OnSetScanningPower(double power) = 0;
    virtual void OnSetScanningGain(double gain) = 0;
    virtual void OnSetScanningRejection(double rejection) = 0;
    virtual void OnSetScanningDynamicRange(double dynamicRange) = 0;

  private:
    void Publish(const std::string &key, double value);
  };
}

#endif
