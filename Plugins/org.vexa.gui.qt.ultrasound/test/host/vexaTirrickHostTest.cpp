// The plug-in as the workbench finds it: its shared object loaded with the
// host's plug-in loader, its metadata, instance, manifest and resources, and
// the view the workbench opens from it. This program does not link the
// plug-in's objects: what it sees comes from the loaded plug-in only.

#include <QvexaWorkbenchWindow.h>
#include <vexaWorkbenchPlugin.h>

#include <vexaTestQtApplication.h>

#include <QDockWidget>
#include <QFile>
#include <QJsonObject>
#include <QPluginLoader>
#include <QResource>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace
{
  const QString kRoot = ":/org.vexa.gui.qt.ultrasound/";

  const auto Read = &vexa::test::ReadQtFile;
}

TEST(TirrickPlugin, TheHostLoadsItsSharedObjectWithMetadataManifestAndResources)
{
  vexa::test::QtApplication::Instance();
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
  for (const char *blob : {org_vexa_gui_qt_ultrasound_MANIFEST_BLOB, org_vexa_gui_qt_ultrasound_RESOURCES_BLOB})
  {
    const QByteArray source = Read(blob);
    ASSERT_FALSE(source.isEmpty()) << blob;
    EXPECT_TRUE(source.contains("int version = 2;")) << blob;
  }
  EXPECT_TRUE(Read(org_vexa_gui_qt_ultrasound_MANIFEST_BLOB).contains("MANIFEST"));
  EXPECT_FALSE(Read(org_vexa_gui_qt_ultrasound_MANIFEST_BLOB).contains("plugin.xml"));
}

TEST(TirrickPlugin, TheWorkbenchStartsItAndOpensTheView)
{
  vexa::test::QtApplication::Instance();
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
