#ifndef vexaIGTLDeviceSource_h
#define vexaIGTLDeviceSource_h

#include "OstrelExports.h"
#include "vexaIGTLDevice.h"
#include "vexaIGTLMessageSource.h"

#include <vexaCommon.h>

#include <string>

namespace vexa
{
  /**
   * A message source fed by one OpenIGTLink device: every Update() moves the
   * oldest waiting message of the source's kind (here 2-D images) from the
   * device's queue into the one output. Connect, Disconnect,
   * StartCommunication and StopCommunication wrap the device's life cycle and
   * report failures with standard exceptions.
   *
   *   vexa::IGTLClient::Pointer client = vexa::IGTLClient::New(true);
   *   client->SetHostname("127.0.0.1");
   *   client->SetPortNumber(18944);
   *   vexa::IGTL2DImageDeviceSource::Pointer source = vexa::IGTL2DImageDeviceSource::New();
   *   source->SetIGTLDevice(client);
   *   source->Connect();
   *   source->StartCommunication();
   *   ... source->Update(); source->GetOutput() ...
   *
   * The source watches three events of its device (message received,
   * command received, connection lost) through the virtual handlers
   * OnIncomingMessage, OnIncomingCommand and OnLostConnection, which run on
   * the device's receiving thread. The device's observer list is safe against
   * observers added and removed while its threads fire events, and once an
   * observer is removed its handler is not entered again.
   *
   * A source being destroyed stops and disconnects a device it is connected to.
   */
  class OSTREL_EXPORT IGTLDeviceSource : public IGTLMessageSource
  {
  public:
    vexaClassMacro(IGTLDeviceSource, IGTLMessageSource);
    vexaNewMacro(IGTLDeviceSource);

    /** The property that names the source's device in its registration. */
    static const std::string US_PROPKEY_IGTLDEVICENAME;

    /**
     * Registers the source under its own class's interface id
     * ("vexa::IGTLDeviceSource"), not under the message-source interface:
     * device sources are not what the message provider serves.
     */
    void RegisterAsMicroservice() override;

    /**
     * Feeds the source from `device`: the observers move from the old device
     * to the new one, the output is made anew, and the source is named after
     * the device. Null detaches the source (no output, no observers).
     */
    virtual void SetIGTLDevice(vexa::IGTLDevice *device);
    virtual vexa::IGTLDevice *GetIGTLDevice();

    /** True when the device is Ready or Running. */
    virtual bool IsConnected();
    /** True when the device is Running. */
    virtual bool IsCommunicating();

    /**
     * Opens the device's connection (nothing when it is connected already).
     * std::invalid_argument without a device; std::runtime_error when the
     * connection cannot be opened.
     */
    void Connect();
    /** Closes the connection; std::invalid_argument without a device, std::runtime_error on failure. */
    void Disconnect();
    /** Starts the device's threads (nothing when they run); std::invalid_argument, std::runtime_error. */
    void StartCommunication();
    /** Stops the device's threads; std::invalid_argument, std::runtime_error. */
    void StopCommunication();

    /** Marks the source modified, so that every Update() takes the next message. */
    void UpdateOutputInformation() override;

  protected:
    IGTLDeviceSource();
    ~IGTLDeviceSource() override;

    /** Stops and disconnects a connected device and removes the observers; then the message source's part. */
    void Withdraw() noexcept override;

    /** Takes the next message of the source's kind from the device into the output. */
    void GenerateData() override;

    /** Hands `message` to the primary output (and its name with it). */
    void SetOutputMessage(igtl::MessageBase::Pointer message);

    virtual void OnIncomingMessage();
    virtual void OnIncomingCommand();
    virtual void OnLostConnection();

    /** Removes this source's observers from its device (when it has any there). */
    virtual void RemoveObservers();

    /** Input idx becomes `msg`; null removes input idx. */
    virtual void SetInput(unsigned int idx, const IGTLMessage *msg);

    /** One output when a device is set, none otherwise. */
    void CreateOutputs();

    const IGTLMessage *GetInput() const;
    const IGTLMessage *GetInput(unsigned int idx) const;
    const IGTLMessage *GetInput(std::string msgName) const;
    /** The index of the first indexed input named `msgName`; std::invalid_argument when there is none. */
    DataObjectPointerArraySizeType GetInputIndex(std::string msgName);

    IGTLDevice::Pointer m_IGTLDevice;

  private:
    bool m_HasObservers;
    unsigned long m_LostConnectionObserverTag;
    unsigned long m_IncomingCommandObserverTag;
    unsigned long m_IncomingMessageObserverTag;
  };
}

#endif
