// The test plug-in's own tests, linked with the very objects the plug-in is
// made of: what a plug-in hands to the workbench, checked without loading it.

#include "QvexaWorkbenchTestView.h"
#include "vexaWorkbenchTestActivator.h"

#include <vexaWorkbenchPlugin.h>

#include <ctkPluginContext.h>
#include <usGetModuleContext.h>
#include <vexaTestQtApplication.h>
#include <wickExtensionType.h>
#include <wickObject.h>

#include <QFile>

#include <gtest/gtest.h>

extern "C" QObject *qt_plugin_instance();

TEST(WorkbenchTestPlugin, OneActivatorThatKeepsItsContextWhileStarted)
{
  vexa::test::QtApplication::Instance();
  QObject *instance = qt_plugin_instance();
  ASSERT_NE(nullptr, instance);
  EXPECT_EQ(instance, qt_plugin_instance());
  auto *activator = qobject_cast<ctkPluginActivator *>(instance);
  ASSERT_NE(nullptr, activator);

  EXPECT_EQ(nullptr, vexa::WorkbenchTest_Activator::GetContext());
  ctkPluginContext context(us::GetModuleContext(), "org.vexa.test.workbench");
  activator->start(&context);
  EXPECT_EQ(&context, vexa::WorkbenchTest_Activator::GetContext());
  activator->stop(&context);
  EXPECT_EQ(nullptr, vexa::WorkbenchTest_Activator::GetContext());
}

TEST(WorkbenchTestPlugin, RegistersTheClassThatPluginXmlDeclares)
{
  vexa::test::QtApplication::Instance();
  QFile xml(":/org.vexa.test.workbench/plugin.xml");
  ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
  QString error;
  const QList<vexa::ViewDeclaration> views = vexa::WorkbenchPlugin::ParseViewDeclarations(xml.readAll(), &error);
  ASSERT_EQ(1, views.size()) << error.toStdString();

  ctkPluginContext context(us::GetModuleContext(), "org.vexa.test.workbench");
  auto *activator = qobject_cast<ctkPluginActivator *>(qt_plugin_instance());
  activator->start(&context);
  const int type = wick::ExtensionType::type(views.front().className.toLatin1().constData());
  ASSERT_GT(type, 0);

  const long live = wick::Object::GetNumberOfLiveObjects();
  QObject *view = wick::ExtensionType::construct(type);
  EXPECT_NE(nullptr, qobject_cast<QvexaWorkbenchTestView *>(view));
  EXPECT_EQ(live + 1, wick::Object::GetNumberOfLiveObjects());
  EXPECT_TRUE(wick::ExtensionType::destroy(type, view));
  EXPECT_EQ(live, wick::Object::GetNumberOfLiveObjects());
  EXPECT_TRUE(wick::ExtensionType::destroy(type, nullptr)); // the deleter takes a null pointer
  activator->stop(&context);
}
