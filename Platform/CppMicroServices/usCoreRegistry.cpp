#include "usCoreRegistry.h"

#include <usLDAPFilter.h>
#include <usModuleActivator.h>

#include <vexaLog.h>

#include <dlfcn.h>

#include <algorithm>
#include <stdexcept>

namespace us
{
  namespace detail
  {
    namespace
    {
      int RankingOf(const ServiceProperties &properties)
      {
        const auto it = properties.find(ServiceConstants::SERVICE_RANKING());
        if (it == properties.end())
          return 0;
        const int *ranking = any_cast<int>(&it->second);
        return ranking ? *ranking : 0;
      }

      /** The registration's own keys win over what the caller gave. */
      ServiceProperties WithRegistryKeys(const ServiceProperties &given, const ServiceRecord &record)
      {
        ServiceProperties properties(given);
        properties.erase(ServiceConstants::OBJECTCLASS());
        properties.erase(ServiceConstants::SERVICE_ID());
        properties[ServiceConstants::OBJECTCLASS()] = record.objectClass;
        properties[ServiceConstants::SERVICE_ID()] = record.id;
        return properties;
      }

      void InsertById(std::vector<std::shared_ptr<ServiceRecord>> &list, const std::shared_ptr<ServiceRecord> &record)
      {
        const auto at = std::lower_bound(list.begin(), list.end(), record->id,
                                         [](const std::shared_ptr<ServiceRecord> &r, long id) { return r->id < id; });
        list.insert(at, record);
      }

      void EraseById(std::vector<std::shared_ptr<ServiceRecord>> &list, long id)
      {
        const auto at = std::lower_bound(list.begin(), list.end(), id,
                                         [](const std::shared_ptr<ServiceRecord> &r, long i) { return r->id < i; });
        if (at != list.end() && (*at)->id == id)
          list.erase(at);
      }

      std::atomic<long> g_NextServiceId{1};
    }

    std::string LowerCase(const std::string &text)
    {
      std::string lower(text);
      for (char &c : lower)
        c = static_cast<char>(CaseInsensitiveLess::ToLower(static_cast<unsigned char>(c)));
      return lower;
    }

    std::shared_ptr<const PropertySet> PropertySet::Make(ServiceProperties properties)
    {
      auto set = std::make_shared<PropertySet>();
      set->map = std::move(properties);
      set->index.reserve(set->map.size());
      for (const auto &entry : set->map)
      {
        std::string lower = LowerCase(entry.first);
        const std::size_t hash = Hash(lower);
        set->index.push_back(Entry{hash, std::move(lower), &entry.second, KindOf(entry.second)});
      }
      return set;
    }

    CoreRegistry &CoreRegistry::Instance()
    {
      // Never destroyed: modules unregister at exit, in an order no static destructor could follow.
      static CoreRegistry *const instance = new CoreRegistry();
      return *instance;
    }

    ModuleData &CoreRegistry::Data(const Module *module) { return *module->d; }

    void CoreRegistry::CheckLoaded(const Module *module, const char *operation)
    {
      if (!module || !module->d->loaded.load())
        throw std::logic_error(std::string("us::ModuleContext::") + operation + ": the module \"" +
                               (module ? module->d->name : std::string("?")) +
                               "\" is not loaded; its context is no longer valid");
    }

    // ---------------------------------------------------------------- modules

    Module *CoreRegistry::RegisterModule(const char *name, const void *anchor)
    {
      std::string location;
      Dl_info info;
      if (dladdr(anchor, &info) && info.dli_fname)
        location = info.dli_fname;

      Module *module = nullptr;
      bool duplicate = false;
      {
        std::lock_guard<std::mutex> lock(m_ModulesMutex);
        for (Module *known : m_Modules)
        {
          if (known->d->name != name)
            continue;
          if (known->d->loaded.load())
            duplicate = true;
          else if (!module)
            module = known; // loaded again: the same Module and context as before
        }
        if (!module)
        {
          module = new Module();
          module->d->id = static_cast<long>(m_Modules.size()) + 1;
          module->d->name = name;
          module->d->context = new ModuleContext(module);
          m_Modules.push_back(module);
        }
        module->d->location = location;
        std::unique_lock<std::shared_mutex> registryLock(m_Mutex);
        module->d->loaded = true;
      }
      if (duplicate)
        VEXA_WARN("CppMicroServices") << "Two loaded binaries register the module \"" << name << "\" (" << location
                                      << "); look-ups by name find the first";
      return module;
    }

    void CoreRegistry::UnregisterModule(Module *module)
    {
      ModuleData &data = Data(module);
      std::lock_guard<std::recursive_mutex> lifecycle(data.lifecycle);
      if (data.started)
        StopLocked(module, true);
      {
        std::unique_lock<std::shared_mutex> lock(m_Mutex);
        data.loaded = false; // no new registrations from here on
      }
      RemoveModuleResources(module);
      data.factory = nullptr;
      data.activator = nullptr;
    }

    void CoreRegistry::SetActivatorFactory(Module *module, ActivatorFactory factory)
    {
      ModuleData &data = Data(module);
      std::lock_guard<std::recursive_mutex> lifecycle(data.lifecycle);
      data.factory = factory;
    }

    void CoreRegistry::ActivatorDestroyed(Module *module)
    {
      ModuleData &data = Data(module);
      std::lock_guard<std::recursive_mutex> lifecycle(data.lifecycle);
      if (data.started)
        StopLocked(module, true);
      data.factory = nullptr;
      data.activator = nullptr;
    }

    Module *CoreRegistry::GetModule(long id)
    {
      std::lock_guard<std::mutex> lock(m_ModulesMutex);
      if (id < 1 || id > static_cast<long>(m_Modules.size()))
        return nullptr;
      Module *module = m_Modules[static_cast<std::size_t>(id - 1)];
      return module->d->loaded.load() ? module : nullptr;
    }

    Module *CoreRegistry::GetModule(const std::string &name)
    {
      std::lock_guard<std::mutex> lock(m_ModulesMutex);
      for (Module *module : m_Modules)
        if (module->d->name == name && module->d->loaded.load())
          return module;
      return nullptr;
    }

    std::vector<Module *> CoreRegistry::GetModules()
    {
      std::lock_guard<std::mutex> lock(m_ModulesMutex);
      std::vector<Module *> loaded;
      for (Module *module : m_Modules)
        if (module->d->loaded.load())
          loaded.push_back(module);
      return loaded;
    }

    std::string CoreRegistry::GetLocation(const Module *module)
    {
      std::lock_guard<std::mutex> lock(m_ModulesMutex);
      return module->d->location;
    }

    bool CoreRegistry::Start(Module *module)
    {
      ModuleData &data = Data(module);
      std::lock_guard<std::recursive_mutex> lifecycle(data.lifecycle);
      if (!data.loaded)
      {
        VEXA_ERROR("CppMicroServices") << "Cannot start the module \"" << data.name << "\": it is not loaded";
        return false;
      }
      if (data.started)
        return true;
      if (data.factory)
      {
        std::string failure;
        try
        {
          data.activator = data.factory();
          if (!data.activator)
            failure = "its activator entry point returned null";
          else
            data.activator->Load(data.context);
        }
        catch (const std::exception &e)
        {
          failure = e.what();
        }
        catch (...)
        {
          failure = "an exception that is not a std::exception";
        }
        if (!failure.empty())
        {
          VEXA_ERROR("CppMicroServices") << "Starting the module \"" << data.name
                                         << "\" failed: Load threw: " << failure;
          RemoveModuleResources(module);
          data.activator = nullptr;
          return false;
        }
      }
      {
        std::lock_guard<std::mutex> lock(m_ModulesMutex);
        data.startOrder = ++m_StartCounter;
      }
      data.started = true;
      return true;
    }

    bool CoreRegistry::Stop(Module *module)
    {
      ModuleData &data = Data(module);
      std::lock_guard<std::recursive_mutex> lifecycle(data.lifecycle);
      return StopLocked(module, false);
    }

    bool CoreRegistry::StopLocked(Module *module, bool unloading)
    {
      ModuleData &data = Data(module);
      if (!data.started)
        return true;
      bool ok = true;
      if (data.activator)
      {
        std::string failure;
        try
        {
          data.activator->Unload(data.context);
        }
        catch (const std::exception &e)
        {
          failure = e.what();
        }
        catch (...)
        {
          failure = "an exception that is not a std::exception";
        }
        if (!failure.empty())
        {
          VEXA_ERROR("CppMicroServices") << "Stopping the module \"" << data.name << "\""
                                         << (unloading ? " (its binary is being unloaded)" : "")
                                         << ": Unload threw: " << failure;
          ok = false;
        }
      }
      RemoveModuleResources(module);
      data.activator = nullptr;
      data.started = false;
      return ok;
    }

    bool CoreRegistry::StartAll()
    {
      bool ok = true;
      for (Module *module : GetModules())
        ok = Start(module) && ok;
      return ok;
    }

    bool CoreRegistry::StopAll()
    {
      std::vector<std::pair<long, Module *>> started;
      {
        std::lock_guard<std::mutex> lock(m_ModulesMutex);
        for (Module *module : m_Modules)
          if (module->d->started.load())
            started.emplace_back(module->d->startOrder, module);
      }
      std::sort(started.begin(), started.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
      bool ok = true;
      for (const auto &entry : started)
        ok = Stop(entry.second) && ok;
      return ok;
    }

    void CoreRegistry::RemoveModuleResources(Module *module)
    {
      std::vector<std::shared_ptr<ListenerEntry>> removed;
      {
        std::unique_lock<std::shared_mutex> lock(m_Mutex);
        auto remaining = std::make_shared<ListenerList>();
        for (const auto &entry : *m_Listeners)
          (entry->module == module ? removed : *remaining).push_back(entry);
        if (!removed.empty())
          m_Listeners = remaining;
      }
      for (const auto &entry : removed)
        WaitUntilIdle(*entry);

      std::vector<std::shared_ptr<ServiceRecord>> own;
      {
        std::shared_lock<std::shared_mutex> lock(m_Mutex);
        for (const auto &record : m_All)
          if (record->module == module)
            own.push_back(record);
      }
      for (const auto &record : own)
      {
        try
        {
          Unregister(record);
        }
        catch (const std::logic_error &)
        {
          // unregistered meanwhile by its owner
        }
      }

      std::vector<std::shared_ptr<ServiceRecord>> all;
      {
        std::shared_lock<std::shared_mutex> lock(m_Mutex);
        all = m_All;
      }
      for (const auto &record : all)
      {
        std::lock_guard<std::mutex> lock(record->usesMutex);
        record->uses.erase(module);
      }
    }

    // --------------------------------------------------------------- services

    std::shared_ptr<ServiceRecord> CoreRegistry::Register(Module *module,
                                                          const InterfaceMap &interfaces,
                                                          const ServiceProperties &properties,
                                                          void *qobject)
    {
      if (interfaces.empty())
        throw std::invalid_argument("us::ModuleContext::RegisterService: no interface id given");
      for (const auto &entry : interfaces)
      {
        if (entry.first.empty())
          throw std::invalid_argument("us::ModuleContext::RegisterService: empty interface id");
        if (!entry.second)
          throw std::invalid_argument("us::ModuleContext::RegisterService: the service object for \"" + entry.first +
                                      "\" is null");
      }

      auto record = std::make_shared<ServiceRecord>();
      record->module = module;
      record->interfaces = interfaces;
      record->qobject = qobject;
      for (const auto &entry : interfaces)
        record->objectClass.push_back(entry.first);
      record->id = g_NextServiceId.fetch_add(1);
      ServiceProperties full = WithRegistryKeys(properties, *record);
      record->ranking = RankingOf(full);
      std::shared_ptr<const PropertySet> set = PropertySet::Make(std::move(full));

      std::shared_ptr<const ListenerList> listeners;
      {
        std::unique_lock<std::shared_mutex> lock(m_Mutex);
        CheckLoaded(module, "RegisterService");
        record->properties = set;
        InsertById(m_All, record);
        for (const std::string &id : record->objectClass)
          InsertById(m_ByInterface[id], record);
        listeners = m_Listeners;
      }
      Deliver(ServiceEvent::REGISTERED, record, set, nullptr, listeners);
      return record;
    }

    void CoreRegistry::SetProperties(const std::shared_ptr<ServiceRecord> &record, const ServiceProperties &properties)
    {
      ServiceProperties full = WithRegistryKeys(properties, *record);
      const int ranking = RankingOf(full);
      std::shared_ptr<const PropertySet> set = PropertySet::Make(std::move(full));
      std::shared_ptr<const PropertySet> previous;
      std::shared_ptr<const ListenerList> listeners;
      {
        std::unique_lock<std::shared_mutex> lock(m_Mutex);
        if (record->state.load() != ServiceState::Registered)
          throw std::logic_error("us::ServiceRegistration::SetProperties: the service " + std::to_string(record->id) +
                                 " is not registered");
        previous = record->properties;
        record->properties = set;
        record->ranking = ranking;
        listeners = m_Listeners;
      }
      Deliver(ServiceEvent::MODIFIED, record, set, previous, listeners);
    }

    void CoreRegistry::Unregister(const std::shared_ptr<ServiceRecord> &record)
    {
      std::shared_ptr<const PropertySet> set;
      std::shared_ptr<const ListenerList> listeners;
      {
        std::unique_lock<std::shared_mutex> lock(m_Mutex);
        if (record->state.load() != ServiceState::Registered)
          throw std::logic_error("us::ServiceRegistration::Unregister: the service " + std::to_string(record->id) +
                                 " is not registered (was it unregistered already?)");
        record->state = ServiceState::Unregistering;
        EraseById(m_All, record->id);
        for (const std::string &id : record->objectClass)
        {
          auto it = m_ByInterface.find(id);
          if (it == m_ByInterface.end())
            continue;
          EraseById(it->second, record->id);
          if (it->second.empty())
            m_ByInterface.erase(it);
        }
        set = record->properties;
        listeners = m_Listeners;
      }
      Deliver(ServiceEvent::UNREGISTERING, record, set, nullptr, listeners);
      record->state = ServiceState::Unregistered;
      std::lock_guard<std::mutex> lock(record->usesMutex);
      record->uses.clear();
    }

    std::vector<ServiceReferenceU> CoreRegistry::Find(const std::string &interfaceId, const std::string &filter)
    {
      const LDAPFilter parsed(filter); // throws on a malformed filter, before any lock
      const LDAPExpr *expr = parsed.Expression().get();
      std::vector<ServiceReferenceU> found;
      std::shared_lock<std::shared_mutex> lock(m_Mutex);
      const std::vector<std::shared_ptr<ServiceRecord>> *list = &m_All;
      if (!interfaceId.empty())
      {
        const auto it = m_ByInterface.find(interfaceId);
        if (it == m_ByInterface.end())
          return found;
        list = &it->second;
      }
      for (const auto &record : *list)
        if (!expr || Match(*expr, *record->properties))
          found.emplace_back(MakeReference(record, interfaceId.empty() ? record->objectClass.front() : interfaceId));
      return found;
    }

    ServiceReferenceU CoreRegistry::FindBest(const std::string &interfaceId)
    {
      std::shared_lock<std::shared_mutex> lock(m_Mutex);
      const auto it = m_ByInterface.find(interfaceId);
      if (it == m_ByInterface.end())
        return ServiceReferenceU();
      std::shared_ptr<ServiceRecord> best;
      for (const auto &record : it->second) // ascending id: the first of the highest ranking wins
        if (!best || record->ranking.load() > best->ranking.load())
          best = record;
      return MakeReference(best, interfaceId);
    }

    std::vector<ServiceReferenceU> CoreRegistry::ServicesOf(const Module *module)
    {
      std::vector<ServiceReferenceU> own;
      std::shared_lock<std::shared_mutex> lock(m_Mutex);
      for (const auto &record : m_All)
        if (record->module == module)
          own.emplace_back(MakeReference(record, record->objectClass.front()));
      return own;
    }

    void *CoreRegistry::GetService(Module *user, const ServiceReferenceBase &reference, bool asQObject)
    {
      const std::shared_ptr<ServiceRecord> &record = reference.d;
      if (!record || record->state.load() == ServiceState::Unregistered)
        return nullptr;
      void *service = nullptr;
      if (asQObject)
        service = record->qobject;
      else
      {
        const auto it = record->interfaces.find(reference.m_InterfaceId);
        if (it != record->interfaces.end())
          service = it->second;
      }
      if (!service)
        return nullptr;
      std::lock_guard<std::mutex> lock(record->usesMutex);
      ++record->uses[user];
      return service;
    }

    bool CoreRegistry::UngetService(Module *user, const ServiceReferenceBase &reference)
    {
      const std::shared_ptr<ServiceRecord> &record = reference.d;
      if (!record || record->state.load() == ServiceState::Unregistered)
        return false;
      std::lock_guard<std::mutex> lock(record->usesMutex);
      const auto it = record->uses.find(user);
      if (it == record->uses.end())
        return false;
      if (--it->second == 0)
        record->uses.erase(it);
      return true;
    }

    std::shared_ptr<const PropertySet> CoreRegistry::PropertiesOf(const ServiceRecord &record)
    {
      std::shared_lock<std::shared_mutex> lock(m_Mutex);
      return record.properties;
    }

    // -------------------------------------------------------------- listeners

    void CoreRegistry::AddListener(
      ModuleContext *context, const ListenerKey &key, long token, ServiceListener callback, const std::string &filter)
    {
      const LDAPFilter parsed(filter); // throws on a malformed filter
      Module *module = context->GetModule();
      std::unique_lock<std::shared_mutex> lock(m_Mutex);
      CheckLoaded(module, "AddServiceListener");
      if (key.receiver)
      {
        for (const auto &entry : *m_Listeners)
        {
          if (entry->context == context && entry->key == key)
          {
            std::lock_guard<std::mutex> entryLock(entry->mutex);
            entry->filter = parsed.Expression();
            return;
          }
        }
      }
      auto entry = std::make_shared<ListenerEntry>();
      entry->context = context;
      entry->module = module;
      entry->key = key;
      entry->token = token;
      entry->callback = std::move(callback);
      entry->filter = parsed.Expression();
      auto list = std::make_shared<ListenerList>(*m_Listeners);
      list->push_back(entry);
      m_Listeners = list;
    }

    bool CoreRegistry::RemoveListener(ModuleContext *context, const ListenerKey &key, long token)
    {
      std::shared_ptr<ListenerEntry> found;
      {
        std::unique_lock<std::shared_mutex> lock(m_Mutex);
        auto list = std::make_shared<ListenerList>();
        list->reserve(m_Listeners->size());
        for (const auto &entry : *m_Listeners)
        {
          const bool same = entry->context == context && (token ? entry->token == token : entry->key == key);
          if (same && !found)
            found = entry;
          else
            list->push_back(entry);
        }
        if (!found)
          return false;
        m_Listeners = list;
      }
      WaitUntilIdle(*found);
      return true;
    }

    void CoreRegistry::WaitUntilIdle(ListenerEntry &entry)
    {
      const std::thread::id self = std::this_thread::get_id();
      std::unique_lock<std::mutex> lock(entry.mutex);
      entry.removed = true;
      entry.idle.wait(lock, [&] {
        return std::all_of(entry.inCall.begin(), entry.inCall.end(), [self](std::thread::id t) { return t == self; });
      });
    }

    void CoreRegistry::Deliver(ServiceEvent::Type type,
                               const std::shared_ptr<ServiceRecord> &record,
                               const std::shared_ptr<const PropertySet> &properties,
                               const std::shared_ptr<const PropertySet> &previous,
                               const std::shared_ptr<const ListenerList> &listeners)
    {
      if (!listeners || listeners->empty())
        return;
      const ServiceReferenceU reference(MakeReference(record, record->objectClass.front()));
      const std::thread::id self = std::this_thread::get_id();
      for (const auto &entry : *listeners)
      {
        std::shared_ptr<const LDAPExpr> filter;
        {
          std::lock_guard<std::mutex> lock(entry->mutex);
          if (entry->removed)
            continue;
          filter = entry->filter;
        }
        ServiceEvent::Type delivered = type;
        if (type == ServiceEvent::MODIFIED)
        {
          if (filter && !Match(*filter, *properties))
          {
            if (previous && Match(*filter, *previous))
              delivered = ServiceEvent::MODIFIED_ENDMATCH;
            else
              continue;
          }
        }
        else if (filter && !Match(*filter, *properties))
          continue;

        {
          std::lock_guard<std::mutex> lock(entry->mutex);
          if (entry->removed)
            continue;
          entry->inCall.push_back(self);
        }
        std::string failure;
        try
        {
          entry->callback(ServiceEvent(delivered, reference));
        }
        catch (const std::exception &e)
        {
          failure = e.what();
        }
        catch (...)
        {
          failure = "an exception that is not a std::exception";
        }
        {
          std::lock_guard<std::mutex> lock(entry->mutex);
          entry->inCall.erase(std::find(entry->inCall.begin(), entry->inCall.end(), self));
        }
        entry->idle.notify_all();
        if (!failure.empty())
          VEXA_ERROR("CppMicroServices") << "A service listener of the module \"" << entry->module->GetName()
                                         << "\" threw on " << delivered << " of service " << record->id << ": "
                                         << failure;
      }
    }
  }
}
