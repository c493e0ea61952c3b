#ifndef vexaUSTestVideos_h
#define vexaUSTestVideos_h

// Video clips written by the tests themselves (lossless FFV1 in .avi), so a
// video device reads real files whose every pixel is known.

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace vexa
{
  namespace test
  {
    /**
     * Frame i of a numbered clip, as OpenCV holds it (BGR): blue = column,
     * green = row, red = 40 * i, all modulo 256.
     */
    inline cv::Mat NumberedVideoFrame(int i, int width, int height)
    {
      cv::Mat frame(height, width, CV_8UC3);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          frame.at<cv::Vec3b>(y, x) =
            cv::Vec3b(static_cast<uchar>(x), static_cast<uchar>(y), static_cast<uchar>(40 * i));
      return frame;
    }

    /** Writes a numbered clip of `frames` frames; throws std::runtime_error when it cannot. */
    inline void WriteNumberedVideo(const std::string &path, int frames, int width, int height, double fps = 25.0)
    {
      cv::VideoWriter writer(path, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), fps, cv::Size(width, height), true);
      if (!writer.isOpened())
        throw std::runtime_error("cannot write the test video " + path);
      for (int i = 0; i < frames; ++i)
        writer.write(NumberedVideoFrame(i, width, height));
    }
  }
}

#endif
