// Device configuration files: what the writer writes the reader reads back
// unchanged, whatever the names and the locale; broken files are refused
// with a record; versions and device types the form does not know pass.

#include <vexaUSDeviceReaderXML.h>
#include <vexaUSDeviceWriterXML.h>

#include <vexaTestTemporaryFolder.h>
#include <vorlenLogSink.h>

#include <QLocale>

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <locale>
#include <sstream>

using Config = vexa::USDeviceReaderXML::USVideoDeviceConfigData_;
using vexa::USProbe;
using vexa::test::TemporaryFolder;

namespace
{
  vexa::Vector3D Spacing(double x, double y, double z)
  {
    vexa::Vector3D s;
    s[0] = x, s[1] = y, s[2] = z;
    return s;
  }

  Config FullConfig()
  {
    Config c;
    c.fileversion = 1.0;
    c.deviceType = "video";
    c.deviceName = "Gerät №1 \"front\" <left> & right";
    c.manufacturer = "Ultraschall GmbH";
    c.model = "超音波 Model";
    c.comment = "line one\nline two\ttabbed";
    c.deviceIndex = 3;
    c.filePath = "/data/clips/Übung 1.avi";
    c.useGreyscale = false;
    c.useResolutionOverride = true;
    c.resolutionWidth = 1920;
    c.resolutionHeight = 1080;
    USProbe::Pointer linear = USProbe::New("Linear L14");
    linear->SetDepthAndSpacing(30, Spacing(0.1, 0.123456789012345, 1.0));
    linear->SetDepthAndSpacing(50, Spacing(1e-6, 0.25, 2.0));
    linear->SetProbeCropping(1, 2, 3, 4);
    USProbe::Pointer convex = USProbe::New("Konvex é");
    convex->SetDepth(0);
    convex->SetProbeCropping(0, std::numeric_limits<std::uint32_t>::max(), 0, 7);
    USProbe::Pointer bare = USProbe::New("No depths");
    c.probes = {linear, convex, bare};
    return c;
  }

  void ExpectEqual(const Config &a, const Config &b)
  {
    EXPECT_EQ(a.fileversion, b.fileversion);
    EXPECT_EQ(a.deviceType, b.deviceType);
    EXPECT_EQ(a.deviceName, b.deviceName);
    EXPECT_EQ(a.manufacturer, b.manufacturer);
    EXPECT_EQ(a.model, b.model);
    EXPECT_EQ(a.comment, b.comment);
    EXPECT_EQ(a.deviceIndex, b.deviceIndex);
    EXPECT_EQ(a.filePath, b.filePath);
    EXPECT_EQ(a.useGreyscale, b.useGreyscale);
    EXPECT_EQ(a.useResolutionOverride, b.useResolutionOverride);
    EXPECT_EQ(a.resolutionWidth, b.resolutionWidth);
    EXPECT_EQ(a.resolutionHeight, b.resolutionHeight);
    ASSERT_EQ(a.probes.size(), b.probes.size());
    for (std::size_t i = 0; i < a.probes.size(); ++i)
      EXPECT_TRUE(a.probes[i]->IsEqualToProbe(b.probes[i])) << a.probes[i]->GetName();
  }

  bool Write(const std::string &path, const Config &config)
  {
    vexa::USDeviceWriterXML writer;
    writer.SetFilename(path);
    return writer.WriteUltrasoundVideoDeviceConfiguration(config);
  }

  void Spit(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

  /** A numeric punctuation that writes 1.234,5 as the German style does. */
  struct CommaDecimal : std::numpunct<char>
  {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };

  /** Sets the process's locales to a comma-decimal one for the scope. */
  struct CommaLocale
  {
    CommaLocale() : previous(std::locale::global(std::locale(std::locale::classic(), new CommaDecimal)))
    {
      QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~CommaLocale()
    {
      std::locale::global(previous);
      QLocale::setDefault(QLocale::c());
    }
    std::locale previous;
  };
}

TEST(USDeviceXML, RoundTripKeepsEveryValueInAnyLocale)
{
  TemporaryFolder folder;
  const std::string path = folder.File("device.xml");
  const Config written = FullConfig();
  CommaLocale locale;
  ASSERT_TRUE(Write(path, written));
  const std::string text = vexa::test::ReadFile(path);
  EXPECT_EQ(0u, text.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
  EXPECT_NE(std::string::npos, text.find("spacingY=\"0.25\"")) << "numbers in the C locale";
  EXPECT_NE(std::string::npos, text.find("超音波 Model")) << "texts as UTF-8";

  vexa::USDeviceReaderXML reader;
  reader.SetFilename(path);
  ASSERT_TRUE(reader.ReadUltrasoundDeviceConfiguration());
  ExpectEqual(written, reader.GetUSVideoDeviceConfigData());

  // writing again replaces the whole file
  Config shorter;
  shorter.fileversion = 1.0;
  shorter.deviceType = "video";
  ASSERT_TRUE(Write(path, shorter));
  ASSERT_TRUE(reader.ReadUltrasoundDeviceConfiguration());
  ExpectEqual(shorter, reader.GetUSVideoDeviceConfigData());
}

TEST(USDeviceXML, UnknownVersionsDeviceTypesAndElementsPassToTheCaller)
{
  TemporaryFolder folder;
  const std::string path = folder.File("later.xml");
  Spit(path, "<?xml version=\"1.0\"?>\n"
             "<ultrasoundDevice fileversion=\"2.5\">\n"
             "  <general deviceType=\"igtl\" manufacturer=\"M\" futureField=\"x\"/>\n"
             "  <network host=\"example\"><port>1</port></network>\n"
             "  <probes><probe name=\"P\"><depth value=\"10\"/><focus/></probe><array/></probes>\n"
             "</ultrasoundDevice>\n");
  vexa::USDeviceReaderXML reader;
  reader.SetFilename(path);
  ASSERT_TRUE(reader.ReadUltrasoundDeviceConfiguration());
  const Config &c = reader.GetUSVideoDeviceConfigData();
  EXPECT_EQ(2.5, c.fileversion);
  EXPECT_EQ("igtl", c.deviceType);
  EXPECT_EQ("M", c.manufacturer);
  EXPECT_TRUE(c.useGreyscale) << "absent values keep their defaults";
  ASSERT_EQ(1u, c.probes.size());
  EXPECT_EQ(1.0, c.probes[0]->GetSpacingForGivenDepth(10)[0]);
}

TEST(USDeviceXML, BrokenFilesAreRefusedWithARecordAndChangeNothing)
{
  TemporaryFolder folder;
  const std::string good = folder.File("good.xml");
  ASSERT_TRUE(Write(good, FullConfig()));
  const std::string goodText = vexa::test::ReadFile(good);
  const auto replace = [&](const std::string &from, const std::string &to) {
    std::string text = goodText;
    const std::size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };

  struct Case
  {
    const char *what;
    std::string content; // written to the file; "" with `create` false means no file
    bool create = true;
  };
  const std::vector<Case> cases = {
    {"missing file", "", false},
    {"empty file", ""},
    {"not XML", "just text"},
    {"cut short", goodText.substr(0, goodText.size() / 2)},
    {"another root", "<?xml version=\"1.0\"?><device fileversion=\"1.0\"/>"},
    {"no file version", replace("fileversion=\"1\"", "")},
    {"file version not a number", replace("fileversion=\"1\"", "fileversion=\"one\"")},
    {"file version with a comma", replace("fileversion=\"1\"", "fileversion=\"1,0\"")},
    {"greyscale not a truth value", replace("useGreyscale=\"false\"", "useGreyscale=\"yes\"")},
    {"device index not a number", replace("deviceIndex=\"3\"", "deviceIndex=\"3x\"")},
    {"depth not a number", replace("value=\"30\"", "value=\"thirty\"")},
    {"depth without value", replace("value=\"30\"", "")},
    {"negative spacing", replace("spacingX=\"0.1\"", "spacingX=\"-0.1\"")},
    {"spacing not finite", replace("spacingX=\"0.1\"", "spacingX=\"inf\"")},
    {"negative cropping", replace("top=\"1\"", "top=\"-1\"")},
    {"cropping beyond 32 bits", replace("top=\"1\"", "top=\"4294967296\"")},
    {"unclosed element", replace("</probes>", "")},
    {"trailing garbage", goodText + "<extra/>"},
  };
  for (const Case &c : cases)
  {
    const std::string path = folder.File("broken.xml");
    std::remove(path.c_str());
    if (c.create)
      Spit(path, c.content);
    vexa::USDeviceReaderXML reader;
    reader.SetFilename(path);
    reader.GetUSVideoDeviceConfigData().model = "untouched";
    vorlen::CapturingSink sink;
    EXPECT_FALSE(reader.ReadUltrasoundDeviceConfiguration()) << c.what;
    EXPECT_TRUE(sink.Contains(path, 2)) << c.what << ": the record names the file";
    EXPECT_EQ("untouched", reader.GetUSVideoDeviceConfigData().model) << c.what;
    EXPECT_TRUE(reader.GetUSVideoDeviceConfigData().probes.empty()) << c.what;
  }

  // a folder, and a file far larger than any configuration
  vexa::USDeviceReaderXML reader;
  vorlen::CapturingSink sink;
  reader.SetFilename(folder.Path().string());
  EXPECT_FALSE(reader.ReadUltrasoundDeviceConfiguration());
  const std::string huge = folder.File("huge.xml");
  {
    std::ofstream out(huge, std::ios::binary);
    out << "<?xml version=\"1.0\"?><ultrasoundDevice fileversion=\"1\"><!--";
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 17; ++i)
      out << block;
    out << "--></ultrasoundDevice>";
  }
  reader.SetFilename(huge);
  EXPECT_FALSE(reader.ReadUltrasoundDeviceConfiguration());
  EXPECT_EQ(2u, sink.Texts(2).size());
}

TEST(USDeviceXML, AWriteThatCannotBeDoneSaysSo)
{
  TemporaryFolder folder;
  vorlen::CapturingSink sink;
  EXPECT_FALSE(Write(folder.File("no/such/folder/device.xml"), FullConfig()));
  EXPECT_FALSE(Write(folder.Path(), FullConfig())) << "a folder";
  EXPECT_FALSE(Write("", FullConfig()));
  EXPECT_EQ(3u, sink.Texts(2).size());
}
