#include <vexaInteractionEvents.h>
#include <vexaCoreEventHosts.h>

#include <gtest/gtest.h>

#include <itkCommand.h>
#include <itkObject.h>

#include <memory>

using namespace vexa;

TEST(EventClasses, CheckEventMatchesTheClassAndItsSubclassesOnly)
{
  struct Row
  {
    const itk::EventObject &registered;
    const itk::EventObject &fired;
    bool expected;
  };
  const PointSetSizeChangeEvent sizeChange;
  const PointSetAddEvent add;
  const PointSetRemoveEvent remove;
  const PointSetMoveEvent move;
  const PointSetEvent pointSet;
  const DataInteractorEvent interactor;
  const StartInteraction start;
  const ResultReady ready;
  const RenderingManagerEvent rendering;
  const RenderingManagerViewsInitializedEvent initialized;
  const Row rows[] = {
    {sizeChange, add, true},  {sizeChange, remove, true},   {sizeChange, move, false}, {sizeChange, pointSet, false},
    {add, sizeChange, false}, {interactor, start, true},    {interactor, ready, true}, {rendering, initialized, true},
    {start, ready, false},    {pointSet, rendering, false},
  };
  for (const Row &r : rows)
    EXPECT_EQ(r.expected, r.registered.CheckEvent(&r.fired))
      << r.registered.GetEventName() << " fired " << r.fired.GetEventName();
  EXPECT_FALSE(add.CheckEvent(nullptr));
  EXPECT_TRUE(itk::AnyEvent().CheckEvent(&add));
}

TEST(EventClasses, MakeObjectAnswersLikeTheOriginal)
{
  const PointSetAddEvent add;
  std::unique_ptr<itk::EventObject> made(add.MakeObject());
  ASSERT_NE(&add, made.get());
  EXPECT_STREQ("PointSetAddEvent", made->GetEventName());
  EXPECT_TRUE(made->CheckEvent(&add));
  const PointSetSizeChangeEvent sizeChange;
  EXPECT_FALSE(made->CheckEvent(&sizeChange));
}

TEST(EventClasses, NestedEventsAreNamedByTheirInnerClassAndStayDistinct)
{
  const SliceNavigationController::UpdateEvent update;
  const DataNode::InteractorChangedEvent changed;
  const BaseRenderer::RendererResetEvent reset;
  EXPECT_STREQ("UpdateEvent", update.GetEventName());
  EXPECT_STREQ("InteractorChangedEvent", changed.GetEventName());
  EXPECT_STREQ("RendererResetEvent", reset.GetEventName());
  EXPECT_FALSE(update.CheckEvent(&changed));
  EXPECT_FALSE(changed.CheckEvent(&reset));
  EXPECT_TRUE(update.CheckEvent(&update));
}

namespace
{
  struct Counter
  {
    int calls = 0;
    void Call() { ++calls; }
  };
}

TEST(EventClasses, ObserverReceivesSubclassEventsThroughItk)
{
  itk::Object::Pointer subject = itk::Object::New();
  Counter counter;
  auto command = itk::SimpleMemberCommand<Counter>::New();
  command->SetCallbackFunction(&counter, &Counter::Call);
  subject->AddObserver(PointSetSizeChangeEvent(), command);
  subject->InvokeEvent(PointSetAddEvent());
  subject->InvokeEvent(PointSetMoveEvent());
  subject->InvokeEvent(PointSetRemoveEvent());
  EXPECT_EQ(2, counter.calls);
}
