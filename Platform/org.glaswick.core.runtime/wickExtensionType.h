#ifndef wickExtensionType_h
#define wickExtensionType_h

#include "org_glaswick_core_runtimeExports.h"

#include <QByteArray>
#include <QList>

class QObject;

namespace wick
{
  /**
   * The registry of extension classes: a class name (the "class" of a view
   * declared in plugin.xml) with the functions that make and destroy its
   * objects. Plug-ins register their view classes when they start; the
   * workbench makes views through it.
   *
   * Thread-safe. The functions are called without the registry's lock held.
   */
  class ORG_GLASWICK_CORE_RUNTIME_EXPORT ExtensionType
  {
  public:
    using Constructor = QObject *(*)();
    using Destructor = void (*)(QObject *);

    /**
     * Registers `typeName` and returns its id (above 0). A name registered
     * again keeps its id and takes the new functions (a plug-in started
     * again). 0, nothing registered, for an empty name or a missing
     * function.
     */
    static int registerType(const char *typeName, Destructor destructor, Constructor constructor);
    /** Forgets the type (before its plug-in's code goes); false when it was not registered. */
    static bool unregisterType(const char *typeName);

    /** The id of `typeName`, or 0. */
    static int type(const char *typeName);
    static bool isRegistered(int type);
    static QByteArray name(int type);
    static QList<QByteArray> registeredNames();

    /** A new object of the type; null for an unknown type. Exceptions of the constructor pass on. */
    static QObject *construct(int type);
    /** Destroys `object` with the type's destructor; false (the object left alone) for an unknown type. */
    static bool destroy(int type, QObject *object);
  };
}

#endif
