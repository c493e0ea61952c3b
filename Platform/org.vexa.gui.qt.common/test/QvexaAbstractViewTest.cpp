#include <QvexaAbstractView.h>

#include <vexaTestQtApplication.h>

#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>

namespace
{
  void Application() { vexa::test::QtApplication::Instance(); }

  struct Host : QvexaViewHost, vexa::IRenderWindowPart
  {
    vexa::DataStorage::Pointer storage = vexa::DataStorage::New();
    QList<vexa::DataNode::Pointer> selection;
    QList<int> requests;
    vexa::DataStorage::Pointer GetDataStorage() const override { return storage; }
    QList<vexa::DataNode::Pointer> GetDataManagerSelection() const override { return selection; }
    vexa::IRenderWindowPart *GetRenderWindowPart() const override { return const_cast<Host *>(this); }
    vexa::RenderingManager *GetRenderingManager() const override { return vexa::RenderingManager::GetInstance(); }
    void RequestUpdate(int type) override { requests << type; }
  };
}

class TestView : public QvexaAbstractView
{
  Q_OBJECT
public:
  int partControls = 0;
  QList<vexa::DataNode::Pointer> seen;

protected:
  void CreateQtPartControl(QWidget *parent) override
  {
    ++partControls;
    new QLabel("view", parent);
  }
  void OnNodeSelectionChanged(wick::WorkbenchPart *, const QList<vexa::DataNode::Pointer> &nodes) override
  {
    if (nodes.isEmpty())
      throw std::runtime_error("empty selection");
    seen = nodes;
  }
};

TEST(QvexaAbstractView, HooksRunOnceAndTheirExceptionsStayInside)
{
  Application();
  QWidget parent;
  auto *view = new TestView;
  view->CreatePartControl(&parent);
  view->CreatePartControl(&parent);
  EXPECT_EQ(1, view->partControls);
  EXPECT_EQ(&parent, view->GetParentWidget());

  auto node = vexa::DataNode::New();
  EXPECT_TRUE(view->NotifyNodeSelectionChanged(nullptr, {node}));
  EXPECT_EQ(node, view->seen.value(0));
  EXPECT_FALSE(view->NotifyNodeSelectionChanged(nullptr, {})); // logged, not thrown
  EXPECT_FALSE(view->HasRunningWork());

  const long live = wick::Object::GetNumberOfLiveObjects();
  delete view;
  EXPECT_EQ(live - 1, wick::Object::GetNumberOfLiveObjects());
}

TEST(QvexaAbstractView, ReachesTheWorkbenchThroughItsHostOrStandsAlone)
{
  Application();
  TestView alone;
  ASSERT_TRUE(alone.GetDataStorage());
  EXPECT_EQ(alone.GetDataStorage(), alone.GetDataStorage()); // one storage of its own
  EXPECT_TRUE(alone.GetDataManagerSelection().isEmpty());
  EXPECT_EQ(nullptr, alone.GetRenderWindowPart());
  alone.RequestRenderWindowUpdate(); // no part: goes to the rendering manager, no crash

  Host host;
  host.selection << vexa::DataNode::New();
  TestView hosted;
  hosted.SetViewHost(&host);
  EXPECT_EQ(host.storage, hosted.GetDataStorage());
  EXPECT_EQ(host.selection, hosted.GetDataManagerSelection());
  hosted.RequestRenderWindowUpdate(1);
  hosted.RequestRenderWindowUpdate(2);
  EXPECT_EQ((QList<int>{1, 2}), host.requests);
}

#include "QvexaAbstractViewTest.moc"
