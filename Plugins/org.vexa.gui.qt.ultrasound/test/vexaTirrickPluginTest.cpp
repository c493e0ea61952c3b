// The plug-in as the workbench finds it: its shared object loaded with the
// host's plug-in loader, its metadata, instance, manifest and resources; and
// the activator's own contract.

#include "QvexaUltrasoundSupport.h"
#include "vexaTirrickActivator.h"

#include <QvexaWorkbenchWindow.h>
#include <vexaWorkbenchPlugin.h>

#include <ctkPluginContext.h>
#include <usGetModuleContext.h>
#include <wickExtensionType.h>

#include <vexaTestQtApplication.h>

#include <QApplication>
#include <QDockWidget>
#include <QFile>
#include <QJsonObject>
#include <QPluginLoader>
#include <QResource>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <memory>

namespace
{
  const QString kRoot = ":/org.vexa.gui.qt.ultrasound/";

  const auto Read = &vexa::test::ReadQtFile;
}

// The test program carries the plug-in's objects, resources included; the
// loader recognises a plug-in by the resource root its library brings, so
// the program's own copy goes first.
int qCleanupResources_tirrick_manifest();
int qCleanupResources_tirrick_plugin();

static void ForgetTheProgramsOwnResources()
{
  qCleanupResources_tirrick_manifest();
  qCleanupResources_tirrick_plugin();
}

TEST(TirrickPlugin, TheHostLoadsItsSharedObjectWithMetadataManifestAndResources)
{
  vexa::test::QtApplication::Instance();
  ForgetTheProgramsOwnResources();
  ASSERT_FALSE(QFile::exists(kRoot + "plugin.xml"));

  vexa::WorkbenchPlugin plugin(org_vexa_gui_qt_ultrasound_PLUGIN);
  QString error;
  ASSERT_TRUE(plugin.Load(&error)) << error.toStdString();

  const QJsonObject meta = plugin.GetMetaData();
  EXPECT_EQ("Tirrick", meta.value("IID").toString().toStdString());
  EXPECT_EQ("Tirrick_Activator", meta.value("className").toString().toStdString());
  // no metadata of its own (Qt's moc leaves an empty "MetaData" object out; readers get an empty one)
  EXPECT_TRUE(meta.value("MetaData").toObject().isEmpty());

  // one instance, an activator
  QPluginLoader loader(org_vexa_gui_qt_ultrasound_PLUGIN);
  EXPECT_EQ(plugin.GetInstance(), loader.instance());
  EXPECT_EQ(plugin.GetInstance(), loader.instance());
  ASSERT_NE(nullptr, plugin.GetActivator());
  EXPECT_NE(nullptr, plugin.GetInstance()->qt_metacast("org.commontk.pluginfw.pluginactivator"));
  EXPECT_NE(nullptr, plugin.GetInstance()->qt_metacast("ctkPluginActivator"));
  EXPECT_NE(nullptr, plugin.GetInstance()->qt_metacast("vexa::Tirrick_Activator"));

  EXPECT_EQ(kRoot.chopped(1), plugin.GetResourceRoot());
  EXPECT_EQ(QByteArray("Plugin-SymbolicName: org.vexa.gui.qt.ultrasound\r\n"
                       "Plugin-Name: Ultrasound\r\n"
                       "Require-Plugin: org.vexa.gui.qt.common\r\n"
                       "Plugin-Vendor: Vexa\r\n"
                       "Plugin-Version: 0.1\r\n"
                       "\r\n"),
            plugin.GetManifestBytes());

  ASSERT_EQ(1, plugin.GetViews().size());
  const vexa::ViewDeclaration view = plugin.GetViews().first();
  EXPECT_EQ("org.vexa.views.ultrasoundsupport", view.id.toStdString());
  EXPECT_EQ("Ultrasound Support", view.name.toStdString());
  EXPECT_EQ("IGT", view.category.toStdString());
  EXPECT_EQ("QvexaUltrasoundSupport", view.className.toStdString());
  EXPECT_EQ("resources/icon_ultrasound.svg", view.icon.toStdString());
  EXPECT_TRUE(plugin.GetPluginXml().startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));

  // the help collection is an SQLite database; only the icon is stored compressed
  EXPECT_TRUE(Read(kRoot + "resources/Tirrick.qch").startsWith(QByteArray("SQLite format 3\0", 16)));
  const QByteArray icon = Read(kRoot + "resources/icon_ultrasound.svg");
  QXmlStreamReader svg(icon);
  while (!svg.atEnd() && !svg.isStartElement())
    svg.readNext();
  EXPECT_EQ("svg", svg.name().toString().toStdString());
  EXPECT_EQ(QResource::ZlibCompression, QResource(kRoot + "resources/icon_ultrasound.svg").compressionAlgorithm());
  for (const char *plain : {"META-INF/MANIFEST.MF", "plugin.xml", "resources/Tirrick.qch"})
    EXPECT_EQ(QResource::NoCompression, QResource(kRoot + plain).compressionAlgorithm()) << plain;
}

TEST(TirrickPlugin, TheResourcesAreWrittenInFormatTwoAsTwoBlobs)
{
  for (const char *blob : {TIRRICK_MANIFEST_RESOURCES, TIRRICK_PLUGIN_RESOURCES})
  {
    const QByteArray source = Read(blob);
    ASSERT_FALSE(source.isEmpty()) << blob;
    EXPECT_TRUE(source.contains("int version = 2;")) << blob;
  }
  EXPECT_TRUE(Read(TIRRICK_MANIFEST_RESOURCES).contains("MANIFEST"));
  EXPECT_FALSE(Read(TIRRICK_MANIFEST_RESOURCES).contains("plugin.xml"));
}

TEST(TirrickPlugin, TheWorkbenchStartsItAndOpensTheView)
{
  vexa::test::QtApplication::Instance();
  ForgetTheProgramsOwnResources();
  {
    QvexaWorkbenchWindow window;
    ASSERT_TRUE(window.LoadPlugin(org_vexa_gui_qt_ultrasound_PLUGIN))
      << window.GetReportedErrors().join("\n").toStdString();
    QvexaAbstractView *view = window.OpenView("org.vexa.views.ultrasoundsupport");
    ASSERT_NE(nullptr, view) << window.GetReportedErrors().join("\n").toStdString();
    EXPECT_STREQ("QvexaUltrasoundSupport", view->metaObject()->className());
    EXPECT_EQ("Ultrasound Support",
              window.GetViewDock("org.vexa.views.ultrasoundsupport")->windowTitle().toStdString());
    window.CloseAllViews();
    EXPECT_TRUE(window.GetReportedErrors().isEmpty()) << window.GetReportedErrors().join("\n").toStdString();
  }
}

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
