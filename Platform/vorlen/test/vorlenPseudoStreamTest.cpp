#include <vorlenPseudoStream.h>

#include <gtest/gtest.h>

TEST(LogSink, DefaultSinkFormatsOneLinePerRecord)
{
  vorlen::LogRecord r;
  r.level = 1;
  r.file = "a.cpp";
  r.line = 7;
  r.function = "vexa::A::B";
  r.categories = {"Base", "Derived"};
  r.text = "hello";
  EXPECT_EQ("WARNING [Base] [Derived] vexa::A::B (a.cpp:7): hello", vorlen::FormatRecord(r));
}

TEST(LogSink, ReplacedSinkReceivesRecordsAndAFailingSinkIsContained)
{
  {
    vorlen::CapturingSink capture;
    vorlen::PseudoStream(2, "f.cpp", 3, "void f()") << "x" << 1;
    ASSERT_EQ(1u, capture.Records().size());
    EXPECT_EQ("x1", capture.Records()[0].text);
    EXPECT_EQ("f", capture.Records()[0].function);
  }
  vorlen::SetSink([](const vorlen::LogRecord &) { throw std::runtime_error("sink down"); });
  EXPECT_NO_THROW(vorlen::PseudoStream(0, "f.cpp", 1, "void f()") << "lost");
  vorlen::SetSink(vorlen::LogSink());
}
