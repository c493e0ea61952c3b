#include <vexaUIDGenerator.h>

#include <gtest/gtest.h>

#include <cctype>
#include <set>

TEST(UIDGenerator, PrefixThenRandomCharactersOfTheGivenLength)
{
  vexa::UIDGenerator gen("org.vexa.services.IGTLMessageSource.id_", 16);
  const std::string uid = gen.GetUID();
  ASSERT_EQ(std::string("org.vexa.services.IGTLMessageSource.id_").size() + 16, uid.size());
  EXPECT_EQ(0u, uid.find("org.vexa.services.IGTLMessageSource.id_"));
  for (char c : uid.substr(uid.size() - 16))
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;
  vexa::UIDGenerator empty("", 8);
  EXPECT_EQ(8u, empty.GetUID().size());
}

TEST(UIDGenerator, GeneratorsMadeTogetherDrawDifferentIdentifiers)
{
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i)
  {
    vexa::UIDGenerator gen("", 8);
    seen.insert(gen.GetUID());
  }
  EXPECT_EQ(200u, seen.size());
}
