#ifndef QvexaUSControlsDopplerWidget_h
#define QvexaUSControlsDopplerWidget_h

#include "ParmodyExports.h"

#include <vexaUSControlInterfaceDoppler.h>

#include <QWidget>

namespace Ui
{
  class QvexaUSControlsDopplerWidget;
}

/**
 * The page for a device's Doppler controls. No device here offers Doppler
 * imaging, so the panel holds the interface (null or not) and shows no
 * control; it never calls the interface. GUI thread only.
 */
class PARMODY_EXPORT QvexaUSControlsDopplerWidget : public QWidget
{
  Q_OBJECT

public:
  explicit QvexaUSControlsDopplerWidget(itk::SmartPointer<vexa::USControlInterfaceDoppler> controlInterface,
                                        QWidget *parent = nullptr);
  ~QvexaUSControlsDopplerWidget() override;

private:
  Ui::QvexaUSControlsDopplerWidget *m_Controls;
  itk::SmartPointer<vexa::USControlInterfaceDoppler> m_ControlInterface;
};

#endif
