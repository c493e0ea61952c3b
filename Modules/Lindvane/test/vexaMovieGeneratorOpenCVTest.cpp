#include "vexaLindvaneTestSupport.h"

#include <vexaMovieGeneratorOpenCV.h>

#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <opencv2/videoio.hpp>

#include <cstring>

using lindvane_test::TemporaryFolder;

namespace
{
  // A render window whose picture tells where each pixel is: window pixel
  // (x, y), counted from the top-left corner, is blue x, green y, red 50 * step.
  class PictureRenderer : public vexa::MovieGenerator::Renderer
  {
  public:
    PictureRenderer(int w, int h) : width(w), height(h) {}
    int width, height;
    unsigned int step = 0;
    void GetRenderWindowSize(int size[2]) const override
    {
      size[0] = width;
      size[1] = height;
    }
    void ReadPixels(int x, int y, int w, int h, unsigned char *bgr) override
    {
      // (x, y) is the lower-left corner and rows run bottom to top, as a
      // graphics library reads a window.
      for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
        {
          const int windowX = x + col;
          const int windowYFromTop = height - 1 - (y + row);
          unsigned char *p = bgr + 3 * (row * w + col);
          p[0] = static_cast<unsigned char>(windowX);
          p[1] = static_cast<unsigned char>(windowYFromTop);
          p[2] = static_cast<unsigned char>(50 * step);
        }
    }
    cv::Vec3b PixelAt(int x, int yFromTop) const
    {
      return cv::Vec3b(static_cast<uchar>(x), static_cast<uchar>(yFromTop), static_cast<uchar>(50 * step));
    }
  };

  class Steps : public vexa::MovieGenerator::Stepper
  {
  public:
    explicit Steps(PictureRenderer &r) : renderer(r) {}
    PictureRenderer &renderer;
    unsigned int GetNumberOfSteps() const override { return 4; }
    void SetStep(unsigned int s) override { renderer.step = s; }
  };

  int FourCC(const char *c) { return cv::VideoWriter::fourcc(c[0], c[1], c[2], c[3]); }

  std::vector<cv::Mat> ReadAll(const std::string &path, double *fps = nullptr, int *fourcc = nullptr)
  {
    std::vector<cv::Mat> frames;
    cv::VideoCapture capture(path);
    if (!capture.isOpened())
      return frames;
    if (fps)
      *fps = capture.get(cv::CAP_PROP_FPS);
    if (fourcc)
      *fourcc = static_cast<int>(capture.get(cv::CAP_PROP_FOURCC));
    cv::Mat frame;
    while (capture.read(frame))
      frames.push_back(frame.clone());
    return frames;
  }
}

TEST(MovieGeneratorOpenCV, WritesAMovieThatReadsBackUprightWithItsSizeAndRate)
{
  TemporaryFolder folder;
  const std::string path = folder.File("movie.avi");
  PictureRenderer renderer(643, 480);
  Steps steps(renderer);
  vexa::MovieGeneratorOpenCV::Pointer writer = vexa::MovieGeneratorOpenCV::New();
  writer->SetRenderer(&renderer);
  writer->SetStepper(&steps);
  writer->SetFileName(path.c_str());
  writer->SetFrameRate(12);
  writer->SetFourCCCodec("FFV1");
  ASSERT_TRUE(writer->WriteMovie());

  double fps = 0;
  int fourcc = 0;
  const std::vector<cv::Mat> frames = ReadAll(path, &fps, &fourcc);
  ASSERT_EQ(4u, frames.size());
  EXPECT_EQ(12.0, fps);
  EXPECT_EQ(FourCC("FFV1"), fourcc);
  // 643 x 480 less the 10-pixel border, rounded down to multiples of 4.
  EXPECT_EQ(cv::Size(632, 468), frames[0].size());
  // The frame is the middle of the window: window pixel (5, 6) is its top-left.
  for (unsigned int s = 0; s < 4; ++s)
  {
    renderer.step = s;
    EXPECT_EQ(renderer.PixelAt(5, 6), frames[s].at<cv::Vec3b>(0, 0)) << "step " << s;
    EXPECT_EQ(renderer.PixelAt(5 + 631, 6 + 467), frames[s].at<cv::Vec3b>(467, 631)) << "step " << s;
  }
}

TEST(MovieGeneratorOpenCV, KeepsTheWholeWindowWithoutTheColouredFrameRemoved)
{
  TemporaryFolder folder;
  const std::string path = folder.File("whole.mkv");
  PictureRenderer renderer(643, 480);
  vexa::MovieGeneratorOpenCV::Pointer writer = vexa::MovieGeneratorOpenCV::New();
  writer->SetRenderer(&renderer);
  writer->SetFileName(path.c_str());
  writer->SetRemoveColouredFrame(false);
  ASSERT_TRUE(writer->WriteCurrentFrameToMovie());
  writer->ReleaseMovieWriter();

  double fps = 0;
  int fourcc = 0;
  const std::vector<cv::Mat> frames = ReadAll(path, &fps, &fourcc);
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(cv::Size(640, 480), frames[0].size());
  EXPECT_EQ(20.0, fps) << "the default rate";
  EXPECT_EQ(FourCC("FFV1"), fourcc) << "lossless for .mkv when no codec was chosen";
  EXPECT_EQ(renderer.PixelAt(1, 0), frames[0].at<cv::Vec3b>(0, 0));
}

TEST(MovieGeneratorOpenCV, CodecIsStoredByValueOrChosenByTheExtension)
{
  TemporaryFolder folder;
  PictureRenderer renderer(100, 80);
  struct Case
  {
    const char *file;
    const char *codec; // null: none chosen
    const char *expected;
  };
  for (const Case &c : {Case{"a.avi", nullptr, "MJPG"}, Case{"b.mp4", nullptr, "mp4v"}, Case{"c.mkv", nullptr, "FFV1"},
                        Case{"d.avi", "HFYU", "HFYU"}})
  {
    const std::string path = folder.File(c.file);
    vexa::MovieGeneratorOpenCV::Pointer writer = vexa::MovieGeneratorOpenCV::New();
    writer->SetRenderer(&renderer);
    writer->SetFileName(path.c_str());
    char codec[5] = "XXXX";
    if (c.codec)
    {
      std::memcpy(codec, c.codec, 4);
      writer->SetFourCCCodec(codec);
      std::memcpy(codec, "XVID", 4); // the caller's buffer may change afterwards
    }
    ASSERT_TRUE(writer->WriteCurrentFrameToMovie()) << c.file;
    writer->ReleaseMovieWriter();
    int fourcc = 0;
    EXPECT_EQ(1u, ReadAll(path, nullptr, &fourcc).size()) << c.file;
    EXPECT_EQ(FourCC(c.expected), fourcc) << c.file;
  }
}

TEST(MovieGeneratorOpenCV, ASecondInitClosesTheFirstMovie)
{
  TemporaryFolder folder;
  PictureRenderer renderer(100, 80);
  vexa::MovieGeneratorOpenCV::Pointer writer = vexa::MovieGeneratorOpenCV::New();
  writer->SetRenderer(&renderer);
  writer->SetFourCCCodec("FFV1");
  std::vector<unsigned char> frame(88 * 68 * 3, 200);

  writer->SetFileName(folder.File("first.avi").c_str());
  ASSERT_TRUE(writer->InitGenerator());
  EXPECT_TRUE(writer->AddFrame(frame.data()));
  writer->SetFileName(folder.File("second.avi").c_str());
  ASSERT_TRUE(writer->InitGenerator());
  EXPECT_TRUE(writer->AddFrame(frame.data()));
  EXPECT_TRUE(writer->AddFrame(frame.data()));
  EXPECT_TRUE(writer->TerminateGenerator());

  EXPECT_EQ(1u, ReadAll(folder.File("first.avi")).size());
  const std::vector<cv::Mat> second = ReadAll(folder.File("second.avi"));
  ASSERT_EQ(2u, second.size());
  EXPECT_EQ(cv::Size(88, 68), second[0].size());
  EXPECT_EQ(cv::Vec3b(200, 200, 200), second[1].at<cv::Vec3b>(30, 40));
}

TEST(MovieGeneratorOpenCV, NothingIsWrittenWhenNothingIsOpen)
{
  vexa::MovieGeneratorOpenCV::Pointer writer = vexa::MovieGeneratorOpenCV::New();
  unsigned char pixels[3 * 16] = {};
  EXPECT_TRUE(writer->TerminateGenerator());
  EXPECT_FALSE(writer->AddFrame(pixels));

  vorlen::CapturingSink sink;
  EXPECT_FALSE(writer->InitGenerator()) << "no renderer";
  EXPECT_EQ(1u, sink.Texts(2).size());
}

TEST(MovieGeneratorOpenCV, RefusesFramesBelowFourPixels)
{
  TemporaryFolder folder;
  vorlen::CapturingSink sink;
  PictureRenderer renderer(17, 100); // 7 after the border: 4 is the smallest left
  vexa::MovieGeneratorOpenCV::Pointer writer = vexa::MovieGeneratorOpenCV::New();
  writer->SetRenderer(&renderer);
  writer->SetFileName(folder.File("small.avi").c_str());
  EXPECT_TRUE(writer->InitGenerator());
  EXPECT_TRUE(writer->TerminateGenerator());

  renderer.width = 13; // 3 after the border
  EXPECT_FALSE(writer->InitGenerator());
  ASSERT_EQ(1u, sink.Texts(2).size());
  EXPECT_NE(std::string::npos, sink.Texts(2)[0].find("0 x 88 pixels are too small"));
  unsigned char pixels[3 * 16] = {};
  EXPECT_FALSE(writer->AddFrame(pixels));
}

TEST(MovieGeneratorOpenCV, AFileThatCannotBeOpenedIsReported)
{
  TemporaryFolder folder;
  PictureRenderer renderer(100, 80);
  vexa::MovieGeneratorOpenCV::Pointer writer = vexa::MovieGeneratorOpenCV::New();
  writer->SetRenderer(&renderer);
  writer->SetFileName(folder.File("no/such/folder/movie.avi").c_str());
  testing::internal::CaptureStdout();
  EXPECT_FALSE(writer->InitGenerator());
  EXPECT_EQ("errors initializing video writer...correct video file path? on linux: ffmpeg must be included in OpenCV.",
            testing::internal::GetCapturedStdout());
  unsigned char pixels[3 * 16] = {};
  EXPECT_FALSE(writer->AddFrame(pixels));
}

TEST(MovieGeneratorOpenCV, ClassHierarchyHasThreeEntries)
{
  vexa::MovieGeneratorOpenCV::Pointer writer = vexa::MovieGeneratorOpenCV::New();
  const std::vector<std::string> expected{"MovieGeneratorOpenCV", "MovieGenerator", "itk::LightObject"};
  EXPECT_EQ(expected, writer->GetClassHierarchy());
  EXPECT_STREQ("MovieGeneratorOpenCV", writer->GetNameOfClass());
}
