#ifndef vexaUSDiPhASDeviceCustomControls_h
#define vexaUSDiPhASDeviceCustomControls_h

#include "vexaUSAbstractControlInterface.h"

#include <QString>

#include <functional>
#include <mutex>
#include <string>

namespace vexa
{
  /**
   * The custom controls of a DiPhAS research ultrasound and photoacoustic
   * device: receive, beamforming, display, transmit and bandpass parameters,
   * recording, and the device's state reported back through a callback.
   *
   * Every setter stores its value and tells the device (OnParameterChanged
   * with the setter's name and the value as text). While a batch update is
   * open the device collects the changes; they apply together when the batch
   * is closed (OnApplyParameters). Outside a batch every change applies at
   * once. Used from the GUI thread; the state callback may be called by the
   * device from any thread (the receiver posts to its own).
   */
  class VEXAUS_EXPORT USDiPhASDeviceCustomControls : public USAbstractControlInterface
  {
  public:
    vexaClassMacro(USDiPhASDeviceCustomControls, USAbstractControlInterface);
    vexaNewMacro(USDiPhASDeviceCustomControls);

    enum DataType
    {
      Image_uChar = 0,
      Beamformed_Short = 1
    };

    struct SavingSettings
    {
      bool saveRaw = false;
      bool saveBeamformed = false;
    };

    /** All parameters as last set (the device's start values until then). */
    struct Parameters
    {
      bool compensateEnergy = false;
      bool useBModeFilter = true;
      float verticalSpacing = 0.3f;
      bool record = false;
      float scatteringCoefficient = 15.0f;
      bool compensateScattering = false;
      SavingSettings savingSettings;
      double transmitPhaseLength = 4.0;
      double excitationFrequency = 7.5;
      unsigned int transmitEvents = 1;
      unsigned int voltage = 70;
      bool interleaved = false;
      double scanDepth = 50.0;
      unsigned int averagingCount = 1;
      unsigned int tgcMin = 10;
      unsigned int tgcMax = 20;
      DataType dataType = Image_uChar;
      double pitch = 0.3;
      unsigned int reconstructedSamples = 2048;
      unsigned int reconstructedLines = 128;
      unsigned int speedOfSound = 1480;
      bool bandpassEnabled = true;
      double lowCut = 0.0;
      double highCut = 5.0;
    };

    void SetCompensateEnergy(bool compensate);
    void SetUseBModeFilter(bool enable);
    void SetVerticalSpacing(float spacing);
    void SetRecord(bool record);
    void SetScatteringCoefficient(float coefficient);
    void SetCompensateScattering(bool compensate);
    void SetSavingSettings(SavingSettings settings);
    void SetTransmitPhaseLength(double us);
    void SetExcitationFrequency(double mhz);
    void SetTransmitEvents(unsigned int events);
    void SetVoltage(unsigned int voltage);
    void SetInterleaved(bool interleaved);
    void SetScanDepth(double mm);
    void SetAveragingCount(unsigned int count);
    void SetTGCMin(unsigned int min);
    void SetTGCMax(unsigned int max);
    void SetDataType(DataType type);
    void SetPitch(double mm);
    void SetReconstructedSamples(unsigned int samples);
    void SetReconstructedLines(unsigned int lines);
    void SetSpeedOfSound(unsigned int mPerS);
    void SetBandpassEnabled(bool enabled);
    void SetLowCut(double mhz);
    void SetHighCut(double mhz);

    /** Opens (true) or closes (false) a batch; closing applies the collected changes. */
    void SetBatchUpdate(bool batch);
    bool GetBatchUpdate() const { return m_BatchUpdate; }

    /** The receiver of the device's state texts (replaces the previous one; empty removes it). */
    void SetStateCallback(std::function<void(QString)> callback);

    const Parameters &GetParameters() const { return m_Parameters; }

  protected:
    explicit USDiPhASDeviceCustomControls(USDevice *device = nullptr);
    ~USDiPhASDeviceCustomControls() override;

    /** A setter ran: its name (e.g. "SetVoltage") and the value in the "C" locale. */
    virtual void OnParameterChanged(const std::string &setter, const std::string &value);
    /** The changes apply: after each setter outside a batch, once when a batch closes. */
    virtual void OnApplyParameters();

    /** For the device: tells the state receiver (when there is one). */
    void ReportState(const QString &state);

  private:
    template <class T>
    void Change(const char *setter, T &field, const T &value);

    Parameters m_Parameters;
    bool m_BatchUpdate = false;
    bool m_PendingChanges = false;
    std::mutex m_CallbackMutex;
    std::function<void(QString)> m_StateCallback;
  };
}

#endif
