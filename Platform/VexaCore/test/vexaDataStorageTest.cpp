#include <vexaCallbackFromGUIThread.h>
#include <vexaDataStorage.h>
#include <vexaException.h>
#include <vexaImage.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
  vexa::DataNode::Pointer Named(const std::string &name)
  {
    auto node = vexa::DataNode::New();
    node->SetName(name);
    return node;
  }

  std::vector<std::string> Names(const vexa::DataStorage::SetOfObjects &nodes)
  {
    std::vector<std::string> names;
    for (const auto &node : nodes)
      names.push_back(node->GetName());
    return names;
  }
}

TEST(DataStorage, AddRemoveAndLookUpKeepTheAddingOrder)
{
  auto storage = vexa::DataStorage::New();
  auto a = Named("a"), b = Named("b"), c = Named("c"), d = Named("a");
  storage->AddNode(a);
  storage->AddNode(b, a);
  storage->AddNode(c, b);
  storage->AddNode(d);
  auto image = vexa::Image::New();
  d->SetData(image);

  using Names_ = std::vector<std::string>;
  EXPECT_EQ((Names_{"a", "b", "c", "a"}), Names(storage->GetAll()));
  EXPECT_EQ(a, storage->GetNamedNode("a")); // the first of two with that name
  EXPECT_FALSE(storage->GetNamedNode("missing"));
  EXPECT_EQ(d, storage->GetNodeOfData(image));
  EXPECT_EQ((Names_{"b", "c"}), Names(storage->GetSubset([](const vexa::DataNode *n) { return n->GetName() != "a"; })));

  struct Case
  {
    const char *what;
    vexa::DataStorage::SetOfObjects found;
    Names_ expected;
  };
  const std::vector<Case> relations = {
    {"direct sources of c", storage->GetSources(c), {"b"}},
    {"all sources of c", storage->GetSources(c, nullptr, false), {"b", "a"}},
    {"direct derivations of a", storage->GetDerivations(a), {"b"}},
    {"all derivations of a", storage->GetDerivations(a, nullptr, false), {"b", "c"}},
    {"sources filtered",
     storage->GetSources(
       c, [](const vexa::DataNode *n) { return n->GetName() == "a"; }, false),
     {"a"}},
    {"no sources", storage->GetSources(a), {}},
  };
  for (const Case &r : relations)
    EXPECT_EQ(r.expected, Names(r.found)) << r.what;

  storage->RemoveNode(b);
  EXPECT_FALSE(storage->Exists(b));
  EXPECT_TRUE(storage->GetSources(c).empty()); // c lost b as its source
  EXPECT_EQ(3u, storage->GetNumberOfNodes());
  storage->RemoveNode(b);       // not there any more: nothing
  storage->RemoveNode(nullptr); // nothing either
  EXPECT_EQ(3u, storage->GetNumberOfNodes());
}

TEST(DataStorage, RefusesNullDuplicateAndUnknownParent)
{
  auto storage = vexa::DataStorage::New();
  auto a = Named("a");
  storage->AddNode(a);
  EXPECT_THROW(storage->AddNode(nullptr), vexa::Exception);
  EXPECT_THROW(storage->AddNode(a), vexa::Exception);
  auto stranger = Named("stranger");
  EXPECT_THROW(storage->AddNode(Named("child"), stranger), vexa::Exception);
  EXPECT_EQ(1u, storage->GetNumberOfNodes());
}

TEST(DataStorage, PredicatesMayCallBackIntoTheStorage)
{
  auto storage = vexa::DataStorage::New();
  storage->AddNode(Named("a"));
  storage->AddNode(Named("b"));
  // a predicate that looks up and even adds would deadlock if the lock were held
  const auto found = storage->GetSubset([&](const vexa::DataNode *node) {
    if (node->GetName() == "a")
      storage->AddNode(Named("added during the look-up"));
    return storage->Exists(node);
  });
  EXPECT_EQ(2u, found.size());
  EXPECT_EQ(3u, storage->GetNumberOfNodes());
}

TEST(DataStorage, ManyThreadsAddRemoveAndLookUp)
{
  auto storage = vexa::DataStorage::New();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([storage, t] {
      for (int i = 0; i < 300; ++i)
      {
        auto node = Named("t" + std::to_string(t) + "-" + std::to_string(i));
        storage->AddNode(node);
        storage->GetNamedNode("t0-5");
        if (i % 2)
          storage->RemoveNode(node);
      }
    });
  for (auto &thread : threads)
    thread.join();
  EXPECT_EQ(4u * 150u, storage->GetNumberOfNodes());
}

TEST(DataStorage, EventsArriveOnTheGuiThreadInTheOrderOfTheChanges)
{
  auto storage = vexa::DataStorage::New();
  std::vector<std::string> seen;
  std::vector<std::thread::id> threads;
  auto record = [&](const char *what) {
    return [&, what](const itk::EventObject &e) {
      const auto &event = dynamic_cast<const vexa::DataStorage::NodeEvent &>(e);
      seen.push_back(std::string(what) + " " + event.GetNode()->GetName());
      threads.push_back(std::this_thread::get_id());
    };
  };
  storage->AddObserver(vexa::DataStorage::AddNodeEvent(), record("added"));
  // observers may come from any thread
  std::thread([&] { storage->AddObserver(vexa::DataStorage::RemoveNodeEvent(), record("removed")); }).join();
  const unsigned long both = storage->AddObserver(vexa::DataStorage::NodeEvent(), record("any"));
  EXPECT_TRUE(storage->RemoveObserver(both));

  std::thread worker([storage] {
    auto a = Named("a");
    storage->AddNode(a);
    storage->AddNode(Named("b"));
    storage->RemoveNode(a); // a is gone from the storage before its events are delivered
  });
  worker.join();
  EXPECT_TRUE(seen.empty());
  vexa::CallbackFromGUIThread::GetInstance()->ProcessPendingCalls();
  EXPECT_EQ((std::vector<std::string>{"added a", "added b", "removed a"}), seen);
  for (const auto &id : threads)
    EXPECT_EQ(std::this_thread::get_id(), id);
}
