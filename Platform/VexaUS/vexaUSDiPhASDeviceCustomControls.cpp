#include "vexaUSDiPhASDeviceCustomControls.h"

#include <locale>
#include <sstream>

namespace vexa
{
  namespace
  {
    template <class T>
    std::string Text(const T &value)
    {
      std::ostringstream stream;
      stream.imbue(std::locale::classic());
      if constexpr (std::is_same_v<T, bool>)
        stream << (value ? "true" : "false");
      else if constexpr (std::is_same_v<T, USDiPhASDeviceCustomControls::SavingSettings>)
        stream << "raw " << (value.saveRaw ? "true" : "false") << ", beamformed "
               << (value.saveBeamformed ? "true" : "false");
      else if constexpr (std::is_enum_v<T>)
        stream << static_cast<int>(value);
      else
        stream << value;
      return stream.str();
    }
  }

  USDiPhASDeviceCustomControls::USDiPhASDeviceCustomControls(USDevice *device) : USAbstractControlInterface(device) {}
  USDiPhASDeviceCustomControls::~USDiPhASDeviceCustomControls() = default;

  // Every call reaches the device, also with an unchanged value: the panel
  // sends the whole parameter set when it attaches and relies on it arriving.
  template <class T>
  void USDiPhASDeviceCustomControls::Change(const char *setter, T &field, const T &value)
  {
    field = value;
    OnParameterChanged(setter, Text(value));
    if (m_BatchUpdate)
      m_PendingChanges = true;
    else
      OnApplyParameters();
  }

  void USDiPhASDeviceCustomControls::SetCompensateEnergy(bool v)
  {
    Change("SetCompensateEnergy", m_Parameters.compensateEnergy, v);
  }
  void USDiPhASDeviceCustomControls::SetUseBModeFilter(bool v)
  {
    Change("SetUseBModeFilter", m_Parameters.useBModeFilter, v);
  }
  void USDiPhASDeviceCustomControls::SetVerticalSpacing(float v)
  {
    Change("SetVerticalSpacing", m_Parameters.verticalSpacing, v);
  }
  void USDiPhASDeviceCustomControls::SetRecord(bool v) { Change("SetRecord", m_Parameters.record, v); }
  void USDiPhASDeviceCustomControls::SetScatteringCoefficient(float v)
  {
    Change("SetScatteringCoefficient", m_Parameters.scatteringCoefficient, v);
  }
  void USDiPhASDeviceCustomControls::SetCompensateScattering(bool v)
  {
    Change("SetCompensateScattering", m_Parameters.compensateScattering, v);
  }
  void USDiPhASDeviceCustomControls::SetSavingSettings(SavingSettings v)
  {
    Change("SetSavingSettings", m_Parameters.savingSettings, v);
  }
  void USDiPhASDeviceCustomControls::SetTransmitPhaseLength(double v)
  {
    Change("SetTransmitPhaseLength", m_Parameters.transmitPhaseLength, v);
  }
  void USDiPhASDeviceCustomControls::SetExcitationFrequency(double v)
  {
    Change("SetExcitationFrequency", m_Parameters.excitationFrequency, v);
  }
  void USDiPhASDeviceCustomControls::SetTransmitEvents(unsigned int v)
  {
    Change("SetTransmitEvents", m_Parameters.transmitEvents, v);
  }
  void USDiPhASDeviceCustomControls::SetVoltage(unsigned int v) { Change("SetVoltage", m_Parameters.voltage, v); }
  void USDiPhASDeviceCustomControls::SetInterleaved(bool v) { Change("SetInterleaved", m_Parameters.interleaved, v); }
  void USDiPhASDeviceCustomControls::SetScanDepth(double v) { Change("SetScanDepth", m_Parameters.scanDepth, v); }
  void USDiPhASDeviceCustomControls::SetAveragingCount(unsigned int v)
  {
    Change("SetAveragingCount", m_Parameters.averagingCount, v);
  }
  void USDiPhASDeviceCustomControls::SetTGCMin(unsigned int v) { Change("SetTGCMin", m_Parameters.tgcMin, v); }
  void USDiPhASDeviceCustomControls::SetTGCMax(unsigned int v) { Change("SetTGCMax", m_Parameters.tgcMax, v); }
  void USDiPhASDeviceCustomControls::SetDataType(DataType v) { Change("SetDataType", m_Parameters.dataType, v); }
  void USDiPhASDeviceCustomControls::SetPitch(double v) { Change("SetPitch", m_Parameters.pitch, v); }
  void USDiPhASDeviceCustomControls::SetReconstructedSamples(unsigned int v)
  {
    Change("SetReconstructedSamples", m_Parameters.reconstructedSamples, v);
  }
  void USDiPhASDeviceCustomControls::SetReconstructedLines(unsigned int v)
  {
    Change("SetReconstructedLines", m_Parameters.reconstructedLines, v);
  }
  void USDiPhASDeviceCustomControls::SetSpeedOfSound(unsigned int v)
  {
    Change("SetSpeedOfSound", m_Parameters.speedOfSound, v);
  }
  void USDiPhASDeviceCustomControls::SetBandpassEnabled(bool v)
  {
    Change("SetBandpassEnabled", m_Parameters.bandpassEnabled, v);
  }
  void USDiPhASDeviceCustomControls::SetLowCut(double v) { Change("SetLowCut", m_Parameters.lowCut, v); }
  void USDiPhASDeviceCustomControls::SetHighCut(double v) { Change("SetHighCut", m_Parameters.highCut, v); }

  void USDiPhASDeviceCustomControls::SetBatchUpdate(bool batch)
  {
    if (batch == m_BatchUpdate)
      return;
    m_BatchUpdate = batch;
    if (!batch && m_PendingChanges)
    {
      m_PendingChanges = false;
      OnApplyParameters();
    }
  }

  void USDiPhASDeviceCustomControls::SetStateCallback(std::function<void(QString)> callback)
  {
    std::lock_guard<std::mutex> lock(m_CallbackMutex);
    m_StateCallback = std::move(callback);
  }

  void USDiPhASDeviceCustomControls::ReportState(const QString &state)
  {
    std::function<void(QString)> callback;
    {
      std::lock_guard<std::mutex> lock(m_CallbackMutex);
      callback = m_StateCallback;
    }
    if (callback)
      callback(state);
  }

  void USDiPhASDeviceCustomControls::OnParameterChanged(const std::string &, const std::string &) {}
  void USDiPhASDeviceCustomControls::OnApplyParameters() {}
}
