#include <vexaLog.h>
#include <vexaLogItkMatrix.h>

#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <locale>
#include <set>
#include <thread>

namespace
{
  // A decimal comma and digit grouping, as a German global locale would give.
  struct CommaPunct : std::numpunct<char>
  {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };

  struct GlobalLocaleGuard
  {
    std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    ~GlobalLocaleGuard() { std::locale::global(previous); }
  };

  namespace inner
  {
    struct Widget
    {
      void Method() { VEXA_INFO("Widget") << "from a method"; }
      template <class T>
      void Templated(T)
      {
        VEXA_WARN << "templated";
      }
    };
  }
}

TEST(LogRecord, ValuesAreFormattedInTheCLocaleWhateverTheGlobalLocale)
{
  vorlen::CapturingSink sink;
  GlobalLocaleGuard guard;
  {
    std::ostringstream probe;
    probe << 1234567.5;
    ASSERT_NE(std::string::npos, probe.str().find(',')) << "the test locale is not in effect";
  }
  VEXA_INFO << 0.5 << " " << 1234567 << " " << 2.25;
  ASSERT_EQ(1u, sink.Records().size());
  EXPECT_EQ("0.5 1234567 2.25", sink.Records()[0].text);
}

namespace
{
  // writes the decimal point of the stream's own locale, without switching it
  std::ostream &StreamDecimalPoint(std::ostream &os)
  {
    return os << std::use_facet<std::numpunct<char>>(os.getloc()).decimal_point();
  }
}

TEST(LogRecord, StreamLocaleIsTheSameBeforeAndAfterAnAppend)
{
  vorlen::CapturingSink sink;
  {
    GlobalLocaleGuard guard; // the record's stream starts in the comma locale
    VEXA_INFO << StreamDecimalPoint << 1.5 << StreamDecimalPoint;
  }
  ASSERT_EQ(1u, sink.Records().size());
  EXPECT_EQ(",1.5,", sink.Records()[0].text);
}

TEST(LogRecord, DisabledRecordIsNeverWrittenNorFormatted)
{
  vorlen::CapturingSink sink;
  VEXA_INFO(false) << "hidden " << 3;
  VEXA_INFO(false)(true) << "still hidden";
  VEXA_INFO(true) << "shown";
  const auto texts = sink.Texts();
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ("shown", texts[0]);
}

TEST(LogRecord, CarriesLevelPositionQualifiedFunctionAndTagsInOrder)
{
  vorlen::CapturingSink sink;
  inner::Widget w;
  w.Method();
  w.Templated(3);
  VEXA_ERROR("AbstractOpenCVImageFilter")("CropOpenCVImageFilter") << "tags";
  const auto records = sink.Records();
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ(0, records[0].level);
  EXPECT_EQ("{anonymous}::inner::Widget::Method", records[0].function);
  EXPECT_EQ(std::vector<std::string>{"Widget"}, records[0].categories);
  EXPECT_NE(std::string::npos, records[0].file.find("vexaLogTest.cpp"));
  EXPECT_GT(records[0].line, 0);
  EXPECT_EQ(1, records[1].level);
  EXPECT_EQ("{anonymous}::inner::Widget::Templated", records[1].function);
  EXPECT_EQ(2, records[2].level);
  EXPECT_EQ((std::vector<std::string>{"AbstractOpenCVImageFilter", "CropOpenCVImageFilter"}), records[2].categories);
}

TEST(LogRecord, QualifiedFunctionNameOfCompilerSignatures)
{
  const std::pair<const char *, const char *> rows[] = {
    {"void vexa::IGTLDevice::RunCommunication(void (vexa::IGTLDevice::*)(), itk::FastMutexLock*)",
     "vexa::IGTLDevice::RunCommunication"},
    {"unsigned int vexa::IGTLDevice::ReceivePrivate(igtl::Socket*)", "vexa::IGTLDevice::ReceivePrivate"},
    {"vexa::IGTLClient::IGTLClient(bool)", "vexa::IGTLClient::IGTLClient"},
    {"virtual vexa::IGTLServer::~IGTLServer()", "vexa::IGTLServer::~IGTLServer"},
    {"int main(int, char**)", "main"},
    {"std::vector<std::__cxx11::basic_string<char> > vexa::A<T>::Get() const [with T = int]", "vexa::A<T>::Get"},
    {"bool vexa::X::operator()(int) const", "vexa::X::operator()"},
    {"std::ostream& vexa::operator<<(std::ostream&, const vexa::Y&)", "vexa::operator<<"},
    {"static itk::SmartPointer<vexa::Z> vexa::Z::New()", "vexa::Z::New"},
  };
  for (const auto &r : rows)
    EXPECT_EQ(r.second, vorlen::PseudoStream::QualifiedFunctionName(r.first)) << r.first;
}

TEST(LogRecord, DirectionMatrixIsWrittenRowByRow)
{
  vorlen::CapturingSink sink;
  itk::Matrix<double, 2, 2> identity;
  identity.SetIdentity();
  VEXA_INFO << identity;
  ASSERT_EQ(1u, sink.Records().size());
  EXPECT_EQ("1 0\n0 1\n", sink.Records()[0].text);
}

TEST(LogRecord, RecordsFromManyThreadsNeverInterleave)
{
  vorlen::CapturingSink sink;
  constexpr int threads = 8;
  constexpr int perThread = 500;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([t] {
      for (int i = 0; i < perThread; ++i)
        VEXA_INFO("worker") << "thread " << t << " record " << i << " end";
    });
  for (auto &th : pool)
    th.join();
  const auto texts = sink.Texts();
  ASSERT_EQ(static_cast<std::size_t>(threads * perThread), texts.size());
  std::set<std::string> unique(texts.begin(), texts.end());
  EXPECT_EQ(texts.size(), unique.size());
  for (int t = 0; t < threads; ++t)
    for (int i : {0, perThread - 1})
      EXPECT_EQ(1u, unique.count("thread " + std::to_string(t) + " record " + std::to_string(i) + " end"));
}
