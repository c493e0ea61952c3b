#include <vexaMovieGenerator.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
  // A window whose pixel at window coordinates (x, y) has the bytes
  // (x, y, step), so a test can tell which part of which step was filmed.
  class GridRenderer : public vexa::MovieGenerator::Renderer
  {
  public:
    int width = 12, height = 10;
    unsigned int step = 0;
    void GetRenderWindowSize(int size[2]) const override
    {
      size[0] = width;
      size[1] = height;
    }
    void ReadPixels(int x, int y, int w, int h, unsigned char *bgr) override
    {
      for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
        {
          unsigned char *p = bgr + 3 * (row * w + col);
          p[0] = static_cast<unsigned char>(x + col);
          p[1] = static_cast<unsigned char>(y + row);
          p[2] = static_cast<unsigned char>(step);
        }
    }
  };

  class GridStepper : public vexa::MovieGenerator::Stepper
  {
  public:
    GridRenderer *renderer = nullptr;
    unsigned int GetNumberOfSteps() const override { return 3; }
    void SetStep(unsigned int s) override { renderer->step = s; }
  };

  class RecordingGenerator : public vexa::MovieGenerator
  {
  public:
    vexaClassMacro(RecordingGenerator, vexa::MovieGenerator);
    vexaFactorylessNewMacro(RecordingGenerator);
    void SetFileName(const char *) override {}
    void SetFrameRate(unsigned int) override {}
    bool InitGenerator() override
    {
      calls.push_back("init");
      SetFrameSize(8, 6);
      return initResult;
    }
    bool AddFrame(unsigned char *data) override
    {
      calls.push_back("frame");
      firstPixels.push_back({data[0], data[1], data[2]});
      return true;
    }
    bool TerminateGenerator() override
    {
      calls.push_back("end");
      return true;
    }
    bool initResult = true;
    std::vector<std::string> calls;
    std::vector<std::vector<int>> firstPixels;
  };
}

TEST(MovieGenerator, WriteMovieFilmsEveryStepFromTheMiddleOfTheWindow)
{
  GridRenderer renderer;
  GridStepper stepper;
  stepper.renderer = &renderer;
  RecordingGenerator::Pointer generator = RecordingGenerator::New();
  EXPECT_FALSE(generator->WriteMovie()) << "no renderer and stepper yet";
  generator->SetRenderer(&renderer);
  generator->SetStepper(&stepper);
  ASSERT_TRUE(generator->WriteMovie());
  const std::vector<std::string> expected{"init", "frame", "frame", "frame", "end"};
  EXPECT_EQ(expected, generator->calls);
  // 8 x 6 out of 12 x 10: the frame starts at window pixel (2, 2).
  const std::vector<std::vector<int>> pixels{{2, 2, 0}, {2, 2, 1}, {2, 2, 2}};
  EXPECT_EQ(pixels, generator->firstPixels);
}

TEST(MovieGenerator, FailedInitWritesNothingAndSingleFramesOpenOnce)
{
  GridRenderer renderer;
  GridStepper stepper;
  stepper.renderer = &renderer;
  RecordingGenerator::Pointer generator = RecordingGenerator::New();
  generator->SetRenderer(&renderer);
  generator->SetStepper(&stepper);
  generator->initResult = false;
  EXPECT_FALSE(generator->WriteMovie());
  EXPECT_EQ(std::vector<std::string>{"init"}, generator->calls);

  generator->initResult = true;
  generator->calls.clear();
  EXPECT_TRUE(generator->WriteCurrentFrameToMovie());
  EXPECT_TRUE(generator->WriteCurrentFrameToMovie());
  generator->ReleaseMovieWriter();
  generator->ReleaseMovieWriter();
  const std::vector<std::string> expected{"init", "frame", "frame", "end"};
  EXPECT_EQ(expected, generator->calls);
}

TEST(MovieGenerator, HierarchyEndsAtLightObject)
{
  RecordingGenerator::Pointer generator = RecordingGenerator::New();
  const std::vector<std::string> expected{"RecordingGenerator", "MovieGenerator", "itk::LightObject"};
  EXPECT_EQ(expected, generator->GetClassHierarchy());
}
