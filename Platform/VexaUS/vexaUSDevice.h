#ifndef vexaUSDevice_h
#define vexaUSDevice_h

#include "VexaUSExports.h"
#include "vexaUSControlInterfaceBMode.h"
#include "vexaUSControlInterfaceDoppler.h"
#include "vexaUSControlInterfaceProbes.h"
#include "vexaUSImageFrame.h"
#include "vexaUSImageSource.h"

#include <vexaCommon.h>
#include <vexaImageSource.h>

#include <usServiceInterface.h>
#include <usServiceProperties.h>
#include <usServiceRegistration.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexa
{
  /**
   * An ultrasound device: an image source whose outputs are the pictures the
   * device acquires, and a micro-service under
   * "org.vexa.services.UltrasoundDevice" that device lists find.
   *
   * Life cycle (GetDeviceState):
   *
   *   created (0) --Initialize--> initialized (1) --Connect--> connected (2)
   *   --Activate--> active (3); Deactivate, Disconnect and UnregisterOnService
   *   lead back. Disconnect of an active device deactivates it first;
   *   UnregisterOnService deactivates and disconnects first.
   *
   * Initialize registers the service and keeps the device alive (one
   * reference) until UnregisterOnService withdraws it. Every change of a
   * published value (names, comment, state, selected probe, B-mode values)
   * re-publishes the properties, which the registry reports as MODIFIED;
   * is-active is published as the text "true" or "false" before Activate and
   * Deactivate return. A device that stops by itself (its source went away)
   * publishes why, with its new state, under the stop-reason key; the next
   * activation clears it. A server device whose last client went away
   * publishes that client under the lost-client key until the next one comes.
   *
   * Pictures are acquired on the device's own thread (or a network thread)
   * and handed over with HandOverFrame. Modified() then Update() (GUI thread)
   * puts the newest picture of every output into that output without waiting
   * for the device: an output stays empty until its first picture arrived,
   * keeps its picture while nothing new came, and every picture sets the
   * output's whole geometry (size, spacing, origin). The output image keeps
   * its memory from picture to picture while the size holds. A frozen device
   * delivers nothing new. Real devices never throw from Update(); failures
   * are logged.
   *
   * The number of outputs is fixed once the device is active.
   *
   * Threads: the life-cycle calls, the setters and Update belong to one
   * thread at a time (usually the GUI thread); a device may deactivate itself
   * from its acquisition or network thread when it loses its source. State
   * and properties are guarded by the device; no lock is held while the
   * registry tells its listeners. One thread publishes at a time: a change
   * made while another thread publishes waits until its value is published
   * (so a listener must not wait for a thread that changes the device; a
   * listener's own changes do not wait).
   */
  class VEXAUS_EXPORT USDevice : public ImageSource
  {
  public:
    vexaClassMacro(USDevice, ImageSource);

    enum DeviceStates
    {
      State_NoState = 0,
      State_Initialized = 1,
      State_Connected = 2,
      State_Activated = 3
    };

    /**
     * The keys of the service properties, in this order; each is
     * "org.vexa.services.UltrasoundDevice." followed by its name.
     */
    struct VEXAUS_EXPORT PropertyKeys
    {
      PropertyKeys();
      const std::string US_INTERFACE_NAME; ///< the interface id itself, not a property

      const std::string US_PROPKEY_ID;                  ///< 1: a unique text per device object
      const std::string US_PROPKEY_MANUFACTURER;        ///< 2
      const std::string US_PROPKEY_NAME;                ///< 3
      const std::string US_PROPKEY_COMMENT;             ///< 4
      const std::string US_PROPKEY_DISPLAYNAME;         ///< 5: "<manufacturer> <name>", the list text
      const std::string US_PROPKEY_ISCONNECTED;         ///< 6: "true" or "false"
      const std::string US_PROPKEY_ISACTIVE;            ///< 7: "true" or "false"
      const std::string US_PROPKEY_DEVICECLASS;         ///< 8
      const std::string US_PROPKEY_PROBES_SELECTED;     ///< 9: name of the selected probe, or ""
      const std::string US_PROPKEY_BMODE_FREQUENCY;     ///< 10: double
      const std::string US_PROPKEY_BMODE_POWER;         ///< 11: double
      const std::string US_PROPKEY_BMODE_DYNAMIC_RANGE; ///< 12: double
      const std::string US_PROPKEY_BMODE_GAIN;          ///< 13: double
      const std::string US_PROPKEY_BMODE_REJECTION;     ///< 14: double
      const std::string US_PROPKEY_BMODE_DEPTH;         ///< 15: double, the current imaging depth in mm
      /**
       * 16: why the device stopped by itself (the text it logged), "" while
       * it runs, before its first activation and after every activation
       */
      const std::string US_PROPKEY_STOP_REASON;
      /**
       * 17: the client ("address:port") that went away from an active server
       * device and left it without clients, "" while it has a client and
       * whenever the device is not active
       */
      const std::string US_PROPKEY_LOST_CLIENT;
    };

    /** The one key record. */
    static const PropertyKeys &GetPropertyKeys();

    // ---- life cycle ----

    /** Registers the service (from created only); false, logged, otherwise or when the device refuses. */
    bool Initialize();
    /** From initialized: connects to the hardware, file or peer; true when connected (also when it was). */
    bool Connect();
    /** Deactivates an active device first; true when the device is (now) not connected. */
    bool Disconnect();
    /** From connected: starts acquisition; true when active (also when it was). */
    bool Activate();
    /** Stops acquisition; the device stays connected. */
    void Deactivate();
    /** Deactivates, disconnects and withdraws the service; releases the reference Initialize took. */
    void UnregisterOnService();

    DeviceStates GetDeviceState() const;
    /** Why the device stopped by itself; "" unless it did since its last activation. */
    std::string GetStopReason() const;
    bool GetIsInitialized() const { return GetDeviceState() >= State_Initialized; }
    bool GetIsConnected() const { return GetDeviceState() >= State_Connected; }
    bool GetIsActive() const { return GetDeviceState() >= State_Activated; }

    /**
     * Any thread: how many pictures the device's acquisition has handed over
     * since its last activation (frozen or not; 0 from Activate on). A watcher
     * that sees the number stand still knows that the source delivers
     * nothing new.
     */
    std::uint64_t GetNumberOfAcquiredPictures() const { return m_AcquiredPictures.load(std::memory_order_relaxed); }

    /** A frozen device hands over no new pictures until it is unfrozen. */
    virtual void SetIsFrozen(bool freeze);
    virtual bool GetIsFrozen() const;

    // ---- identity ----

    std::string GetManufacturer() const;
    void SetManufacturer(const std::string &manufacturer);
    std::string GetName() const;
    void SetName(const std::string &name);
    std::string GetComment() const;
    void SetComment(const std::string &comment);
    /** The device class, e.g. "org.vexa.modules.us.USVideoDevice". */
    virtual std::string GetDeviceClass() = 0;

    /** The properties as published (or as they would be before Initialize). */
    us::ServiceProperties GetServiceProperties() const;
    /** Changes one published value and re-publishes; keys of GetPropertyKeys() only. */
    void UpdateServiceProperty(const std::string &key, const us::Any &value);

    // ---- control interfaces (null when the device has none) ----

    virtual USControlInterfaceBMode::Pointer GetBModeControlInterface();
    virtual USControlInterfaceProbes::Pointer GetProbesControlInterface();
    virtual USControlInterfaceDoppler::Pointer GetDopplerControlInterface();
    /** The device's own panel interface (video or DiPhAS controls, ...). */
    virtual USAbstractControlInterface::Pointer GetCustomControlInterface();

    /** The acquisition source of the device, or null. */
    virtual USImageSource::Pointer GetImageSource();

    // ---- image source ----

    /** Runs the pipeline update; real devices never throw from it (failures are logged). */
    void Update() override;

  protected:
    USDevice(const std::string &manufacturer, const std::string &model);
    ~USDevice() override;

    // Steps of the life cycle, called on the caller's thread with no lock held.
    // Each returns false (after logging why) to refuse the change.
    virtual bool OnInitialization() = 0;
    virtual bool OnConnection() = 0;
    virtual bool OnDisconnection() = 0;
    virtual bool OnActivation() = 0;
    virtual bool OnDeactivation() = 0;
    virtual void OnFreeze(bool freeze);

    /**
     * Any thread: makes `frame` the newest picture of output `output` (not yet
     * handed over). `frame` receives in exchange a buffer no longer needed, to
     * be refilled, so acquisition allocates nothing at steady state. Pictures
     * for outputs beyond the count are dropped.
     */
    void HandOverFrame(unsigned int output, USImageFrame &frame);

    /** Drops pictures not yet handed over (a new acquisition starts). */
    void DropPendingFrames();

    /** Moves the newest pictures into the outputs (see the class comment). */
    void GenerateData() override;

    /**
     * For a device whose source went away, on any thread (a server that
     * closed the connection, a video that delivers no more pictures): an
     * active device takes `newState` (connected, or initialized when the
     * connection is gone too), logs "The device "<name>" stopped: <reason>"
     * as a warning and publishes is-active "false" together with `reason`.
     * No step (OnDeactivation, OnDisconnection) runs: the device cleans up
     * its source itself, at the latest with its next OnConnection. Does
     * nothing for a device that is not active.
     */
    void DeactivateFromAcquisition(const std::string &reason, DeviceStates newState = State_Connected);

    /**
     * Sets the number of image outputs (at least 1); refused, logged, once the
     * device is active: the count is fixed then.
     */
    bool SetNumberOfImageOutputs(unsigned int count);

  private:
    struct FrameSlot
    {
      std::mutex mutex;
      USImageFrame ready;
      bool fresh = false;
    };

    void SetState(DeviceStates state);
    void Publish();
    us::ServiceProperties BuildPropertiesLocked(const std::string &deviceClass) const;
    void EnsureSlots(std::size_t count);

    mutable std::mutex m_Mutex; // state, identity, properties, registration
    DeviceStates m_DeviceState = State_NoState;
    std::string m_Manufacturer;
    std::string m_Name;
    std::string m_Comment;
    std::string m_StopReason;
    us::ServiceProperties m_ExtraProperties; // the values of keys 9 to 15 and 17
    us::ServiceRegistration<USDevice> m_Registration;
    const std::string m_Id;

    // Publication: one thread publishes at a time and repeats while values
    // changed meanwhile, so the registry ends with the newest values and no
    // lock is held while it calls its listeners.
    std::condition_variable m_PublishDone;
    bool m_Dirty = false;
    bool m_Publishing = false;
    std::thread::id m_Publisher;
    unsigned long m_PublishGeneration = 0;

    std::atomic<bool> m_IsFrozen{false};
    std::atomic<std::uint64_t> m_AcquiredPictures{0};

    std::mutex m_SlotsMutex; // the slot list itself (slots are made, never removed, before activation)
    std::vector<std::unique_ptr<FrameSlot>> m_Slots;
    std::vector<USImageFrame> m_Front; // GUI side: the picture being written into an output
  };
}

US_DECLARE_SERVICE_INTERFACE(vexa::USDevice, "org.vexa.services.UltrasoundDevice")

#endif
