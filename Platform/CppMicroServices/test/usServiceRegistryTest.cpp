#include <usTestInterfaces.h>

#include <usGetModuleContext.h>
#include <usModule.h>
#include <usModuleContext.h>
#include <usServiceRegistration.h>

#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

namespace
{
  struct SecondInterface
  {
    virtual ~SecondInterface() {}
    int second = 2;
  };

  /** Two interfaces at different addresses inside one object. */
  struct TwoFaced : usTestService, SecondInterface
  {
    std::string Origin() const override { return "two-faced"; }
  };

  struct DerivedService : usTestServiceImpl
  {
    DerivedService() : usTestServiceImpl("derived") {}
  };

  /** Unregisters what a test left registered. */
  class Registry : public ::testing::Test
  {
  protected:
    void TearDown() override
    {
      for (auto &registration : m_Registrations)
        if (registration)
          registration.Unregister();
    }

    template <class S>
    us::ServiceRegistration<S> Keep(us::ServiceRegistration<S> registration)
    {
      m_Registrations.push_back(registration);
      return registration;
    }

    us::ModuleContext *Context() { return us::GetModuleContext(); }

    std::vector<us::ServiceRegistrationU> m_Registrations;
  };
}

TEST_F(Registry, RegisterAddsObjectClassAndIncreasingServiceId)
{
  usTestServiceImpl first("first"), second("second");
  us::ServiceProperties properties;
  properties["org.vexa.test.Service.name"] = std::string("first");
  properties["ObjectClass"] = std::string("forged"); // the registry's keys win
  properties["SERVICE.ID"] = 999999L;
  auto reg1 = Keep(Context()->RegisterService<usTestService>(&first, properties));
  auto reg2 = Keep(Context()->RegisterService<usTestService>(&second));

  const us::ServiceReference<usTestService> ref1 = reg1.GetReference();
  const us::ServiceReference<usTestService> ref2 = reg2.GetReference();
  EXPECT_EQ((std::vector<std::string>{"org.vexa.test.Service"}),
            us::any_cast<std::vector<std::string>>(ref1.GetProperty(us::ServiceConstants::OBJECTCLASS())));
  const long id1 = us::any_cast<long>(ref1.GetProperty("service.id"));
  const long id2 = us::any_cast<long>(ref2.GetProperty("service.id"));
  EXPECT_LT(id1, id2);
  EXPECT_NE(999999L, id1);

  // look-up keys ignore case; the registered spelling is kept
  EXPECT_EQ("first", ref1.GetProperty("ORG.VEXA.TEST.SERVICE.NAME").ToString());
  EXPECT_TRUE(ref1.GetProperty("no such key").Empty());
  std::vector<std::string> keys;
  ref1.GetPropertyKeys(keys);
  EXPECT_EQ((std::set<std::string>{"objectclass", "org.vexa.test.Service.name", "service.id"}),
            std::set<std::string>(keys.begin(), keys.end()));
  EXPECT_EQ(keys, ref1.GetPropertyKeys());

  EXPECT_EQ(&first, Context()->GetService(ref1));
  EXPECT_EQ(&second, Context()->GetService(ref2));
  EXPECT_EQ(Context()->GetModule(), ref1.GetModule());
  EXPECT_EQ("main", ref1.GetModule()->GetName());
  EXPECT_EQ("org.vexa.test.Service", ref1.GetInterfaceId());
}

TEST_F(Registry, InterfaceIdIsDeclaredOrTheDemangledClassName)
{
  EXPECT_EQ("org.vexa.test.Service", us_service_interface_iid<usTestService>());
  EXPECT_EQ("vexaTest::UndeclaredService", us_service_interface_iid<vexaTest::UndeclaredService>());

  vexaTest::UndeclaredService undeclared;
  auto reg = Keep(Context()->RegisterService<vexaTest::UndeclaredService>(&undeclared));
  const auto refs = Context()->GetServiceReferences("vexaTest::UndeclaredService");
  ASSERT_EQ(1u, refs.size());
  EXPECT_EQ(&undeclared, Context()->GetService(refs[0]));
  EXPECT_TRUE(Context()->GetServiceReferences<usTestService>().empty());

  // a derived object registered as its interface is listed under that interface only
  DerivedService derived;
  Keep(Context()->RegisterService<usTestService>(&derived));
  EXPECT_EQ(1u, Context()->GetServiceReferences<usTestService>().size());
  EXPECT_TRUE(Context()->GetServiceReferences(us_service_interface_iid<DerivedService>()).empty());
  EXPECT_TRUE(Context()->GetServiceReferences(us_service_interface_iid<usTestServiceImpl>()).empty());
}

TEST_F(Registry, LookUpsFilterAndKeepTheRegistrationOrder)
{
  std::vector<std::unique_ptr<usTestServiceImpl>> services;
  for (int i = 0; i < 5; ++i)
  {
    services.push_back(std::make_unique<usTestServiceImpl>("s" + std::to_string(i)));
    us::ServiceProperties properties;
    properties["devicetype"] = std::string(i % 2 ? "IMAGE" : "TDATA");
    properties["index"] = i;
    Keep(Context()->RegisterService<usTestService>(services.back().get(), properties));
  }
  const auto images = Context()->GetServiceReferences("org.vexa.test.Service", "(devicetype=IMAGE)");
  ASSERT_EQ(2u, images.size());
  EXPECT_EQ(1, us::any_cast<int>(images[0].GetProperty("index")));
  EXPECT_EQ(3, us::any_cast<int>(images[1].GetProperty("index")));
  EXPECT_EQ(services[1].get(), Context()->GetService(images[0]));

  const auto typed = Context()->GetServiceReferences<usTestService>("(index>=3)");
  ASSERT_EQ(2u, typed.size());
  EXPECT_EQ(services[3].get(), Context()->GetService(typed[0]));

  EXPECT_EQ(5u, Context()->GetServiceReferences("", "(objectclass=org.vexa.test.Service)").size());
  EXPECT_EQ(5u, Context()->GetServiceReferences<usTestService>().size());
  EXPECT_TRUE(Context()->GetServiceReferences("org.vexa.test.Nothing").empty());
  EXPECT_THROW(Context()->GetServiceReferences("org.vexa.test.Service", "(devicetype=IMAGE"), std::invalid_argument);
  EXPECT_THROW(Context()->GetServiceReferences<usTestService>("GET_*"), std::invalid_argument);
}

TEST_F(Registry, BestReferencePrefersRankingThenTheOldest)
{
  usTestServiceImpl a("a"), b("b"), c("c");
  EXPECT_FALSE(Context()->GetServiceReference<usTestService>());
  Keep(Context()->RegisterService<usTestService>(&a));
  auto regB = Keep(Context()->RegisterService<usTestService>(&b));
  EXPECT_EQ(&a, Context()->GetService(Context()->GetServiceReference<usTestService>()));

  us::ServiceProperties ranked;
  ranked["service.ranking"] = 10;
  Keep(Context()->RegisterService<usTestService>(&c, ranked));
  EXPECT_EQ(&c, Context()->GetService(Context()->GetServiceReference<usTestService>()));
  regB.SetProperties(ranked);
  EXPECT_EQ(&b, Context()->GetService(Context()->GetServiceReference<usTestService>()));

  // ordering and hashing of references
  auto refs = Context()->GetServiceReferences<usTestService>();
  ASSERT_EQ(3u, refs.size());
  EXPECT_LT(refs[0], refs[1]);                 // a: ranking 0 < b: ranking 10
  EXPECT_LT(refs[2], refs[1]);                 // equal ranking: the older (b) is greater
  EXPECT_LT(us::ServiceReferenceU(), refs[0]); // invalid first
  std::set<us::ServiceReferenceU> ordered(refs.begin(), refs.end());
  std::unordered_set<us::ServiceReferenceU> hashed(refs.begin(), refs.end());
  EXPECT_EQ(3u, ordered.size());
  EXPECT_EQ(3u, hashed.size());
  EXPECT_EQ(refs[1], regB.GetReference());
}

TEST_F(Registry, OneObjectUnderSeveralInterfaces)
{
  TwoFaced object;
  us::InterfaceMap interfaces;
  interfaces["org.vexa.test.Service"] = static_cast<usTestService *>(&object);
  interfaces["org.vexa.test.Second"] = static_cast<SecondInterface *>(&object);
  ASSERT_NE(static_cast<void *>(static_cast<usTestService *>(&object)),
            static_cast<void *>(static_cast<SecondInterface *>(&object)));
  us::ServiceRegistrationU reg = Keep(Context()->RegisterService(interfaces));

  const auto first = Context()->GetServiceReferences("org.vexa.test.Service");
  const auto second = Context()->GetServiceReferences("org.vexa.test.Second");
  ASSERT_EQ(1u, first.size());
  ASSERT_EQ(1u, second.size());
  EXPECT_EQ(first[0], second[0]); // one service
  EXPECT_EQ(static_cast<usTestService *>(&object), Context()->GetService(first[0]));
  EXPECT_EQ(static_cast<SecondInterface *>(&object), Context()->GetService(second[0]));
  EXPECT_EQ(2, static_cast<SecondInterface *>(Context()->GetService(reg.GetReference("org.vexa.test.Second")))->second);

  // typed views of an untyped reference
  const us::ServiceReference<usTestService> typed(second[0]);
  ASSERT_TRUE(typed);
  EXPECT_EQ("two-faced", Context()->GetService(typed)->Origin());
  EXPECT_FALSE(us::ServiceReference<vexaTest::UndeclaredService>(second[0]));
  EXPECT_FALSE(us::ServiceRegistration<vexaTest::UndeclaredService>(reg));
  EXPECT_TRUE(us::ServiceRegistration<usTestService>(reg));
  EXPECT_THROW(reg.GetReference("org.vexa.test.Nothing"), std::logic_error);
}

TEST_F(Registry, UnregisteredServiceIsGoneButItsReferenceStaysSafe)
{
  usTestServiceImpl service("gone");
  us::ServiceProperties properties;
  properties["name"] = std::string("gone");
  auto reg = Context()->RegisterService<usTestService>(&service, properties);
  const auto ref = reg.GetReference();
  ASSERT_TRUE(reg);
  ASSERT_TRUE(ref);
  EXPECT_EQ(&service, Context()->GetService(ref));
  EXPECT_TRUE(Context()->UngetService(ref));
  EXPECT_FALSE(Context()->UngetService(ref)); // no use left

  const us::ServiceRegistration<usTestService> copy = reg;
  reg.Unregister();
  EXPECT_FALSE(reg);
  EXPECT_FALSE(copy);
  EXPECT_FALSE(ref);
  EXPECT_EQ(nullptr, Context()->GetService(ref));
  EXPECT_EQ(nullptr, ref.GetModule());
  EXPECT_FALSE(Context()->UngetService(ref));
  EXPECT_EQ("gone", ref.GetProperty("name").ToString()); // the last properties
  EXPECT_TRUE(Context()->GetServiceReferences<usTestService>().empty());

  EXPECT_THROW(reg.Unregister(), std::logic_error);
  EXPECT_THROW(copy.GetReference(), std::logic_error);
  EXPECT_THROW(reg.SetProperties(properties), std::logic_error);

  us::ServiceRegistration<usTestService> invalid;
  EXPECT_FALSE(invalid);
  EXPECT_THROW(invalid.Unregister(), std::logic_error);
  EXPECT_THROW(invalid.GetReference(), std::logic_error);
  EXPECT_EQ(nullptr, Context()->GetService(us::ServiceReferenceU()));
}

TEST_F(Registry, RefusesNullServicesAndEmptyIds)
{
  EXPECT_THROW(Context()->RegisterService<usTestService>(nullptr), std::invalid_argument);
  EXPECT_THROW(Context()->RegisterService(us::InterfaceMap()), std::invalid_argument);
  usTestServiceImpl service("x");
  us::InterfaceMap emptyId;
  emptyId[""] = &service;
  EXPECT_THROW(Context()->RegisterService(emptyId), std::invalid_argument);
  EXPECT_TRUE(Context()->GetServiceReferences("").empty());
}
