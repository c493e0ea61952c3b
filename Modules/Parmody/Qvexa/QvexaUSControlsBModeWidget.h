#ifndef QvexaUSControlsBModeWidget_h
#define QvexaUSControlsBModeWidget_h

#include "ParmodyExports.h"

#include <vexaUSControlInterfaceBMode.h>

#include <QWidget>

namespace Ui
{
  class QvexaUSControlsBModeWidget;
}

/**
 * Steers the B-mode imaging of a device: depth and frequency chosen from the
 * lists the device offers, power, gain, dynamic range and rejection on
 * sliders with the device's ranges. Every change goes straight to the
 * device's B-mode control interface; the labels beside the sliders show the
 * values the device has (from the start, then after every change).
 *
 * Without an interface the panel is disabled and stays so. The interface is
 * switched on by the constructor if it is not on yet. Numbers are written and
 * read with a decimal point whatever the locale ("40.00", "7.25 MHz").
 *
 * GUI thread only. A failure of the device while a value is sent is logged
 * and shown in a message box; the panel keeps working.
 */
class PARMODY_EXPORT QvexaUSControlsBModeWidget : public QWidget
{
  Q_OBJECT

public:
  explicit QvexaUSControlsBModeWidget(itk::SmartPointer<vexa::USControlInterfaceBMode> controlInterface,
                                      QWidget *parent = nullptr);
  ~QvexaUSControlsBModeWidget() override;

private slots:
  void OnFrequencyControlIndexChanged(int index);
  void OnPowerControlValueChanged(int value);
  void OnDepthControlActivated(int index);
  void OnGainControlValueChanged(int value);
  void OnRejectionControlValueChanged(int value);
  void OnDynamicRangeControlValueChanged(int value);

private:
  Ui::QvexaUSControlsBModeWidget *m_Controls;
  itk::SmartPointer<vexa::USControlInterfaceBMode> m_ControlInterface;
};

#endif
