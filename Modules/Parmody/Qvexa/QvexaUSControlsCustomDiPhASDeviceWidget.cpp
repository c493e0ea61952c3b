#include "QvexaUSControlsCustomDiPhASDeviceWidget.h"

#include "QvexaUSPanelWarning.h"
#include "ui_QvexaUSControlsCustomDiPhASDeviceWidget.h"

#include <vexaLog.h>

#include <QSignalBlocker>

#include <initializer_list>

namespace
{
  const QString kTitle = "DiPhAS Device Controls";
  using Controls = vexa::USDiPhASDeviceCustomControls;
}

QvexaUSControlsCustomDiPhASDeviceWidget::QvexaUSControlsCustomDiPhASDeviceWidget()
  : QvexaUSControlsCustomDiPhASDeviceWidget(nullptr)
{
}

QvexaUSControlsCustomDiPhASDeviceWidget::QvexaUSControlsCustomDiPhASDeviceWidget(QWidget *parent)
  : QvexaUSAbstractCustomWidget(parent), m_Controls(new Ui::QvexaUSControlsCustomDiPhASDeviceWidget),
    m_StateBridge(this)
{
}

QvexaUSControlsCustomDiPhASDeviceWidget::~QvexaUSControlsCustomDiPhASDeviceWidget()
{
  // No state text reaches the panel from here on, also none already queued.
  m_StateBridge.Close();
  if (m_ControlInterface.IsNotNull())
    m_ControlInterface->SetStateCallback({});
  delete m_Controls;
}

std::string QvexaUSControlsCustomDiPhASDeviceWidget::GetDeviceClass() const
{
  return "org.vexa.modules.us.USDiPhASDevice";
}

QvexaUSAbstractCustomWidget *QvexaUSControlsCustomDiPhASDeviceWidget::Clone(QWidget *parent) const
{
  auto *copy = new QvexaUSControlsCustomDiPhASDeviceWidget(parent);
  copy->SetDevice(this->GetDevice());
  return copy;
}

void QvexaUSControlsCustomDiPhASDeviceWidget::Initialize()
{
  if (m_FormBuilt)
    return;
  m_Controls->setupUi(this);
  m_FormBuilt = true;

  auto *c = m_Controls;
  connect(c->CompensateEnergy, SIGNAL(stateChanged(int)), this, SLOT(OnCompensateEnergyChanged()));
  connect(c->UseBModeFilter, SIGNAL(stateChanged(int)), this, SLOT(OnUseBModeFilterChanged()));
  connect(c->StartStopRecord, SIGNAL(clicked()), this, SLOT(OnRecordChanged()));
  connect(c->ScatteringCoefficient, SIGNAL(valueChanged(int)), this, SLOT(OnScatteringCoefficientChanged()));
  connect(c->CompensateScattering, SIGNAL(stateChanged(int)), this, SLOT(OnCompensateScatteringChanged()));
  connect(c->VerticalSpacing, SIGNAL(valueChanged(double)), this, SLOT(OnVerticalSpacingChanged()));
  connect(c->SaveBeamformed, SIGNAL(stateChanged(int)), this, SLOT(OnChangedSavingSettings()));
  connect(c->SaveRaw, SIGNAL(stateChanged(int)), this, SLOT(OnChangedSavingSettings()));
  connect(c->TransmitPhaseLength, SIGNAL(valueChanged(double)), this, SLOT(OnTransmitPhaseLengthChanged()));
  connect(c->ExcitationFrequency, SIGNAL(valueChanged(double)), this, SLOT(OnExcitationFrequencyChanged()));
  connect(c->TransmitEvents, SIGNAL(valueChanged(int)), this, SLOT(OnTransmitEventsChanged()));
  connect(c->Voltage, SIGNAL(valueChanged(int)), this, SLOT(OnVoltageChanged()));
  connect(c->Mode, SIGNAL(currentTextChanged(QString)), this, SLOT(OnModeChanged()));
  connect(c->ScanDepth, SIGNAL(valueChanged(double)), this, SLOT(OnScanDepthChanged()));
  connect(c->AveragingCount, SIGNAL(valueChanged(int)), this, SLOT(OnAveragingCountChanged()));
  connect(c->TimeGainCompensationMinSlider, SIGNAL(valueChanged(int)), this, SLOT(OnTGCMinChanged()));
  connect(c->TimeGainCompensationMaxSlider, SIGNAL(valueChanged(int)), this, SLOT(OnTGCMaxChanged()));
  connect(c->DataType, SIGNAL(currentTextChanged(QString)), this, SLOT(OnDataTypeChanged()));
  connect(c->PitchOfTransducer, SIGNAL(valueChanged(double)), this, SLOT(OnPitchChanged()));
  connect(c->ReconstructedSamplesPerLine, SIGNAL(valueChanged(int)), this, SLOT(OnReconstructedSamplesChanged()));
  connect(c->ReconstructedLines, SIGNAL(valueChanged(int)), this, SLOT(OnReconstructedLinesChanged()));
  connect(c->SpeedOfSound, SIGNAL(valueChanged(int)), this, SLOT(OnSpeedOfSoundChanged()));
  connect(c->BandpassEnabled, SIGNAL(currentTextChanged(QString)), this, SLOT(OnBandpassEnabledChanged()));
  connect(c->LowCut, SIGNAL(valueChanged(double)), this, SLOT(OnLowCutChanged()));
  connect(c->HighCut, SIGNAL(valueChanged(double)), this, SLOT(OnHighCutChanged()));

  if (this->GetDevice().IsNotNull())
    OnDeviceSet();
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnDeviceSet()
{
  vexa::RunGuarded(
    [this] {
      Controls::Pointer controls;
      if (vexa::USDevice::Pointer device = this->GetDevice())
        controls = dynamic_cast<Controls *>(device->GetCustomControlInterface().GetPointer());
      if (m_ControlInterface.IsNotNull() && m_ControlInterface != controls)
        m_ControlInterface->SetStateCallback({}); // the old device no longer talks to this panel
      m_ControlInterface = controls;

      if (m_ControlInterface.IsNull())
      {
        const char *const text = "Did not get a custom device control interface.";
        VEXA_WARN("QvexaUSAbstractCustomWidget")("QvexaUSControlsCustomDiPhASDeviceWidget") << text;
        return;
      }
      if (!m_FormBuilt)
        return; // Initialize sends the form

      // The device may report from its own threads; the text is set on this
      // panel's thread, and not at all once the panel is gone.
      const vexa::QtEventBridge bridge = m_StateBridge;
      m_ControlInterface->SetStateCallback(
        [bridge, this](QString state) { bridge.Post([this, state] { m_Controls->CurrentState->setText(state); }); });
      SendAll();
    },
    vexa::parmody::WarningBox(this, kTitle, "set up the DiPhAS device's controls"));
}

void QvexaUSControlsCustomDiPhASDeviceWidget::SendAll()
{
  m_OldReconstructionLines = 0;

  // the batch is closed whatever happens, or the device would never apply a change again
  struct BatchGuard
  {
    Controls *controls;
    ~BatchGuard()
    {
      try
      {
        controls->SetBatchUpdate(false);
      }
      catch (...)
      {
        VEXA_ERROR << "Could not close the DiPhAS device's batch update.";
      }
    }
  };
  {
    m_ControlInterface->SetBatchUpdate(true);
    BatchGuard guard{m_ControlInterface.GetPointer()};
    OnTransmitPhaseLengthChanged();
    OnExcitationFrequencyChanged();
    OnTransmitEventsChanged();
    OnVoltageChanged();
    OnScanDepthChanged();
    OnAveragingCountChanged();
    OnTGCMinChanged();
    OnTGCMaxChanged();
    OnDataTypeChanged();
    OnPitchChanged();
    OnReconstructedSamplesChanged();
    OnReconstructedLinesChanged();
    OnSpeedOfSoundChanged();
    OnBandpassEnabledChanged();
    OnLowCutChanged();
    OnHighCutChanged();
    OnUseBModeFilterChanged();
    OnVerticalSpacingChanged();
    OnScatteringCoefficientChanged();
    OnCompensateScatteringChanged();
    OnChangedSavingSettings();
    OnCompensateEnergyChanged();
  }
  OnModeChanged();
}

template <class F>
void QvexaUSControlsCustomDiPhASDeviceWidget::Send(const char *what, F send)
{
  if (m_ControlInterface.IsNull() || !m_FormBuilt)
    return;
  vexa::RunGuarded(send, vexa::parmody::WarningBox(this, kTitle, what));
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnCompensateEnergyChanged()
{
  Send("set the energy compensation",
       [this] { m_ControlInterface->SetCompensateEnergy(m_Controls->CompensateEnergy->isChecked()); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnUseBModeFilterChanged()
{
  Send("set the envelope filter",
       [this] { m_ControlInterface->SetUseBModeFilter(m_Controls->UseBModeFilter->isChecked()); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnVerticalSpacingChanged()
{
  Send("set the vertical spacing",
       [this] { m_ControlInterface->SetVerticalSpacing(static_cast<float>(m_Controls->VerticalSpacing->value())); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnRecordChanged()
{
  Send("start or stop recording", [this] {
    auto *c = m_Controls;
    bool recording = false;
    if (c->StartStopRecord->text() == "Start Recording")
    {
      c->StartStopRecord->setText("Stop Recording");
      c->UseBModeFilter->setEnabled(false);
      c->ScatteringCoefficient->setEnabled(false);
      c->CompensateScattering->setEnabled(false);
      recording = true;
    }
    else
    {
      c->StartStopRecord->setText("Start Recording");
      c->UseBModeFilter->setEnabled(true);
      c->CompensateScattering->setEnabled(true);
      c->ScatteringCoefficient->setEnabled(c->CompensateScattering->isChecked());
    }
    for (QWidget *parameter : std::initializer_list<QWidget *>{c->VerticalSpacing,
                                                               c->SaveBeamformed,
                                                               c->SaveRaw,
                                                               c->TransmitPhaseLength,
                                                               c->ExcitationFrequency,
                                                               c->TransmitEvents,
                                                               c->Voltage,
                                                               c->Mode,
                                                               c->ScanDepth,
                                                               c->AveragingCount,
                                                               c->TimeGainCompensationMinSlider,
                                                               c->TimeGainCompensationMaxSlider,
                                                               c->DataType,
                                                               c->PitchOfTransducer,
                                                               c->ReconstructedSamplesPerLine,
                                                               c->ReconstructedLines,
                                                               c->SpeedOfSound,
                                                               c->BandpassEnabled,
                                                               c->LowCut,
                                                               c->HighCut,
                                                               c->CompensateEnergy})
      parameter->setEnabled(!recording);
    m_ControlInterface->SetRecord(recording);
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnScatteringCoefficientChanged()
{
  Send("set the scattering coefficient", [this] {
    m_ControlInterface->SetScatteringCoefficient(static_cast<float>(m_Controls->ScatteringCoefficient->value()));
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnCompensateScatteringChanged()
{
  Send("set the scattering compensation", [this] {
    const bool compensate = m_Controls->CompensateScattering->isChecked();
    m_Controls->ScatteringCoefficient->setEnabled(compensate);
    m_ControlInterface->SetCompensateScattering(compensate);
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnChangedSavingSettings()
{
  Send("set what is saved", [this] {
    Controls::SavingSettings settings;
    settings.saveRaw = m_Controls->SaveRaw->isChecked();
    settings.saveBeamformed = m_Controls->SaveBeamformed->isChecked();
    m_ControlInterface->SetSavingSettings(settings);
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnTransmitPhaseLengthChanged()
{
  Send("set the transmit phase length",
       [this] { m_ControlInterface->SetTransmitPhaseLength(m_Controls->TransmitPhaseLength->value()); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnExcitationFrequencyChanged()
{
  Send("set the excitation frequency",
       [this] { m_ControlInterface->SetExcitationFrequency(m_Controls->ExcitationFrequency->value()); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnTransmitEventsChanged()
{
  Send("set the transmit events", [this] {
    m_ControlInterface->SetTransmitEvents(static_cast<unsigned int>(m_Controls->TransmitEvents->value()));
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnVoltageChanged()
{
  Send("set the voltage",
       [this] { m_ControlInterface->SetVoltage(static_cast<unsigned int>(m_Controls->Voltage->value())); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnModeChanged()
{
  Send("set the mode", [this] {
    const bool wasBatch = m_ControlInterface->GetBatchUpdate();
    m_ControlInterface->SetBatchUpdate(true);
    const QString mode = m_Controls->Mode->currentText();
    if (mode == "Ultrasound only" || mode == "Interleaved")
    {
      m_ControlInterface->SetInterleaved(mode == "Interleaved");
      m_Controls->TransmitEvents->setValue(1);
    }
    if (!wasBatch)
      m_ControlInterface->SetBatchUpdate(false);
    OnTransmitEventsChanged();
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnScanDepthChanged()
{
  Send("set the scan depth", [this] { m_ControlInterface->SetScanDepth(m_Controls->ScanDepth->value()); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnAveragingCountChanged()
{
  Send("set the averaging count", [this] {
    m_ControlInterface->SetAveragingCount(static_cast<unsigned int>(m_Controls->AveragingCount->value()));
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnTGCMinChanged()
{
  Send("set the TGC minimum", [this] {
    QSlider *minimum = m_Controls->TimeGainCompensationMinSlider;
    const QSlider *maximum = m_Controls->TimeGainCompensationMaxSlider;
    if (maximum->value() < minimum->value())
    {
      minimum->setValue(maximum->value()); // runs this slot once more, now without conflict
      VEXA_INFO << "User tried to set tgcMin>tgcMax.";
    }
    m_Controls->TimeGainCompensationMinLabel->setText("TGC min = " + QString::number(minimum->value()));
    m_ControlInterface->SetTGCMin(static_cast<unsigned int>(minimum->value()));
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnTGCMaxChanged()
{
  Send("set the TGC maximum", [this] {
    const QSlider *minimum = m_Controls->TimeGainCompensationMinSlider;
    QSlider *maximum = m_Controls->TimeGainCompensationMaxSlider;
    if (maximum->value() < minimum->value())
    {
      maximum->setValue(minimum->value());
      VEXA_INFO << "User tried to set tgcMin>tgcMax.";
    }
    m_Controls->TimeGainCompensationMaxLabel->setText("TGC max = " + QString::number(maximum->value()));
    m_ControlInterface->SetTGCMax(static_cast<unsigned int>(maximum->value()));
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnDataTypeChanged()
{
  Send("set the data type", [this] {
    const QString type = m_Controls->DataType->currentText();
    if (type == "Image Data")
      m_ControlInterface->SetDataType(Controls::Image_uChar);
    else if (type == "Beamformed Data")
      m_ControlInterface->SetDataType(Controls::Beamformed_Short);
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnPitchChanged()
{
  Send("set the pitch", [this] { m_ControlInterface->SetPitch(m_Controls->PitchOfTransducer->value()); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnReconstructedSamplesChanged()
{
  Send("set the samples per line", [this] {
    m_ControlInterface->SetReconstructedSamples(
      static_cast<unsigned int>(m_Controls->ReconstructedSamplesPerLine->value()));
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnReconstructedLinesChanged()
{
  Send("set the reconstructed lines", [this] {
    const int lines = m_Controls->ReconstructedLines->value();
    if (m_OldReconstructionLines == 0)
      m_OldReconstructionLines = lines;
    m_ControlInterface->SetReconstructedLines(static_cast<unsigned int>(lines));
    // pitch x lines stays the same (the box's decimals keep e.g. 0.3 x 128 / 1024 exact)
    const double pitch = m_Controls->PitchOfTransducer->value() *
                         (static_cast<double>(m_OldReconstructionLines) / static_cast<double>(lines));
    m_OldReconstructionLines = lines;
    m_Controls->PitchOfTransducer->setValue(pitch);
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnSpeedOfSoundChanged()
{
  Send("set the speed of sound",
       [this] { m_ControlInterface->SetSpeedOfSound(static_cast<unsigned int>(m_Controls->SpeedOfSound->value())); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnBandpassEnabledChanged()
{
  Send("switch the bandpass",
       [this] { m_ControlInterface->SetBandpassEnabled(m_Controls->BandpassEnabled->currentText() == "On"); });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnLowCutChanged()
{
  Send("set the low cut-off", [this] {
    QDoubleSpinBox *low = m_Controls->LowCut;
    const QDoubleSpinBox *high = m_Controls->HighCut;
    if (low->value() > high->value())
    {
      low->setValue(high->value()); // runs this slot once more, now without conflict
      VEXA_INFO << "User tried to set LowCut>HighCut.";
    }
    m_ControlInterface->SetLowCut(low->value());
  });
}

void QvexaUSControlsCustomDiPhASDeviceWidget::OnHighCutChanged()
{
  Send("set the high cut-off", [this] {
    const QDoubleSpinBox *low = m_Controls->LowCut;
    QDoubleSpinBox *high = m_Controls->HighCut;
    if (low->value() > high->value())
    {
      high->setValue(low->value());
      VEXA_INFO << "User tried to set LowCut>HighCut.";
    }
    m_ControlInterface->SetHighCut(high->value());
  });
}
