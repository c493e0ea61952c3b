#include <QvexaUSAbstractCustomWidget.h>

#include <vexaTestQtApplication.h>
#include <vexaUSDeviceTestSupport.h>
#include <vorlenLogSink.h>

#include <usGetModuleContext.h>
#include <usModule.h>
#include <usModuleActivator.h>
#include <usModuleContext.h>
#include <usModuleRegistry.h>

#include <QApplication>
#include <QPointer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// The library's activator, as the registry finds it.
extern "C" us::ModuleActivator *_us_module_activator_instance_Parmody();

namespace
{
  std::string DeviceClassOf(const us::ServiceReferenceU &reference)
  {
    return reference.GetProperty(QvexaUSAbstractCustomWidget::US_DEVICE_PROPKEY_CLASS()).ToString();
  }

  class ParmodyModule : public ::testing::Test
  {
  protected:
    QApplication *app = vexa::test::QtApplication::Instance();
    us::Module *module = us::ModuleRegistry::GetModule("Parmody");
    us::ModuleContext *context = us::GetModuleContext();

    void TearDown() override
    {
      if (module && module->IsStarted())
        module->Stop();
    }

    std::vector<us::ServiceReferenceU> Panels()
    {
      return context->GetServiceReferences(us_service_interface_iid<QvexaUSAbstractCustomWidget>());
    }
  };
}

TEST_F(ParmodyModule, StartingRegistersOnePrototypePerDeviceClass)
{
  ASSERT_NE(nullptr, module);
  ASSERT_TRUE(Panels().empty());
  ASSERT_TRUE(module->Start());

  const std::vector<us::ServiceReferenceU> panels = Panels();
  ASSERT_EQ(2u, panels.size());
  std::vector<std::string> classes;
  std::vector<long> ids;
  for (const auto &reference : panels)
  {
    classes.push_back(DeviceClassOf(reference));
    ids.push_back(us::any_cast<long>(reference.GetProperty("service.id")));
  }
  if (ids[0] > ids[1])
  {
    std::swap(classes[0], classes[1]);
    std::swap(ids[0], ids[1]);
  }
  // the video panel registered first
  EXPECT_EQ(std::vector<std::string>({"org.vexa.modules.us.USVideoDevice", "org.vexa.modules.us.USDiPhASDevice"}),
            classes);

  // what a view does: the prototype for the device's class, a copy under its own widget
  auto device = vexa::test::USTestDiPhASDevice::New();
  const auto found = context->GetServiceReferences<QvexaUSAbstractCustomWidget>(
    "(" + QvexaUSAbstractCustomWidget::US_DEVICE_PROPKEY_CLASS() + "=" + device->GetDeviceClass() + ")");
  ASSERT_EQ(1u, found.size());
  QvexaUSAbstractCustomWidget *prototype = context->GetService(found.front());
  ASSERT_NE(nullptr, prototype);
  EXPECT_EQ(nullptr, prototype->parentWidget());
  EXPECT_TRUE(prototype->GetDevice().IsNull());

  QWidget host;
  QvexaUSAbstractCustomWidget *copy = prototype->CloneForQt(&host);
  copy->SetDevice(device.GetPointer());
  vorlen::CapturingSink log;
  host.show();
  prototype->show();
  vexa::test::QtApplication::ProcessEventsFor(std::chrono::milliseconds(20));
  EXPECT_TRUE(copy->isVisible());
  EXPECT_FALSE(prototype->isVisible());
  EXPECT_EQ(std::vector<std::string>{"Object wasn't cloned with CloneForQt() before using as QWidget."}, log.Texts(2));
  EXPECT_FALSE(device->GetDiPhASControls()->Record.Calls().empty());
  context->UngetService(found.front());
}

TEST_F(ParmodyModule, UnloadWithdrawsAndDeletesThePrototypesAndCanStartAgain)
{
  ASSERT_NE(nullptr, module);
  for (int round = 0; round < 2; ++round)
  {
    SCOPED_TRACE(round);
    ASSERT_TRUE(module->Start());
    std::vector<QPointer<QvexaUSAbstractCustomWidget>> prototypes;
    for (const auto &reference : Panels())
    {
      prototypes.emplace_back(static_cast<QvexaUSAbstractCustomWidget *>(
        context->GetService(us::ServiceReference<QvexaUSAbstractCustomWidget>(reference))));
      context->UngetService(reference);
    }
    ASSERT_EQ(2u, prototypes.size());

    // the activator itself withdraws what it registered, before the registry would
    _us_module_activator_instance_Parmody()->Unload(module->GetModuleContext());
    EXPECT_TRUE(Panels().empty());
    for (const auto &prototype : prototypes)
      EXPECT_TRUE(prototype.isNull());

    _us_module_activator_instance_Parmody()->Unload(module->GetModuleContext()); // nothing left to do
    EXPECT_TRUE(module->Stop());
    EXPECT_TRUE(Panels().empty());
  }
}
