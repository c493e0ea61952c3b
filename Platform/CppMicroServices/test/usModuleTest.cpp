#include <usTestInterfaces.h>
#include <usTestModules.h>

#include <usGetModuleContext.h>
#include <usModule.h>
#include <usModuleContext.h>
#include <usModuleRegistry.h>

#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>

namespace
{
  std::vector<std::string> Origins(const std::string &filter = std::string())
  {
    std::vector<std::string> origins;
    for (const auto &ref : us::GetModuleContext()->GetServiceReferences<usTestService>(filter))
      origins.push_back(ref.GetProperty("origin").ToString());
    return origins;
  }

  class Modules : public ::testing::Test
  {
  protected:
    void TearDown() override
    {
      usTestModuleB_SetFailures(false, false);
      us::ModuleRegistry::StopAll();
    }
  };
}

TEST_F(Modules, EachBinaryAnswersForItself)
{
  // Three binaries define the same hidden hook; each call binds to its own.
  EXPECT_EQ("main", us::GetModuleContext()->GetModule()->GetName());
  EXPECT_EQ("usTestModuleA", usTestModuleA_ModuleName());
  EXPECT_EQ("usTestModuleB", usTestModuleB_ModuleName());

  us::Module *a = us::ModuleRegistry::GetModule("usTestModuleA");
  us::Module *b = us::ModuleRegistry::GetModule("usTestModuleB");
  us::Module *main = us::ModuleRegistry::GetModule("main");
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  ASSERT_EQ(us::GetModuleContext()->GetModule(), main);
  EXPECT_EQ(a->GetModuleContext(), usTestModuleA_Context());
  EXPECT_EQ(b->GetModuleContext(), usTestModuleB_Context());
  EXPECT_NE(usTestModuleA_Context(), usTestModuleB_Context());
  EXPECT_NE(std::string::npos, a->GetLocation().find("usTestModuleA")) << a->GetLocation();
  EXPECT_EQ(a, us::ModuleRegistry::GetModule(a->GetModuleId()));
  EXPECT_EQ(nullptr, us::ModuleRegistry::GetModule("noSuchModule"));

  // libraries load before the program that links them
  EXPECT_LT(a->GetModuleId(), main->GetModuleId());
  EXPECT_LT(b->GetModuleId(), main->GetModuleId());
  const auto modules = us::ModuleRegistry::GetModules();
  EXPECT_NE(modules.end(), std::find(modules.begin(), modules.end(), a));

  // a service registered through a library's own context belongs to that library
  us::ServiceRegistrationU direct = usTestModuleA_RegisterService("direct");
  const auto refs = us::GetModuleContext()->GetServiceReferences<usTestService>("(origin=direct)");
  ASSERT_EQ(1u, refs.size());
  EXPECT_EQ(a, refs[0].GetModule());
  direct.Unregister();
}

TEST_F(Modules, ActivatorsRunOnlyWhenStartedAndStoppingWithdrawsServices)
{
  us::Module *a = us::ModuleRegistry::GetModule("usTestModuleA");
  ASSERT_NE(nullptr, a);
  EXPECT_TRUE(a->IsLoaded());
  EXPECT_FALSE(a->IsStarted());
  EXPECT_TRUE(Origins().empty()); // loading the library ran no activator

  std::vector<us::ServiceEvent::Type> events;
  const auto token = us::GetModuleContext()->AddServiceListener(
    [&](const us::ServiceEvent &event) { events.push_back(event.GetType()); }, "(origin=usTestModuleA)");

  ASSERT_TRUE(a->Start());
  EXPECT_TRUE(a->IsStarted());
  EXPECT_EQ((std::vector<std::string>{"usTestModuleA", "usTestModuleA"}), Origins());
  EXPECT_EQ(2u, a->GetRegisteredServices().size());
  EXPECT_TRUE(a->Start()); // already started: nothing more
  EXPECT_EQ(2u, Origins().size());

  // The activator kept no registration and unregisters nothing: Stop does it.
  EXPECT_TRUE(a->Stop());
  EXPECT_FALSE(a->IsStarted());
  EXPECT_TRUE(a->IsLoaded());
  EXPECT_TRUE(Origins().empty());
  using E = us::ServiceEvent;
  EXPECT_EQ((std::vector<E::Type>{E::REGISTERED, E::REGISTERED, E::UNREGISTERING, E::UNREGISTERING}), events);
  EXPECT_TRUE(a->Stop()); // not started: nothing

  // started again: the same activator loads again
  ASSERT_TRUE(a->Start());
  EXPECT_EQ(2u, Origins().size());
  us::GetModuleContext()->RemoveServiceListener(token);
}

TEST_F(Modules, StartAllAndStopAllInOppositeOrders)
{
  vorlen::CapturingSink sink; // the test modules' activators log "Load <name>" and "Unload <name>"
  ASSERT_TRUE(us::ModuleRegistry::StartAll());
  for (us::Module *module : us::ModuleRegistry::GetModules())
    EXPECT_TRUE(module->IsStarted()) << *module;
  std::vector<std::string> origins = Origins();
  std::sort(origins.begin(), origins.end());
  EXPECT_EQ((std::vector<std::string>{"usTestModuleA", "usTestModuleA", "usTestModuleB"}), origins);

  ASSERT_TRUE(us::ModuleRegistry::StopAll());
  for (us::Module *module : us::ModuleRegistry::GetModules())
    EXPECT_FALSE(module->IsStarted()) << *module;
  EXPECT_TRUE(Origins().empty());

  // StartAll went in load order, StopAll goes backwards
  const bool aFirst = us::ModuleRegistry::GetModule("usTestModuleA")->GetModuleId() <
                      us::ModuleRegistry::GetModule("usTestModuleB")->GetModuleId();
  const std::vector<std::string> expected =
    aFirst ? std::vector<std::string>{"Load usTestModuleA", "Load usTestModuleB", "Unload usTestModuleB",
                                      "Unload usTestModuleA"}
           : std::vector<std::string>{"Load usTestModuleB", "Load usTestModuleA", "Unload usTestModuleA",
                                      "Unload usTestModuleB"};
  EXPECT_EQ(expected, sink.Texts(0));
}

TEST_F(Modules, FailingActivatorIsLoggedAndReported)
{
  vorlen::CapturingSink sink;
  us::Module *b = us::ModuleRegistry::GetModule("usTestModuleB");
  ASSERT_NE(nullptr, b);

  usTestModuleB_SetFailures(true, false);
  EXPECT_FALSE(b->Start());
  EXPECT_FALSE(b->IsStarted());
  EXPECT_TRUE(sink.Contains("usTestModuleB refuses to load", 2));
  EXPECT_TRUE(sink.Contains("\"usTestModuleB\"", 2));
  EXPECT_TRUE(Origins().empty());               // what Load registered before it threw is withdrawn
  EXPECT_FALSE(us::ModuleRegistry::StartAll()); // the others start, B still fails
  EXPECT_TRUE(us::ModuleRegistry::GetModule("usTestModuleA")->IsStarted());
  EXPECT_TRUE(Origins("(origin=usTestModuleB)").empty());

  usTestModuleB_SetFailures(false, true);
  ASSERT_TRUE(b->Start());
  EXPECT_EQ((std::vector<std::string>{"usTestModuleB"}), Origins("(origin=usTestModuleB)"));
  EXPECT_FALSE(b->Stop());
  EXPECT_TRUE(sink.Contains("usTestModuleB refuses to unload", 2));
  EXPECT_FALSE(b->IsStarted()); // stopped nevertheless
  EXPECT_TRUE(Origins("(origin=usTestModuleB)").empty());
}

TEST_F(Modules, LoadingAndUnloadingAPlugin)
{
  std::vector<std::pair<us::ServiceEvent::Type, std::string>> events;
  const auto token = us::GetModuleContext()->AddServiceListener(
    [&](const us::ServiceEvent &event) {
      events.emplace_back(event.GetType(), event.GetServiceReference().GetProperty("origin").ToString());
    },
    "(origin=usTestPluginC)");

  for (int cycle = 0; cycle < 2; ++cycle)
  {
    void *handle = dlopen(US_TEST_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, handle) << dlerror();
    auto moduleName = reinterpret_cast<usTestPluginC_NameFunction>(dlsym(handle, "usTestPluginC_ModuleName"));
    auto knownAtStaticInit =
      reinterpret_cast<usTestPluginC_IntFunction>(dlsym(handle, "usTestPluginC_ModuleKnownAtStaticInit"));
    auto loadCount = reinterpret_cast<usTestPluginC_IntFunction>(dlsym(handle, "usTestPluginC_LoadCount"));
    ASSERT_TRUE(moduleName && knownAtStaticInit && loadCount);
    ASSERT_NE(nullptr, dlsym(handle, "_us_module_activator_instance_usTestPluginC"));

    EXPECT_STREQ("usTestPluginC", moduleName());
    EXPECT_EQ(1, knownAtStaticInit()) << "the module was not registered before the plug-in's other static initialisers";
    us::Module *c = us::ModuleRegistry::GetModule("usTestPluginC");
    ASSERT_NE(nullptr, c);
    EXPECT_TRUE(c->IsLoaded());
    EXPECT_FALSE(c->IsStarted());
    EXPECT_EQ(0, loadCount()); // loading runs no activator
    EXPECT_TRUE(Origins("(origin=usTestPluginC)").empty());

    ASSERT_TRUE(us::ModuleRegistry::StartAll()); // starts the newly loaded module
    EXPECT_EQ(1, loadCount());
    const auto refs = us::GetModuleContext()->GetServiceReferences<usTestService>("(origin=usTestPluginC)");
    ASSERT_EQ(1u, refs.size());
    EXPECT_EQ(c, refs[0].GetModule());
    EXPECT_EQ("usTestPluginC", us::GetModuleContext()->GetService(refs[0])->Origin());
    us::ModuleContext *pluginContext = c->GetModuleContext();

    // Unloading the started plug-in stops it and withdraws its service.
    ASSERT_EQ(0, dlclose(handle));
    EXPECT_EQ(nullptr, us::ModuleRegistry::GetModule("usTestPluginC"));
    EXPECT_FALSE(c->IsLoaded());
    EXPECT_FALSE(c->IsStarted());
    EXPECT_FALSE(refs[0]);
    EXPECT_EQ(nullptr, us::GetModuleContext()->GetService(refs[0]));
    EXPECT_EQ("made by the plug-in", refs[0].GetProperty("note").ToString()); // outlives the plug-in's code
    EXPECT_TRUE(Origins("(origin=usTestPluginC)").empty());
    EXPECT_THROW(pluginContext->GetServiceReferences<usTestService>(), std::logic_error);
  }
  using E = us::ServiceEvent;
  const std::pair<E::Type, std::string> registered(E::REGISTERED, "usTestPluginC");
  const std::pair<E::Type, std::string> unregistering(E::UNREGISTERING, "usTestPluginC");
  EXPECT_EQ((std::vector<std::pair<E::Type, std::string>>{registered, unregistering, registered, unregistering}),
            events);
  us::GetModuleContext()->RemoveServiceListener(token);
}
