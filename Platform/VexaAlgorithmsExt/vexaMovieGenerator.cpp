#include "vexaMovieGenerator.h"

vexa::MovieGenerator::Renderer::~Renderer() = default;

vexa::MovieGenerator::Stepper::~Stepper() = default;

vexa::MovieGenerator::MovieGenerator() = default;

vexa::MovieGenerator::~MovieGenerator() = default;

void vexa::MovieGenerator::SetStepper(Stepper *stepper) { m_Stepper = stepper; }

void vexa::MovieGenerator::SetRenderer(Renderer *renderer) { m_Renderer = renderer; }

void vexa::MovieGenerator::SetFrameSize(int width, int height)
{
  m_FrameWidth = width > 0 ? width : 0;
  m_FrameHeight = height > 0 ? height : 0;
}

bool vexa::MovieGenerator::AddCurrentPicture()
{
  if (m_Renderer == nullptr || m_FrameWidth == 0 || m_FrameHeight == 0)
    return false;
  int window[2] = {0, 0};
  m_Renderer->GetRenderWindowSize(window);
  if (window[0] < m_FrameWidth || window[1] < m_FrameHeight)
    return false;
  // A frame smaller than the window is taken from its middle, so that a
  // border left out by the generator is cut evenly on both sides.
  const int x = (window[0] - m_FrameWidth) / 2;
  const int y = (window[1] - m_FrameHeight) / 2;
  m_FrameBuffer.resize(static_cast<size_t>(m_FrameWidth) * static_cast<size_t>(m_FrameHeight) * 3);
  m_Renderer->ReadPixels(x, y, m_FrameWidth, m_FrameHeight, m_FrameBuffer.data());
  return this->AddFrame(m_FrameBuffer.data());
}

bool vexa::MovieGenerator::WriteMovie()
{
  if (m_Renderer == nullptr || m_Stepper == nullptr)
    return false;
  if (!this->InitGenerator())
    return false;
  bool ok = true;
  const unsigned int steps = m_Stepper->GetNumberOfSteps();
  for (unsigned int step = 0; step < steps && ok; ++step)
  {
    m_Stepper->SetStep(step);
    ok = this->AddCurrentPicture();
  }
  return this->TerminateGenerator() && ok;
}

bool vexa::MovieGenerator::WriteCurrentFrameToMovie()
{
  if (m_Renderer == nullptr)
    return false;
  if (!m_WriterOpenForSingleFrames)
  {
    if (!this->InitGenerator())
      return false;
    m_WriterOpenForSingleFrames = true;
  }
  return this->AddCurrentPicture();
}

void vexa::MovieGenerator::ReleaseMovieWriter()
{
  if (m_WriterOpenForSingleFrames)
  {
    this->TerminateGenerator();
    m_WriterOpenForSingleFrames = false;
  }
}
