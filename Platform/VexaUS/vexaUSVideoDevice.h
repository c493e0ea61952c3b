#ifndef vexaUSVideoDevice_h
#define vexaUSVideoDevice_h

#include "vexaUSDevice.h"
#include "vexaUSImageVideoSource.h"
#include "vexaUSProbe.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexa
{
  class USVideoDeviceCustomControls;

  /**
   * An ultrasound device whose pictures come from a video grabber (a camera
   * index) or a video file, which repeats at its end. One output. The pixel
   * spacing comes from the current probe at the current depth, the cropping
   * from the current probe.
   *
   * Connecting opens the input; activating starts the acquisition thread,
   * which reads a file at its own frame rate (a camera delivers at its own)
   * and hands every picture over to the output. An input that delivers no
   * picture for 2 s (a camera unplugged, a file cut short or gone with its
   * disk) stops the device: it is initialized then, with the stop reason
   * published, and connecting opens the input again.
   *
   * Control interfaces: probes and the video custom controls; no B mode and
   * no Doppler (there is no such hardware behind a grabber).
   */
  class VEXAUS_EXPORT USVideoDevice : public USDevice
  {
  public:
    vexaClassMacro(USVideoDevice, USDevice);

    /** A device on the camera with this index; the model becomes the name. */
    static Pointer New(int videoDeviceNumber, std::string manufacturer, std::string model);
    /** A device on a video file; the model becomes the name. */
    static Pointer New(std::string videoFilePath, std::string manufacturer, std::string model);

    /** "org.vexa.modules.us.USVideoDevice". */
    static std::string GetDeviceClassStatic();
    std::string GetDeviceClass() override;

    USControlInterfaceProbes::Pointer GetProbesControlInterface() override;
    USAbstractControlInterface::Pointer GetCustomControlInterface() override;
    /** The USImageVideoSource of the device. */
    USImageSource::Pointer GetImageSource() override;

    bool GetIsSourceFile() const { return m_SourceIsFile; }
    std::string GetFilePath() const { return m_FilePath; }
    int GetDeviceID() const { return m_DeviceID; }

    /** Adds a probe; a probe of the same name is replaced. The first probe becomes current. */
    void AddNewProbe(USProbe::Pointer probe);
    void DeleteAllProbes();
    /** The stored probe objects, in the order they were added. */
    std::vector<USProbe::Pointer> GetAllProbes() const;
    /** The probe of that name, or null. */
    USProbe::Pointer GetProbeByName(const std::string &name) const;
    /** The probe whose spacing and cropping the pictures get, or null. */
    USProbe::Pointer GetCurrentProbe() const;
    /** Makes the probe of that name current, with its smallest depth; unknown names are logged and ignored. */
    void SetCurrentProbe(const std::string &name);
    /** Makes the first probe current, with its smallest depth. */
    void SetDefaultProbeAsCurrentProbe();
    /** The imaging depth whose spacing the pictures get (mm); published as the fifteenth property. */
    void SetCurrentDepth(double depth);
    double GetCurrentDepth() const;

    /**
     * Reads a file at its frame rate (on by default); off, it reads as fast as
     * the file decodes (for measurements). Cameras set their own pace.
     */
    void SetFramePacing(bool paced);

  protected:
    USVideoDevice(int videoDeviceNumber, std::string manufacturer, std::string model);
    USVideoDevice(std::string videoFilePath, std::string manufacturer, std::string model);
    ~USVideoDevice() override;

    bool OnInitialization() override;
    bool OnConnection() override;
    bool OnDisconnection() override;
    bool OnActivation() override;
    bool OnDeactivation() override;

  private:
    void Construct();
    void Acquire();
    void StopAcquisition();
    /** Applies the current probe's cropping to the source and publishes the selection. */
    void ApplyCurrentProbe();

    const bool m_SourceIsFile;
    const std::string m_FilePath;
    const int m_DeviceID;

    USImageVideoSource::Pointer m_Source;
    itk::SmartPointer<USVideoDeviceCustomControls> m_CustomControls;
    USControlInterfaceProbes::Pointer m_ProbesControls;

    mutable std::mutex m_ProbesMutex; // probes, current probe, current depth
    std::vector<USProbe::Pointer> m_Probes;
    USProbe::Pointer m_CurrentProbe;
    double m_CurrentDepth = 0.0;

    std::thread m_Thread;
    std::atomic<bool> m_StopAcquisition{false};
    std::mutex m_StopMutex; // the thread waits between pictures on m_StopCondition
    std::condition_variable m_StopCondition;
    std::atomic<bool> m_FramePacing{true};
  };
}

#endif
