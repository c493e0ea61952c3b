#include <vexaQtEventBridge.h>

#include <vexaDataNode.h>
#include <vexaDataStorage.h>
#include <vexaObserverList.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>
#include <usServiceInterface.h>

#include <vorlenLogSink.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

struct vexaBridgeTestService
{
  virtual ~vexaBridgeTestService() = default;
};
US_DECLARE_SERVICE_INTERFACE(vexaBridgeTestService, "org.vexa.test.BridgeService")

namespace
{
  class App : public ::testing::Test
  {
  protected:
    App() : m_App(m_Argc, m_Argv) {}

    /** Runs the event loop until `condition` holds or 10 s passed. */
    template <class F>
    bool ProcessUntil(F condition)
    {
      QElapsedTimer timer;
      timer.start();
      while (!condition() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      return condition();
    }

    /** Lets every queued call run (one round is enough for posted events). */
    void Drain()
    {
      for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    }

  private:
    int m_Argc = 1;
    char m_Name[5] = "test";
    char *m_Argv[1] = {m_Name};
    QCoreApplication m_App;
  };

  class ServiceImpl : public vexaBridgeTestService
  {
  };
}

TEST_F(App, CallsPostedFromAnyThreadRunOnTheReceiversThread)
{
  QThread thread;
  thread.start();
  auto *receiver = new QObject;
  receiver->moveToThread(&thread);
  vexa::QtEventBridge bridge(receiver);

  std::atomic<int> ran{0}, wrongThread{0};
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      EXPECT_TRUE(bridge.Post([&] {
        if (QThread::currentThread() != &thread)
          ++wrongThread;
        ++ran;
      }));
  });
  poster.join();
  EXPECT_TRUE(ProcessUntil([&] { return ran == 100; }));
  EXPECT_EQ(wrongThread, 0);

  // a thread that ends deletes what was handed to deleteLater
  receiver->deleteLater();
  thread.quit();
  thread.wait();
  EXPECT_FALSE(bridge.IsOpen());
  EXPECT_FALSE(bridge.Post([] {}));
}

TEST_F(App, QueuedCallsAreDroppedOnceTheReceiverIsGoneOrTheBridgeCloses)
{
  int closed = 0;
  int ran = 0;
  auto *receiver = new QObject;
  vexa::QtEventBridge bridge(receiver, [&] { ++closed; });
  ASSERT_TRUE(bridge.Post([&] { ++ran; }));
  delete receiver;
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(bridge.Post([&] { ++ran; }));
  Drain();
  EXPECT_EQ(ran, 0);

  QObject other;
  vexa::QtEventBridge second(&other, [&] { ++closed; });
  vexa::QtEventBridge copy = second; // copies share the state
  ASSERT_TRUE(copy.Post([&] { ++ran; }));
  second.Close();
  second.Close();
  EXPECT_EQ(closed, 2);
  EXPECT_FALSE(copy.IsOpen());
  Drain();
  EXPECT_EQ(ran, 0);

  EXPECT_FALSE(vexa::QtEventBridge().Post([&] { ++ran; }));
  EXPECT_FALSE(vexa::QtEventBridge(nullptr).Post([&] { ++ran; }));
}

TEST_F(App, AnExceptionOfACallIsLoggedAndTheNextCallsRun)
{
  vorlen::CapturingSink sink;
  QObject receiver;
  vexa::QtEventBridge bridge(&receiver);
  int ran = 0;
  bridge.Post([] { throw std::runtime_error("slot failed"); });
  bridge.Post([&] { ++ran; });
  EXPECT_TRUE(ProcessUntil([&] { return ran == 1; }));
  EXPECT_TRUE(sink.Contains("slot failed", 2));
}

TEST_F(App, EventsOfAListFiredOnWorkersArriveOnTheGuiThreadUntilTheReceiverGoes)
{
  vexa::ObserverList list;
  auto *receiver = new QObject;
  std::vector<std::string> seen;
  std::atomic<int> offThread{0};
  vexa::QtEventConnection connection =
    vexa::ForwardEvent(list, itk::AnyEvent(), receiver, [&](const itk::EventObject &event) {
      if (QThread::currentThread() != QCoreApplication::instance()->thread())
        ++offThread;
      seen.push_back(event.GetEventName());
    });
  EXPECT_TRUE(connection.IsConnected());

  std::thread worker([&] {
    list.InvokeEvent(itk::ModifiedEvent());
    list.InvokeEvent(itk::StartEvent());
  });
  worker.join();
  EXPECT_TRUE(seen.empty()) << "delivery is queued, never on the firing thread";
  EXPECT_TRUE(ProcessUntil([&] { return seen.size() == 2; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"ModifiedEvent", "StartEvent"}));
  EXPECT_EQ(offThread, 0);

  // a queued event dies with the receiver, and the observer leaves the list
  list.InvokeEvent(itk::EndEvent());
  delete receiver;
  EXPECT_FALSE(list.HasObserver(itk::AnyEvent()));
  EXPECT_FALSE(connection.IsConnected());
  Drain();
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(App, AForwardedEventKeepsItsData)
{
  // the data storage's events are handed on with their node, which the slot may want to compare
  vexa::ObserverList list;
  QObject receiver;
  vexa::DataNode::Pointer node = vexa::DataNode::New();
  const vexa::DataNode *forwarded = nullptr;
  std::string name;
  vexa::QtEventConnection connection =
    vexa::ForwardEvent(list, vexa::DataStorage::NodeEvent(), &receiver, [&](const itk::EventObject &event) {
      name = event.GetEventName();
      if (const auto *removal = dynamic_cast<const vexa::DataStorage::RemoveNodeEvent *>(&event))
        forwarded = removal->GetNode();
    });
  std::thread worker([&] { list.InvokeEvent(vexa::DataStorage::RemoveNodeEvent(node, nullptr)); });
  worker.join();
  EXPECT_TRUE(ProcessUntil([&] { return !name.empty(); }));
  EXPECT_EQ(name, "RemoveNodeEvent");
  EXPECT_EQ(forwarded, node.GetPointer());
}

TEST_F(App, DisconnectingRemovesTheObserverAndDropsQueuedEvents)
{
  vexa::ObserverList list;
  QObject receiver;
  int seen = 0;
  {
    vexa::QtEventConnection connection =
      vexa::ForwardEvent(list, itk::ModifiedEvent(), &receiver, [&](const itk::EventObject &) { ++seen; });
    vexa::QtEventConnection moved = std::move(connection);
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_TRUE(moved.IsConnected());
    list.InvokeEvent(itk::ModifiedEvent());
  } // the handle goes: disconnected
  EXPECT_FALSE(list.HasObserver(itk::ModifiedEvent()));
  Drain();
  EXPECT_EQ(seen, 0);
  EXPECT_FALSE(vexa::ForwardEvent(list, itk::ModifiedEvent(), nullptr, {}).IsConnected());
  EXPECT_FALSE(list.HasObserver(itk::ModifiedEvent()));
}

TEST_F(App, AnItkObjectsEventsAreForwardedAndItIsKeptUntilTheConnectionEnds)
{
  itk::Object::Pointer source = itk::Object::New();
  const int references = source->GetReferenceCount();
  int modified = 0;
  {
    QObject receiver;
    vexa::QtEventConnection connection = vexa::ForwardEvent(source.GetPointer(), itk::ModifiedEvent(), &receiver,
                                                            [&](const itk::EventObject &) { ++modified; });
    EXPECT_GT(source->GetReferenceCount(), references);
    source->Modified();
    EXPECT_EQ(modified, 0);
    EXPECT_TRUE(ProcessUntil([&] { return modified == 1; }));
  }
  EXPECT_FALSE(source->HasObserver(itk::ModifiedEvent()));
  EXPECT_EQ(source->GetReferenceCount(), references);
}

TEST_F(App, FiringWhileTheReceiverIsDestroyedNeverReachesIt)
{
  // workers fire continuously while receivers come and go on the GUI thread
  vexa::ObserverList list;
  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  for (int i = 0; i < 2; ++i)
    workers.emplace_back([&] {
      while (!stop)
        list.InvokeEvent(itk::ModifiedEvent());
    });
  auto late = std::make_shared<std::atomic<int>>(0);
  for (int round = 0; round < 50; ++round)
  {
    auto *receiver = new QObject;
    auto alive = std::make_shared<bool>(true);
    vexa::QtEventConnection connection =
      vexa::ForwardEvent(list, itk::ModifiedEvent(), receiver, [alive, late](const itk::EventObject &) {
        if (!*alive)
          ++*late;
      });
    QCoreApplication::processEvents();
    *alive = false;
    delete receiver;
    QCoreApplication::processEvents();
  }
  stop = true;
  for (auto &w : workers)
    w.join();
  Drain();
  EXPECT_EQ(*late, 0);
  EXPECT_FALSE(list.HasObserver(itk::ModifiedEvent()));
}

TEST_F(App, RegistryListenerCallsArriveOnTheGuiThreadWhileTheReceiverLives)
{
  us::ModuleContext *context = us::GetModuleContext();
  auto *receiver = new QObject;
  std::vector<int> types;
  std::atomic<int> offThread{0};
  us::ListenerToken token = context->AddServiceListener(
    vexa::MakeQueuedServiceListener(receiver,
                                    [&](const us::ServiceEvent &event) {
                                      if (QThread::currentThread() != QCoreApplication::instance()->thread())
                                        ++offThread;
                                      types.push_back(event.GetType());
                                    }),
    "(objectclass=org.vexa.test.BridgeService)");

  ServiceImpl service;
  std::thread worker([&] {
    auto registration = context->RegisterService<vexaBridgeTestService>(&service);
    registration.Unregister();
  });
  worker.join();
  EXPECT_TRUE(types.empty());
  EXPECT_TRUE(ProcessUntil([&] { return types.size() == 2; }));
  EXPECT_EQ(types, (std::vector<int>{us::ServiceEvent::REGISTERED, us::ServiceEvent::UNREGISTERING}));
  EXPECT_EQ(offThread, 0);

  delete receiver;
  auto registration = context->RegisterService<vexaBridgeTestService>(&service);
  registration.Unregister();
  Drain();
  EXPECT_EQ(types.size(), 2u) << "no call reaches a receiver that is gone";
  context->RemoveServiceListener(token);
}
