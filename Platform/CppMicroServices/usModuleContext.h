#ifndef usModuleContext_h
#define usModuleContext_h

#include <usServiceEvent.h>
#include <usServiceInterface.h>
#include <usServiceListener.h>
#include <usServiceProperties.h>
#include <usServiceReference.h>
#include <usServiceRegistration.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <typeinfo>
#include <vector>

namespace us
{
  class Module;

  namespace detail
  {
    class CoreRegistry;

    /**
     * A class with Qt's meta-object macro answers its QObject part through
     * its own meta-cast; anything else is no QObject. (The registry does not
     * link Qt: the meta-cast is found by its signature.)
     */
    template <class S>
    auto QObjectOf(S *service, int) -> decltype(std::declval<std::remove_const_t<S> *>()->qt_metacast("QObject"))
    {
      return const_cast<std::remove_const_t<S> *>(service)->qt_metacast("QObject");
    }
    template <class S>
    void *QObjectOf(S *, long)
    {
      return nullptr;
    }

    /** Identity of a listener given as receiver and member function, for its replacement and removal. */
    struct ListenerKey
    {
      const void *receiver = nullptr;
      std::string method; // the bytes of the member-function pointer, then its type's name
      bool operator==(const ListenerKey &other) const { return receiver == other.receiver && method == other.method; }
    };

    template <class M>
    ListenerKey MakeListenerKey(const void *receiver, M method)
    {
      ListenerKey key;
      key.receiver = receiver;
      key.method.assign(reinterpret_cast<const char *>(&method), sizeof(method));
      key.method += typeid(M).name();
      return key;
    }
  }

  /**
   * A module's access to the registry: what it registers is owned by it
   * (withdrawn when it stops or is unloaded), what it looks up is every
   * module's. Get your own with us::GetModuleContext().
   *
   * Thread-safe: any thread may register, modify, look up and unregister
   * services and add or remove listeners at any time.
   *
   * Service listeners are called synchronously on the thread that registers,
   * modifies or unregisters the service, after the registry released its
   * lock, so a listener may look up, get, register and unregister services
   * and add or remove listeners. An exception from a listener is logged and
   * does not reach the caller. RemoveServiceListener guarantees that once it
   * returns the listener is not called again: it waits for deliveries to that
   * listener running on other threads (a listener that removes itself does
   * not wait for itself). So a listener must not block on a thread that is
   * removing that same listener, and the removing thread must not hold a
   * lock that the listener takes (a receiver removes its listener in its
   * destructor before it locks anything the callback uses). Events of one
   * service that come from one thread arrive in order; events that other
   * threads cause at the same time may interleave with them.
   *
   * Every call on the context of a module that is not loaded throws
   * std::logic_error.
   */
  class CPPMICROSERVICES_EXPORT ModuleContext
  {
  public:
    ModuleContext(const ModuleContext &) = delete;
    ModuleContext &operator=(const ModuleContext &) = delete;

    Module *GetModule() const;
    /** Any loaded module, by id; null when none. */
    Module *GetModule(long id) const;
    /** The loaded modules, in load order. */
    std::vector<Module *> GetModules() const;

    /**
     * Registers `service` under S's interface id only (us_service_interface_iid<S>()).
     * The registry adds "objectclass" (a std::vector<std::string> with that id)
     * and "service.id" (a long, one more than the last registered service's),
     * replacing values given under those keys. Listeners receive REGISTERED
     * before this returns. Throws std::invalid_argument for a null service.
     */
    template <class S>
    ServiceRegistration<S> RegisterService(S *service, const ServiceProperties &properties = ServiceProperties())
    {
      InterfaceMap interfaces;
      interfaces[us_service_interface_iid<S>()] = const_cast<void *>(static_cast<const void *>(service));
      return ServiceRegistration<S>(RegisterService(interfaces, properties, detail::QObjectOf(service, 0)));
    }

    /**
     * Registers one object under several interface ids, each with the
     * pointer to hand out for it. Throws std::invalid_argument for an empty
     * map, an empty id or a null pointer.
     */
    ServiceRegistrationU RegisterService(const InterfaceMap &service,
                                         const ServiceProperties &properties = ServiceProperties());
    /**
     * The same, also naming the object as a QObject (`qobject`, null when it
     * is none) for the plug-in framework's face of the registry, whose
     * services are handed out as QObject pointers. The typed RegisterService
     * passes it for every class with Qt's meta-object macro.
     */
    ServiceRegistrationU RegisterService(const InterfaceMap &service,
                                         const ServiceProperties &properties,
                                         void *qobject);

    /**
     * References of the services registered under `interfaceId` ("" for every
     * interface) that match `filter` (an LDAP filter, "" for all), in the
     * order they were registered. A malformed filter throws std::invalid_argument.
     */
    std::vector<ServiceReferenceU> GetServiceReferences(const std::string &interfaceId,
                                                        const std::string &filter = std::string());

    template <class S>
    std::vector<ServiceReference<S>> GetServiceReferences(const std::string &filter = std::string())
    {
      const std::string id = us_service_interface_iid<S>();
      std::vector<ServiceReferenceU> untyped = GetServiceReferences(id, filter);
      std::vector<ServiceReference<S>> typed;
      typed.reserve(untyped.size());
      for (const ServiceReferenceU &reference : untyped)
        typed.push_back(ServiceReference<S>(reference));
      return typed;
    }

    /** The best service under `interfaceId`: highest "service.ranking", then lowest service id. Invalid when none. */
    ServiceReferenceU GetServiceReference(const std::string &interfaceId);

    template <class S>
    ServiceReference<S> GetServiceReference()
    {
      return ServiceReference<S>(GetServiceReference(us_service_interface_iid<S>()));
    }

    /**
     * The service object seen as the reference's interface, as it was
     * registered; null for an invalid reference or a service that has been
     * unregistered.
     */
    void *GetService(const ServiceReferenceBase &reference);

    template <class S>
    S *GetService(const ServiceReference<S> &reference)
    {
      return static_cast<S *>(GetService(static_cast<const ServiceReferenceBase &>(reference)));
    }

    /**
     * The service object as a QObject (the pointer named at registration),
     * counted as one use like GetService; null when the service was not
     * registered as a QObject, is gone, or the reference is invalid.
     */
    void *GetServiceAsQObject(const ServiceReferenceBase &reference);

    /** Releases one GetService of this module. False when this module does not use the service or it is gone. */
    bool UngetService(const ServiceReferenceBase &reference);

    /**
     * Calls `(receiver->*callback)(event)` for every service event whose
     * service matches `filter` ("" for all). Adding the same receiver and
     * callback again replaces the filter. A malformed filter throws
     * std::invalid_argument.
     */
    template <class R, class Arg>
    void AddServiceListener(R *receiver, void (R::*callback)(Arg), const std::string &filter = std::string())
    {
      AddListener(
        detail::MakeListenerKey(receiver, callback),
        [receiver, callback](const ServiceEvent &event) { (receiver->*callback)(event); }, filter);
    }

    template <class R, class Arg>
    void RemoveServiceListener(R *receiver, void (R::*callback)(Arg))
    {
      RemoveListener(detail::MakeListenerKey(receiver, callback));
    }

    /** A listener as a function object; keep the token to remove it. */
    ListenerToken AddServiceListener(ServiceListener listener, const std::string &filter = std::string());
    void RemoveServiceListener(ListenerToken token);

  private:
    friend class detail::CoreRegistry;
    explicit ModuleContext(Module *module);
    ~ModuleContext();

    void AddListener(const detail::ListenerKey &key, ServiceListener listener, const std::string &filter);
    void RemoveListener(const detail::ListenerKey &key);

    Module *const m_Module;
  };
}

#endif
