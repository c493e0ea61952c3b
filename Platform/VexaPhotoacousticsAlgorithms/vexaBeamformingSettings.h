#ifndef vexaBeamformingSettings_h
#define vexaBeamformingSettings_h

#include "VexaPhotoacousticsAlgorithmsExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <array>
#include <vector>

namespace vexa
{
  /**
   * The settings of one beamforming run, fixed when made. The values are
   * taken as given; ApplyBeamforming checks them against the image and
   * refuses what cannot give an image.
   */
  class VEXAPHOTOACOUSTICSALGORITHMS_EXPORT BeamformingSettings : public itk::Object
  {
  public:
    vexaClassMacroItkParent(BeamformingSettings, itk::Object);

    // fixed underlying types: any int a caller passes is a value, and is checked
    enum Apodization : int
    {
      Hamm = 0,
      Hann = 1,
      Box = 2
    };
    enum BeamformingAlgorithm : int
    {
      DMAS = 0,
      DAS = 1,
      sDMAS = 2
    };
    /** How the delays are computed; the exact spherical delay is the one available. */
    enum DelayCalc : int
    {
      QuadApprox = 0,
      Spherical = 1
    };

    /**
     * pitchInMeters: element pitch (m); speedOfSound (m/s); timeSpacing:
     * time between two input samples (s); angle: full field of view of one
     * element (degrees); isPhotoacousticImage: one-way delays when true,
     * pulse-echo when false; samplesPerLine and reconstructionLines: size of
     * the reconstructed frame; inputDim: the input image's sizes (the first
     * three are kept); reconstructionDepth (m); useGPU and GPUBatchSize (the
     * GPU is not available: beamforming runs on the CPU); delay calculation
     * method; apodization window and its number of points; algorithm.
     */
    static Pointer New(float pitchInMeters,
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
                       BeamformingAlgorithm algorithm);

    virtual float GetPitchInMeters() const { return m_PitchInMeters; }
    virtual float GetSpeedOfSound() const { return m_SpeedOfSound; }
    virtual float GetTimeSpacing() const { return m_TimeSpacing; }
    virtual float GetAngle() const { return m_Angle; }
    virtual bool GetIsPhotoacousticImage() const { return m_IsPhotoacousticImage; }
    /** The number of transducer elements: the input's first size. */
    virtual unsigned int GetTransducerElements() const { return m_InputDim[0]; }
    virtual unsigned int GetSamplesPerLine() const { return m_SamplesPerLine; }
    virtual unsigned int GetReconstructionLines() const { return m_ReconstructionLines; }
    /** The input image's first three sizes. */
    virtual const unsigned int *GetInputDim() const { return m_InputDim.data(); }
    virtual bool GetUseGPU() const { return m_UseGPU; }
    virtual unsigned int GetGPUBatchSize() const { return m_GPUBatchSize; }
    virtual DelayCalc GetDelayCalculationMethod() const { return m_DelayCalculationMethod; }
    /** The apodization window's points (GetApodizationArraySize of them). */
    virtual const float *GetApodizationFunction() const { return m_ApodizationFunction.data(); }
    virtual Apodization GetApod() const { return m_Apod; }
    virtual unsigned int GetApodizationArraySize() const { return m_ApodizationArraySize; }
    virtual BeamformingAlgorithm GetAlgorithm() const { return m_Algorithm; }
    virtual float GetReconstructionDepth() const { return m_ReconstructionDepth; }

  protected:
    BeamformingSettings() = default;
    ~BeamformingSettings() override;
    void PrintSelf(std::ostream &os, itk::Indent indent) const override;

  private:
    float m_PitchInMeters = 0;
    float m_SpeedOfSound = 0;
    float m_TimeSpacing = 0;
    float m_Angle = 0;
    bool m_IsPhotoacousticImage = true;
    unsigned int m_SamplesPerLine = 0;
    unsigned int m_ReconstructionLines = 0;
    std::array<unsigned int, 3> m_InputDim{{0, 0, 0}};
    float m_ReconstructionDepth = 0;
    bool m_UseGPU = false;
    unsigned int m_GPUBatchSize = 0;
    DelayCalc m_DelayCalculationMethod = Spherical;
    Apodization m_Apod = Box;
    unsigned int m_ApodizationArraySize = 0;
    BeamformingAlgorithm m_Algorithm = DAS;
    std::vector<float> m_ApodizationFunction;
  };
}

#endif
