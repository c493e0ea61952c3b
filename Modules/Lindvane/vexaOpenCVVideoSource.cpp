#include "vexaOpenCVVideoSource.h"

#include <vexaLog.h>

#include <itkImageRegionIterator.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <iostream>
#include <stdexcept>
#include <string>

vexa::OpenCVVideoSource::OpenCVVideoSource() : m_PauseImageHeader(cvIplImage()), m_CaptureFrameHeader(cvIplImage()) {}

vexa::OpenCVVideoSource::~OpenCVVideoSource() { this->Reset(); }

void vexa::OpenCVVideoSource::SetVideoFileInput(const char *filename, bool repeatVideo, bool /*useCVCAMLib*/)
{
  this->Reset();
  m_VideoFileName = filename != nullptr ? filename : "";
  m_VideoCapture = std::make_unique<cv::VideoCapture>(m_VideoFileName);
  if (!m_VideoCapture->isOpened())
  {
    m_VideoCapture.reset();
    VEXA_WARN << "Error in initializing video file input!";
  }
  m_RepeatVideo = repeatVideo;
  this->Modified();
}

void vexa::OpenCVVideoSource::SetVideoCameraInput(int cameraindex, bool /*useCVCAMLib*/)
{
  this->OpenCamera(cameraindex, std::make_unique<cv::VideoCapture>());
}

void vexa::OpenCVVideoSource::OpenCamera(int cameraindex, std::unique_ptr<cv::VideoCapture> capture)
{
  // The earlier input is closed before the camera is opened: it may be the same camera.
  this->Reset();
  m_GrabbingDeviceNumber = static_cast<short>(cameraindex);
  m_VideoCapture = std::move(capture);
  if (!m_VideoCapture || !m_VideoCapture->open(cameraindex) || !m_VideoCapture->isOpened())
  {
    m_VideoCapture.reset();
    VEXA_ERROR << "Error in initializing CVHighGUI video camera!" << std::endl;
  }
  this->Modified();
}

double vexa::OpenCVVideoSource::GetVideoCaptureProperty(int propertyId)
{
  return m_VideoCapture ? m_VideoCapture->get(propertyId) : 0.0;
}

int vexa::OpenCVVideoSource::SetVideoCaptureProperty(int propertyId, double value)
{
  return m_VideoCapture ? static_cast<int>(m_VideoCapture->set(propertyId, value)) : 0;
}

void vexa::OpenCVVideoSource::StartCapturing() { m_CapturingInProcess = m_VideoCapture != nullptr; }

void vexa::OpenCVVideoSource::StopCapturing()
{
  m_CapturePaused = false;
  m_CapturingInProcess = false;
}

void vexa::OpenCVVideoSource::FetchFrame()
{
  if (!m_CapturingInProcess || !m_VideoCapture)
    return;

  if (!m_CapturePaused)
  {
    // The frame buffer is about to be overwritten: nothing may point at it
    // until the read is known to have delivered a frame.
    m_CurrentImage = nullptr;
    bool ok = m_VideoCapture->read(m_CaptureFrame) && !m_CaptureFrame.empty();
    ++m_FrameCount;
    // Only a file has a start to go back to. A camera that delivers nothing
    // keeps its capture: opening it by its (empty) file name would close the
    // camera for good, where the next read may well deliver again.
    const bool fromFile = !m_VideoFileName.empty();
    if (!ok && m_RepeatVideo && fromFile)
    {
      // Rewind by frame index: the relative position that would tell the end
      // of the file is not reliable with every backend. With a file of a
      // single frame the backend reports the seek as done but the next read
      // still fails, so the file is opened anew when the seek delivers
      // nothing. A read that fails even then means the file has no frames.
      m_VideoCapture->set(cv::CAP_PROP_POS_FRAMES, 0.0);
      m_FrameCount = 0;
      ok = m_VideoCapture->read(m_CaptureFrame) && !m_CaptureFrame.empty();
      if (!ok && m_VideoCapture->open(m_VideoFileName))
        ok = m_VideoCapture->read(m_CaptureFrame) && !m_CaptureFrame.empty();
    }
    if (!ok && !fromFile)
      throw std::logic_error("No frame from camera " + std::to_string(m_GrabbingDeviceNumber));
    if (!ok)
      throw std::logic_error("End of video file " + m_VideoFileName);
    m_CaptureFrameHeader = cvIplImage(m_CaptureFrame);
    m_CurrentImage = &m_CaptureFrameHeader;
    m_CurrentImageUndistorted = false;
    m_CurrentImageFlipped = false;
  }

  if (m_CurrentImage == nullptr)
    return;
  if (m_UseUndistortImage && m_UndistortImage.IsNotNull())
    this->UndistortCurrentFrameOnce();
  if (m_CaptureWidth == 0 || m_CaptureHeight == 0)
    this->LearnFrameSize();
}

void vexa::OpenCVVideoSource::LearnFrameSize()
{
  m_CaptureWidth = m_CurrentImage->width;
  m_CaptureHeight = m_CurrentImage->height;
  VEXA_INFO << "frame width: " << m_CaptureWidth << ", height: " << m_CaptureHeight;
  m_CurrentImage->origin = 0;
}

void vexa::OpenCVVideoSource::UndistortCurrentFrameOnce()
{
  if (m_CurrentImageUndistorted)
    return;
  const cv::Size frameSize(m_CurrentImage->width, m_CurrentImage->height);
  if (m_UndistortImage->GetUndistortMapSize() != frameSize)
  {
    const float *p = m_UndistortionParameters;
    float distortion[4] = {p[4], p[5], p[6], p[7]};
    m_UndistortImage->SetUndistortImageFastInfo(p[0], p[1], p[2], p[3], distortion, static_cast<float>(frameSize.width),
                                                static_cast<float>(frameSize.height));
  }
  m_UndistortImage->UndistortImageFast(m_CurrentImage, nullptr);
  m_CurrentImageUndistorted = true;
}

void vexa::OpenCVVideoSource::PauseCapturing()
{
  if (!m_CapturePaused)
  {
    if (m_CurrentImage == nullptr)
      return;
    // The held copy carries what was already done to the frame (undistortion,
    // flips), so it is not processed a second time.
    cv::cvarrToMat(m_CurrentImage).copyTo(m_PauseImage);
    m_PauseImageHeader = cvIplImage(m_PauseImage);
    m_PauseImageHeader.origin = m_CurrentImage->origin;
    m_CurrentImage = &m_PauseImageHeader;
    m_CapturePaused = true;
  }
  else
  {
    m_CapturePaused = false;
    if (m_CurrentImage == &m_PauseImageHeader)
      m_CurrentImage = nullptr;
    m_PauseImage.release();
    m_PauseImageHeader = cvIplImage();
  }
}

const IplImage *vexa::OpenCVVideoSource::GetCurrentFrame() { return m_CurrentImage; }

void vexa::OpenCVVideoSource::GetCurrentFrameAsOpenCVImage(IplImage *image)
{
  if (m_CurrentImage == nullptr || image == nullptr)
    return;
  if (image->width != m_CurrentImage->width || image->height != m_CurrentImage->height ||
      image->depth != m_CurrentImage->depth || image->nChannels != m_CurrentImage->nChannels)
  {
    VEXA_WARN << "Cannot copy the current frame of " << m_CurrentImage->width << " x " << m_CurrentImage->height
              << " pixels with " << m_CurrentImage->nChannels << " channels into an image of " << image->width << " x "
              << image->height << " pixels with " << image->nChannels << " channels (or of another depth).";
    return;
  }
  image->origin = m_CurrentImage->origin;
  cv::Mat target = cv::cvarrToMat(image);
  cv::cvarrToMat(m_CurrentImage).copyTo(target); // same size and type: copied row by row into the image
}

cv::Mat vexa::OpenCVVideoSource::GetImage()
{
  cv::Mat copy;
  if (m_CurrentImage != nullptr)
    cv::cvarrToMat(m_CurrentImage).copyTo(copy);
  return copy;
}

unsigned char *vexa::OpenCVVideoSource::GetVideoTexture()
{
  static_cast<VideoSource *>(this)->FetchFrame();
  if ((m_FlipXAxisEnabled || m_FlipYAxisEnabled) && !m_CurrentImageFlipped)
  {
    m_CurrentImage = this->FlipImage(m_CurrentImage);
    m_CurrentImageFlipped = m_CurrentImage != nullptr;
  }
  this->UpdateVideoTexture();
  return m_CurrentVideoTexture.empty() ? nullptr : m_CurrentVideoTexture.data();
}

void vexa::OpenCVVideoSource::UpdateVideoTexture()
{
  if (m_CurrentImage == nullptr)
    return;
  const cv::Mat frame = cv::cvarrToMat(m_CurrentImage);
  if (frame.type() != CV_8UC3)
  {
    if (!m_TextureWarningGiven)
      VEXA_WARN << "No video texture for frames with " << frame.channels() << " channels of depth " << frame.depth()
                << ": the texture needs 8-bit frames with 3 channels.";
    m_TextureWarningGiven = true;
    return;
  }
  // Sized by the frame itself, so a frame of another size never writes past the buffer.
  m_CurrentVideoTexture.resize(frame.total() * 3);
  cv::Mat texture(frame.rows, frame.cols, CV_8UC3, m_CurrentVideoTexture.data());
  cv::cvtColor(frame, texture, cv::COLOR_BGR2RGB);
  cv::flip(texture, texture, 0); // rows run from the bottom of the frame to its top
}

IplImage *vexa::OpenCVVideoSource::FlipImage(IplImage *input)
{
  if (input == nullptr)
  {
    std::cout << "openCVVideoSource: Current video image is null! " << std::endl;
    return nullptr;
  }
  int flipCode;
  if (m_FlipXAxisEnabled && !m_FlipYAxisEnabled)
    flipCode = 0;
  else if (!m_FlipXAxisEnabled && m_FlipYAxisEnabled)
    flipCode = 1;
  else if (m_FlipXAxisEnabled && m_FlipYAxisEnabled)
    flipCode = -1;
  else
    return input;
  cv::Mat image = cv::cvarrToMat(input);
  cv::flip(image, image, flipCode);
  return input;
}

void vexa::OpenCVVideoSource::EnableOnlineImageUndistortion(vexa::Point<double, 3> focal,
                                                            vexa::Point<double, 3> principal,
                                                            vexa::Point<double, 4> distortion)
{
  // The new model gets the fields too (checks the focal length before
  // anything of this source changes); its maps follow with the first frame.
  UndistortCameraImage::Pointer undistorter = UndistortCameraImage::New();
  undistorter->SetFocalLength(static_cast<float>(focal[0]), static_cast<float>(focal[1]));
  undistorter->SetPrincipalPoint(static_cast<float>(principal[0]), static_cast<float>(principal[1]));
  undistorter->SetCameraDistortion(static_cast<float>(distortion[0]), static_cast<float>(distortion[1]),
                                   static_cast<float>(distortion[2]), static_cast<float>(distortion[3]));
  const float parameters[8] = {static_cast<float>(focal[0]),      static_cast<float>(focal[1]),
                               static_cast<float>(principal[0]),  static_cast<float>(principal[1]),
                               static_cast<float>(distortion[0]), static_cast<float>(distortion[1]),
                               static_cast<float>(distortion[2]), static_cast<float>(distortion[3])};
  std::copy(parameters, parameters + 8, m_UndistortionParameters);
  m_UndistortImage = undistorter;
  m_UseUndistortImage = true;
}

void vexa::OpenCVVideoSource::DisableOnlineImageUndistortion() { m_UseUndistortImage = false; }

bool vexa::OpenCVVideoSource::OnlineImageUndistortionEnabled() const { return m_UndistortImage.IsNotNull(); }

void vexa::OpenCVVideoSource::SetEnableXAxisFlip(bool enable)
{
  m_FlipXAxisEnabled = enable;
  this->Modified();
}

void vexa::OpenCVVideoSource::SetEnableYAxisFlip(bool enable)
{
  m_FlipYAxisEnabled = enable;
  this->Modified();
}

void vexa::OpenCVVideoSource::SetRepeatVideo(bool repeat)
{
  if (m_RepeatVideo != repeat)
  {
    m_RepeatVideo = repeat;
    this->Modified();
  }
}

void vexa::OpenCVVideoSource::GetCurrentFrameAsItkHSVPixelImage(HSVImageType::Pointer &Image)
{
  static_cast<VideoSource *>(this)->FetchFrame();
  if (m_CurrentImage == nullptr || Image.IsNull())
    return;
  const cv::Mat frame = cv::cvarrToMat(m_CurrentImage);
  const HSVImageType::RegionType region = Image->GetLargestPossibleRegion();
  const HSVImageType::SizeType size = region.GetSize();
  if (frame.type() != CV_8UC3 || size[0] != static_cast<itk::SizeValueType>(frame.cols) ||
      size[1] != static_cast<itk::SizeValueType>(frame.rows) || Image->GetBufferedRegion() != region ||
      Image->GetBufferPointer() == nullptr)
  {
    VEXA_WARN << "Cannot write the HSV values of a frame of " << frame.cols << " x " << frame.rows << " pixels with "
              << frame.channels() << " channels into an image of " << size[0] << " x " << size[1]
              << " pixels; it needs an allocated image of the frame's size and 8-bit colour frames.";
    return;
  }
  itk::ImageRegionIterator<HSVImageType> it(Image, region);
  for (int row = frame.rows - 1; row >= 0; --row)
  {
    const unsigned char *bgr = frame.ptr<unsigned char>(row);
    for (int col = 0; col < frame.cols; ++col, bgr += 3, ++it)
    {
      // Normalised before the conversion: it reads values above 1 as bytes,
      // which would take a byte value of 1 for full intensity.
      HSVPixelType hsv;
      this->RGBtoHSV(bgr[2] / 255.0f, bgr[1] / 255.0f, bgr[0] / 255.0f, hsv[0], hsv[1], hsv[2]);
      it.Set(hsv);
    }
  }
}

void vexa::OpenCVVideoSource::RGBtoHSV(float r, float g, float b, float &h, float &s, float &v)
{
  if (r > 1.0f)
    r = r / 255.0f;
  if (g > 1.0f)
    g = g / 255.0f;
  if (b > 1.0f)
    b = b / 255.0f;

  float max = r;
  int maxIndex = 0;
  if (g > max)
  {
    max = g;
    maxIndex = 1;
  }
  if (b > max)
  {
    max = b;
    maxIndex = 2;
  }
  const float min = std::min(r, std::min(g, b));

  v = max;
  if (max == 0.0f)
  {
    s = 0.0f;
    h = 0.0f;
    return;
  }
  const float delta = max - min;
  s = delta / max;
  if (s == 0.0f)
  {
    h = -1.0f;
    return;
  }
  if (maxIndex == 0)
    h = (g - b) / delta;
  else if (maxIndex == 1)
    h = 2.0f + (b - r) / delta;
  else
    h = 4.0f + (r - g) / delta;
  h *= 60.0f;
  if (h < 0.0f)
    h += 360.0f;
}

void vexa::OpenCVVideoSource::Reset()
{
  static_cast<VideoSource *>(this)->StopCapturing();
  m_FrameCount = 0;
  m_VideoCapture.reset();
  m_CurrentImage = nullptr;
  m_CaptureFrame.release();
  m_CaptureFrameHeader = cvIplImage();
  m_CaptureWidth = 0;
  m_CaptureHeight = 0;
  std::vector<unsigned char>().swap(m_CurrentVideoTexture);
  m_PauseImage.release();
  m_PauseImageHeader = cvIplImage();
  m_CapturePaused = false;
  m_VideoFileName.clear();
  m_GrabbingDeviceNumber = -1;
  m_CurrentImageUndistorted = false;
  m_CurrentImageFlipped = false;
  m_TextureWarningGiven = false;
}
