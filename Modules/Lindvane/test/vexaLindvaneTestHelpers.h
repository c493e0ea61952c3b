#ifndef vexaLindvaneTestHelpers_h
#define vexaLindvaneTestHelpers_h

// Shared by Lindvane's tests: a temporary folder per test and video files
// written on the spot, so that every test reads real files.

#include <gtest/gtest.h>

#include <vexaTestTemporaryFolder.h>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lindvane_test
{
  using vexa::test::TemporaryFolder;

  /**
   * Frame i of a test video: every pixel tells its column, row and frame
   * (blue = column, green = row, red = 40 * frame, all modulo 256).
   */
  inline cv::Mat NumberedFrame(int i, int width, int height)
  {
    cv::Mat frame(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        frame.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(x), static_cast<uchar>(y), static_cast<uchar>(40 * i));
    return frame;
  }

  /** Writes the frames losslessly (FFV1), so that reading gives the same pixels back. */
  inline void WriteVideo(const std::string &path, const std::vector<cv::Mat> &frames, double fps = 25.0)
  {
    ASSERT_FALSE(frames.empty());
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), fps, frames.front().size(), true);
    ASSERT_TRUE(writer.isOpened()) << path;
    for (const cv::Mat &frame : frames)
      writer.write(frame);
    writer.release();
  }

  inline std::string WriteNumberedVideo(const TemporaryFolder &folder,
                                        int frames,
                                        int width = 32,
                                        int height = 24,
                                        const std::string &name = "numbered.avi")
  {
    std::vector<cv::Mat> images;
    for (int i = 0; i < frames; ++i)
      images.push_back(NumberedFrame(i, width, height));
    const std::string path = folder.File(name);
    WriteVideo(path, images);
    return path;
  }

  /** Polls the condition for up to the timeout; true as soon as it holds. */
  inline bool WaitFor(const std::function<bool()> &condition,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(20000))
  {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end)
    {
      if (condition())
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
  }
}

#endif
