#include <usAny.h>

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

namespace
{
  struct NotStreamable
  {
    int x = 1;
  };
}

TEST(Any, TextOfTheCommonPropertyTypes)
{
  struct Case
  {
    us::Any value;
    std::string text;
  };
  const std::vector<Case> cases = {
    {us::Any(), ""},
    {us::Any(std::string("IMAGE")), "IMAGE"},
    {us::Any("literal"), "literal"},
    {us::Any(true), "true"},
    {us::Any(false), "false"},
    {us::Any(42), "42"},
    {us::Any(-7L), "-7"},
    {us::Any(1234567u), "1234567"}, // no digit grouping
    {us::Any(2.5), "2.5"},          // "C" locale decimal point
    {us::Any(std::vector<std::string>{"a", "b"}), "[a,b]"},
    {us::Any(std::vector<us::Any>{us::Any(1), us::Any(std::string("x"))}), "[1,x]"},
    {us::Any(std::list<int>{}), "[]"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.text, c.value.ToString());
  EXPECT_NE(std::string::npos, us::Any(NotStreamable()).ToString().find("NotStreamable"));
}

TEST(Any, TextsAreStoredAsStdString)
{
  const char *pointer = "from a pointer";
  us::Any fromPointer(pointer);
  us::Any fromLiteral = "from a literal";
  EXPECT_EQ(typeid(std::string), fromPointer.Type());
  EXPECT_EQ("from a pointer", us::any_cast<std::string>(fromPointer));
  EXPECT_EQ("from a literal", us::any_cast<std::string>(fromLiteral));
}

TEST(Any, CastsByValueReferenceAndPointer)
{
  us::Any any(std::string("text"));
  EXPECT_FALSE(any.Empty());
  EXPECT_EQ(typeid(std::string), any.Type());
  EXPECT_EQ("text", us::any_cast<std::string>(any));
  us::any_cast<std::string &>(any) += "!";
  EXPECT_EQ("text!", us::any_cast<const std::string &>(any));
  ASSERT_NE(nullptr, us::any_cast<std::string>(&any));
  EXPECT_EQ(nullptr, us::any_cast<int>(&any));
  EXPECT_EQ(nullptr, us::any_cast<int>(static_cast<us::Any *>(nullptr)));

  us::Any empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(typeid(void), empty.Type());
  EXPECT_EQ(nullptr, us::any_cast<std::string>(&empty));
}

TEST(Any, WrongCastThrowsNamingBothTypes)
{
  const us::Any any(5);
  try
  {
    us::any_cast<std::string>(any);
    FAIL() << "no exception";
  }
  catch (const us::BadAnyCastException &e)
  {
    const std::string text = e.what();
    EXPECT_NE(std::string::npos, text.find("int")) << text;
    EXPECT_NE(std::string::npos, text.find("basic_string")) << text;
  }
  EXPECT_THROW(us::any_cast<long>(any), std::bad_cast); // no conversion between number types
  EXPECT_THROW(us::any_cast<int>(us::Any()), us::BadAnyCastException);
}

TEST(Any, CopiesAreIndependent)
{
  us::Any original(std::vector<std::string>{"a"});
  us::Any copy(original);
  us::any_cast<std::vector<std::string> &>(copy).push_back("b");
  EXPECT_EQ("[a]", original.ToString());
  EXPECT_EQ("[a,b]", copy.ToString());

  us::Any moved(std::move(copy));
  EXPECT_EQ("[a,b]", moved.ToString());
  copy = 3;
  EXPECT_EQ(3, us::any_cast<int>(copy));
  original = moved;
  EXPECT_EQ("[a,b]", original.ToString());
}
