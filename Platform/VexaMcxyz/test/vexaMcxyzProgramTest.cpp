// VexaMcxyz run as a process, on volumes written by the test.

#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageFileWriter.h>
#include <itkMetaDataObject.h>
#include <itkNrrdImageIO.h>
#include <itkVectorImage.h>

#include <vexaTestChildProcess.h>
#include <vexaTestHostileFiles.h>
#include <vexaTestTemporaryFolder.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

namespace
{
  using RunResult = vexa::test::ProgramResult;

  using vexa::test::FirstLine;

  /** The optical properties of a test volume: uniform, or a clear top layer over tissue. */
  struct Medium
  {
    float absorption = 1.0f;
    float scattering = 30.0f;
    float anisotropy = 0.9f;
    int clearLayers = 2;
    int size[3] = {12, 16, 10};
    double spacingMm = 0.5;
  };

  class SimulatorProgramTest : public ::testing::Test
  {
  protected:
    /** Runs a program (the simulator unless named); the time limit guards against a run that would not end. */
    static RunResult Run(const std::vector<std::string> &args,
                         std::chrono::seconds timeLimit = std::chrono::seconds(120),
                         const std::string &program = VexaMcxyz_EXECUTABLE)
    {
      return vexa::test::RunProgram(program, args, timeLimit);
    }

    /** A volume of the medium, 4 components per voxel as the generator writes them. */
    std::string WriteVolume(const std::string &name, const Medium &medium = Medium())
    {
      using Image = itk::VectorImage<float, 3>;
      Image::Pointer img = Image::New();
      Image::RegionType region;
      for (int i = 0; i < 3; ++i)
        region.SetSize(i, medium.size[i]);
      img->SetRegions(region);
      img->SetNumberOfComponentsPerPixel(4);
      const double spacing[3] = {medium.spacingMm, medium.spacingMm, medium.spacingMm};
      const double origin[3] = {0, 0, 0};
      img->SetSpacing(spacing);
      img->SetOrigin(origin);
      img->Allocate();
      for (int z = 0; z < medium.size[2]; ++z)
        for (int y = 0; y < medium.size[1]; ++y)
          for (int x = 0; x < medium.size[0]; ++x)
          {
            itk::VariableLengthVector<float> v(4);
            const bool clear = z < medium.clearLayers;
            v[0] = clear ? 0.0f : medium.absorption;
            v[1] = clear ? 0.0f : medium.scattering;
            v[2] = medium.anisotropy;
            v[3] = clear ? 0.0f : 1.0f;
            Image::IndexType idx = {{x, y, z}};
            img->SetPixel(idx, v);
          }
      const std::string path = m_Folder.File(name);
      itk::ImageFileWriter<Image>::Pointer w = itk::ImageFileWriter<Image>::New();
      w->SetImageIO(itk::NrrdImageIO::New());
      w->SetFileName(path);
      w->SetInput(img);
      w->UseCompressionOn();
      w->Update();
      return path;
    }

    std::string WriteProbe(const std::string &name, const std::string &sources)
    {
      const std::string path = m_Folder.File(name);
      std::ofstream(path) << "<probe>" << sources << "</probe>\n";
      return path;
    }

    itk::Image<float, 3>::Pointer ReadFluence(const std::string &path)
    {
      using Image = itk::Image<float, 3>;
      itk::ImageFileReader<Image>::Pointer r = itk::ImageFileReader<Image>::New();
      r->SetImageIO(itk::NrrdImageIO::New());
      r->SetFileName(path);
      r->Update();
      return r->GetOutput();
    }

    static std::string HeaderValue(const itk::Image<float, 3>::Pointer &image, const std::string &key)
    {
      std::string value;
      itk::ExposeMetaData<std::string>(image->GetMetaDataDictionary(), key, value);
      return value;
    }

    vexa::test::TemporaryFolder m_Folder;
  };
}

TEST_F(SimulatorProgramTest, WritesTheFluenceOfTheVolume)
{
  const std::string in = WriteVolume("in put.nrrd");
  const std::string out = m_Folder.File("flu ence.nrrd");
  const RunResult r = Run({"-i", in, "-o", out, "-yo", "0.25", "-n", "3000", "-seed", "5", "-threads", "2"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("3000 photons on 2 threads")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find(out)) << r.out;

  itk::Image<float, 3>::Pointer f = ReadFluence(out);
  EXPECT_EQ(12u, f->GetLargestPossibleRegion().GetSize()[0]);
  EXPECT_EQ(16u, f->GetLargestPossibleRegion().GetSize()[1]);
  EXPECT_EQ(10u, f->GetLargestPossibleRegion().GetSize()[2]);
  EXPECT_DOUBLE_EQ(0.5, f->GetSpacing()[1]);
  std::string offset, seed;
  EXPECT_TRUE(itk::ExposeMetaData<std::string>(f->GetMetaDataDictionary(), "mcxyz_lateral_offset_cm", offset));
  EXPECT_TRUE(itk::ExposeMetaData<std::string>(f->GetMetaDataDictionary(), "mcxyz_seed", seed));
  EXPECT_EQ("0.25", offset);
  EXPECT_EQ("5", seed);
  // In the clear layer the incoming beam crosses its own column once per packet, 1 / (dx dy) = 400 /cm^2;
  // elsewhere there only light scattered back out of the tissue passes. The beam lies 0.25 cm beside
  // the centre: voxel y = 8 + 0.25 / 0.05 = 13.
  const float *p = f->GetBufferPointer();
  EXPECT_GE(p[6 + 12 * (13 + 16 * 1)], 400.0f);
  EXPECT_LT(p[6 + 12 * (8 + 16 * 1)], 100.0f);

  // the same seed gives the same fluence on any number of threads, within the rounding of the sums
  for (const char *threads : {"1", "2", "8"})
  {
    const std::string again = m_Folder.File("again.nrrd");
    const RunResult a = Run({"-i", in, "-o", again, "-yo", "0.25", "-n", "3000", "-seed", "5", "-threads", threads});
    ASSERT_EQ(0, a.exitCode) << a.err;
    itk::Image<float, 3>::Pointer g = ReadFluence(again);
    // the shares are totals summed in a fixed order: the same to the last digit
    for (const char *key : {"mcxyz_absorbed_fraction", "mcxyz_escaped_fraction"})
      EXPECT_EQ(HeaderValue(f, key), HeaderValue(g, key)) << key << ", " << threads << " threads";
    const float *q = g->GetBufferPointer();
    for (int v = 0; v < 12 * 16 * 10; ++v)
      ASSERT_NEAR(p[v], q[v], 2e-7 * p[v]) << threads << " threads, voxel " << v;
  }
}

TEST_F(SimulatorProgramTest, ProbeFileDefinesTheIlluminationAndAnEmptyPathMeansTheDefault)
{
  const std::string in = WriteVolume("in.nrrd");
  const std::string probe = m_Folder.File("probe file.xml");
  {
    std::ofstream p(probe);
    p << "<probe><source x=\"-0.2\" y=\"0\" z=\"-1\"/></probe>\n";
  }
  ASSERT_EQ(0, Run({"-i", in, "-o", m_Folder.File("p.nrrd"), "-p", probe, "-n", "500", "-seed", "1"}).exitCode);
  ASSERT_EQ(0, Run({"-i", in, "-o", m_Folder.File("d.nrrd"), "-p", "", "-n", "500", "-seed", "1"}).exitCode);
  itk::Image<float, 3>::Pointer probeImage = ReadFluence(m_Folder.File("p.nrrd"));
  itk::Image<float, 3>::Pointer defaultImage = ReadFluence(m_Folder.File("d.nrrd"));
  const float *withProbe = probeImage->GetBufferPointer();
  const float *byDefault = defaultImage->GetBufferPointer();
  // the incoming beam shows in the clear layer (see above): x = 6 - 0.2 / 0.05 = 2 for the probe
  EXPECT_GE(withProbe[2 + 12 * (8 + 16 * 0)], 400.0f);
  EXPECT_LT(withProbe[6 + 12 * (8 + 16 * 0)], 100.0f);
  EXPECT_GE(byDefault[6 + 12 * (8 + 16 * 0)], 400.0f);
  EXPECT_LT(byDefault[2 + 12 * (8 + 16 * 0)], 100.0f);
}

TEST_F(SimulatorProgramTest, FaultsEndWithAReasonAndACode)
{
  const std::string in = WriteVolume("in.nrrd");
  const std::string out = m_Folder.File("out.nrrd");

  RunResult r = Run({"-i", in});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("no output file given (-o)")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("Usage: VexaMcxyz")) << r.err;

  r = Run({"-i", in, "-o", out, "-n", "lots"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("got \"lots\"")) << r.err;

  r = Run({"-i", m_Folder.File("missing.nrrd"), "-o", out});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("missing.nrrd")) << r.err;

  r = Run({"-i", in, "-o", out, "-p", m_Folder.File("no probe.xml"), "-n", "10"});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("no probe.xml")) << r.err;

  r = Run({"-i", in, "-o", m_Folder.File("missing folder/out.nrrd"), "-n", "10"});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("Cannot write")) << r.err;

  r = Run({"-h"});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_NE(std::string::npos, r.out.find("-yo")) << r.out;

  std::ifstream never(out);
  EXPECT_FALSE(never.good());
}

TEST_F(SimulatorProgramTest, HostileNumbersAreRefusedBeforeTheRun)
{
  struct Case
  {
    const char *name;
    Medium medium;
    const char *probe; // sources of a probe file; none: the default beam
    const char *firstErrorLine;
  };
  Medium huge;
  huge.scattering = 3e38f;
  Medium million;
  million.scattering = 1e6f;
  Medium absorber;
  absorber.absorption = 1e5f;
  const Case cases[] = {
    {"scattering near the float limit", huge, nullptr,
     "scattering coefficient of 3e+38/cm, above the limit of 1000/cm"},
    {"scattering of a million per cm", million, nullptr,
     "scattering coefficient of 1e+06/cm, above the limit of 1000/cm"},
    {"absorption beyond the limit", absorber, nullptr,
     "absorption coefficient of 100000/cm, above the limit of 10000/cm"},
    {"direction that overflows a float", Medium(), "<source dirX=\"1e400\"/>", "attribute \"dirX\" is not a number"},
    {"zero direction", Medium(), "<source dirX=\"0\" dirY=\"0\" dirZ=\"0\"/>", "no direction (zero vector)"},
    {"tiny zero direction", Medium(), "<source dirX=\"-0\" dirZ=\"0e-400\"/>", "no direction (zero vector)"},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    const std::string in = WriteVolume("in.nrrd", c.medium);
    const std::string out = m_Folder.File("out.nrrd");
    std::vector<std::string> args = {"-i", in, "-o", out, "-n", "1000", "-seed", "1"};
    if (c.probe)
    {
      args.push_back("-p");
      args.push_back(WriteProbe("probe.xml", c.probe));
    }
    const RunResult r = Run(args, std::chrono::seconds(60));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(2, r.exitCode);
    EXPECT_EQ(0u, r.err.find("VexaMcxyz: ")) << r.err;
    EXPECT_NE(std::string::npos, FirstLine(r.err).find(c.firstErrorLine)) << r.err;
    EXPECT_FALSE(std::ifstream(out).good());
  }

  // the limits themselves are tissue, and run
  Medium limits;
  limits.absorption = 1e4f;
  limits.scattering = 1e3f;
  const RunResult r =
    Run({"-i", WriteVolume("limits.nrrd", limits), "-o", m_Folder.File("limits out.nrrd"), "-n", "200"});
  EXPECT_EQ(0, r.exitCode) << r.err;
}

TEST_F(SimulatorProgramTest, AHugeProbeDirectionIsNormalisedNotLost)
{
  const std::string in = WriteVolume("in.nrrd");
  const std::string huge = WriteProbe("huge.xml", "<source x=\"-0.2\" z=\"-0.1\" dirX=\"1e200\" dirZ=\"1e200\"/>");
  const std::string unit = WriteProbe("unit.xml", "<source x=\"-0.2\" z=\"-0.1\" dirX=\"1\" dirZ=\"1\"/>");
  ASSERT_EQ(0, Run({"-i", in, "-o", m_Folder.File("huge.nrrd"), "-p", huge, "-n", "500", "-seed", "3"}).exitCode);
  ASSERT_EQ(0, Run({"-i", in, "-o", m_Folder.File("unit.nrrd"), "-p", unit, "-n", "500", "-seed", "3"}).exitCode);
  itk::Image<float, 3>::Pointer a = ReadFluence(m_Folder.File("huge.nrrd"));
  itk::Image<float, 3>::Pointer b = ReadFluence(m_Folder.File("unit.nrrd"));
  const float *pa = a->GetBufferPointer();
  const float *pb = b->GetBufferPointer();
  for (int v = 0; v < 12 * 16 * 10; ++v)
    ASSERT_NEAR(pb[v], pa[v], 2e-7 * pb[v]) << v;
  // the 45-degree beam crosses the clear layers: voxel x = 6 - 0.2 / 0.05 + 0.1 / 0.05 = 4 of the top row
  EXPECT_GT(pa[4 + 12 * (8 + 16 * 0)], 100.0f);
}

TEST_F(SimulatorProgramTest, AMediumThatHoldsLightEndsAtTheInteractionCap)
{
  // A clear, strongly scattering 5 cm cube lit from its centre: a packet would need some
  // 10^7 interactions to wander out. The cap ends each after 10^6, and the summary says so.
  Medium trap;
  trap.absorption = 0;
  trap.scattering = 1000;
  trap.anisotropy = 0;
  trap.clearLayers = 0;
  trap.size[0] = trap.size[1] = trap.size[2] = 20;
  trap.spacingMm = 2.5;
  const std::string probe = WriteProbe("centre.xml", "<source z=\"2.5\"/>");
  const std::string out = m_Folder.File("out.nrrd");
  const RunResult r =
    Run({"-i", WriteVolume("trap.nrrd", trap), "-o", out, "-p", probe, "-n", "8", "-threads", "2", "-seed", "1"},
        std::chrono::seconds(120));
  EXPECT_FALSE(r.timedOut);
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("absorbed 0, ")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("photons reached the cap of 1000000 interactions")) << r.out;
  itk::Image<float, 3>::Pointer f = ReadFluence(out);
  const double terminated = std::stod(HeaderValue(f, "mcxyz_terminated_fraction"));
  const double escaped = std::stod(HeaderValue(f, "mcxyz_escaped_fraction"));
  EXPECT_GT(terminated, 0.5);
  // nothing is absorbed: every packet either left or was ended, and the shares say so exactly
  EXPECT_NEAR(1.0, terminated + escaped, 1e-12);
}

TEST_F(SimulatorProgramTest, MoreThreadsThanTheSystemStartsAreNamed)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's shadow memory does not run under the address-space limit this test sets";
#endif
  // Under a 2 GiB address-space limit 1024 threads of 8 MiB stacks cannot all start.
  const std::string in = WriteVolume("in.nrrd");
  const std::string out = m_Folder.File("out.nrrd");
  const RunResult r = Run({"-c", "ulimit -s 8192 && ulimit -v 2097152 && exec \"$0\" \"$@\"", VexaMcxyz_EXECUTABLE,
                           "-i", in, "-o", out, "-n", "100000", "-threads", "1024"},
                          std::chrono::seconds(120), "/bin/sh");
  EXPECT_EQ(2, r.exitCode) << r.err;
  EXPECT_EQ(0u, FirstLine(r.err).find("VexaMcxyz: cannot start 1024 worker threads: the system refused thread "))
    << r.err;
  EXPECT_NE(std::string::npos, FirstLine(r.err).find("Run with fewer threads (-threads ")) << r.err;
  EXPECT_FALSE(std::ifstream(out).good());
}
