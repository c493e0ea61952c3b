#include <QvexaServiceListWidget.h>

#include <vexaTestQtApplication.h>
#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <QListWidget>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct ListTestService
{
  virtual ~ListTestService() = default;
  std::string tag;
};
US_DECLARE_SERVICE_INTERFACE(ListTestService, "org.vexa.test.ListTestService")

struct OtherTestService
{
  virtual ~OtherTestService() = default;
};
US_DECLARE_SERVICE_INTERFACE(OtherTestService, "org.vexa.test.OtherTestService")

namespace
{
  const std::string kName = "org.vexa.test.name";
  const std::string kKind = "org.vexa.test.kind";

  us::ServiceProperties Props(const std::string &name, const std::string &kind)
  {
    us::ServiceProperties p;
    if (!name.empty())
      p[kName] = name;
    p[kKind] = kind;
    return p;
  }

  /** Runs `work` on a thread of its own and waits for it. */
  template <class F>
  void OnWorker(F work)
  {
    std::thread worker(work);
    worker.join();
  }

  QStringList Texts(QvexaServiceListWidget &widget)
  {
    QStringList texts;
    auto *list = widget.findChild<QListWidget *>("m_ServiceList");
    for (int row = 0; row < list->count(); ++row)
      texts << list->item(row)->text();
    return texts;
  }

  class ServiceListWidget : public ::testing::Test
  {
  protected:
    void TearDown() override
    {
      widget.reset();
      for (auto &r : registrations)
        if (r)
          r.Unregister();
    }

    us::ServiceRegistration<ListTestService> Register(ListTestService &service, const us::ServiceProperties &props)
    {
      us::ServiceRegistration<ListTestService> r;
      OnWorker([&] { r = us::GetModuleContext()->RegisterService<ListTestService>(&service, props); });
      registrations.push_back(r);
      return r;
    }

    /** Lets the GUI thread handle what the registry posted, until `done` holds. */
    template <class P>
    bool Settle(P done)
    {
      return vexa::test::QtApplication::ProcessEventsUntil(done);
    }

    QApplication *app = vexa::test::QtApplication::Instance();
    std::unique_ptr<QvexaServiceListWidget> widget{new QvexaServiceListWidget};
    std::vector<us::ServiceRegistrationBase> registrations;
  };
}

TEST_F(ServiceListWidget, FollowsServicesThatOtherThreadsRegisterModifyAndUnregister)
{
  ListTestService a, b, c;
  widget->InitializeForInterface<ListTestService>(kName, "(" + kKind + "=probe)");
  widget->SetAutomaticallySelectFirstEntry(true);
  QSignalSpy selections(widget.get(), &QvexaServiceListWidget::ServiceSelectionChanged);
  std::vector<Qt::HANDLE> emittingThreads;
  QObject::connect(widget.get(), &QvexaServiceListWidget::ServiceSelectionChanged,
                   [&](us::ServiceReferenceU) { emittingThreads.push_back(QThread::currentThreadId()); });

  auto ra = Register(a, Props("Probe A", "probe"));
  auto rb = Register(b, Props("", "probe")); // no naming property
  auto rc = Register(c, Props("Camera C", "camera"));
  const std::string idB = std::to_string(us::any_cast<long>(rb.GetReference().GetProperty("service.id")));

  ASSERT_TRUE(Settle([&] { return Texts(*widget).size() == 2; }));
  EXPECT_EQ(QStringList({"Probe A", QString::fromStdString("Service " + idB)}), Texts(*widget));
  ASSERT_EQ(1, selections.count());
  EXPECT_EQ(ra.GetReference(), selections.last().at(0).value<us::ServiceReferenceU>());
  EXPECT_EQ(ra.GetReference(), widget->GetSelectedServiceReference());

  // a new name is shown; the selection signal stays quiet
  OnWorker([&] { ra.SetProperties(Props("Probe A2", "probe")); });
  ASSERT_TRUE(Settle([&] { return Texts(*widget).value(0) == "Probe A2"; }));
  EXPECT_EQ(1, selections.count());

  // the selected service stops matching: it leaves, the first remaining one is selected
  OnWorker([&] { ra.SetProperties(Props("Probe A2", "camera")); });
  ASSERT_TRUE(Settle([&] { return Texts(*widget).size() == 1; }));
  ASSERT_EQ(2, selections.count());
  EXPECT_EQ(rb.GetReference(), selections.last().at(0).value<us::ServiceReferenceU>());

  // a service that starts matching joins in registration order
  OnWorker([&] { rc.SetProperties(Props("Probe C", "probe")); });
  OnWorker([&] { ra.SetProperties(Props("Probe A3", "probe")); });
  ASSERT_TRUE(Settle([&] { return Texts(*widget).size() == 3; }));
  EXPECT_EQ(QStringList({"Probe A3", QString::fromStdString("Service " + idB), "Probe C"}), Texts(*widget));
  EXPECT_EQ(rb.GetReference(), widget->GetSelectedServiceReference());

  // all gone: the selection passes to the last one left, then empties with an invalid reference
  const us::ServiceReferenceU refC = rc.GetReference();
  OnWorker([&] {
    ra.Unregister();
    rb.Unregister();
    rc.Unregister();
  });
  ASSERT_TRUE(Settle([&] { return Texts(*widget).isEmpty(); }));
  ASSERT_EQ(4, selections.count());
  EXPECT_EQ(refC, selections.at(2).at(0).value<us::ServiceReferenceU>());
  EXPECT_FALSE(selections.last().at(0).value<us::ServiceReferenceU>());
  EXPECT_FALSE(widget->GetSelectedServiceReference());
  for (Qt::HANDLE thread : emittingThreads)
    EXPECT_EQ(QThread::currentThreadId(), thread);
}

TEST_F(ServiceListWidget, SelectionWithoutAutomaticFirstEntry)
{
  ListTestService a, b;
  auto ra = Register(a, Props("A", "probe"));
  auto rb = Register(b, Props("B", "probe"));
  widget->InitializeForInterface<ListTestService>(kName);
  QSignalSpy selections(widget.get(), &QvexaServiceListWidget::ServiceSelectionChanged);

  EXPECT_EQ(QStringList({"A", "B"}), Texts(*widget));
  EXPECT_FALSE(widget->GetSelectedServiceReference());
  EXPECT_EQ(nullptr, widget->GetSelectedServiceObject<ListTestService>());

  widget->findChild<QListWidget *>("m_ServiceList")->setCurrentRow(1);
  ASSERT_EQ(1, selections.count());
  EXPECT_EQ(rb.GetReference(), selections.last().at(0).value<us::ServiceReferenceU>());

  // removing the selected entry does not move the selection to a neighbour
  OnWorker([&] { rb.Unregister(); });
  ASSERT_TRUE(Settle([&] { return Texts(*widget).size() == 1; }));
  ASSERT_EQ(2, selections.count());
  EXPECT_FALSE(selections.last().at(0).value<us::ServiceReferenceU>());
  EXPECT_FALSE(widget->GetSelectedServiceReference());

  // switching the automatic selection on selects the first entry at once
  widget->SetAutomaticallySelectFirstEntry(true);
  ASSERT_EQ(3, selections.count());
  EXPECT_EQ(ra.GetReference(), widget->GetSelectedServiceReference());
}

TEST_F(ServiceListWidget, TypedHelpersHandOutTheListedObjects)
{
  ListTestService a, b;
  a.tag = "a";
  b.tag = "b";
  OtherTestService other;
  Register(a, Props("A", "probe"));
  Register(b, Props("B", "probe"));
  us::ServiceRegistrationBase otherRegistration;
  OnWorker([&] { otherRegistration = us::GetModuleContext()->RegisterService<OtherTestService>(&other); });
  registrations.push_back(otherRegistration);

  widget->InitializeForInterface<ListTestService>(kName);
  widget->SetAutomaticallySelectFirstEntry(true);
  EXPECT_EQ(&a, widget->GetSelectedServiceObject<ListTestService>());
  EXPECT_EQ(widget->GetSelectedServiceObject<ListTestService>(), widget->GetSelectedServiceObject<ListTestService>());
  EXPECT_EQ(nullptr, widget->GetSelectedServiceObject<OtherTestService>()); // not registered as that
  EXPECT_EQ((std::vector<ListTestService *>{&a, &b}), widget->GetAllServiceObjects<ListTestService>());
  EXPECT_EQ(widget->GetModuleContext(), widget->GetModuleContext());
  EXPECT_NE(us::GetModuleContext(), widget->GetModuleContext()); // the widget's own library's, not the caller's
}

TEST_F(ServiceListWidget, SettingUpAgainKeepsTheSelectionAndDropsEarlierEvents)
{
  ListTestService a, b, c;
  auto ra = Register(a, Props("A", "probe"));
  auto rb = Register(b, Props("B", "probe"));
  widget->InitializeForInterface<ListTestService>(kName, "(" + kKind + "=probe)");
  widget->findChild<QListWidget *>("m_ServiceList")->setCurrentRow(1);
  QSignalSpy selections(widget.get(), &QvexaServiceListWidget::ServiceSelectionChanged);

  // B stops matching the first set-up; that event is still queued when the
  // second set-up, which B matches, starts: it must not take B away again
  OnWorker([&] { rb.SetProperties(Props("B2", "camera")); });
  widget->InitializeForInterface<ListTestService>(kName, "(" + kKind + "=camera)");
  auto rc = Register(c, Props("C", "camera"));
  ASSERT_TRUE(Settle([&] { return Texts(*widget).size() == 2; }));
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
  EXPECT_EQ(QStringList({"B2", "C"}), Texts(*widget));
  EXPECT_EQ(rb.GetReference(), widget->GetSelectedServiceReference());
  EXPECT_EQ(0, selections.count());

  vorlen::CapturingSink log;
  widget->InitializeForInterface<ListTestService>(kName, "(" + kKind + "=camera"); // malformed
  EXPECT_TRUE(Texts(*widget).isEmpty());
  EXPECT_TRUE(log.Contains("stays empty", 2));
  ASSERT_EQ(1, selections.count());
  EXPECT_FALSE(selections.last().at(0).value<us::ServiceReferenceU>());
}

TEST_F(ServiceListWidget, ChurnOnOtherThreadsEndsInTheRegistrysState)
{
  widget->InitializeForInterface<ListTestService>(kName, "(" + kKind + "=probe)");
  widget->SetAutomaticallySelectFirstEntry(true);

  constexpr int kPerThread = 40;
  std::vector<std::unique_ptr<ListTestService>> services;
  for (int i = 0; i < 2 * kPerThread; ++i)
    services.emplace_back(new ListTestService);
  std::vector<us::ServiceRegistrationBase> kept[2];
  std::atomic<int> running{2};
  auto churn = [&](int t) {
    for (int i = 0; i < kPerThread; ++i)
    {
      const std::string name = "S" + std::to_string(t) + "-" + std::to_string(i);
      auto r = us::GetModuleContext()->RegisterService<ListTestService>(services[t * kPerThread + i].get(),
                                                                        Props(name, "probe"));
      r.SetProperties(Props(name + "'", i % 3 == 0 ? "camera" : "probe"));
      if (i % 2 == 0)
        r.Unregister();
      else
        kept[t].push_back(r);
    }
    --running;
  };
  std::thread t0(churn, 0), t1(churn, 1);
  while (running > 0)
    QCoreApplication::processEvents();
  t0.join();
  t1.join();
  for (auto &k : kept)
    registrations.insert(registrations.end(), k.begin(), k.end());

  const auto expected = us::GetModuleContext()->GetServiceReferences<ListTestService>("(" + kKind + "=probe)");
  ASSERT_TRUE(Settle([&] { return widget->GetAllServiceReferences().size() == expected.size(); }));
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(50));
  const auto listed = widget->GetAllServiceReferences();
  ASSERT_EQ(expected.size(), listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i)
  {
    EXPECT_EQ(expected[i], listed[i]);
    EXPECT_EQ(QString::fromStdString(expected[i].GetProperty(kName).ToString()), Texts(*widget).value(int(i)));
  }
  // an entry that arrived later may sort above the selected one; the selection stays on a listed service
  EXPECT_NE(-1, widget->GetRowOfService(widget->GetSelectedServiceReference()));
}

TEST_F(ServiceListWidget, DestroyedWhileAnotherThreadKeepsChangingTheRegistry)
{
  widget->InitializeForInterface<ListTestService>(kName);
  ListTestService service;
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop)
    {
      auto r = us::GetModuleContext()->RegisterService<ListTestService>(&service, Props("X", "probe"));
      r.SetProperties(Props("Y", "probe"));
      r.Unregister();
    }
  });
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));
  widget.reset(); // listener removed while events are in flight; queued ones must not reach the dead widget
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));
  stop = true;
  worker.join();
  QCoreApplication::processEvents();
}
