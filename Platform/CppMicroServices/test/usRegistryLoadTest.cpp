#include <usTestInterfaces.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace
{
  us::ModuleContext *Context() { return us::GetModuleContext(); }
}

// Several threads register, modify, look up and unregister services at once
// (as device worker threads query the registry while the GUI thread
// registers), while readers look up and get services and other threads add
// and remove listeners. Every thread checks what it sees; at the end every
// service has had exactly its three events, in order.
TEST(RegistryUnderLoad, ConcurrentUseStaysConsistent)
{
  constexpr int writers = 6;
  constexpr int rounds = 150;

  std::mutex journalMutex;
  std::map<long, std::vector<us::ServiceEvent::Type>> journal; // service id -> events
  const us::ListenerToken journalToken = Context()->AddServiceListener(
    [&](const us::ServiceEvent &event) {
      const long id = us::any_cast<long>(event.GetServiceReference().GetProperty("service.id"));
      std::lock_guard<std::mutex> lock(journalMutex);
      journal[id].push_back(event.GetType());
    },
    "(objectclass=org.vexa.test.Service)");

  std::atomic<int> failures{0};
  std::atomic<int> writersDone{0};
  auto fail = [&](const std::string &what) {
    if (failures.fetch_add(1) < 10)
      ADD_FAILURE() << what;
  };

  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w)
  {
    threads.emplace_back([&, w] {
      for (int i = 0; i < rounds; ++i)
      {
        usTestServiceImpl service("writer");
        us::ServiceProperties properties;
        properties["writer"] = w;
        properties["round"] = i;
        properties["state"] = std::string("new");
        auto reg = Context()->RegisterService<usTestService>(&service, properties);
        properties["state"] = std::string("modified");
        reg.SetProperties(properties);

        const std::string mine = "(&(writer=" + std::to_string(w) + ")(round=" + std::to_string(i) + "))";
        const auto found = Context()->GetServiceReferences<usTestService>(mine);
        if (found.size() != 1)
          fail("writer " + std::to_string(w) + " found " + std::to_string(found.size()) + " of its own service");
        else
        {
          if (Context()->GetService(found[0]) != &service)
            fail("GetService returned another object");
          if (found[0].GetProperty("STATE").ToString() != "modified")
            fail("the modification is not visible to its own thread");
          if (found[0] != reg.GetReference())
            fail("look-up and registration disagree");
        }
        reg.Unregister();
        if (!Context()->GetServiceReferences<usTestService>(mine).empty())
          fail("an unregistered service is still found");
        if (!found.empty() && Context()->GetService(found[0]))
          fail("an unregistered service is still handed out");
      }
      ++writersDone;
    });
  }

  for (int r = 0; r < 2; ++r)
  {
    threads.emplace_back([&] {
      while (writersDone.load() < writers)
      {
        for (const auto &ref : Context()->GetServiceReferences<usTestService>("(state=modified)"))
        {
          usTestService *service = Context()->GetService(ref);
          // a service may vanish between look-up and use, but never shows wrong data
          if (service && ref.GetProperty("writer").Empty())
            fail("a listed service lacks its properties");
          const std::string state = ref.GetProperty("state").ToString();
          if (state != "modified")
            fail("a filtered look-up returned state \"" + state + "\"");
          if (service)
            Context()->UngetService(ref);
        }
        const auto best = Context()->GetServiceReference<usTestService>();
        (void)best.GetPropertyKeys();
      }
    });
  }

  threads.emplace_back([&] {
    // listener churn: each added listener must see nothing after its removal
    int n = 0;
    while (writersDone.load() < writers)
    {
      auto removed = std::make_shared<std::atomic<bool>>(false);
      const us::ListenerToken token = Context()->AddServiceListener(
        [removed, &fail](const us::ServiceEvent &) {
          if (removed->load())
            fail("a listener was called after its removal returned");
        },
        (n++ % 2) ? "(state=new)" : "");
      std::this_thread::yield();
      Context()->RemoveServiceListener(token);
      removed->store(true);
    }
  });

  for (auto &t : threads)
    t.join();
  Context()->RemoveServiceListener(journalToken);

  EXPECT_EQ(0, failures.load());
  EXPECT_TRUE(Context()->GetServiceReferences<usTestService>().empty());
  using E = us::ServiceEvent;
  const std::vector<E::Type> expected = {E::REGISTERED, E::MODIFIED, E::UNREGISTERING};
  EXPECT_EQ(static_cast<std::size_t>(writers * rounds), journal.size());
  int wrong = 0;
  for (const auto &entry : journal)
    if (entry.second != expected && ++wrong <= 5)
      ADD_FAILURE() << "service " << entry.first << " had " << entry.second.size() << " events";
}
