#include <vexaException.h>

#include <gtest/gtest.h>

TEST(Exception, DescriptionIsExactlyTheAppendedValues)
{
  try
  {
    const std::string path = "/tmp/x.nrrd";
    const char *what = " missing";
    vexaThrow() << "File " << path << what << " code " << 3;
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_STREQ("File /tmp/x.nrrd missing code 3", e.GetDescription());
    EXPECT_STREQ("unknown", e.GetLocation());
    EXPECT_GT(e.GetLine(), 0u);
    return;
  }
  FAIL() << "nothing thrown";
}

TEST(Exception, CaughtAsItkAndStdExceptionAndEmptyAppendChangesNothing)
{
  vexa::Exception e(__FILE__, __LINE__, "", "unknown");
  e << "abc"
    << "";
  EXPECT_STREQ("abc", e.GetDescription());
  try
  {
    throw e;
  }
  catch (const std::exception &s)
  {
    EXPECT_NE(std::string::npos, std::string(s.what()).find("abc"));
  }
  EXPECT_THROW(vexaThrow() << 1, itk::ExceptionObject);
}

namespace
{
  class SubException : public vexa::Exception
  {
  public:
    vexaExceptionClassMacro(SubException, vexa::Exception);
  };
}

TEST(Exception, SubclassThrowKeepsItsType)
{
  try
  {
    vexaThrowException(SubException) << "sub " << 2;
  }
  catch (const SubException &e)
  {
    EXPECT_STREQ("sub 2", e.GetDescription());
    return;
  }
  catch (...)
  {
  }
  FAIL() << "subclass lost";
}
