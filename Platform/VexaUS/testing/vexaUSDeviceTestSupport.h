#ifndef vexaUSDeviceTestSupport_h
#define vexaUSDeviceTestSupport_h

// Devices and control interfaces for tests of VexaUS and of the modules
// that use it (panels, device lists, views), where no ultrasound hardware
// exists: a device with any number of outputs whose pictures the test
// pushes (or that makes its own), whose steps fail on request; recording
// B-mode, probes and DiPhAS control interfaces; and a DiPhAS device.

#include <vexaUSDevice.h>
#include <vexaUSDiPhASDeviceCustomControls.h>

#include <vexaPixelTypeTraits.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vexa
{
  namespace test
  {
    /** A thread-safe list of the calls an interface received, as "Name value" texts. */
    class USCallRecord
    {
    public:
      void Add(const std::string &call)
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Calls.push_back(call);
      }
      std::vector<std::string> Calls() const
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Calls;
      }
      void Clear()
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Calls.clear();
      }

      template <class T>
      static std::string Text(const char *name, const T &value)
      {
        std::ostringstream stream;
        stream.imbue(std::locale::classic());
        stream << name << " " << value;
        return stream.str();
      }

    private:
      mutable std::mutex m_Mutex;
      std::vector<std::string> m_Calls;
    };

    /**
     * B-mode controls that record every setter ("SetScanningDepth 60") and
     * answer the values and ranges the test gives them.
     */
    class USTestBModeControls : public USControlInterfaceBMode
    {
    public:
      vexaClassMacro(USTestBModeControls, USControlInterfaceBMode);
      static Pointer New(USDevice *device = nullptr)
      {
        Pointer p = new USTestBModeControls(device);
        p->UnRegister();
        return p;
      }

      struct Range
      {
        double min = 0.0, max = 100.0, tick = 1.0, value = 50.0;
      };

      USCallRecord Record;
      std::vector<double> DepthValues{20.0, 40.0, 60.0};
      double Depth = 40.0;
      std::vector<double> FrequencyValues{5.0, 7.25, 10.0};
      double Frequency = 7.25;
      Range Power, Gain, Rejection{0.0, 32.0, 1.0, 0.0}, DynamicRange{20.0, 80.0, 1.0, 80.0};

      void SetIsActive(bool active) override
      {
        Record.Add(USCallRecord::Text("SetIsActive", active));
        USControlInterfaceBMode::SetIsActive(active);
      }

      double GetScanningDepth() override { return Depth; }
      std::vector<double> GetScanningDepthValues() override { return DepthValues; }
      double GetScanningFrequency() override { return Frequency; }
      std::vector<double> GetScanningFrequencyValues() override { return FrequencyValues; }
      double GetScanningPower() override { return Power.value; }
      double GetScanningPowerMin() override { return Power.min; }
      double GetScanningPowerMax() override { return Power.max; }
      double GetScanningPowerTickInterval() override { return Power.tick; }
      double GetScanningGain() override { return Gain.value; }
      double GetScanningGainMin() override { return Gain.min; }
      double GetScanningGainMax() override { return Gain.max; }
      double GetScanningGainTickInterval() override { return Gain.tick; }
      double GetScanningRejection() override { return Rejection.value; }
      double GetScanningRejectionMin() override { return Rejection.min; }
      double GetScanningRejectionMax() override { return Rejection.max; }
      double GetScanningRejectionTickInterval() override { return Rejection.tick; }
      double GetScanningDynamicRange() override { return DynamicRange.value; }
      double GetScanningDynamicRangeMin() override { return DynamicRange.min; }
      double GetScanningDynamicRangeMax() override { return DynamicRange.max; }
      double GetScanningDynamicRangeTickInterval() override { return DynamicRange.tick; }

    protected:
      explicit USTestBModeControls(USDevice *device) : USControlInterfaceBMode(device) {}

      void OnSetScanningDepth(double v) override
      {
        Depth = v;
        Record.Add(USCallRecord::Text("SetScanningDepth", v));
      }
      void OnSetScanningFrequency(double v) override
      {
        Frequency = v;
        Record.Add(USCallRecord::Text("SetScanningFrequency", v));
      }
      void OnSetScanningPower(double v) override
      {
        Power.value = v;
        Record.Add(USCallRecord::Text("SetScanningPower", v));
      }
      void OnSetScanningGain(double v) override
      {
        Gain.value = v;
        Record.Add(USCallRecord::Text("SetScanningGain", v));
      }
      void OnSetScanningRejection(double v) override
      {
        Rejection.value = v;
        Record.Add(USCallRecord::Text("SetScanningRejection", v));
      }
      void OnSetScanningDynamicRange(double v) override
      {
        DynamicRange.value = v;
        Record.Add(USCallRecord::Text("SetScanningDynamicRange", v));
      }
    };

    /** Probe controls over a list the test gives; record "SelectProbe 2" and "SetIsActive true". */
    class USTestProbesControls : public USControlInterfaceProbes
    {
    public:
      vexaClassMacro(USTestProbesControls, USControlInterfaceProbes);
      static Pointer New(USDevice *device = nullptr)
      {
        Pointer p = new USTestProbesControls(device);
        p->UnRegister();
        return p;
      }

      /** Probes named as given, without depths. */
      void SetProbeNames(const std::vector<std::string> &names)
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Probes.clear();
        for (const std::string &name : names)
          m_Probes.push_back(USProbe::New(name));
      }

      USCallRecord Record;

      void SetIsActive(bool active) override
      {
        Record.Add(USCallRecord::Text("SetIsActive", active));
        USControlInterfaceProbes::SetIsActive(active);
      }
      std::vector<USProbe::Pointer> GetProbeList() override
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Probes;
      }
      USProbe::Pointer GetSelectedProbe() override
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Selected < m_Probes.size() ? m_Probes[m_Selected] : nullptr;
      }

    protected:
      explicit USTestProbesControls(USDevice *device) : USControlInterfaceProbes(device) {}
      void OnSelectProbe(unsigned int index) override
      {
        {
          std::lock_guard<std::mutex> lock(m_Mutex);
          m_Selected = index;
        }
        Record.Add(USCallRecord::Text("SelectProbe", index));
      }

    private:
      std::mutex m_Mutex;
      std::vector<USProbe::Pointer> m_Probes;
      std::size_t m_Selected = static_cast<std::size_t>(-1);
    };

    /**
     * DiPhAS controls that record every setter as "SetVoltage 70" and every
     * application of the changes as "Apply"; ReportState plays the device's
     * state reports.
     */
    class USTestDiPhASControls : public USDiPhASDeviceCustomControls
    {
    public:
      vexaClassMacro(USTestDiPhASControls, USDiPhASDeviceCustomControls);
      static Pointer New(USDevice *device = nullptr)
      {
        Pointer p = new USTestDiPhASControls(device);
        p->UnRegister();
        return p;
      }

      USCallRecord Record;

      using USDiPhASDeviceCustomControls::ReportState;

    protected:
      explicit USTestDiPhASControls(USDevice *device) : USDiPhASDeviceCustomControls(device) {}
      void OnParameterChanged(const std::string &setter, const std::string &value) override
      {
        Record.Add(setter + " " + value);
      }
      void OnApplyParameters() override { Record.Add("Apply"); }
    };

    /**
     * A device without hardware. Its class, output count and control
     * interfaces are the test's choice; the test pushes pictures (from any
     * thread) or lets the device make its own while active. Every step can
     * be made to fail, and Update() to throw, on request.
     */
    class USTestDevice : public USDevice
    {
    public:
      vexaClassMacro(USTestDevice, USDevice);

      static Pointer New(unsigned int outputs = 1,
                         const std::string &manufacturer = "Test Manufacturer",
                         const std::string &model = "Test Model",
                         const std::string &deviceClass = "org.vexa.modules.us.USTestDevice")
      {
        Pointer p = new USTestDevice(outputs, manufacturer, model, deviceClass);
        p->UnRegister();
        return p;
      }

      std::string GetDeviceClass() override { return m_DeviceClass; }

      // Failures on request: the step returns false (logged by the device).
      std::atomic<bool> FailInitialization{false};
      std::atomic<bool> FailConnection{false};
      std::atomic<bool> FailActivation{false};
      std::atomic<bool> FailDeactivation{false};
      std::atomic<bool> FailDisconnection{false};
      /** Update() throws std::runtime_error("USTestDevice: update failed on request"). */
      std::atomic<bool> ThrowOnUpdate{false};

      /** Calls of the steps, in order ("OnConnection", ...). */
      USCallRecord Steps;

      void SetBModeControls(USControlInterfaceBMode::Pointer controls) { m_BMode = controls; }
      void SetProbesControls(USControlInterfaceProbes::Pointer controls) { m_Probes = controls; }
      void SetDopplerControls(USControlInterfaceDoppler::Pointer controls) { m_Doppler = controls; }
      void SetCustomControls(USAbstractControlInterface::Pointer controls) { m_Custom = controls; }

      USControlInterfaceBMode::Pointer GetBModeControlInterface() override { return m_BMode; }
      USControlInterfaceProbes::Pointer GetProbesControlInterface() override { return m_Probes; }
      USControlInterfaceDoppler::Pointer GetDopplerControlInterface() override { return m_Doppler; }
      USAbstractControlInterface::Pointer GetCustomControlInterface() override { return m_Custom; }

      /**
       * Hands a grey 8-bit picture to output `output`: every pixel is
       * `value`, spacing and origin as given. Any thread.
       */
      void PushFrame(unsigned int output,
                     unsigned int width,
                     unsigned int height,
                     unsigned char value,
                     double spacingX = 1.0,
                     double spacingY = 1.0,
                     double originX = 0.0,
                     double originY = 0.0)
      {
        USImageFrame frame;
        {
          std::lock_guard<std::mutex> lock(m_FrameMutex);
          std::swap(frame, m_Spare);
        }
        if (!frame.Reshape(CreateScalarPixelType<unsigned char>(), width, height))
          return;
        std::memset(frame.GetData(), value, frame.GetSizeInBytes());
        frame.Spacing[0] = spacingX;
        frame.Spacing[1] = spacingY;
        frame.Spacing[2] = 1.0;
        frame.Origin[0] = originX;
        frame.Origin[1] = originY;
        frame.Origin[2] = 0.0;
        HandOverFrame(output, frame);
        std::lock_guard<std::mutex> lock(m_FrameMutex);
        std::swap(frame, m_Spare);
      }

      /**
       * While active, the device itself pushes a picture of the given size to
       * every output each `interval` (pixel value = a counter); 0 switches this off.
       * Takes effect with the next activation.
       */
      void SetGeneratedFrames(std::chrono::milliseconds interval, unsigned int width = 64, unsigned int height = 48)
      {
        m_Interval = interval;
        m_Width = width;
        m_Height = height;
      }

      void Update() override
      {
        if (ThrowOnUpdate.load())
          throw std::runtime_error("USTestDevice: update failed on request");
        USDevice::Update();
      }

      using USDevice::SetNumberOfImageOutputs;

    protected:
      USTestDevice(unsigned int outputs,
                   const std::string &manufacturer,
                   const std::string &model,
                   const std::string &deviceClass)
        : USDevice(manufacturer, model), m_DeviceClass(deviceClass)
      {
        SetNumberOfImageOutputs(outputs);
      }

      ~USTestDevice() override
      {
        StopGenerating();
        for (USAbstractControlInterface *controls :
             {static_cast<USAbstractControlInterface *>(m_BMode.GetPointer()),
              static_cast<USAbstractControlInterface *>(m_Probes.GetPointer()),
              static_cast<USAbstractControlInterface *>(m_Doppler.GetPointer()), m_Custom.GetPointer()})
          if (controls && controls->GetDevice() == this)
            controls->DetachDevice();
      }

      bool Step(const char *name, const std::atomic<bool> &fail)
      {
        Steps.Add(name);
        return !fail.load();
      }

      bool OnInitialization() override { return Step("OnInitialization", FailInitialization); }
      bool OnConnection() override { return Step("OnConnection", FailConnection); }
      bool OnDisconnection() override { return Step("OnDisconnection", FailDisconnection); }
      bool OnActivation() override
      {
        if (!Step("OnActivation", FailActivation))
          return false;
        if (m_Interval.count() > 0)
        {
          m_Stop = false;
          m_Thread = std::thread([this] { Generate(); });
        }
        return true;
      }
      bool OnDeactivation() override
      {
        StopGenerating();
        return Step("OnDeactivation", FailDeactivation);
      }

    private:
      void Generate()
      {
        unsigned char counter = 0;
        const unsigned int outputs = static_cast<unsigned int>(GetNumberOfIndexedOutputs());
        while (!m_Stop.load())
        {
          ++counter;
          for (unsigned int i = 0; i < outputs; ++i)
            PushFrame(i, m_Width, m_Height, counter);
          std::unique_lock<std::mutex> lock(m_StopMutex);
          m_StopSignal.wait_for(lock, m_Interval, [this] { return m_Stop.load(); });
        }
      }

      void StopGenerating()
      {
        {
          std::lock_guard<std::mutex> lock(m_StopMutex);
          m_Stop = true;
        }
        m_StopSignal.notify_all();
        if (m_Thread.joinable())
          m_Thread.join();
      }

      const std::string m_DeviceClass;
      USControlInterfaceBMode::Pointer m_BMode;
      USControlInterfaceProbes::Pointer m_Probes;
      USControlInterfaceDoppler::Pointer m_Doppler;
      USAbstractControlInterface::Pointer m_Custom;

      std::mutex m_FrameMutex;
      USImageFrame m_Spare;

      std::chrono::milliseconds m_Interval{0};
      unsigned int m_Width = 64;
      unsigned int m_Height = 48;
      std::thread m_Thread;
      std::atomic<bool> m_Stop{false};
      std::mutex m_StopMutex;
      std::condition_variable m_StopSignal;
    };

    /**
     * A DiPhAS device (class "org.vexa.modules.us.USDiPhASDevice") without
     * hardware: its custom controls record what the panel sends; it also
     * offers the recording B-mode and probes interfaces.
     */
    class USTestDiPhASDevice : public USTestDevice
    {
    public:
      vexaClassMacro(USTestDiPhASDevice, USTestDevice);
      static Pointer New(const std::string &manufacturer = "DiPhAS", const std::string &model = "Research")
      {
        Pointer p = new USTestDiPhASDevice(manufacturer, model);
        p->UnRegister();
        return p;
      }

      USTestDiPhASControls *GetDiPhASControls() { return m_DiPhAS; }
      USTestBModeControls *GetTestBModeControls() { return m_BModeFake; }
      USTestProbesControls *GetTestProbesControls() { return m_ProbesFake; }

    protected:
      USTestDiPhASDevice(const std::string &manufacturer, const std::string &model)
        : USTestDevice(1, manufacturer, model, "org.vexa.modules.us.USDiPhASDevice"),
          m_DiPhAS(USTestDiPhASControls::New(this)), m_BModeFake(USTestBModeControls::New(this)),
          m_ProbesFake(USTestProbesControls::New(this))
      {
        SetCustomControls(m_DiPhAS.GetPointer());
        SetBModeControls(m_BModeFake.GetPointer());
        SetProbesControls(m_ProbesFake.GetPointer());
      }

    private:
      USTestDiPhASControls::Pointer m_DiPhAS;
      USTestBModeControls::Pointer m_BModeFake;
      USTestProbesControls::Pointer m_ProbesFake;
    };

    /** Every ultrasound device registered now, as the calling binary's module context sees them. */
    inline std::vector<USDevice::Pointer> RegisteredUSDevices()
    {
      us::ModuleContext *context = us::GetModuleContext();
      std::vector<USDevice::Pointer> devices;
      for (const auto &reference : context->GetServiceReferences<USDevice>())
      {
        if (USDevice *device = context->GetService(reference))
        {
          devices.push_back(device);
          context->UngetService(reference);
        }
      }
      return devices;
    }
  }
}

#endif
