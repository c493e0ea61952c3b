#include <vexaLookupTables.h>

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

TEST(LookupTable, ValuesByIdentifier)
{
  vexa::StringLookupTable table;
  EXPECT_FALSE(table.ValueExists(3));
  EXPECT_THROW(table.GetTableValue(3), vexa::Exception);
  table.SetTableValue(3, "three");
  table.SetTableValue(1, "one");
  table.SetTableValue(3, "drei");
  EXPECT_EQ("drei", table.GetTableValue(3));
  EXPECT_EQ(2u, table.GetLookupTable().size());
  std::ostringstream text;
  text << table;
  EXPECT_EQ("[1: one, 3: drei]", text.str());
}

TEST(LookupTable, EqualityAndCopies)
{
  vexa::FloatLookupTable a;
  a.SetTableValue(0, 1.5f);
  vexa::FloatLookupTable b = a;
  EXPECT_TRUE(a == b);
  b.SetTableValue(0, 2.5f);
  EXPECT_TRUE(a != b);
  b = a;
  EXPECT_EQ(a, b);
  vexa::FloatLookupTable nan;
  nan.SetTableValue(0, std::nanf(""));
  EXPECT_NE(nan, nan);
  std::ostringstream empty;
  empty << vexa::BoolLookupTable();
  EXPECT_EQ("[]", empty.str());
}
