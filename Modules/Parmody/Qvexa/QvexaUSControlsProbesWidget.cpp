#include "QvexaUSControlsProbesWidget.h"

#include "QvexaUSPanelWarning.h"
#include "ui_QvexaUSControlsProbesWidget.h"

#include <vexaLog.h>

#include <vector>

QvexaUSControlsProbesWidget::QvexaUSControlsProbesWidget(
  itk::SmartPointer<vexa::USControlInterfaceProbes> controlInterface, QWidget *parent)
  : QWidget(parent), m_Controls(new Ui::QvexaUSControlsProbesWidget), m_ControlInterface(controlInterface)
{
  m_Controls->setupUi(this);

  if (m_ControlInterface.IsNull())
  {
    m_Controls->probesComboBox->setDisabled(true);
    m_Controls->probesLabel->setDisabled(true);
    return;
  }

  vexa::RunGuarded(
    [this] {
      if (!m_ControlInterface->GetIsActive())
        m_ControlInterface->SetIsActive(true);

      const std::vector<vexa::USProbe::Pointer> probes = m_ControlInterface->GetProbeList();
      for (const vexa::USProbe::Pointer &probe : probes)
        m_Controls->probesComboBox->addItem(QString::fromUtf8(probe.IsNotNull() ? probe->GetName().c_str() : ""),
                                            QVariant());
      if (!probes.empty())
      {
        m_Controls->probesComboBox->setCurrentIndex(0);
        m_ControlInterface->SelectProbe(0u);
      }
    },
    vexa::parmody::WarningBox(this, "Probes", "read the probes of the ultrasound device"));

  // Every change of the entry shown selects its probe, the arrows' steps too:
  // the panel never shows a probe the device does not use.
  connect(m_Controls->probesComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(OnProbeControlActivated(int)));
}

QvexaUSControlsProbesWidget::~QvexaUSControlsProbesWidget() { delete m_Controls; }

void QvexaUSControlsProbesWidget::OnProbeControlActivated(int index)
{
  if (m_ShowingDeviceState || index < 0 || m_ControlInterface.IsNull())
    return;
  if (!vexa::RunGuarded([&] { m_ControlInterface->SelectProbe(static_cast<unsigned int>(index)); },
                        vexa::parmody::WarningBox(this, "Probes", "select the probe")))
    ShowSelectedProbe();
}

void QvexaUSControlsProbesWidget::ShowSelectedProbe()
{
  vexa::RunGuarded(
    [this] {
      const vexa::USProbe::Pointer selected = m_ControlInterface->GetSelectedProbe();
      const std::vector<vexa::USProbe::Pointer> probes = m_ControlInterface->GetProbeList();
      for (std::size_t i = 0; i < probes.size(); ++i)
        if (selected.IsNotNull() && probes[i] == selected && static_cast<int>(i) < m_Controls->probesComboBox->count())
        {
          // through the combo's own index change, so that the arrow buttons follow
          m_ShowingDeviceState = true;
          m_Controls->probesComboBox->setCurrentIndex(static_cast<int>(i));
          m_ShowingDeviceState = false;
          return;
        }
    },
    vexa::parmody::WarningBox(this, "Probes", "read the selected probe"));
  m_ShowingDeviceState = false;
}
