#include "QvexaWorkbenchTestView.h"

#include "vexaWorkbenchTestActivator.h"

#include <ctkPluginContext.h>

#include <QCoreApplication>
#include <QLabel>
#include <QThread>
#include <QVBoxLayout>

#include <stdexcept>

QvexaWorkbenchTestView::QvexaWorkbenchTestView()
{
  if (ctkPluginContext *context = vexa::WorkbenchTest_Activator::GetContext())
    context->connectServiceListener(this, "OnServiceEvent", "(objectclass=org.vexa.test.WorkbenchService)");
}

QvexaWorkbenchTestView::~QvexaWorkbenchTestView() = default;

void QvexaWorkbenchTestView::CreateQtPartControl(QWidget *parent)
{
  if (qEnvironmentVariableIsSet("VEXA_TEST_VIEW_FAILS_TO_BUILD"))
    throw std::runtime_error("told to fail building");
  auto *layout = new QVBoxLayout(parent);
  auto *label = new QLabel("Workbench test view", parent);
  label->setObjectName("TestViewLabel");
  layout->addWidget(label);
}

void QvexaWorkbenchTestView::OnNodeSelectionChanged(wick::WorkbenchPart *, const QList<vexa::DataNode::Pointer> &nodes)
{
  ++m_SelectionCalls;
  if (m_FailSelection)
    throw std::runtime_error("the test view refuses this selection");
  m_SelectedNames.clear();
  for (const vexa::DataNode::Pointer &node : nodes)
    m_SelectedNames << QString::fromStdString(node->GetName());
}

void QvexaWorkbenchTestView::OnServiceEvent(ctkServiceEvent)
{
  vexa::WorkbenchTest_Activator::CountServiceEvent(QThread::currentThread() == QCoreApplication::instance()->thread());
}
