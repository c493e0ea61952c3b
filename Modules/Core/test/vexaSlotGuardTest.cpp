#include <vexaSlotGuard.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace
{
  struct Case
  {
    const char *name;
    std::function<void()> body;
    bool returns;
    bool standard;
    bool vexaException;
    std::string description;
  };
}

TEST(SlotGuard, HandsEveryKindOfFailureToTheReporter)
{
  const Case cases[] = {
    {"returns", [] {}, true, true, false, ""},
    {"vexa exception", [] { vexaThrow() << "Spacing must be positive, got " << -1; }, false, true, true,
     "Spacing must be positive, got -1"},
    {"standard exception", [] { throw std::runtime_error("disk full"); }, false, true, false, "disk full"},
    {"itk exception", [] { throw itk::ExceptionObject("f.cpp", 7, "bad input", "here"); }, false, true, false, ""},
    {"not an exception", [] { throw 42; }, false, false, false, ""},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    int reports = 0;
    vexa::GuardedFailure seen;
    const bool returned = vexa::RunGuarded(c.body, [&](const vexa::GuardedFailure &f) {
      ++reports;
      seen = f;
    });
    EXPECT_EQ(c.returns, returned);
    EXPECT_EQ(c.returns ? 0 : 1, reports);
    if (c.returns)
      continue;
    EXPECT_EQ(c.standard, seen.standard);
    EXPECT_EQ(c.vexaException, seen.vexaException);
    if (std::string(c.name) == "itk exception")
    {
      // no vexa::Exception: the user sees what() in full, as before
      EXPECT_NE(std::string::npos, seen.description.find("bad input"));
      EXPECT_EQ(seen.what, seen.description);
    }
    else
      EXPECT_EQ(c.description, seen.description);
  }
  // a vexa::Exception's what() carries the source position, its user text does not
  try
  {
    vexaThrow() << "no image";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_NE(std::string(e.what()), vexa::UserText(e));
    EXPECT_EQ("no image", vexa::UserText(e));
  }
}

TEST(SlotGuard, AReporterThatThrowsDoesNotLeaveTheEdge)
{
  bool returned = true;
  EXPECT_NO_THROW(returned = vexa::RunGuarded([] { throw std::runtime_error("first"); },
                                              [](const vexa::GuardedFailure &) { throw std::bad_alloc(); }));
  EXPECT_FALSE(returned);
}
