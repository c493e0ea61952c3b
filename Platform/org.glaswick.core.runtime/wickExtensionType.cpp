#include "wickExtensionType.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace
{
  struct Entry
  {
    QByteArray name;
    wick::ExtensionType::Constructor constructor = nullptr;
    wick::ExtensionType::Destructor destructor = nullptr;
    bool registered = false;
  };

  std::mutex g_Mutex;
  std::vector<Entry> g_Types; // id = index + 1; ids are never reused

  Entry *Find(int type)
  {
    if (type < 1 || static_cast<std::size_t>(type) > g_Types.size() || !g_Types[type - 1].registered)
      return nullptr;
    return &g_Types[type - 1];
  }

  int FindName(const QByteArray &name)
  {
    for (std::size_t i = 0; i < g_Types.size(); ++i)
      if (g_Types[i].name == name)
        return static_cast<int>(i + 1);
    return 0;
  }
}

namespace wick
{
  int ExtensionType::registerType(const char *typeName, Destructor destructor, Constructor constructor)
  {
    if (!typeName || !*typeName || !destructor || !constructor)
      return 0;
    std::lock_guard<std::mutex> lock(g_Mutex);
    int id = FindName(typeName);
    if (id == 0)
    {
      g_Types.push_back(Entry{typeName});
      id = static_cast<int>(g_Types.size());
    }
    Entry &entry = g_Types[id - 1];
    entry.constructor = constructor;
    entry.destructor = destructor;
    entry.registered = true;
    return id;
  }

  bool ExtensionType::unregisterType(const char *typeName)
  {
    if (!typeName)
      return false;
    std::lock_guard<std::mutex> lock(g_Mutex);
    Entry *entry = Find(FindName(typeName));
    if (!entry)
      return false;
    entry->registered = false;
    entry->constructor = nullptr;
    entry->destructor = nullptr;
    return true;
  }

  int ExtensionType::type(const char *typeName)
  {
    if (!typeName)
      return 0;
    std::lock_guard<std::mutex> lock(g_Mutex);
    const int id = FindName(typeName);
    return Find(id) ? id : 0;
  }

  bool ExtensionType::isRegistered(int type)
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    return Find(type) != nullptr;
  }

  QByteArray ExtensionType::name(int type)
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    const Entry *entry = Find(type);
    return entry ? entry->name : QByteArray();
  }

  QList<QByteArray> ExtensionType::registeredNames()
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    QList<QByteArray> names;
    for (const Entry &entry : g_Types)
      if (entry.registered)
        names << entry.name;
    return names;
  }

  QObject *ExtensionType::construct(int type)
  {
    Constructor constructor = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_Mutex);
      if (const Entry *entry = Find(type))
        constructor = entry->constructor;
    }
    return constructor ? constructor() : nullptr;
  }

  bool ExtensionType::destroy(int type, QObject *object)
  {
    Destructor destructor = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_Mutex);
      if (const Entry *entry = Find(type))
        destructor = entry->destructor;
    }
    if (!destructor)
      return false;
    destructor(object);
    return true;
  }
}
