#include "vexaVideoSource.h"

vexa::VideoSource::VideoSource() = default;

vexa::VideoSource::~VideoSource() = default;

void vexa::VideoSource::StartCapturing() { m_CapturingInProcess = true; }

void vexa::VideoSource::StopCapturing()
{
  m_CapturingInProcess = false;
  m_CapturePaused = false;
}

bool vexa::VideoSource::IsCapturingEnabled() const { return m_CapturingInProcess; }

int vexa::VideoSource::GetImageWidth() { return m_CaptureWidth; }

int vexa::VideoSource::GetImageHeight() { return m_CaptureHeight; }

int vexa::VideoSource::GetFrameCount() const { return m_FrameCount; }

bool vexa::VideoSource::GetCapturePaused() const { return m_CapturePaused; }

void vexa::VideoSource::PauseCapturing() { m_CapturePaused = !m_CapturePaused; }
