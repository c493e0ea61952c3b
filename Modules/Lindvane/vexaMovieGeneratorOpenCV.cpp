#include "vexaMovieGeneratorOpenCV.h"

#include <vexaLog.h>

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>

vexa::MovieGeneratorOpenCV::MovieGeneratorOpenCV() = default;

vexa::MovieGeneratorOpenCV::~MovieGeneratorOpenCV() { this->TerminateGenerator(); }

void vexa::MovieGeneratorOpenCV::SetFileName(const char *fileName) { m_sFile = fileName != nullptr ? fileName : ""; }

void vexa::MovieGeneratorOpenCV::SetFrameRate(unsigned int rate) { m_dwRate = rate; }

void vexa::MovieGeneratorOpenCV::SetFourCCCodec(const char *codec)
{
  m_HasFourCCCodec = codec != nullptr;
  if (codec != nullptr)
    std::copy(codec, codec + 4, m_FourCCCodec.begin());
}

int vexa::MovieGeneratorOpenCV::FourCCCode() const
{
  if (m_HasFourCCCodec)
    return cv::VideoWriter::fourcc(m_FourCCCodec[0], m_FourCCCodec[1], m_FourCCCodec[2], m_FourCCCodec[3]);

  // OpenCV's "let the library choose" (-1) fails on this platform; pick a
  // codec that the file's container takes.
  std::string extension;
  const std::string::size_type dot = m_sFile.find_last_of('.');
  const std::string::size_type slash = m_sFile.find_last_of("/\\");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    extension = m_sFile.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "mkv")
    return cv::VideoWriter::fourcc('F', 'F', 'V', '1');
  if (extension == "mp4" || extension == "m4v" || extension == "mov")
    return cv::VideoWriter::fourcc('m', 'p', '4', 'v');
  if (extension == "wmv")
    return cv::VideoWriter::fourcc('W', 'M', 'V', '2');
  return cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
}

bool vexa::MovieGeneratorOpenCV::InitGenerator()
{
  this->TerminateGenerator();
  if (m_Renderer == nullptr)
  {
    VEXA_ERROR << "Cannot open a movie without a renderer to film.";
    return false;
  }
  int size[2] = {0, 0};
  m_Renderer->GetRenderWindowSize(size);
  m_width = size[0];
  m_height = size[1];
  if (m_RemoveColouredFrame)
  {
    m_width -= 10;
    m_height -= 10;
  }
  // Whole groups of 4 pixels: a row is then 3 x width bytes without padding
  // in every image layout.
  m_width -= m_width % 4;
  m_height -= m_height % 4;
  if (m_width < 4 || m_height < 4)
  {
    VEXA_ERROR << "Movie frames of " << m_width << " x " << m_height
               << " pixels are too small: at least 4 x 4 pixels are needed.";
    return false;
  }

  auto writer = std::make_unique<cv::VideoWriter>();
  if (!writer->open(m_sFile, this->FourCCCode(), static_cast<double>(m_dwRate), cv::Size(m_width, m_height), true))
  {
    std::cout << "errors initializing video writer...correct video file path? on linux: ffmpeg must be included in "
                 "OpenCV.";
    return false;
  }
  m_aviWriter = std::move(writer);
  m_currentFrame.create(m_height, m_width, CV_8UC3);
  this->SetFrameSize(m_width, m_height);
  return true;
}

bool vexa::MovieGeneratorOpenCV::AddFrame(unsigned char *data)
{
  if (!m_aviWriter || data == nullptr)
    return false;
  // The frame arrives bottom row first; OpenCV writes the top row first.
  const size_t rowBytes = static_cast<size_t>(m_width) * 3;
  for (int row = 0; row < m_height; ++row)
    std::memcpy(m_currentFrame.ptr(m_height - 1 - row), data + row * rowBytes, rowBytes);
  m_aviWriter->write(m_currentFrame);
  return true;
}

bool vexa::MovieGeneratorOpenCV::TerminateGenerator()
{
  if (m_aviWriter)
  {
    m_aviWriter->release();
    m_aviWriter.reset();
  }
  m_currentFrame.release();
  return true;
}
