#include "vexaWorkbenchPlugin.h"

#include <ctkPluginActivator.h>
#include <ctkPluginContext.h>
#include <usModule.h>
#include <usModuleContext.h>
#include <usModuleRegistry.h>
#include <wickExtensionType.h>

#include <vexaLog.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QXmlStreamReader>

#include <exception>

namespace
{
  QStringList ResourceRoots() { return QDir(":/").entryList(QDir::Dirs | QDir::NoDotAndDotDot); }

  QByteArray ReadResource(const QString &path)
  {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
}

namespace vexa
{
  QStringList WorkbenchPlugin::BuiltInPluginNames()
  {
    return {"org.vexa.gui.qt.common", "org.glaswick.ui.qt", "org.glaswick.core.runtime"};
  }

  QMap<QString, QString> WorkbenchPlugin::ParseManifest(const QByteArray &manifest)
  {
    QMap<QString, QString> headers;
    for (QByteArray line : manifest.split('\n'))
    {
      if (line.endsWith('\r'))
        line.chop(1);
      const int colon = line.indexOf(':');
      if (colon <= 0)
        continue;
      headers.insert(QString::fromUtf8(line.left(colon)).trimmed(), QString::fromUtf8(line.mid(colon + 1)).trimmed());
    }
    return headers;
  }

  QList<ViewDeclaration> WorkbenchPlugin::ParseViewDeclarations(const QByteArray &pluginXml, QString *error)
  {
    QList<ViewDeclaration> views;
    QXmlStreamReader xml(pluginXml);
    bool inViews = false;
    while (!xml.atEnd())
    {
      xml.readNext();
      if (xml.isStartElement() && xml.name() == QLatin1String("extension"))
        inViews = xml.attributes().value("point") == QLatin1String("org.glaswick.ui.views");
      else if (xml.isEndElement() && xml.name() == QLatin1String("extension"))
        inViews = false;
      else if (inViews && xml.isStartElement() && xml.name() == QLatin1String("view"))
      {
        const QXmlStreamAttributes a = xml.attributes();
        ViewDeclaration view;
        view.id = a.value("id").toString();
        view.name = a.value("name").toString();
        view.category = a.value("category").toString();
        view.className = a.value("class").toString();
        view.icon = a.value("icon").toString();
        if (view.id.isEmpty() || view.className.isEmpty())
        {
          if (error)
            *error = QString("plugin.xml: a view without id or class (line %1)").arg(xml.lineNumber());
          return {};
        }
        if (view.name.isEmpty())
          view.name = view.id;
        views << view;
      }
    }
    if (xml.hasError())
    {
      if (error)
        *error = QString("plugin.xml: %1 (line %2)").arg(xml.errorString()).arg(xml.lineNumber());
      return {};
    }
    return views;
  }

  WorkbenchPlugin::WorkbenchPlugin(const QString &path) : m_Path(path), m_Loader(path) {}

  WorkbenchPlugin::~WorkbenchPlugin()
  {
    if (m_Started)
      Stop();
  }

  QJsonObject WorkbenchPlugin::GetMetaData() const { return m_Loader.metaData(); }

  QString WorkbenchPlugin::FindResourceRoot(const QStringList &rootsBefore) const
  {
    // A library registers its resources once, when it is first loaded; a
    // later loader of the same library (another window) finds it recorded.
    static QMap<QString, QString> rootsByLibrary;
    const QString library = QFileInfo(m_Loader.fileName()).canonicalFilePath();
    if (rootsByLibrary.contains(library))
      return rootsByLibrary.value(library);
    // the roots the library brought; the one with a manifest is the plug-in's
    for (const QString &root : ResourceRoots())
      if (!rootsBefore.contains(root) && QFile::exists(":/" + root + "/META-INF/MANIFEST.MF"))
      {
        rootsByLibrary.insert(library, ":/" + root);
        return ":/" + root;
      }
    return QString();
  }

  bool WorkbenchPlugin::Load(QString *error)
  {
    const QStringList rootsBefore = ResourceRoots();
    if (!m_Loader.load())
    {
      *error = m_Loader.errorString();
      return false;
    }
    m_ResourceRoot = FindResourceRoot(rootsBefore);
    if (m_ResourceRoot.isEmpty())
    {
      *error = "it carries no META-INF/MANIFEST.MF among its resources";
      return false;
    }
    m_ManifestBytes = ReadResource(m_ResourceRoot + "/META-INF/MANIFEST.MF");
    m_Manifest = ParseManifest(m_ManifestBytes);
    if (GetSymbolicName().isEmpty())
    {
      *error = "its manifest names no Plugin-SymbolicName";
      return false;
    }
    if (":/" + GetSymbolicName() != m_ResourceRoot)
    {
      *error = "its resources lie under " + m_ResourceRoot + ", not under its symbolic name " + GetSymbolicName();
      return false;
    }
    m_PluginXml = ReadResource(m_ResourceRoot + "/plugin.xml");
    if (!m_PluginXml.isEmpty())
    {
      QString xmlError;
      m_Views = ParseViewDeclarations(m_PluginXml, &xmlError);
      if (!xmlError.isEmpty())
      {
        *error = xmlError;
        return false;
      }
      for (ViewDeclaration &view : m_Views)
        if (!view.icon.isEmpty())
          view.iconResource = m_ResourceRoot + "/" + view.icon;
    }
    m_Instance = m_Loader.instance();
    if (!m_Instance)
    {
      *error = "it has no plug-in instance: " + m_Loader.errorString();
      return false;
    }
    m_Activator = qobject_cast<ctkPluginActivator *>(m_Instance);
    if (!m_Activator)
    {
      *error = QString("its instance (%1) is no ctkPluginActivator").arg(m_Instance->metaObject()->className());
      return false;
    }
    return true;
  }

  bool WorkbenchPlugin::Start(const QStringList &available, us::ModuleContext *fallback, QString *error)
  {
    if (m_Started)
      return true;
    for (const QString &required : m_Manifest.value("Require-Plugin").split(',', Qt::SkipEmptyParts))
      if (!available.contains(required.trimmed()))
      {
        *error = "it requires the plug-in " + required.trimmed() + ", which is not there";
        return false;
      }

    // modules the library brought (its own, libraries such as Parmody) are started before the activator
    if (!us::ModuleRegistry::StartAll())
      VEXA_WARN << "Not every module loaded with " << m_Path.toStdString() << " started";
    us::ModuleContext *registry = fallback;
    const QString canonical = QFileInfo(m_Path).canonicalFilePath();
    for (us::Module *module : us::ModuleRegistry::GetModules())
      if (QFileInfo(QString::fromStdString(module->GetLocation())).canonicalFilePath() == canonical)
        registry = module->GetModuleContext();

    m_Context.reset(new ctkPluginContext(registry, GetSymbolicName()));
    try
    {
      m_Activator->start(m_Context.get());
    }
    catch (const std::exception &e)
    {
      *error = QString("its activator failed to start: ") + e.what();
    }
    catch (...)
    {
      *error = "its activator failed to start";
    }
    if (!error->isEmpty())
    {
      m_Context->invalidate();
      m_Context.reset();
      return false;
    }
    m_Started = true;
    return true;
  }

  void WorkbenchPlugin::Stop()
  {
    if (!m_Started)
      return;
    m_Started = false;
    try
    {
      m_Activator->stop(m_Context.get());
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR << "The plug-in " << GetSymbolicName().toStdString() << " failed to stop: " << e.what();
    }
    catch (...)
    {
      VEXA_ERROR << "The plug-in " << GetSymbolicName().toStdString() << " failed to stop.";
    }
    m_Context->invalidate();
    // the classes' functions live in this plug-in: nobody may make a view of them any more
    for (const ViewDeclaration &view : m_Views)
      wick::ExtensionType::unregisterType(view.className.toLatin1().constData());
  }
}
