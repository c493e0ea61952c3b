#include <ctkPluginContext.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <vexaTestQtApplication.h>

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace
{
  void Application() { vexa::test::QtApplication::Instance(); }

  struct Record
  {
    int calls = 0;
    QList<ctkServiceEvent::Type> types;
    bool onOwnThread = true;
  };
}

class QtService : public QObject
{
  Q_OBJECT
};

class PlainService
{
public:
  virtual ~PlainService() = default;
};

class Receiver : public QObject
{
  Q_OBJECT
public:
  explicit Receiver(std::shared_ptr<Record> record) : m_Record(std::move(record)) {}

public slots:
  void OnServiceEvent(ctkServiceEvent event)
  {
    ++m_Record->calls;
    m_Record->types << event.getType();
    m_Record->onOwnThread = m_Record->onOwnThread && QThread::currentThread() == thread();
    if (event.getServiceReference().getProperty("throw").toBool())
      throw std::runtime_error("a listener that fails");
  }

private:
  std::shared_ptr<Record> m_Record;
};

TEST(ctkPluginContext, ServicesOfQtClassesComeAsQObjectsWithTheirProperties)
{
  Application();
  us::ModuleContext *registry = us::GetModuleContext();
  ctkPluginContext context(registry, "org.vexa.test");

  QtService qtService;
  us::ServiceProperties properties;
  properties["text"] = std::string("Manufacturer");
  properties["flag"] = true;
  properties["number"] = 2.5;
  properties["count"] = 7;
  properties["names"] = std::vector<std::string>{"a", "b"};
  auto qtRegistration = registry->RegisterService<QtService>(&qtService, properties);
  PlainService plain;
  auto plainRegistration = registry->RegisterService<PlainService>(&plain);

  const QList<ctkServiceReference> references = context.getServiceReferences("QtService", "(flag=true)");
  ASSERT_EQ(1, references.size());
  const ctkServiceReference reference = references.front();
  EXPECT_EQ(&qtService, context.getService(reference));
  EXPECT_EQ(&qtService, context.getService<QtService>(reference));
  EXPECT_TRUE(context.ungetService(reference));
  EXPECT_TRUE(context.ungetService(reference));
  EXPECT_FALSE(context.ungetService(reference)); // two uses only

  struct Case
  {
    const char *key;
    QVariant expected;
  };
  for (const Case &c : {Case{"text", QString("Manufacturer")}, Case{"TEXT", QString("Manufacturer")},
                        Case{"flag", true}, Case{"number", 2.5}, Case{"count", 7}, Case{"names", QStringList{"a", "b"}},
                        Case{"objectclass", QStringList{"QtService"}}, Case{"missing", QVariant()}})
    EXPECT_EQ(c.expected, reference.getProperty(c.key)) << c.key;

  const ctkServiceReference plainReference = context.getServiceReference("PlainService");
  ASSERT_TRUE(plainReference);
  EXPECT_EQ(nullptr, context.getService(plainReference)); // not a QObject
  EXPECT_FALSE(context.ungetService(plainReference));
  EXPECT_FALSE(context.getServiceReference("Nothing"));

  qtRegistration.Unregister();
  plainRegistration.Unregister();
  EXPECT_FALSE(reference);
  EXPECT_EQ(nullptr, context.getService(reference));
  EXPECT_EQ(QString("Manufacturer"), reference.getProperty("text")); // the last properties stay
}

TEST(ctkPluginContext, ListenersAreCalledOnTheReceiversThreadAndNeverAfterItIsGone)
{
  Application();
  us::ModuleContext *registry = us::GetModuleContext();
  ctkPluginContext context(registry, "org.vexa.test");
  auto record = std::make_shared<Record>();
  auto receiver = std::make_unique<Receiver>(record);
  context.connectServiceListener(receiver.get(), "OnServiceEvent", "(objectclass=QtService)");

  QtService service;
  // registered, modified and unregistered on a worker thread
  std::thread worker([&] {
    us::ServiceProperties properties;
    properties["n"] = 1;
    auto registration = registry->RegisterService<QtService>(&service, properties);
    properties["n"] = 2;
    registration.SetProperties(properties);
    registration.Unregister();
    PlainService other; // another class: filtered out
    registry->RegisterService<PlainService>(&other).Unregister();
  });
  worker.join();
  EXPECT_EQ(0, record->calls); // nothing on the worker thread
  QCoreApplication::processEvents();
  EXPECT_EQ(3, record->calls);
  EXPECT_EQ((QList<ctkServiceEvent::Type>{ctkServiceEvent::REGISTERED, ctkServiceEvent::MODIFIED,
                                          ctkServiceEvent::UNREGISTERING}),
            record->types);
  EXPECT_EQ(2, static_cast<int>(ctkServiceEvent::MODIFIED));
  EXPECT_TRUE(record->onOwnThread);

  // a listener that throws: logged, the next event is still delivered
  us::ServiceProperties failing;
  failing["throw"] = true;
  registry->RegisterService<QtService>(&service, failing).Unregister();
  QCoreApplication::processEvents();
  EXPECT_EQ(5, record->calls);

  // events posted, then the receiver dies before they are delivered
  registry->RegisterService<QtService>(&service).Unregister();
  receiver.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(5, record->calls);
  registry->RegisterService<QtService>(&service).Unregister();
  QCoreApplication::processEvents();
  EXPECT_EQ(5, record->calls);
}

TEST(ctkPluginContext, AStoppedPluginsContextDeliversNothingAndRefusesWork)
{
  Application();
  us::ModuleContext *registry = us::GetModuleContext();
  ctkPluginContext context(registry, "org.vexa.test");
  auto record = std::make_shared<Record>();
  Receiver receiver(record);

  EXPECT_THROW(context.connectServiceListener(&receiver, "NoSuchSlot"), std::invalid_argument);
  EXPECT_THROW(context.connectServiceListener(&receiver, "OnServiceEvent", "(broken"), std::invalid_argument);
  context.connectServiceListener(&receiver, SLOT(OnServiceEvent(ctkServiceEvent)));

  QtService service;
  registry->RegisterService<QtService>(&service).Unregister();
  context.invalidate(); // after the events were posted, before they ran
  QCoreApplication::processEvents();
  EXPECT_EQ(0, record->calls);
  EXPECT_FALSE(context.isValid());
  EXPECT_THROW(context.getServiceReferences("QtService"), std::logic_error);
  EXPECT_THROW(context.connectServiceListener(&receiver, "OnServiceEvent"), std::logic_error);
}

#include "ctkPluginContextTest.moc"
