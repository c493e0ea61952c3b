// VexaMcxyz run as a process, on volumes written by the test.

#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageFileWriter.h>
#include <itkMetaDataObject.h>
#include <itkNrrdImageIO.h>
#include <itkVectorImage.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace
{
  struct RunResult
  {
    int exitCode = -1;
    std::string out;
    std::string err;
  };

  std::string ReadFile(const std::string &path)
  {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  class SimulatorProgramTest : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
      m_Dir = ::testing::TempDir() + "/vexaMcxyzProgram " + info->name() + "_" + std::to_string(::getpid());
      ASSERT_EQ(0, ::mkdir(m_Dir.c_str(), 0755));
    }
    void TearDown() override
    {
      if (DIR *d = ::opendir(m_Dir.c_str()))
      {
        while (dirent *e = ::readdir(d))
          if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            std::remove((m_Dir + "/" + e->d_name).c_str());
        ::closedir(d);
      }
      ::rmdir(m_Dir.c_str());
    }

    /** Runs the simulator with the arguments (no shell), standard output and error into files. */
    RunResult Run(const std::vector<std::string> &args)
    {
      const std::string outPath = m_Dir + "/stdout.txt";
      const std::string errPath = m_Dir + "/stderr.txt";
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      std::vector<std::string> all = {VexaMcxyz_EXECUTABLE};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char *> argv;
      for (std::string &a : all)
        argv.push_back(&a[0]);
      argv.push_back(nullptr);
      pid_t pid = 0;
      RunResult r;
      const int spawned = posix_spawn(&pid, VexaMcxyz_EXECUTABLE, &actions, nullptr, argv.data(), environ);
      posix_spawn_file_actions_destroy(&actions);
      if (spawned != 0)
        return r;
      int status = 0;
      ::waitpid(pid, &status, 0);
      r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      r.out = ReadFile(outPath);
      r.err = ReadFile(errPath);
      std::remove(outPath.c_str());
      std::remove(errPath.c_str());
      return r;
    }

    /** A layered phantom: clear top layer, tissue below; 3 or 4 components. */
    std::string WriteVolume(const std::string &name)
    {
      using Image = itk::VectorImage<float, 3>;
      Image::Pointer img = Image::New();
      Image::RegionType region;
      region.SetSize(0, 12);
      region.SetSize(1, 16);
      region.SetSize(2, 10);
      img->SetRegions(region);
      img->SetNumberOfComponentsPerPixel(4);
      const double spacing[3] = {0.5, 0.5, 0.5};
      const double origin[3] = {0, 0, 0};
      img->SetSpacing(spacing);
      img->SetOrigin(origin);
      img->Allocate();
      for (int z = 0; z < 10; ++z)
        for (int y = 0; y < 16; ++y)
          for (int x = 0; x < 12; ++x)
          {
            itk::VariableLengthVector<float> v(4);
            const bool air = z < 2;
            v[0] = air ? 0.0f : 1.0f;
            v[1] = air ? 0.0f : 30.0f;
            v[2] = 0.9f;
            v[3] = air ? 0.0f : 1.0f;
            Image::IndexType idx = {{x, y, z}};
            img->SetPixel(idx, v);
          }
      const std::string path = m_Dir + "/" + name;
      itk::ImageFileWriter<Image>::Pointer w = itk::ImageFileWriter<Image>::New();
      w->SetImageIO(itk::NrrdImageIO::New());
      w->SetFileName(path);
      w->SetInput(img);
      w->Update();
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

    std::string m_Dir;
  };
}

TEST_F(SimulatorProgramTest, WritesTheFluenceOfTheVolume)
{
  const std::string in = WriteVolume("in put.nrrd");
  const std::string out = m_Dir + "/flu ence.nrrd";
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

  // the same seed gives the same file content
  const std::string again = m_Dir + "/again.nrrd";
  ASSERT_EQ(0, Run({"-i", in, "-o", again, "-yo", "0.25", "-n", "3000", "-seed", "5", "-threads", "2"}).exitCode);
  itk::Image<float, 3>::Pointer g = ReadFluence(again);
  EXPECT_TRUE(std::equal(p, p + 12 * 16 * 10, g->GetBufferPointer()));
}

TEST_F(SimulatorProgramTest, ProbeFileDefinesTheIlluminationAndAnEmptyPathMeansTheDefault)
{
  const std::string in = WriteVolume("in.nrrd");
  const std::string probe = m_Dir + "/probe file.xml";
  {
    std::ofstream p(probe);
    p << "<probe><source x=\"-0.2\" y=\"0\" z=\"-1\"/></probe>\n";
  }
  ASSERT_EQ(0, Run({"-i", in, "-o", m_Dir + "/p.nrrd", "-p", probe, "-n", "500", "-seed", "1"}).exitCode);
  ASSERT_EQ(0, Run({"-i", in, "-o", m_Dir + "/d.nrrd", "-p", "", "-n", "500", "-seed", "1"}).exitCode);
  itk::Image<float, 3>::Pointer probeImage = ReadFluence(m_Dir + "/p.nrrd");
  itk::Image<float, 3>::Pointer defaultImage = ReadFluence(m_Dir + "/d.nrrd");
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
  const std::string out = m_Dir + "/out.nrrd";

  RunResult r = Run({"-i", in});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("no output file given (-o)")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("Usage: VexaMcxyz")) << r.err;

  r = Run({"-i", in, "-o", out, "-n", "lots"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("got \"lots\"")) << r.err;

  r = Run({"-i", m_Dir + "/missing.nrrd", "-o", out});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("missing.nrrd")) << r.err;

  r = Run({"-i", in, "-o", out, "-p", m_Dir + "/no probe.xml", "-n", "10"});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("no probe.xml")) << r.err;

  r = Run({"-i", in, "-o", m_Dir + "/missing folder/out.nrrd", "-n", "10"});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("Cannot write")) << r.err;

  r = Run({"-h"});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_NE(std::string::npos, r.out.find("-yo")) << r.out;

  std::ifstream never(out);
  EXPECT_FALSE(never.good());
}
