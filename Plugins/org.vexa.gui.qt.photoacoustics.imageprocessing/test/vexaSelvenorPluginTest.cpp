// What the plug-in hands to the workbench, checked with the very objects it
// is made of: the single activator, the registered view class, the
// embedded resources.

#include "PAImageProcessing.h"
#include "vexaSelvenorActivator.h"

#include <vexaWorkbenchPlugin.h>

#include <ctkPluginContext.h>
#include <usGetModuleContext.h>
#include <vexaTestQtApplication.h>
#include <wickExtensionType.h>
#include <wickObject.h>

#include <QFile>
#include <QImage>
#include <QResource>

#include <gtest/gtest.h>

extern "C" QObject *qt_plugin_instance();

namespace
{
  const QString Root = ":/org.vexa.gui.qt.photoacoustics.imageprocessing/";

  const auto Read = &vexa::test::ReadQtFile;
}

TEST(SelvenorPlugin, OneActivatorRegistersTheDeclaredViewClass)
{
  vexa::test::QtApplication::Instance();
  QObject *instance = qt_plugin_instance();
  ASSERT_NE(nullptr, instance);
  EXPECT_EQ(instance, qt_plugin_instance());
  EXPECT_NE(nullptr, instance->qt_metacast("vexa::Selvenor_Activator"));
  EXPECT_NE(nullptr, instance->qt_metacast("ctkPluginActivator"));
  auto *activator = static_cast<ctkPluginActivator *>(instance->qt_metacast("org.commontk.pluginfw.pluginactivator"));
  ASSERT_NE(nullptr, activator);
  EXPECT_EQ("org.vexa.views.paimageprocessing", PAImageProcessing::VIEW_ID);

  QString error;
  const QList<vexa::ViewDeclaration> views =
    vexa::WorkbenchPlugin::ParseViewDeclarations(Read(Root + "plugin.xml"), &error);
  ASSERT_EQ(1, views.size()) << error.toStdString();
  EXPECT_EQ(QString::fromStdString(PAImageProcessing::VIEW_ID), views[0].id);
  EXPECT_EQ("PA Image Processing", views[0].name);
  EXPECT_EQ("Photoacoustics", views[0].category);
  EXPECT_EQ("resources/pai.svg", views[0].icon);

  ctkPluginContext context(us::GetModuleContext(), "org.vexa.gui.qt.photoacoustics.imageprocessing");
  activator->start(&context);
  const int type = wick::ExtensionType::type(views[0].className.toLatin1().constData());
  ASSERT_GT(type, 0) << views[0].className.toStdString();
  const long live = wick::Object::GetNumberOfLiveObjects();
  QObject *view = wick::ExtensionType::construct(type);
  EXPECT_NE(nullptr, qobject_cast<PAImageProcessing *>(view));
  EXPECT_EQ(live + 1, wick::Object::GetNumberOfLiveObjects());
  EXPECT_TRUE(wick::ExtensionType::destroy(type, view));
  EXPECT_EQ(live, wick::Object::GetNumberOfLiveObjects());
  EXPECT_TRUE(wick::ExtensionType::destroy(type, nullptr));
  activator->stop(&context);
  EXPECT_EQ(type, wick::ExtensionType::type("PAImageProcessing")); // stays registered
}

TEST(SelvenorPlugin, EmbedsItsFiveResourcesUncompressed)
{
  vexa::test::QtApplication::Instance();
  for (const char *name : {"META-INF/MANIFEST.MF", "plugin.xml", "resources/pai.svg",
                           "resources/photoacousticsIcon.png", "resources/Selvenor.qch"})
  {
    QResource resource(Root + name);
    ASSERT_TRUE(resource.isValid()) << name;
    EXPECT_EQ(QResource::NoCompression, resource.compressionAlgorithm()) << name;
  }
  EXPECT_EQ(QByteArray("Plugin-SymbolicName: org.vexa.gui.qt.photoacoustics.imageprocessing\r\n"
                       "Plugin-Name: Imageprocessing\r\nRequire-Plugin: org.vexa.gui.qt.common\r\n"
                       "Plugin-Vendor: Vexa\r\nPlugin-Version: 0.1\r\n\r\n"),
            Read(Root + "META-INF/MANIFEST.MF"));
  EXPECT_EQ(QSize(128, 128), QImage(Root + "resources/photoacousticsIcon.png").size());
  EXPECT_TRUE(Read(Root + "resources/pai.svg").contains("<svg"));
  EXPECT_TRUE(Read(Root + "resources/Selvenor.qch").startsWith(QByteArray("SQLite format 3\0", 16)));
  // the embedded declaration is the source's
  QFile source(QString(VEXA_PLUGIN_RESOURCES) + "/plugin.xml");
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  EXPECT_EQ(source.readAll(), Read(Root + "plugin.xml"));
}
