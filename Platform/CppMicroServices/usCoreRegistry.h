#ifndef usCoreRegistry_h
#define usCoreRegistry_h

// Internal to the registry library: the one process-wide registry behind
// every module context. Not for callers.

#include <usModule.h>
#include <usModuleContext.h>
#include <usModuleInitialization.h>
#include <usServiceEvent.h>
#include <usServiceProperties.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace us
{
  namespace detail
  {
    struct LDAPExpr;

    /** ASCII lower case, as property keys are compared. */
    std::string LowerCase(const std::string &text);

    /** How filters compare a value: its type, found once when the properties are made. */
    enum class ValueKind
    {
      Text,
      Bool,
      Int,
      Long,
      LongLong,
      Short,
      UnsignedInt,
      UnsignedLong,
      UnsignedLongLong,
      UnsignedShort,
      Double,
      Float,
      TextVector,
      TextList,
      AnyVector,
      AnyList,
      Other
    };
    ValueKind KindOf(const Any &value);

    /** A service's properties, immutable once made; replaced as a whole by SetProperties. */
    struct PropertySet
    {
      struct Entry
      {
        std::size_t hash; // of the lower-case key
        std::string lowerKey;
        const Any *value;
        ValueKind kind;
      };

      ServiceProperties map;
      /** The keys in lower case with their hashes: filters compare hashes first (keys share long prefixes). */
      std::vector<Entry> index;

      static std::size_t Hash(const std::string &lowerKey) { return std::hash<std::string>()(lowerKey); }
      const Entry *Find(const std::string &lowerKey, std::size_t hash) const
      {
        for (const Entry &entry : index)
          if (entry.hash == hash && entry.lowerKey == lowerKey)
            return &entry;
        return nullptr;
      }
      static std::shared_ptr<const PropertySet> Make(ServiceProperties properties);
    };

    bool Match(const LDAPExpr &expr, const PropertySet &properties);

    enum class ServiceState : int
    {
      Registered,
      Unregistering,
      Unregistered
    };

    struct ServiceRecord
    {
      long id = 0;
      Module *module = nullptr;
      InterfaceMap interfaces;              // fixed at registration
      void *qobject = nullptr;              // the service as a QObject, or null; fixed at registration
      std::vector<std::string> objectClass; // the interface ids, fixed at registration
      std::atomic<ServiceState> state{ServiceState::Registered};
      std::atomic<int> ranking{0};
      std::shared_ptr<const PropertySet> properties; // guarded by the registry's mutex

      std::mutex usesMutex;
      std::map<Module *, unsigned long> uses; // GetService counts per module
    };

    struct ListenerEntry
    {
      ModuleContext *context = nullptr;
      Module *module = nullptr;
      ListenerKey key; // receiver and method, or empty for a function object
      long token = 0;  // the function object's token, or 0
      ServiceListener callback;

      std::mutex mutex;
      std::condition_variable idle;
      std::shared_ptr<const LDAPExpr> filter; // null: every event; guarded by mutex
      bool removed = false;                   // guarded by mutex
      std::vector<std::thread::id> inCall;    // threads delivering to it now; guarded by mutex
    };

    using ListenerList = std::vector<std::shared_ptr<ListenerEntry>>;

    struct ModuleData
    {
      long id = 0;
      std::string name;
      std::string location; // guarded by the registry's module mutex
      ModuleContext *context = nullptr;
      std::atomic<bool> loaded{false};
      std::atomic<bool> started{false};
      std::recursive_mutex lifecycle;     // serialises start, stop and unload
      ActivatorFactory factory = nullptr; // guarded by lifecycle
      ModuleActivator *activator = nullptr;
      long startOrder = 0;
    };

    /**
     * The registry. One per process, never destroyed (binaries unregister
     * their modules at exit after other libraries' statics may be gone).
     */
    class CoreRegistry
    {
    public:
      static CoreRegistry &Instance();

      // Modules
      Module *RegisterModule(const char *name, const void *anchor);
      void UnregisterModule(Module *module);
      void SetActivatorFactory(Module *module, ActivatorFactory factory);
      void ActivatorDestroyed(Module *module);
      Module *GetModule(long id);
      Module *GetModule(const std::string &name);
      std::vector<Module *> GetModules();
      bool Start(Module *module);
      bool Stop(Module *module);
      bool StartAll();
      bool StopAll();
      std::string GetLocation(const Module *module);

      // Services
      std::shared_ptr<ServiceRecord> Register(Module *module,
                                              const InterfaceMap &interfaces,
                                              const ServiceProperties &properties,
                                              void *qobject = nullptr);
      void SetProperties(const std::shared_ptr<ServiceRecord> &record, const ServiceProperties &properties);
      void Unregister(const std::shared_ptr<ServiceRecord> &record);
      std::vector<ServiceReferenceU> Find(const std::string &interfaceId, const std::string &filter);
      ServiceReferenceU FindBest(const std::string &interfaceId);
      std::vector<ServiceReferenceU> ServicesOf(const Module *module);
      /** The service seen as the reference's interface, or (asQObject) as a QObject; counted as a use unless null. */
      void *GetService(Module *user, const ServiceReferenceBase &reference, bool asQObject = false);
      bool UngetService(Module *user, const ServiceReferenceBase &reference);
      std::shared_ptr<const PropertySet> PropertiesOf(const ServiceRecord &record);
      static ServiceReferenceBase MakeReference(const std::shared_ptr<ServiceRecord> &record,
                                                const std::string &interfaceId)
      {
        return ServiceReferenceBase(record, interfaceId);
      }
      static const std::shared_ptr<ServiceRecord> &RecordOf(const ServiceReferenceBase &reference)
      {
        return reference.d;
      }
      static const std::shared_ptr<ServiceRecord> &RecordOf(const ServiceRegistrationBase &registration)
      {
        return registration.d;
      }
      static ServiceRegistrationBase MakeRegistration(std::shared_ptr<ServiceRecord> record)
      {
        return ServiceRegistrationBase(std::move(record));
      }

      // Listeners
      void AddListener(ModuleContext *context,
                       const ListenerKey &key,
                       long token,
                       ServiceListener callback,
                       const std::string &filter);
      /** Removes the listener and waits until no other thread delivers to it. False when there was none. */
      bool RemoveListener(ModuleContext *context, const ListenerKey &key, long token);
      long NextListenerToken() { return m_NextToken.fetch_add(1); }

      /** Throws std::logic_error when the module is not loaded. */
      static void CheckLoaded(const Module *module, const char *operation);

    private:
      CoreRegistry() = default;

      bool StopLocked(Module *module, bool unloading);
      void RemoveModuleResources(Module *module);
      void Deliver(ServiceEvent::Type type,
                   const std::shared_ptr<ServiceRecord> &record,
                   const std::shared_ptr<const PropertySet> &properties,
                   const std::shared_ptr<const PropertySet> &previous,
                   const std::shared_ptr<const ListenerList> &listeners);
      static void WaitUntilIdle(ListenerEntry &entry);
      static ModuleData &Data(const Module *module);

      std::shared_mutex m_Mutex;                         // services and the listener list
      std::vector<std::shared_ptr<ServiceRecord>> m_All; // registered, by id
      std::unordered_map<std::string, std::vector<std::shared_ptr<ServiceRecord>>> m_ByInterface;
      std::shared_ptr<const ListenerList> m_Listeners = std::make_shared<ListenerList>();
      std::atomic<long> m_NextToken{1};

      std::mutex m_ModulesMutex;
      std::vector<Module *> m_Modules; // every module ever registered, by id
      long m_StartCounter = 0;         // guarded by m_ModulesMutex
    };
  }
}

#endif
