#include <usTestInterfaces.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace
{
  const char *const DeviceTypeKey = "org.vexa.services.IGTLMessageSource.devicetype";

  /** 1,000 services of one interface, each with the properties a message source registers. */
  class ThousandServices
  {
  public:
    ThousandServices()
    {
      us::ModuleContext *context = us::GetModuleContext();
      for (int i = 0; i < 1000; ++i)
      {
        m_Services.push_back(std::make_unique<usTestServiceImpl>("bench"));
        us::ServiceProperties properties;
        properties["org.vexa.services.IGTLMessageSource.id"] =
          "org.vexa.services.IGTLMessageSource.id_" + std::to_string(i);
        properties["org.vexa.services.IGTLMessageSource.devicename"] = "Source " + std::to_string(i);
        properties[DeviceTypeKey] = "TYPE" + std::to_string(i);
        m_Registrations.push_back(context->RegisterService<usTestService>(m_Services.back().get(), properties));
      }
    }
    ~ThousandServices()
    {
      for (auto &registration : m_Registrations)
        registration.Unregister();
    }

  private:
    std::vector<std::unique_ptr<usTestServiceImpl>> m_Services;
    std::vector<us::ServiceRegistration<usTestService>> m_Registrations;
  };

  void BM_LookUpWithFilterOver1000Services(benchmark::State &state)
  {
    ThousandServices services;
    us::ModuleContext *context = us::GetModuleContext();
    const std::string filter = std::string("(") + DeviceTypeKey + "=TYPE500)";
    for (auto _ : state)
    {
      auto refs = context->GetServiceReferences("org.vexa.test.Service", filter);
      if (refs.size() != 1)
        state.SkipWithError("wrong number of matches");
      benchmark::DoNotOptimize(context->GetService(refs.front()));
    }
  }
  BENCHMARK(BM_LookUpWithFilterOver1000Services);

  void BM_LookUpWithNestedFilterOverAllServices(benchmark::State &state)
  {
    ThousandServices services;
    us::ModuleContext *context = us::GetModuleContext();
    const std::string filter = std::string("(&(objectclass=org.vexa.test.Service)(|(") + DeviceTypeKey + "=TYPE9*)(" +
                               DeviceTypeKey + "=NONE)))";
    for (auto _ : state)
    {
      auto refs = context->GetServiceReferences("", filter);
      if (refs.size() != 111)
        state.SkipWithError("wrong number of matches");
      benchmark::DoNotOptimize(refs.data());
    }
  }
  BENCHMARK(BM_LookUpWithNestedFilterOverAllServices);

  void BM_RegisterAndUnregister(benchmark::State &state)
  {
    ThousandServices services;
    us::ModuleContext *context = us::GetModuleContext();
    usTestServiceImpl service("bench");
    us::ServiceProperties properties;
    properties[DeviceTypeKey] = std::string("IMAGE");
    for (auto _ : state)
      context->RegisterService<usTestService>(&service, properties).Unregister();
  }
  BENCHMARK(BM_RegisterAndUnregister);
}

BENCHMARK_MAIN();
