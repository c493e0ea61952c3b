#ifndef QvexaUSControlsCustomDiPhASDeviceWidget_h
#define QvexaUSControlsCustomDiPhASDeviceWidget_h

#include "QvexaUSAbstractCustomWidget.h"

#include <vexaQtEventBridge.h>
#include <vexaUSDiPhASDeviceCustomControls.h>

#include <string>

namespace Ui
{
  class QvexaUSControlsCustomDiPhASDeviceWidget;
}

/**
 * The custom panel of DiPhAS research ultrasound and photoacoustic devices
 * ("org.vexa.modules.us.USDiPhASDevice"): receive, beamforming, display,
 * transmit and bandpass parameters and a recording switch. Every change goes
 * straight to the device's vexa::USDiPhASDeviceCustomControls; when a device
 * is set, the whole form is sent in one batch, then the mode.
 *
 * Partners are kept in order: a TGC minimum above the maximum, or a low
 * cut-off above the high one, is pulled back to its partner's value (and
 * logged). Changing the number of reconstructed lines rescales the pitch so
 * that pitch x lines stays the same. While recording, the parameters are
 * locked.
 *
 * The device's state texts (reported on any thread) reach the state label
 * on the GUI thread; none arrives once the panel is gone or has another
 * device. Without DiPhAS controls every parameter slot does nothing.
 * GUI thread only; a failure of the device is logged and shown.
 */
class PARMODY_EXPORT QvexaUSControlsCustomDiPhASDeviceWidget : public QvexaUSAbstractCustomWidget
{
  Q_OBJECT

public:
  /** The prototype's constructor (no parent). */
  QvexaUSControlsCustomDiPhASDeviceWidget();
  explicit QvexaUSControlsCustomDiPhASDeviceWidget(QWidget *parent);
  ~QvexaUSControlsCustomDiPhASDeviceWidget() override;

  /** Takes the device's DiPhAS controls, installs the state receiver and sends every parameter once. */
  void OnDeviceSet() override;
  /** "org.vexa.modules.us.USDiPhASDevice". */
  std::string GetDeviceClass() const override;
  QvexaUSAbstractCustomWidget *Clone(QWidget *parent = nullptr) const override;
  /** Builds the form and connects it; sends the form when a device is set already. */
  void Initialize() override;

protected slots:
  virtual void OnCompensateEnergyChanged();
  virtual void OnUseBModeFilterChanged();
  virtual void OnVerticalSpacingChanged();
  /** Starts or stops recording (the button's text tells which) and locks or unlocks the parameters. */
  virtual void OnRecordChanged();
  virtual void OnScatteringCoefficientChanged();
  virtual void OnCompensateScatteringChanged();
  virtual void OnChangedSavingSettings();
  virtual void OnTransmitPhaseLengthChanged();
  virtual void OnExcitationFrequencyChanged();
  virtual void OnTransmitEventsChanged();
  virtual void OnVoltageChanged();
  /** "Ultrasound only" or "Interleaved", with one transmit event, in one batch. */
  virtual void OnModeChanged();
  virtual void OnScanDepthChanged();
  virtual void OnAveragingCountChanged();
  virtual void OnTGCMinChanged();
  virtual void OnTGCMaxChanged();
  virtual void OnDataTypeChanged();
  virtual void OnPitchChanged();
  virtual void OnReconstructedSamplesChanged();
  virtual void OnReconstructedLinesChanged();
  virtual void OnSpeedOfSoundChanged();
  virtual void OnBandpassEnabledChanged();
  virtual void OnLowCutChanged();
  virtual void OnHighCutChanged();

private:
  /** Runs `send` with the controls when there are some and the form is built; failures are reported. */
  template <class F>
  void Send(const char *what, F send);
  void SendAll();

  Ui::QvexaUSControlsCustomDiPhASDeviceWidget *m_Controls;
  bool m_FormBuilt = false;
  itk::SmartPointer<vexa::USDiPhASDeviceCustomControls> m_ControlInterface;
  int m_OldReconstructionLines = 0;
  vexa::QtEventBridge m_StateBridge; // carries the device's state texts to this panel's thread
};

#endif
