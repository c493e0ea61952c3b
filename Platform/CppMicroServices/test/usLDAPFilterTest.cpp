#include <usLDAPFilter.h>

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace
{
  us::ServiceProperties DeviceProperties()
  {
    us::ServiceProperties p;
    p["objectclass"] = std::vector<std::string>{"org.vexa.services.UltrasoundDevice", "org.vexa.Other"};
    p["service.id"] = 17L;
    p["org.vexa.services.IGTLMessageSource.devicetype"] = std::string("IMAGE");
    p["org.vexa.services.UltrasoundDevice.isActive"] = std::string("true");
    p["flag"] = true;
    p["count"] = 5;
    p["big"] = std::numeric_limits<unsigned long long>::max();
    p["ratio"] = 0.5;
    p["Name"] = std::string("Probe A (left) *");
    p["mixed"] = std::vector<us::Any>{us::Any(3), us::Any(std::string("three"))};
    p["spaced"] = std::string("Video  Device");
    return p;
  }
}

TEST(LDAPFilter, MatchesByTheGrammarAndTheValueTypes)
{
  struct Case
  {
    std::string filter;
    bool match;
  };
  const std::vector<Case> cases = {
    // list-valued objectclass: any element
    {"(objectclass=org.vexa.services.UltrasoundDevice)", true},
    {"(objectclass=org.vexa.Other)", true},
    {"(objectclass=org.vexa.Missing)", false},
    // keys ignore case, values do not
    {"(ObjectClass=org.vexa.Other)", true},
    {"(ORG.VEXA.SERVICES.IGTLMESSAGESOURCE.DEVICETYPE=IMAGE)", true},
    {"(org.vexa.services.IGTLMessageSource.devicetype=image)", false},
    // and, or, not, nesting, white space between items
    {"(&(objectclass=org.vexa.services.UltrasoundDevice)(org.vexa.services.UltrasoundDevice.isActive=true))", true},
    {"(&(objectclass=org.vexa.services.UltrasoundDevice)(org.vexa.services.UltrasoundDevice.isActive=false))", false},
    {"(|(count=4)(count=5))", true},
    {"(|(count=4)(count=6))", false},
    {"(!(count=4))", true},
    {"(!(count=5))", false},
    {"(!(missing=*))", true},
    {"(&(|(count=1)(flag=true))(!(ratio=1)))", true},
    {"  ( & (count=5) (flag=TRUE) )  ", true},
    {"(&(count=5))", true},
    // presence
    {"(ratio=*)", true},
    {"(RATIO=*)", true},
    {"(missing=*)", false},
    // substrings and wildcards
    {"(org.vexa.services.IGTLMessageSource.devicetype=IM*)", true},
    {"(org.vexa.services.IGTLMessageSource.devicetype=*AGE)", true},
    {"(org.vexa.services.IGTLMessageSource.devicetype=I*A*E)", true},
    {"(org.vexa.services.IGTLMessageSource.devicetype=*MA*)", true},
    {"(org.vexa.services.IGTLMessageSource.devicetype=I*X*E)", false},
    {"(org.vexa.services.IGTLMessageSource.devicetype=IMAGE*E)", false},
    {"(objectclass=org.vexa.services.*)", true},
    // escapes: RFC 4515 hex pairs and backslash before a special character
    {"(Name=Probe A \\28left\\29 \\2a)", true},
    {"(Name=Probe A \\(left\\) \\*)", true},
    {"(Name=Probe A \\28left\\29 *)", true},
    {"(Name=\\2a)", false}, // an escaped star is no wildcard
    // numbers compare numerically, whatever the text looks like
    {"(count=5)", true},
    {"(count= 5 )", true},
    {"(count=+5)", true},
    {"(count=05)", true},
    {"(count=five)", false},
    {"(count>=5)", true},
    {"(count>=6)", false},
    {"(count<=4)", false},
    {"(service.id=17)", true},
    {"(big=18446744073709551615)", true},
    {"(big<=-1)", false},
    {"(ratio=0.5)", true},
    {"(ratio>=0.25)", true},
    {"(ratio<=0.25)", false},
    // bools: "true"/"false" in any case
    {"(flag=true)", true},
    {"(flag=True)", true},
    {"(flag=false)", false},
    {"(flag=yes)", false},
    // texts compare exactly; approximate ignores case and white space
    {"(spaced=Video  Device)", true},
    {"(spaced=Video Device)", false},
    {"(spaced~=videodevice)", true},
    {"(Name>=Probe)", true},
    {"(Name<=Probe)", false},
    // a list of mixed values: any element, each by its own type
    {"(mixed=3)", true},
    {"(mixed=three)", true},
    {"(mixed=thr*)", true},
    {"(mixed=4)", false},
  };
  const us::ServiceProperties properties = DeviceProperties();
  for (const Case &c : cases)
    EXPECT_EQ(c.match, us::LDAPFilter(c.filter).Match(properties)) << c.filter;
}

TEST(LDAPFilter, EmptyFilterMatchesEverything)
{
  EXPECT_TRUE(us::LDAPFilter().Match(DeviceProperties()));
  EXPECT_TRUE(us::LDAPFilter("").Match(us::ServiceProperties()));
  EXPECT_FALSE(static_cast<bool>(us::LDAPFilter("")));
  EXPECT_TRUE(static_cast<bool>(us::LDAPFilter("(a=b)")));
  EXPECT_EQ("(a=b)", us::LDAPFilter("(a=b)").ToString());
  EXPECT_EQ(us::LDAPFilter("(a=b)"), us::LDAPFilter("(a=b)"));
}

TEST(LDAPFilter, MalformedFiltersThrowInvalidArgumentWithAClearText)
{
  struct Case
  {
    std::string filter;
    std::string reason;
  };
  const std::vector<Case> cases = {
    {"(", "unexpected end"},
    {"a=b", "expected '('"},
    {"(a=b", "missing ')'"},
    {"(a=b))", "unexpected text after the end"},
    {"(a=b)(c=d)", "unexpected text after the end"},
    {"(=b)", "missing key"},
    {"( =b)", "missing key"},
    {"(a)", "expected '='"},
    {"(a~b)", "expected '=', '~=', '>=' or '<='"},
    {"(a>b)", "expected '=', '~=', '>=' or '<='"},
    {"(&)", "'&' needs at least one filter"},
    {"(|)", "'|' needs at least one filter"},
    {"(!)", "expected '('"},
    {"(!(a=b)(c=d))", "expected ')'"},
    {"(a=b(c)", "unescaped '('"},
    {"(a=\\zz)", "invalid escape"},
    {"(a=b\\", "'\\' at the end"},
    {"((a=b))", "missing key"},
    {"GET_(", "expected '('"},
  };
  for (const Case &c : cases)
  {
    try
    {
      us::LDAPFilter filter(c.filter);
      ADD_FAILURE() << "no exception for " << c.filter;
    }
    catch (const std::invalid_argument &e)
    {
      const std::string text = e.what();
      EXPECT_EQ(0u, text.find("Invalid LDAP filter \"" + c.filter + "\": ")) << text;
      EXPECT_NE(std::string::npos, text.find(c.reason)) << c.filter << " -> " << text;
      EXPECT_NE(std::string::npos, text.find(" at offset ")) << text;
    }
  }
}

TEST(LDAPFilter, EscapedValuesMatchOnlyThemselves)
{
  // A value from the network, such as a requested message type, goes into a filter escaped.
  const std::vector<std::string> hostile = {"*", "IMA*", "(", ")", "\\", "a)(objectclass=*", std::string("nul\0x", 5)};
  for (const std::string &value : hostile)
  {
    us::ServiceProperties exact;
    exact["devicetype"] = value;
    us::ServiceProperties other;
    other["devicetype"] = std::string("IMAGE");
    const us::LDAPFilter filter("(devicetype=" + us::LDAPFilter::Escape(value) + ")");
    EXPECT_TRUE(filter.Match(exact)) << filter;
    EXPECT_FALSE(filter.Match(other)) << filter;
  }
  EXPECT_EQ("a\\2ab\\28c\\29d\\5c", us::LDAPFilter::Escape("a*b(c)d\\"));
}
