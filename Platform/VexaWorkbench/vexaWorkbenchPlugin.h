#ifndef vexaWorkbenchPlugin_h
#define vexaWorkbenchPlugin_h

#include "VexaWorkbenchHostExports.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPluginLoader>
#include <QString>
#include <QStringList>

#include <memory>

class ctkPluginActivator;
class ctkPluginContext;

namespace us
{
  class ModuleContext;
}

namespace vexa
{
  /** A view as a plug-in's plugin.xml declares it. */
  struct ViewDeclaration
  {
    QString id;
    QString name;
    QString category;
    QString className;
    /** The icon's path relative to the plug-in's resource root; empty when none. */
    QString icon;
    /** The icon as a resource path (":/<symbolic name>/<icon>"); empty when none. */
    QString iconResource;
  };

  /**
   * One plug-in of the workbench: a Qt plug-in whose instance is a CTK
   * plug-in activator, with its manifest and plugin.xml among its resources
   * under ":/<symbolic name>/".
   *
   * GUI thread only. The library stays loaded once loaded (views and
   * registered extension types point into it) until the process ends.
   */
  class VEXAWORKBENCHHOST_EXPORT WorkbenchPlugin
  {
  public:
    /** The plug-in names the workbench itself provides (its shared libraries). */
    static QStringList BuiltInPluginNames();

    /** "Key: value" lines (CR LF or LF) into a map; lines without a colon are ignored. */
    static QMap<QString, QString> ParseManifest(const QByteArray &manifest);
    /** The views of the "org.glaswick.ui.views" extensions; malformed XML or a view without id or class is an error. */
    static QList<ViewDeclaration> ParseViewDeclarations(const QByteArray &pluginXml, QString *error);

    explicit WorkbenchPlugin(const QString &path);
    ~WorkbenchPlugin();
    WorkbenchPlugin(const WorkbenchPlugin &) = delete;
    WorkbenchPlugin &operator=(const WorkbenchPlugin &) = delete;

    /**
     * Loads the library, finds its resources, reads manifest and plugin.xml
     * and casts its instance to the activator interface. False with `error`
     * set when any step fails.
     */
    bool Load(QString *error);

    /**
     * Checks the required plug-ins against `available`, starts the registry
     * modules the library brought, makes the plug-in's context (over its own
     * registry module, or `fallback` when it has none) and starts the
     * activator. False with `error` set when a step fails or start threw.
     */
    bool Start(const QStringList &available, us::ModuleContext *fallback, QString *error);

    /** Stops the activator (an exception is logged), invalidates the context, forgets the view classes. */
    void Stop();

    QString GetPath() const { return m_Path; }
    QString GetSymbolicName() const { return m_Manifest.value("Plugin-SymbolicName"); }
    QString GetName() const { return m_Manifest.value("Plugin-Name"); }
    QString GetResourceRoot() const { return m_ResourceRoot; }
    QByteArray GetManifestBytes() const { return m_ManifestBytes; }
    QMap<QString, QString> GetManifest() const { return m_Manifest; }
    QByteArray GetPluginXml() const { return m_PluginXml; }
    QList<ViewDeclaration> GetViews() const { return m_Views; }
    QObject *GetInstance() const { return m_Instance; }
    ctkPluginActivator *GetActivator() const { return m_Activator; }
    ctkPluginContext *GetContext() const { return m_Context.get(); }
    QJsonObject GetMetaData() const;
    bool IsStarted() const { return m_Started; }

  private:
    QString FindResourceRoot(const QStringList &rootsBefore) const;

    QString m_Path;
    QPluginLoader m_Loader;
    QObject *m_Instance = nullptr;
    ctkPluginActivator *m_Activator = nullptr;
    std::unique_ptr<ctkPluginContext> m_Context;
    QString m_ResourceRoot;
    QByteArray m_ManifestBytes;
    QMap<QString, QString> m_Manifest;
    QByteArray m_PluginXml;
    QList<ViewDeclaration> m_Views;
    bool m_Started = false;
  };
}

#endif
