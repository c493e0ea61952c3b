#include "vexaUSImageVideoSource.h"

#include <vexaException.h>
#include <vexaLog.h>
#include <vexaPixelTypeTraits.h>

#include <itkRGBPixel.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace vexa
{
  USImageVideoSource::USImageVideoSource() : m_VideoSource(OpenCVVideoSource::New()) {}

  USImageVideoSource::~USImageVideoSource() = default;

  bool USImageVideoSource::SetVideoFileInput(const std::string &path)
  {
    ReleaseInput();
    m_VideoSource->SetVideoFileInput(path.c_str(), true);
    m_VideoSource->StartCapturing();
    const bool ready = m_VideoSource->IsCapturingEnabled();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_IsReady = ready;
    if (ready)
    {
      m_InputWidth = static_cast<int>(m_VideoSource->GetVideoCaptureProperty(cv::CAP_PROP_FRAME_WIDTH));
      m_InputHeight = static_cast<int>(m_VideoSource->GetVideoCaptureProperty(cv::CAP_PROP_FRAME_HEIGHT));
      const double fps = m_VideoSource->GetVideoCaptureProperty(cv::CAP_PROP_FPS);
      m_FramesPerSecond = fps > 0.0 && fps < 10000.0 ? fps : 0.0;
    }
    else
      VEXA_ERROR("USImageVideoSource") << "Cannot open the video file \"" << path << "\".";
    return ready;
  }

  bool USImageVideoSource::SetCameraInput(int deviceIndex)
  {
    ReleaseInput();
    m_VideoSource->SetVideoCameraInput(deviceIndex);
    m_VideoSource->StartCapturing();
    const bool ready = m_VideoSource->IsCapturingEnabled();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_IsReady = ready;
    if (ready)
    {
      m_InputWidth = static_cast<int>(m_VideoSource->GetVideoCaptureProperty(cv::CAP_PROP_FRAME_WIDTH));
      m_InputHeight = static_cast<int>(m_VideoSource->GetVideoCaptureProperty(cv::CAP_PROP_FRAME_HEIGHT));
      m_FramesPerSecond = 0.0;
    }
    else
      VEXA_ERROR("USImageVideoSource") << "Cannot open the camera " << deviceIndex << ".";
    return ready;
  }

  void USImageVideoSource::ReleaseInput()
  {
    // a fresh video source closes the capture of the old one
    m_VideoSource = OpenCVVideoSource::New();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_IsReady = false;
    m_InputWidth = 0;
    m_InputHeight = 0;
    m_FramesPerSecond = 0.0;
    m_CropWarningGiven = false;
  }

  bool USImageVideoSource::GetIsReady() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_IsReady;
  }

  void USImageVideoSource::SetColorOutput(bool color)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Settings.color = color;
  }

  bool USImageVideoSource::GetColorOutput() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Settings.color;
  }

  void USImageVideoSource::OverrideResolution(int width, int height)
  {
    if (width <= 0 || height <= 0)
    {
      VEXA_WARN("USImageVideoSource") << "A resolution of " << width << " x " << height
                                      << " pixels is refused: both must be positive.";
      return;
    }
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Settings.overrideWidth = width;
    m_Settings.overrideHeight = height;
  }

  void USImageVideoSource::EnableResolutionOverride(bool enable)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Settings.overrideResolution = enable;
  }

  bool USImageVideoSource::GetResolutionOverride() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Settings.overrideResolution;
  }

  int USImageVideoSource::GetResolutionOverrideWidth() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Settings.overrideWidth;
  }

  int USImageVideoSource::GetResolutionOverrideHeight() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Settings.overrideHeight;
  }

  bool USImageVideoSource::CroppingFits(const USImageCropping &c, int width, int height)
  {
    return std::uint64_t(c.left) + c.right < std::uint64_t(width) &&
           std::uint64_t(c.top) + c.bottom < std::uint64_t(height);
  }

  void USImageVideoSource::SetCropping(const USImageCropping &cropping)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    const bool scaled = m_Settings.overrideResolution && m_Settings.overrideWidth > 0;
    const int width = scaled ? m_Settings.overrideWidth : m_InputWidth;
    const int height = scaled ? m_Settings.overrideHeight : m_InputHeight;
    if (width > 0 && height > 0 && !CroppingFits(cropping, width, height))
      vexaThrow() << "The crop area (top " << cropping.top << ", bottom " << cropping.bottom << ", left "
                  << cropping.left << ", right " << cropping.right << ") leaves no pixel of the " << width << " x "
                  << height << " picture.";
    m_Settings.cropping = cropping;
    m_CropWarningGiven = false;
  }

  USImageVideoSource::USImageCropping USImageVideoSource::GetCropping() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Settings.cropping;
  }

  int USImageVideoSource::GetImageWidth() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Settings.overrideResolution && m_Settings.overrideWidth > 0 ? m_Settings.overrideWidth : m_InputWidth;
  }

  int USImageVideoSource::GetImageHeight() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Settings.overrideResolution && m_Settings.overrideHeight > 0 ? m_Settings.overrideHeight : m_InputHeight;
  }

  double USImageVideoSource::GetFramesPerSecond() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_FramesPerSecond;
  }

  USImageVideoSource::Settings USImageVideoSource::GetSettings() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Settings;
  }

  std::string USImageVideoSource::GetLastFailure() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_LastFailure;
  }

  bool USImageVideoSource::GetNextFrame(USImageFrame &frame)
  {
    // Records why no picture came, which the device names when it stops;
    // true when it is not the failure of the call before, so that a stalled
    // input, which fails again on every retry, is logged once until a
    // picture comes.
    auto recordFailure = [this](const std::string &why) {
      std::lock_guard<std::mutex> lock(m_Mutex);
      const bool fresh = m_LastFailure != why;
      m_LastFailure = why;
      return fresh;
    };
    if (!GetIsReady())
    {
      recordFailure("the input is not open");
      return false;
    }
    const Settings settings = GetSettings();
    try
    {
      m_VideoSource->FetchFrame();
      const IplImage *current = m_VideoSource->GetCurrentFrame();
      if (!current)
      {
        recordFailure("the input delivered no picture");
        return false;
      }
      cv::Mat input = cv::cvarrToMat(current);
      if (input.depth() != CV_8U || (input.channels() != 1 && input.channels() != 3 && input.channels() != 4))
      {
        const std::string why = "Pictures of depth " + std::to_string(input.depth()) + " with " +
                                std::to_string(input.channels()) +
                                " channels are not supported (8-bit grey or colour only)";
        if (recordFailure(why))
          VEXA_ERROR("USImageVideoSource") << why << ".";
        return false;
      }
      if (settings.overrideResolution && settings.overrideWidth > 0 && settings.overrideHeight > 0 &&
          (input.cols != settings.overrideWidth || input.rows != settings.overrideHeight))
      {
        cv::resize(input, m_Scaled, cv::Size(settings.overrideWidth, settings.overrideHeight), 0, 0, cv::INTER_LINEAR);
        input = m_Scaled;
      }
      USImageCropping crop = settings.cropping;
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (!settings.overrideResolution)
        {
          m_InputWidth = input.cols;
          m_InputHeight = input.rows;
        }
        if (!CroppingFits(crop, input.cols, input.rows))
        {
          if (!m_CropWarningGiven)
            VEXA_WARN("USImageVideoSource") << "The crop area leaves no pixel of the " << input.cols << " x "
                                            << input.rows << " picture; pictures are shown uncropped.";
          m_CropWarningGiven = true;
          crop = USImageCropping();
        }
      }
      const cv::Mat roi = input(cv::Rect(static_cast<int>(crop.left), static_cast<int>(crop.top),
                                         input.cols - static_cast<int>(crop.left + crop.right),
                                         input.rows - static_cast<int>(crop.top + crop.bottom)));

      static const PixelType grey = CreateScalarPixelType<unsigned char>();
      static const PixelType rgb = CreatePixelType<unsigned char, itk::RGBPixel<unsigned char>>(3);
      const PixelType &type = settings.color ? rgb : grey;
      if (!frame.Reshape(type, static_cast<unsigned int>(roi.cols), static_cast<unsigned int>(roi.rows)))
      {
        recordFailure("no memory for a picture of " + std::to_string(roi.cols) + " x " + std::to_string(roi.rows) +
                      " pixels");
        return false;
      }
      // written straight into the frame's buffer: no copy in between
      cv::Mat target(roi.rows, roi.cols, settings.color ? CV_8UC3 : CV_8UC1, frame.GetData());
      // Colour pictures in OpenCV's blue-green-red order are copied as they
      // are; the swap to red-green-blue happens in the copy to the output.
      static const int toGrey[5] = {-1, -1, -1, cv::COLOR_BGR2GRAY, cv::COLOR_BGRA2GRAY};
      static const int toRgb[5] = {-1, cv::COLOR_GRAY2RGB, -1, -1, cv::COLOR_BGRA2RGB};
      const int code = settings.color ? toRgb[roi.channels()] : toGrey[roi.channels()];
      if (code < 0)
        roi.copyTo(target);
      else
        cv::cvtColor(roi, target, code);
      frame.SetBlueGreenRedOrder(settings.color && roi.channels() == 3);
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_LastFailure.clear();
      return true;
    }
    catch (const std::exception &e)
    {
      if (recordFailure(e.what()))
        VEXA_ERROR("USImageVideoSource") << "Reading a picture failed: " << e.what();
      return false;
    }
  }
}
