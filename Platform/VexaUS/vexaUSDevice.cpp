#include "vexaUSDevice.h"

#include <vexaLog.h>
#include <vexaUIDGenerator.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <stdexcept>

namespace vexa
{
  namespace
  {
    const std::string kPrefix = "org.vexa.services.UltrasoundDevice.";

    const char *TrueFalse(bool value) { return value ? "true" : "false"; }

    std::string NewDeviceId()
    {
      UIDGenerator generator("USDevice_", 16);
      return generator.GetUID();
    }
  }

  USDevice::PropertyKeys::PropertyKeys()
    : US_INTERFACE_NAME("org.vexa.services.UltrasoundDevice"), US_PROPKEY_ID(kPrefix + "id"),
      US_PROPKEY_MANUFACTURER(kPrefix + "manufacturer"), US_PROPKEY_NAME(kPrefix + "name"),
      US_PROPKEY_COMMENT(kPrefix + "comment"), US_PROPKEY_DISPLAYNAME(kPrefix + "displayName"),
      US_PROPKEY_ISCONNECTED(kPrefix + "isConnected"), US_PROPKEY_ISACTIVE(kPrefix + "isActive"),
      US_PROPKEY_DEVICECLASS(kPrefix + "deviceClass"), US_PROPKEY_PROBES_SELECTED(kPrefix + "probes.selected"),
      US_PROPKEY_BMODE_FREQUENCY(kPrefix + "bmode.frequency"), US_PROPKEY_BMODE_POWER(kPrefix + "bmode.power"),
      US_PROPKEY_BMODE_DYNAMIC_RANGE(kPrefix + "bmode.dynamicRange"), US_PROPKEY_BMODE_GAIN(kPrefix + "bmode.gain"),
      US_PROPKEY_BMODE_REJECTION(kPrefix + "bmode.rejection"), US_PROPKEY_BMODE_DEPTH(kPrefix + "bmode.depth"),
      US_PROPKEY_STOP_REASON(kPrefix + "stopReason"), US_PROPKEY_LOST_CLIENT(kPrefix + "lostClient")
  {
  }

  const USDevice::PropertyKeys &USDevice::GetPropertyKeys()
  {
    static const PropertyKeys keys;
    return keys;
  }

  USDevice::USDevice(const std::string &manufacturer, const std::string &model)
    : m_Manufacturer(manufacturer), m_Name(model), m_Id(NewDeviceId())
  {
    const PropertyKeys &keys = GetPropertyKeys();
    m_ExtraProperties[keys.US_PROPKEY_PROBES_SELECTED] = std::string();
    m_ExtraProperties[keys.US_PROPKEY_LOST_CLIENT] = std::string();
    for (const std::string *key :
         {&keys.US_PROPKEY_BMODE_FREQUENCY, &keys.US_PROPKEY_BMODE_POWER, &keys.US_PROPKEY_BMODE_DYNAMIC_RANGE,
          &keys.US_PROPKEY_BMODE_GAIN, &keys.US_PROPKEY_BMODE_REJECTION, &keys.US_PROPKEY_BMODE_DEPTH})
      m_ExtraProperties[*key] = 0.0;
    EnsureSlots(1);
  }

  USDevice::~USDevice() = default;

  // ---- life cycle ----

  bool USDevice::Initialize()
  {
    if (GetDeviceState() != State_NoState)
    {
      VEXA_WARN("USDevice") << "Initialize: the device \"" << GetName() << "\" is initialised already.";
      return false;
    }
    if (!OnInitialization())
    {
      VEXA_ERROR("USDevice") << "Initialization of the device \"" << GetName() << "\" failed.";
      return false;
    }
    us::ServiceRegistration<USDevice> registration;
    const std::string deviceClass = GetDeviceClass();
    try
    {
      us::ServiceProperties properties;
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_DeviceState = State_Initialized;
        properties = BuildPropertiesLocked(deviceClass);
        m_Dirty = false; // what changes from here on is published below
      }
      // the registry tells its listeners before this returns: the state is set first
      registration = us::GetModuleContext()->RegisterService<USDevice>(this, properties);
    }
    catch (const std::exception &e)
    {
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_DeviceState = State_NoState;
      }
      VEXA_ERROR("USDevice") << "Registering the device \"" << GetName() << "\" failed: " << e.what();
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Registration = registration;
    }
    // the service keeps the device alive until UnregisterOnService
    this->Register();
    // values that changed while registering reach the registry too
    Publish();
    return true;
  }

  bool USDevice::Connect()
  {
    const DeviceStates state = GetDeviceState();
    if (state >= State_Connected)
      return true;
    if (state != State_Initialized)
    {
      VEXA_ERROR("USDevice") << "Cannot connect the device \"" << GetName()
                             << "\": it is not initialised (call Initialize first).";
      return false;
    }
    if (!OnConnection())
    {
      VEXA_ERROR("USDevice") << "Connecting the device \"" << GetName() << "\" failed.";
      return false;
    }
    SetState(State_Connected);
    return true;
  }

  bool USDevice::Disconnect()
  {
    if (GetIsActive())
      Deactivate();
    if (!GetIsConnected())
      return true;
    if (!OnDisconnection())
    {
      VEXA_ERROR("USDevice") << "Disconnecting the device \"" << GetName() << "\" failed.";
      return false;
    }
    SetState(State_Initialized);
    return true;
  }

  bool USDevice::Activate()
  {
    const DeviceStates state = GetDeviceState();
    if (state == State_Activated)
      return true;
    if (state != State_Connected)
    {
      VEXA_ERROR("USDevice") << "Cannot activate the device \"" << GetName() << "\": it is not connected.";
      return false;
    }
    DropPendingFrames();
    m_AcquiredPictures.store(0, std::memory_order_relaxed);
    if (!OnActivation())
    {
      VEXA_ERROR("USDevice") << "Activating the device \"" << GetName() << "\" failed.";
      return false;
    }
    {
      // published with the new state
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_StopReason.clear();
    }
    SetState(State_Activated);
    return true;
  }

  void USDevice::Deactivate()
  {
    if (!GetIsActive())
      return;
    if (!OnDeactivation())
      VEXA_WARN("USDevice") << "The device \"" << GetName() << "\" reported a failure while deactivating.";
    SetState(State_Connected);
  }

  void USDevice::DeactivateFromAcquisition(const std::string &reason, DeviceStates newState)
  {
    if (newState > State_Connected || newState < State_Initialized)
      newState = State_Connected;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (m_DeviceState != State_Activated)
        return;
      m_DeviceState = newState;
      m_StopReason = reason;
      m_Dirty = true;
    }
    VEXA_WARN("USDevice") << "The device \"" << GetName() << "\" stopped: " << reason;
    Publish();
  }

  void USDevice::UnregisterOnService()
  {
    if (GetIsActive())
      Deactivate();
    if (GetIsConnected())
      Disconnect();
    us::ServiceRegistration<USDevice> registration;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      registration = m_Registration;
      m_Registration = us::ServiceRegistration<USDevice>();
    }
    if (!registration)
      return;
    try
    {
      registration.Unregister();
    }
    catch (const std::exception &e)
    {
      VEXA_WARN("USDevice") << "Unregistering the device \"" << GetName() << "\": " << e.what();
    }
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_DeviceState = State_NoState;
    }
    // the reference taken by Initialize; may delete this device, so it is the last step
    this->UnRegister();
  }

  USDevice::DeviceStates USDevice::GetDeviceState() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_DeviceState;
  }

  std::string USDevice::GetStopReason() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_StopReason;
  }

  void USDevice::SetState(DeviceStates state)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (m_DeviceState == state)
        return;
      m_DeviceState = state;
      m_Dirty = true;
    }
    Publish();
  }

  void USDevice::SetIsFrozen(bool freeze)
  {
    if (m_IsFrozen.exchange(freeze) != freeze)
      OnFreeze(freeze);
  }

  bool USDevice::GetIsFrozen() const { return m_IsFrozen.load(); }

  void USDevice::OnFreeze(bool) {}

  // ---- identity and properties ----

  std::string USDevice::GetManufacturer() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Manufacturer;
  }

  std::string USDevice::GetName() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Name;
  }

  std::string USDevice::GetComment() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Comment;
  }

  void USDevice::SetManufacturer(const std::string &manufacturer)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (m_Manufacturer == manufacturer)
        return;
      m_Manufacturer = manufacturer;
      m_Dirty = true;
    }
    Publish();
  }

  void USDevice::SetName(const std::string &name)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (m_Name == name)
        return;
      m_Name = name;
      m_Dirty = true;
    }
    Publish();
  }

  void USDevice::SetComment(const std::string &comment)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (m_Comment == comment)
        return;
      m_Comment = comment;
      m_Dirty = true;
    }
    Publish();
  }

  void USDevice::UpdateServiceProperty(const std::string &key, const us::Any &value)
  {
    const PropertyKeys &keys = GetPropertyKeys();
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      auto found = m_ExtraProperties.find(key);
      if (found == m_ExtraProperties.end())
      {
        // names, state and class have their own setters; anything else is no key of a device
        VEXA_WARN("USDevice") << "UpdateServiceProperty: \"" << key << "\" is not a settable property of "
                              << keys.US_INTERFACE_NAME << ".";
        return;
      }
      if (found->second.ToString() == value.ToString())
        return;
      found->second = value;
      m_Dirty = true;
    }
    Publish();
  }

  us::ServiceProperties USDevice::GetServiceProperties() const
  {
    // asked outside the lock: a subclass's answer may use the device's getters
    const std::string deviceClass = const_cast<USDevice *>(this)->GetDeviceClass();
    std::lock_guard<std::mutex> lock(m_Mutex);
    return BuildPropertiesLocked(deviceClass);
  }

  us::ServiceProperties USDevice::BuildPropertiesLocked(const std::string &deviceClass) const
  {
    const PropertyKeys &keys = GetPropertyKeys();
    us::ServiceProperties properties = m_ExtraProperties;
    properties[keys.US_PROPKEY_ID] = m_Id;
    properties[keys.US_PROPKEY_MANUFACTURER] = m_Manufacturer;
    properties[keys.US_PROPKEY_NAME] = m_Name;
    properties[keys.US_PROPKEY_COMMENT] = m_Comment;
    properties[keys.US_PROPKEY_DISPLAYNAME] = m_Manufacturer + " " + m_Name;
    properties[keys.US_PROPKEY_ISCONNECTED] = std::string(TrueFalse(m_DeviceState >= State_Connected));
    properties[keys.US_PROPKEY_ISACTIVE] = std::string(TrueFalse(m_DeviceState >= State_Activated));
    properties[keys.US_PROPKEY_DEVICECLASS] = deviceClass;
    properties[keys.US_PROPKEY_STOP_REASON] = m_StopReason;
    return properties;
  }

  void USDevice::Publish()
  {
    const std::string deviceClass = GetDeviceClass();
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_Publishing)
    {
      // The publishing thread sees m_Dirty and publishes again. A listener
      // that changes a value from inside the publication does not wait for
      // itself; any other thread waits until its value has been published.
      if (m_Publisher == std::this_thread::get_id())
        return;
      const unsigned long target = m_PublishGeneration + 1;
      m_PublishDone.wait(lock, [&] { return !m_Publishing || m_PublishGeneration > target; });
      // Published by now. What changed since, a publisher still at work takes
      // along: a second one beside it could overtake it with older values.
      if (!m_Dirty || m_Publishing)
        return;
    }
    m_Publishing = true;
    m_Publisher = std::this_thread::get_id();
    // Not registered (yet): the changes stay marked, and Initialize publishes
    // them once the registration exists.
    while (m_Dirty && m_Registration)
    {
      m_Dirty = false;
      us::ServiceRegistration<USDevice> registration = m_Registration;
      us::ServiceProperties properties = BuildPropertiesLocked(deviceClass);
      lock.unlock();
      if (registration)
      {
        try
        {
          registration.SetProperties(properties);
        }
        catch (const std::exception &e)
        {
          // unregistered meanwhile: nobody listens any more
          VEXA_INFO("USDevice") << "Properties not published: " << e.what();
        }
      }
      lock.lock();
      ++m_PublishGeneration;
      m_PublishDone.notify_all();
    }
    m_Publishing = false;
    m_Publisher = std::thread::id();
    m_PublishDone.notify_all();
  }

  // ---- control interfaces ----

  USControlInterfaceBMode::Pointer USDevice::GetBModeControlInterface() { return nullptr; }
  USControlInterfaceProbes::Pointer USDevice::GetProbesControlInterface() { return nullptr; }
  USControlInterfaceDoppler::Pointer USDevice::GetDopplerControlInterface() { return nullptr; }
  USAbstractControlInterface::Pointer USDevice::GetCustomControlInterface() { return nullptr; }
  USImageSource::Pointer USDevice::GetImageSource() { return nullptr; }

  // ---- outputs and pictures ----

  bool USDevice::SetNumberOfImageOutputs(unsigned int count)
  {
    if (count < 1)
    {
      VEXA_WARN("USDevice") << "A device has at least one output; " << count << " refused.";
      return false;
    }
    if (GetIsActive())
    {
      VEXA_WARN("USDevice") << "The number of outputs of the active device \"" << GetName()
                            << "\" is fixed; deactivate it first.";
      return false;
    }
    const DataObjectPointerArraySizeType old = GetNumberOfIndexedOutputs();
    itk::ProcessObject::SetNumberOfIndexedOutputs(count);
    for (DataObjectPointerArraySizeType i = old; i < count; ++i)
      SetNthOutput(i, MakeOutput(i).GetPointer());
    EnsureSlots(count);
    return true;
  }

  void USDevice::EnsureSlots(std::size_t count)
  {
    std::lock_guard<std::mutex> lock(m_SlotsMutex);
    while (m_Slots.size() < count)
      m_Slots.push_back(std::make_unique<FrameSlot>());
    if (m_Front.size() < count)
      m_Front.resize(count);
  }

  void USDevice::HandOverFrame(unsigned int output, USImageFrame &frame)
  {
    FrameSlot *slot = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_SlotsMutex);
      if (output < m_Slots.size() && output < GetNumberOfIndexedOutputs())
        slot = m_Slots[output].get();
    }
    if (!slot)
      return;
    std::lock_guard<std::mutex> lock(slot->mutex);
    std::swap(slot->ready, frame);
    slot->fresh = true;
    m_AcquiredPictures.fetch_add(1, std::memory_order_relaxed);
  }

  void USDevice::DropPendingFrames()
  {
    std::lock_guard<std::mutex> lock(m_SlotsMutex);
    for (auto &slot : m_Slots)
    {
      std::lock_guard<std::mutex> slotLock(slot->mutex);
      slot->fresh = false;
    }
  }

  void USDevice::GenerateData()
  {
    if (m_IsFrozen.load())
      return;
    const DataObjectPointerArraySizeType outputs = GetNumberOfIndexedOutputs();
    for (DataObjectPointerArraySizeType i = 0; i < outputs; ++i)
    {
      FrameSlot *slot = nullptr;
      {
        std::lock_guard<std::mutex> lock(m_SlotsMutex);
        if (i < m_Slots.size())
          slot = m_Slots[i].get();
      }
      Image *output = GetOutput(i);
      if (!slot || !output)
        continue;
      bool fresh = false;
      {
        std::lock_guard<std::mutex> lock(slot->mutex);
        if (slot->fresh)
        {
          std::swap(slot->ready, m_Front[i]);
          slot->fresh = false;
          fresh = true;
        }
      }
      if (fresh)
      {
        m_Front[i].WriteInto(output);
        // pixels held for someone else (a received message) are given back
        // here, not on the acquisition thread that would reuse this frame
        if (m_Front[i].IsWrapped())
          m_Front[i].Clear();
      }
    }
  }

  void USDevice::Update()
  {
    try
    {
      Superclass::Update();
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("USDevice") << "Updating the device \"" << GetName() << "\" failed: " << e.what();
    }
    catch (...)
    {
      VEXA_ERROR("USDevice") << "Updating the device \"" << GetName() << "\" failed.";
    }
  }
}
