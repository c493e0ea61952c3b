#ifndef QvexaUSControlsProbesWidget_h
#define QvexaUSControlsProbesWidget_h

#include "ParmodyExports.h"

#include <vexaUSControlInterfaceProbes.h>

#include <QWidget>

namespace Ui
{
  class QvexaUSControlsProbesWidget;
}

/**
 * Chooses the probe of a device through its probe control interface: a
 * combo box of the device's probes (in the order of its list) with arrow
 * buttons. The entry shown is always the probe the device uses: picking an
 * entry from the list and stepping to it with the arrows both select it, and
 * the first probe is selected when the panel is made.
 *
 * Without an interface the label and the combo box are disabled. The
 * interface is switched on by the constructor if it is not on yet.
 *
 * GUI thread only. A device that fails to select a probe is reported (log and
 * message box) and the panel goes back to the probe the device still uses.
 */
class PARMODY_EXPORT QvexaUSControlsProbesWidget : public QWidget
{
  Q_OBJECT

public:
  explicit QvexaUSControlsProbesWidget(itk::SmartPointer<vexa::USControlInterfaceProbes> controlInterface,
                                       QWidget *parent = nullptr);
  ~QvexaUSControlsProbesWidget() override;

private slots:
  /** Selects the probe at `index` of the device's list. */
  void OnProbeControlActivated(int index);

private:
  /** Shows the probe the device reports as selected (no selection is sent). */
  void ShowSelectedProbe();

  Ui::QvexaUSControlsProbesWidget *m_Controls;
  itk::SmartPointer<vexa::USControlInterfaceProbes> m_ControlInterface;
  bool m_ShowingDeviceState = false;
};

#endif
