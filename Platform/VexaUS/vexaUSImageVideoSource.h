#ifndef vexaUSImageVideoSource_h
#define vexaUSImageVideoSource_h

#include "vexaUSImageSource.h"

#include <vexaOpenCVVideoSource.h>

#include <opencv2/core.hpp>

#include <cstdint>
#include <mutex>
#include <string>

namespace vexa
{
  /**
   * Pictures of a camera or a video file (which repeats at its end) through
   * Lindvane's video source: optionally scaled to a set resolution, then
   * cropped, then delivered as grey (8-bit) or colour pictures. Colour frames
   * keep OpenCV's blue-green-red order, marked as such, and reach a device's
   * output as 8-bit RGB (the swap happens in the copy to the output).
   *
   * The input is opened and closed while no acquisition runs; GetNextFrame
   * belongs to the acquisition thread. The settings (colour, resolution,
   * cropping) may change on any thread at any time and take effect with the
   * next picture.
   */
  class VEXAUS_EXPORT USImageVideoSource : public USImageSource
  {
  public:
    vexaClassMacro(USImageVideoSource, USImageSource);
    vexaNewMacro(USImageVideoSource);

    /** Pixels cut away at each edge of the picture. */
    struct USImageCropping
    {
      std::uint32_t top = 0;
      std::uint32_t bottom = 0;
      std::uint32_t left = 0;
      std::uint32_t right = 0;
    };

    /** Opens a video file that repeats at its end; false, logged, when it cannot be opened. */
    bool SetVideoFileInput(const std::string &path);
    /** Opens a camera by its index; false, logged, when it cannot be opened. */
    bool SetCameraInput(int deviceIndex);
    /** Closes the input. */
    void ReleaseInput();
    /** True while an input is open. */
    bool GetIsReady() const;

    /** Colour (RGB) or grey pictures; grey by default. */
    void SetColorOutput(bool color);
    bool GetColorOutput() const;
    bool GetIsGreyscale() const { return !GetColorOutput(); }

    /** The size every picture is scaled to while the override is enabled. */
    void OverrideResolution(int width, int height);
    void EnableResolutionOverride(bool enable);
    bool GetResolutionOverride() const;
    int GetResolutionOverrideWidth() const;
    int GetResolutionOverrideHeight() const;

    /**
     * The cropping of every picture. Throws vexa::Exception, changing
     * nothing, when it would leave no pixel of the input's pictures (checked
     * once the picture size is known).
     */
    void SetCropping(const USImageCropping &cropping);
    USImageCropping GetCropping() const;

    /** Size of the input's pictures after scaling, before cropping; 0 while unknown. */
    int GetImageWidth() const;
    int GetImageHeight() const;
    /** Frames per second the input announces; 0 when it announces none (cameras). */
    double GetFramesPerSecond() const;

    bool GetNextFrame(USImageFrame &frame) override;
    /**
     * Why the last GetNextFrame gave no picture; "" after a picture. A
     * failure that repeats the one before is not logged again.
     */
    std::string GetLastFailure() const;

    /** The video source underneath. */
    OpenCVVideoSource *GetVideoSource() const { return m_VideoSource; }

  protected:
    USImageVideoSource();
    ~USImageVideoSource() override;

  private:
    struct Settings
    {
      bool color = false;
      bool overrideResolution = false;
      int overrideWidth = 0;
      int overrideHeight = 0;
      USImageCropping cropping;
    };
    Settings GetSettings() const;
    static bool CroppingFits(const USImageCropping &cropping, int width, int height);

    OpenCVVideoSource::Pointer m_VideoSource;

    mutable std::mutex m_Mutex; // settings and picture size
    Settings m_Settings;
    int m_InputWidth = 0;
    int m_InputHeight = 0;
    double m_FramesPerSecond = 0.0;
    bool m_IsReady = false;
    bool m_CropWarningGiven = false;
    std::string m_LastFailure;

    cv::Mat m_Scaled; // scaling target, reused
  };
}

#endif
