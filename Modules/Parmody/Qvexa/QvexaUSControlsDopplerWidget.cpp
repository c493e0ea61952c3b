#include "QvexaUSControlsDopplerWidget.h"

#include "ui_QvexaUSControlsDopplerWidget.h"

QvexaUSControlsDopplerWidget::QvexaUSControlsDopplerWidget(
  itk::SmartPointer<vexa::USControlInterfaceDoppler> controlInterface, QWidget *parent)
  : QWidget(parent), m_Controls(new Ui::QvexaUSControlsDopplerWidget), m_ControlInterface(controlInterface)
{
  m_Controls->setupUi(this);
}

QvexaUSControlsDopplerWidget::~QvexaUSControlsDopplerWidget() { delete m_Controls; }
