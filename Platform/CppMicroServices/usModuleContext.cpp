#include <usModuleContext.h>

#include "usCoreRegistry.h"

namespace us
{
  using detail::CoreRegistry;

  ModuleContext::ModuleContext(Module *module) : m_Module(module) {}
  ModuleContext::~ModuleContext() = default;

  Module *ModuleContext::GetModule() const { return m_Module; }

  Module *ModuleContext::GetModule(long id) const
  {
    CoreRegistry::CheckLoaded(m_Module, "GetModule");
    return CoreRegistry::Instance().GetModule(id);
  }

  std::vector<Module *> ModuleContext::GetModules() const
  {
    CoreRegistry::CheckLoaded(m_Module, "GetModules");
    return CoreRegistry::Instance().GetModules();
  }

  ServiceRegistrationU ModuleContext::RegisterService(const InterfaceMap &service, const ServiceProperties &properties)
  {
    return RegisterService(service, properties, nullptr);
  }

  ServiceRegistrationU ModuleContext::RegisterService(const InterfaceMap &service,
                                                      const ServiceProperties &properties,
                                                      void *qobject)
  {
    CoreRegistry::CheckLoaded(m_Module, "RegisterService");
    return CoreRegistry::MakeRegistration(CoreRegistry::Instance().Register(m_Module, service, properties, qobject));
  }

  std::vector<ServiceReferenceU> ModuleContext::GetServiceReferences(const std::string &interfaceId,
                                                                     const std::string &filter)
  {
    CoreRegistry::CheckLoaded(m_Module, "GetServiceReferences");
    return CoreRegistry::Instance().Find(interfaceId, filter);
  }

  ServiceReferenceU ModuleContext::GetServiceReference(const std::string &interfaceId)
  {
    CoreRegistry::CheckLoaded(m_Module, "GetServiceReference");
    return CoreRegistry::Instance().FindBest(interfaceId);
  }

  void *ModuleContext::GetService(const ServiceReferenceBase &reference)
  {
    CoreRegistry::CheckLoaded(m_Module, "GetService");
    return CoreRegistry::Instance().GetService(m_Module, reference);
  }

  void *ModuleContext::GetServiceAsQObject(const ServiceReferenceBase &reference)
  {
    CoreRegistry::CheckLoaded(m_Module, "GetService");
    return CoreRegistry::Instance().GetService(m_Module, reference, true);
  }

  bool ModuleContext::UngetService(const ServiceReferenceBase &reference)
  {
    CoreRegistry::CheckLoaded(m_Module, "UngetService");
    return CoreRegistry::Instance().UngetService(m_Module, reference);
  }

  ListenerToken ModuleContext::AddServiceListener(ServiceListener listener, const std::string &filter)
  {
    if (!listener)
      throw std::invalid_argument("us::ModuleContext::AddServiceListener: empty listener");
    const long token = CoreRegistry::Instance().NextListenerToken();
    CoreRegistry::Instance().AddListener(this, detail::ListenerKey(), token, std::move(listener), filter);
    return ListenerToken(token);
  }

  void ModuleContext::RemoveServiceListener(ListenerToken token)
  {
    if (token)
      CoreRegistry::Instance().RemoveListener(this, detail::ListenerKey(), token.Id());
  }

  void ModuleContext::AddListener(const detail::ListenerKey &key, ServiceListener listener, const std::string &filter)
  {
    CoreRegistry::Instance().AddListener(this, key, 0, std::move(listener), filter);
  }

  void ModuleContext::RemoveListener(const detail::ListenerKey &key)
  {
    CoreRegistry::Instance().RemoveListener(this, key, 0);
  }
}
