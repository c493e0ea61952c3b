// The activator's own contract, checked with the very objects the plug-in is
// made of (the plug-in as the workbench loads it: host/vexaTirrickHostTest.cpp).

#include "QvexaUltrasoundSupport.h"
#include "vexaTirrickActivator.h"

#include <ctkPluginContext.h>
#include <usGetModuleContext.h>
#include <wickExtensionType.h>

#include <vexaTestQtApplication.h>

#include <gtest/gtest.h>

TEST(TirrickActivator, KeepsTheContextWhileStartedAndRegistersTheViewClass)
{
  vexa::test::QtApplication::Instance();
  EXPECT_EQ(nullptr, vexa::Tirrick_Activator::GetContext());
  ctkPluginContext context(us::GetModuleContext(), "org.vexa.gui.qt.ultrasound");
  vexa::Tirrick_Activator activator;
  activator.start(&context);
  EXPECT_EQ(&context, vexa::Tirrick_Activator::GetContext());

  // the name registered is plugin.xml's "class"
  QObject *made = wick::ExtensionType::construct(wick::ExtensionType::type("QvexaUltrasoundSupport"));
  ASSERT_NE(nullptr, made);
  EXPECT_NE(nullptr, qobject_cast<QvexaUltrasoundSupport *>(made));
  vexa::DeleteUltrasoundSupportView(made);
  vexa::DeleteUltrasoundSupportView(nullptr);

  activator.stop(&context);
  EXPECT_EQ(nullptr, vexa::Tirrick_Activator::GetContext());
  EXPECT_NE(nullptr, activator.qt_metacast("org.commontk.pluginfw.pluginactivator"));
}
