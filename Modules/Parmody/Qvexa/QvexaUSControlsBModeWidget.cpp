#include "QvexaUSControlsBModeWidget.h"

#include "QvexaUSPanelWarning.h"
#include "ui_QvexaUSControlsBModeWidget.h"

#include <vexaLog.h>

#include <cmath>
#include <limits>

namespace
{
  /** A device value as a slider position: truncated toward zero, kept within int (NaN gives 0). */
  int SliderValue(double value)
  {
    if (std::isnan(value))
      return 0;
    if (value >= static_cast<double>(std::numeric_limits<int>::max()))
      return std::numeric_limits<int>::max();
    if (value <= static_cast<double>(std::numeric_limits<int>::min()))
      return std::numeric_limits<int>::min();
    return static_cast<int>(value);
  }

  void SetUpSlider(QSlider *slider, double minimum, double maximum, double tickInterval, double value)
  {
    slider->setMinimum(SliderValue(minimum));
    slider->setMaximum(SliderValue(maximum));
    slider->setTickInterval(SliderValue(tickInterval));
    slider->setValue(SliderValue(value));
  }

  // QString's number conversions use the C locale whatever QLocale says.
  QString FixedTwo(double value) { return QString::number(value, 'f', 2); }

  const QString kMHz = " MHz";
}

QvexaUSControlsBModeWidget::QvexaUSControlsBModeWidget(
  itk::SmartPointer<vexa::USControlInterfaceBMode> controlInterface, QWidget *parent)
  : QWidget(parent), m_Controls(new Ui::QvexaUSControlsBModeWidget), m_ControlInterface(controlInterface)
{
  m_Controls->setupUi(this);

  if (m_ControlInterface.IsNull())
  {
    setDisabled(true);
    return;
  }

  if (!m_ControlInterface->GetIsActive())
    m_ControlInterface->SetIsActive(true);

  const double depth = m_ControlInterface->GetScanningDepth();
  for (double value : m_ControlInterface->GetScanningDepthValues())
  {
    m_Controls->scanningDepthComboBox->addItem(FixedTwo(value), QVariant());
    if (value == depth)
      m_Controls->scanningDepthComboBox->setCurrentIndex(m_Controls->scanningDepthComboBox->count() - 1);
  }

  const double frequency = m_ControlInterface->GetScanningFrequency();
  for (double value : m_ControlInterface->GetScanningFrequencyValues())
  {
    m_Controls->scanningFrequencyComboBox->addItem(FixedTwo(value) + kMHz, QVariant());
    if (value == frequency)
      m_Controls->scanningFrequencyComboBox->setCurrentIndex(m_Controls->scanningFrequencyComboBox->count() - 1);
  }

  vexa::USControlInterfaceBMode *bmode = m_ControlInterface.GetPointer();
  SetUpSlider(m_Controls->scanningPowerSlider, bmode->GetScanningPowerMin(), bmode->GetScanningPowerMax(),
              bmode->GetScanningPowerTickInterval(), bmode->GetScanningPower());
  SetUpSlider(m_Controls->scanningGainSlider, bmode->GetScanningGainMin(), bmode->GetScanningGainMax(),
              bmode->GetScanningGainTickInterval(), bmode->GetScanningGain());
  SetUpSlider(m_Controls->scanningRejectionSlider, bmode->GetScanningRejectionMin(), bmode->GetScanningRejectionMax(),
              bmode->GetScanningRejectionTickInterval(), bmode->GetScanningRejection());
  SetUpSlider(m_Controls->scanningDynamicRangeSlider, bmode->GetScanningDynamicRangeMin(),
              bmode->GetScanningDynamicRangeMax(), bmode->GetScanningDynamicRangeTickInterval(),
              bmode->GetScanningDynamicRange());

  // the labels show the device's values from the start, as the slots write them
  m_Controls->scanningPowerLabel_value->setText(QString::number(m_Controls->scanningPowerSlider->value()) + "%");
  m_Controls->scanningGainLabel_value->setText(QString::number(m_Controls->scanningGainSlider->value()) + "%");
  m_Controls->scanningRejectionLabel_value->setText(QString::number(m_Controls->scanningRejectionSlider->value()));
  m_Controls->scanningDynamicRangeLabel_value->setText(
    QString::number(m_Controls->scanningDynamicRangeSlider->value()) + "dB");

  connect(m_Controls->scanningFrequencyComboBox, SIGNAL(currentIndexChanged(int)), this,
          SLOT(OnFrequencyControlIndexChanged(int)));
  connect(m_Controls->scanningDepthComboBox, SIGNAL(currentIndexChanged(int)), this,
          SLOT(OnDepthControlActivated(int)));
  connect(m_Controls->scanningPowerSlider, SIGNAL(valueChanged(int)), this, SLOT(OnPowerControlValueChanged(int)));
  connect(m_Controls->scanningGainSlider, SIGNAL(valueChanged(int)), this, SLOT(OnGainControlValueChanged(int)));
  connect(m_Controls->scanningRejectionSlider, SIGNAL(valueChanged(int)), this,
          SLOT(OnRejectionControlValueChanged(int)));
  connect(m_Controls->scanningDynamicRangeSlider, SIGNAL(valueChanged(int)), this,
          SLOT(OnDynamicRangeControlValueChanged(int)));
}

QvexaUSControlsBModeWidget::~QvexaUSControlsBModeWidget() { delete m_Controls; }

namespace
{
  /** How a setting the device refused is told: the exception's own what(), in a box of the panel. */
  vexa::parmody::WarningBox Refused(QWidget *panel, const char *setting)
  {
    return vexa::parmody::WarningBox(panel, "B Mode Controls",
                                     QString("set the %1 of the ultrasound device").arg(setting),
                                     vexa::parmody::ProblemText::What);
  }
}

void QvexaUSControlsBModeWidget::OnFrequencyControlIndexChanged(int)
{
  QString text = m_Controls->scanningFrequencyComboBox->currentText();
  if (text.endsWith(kMHz))
    text.chop(kMHz.size());
  const double frequency = text.toDouble(); // 0 when it is no number
  vexa::RunGuarded([&] { m_ControlInterface->SetScanningFrequency(frequency); }, Refused(this, "scanning frequency"));
}

void QvexaUSControlsBModeWidget::OnPowerControlValueChanged(int value)
{
  if (vexa::RunGuarded([&] { m_ControlInterface->SetScanningPower(value); }, Refused(this, "scanning power")))
    m_Controls->scanningPowerLabel_value->setText(QString::number(value) + "%");
}

void QvexaUSControlsBModeWidget::OnDepthControlActivated(int)
{
  const double depth = m_Controls->scanningDepthComboBox->currentText().toDouble();
  vexa::RunGuarded([&] { m_ControlInterface->SetScanningDepth(depth); }, Refused(this, "scanning depth"));
}

void QvexaUSControlsBModeWidget::OnGainControlValueChanged(int value)
{
  if (vexa::RunGuarded([&] { m_ControlInterface->SetScanningGain(value); }, Refused(this, "scanning gain")))
    m_Controls->scanningGainLabel_value->setText(QString::number(value) + "%");
}

void QvexaUSControlsBModeWidget::OnRejectionControlValueChanged(int value)
{
  if (vexa::RunGuarded([&] { m_ControlInterface->SetScanningRejection(value); }, Refused(this, "scanning rejection")))
    m_Controls->scanningRejectionLabel_value->setText(QString::number(value));
}

void QvexaUSControlsBModeWidget::OnDynamicRangeControlValueChanged(int value)
{
  if (vexa::RunGuarded([&] { m_ControlInterface->SetScanningDynamicRange(value); },
                       Refused(this, "scanning dynamic range")))
    m_Controls->scanningDynamicRangeLabel_value->setText(QString::number(value) + "dB");
}
