#include <QvexaUSAbstractCustomWidget.h>

#include <vexaTestQtApplication.h>
#include <vexaUSDeviceTestSupport.h>
#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <QApplication>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace
{
  const char *const kNotCloned = "Object wasn't cloned with CloneForQt() before using as QWidget.";

  /** A panel that counts what the base class calls on it. */
  class CountingPanel : public QvexaUSAbstractCustomWidget
  {
  public:
    explicit CountingPanel(QWidget *parent = nullptr) : QvexaUSAbstractCustomWidget(parent) {}

    void OnDeviceSet() override { ++deviceSets; }
    std::string GetDeviceClass() const override { return "org.vexa.modules.us.USTestDevice"; }
    QvexaUSAbstractCustomWidget *Clone(QWidget *parent) const override
    {
      auto *copy = new CountingPanel(parent);
      copy->SetDevice(this->GetDevice());
      return copy;
    }
    void Initialize() override
    {
      ++initializations;
      new QVBoxLayout(this);
    }

    int deviceSets = 0;
    int initializations = 0;
  };

  class CustomPanel : public ::testing::Test
  {
  protected:
    QApplication *app = vexa::test::QtApplication::Instance();
  };
}

TEST_F(CustomPanel, CloneForQtMakesAnInitialisedCopyUnderTheParentThatHasTheDevice)
{
  QWidget host;
  CountingPanel bare;
  std::unique_ptr<CountingPanel> copy(static_cast<CountingPanel *>(bare.CloneForQt(&host)));
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(&host, copy->parentWidget());
  EXPECT_TRUE(copy->GetDevice().IsNull());
  EXPECT_EQ(1, copy->initializations);
  EXPECT_EQ(0, copy->deviceSets);
  EXPECT_EQ(0, bare.initializations); // the prototype is left as it was

  auto device = vexa::test::USTestDevice::New();
  CountingPanel prototype;
  prototype.SetDevice(device.GetPointer());
  std::unique_ptr<CountingPanel> withDevice(static_cast<CountingPanel *>(prototype.CloneForQt()));
  EXPECT_EQ(device.GetPointer(), withDevice->GetDevice().GetPointer());
  EXPECT_EQ(1, withDevice->deviceSets);
  EXPECT_EQ(nullptr, withDevice->parentWidget());
}

TEST_F(CustomPanel, OnlyCopiesMadeForQtAreShown)
{
  // top level, inside a parent that is shown, and shown explicitly inside a parent
  for (const bool asChild : {false, true})
  {
    SCOPED_TRACE(asChild ? "child" : "top level");
    QWidget parent;
    new QVBoxLayout(&parent);
    CountingPanel prototype;
    CountingPanel *copy = static_cast<CountingPanel *>(prototype.CloneForQt(asChild ? &parent : nullptr));
    std::unique_ptr<QvexaUSAbstractCustomWidget> cloneOnly(prototype.Clone(asChild ? &parent : nullptr));
    std::unique_ptr<CountingPanel> ownedCopy(asChild ? nullptr : copy);
    if (asChild)
    {
      prototype.setParent(&parent);
      parent.layout()->addWidget(&prototype);
      parent.layout()->addWidget(copy);
    }

    vorlen::CapturingSink log;
    if (asChild)
      parent.show();
    else
    {
      prototype.show();
      copy->show();
    }
    cloneOnly->show();
    vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));

    EXPECT_FALSE(prototype.isVisible());
    EXPECT_FALSE(cloneOnly->isVisible());
    EXPECT_TRUE(copy->isVisible());
    if (!asChild)
    {
      EXPECT_FALSE(prototype.windowHandle() && prototype.windowHandle()->isVisible());
      EXPECT_TRUE(copy->windowHandle() && copy->windowHandle()->isVisible());
    }
    const std::vector<std::string> errors = log.Texts(2);
    EXPECT_EQ(std::vector<std::string>(2, kNotCloned), errors);

    // hidden for good: showing the parent again does not bring the prototype back
    if (asChild)
    {
      parent.hide();
      parent.show();
      vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));
      EXPECT_FALSE(prototype.isVisible());
      EXPECT_TRUE(copy->isVisible());
      prototype.setParent(nullptr);
    }
  }
}

TEST_F(CustomPanel, SetDeviceKeepsOneReferenceAndTellsThePanel)
{
  auto first = vexa::test::USTestDevice::New();
  auto second = vexa::test::USTestDevice::New();
  const int baseFirst = first->GetReferenceCount();
  const int baseSecond = second->GetReferenceCount();
  {
    CountingPanel panel;
    panel.SetDevice(first.GetPointer());
    panel.SetDevice(first.GetPointer()); // the same again is told again
    EXPECT_EQ(2, panel.deviceSets);
    EXPECT_EQ(baseFirst + 1, first->GetReferenceCount());

    panel.SetDevice(second.GetPointer());
    EXPECT_EQ(baseFirst, first->GetReferenceCount());
    EXPECT_EQ(baseSecond + 1, second->GetReferenceCount());

    panel.SetDevice(nullptr);
    EXPECT_EQ(3, panel.deviceSets);
    EXPECT_TRUE(panel.GetDevice().IsNull());
    EXPECT_EQ(baseSecond, second->GetReferenceCount());

    panel.SetDevice(second.GetPointer());
  }
  EXPECT_EQ(baseSecond, second->GetReferenceCount()); // released by the destructor
}

TEST_F(CustomPanel, ServiceIdentityFindsThePanelForADeviceClass)
{
  EXPECT_EQ("org.vexa.QvexaUSAbstractCustomWidget", us_service_interface_iid<QvexaUSAbstractCustomWidget>());

  std::vector<std::string> keys(8);
  std::vector<std::thread> threads;
  for (auto &key : keys)
    threads.emplace_back([&key] { key = QvexaUSAbstractCustomWidget::US_DEVICE_PROPKEY_CLASS(); });
  for (auto &t : threads)
    t.join();
  EXPECT_EQ(std::vector<std::string>(8, "org.vexa.services.UltrasoundCustomWidget.deviceClass"), keys);

  CountingPanel prototype;
  const us::ServiceProperties properties = prototype.GetServiceProperties();
  ASSERT_EQ(1u, properties.size());
  const us::Any &value = properties.at(QvexaUSAbstractCustomWidget::US_DEVICE_PROPKEY_CLASS());
  ASSERT_EQ(typeid(std::string), value.Type());
  EXPECT_EQ("org.vexa.modules.us.USTestDevice", value.ToString());

  // what a view does with it: look the panel up by the device's class, show a copy with the device
  us::ModuleContext *context = us::GetModuleContext();
  auto registration = context->RegisterService<QvexaUSAbstractCustomWidget>(&prototype, properties);
  auto device = vexa::test::USTestDevice::New();
  const auto references = context->GetServiceReferences<QvexaUSAbstractCustomWidget>(
    "(" + QvexaUSAbstractCustomWidget::US_DEVICE_PROPKEY_CLASS() + "=" + device->GetDeviceClass() + ")");
  ASSERT_EQ(1u, references.size());
  QvexaUSAbstractCustomWidget *found = context->GetService(references.front());
  ASSERT_EQ(&prototype, found);
  QWidget host;
  new QVBoxLayout(&host);
  QvexaUSAbstractCustomWidget *copy = found->CloneForQt(&host);
  copy->SetDevice(device.GetPointer());
  host.layout()->addWidget(copy);
  vorlen::CapturingSink log;
  host.show();
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));
  EXPECT_TRUE(copy->isVisible());
  EXPECT_TRUE(log.Texts(2).empty());
  context->UngetService(references.front());
  registration.Unregister();
}
