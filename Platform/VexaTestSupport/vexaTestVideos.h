#ifndef vexaTestVideos_h
#define vexaTestVideos_h

// Video clips written by the tests themselves, so that a video source or
// device reads real files: numbered clips (lossless FFV1 in .avi), whose every
// pixel is known, for tests; and compressed clips (MJPG, as a camera or a
// recording delivers them) for the throughput figures of benchmarks.
// Header code: only a program that writes clips links OpenCV.

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "vexaTestTemporaryFolder.h"

#include <map>
#include <stdexcept>
#include <string>
#include <tuple>

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

    /**
     * Writes a numbered clip of `frames` frames losslessly, so that reading
     * gives NumberedVideoFrame(i, ...) back; throws std::runtime_error when it
     * cannot.
     */
    inline void WriteNumberedVideo(const std::string &path, int frames, int width, int height, double fps = 25.0)
    {
      cv::VideoWriter writer(path, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), fps, cv::Size(width, height), true);
      if (!writer.isOpened())
        throw std::runtime_error("cannot write the test video " + path);
      for (int i = 0; i < frames; ++i)
        writer.write(NumberedVideoFrame(i, width, height));
    }

    /**
     * Writes a compressed clip (MJPG, 25 frames/s) of a disc moving over
     * noise, the same pixels on every run; throws std::runtime_error when it
     * cannot.
     */
    inline void WriteMovingDiscVideo(const std::string &path, int frames, int width, int height)
    {
      cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0, cv::Size(width, height));
      if (!writer.isOpened())
        throw std::runtime_error("cannot write the test video " + path);
      cv::Mat frame(height, width, CV_8UC3);
      cv::RNG rng(7);
      for (int i = 0; i < frames; ++i)
      {
        rng.fill(frame, cv::RNG::NORMAL, cv::Scalar::all(128), cv::Scalar::all(30));
        cv::circle(frame, cv::Point(width / 2 + 5 * i, height / 2), height / 4, cv::Scalar(30, 60, 220), -1);
        writer.write(frame);
      }
    }

    /**
     * Reads the next frame into `frame`, the first one again after the last:
     * a clip played in a loop, as the bare-OpenCV yardstick of the video
     * benchmarks reads it. False when not even the first frame comes.
     */
    inline bool ReadLooping(cv::VideoCapture &capture, cv::Mat &frame)
    {
      if (capture.read(frame))
        return true;
      capture.set(cv::CAP_PROP_POS_FRAMES, 0.0);
      return capture.read(frame);
    }

    /**
     * A moving-disc clip of the size, written on the first call for it into a
     * folder that goes when the program ends; the same path afterwards. For
     * the set-up of benchmarks: not thread-safe.
     */
    inline const std::string &MovingDiscVideo(int frames, int width, int height)
    {
      static const TemporaryFolder folder;
      static std::map<std::tuple<int, int, int>, std::string> written;
      std::string &path = written[{frames, width, height}];
      if (path.empty())
      {
        const std::string file =
          folder.File(std::to_string(width) + "x" + std::to_string(height) + "-" + std::to_string(frames) + ".avi");
        WriteMovingDiscVideo(file, frames, width, height);
        path = file;
      }
      return path;
    }
  }
}

#endif
