#ifndef QvexaWorkbenchTestView_h
#define QvexaWorkbenchTestView_h

#include <QvexaAbstractView.h>
#include <ctkServiceEvent.h>

#include <QStringList>

/**
 * A view for the workbench's tests: shows a label, listens to services of
 * "org.vexa.test.WorkbenchService", records the selections it is given and
 * can pretend to have running work.
 */
class QvexaWorkbenchTestView : public QvexaAbstractView
{
  Q_OBJECT
  Q_PROPERTY(QStringList selectedNames READ selectedNames)
  Q_PROPERTY(int selectionCalls READ selectionCalls)
  Q_PROPERTY(bool busy READ busy WRITE setBusy)
  Q_PROPERTY(bool failSelection READ failSelection WRITE setFailSelection)

public:
  QvexaWorkbenchTestView();
  ~QvexaWorkbenchTestView() override;

  QStringList selectedNames() const { return m_SelectedNames; }
  int selectionCalls() const { return m_SelectionCalls; }
  bool busy() const { return m_Busy; }
  void setBusy(bool busy) { m_Busy = busy; }
  bool failSelection() const { return m_FailSelection; }
  void setFailSelection(bool fail) { m_FailSelection = fail; }

  bool HasRunningWork() const override { return m_Busy; }

public slots:
  void OnServiceEvent(ctkServiceEvent event);

protected:
  void CreateQtPartControl(QWidget *parent) override;
  void OnNodeSelectionChanged(wick::WorkbenchPart *source, const QList<vexa::DataNode::Pointer> &nodes) override;

private:
  QStringList m_SelectedNames;
  int m_SelectionCalls = 0;
  bool m_Busy = false;
  bool m_FailSelection = false;
};

#endif
