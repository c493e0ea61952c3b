#include "vexaUSVideoDevice.h"
#include "vexaUSVideoDeviceCustomControls.h"

#include <vexaException.h>
#include <vexaLog.h>

#include <chrono>

namespace vexa
{
  namespace
  {
    // How long an input may deliver nothing before the device stops: longer
    // than a camera's hiccup, short enough for the user to be told soon.
    constexpr std::chrono::seconds kSourceLostAfter{2};

    /** The probes interface of a video device: its probe list and current probe. */
    class USVideoDeviceProbesControls : public USControlInterfaceProbes
    {
    public:
      vexaClassMacro(USVideoDeviceProbesControls, USControlInterfaceProbes);
      static Pointer New(USVideoDevice *device)
      {
        Pointer p = new USVideoDeviceProbesControls(device);
        p->UnRegister();
        return p;
      }

      std::vector<USProbe::Pointer> GetProbeList() override
      {
        USVideoDevice *device = static_cast<USVideoDevice *>(GetDevice());
        return device ? device->GetAllProbes() : std::vector<USProbe::Pointer>();
      }

      USProbe::Pointer GetSelectedProbe() override
      {
        USVideoDevice *device = static_cast<USVideoDevice *>(GetDevice());
        return device ? device->GetCurrentProbe() : nullptr;
      }

    protected:
      explicit USVideoDeviceProbesControls(USVideoDevice *device) : USControlInterfaceProbes(device) {}

      void OnSelectProbe(unsigned int index) override
      {
        USVideoDevice *device = static_cast<USVideoDevice *>(GetDevice());
        if (!device)
          return;
        const std::vector<USProbe::Pointer> probes = device->GetAllProbes();
        if (index < probes.size())
          device->SetCurrentProbe(probes[index]->GetName());
      }
    };

    USImageVideoSource::USImageCropping ToImageCropping(const USProbe::USProbeCropping_ &c)
    {
      USImageVideoSource::USImageCropping cropping;
      cropping.top = c.top;
      cropping.bottom = c.bottom;
      cropping.left = c.left;
      cropping.right = c.right;
      return cropping;
    }
  }

  USVideoDevice::Pointer USVideoDevice::New(int videoDeviceNumber, std::string manufacturer, std::string model)
  {
    Pointer p = new USVideoDevice(videoDeviceNumber, std::move(manufacturer), std::move(model));
    p->UnRegister();
    return p;
  }

  USVideoDevice::Pointer USVideoDevice::New(std::string videoFilePath, std::string manufacturer, std::string model)
  {
    Pointer p = new USVideoDevice(std::move(videoFilePath), std::move(manufacturer), std::move(model));
    p->UnRegister();
    return p;
  }

  USVideoDevice::USVideoDevice(int videoDeviceNumber, std::string manufacturer, std::string model)
    : USDevice(manufacturer, model), m_SourceIsFile(false), m_DeviceID(videoDeviceNumber)
  {
    Construct();
  }

  USVideoDevice::USVideoDevice(std::string videoFilePath, std::string manufacturer, std::string model)
    : USDevice(manufacturer, model), m_SourceIsFile(true), m_FilePath(std::move(videoFilePath)), m_DeviceID(-1)
  {
    Construct();
  }

  void USVideoDevice::Construct()
  {
    m_Source = USImageVideoSource::New();
    m_CustomControls = USVideoDeviceCustomControls::New(this);
    m_ProbesControls = USVideoDeviceProbesControls::New(this);
  }

  USVideoDevice::~USVideoDevice()
  {
    m_CustomControls->DetachDevice();
    m_ProbesControls->DetachDevice();
    StopAcquisition();
    m_Source->ReleaseInput();
  }

  std::string USVideoDevice::GetDeviceClassStatic() { return "org.vexa.modules.us.USVideoDevice"; }
  std::string USVideoDevice::GetDeviceClass() { return GetDeviceClassStatic(); }

  USControlInterfaceProbes::Pointer USVideoDevice::GetProbesControlInterface() { return m_ProbesControls; }

  USAbstractControlInterface::Pointer USVideoDevice::GetCustomControlInterface()
  {
    return m_CustomControls.GetPointer();
  }

  USImageSource::Pointer USVideoDevice::GetImageSource() { return m_Source.GetPointer(); }

  // ---- probes ----

  void USVideoDevice::AddNewProbe(USProbe::Pointer probe)
  {
    if (probe.IsNull())
      return;
    bool first = false;
    bool replacedCurrent = false;
    {
      std::lock_guard<std::mutex> lock(m_ProbesMutex);
      const std::string name = probe->GetName();
      bool replaced = false;
      for (USProbe::Pointer &existing : m_Probes)
      {
        if (existing->GetName() == name)
        {
          if (m_CurrentProbe == existing && existing != probe)
          {
            m_CurrentProbe = probe;
            replacedCurrent = true;
          }
          existing = probe;
          replaced = true;
          break;
        }
      }
      if (!replaced)
        m_Probes.push_back(probe);
      first = m_CurrentProbe.IsNull();
    }
    if (first)
      SetDefaultProbeAsCurrentProbe();
    else if (replacedCurrent)
      ApplyCurrentProbe(); // the new object's cropping
  }

  void USVideoDevice::DeleteAllProbes()
  {
    {
      std::lock_guard<std::mutex> lock(m_ProbesMutex);
      m_Probes.clear();
      m_CurrentProbe = nullptr;
    }
    m_Source->SetCropping(USImageVideoSource::USImageCropping());
    UpdateServiceProperty(GetPropertyKeys().US_PROPKEY_PROBES_SELECTED, std::string());
  }

  std::vector<USProbe::Pointer> USVideoDevice::GetAllProbes() const
  {
    std::lock_guard<std::mutex> lock(m_ProbesMutex);
    return m_Probes;
  }

  USProbe::Pointer USVideoDevice::GetProbeByName(const std::string &name) const
  {
    std::lock_guard<std::mutex> lock(m_ProbesMutex);
    for (const USProbe::Pointer &probe : m_Probes)
      if (probe->GetName() == name)
        return probe;
    return nullptr;
  }

  USProbe::Pointer USVideoDevice::GetCurrentProbe() const
  {
    std::lock_guard<std::mutex> lock(m_ProbesMutex);
    return m_CurrentProbe;
  }

  void USVideoDevice::SetCurrentProbe(const std::string &name)
  {
    USProbe::Pointer probe = GetProbeByName(name);
    if (probe.IsNull())
    {
      VEXA_WARN("USVideoDevice") << "The device \"" << GetName() << "\" has no probe \"" << name << "\".";
      return;
    }
    const std::map<int, Vector3D> depths = probe->GetDepthsAndSpacing();
    {
      std::lock_guard<std::mutex> lock(m_ProbesMutex);
      m_CurrentProbe = probe;
      m_CurrentDepth = depths.empty() ? 0.0 : depths.begin()->first;
    }
    ApplyCurrentProbe();
  }

  void USVideoDevice::SetDefaultProbeAsCurrentProbe()
  {
    USProbe::Pointer first;
    {
      std::lock_guard<std::mutex> lock(m_ProbesMutex);
      if (!m_Probes.empty())
        first = m_Probes.front();
    }
    if (first.IsNotNull())
      SetCurrentProbe(first->GetName());
  }

  void USVideoDevice::ApplyCurrentProbe()
  {
    USProbe::Pointer probe;
    double depth;
    {
      std::lock_guard<std::mutex> lock(m_ProbesMutex);
      probe = m_CurrentProbe;
      depth = m_CurrentDepth;
    }
    if (probe.IsNull())
      return;
    try
    {
      m_Source->SetCropping(ToImageCropping(probe->GetProbeCropping()));
    }
    catch (const Exception &e)
    {
      VEXA_WARN("USVideoDevice") << "The cropping of the probe \"" << probe->GetName()
                                 << "\" does not fit the pictures; they stay as they were cropped. "
                                 << e.GetDescription();
    }
    UpdateServiceProperty(GetPropertyKeys().US_PROPKEY_PROBES_SELECTED, probe->GetName());
    UpdateServiceProperty(GetPropertyKeys().US_PROPKEY_BMODE_DEPTH, depth);
  }

  void USVideoDevice::SetCurrentDepth(double depth)
  {
    {
      std::lock_guard<std::mutex> lock(m_ProbesMutex);
      m_CurrentDepth = depth;
    }
    UpdateServiceProperty(GetPropertyKeys().US_PROPKEY_BMODE_DEPTH, depth);
  }

  double USVideoDevice::GetCurrentDepth() const
  {
    std::lock_guard<std::mutex> lock(m_ProbesMutex);
    return m_CurrentDepth;
  }

  void USVideoDevice::SetFramePacing(bool paced) { m_FramePacing.store(paced); }

  // ---- life cycle ----

  bool USVideoDevice::OnInitialization() { return true; }

  bool USVideoDevice::OnConnection()
  {
    StopAcquisition(); // the thread of an acquisition that stopped by itself
    const bool opened = m_SourceIsFile ? m_Source->SetVideoFileInput(m_FilePath) : m_Source->SetCameraInput(m_DeviceID);
    if (opened)
      ApplyCurrentProbe(); // the cropping is checked against the real picture size now
    return opened;
  }

  bool USVideoDevice::OnDisconnection()
  {
    m_Source->ReleaseInput();
    return true;
  }

  bool USVideoDevice::OnActivation()
  {
    ApplyCurrentProbe(); // its cropping may have been edited since the connection
    StopAcquisition();
    m_StopAcquisition = false;
    try
    {
      m_Thread = std::thread([this] { Acquire(); });
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("USVideoDevice") << "Cannot start the acquisition thread: " << e.what();
      return false;
    }
    return true;
  }

  bool USVideoDevice::OnDeactivation()
  {
    StopAcquisition();
    return true;
  }

  void USVideoDevice::StopAcquisition()
  {
    if (!m_Thread.joinable())
      return;
    {
      std::lock_guard<std::mutex> lock(m_StopMutex);
      m_StopAcquisition = true;
    }
    m_StopCondition.notify_all();
    m_Thread.join();
  }

  void USVideoDevice::Acquire()
  {
    using Clock = std::chrono::steady_clock;
    USImageFrame frame;
    Clock::time_point next = Clock::now();
    Clock::time_point lastPicture = next;
    bool failureLogged = false;
    while (!m_StopAcquisition.load())
    {
      Clock::duration wait = Clock::duration::zero();
      if (m_Source->GetNextFrame(frame))
      {
        failureLogged = false;
        USProbe::Pointer probe;
        double depth;
        {
          std::lock_guard<std::mutex> lock(m_ProbesMutex);
          probe = m_CurrentProbe;
          depth = m_CurrentDepth;
        }
        if (probe.IsNotNull())
          frame.Spacing = probe->GetSpacingForGivenDepth(static_cast<int>(depth));
        else
          frame.Spacing.Fill(1.0);
        frame.Origin.Fill(0.0);
        HandOverFrame(0, frame);
        lastPicture = Clock::now();

        const double fps = m_Source->GetFramesPerSecond();
        if (m_SourceIsFile && m_FramePacing.load() && fps > 0.0)
        {
          const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
          next += period;
          const Clock::time_point now = Clock::now();
          if (next < now - period) // far behind (a slow consumer, a debugger): start afresh
            next = now;
          wait = next - now;
        }
      }
      else
      {
        // the input delivered nothing (a camera that stalls): try again shortly
        if (!failureLogged)
          VEXA_WARN("USVideoDevice") << "The device \"" << GetName() << "\" received no picture; retrying.";
        failureLogged = true;
        if (Clock::now() - lastPicture >= kSourceLostAfter)
        {
          // a camera unplugged, a file gone or cut short: the input has to be opened again
          const std::string why = m_Source->GetLastFailure();
          DeactivateFromAcquisition("no picture for " + std::to_string(kSourceLostAfter.count()) + " s" +
                                      (why.empty() ? std::string() : ": " + why),
                                    State_Initialized);
          return;
        }
        wait = std::chrono::milliseconds(20);
        next = Clock::now();
      }
      if (wait > Clock::duration::zero())
      {
        std::unique_lock<std::mutex> lock(m_StopMutex);
        m_StopCondition.wait_for(lock, wait, [this] { return m_StopAcquisition.load(); });
      }
    }
  }
}
