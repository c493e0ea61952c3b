#include "vexaBeamformingSettings.h"
#include "vexaBeamformingKernel.h"

vexa::BeamformingSettings::~BeamformingSettings() = default;

vexa::BeamformingSettings::Pointer vexa::BeamformingSettings::New(float pitchInMeters,
                                                                  float speedOfSound,
                                                                  float timeSpacing,
                                                                  float angle,
                                                                  bool isPhotoacousticImage,
                                                                  unsigned int samplesPerLine,
                                                                  unsigned int reconstructionLines,
                                                                  const unsigned int *inputDim,
                                                                  float reconstructionDepth,
                                                                  bool useGPU,
                                                                  unsigned int GPUBatchSize,
                                                                  DelayCalc delayCalculationMethod,
                                                                  Apodization apod,
                                                                  unsigned int apodizationArraySize,
                                                                  BeamformingAlgorithm algorithm)
{
  Pointer s = new BeamformingSettings();
  s->UnRegister();
  s->m_PitchInMeters = pitchInMeters;
  s->m_SpeedOfSound = speedOfSound;
  s->m_TimeSpacing = timeSpacing;
  s->m_Angle = angle;
  s->m_IsPhotoacousticImage = isPhotoacousticImage;
  s->m_SamplesPerLine = samplesPerLine;
  s->m_ReconstructionLines = reconstructionLines;
  if (inputDim)
    for (int i = 0; i < 3; ++i)
      s->m_InputDim[i] = inputDim[i];
  s->m_ReconstructionDepth = reconstructionDepth;
  s->m_UseGPU = useGPU;
  s->m_GPUBatchSize = GPUBatchSize;
  s->m_DelayCalculationMethod = delayCalculationMethod;
  s->m_Apod = apod;
  s->m_ApodizationArraySize = apodizationArraySize;
  s->m_Algorithm = algorithm;
  if ((apod == Hamm || apod == Hann || apod == Box) && apodizationArraySize <= BeamformingKernel::MaxWindowSize)
    s->m_ApodizationFunction =
      BeamformingKernel::MakeWindow(static_cast<BeamformingKernel::Window>(apod), apodizationArraySize);
  return s;
}

void vexa::BeamformingSettings::PrintSelf(std::ostream &os, itk::Indent indent) const
{
  Superclass::PrintSelf(os, indent);
  os << indent << "PitchInMeters: " << m_PitchInMeters << "\n"
     << indent << "SpeedOfSound: " << m_SpeedOfSound << "\n"
     << indent << "TimeSpacing: " << m_TimeSpacing << "\n"
     << indent << "Angle: " << m_Angle << "\n"
     << indent << "IsPhotoacousticImage: " << m_IsPhotoacousticImage << "\n"
     << indent << "SamplesPerLine: " << m_SamplesPerLine << "\n"
     << indent << "ReconstructionLines: " << m_ReconstructionLines << "\n"
     << indent << "InputDim: " << m_InputDim[0] << " " << m_InputDim[1] << " " << m_InputDim[2] << "\n"
     << indent << "ReconstructionDepth: " << m_ReconstructionDepth << "\n"
     << indent << "UseGPU: " << m_UseGPU << "\n"
     << indent << "GPUBatchSize: " << m_GPUBatchSize << "\n"
     << indent << "DelayCalculationMethod: " << m_DelayCalculationMethod << "\n"
     << indent << "Apodization: " << m_Apod << "\n"
     << indent << "ApodizationArraySize: " << m_ApodizationArraySize << "\n"
     << indent << "Algorithm: " << m_Algorithm << "\n";
}
