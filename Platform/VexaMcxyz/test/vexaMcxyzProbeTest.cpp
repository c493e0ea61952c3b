#include <vexaMcxyzProbe.h>

#include <vexaTestTemporaryFolder.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

using namespace vexa::mcxyz;

TEST(ProbeFile, SourcesAreReadWithTheirProfilesAndDefaults)
{
  const Illumination ill = ParseProbe(R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- two fibre bundles beside a linear array, tilted towards its centre line -->
<probe name="linear">
  <source profile="rectangle" x="0" y="-0.4" z="-0.2" dirX="0" dirY="0.2" dirZ="1" width="0.1" length="2.4"
          weight="1"/>
  <source profile="rectangle" x="0" y="0.4" z="-0.2" dirY="-0.2" dirZ="1" width="0.1" length="2.4"/>
  <source profile="gaussian" radius="0.25" weight="0.5"/>
  <source profile="disc" radius="1e-1" z="0.0"/>
  <source/>
</probe>)",
                                      "test");
  ASSERT_EQ(5u, ill.sources.size());
  const LightSource &a = ill.sources[0];
  EXPECT_EQ(LightSource::Profile::Rectangle, a.profile);
  EXPECT_DOUBLE_EQ(-0.4, a.positionCm[1]);
  EXPECT_DOUBLE_EQ(-0.2, a.positionCm[2]);
  EXPECT_DOUBLE_EQ(0.2, a.direction[1]);
  EXPECT_DOUBLE_EQ(0.1, a.widthCm);
  EXPECT_DOUBLE_EQ(2.4, a.lengthCm);
  EXPECT_DOUBLE_EQ(0.0, ill.sources[1].direction[0]); // dirX left out
  EXPECT_EQ(LightSource::Profile::Gaussian, ill.sources[2].profile);
  EXPECT_DOUBLE_EQ(0.5, ill.sources[2].weight);
  EXPECT_DOUBLE_EQ(0.1, ill.sources[3].radiusCm);
  EXPECT_EQ(LightSource::Profile::Pencil, ill.sources[4].profile);
  EXPECT_DOUBLE_EQ(1.0, ill.sources[4].direction[2]);
  EXPECT_DOUBLE_EQ(1.0, ill.sources[4].weight);
}

TEST(ProbeFile, FaultsAreRefusedWithWhereAndWhat)
{
  const std::vector<std::pair<std::string, std::string>> cases = {
    {"<probe><source x=\"1,5\"/></probe>", "attribute \"x\" is not a number: \"1,5\""},
    {"<probe><source x=\"nan\"/></probe>", "is not a number"},
    {"<probe><source x=\"\"/></probe>", "is not a number"},
    {"<probe><source profile=\"laser\"/></probe>", "unknown profile \"laser\""},
    {"<probe><source colour=\"red\"/></probe>", "unknown attribute \"colour\""},
    {"<probe><fibre/></probe>", "unexpected element <fibre>"},
    {"<probe><source><source/></source></probe>", "unexpected element <source>"},
    {"<probe>light</probe>", "unexpected text \"light\""},
    {"<laser/>", "the root element is <laser>"},
    {"<probe><source></probe>", "not a well-formed XML file"},
    {"", "not a well-formed XML file"},
    {"<probe/>", "no light source"},
    {"<probe><source dirX=\"0\" dirY=\"0\" dirZ=\"0\"/></probe>", "no direction"},
    {"<probe><source radius=\"-1\"/></probe>", "negative or non-finite size"},
    {"<probe><source weight=\"0\"/></probe>", "sum to zero"},
    {"<probe>\n\n<source y=\"x\"/></probe>", "line 3"},
  };
  for (const auto &c : cases)
  {
    try
    {
      ParseProbe(c.first, "probe.xml");
      ADD_FAILURE() << c.first << ": accepted";
    }
    catch (const std::runtime_error &e)
    {
      const std::string text = e.what();
      EXPECT_NE(std::string::npos, text.find(c.second)) << c.first << ": " << text;
      EXPECT_EQ(0u, text.find("probe.xml")) << text;
    }
  }
}

TEST(ProbeFile, FilesThatCannotBeProbesAreRefused)
{
  const vexa::test::TemporaryFolder folder;
  const std::string dir = folder.Path().string();
  EXPECT_THROW(ReadProbeFile(dir + "/no such probe.xml"), std::runtime_error);
  EXPECT_THROW(ReadProbeFile(dir), std::runtime_error);

  const std::string big = dir + "/vexaMcxyzProbeTest_big.xml";
  {
    std::ofstream out(big);
    out << "<probe>";
    for (int k = 0; k < 60000; ++k)
      out << "<source weight=\"1\"/>";
    out << "</probe>";
  }
  try
  {
    ReadProbeFile(big);
    ADD_FAILURE() << "a 1 MiB file accepted";
  }
  catch (const std::runtime_error &e)
  {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("larger than 1 MiB")) << e.what();
  }

  const std::string good = dir + "/vexaMcxyzProbeTest good.xml";
  {
    std::ofstream out(good);
    out << "<probe><source profile=\"disc\" radius=\"0.3\"/></probe>\n";
  }
  const Illumination ill = ReadProbeFile(good);
  ASSERT_EQ(1u, ill.sources.size());
  EXPECT_EQ(LightSource::Profile::Disc, ill.sources[0].profile);
}
