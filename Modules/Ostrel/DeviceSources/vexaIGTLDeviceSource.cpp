#include "vexaIGTLDeviceSource.h"

#include <vexaException.h>
#include <vexaUIDGenerator.h>

#include <itkCommand.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <stdexcept>

namespace vexa
{
  namespace
  {
    const char *const NoDeviceText = "vexa::IGTLDeviceSource: No OpenIGTLink device set";
  }

  IGTLDeviceSource::IGTLDeviceSource()
    : m_IGTLDevice(nullptr), m_HasObservers(false), m_LostConnectionObserverTag(0), m_IncomingCommandObserverTag(0),
      m_IncomingMessageObserverTag(0)
  {
    this->SetName("IGTLDeviceSource (no defined type)");
  }

  IGTLDeviceSource::~IGTLDeviceSource()
  {
    // Already done when the last reference went; a no-op then.
    IGTLDeviceSource::Withdraw();
  }

  void IGTLDeviceSource::Withdraw() noexcept
  {
    if (m_IGTLDevice.IsNotNull())
    {
      // A source that goes takes its device's connection with it. Failures
      // are logged: nothing may leave here.
      try
      {
        if (m_IGTLDevice->GetState() == IGTLDevice::Running && !m_IGTLDevice->StopCommunication())
          VEXA_ERROR("IGTLDeviceSource") << "Could not stop the communication of " << m_IGTLDevice->GetName();
        if (m_IGTLDevice->GetState() == IGTLDevice::Ready && !m_IGTLDevice->CloseConnection())
          VEXA_ERROR("IGTLDeviceSource") << "Could not close the connection of " << m_IGTLDevice->GetName();
      }
      catch (const std::exception &e)
      {
        VEXA_ERROR("IGTLDeviceSource") << "Failure while disconnecting the device of a source that goes: " << e.what();
      }
      catch (...)
      {
        VEXA_ERROR("IGTLDeviceSource") << "Failure while disconnecting the device of a source that goes";
      }
      this->RemoveObservers();
    }
    IGTLMessageSource::Withdraw();
  }

  void IGTLDeviceSource::RemoveObservers()
  {
    if (m_IGTLDevice.IsNull() || !m_HasObservers)
      return;
    // The device waits for a handler of this source that runs on one of its
    // threads; from then on none is entered.
    m_IGTLDevice->RemoveObserver(m_IncomingMessageObserverTag);
    m_IGTLDevice->RemoveObserver(m_IncomingCommandObserverTag);
    m_IGTLDevice->RemoveObserver(m_LostConnectionObserverTag);
    m_HasObservers = false;
  }

  void IGTLDeviceSource::SetIGTLDevice(IGTLDevice *igtlDevice)
  {
    if (m_IGTLDevice.GetPointer() == igtlDevice)
      return;
    this->RemoveObservers();
    m_IGTLDevice = igtlDevice;
    this->CreateOutputs();
    if (m_IGTLDevice.IsNull())
      return; // detached: no output, no observers; the name stays

    std::stringstream name;
    name << "OIGTL Device Source ( " << m_IGTLDevice->GetName() << " )";
    this->SetName(name.str());

    typedef itk::SimpleMemberCommand<IGTLDeviceSource> DeviceSrcCommand;
    DeviceSrcCommand::Pointer messageReceivedCommand = DeviceSrcCommand::New();
    messageReceivedCommand->SetCallbackFunction(this, &IGTLDeviceSource::OnIncomingMessage);
    m_IncomingMessageObserverTag = m_IGTLDevice->AddObserver(MessageReceivedEvent(), messageReceivedCommand);

    DeviceSrcCommand::Pointer commandReceivedCommand = DeviceSrcCommand::New();
    commandReceivedCommand->SetCallbackFunction(this, &IGTLDeviceSource::OnIncomingCommand);
    m_IncomingCommandObserverTag = m_IGTLDevice->AddObserver(CommandReceivedEvent(), commandReceivedCommand);

    DeviceSrcCommand::Pointer connectionLostCommand = DeviceSrcCommand::New();
    connectionLostCommand->SetCallbackFunction(this, &IGTLDeviceSource::OnLostConnection);
    m_LostConnectionObserverTag = m_IGTLDevice->AddObserver(LostConnectionEvent(), connectionLostCommand);
    m_HasObservers = true;
  }

  IGTLDevice *IGTLDeviceSource::GetIGTLDevice() { return m_IGTLDevice.GetPointer(); }

  void IGTLDeviceSource::CreateOutputs()
  {
    if (this->GetNumberOfIndexedOutputs() > 0)
    {
      for (DataObjectPointerArraySizeType i = this->GetNumberOfIndexedOutputs(); i > 0; --i)
        this->RemoveOutput(i - 1);
      this->Modified();
    }
    if (m_IGTLDevice.IsNull())
      return;
    this->SetNumberOfIndexedOutputs(1);
    if (this->IGTLMessageSource::GetOutput(0) == nullptr)
    {
      itk::DataObject::Pointer newOutput = this->MakeOutput(0);
      this->SetNthOutput(0, newOutput);
      this->Modified();
    }
  }

  void IGTLDeviceSource::GenerateData()
  {
    if (m_IGTLDevice.IsNull())
      return;
    igtl::MessageBase::Pointer message = m_IGTLDevice->GetNextImage2dMessage().GetPointer();
    if (message.IsNotNull())
      SetOutputMessage(message);
  }

  void IGTLDeviceSource::SetOutputMessage(igtl::MessageBase::Pointer message)
  {
    IGTLMessage *output = this->IGTLMessageSource::GetOutput();
    if (output == nullptr || message.IsNull())
      return;
    output->SetMessage(message);
    output->SetName(message->GetDeviceName());
  }

  void IGTLDeviceSource::UpdateOutputInformation()
  {
    // Every update takes the next message, so the source is never up to date.
    this->Modified();
    Superclass::UpdateOutputInformation();
  }

  bool IGTLDeviceSource::IsConnected()
  {
    if (m_IGTLDevice.IsNull())
      return false;
    const IGTLDevice::IGTLDeviceState state = m_IGTLDevice->GetState();
    return state == IGTLDevice::Ready || state == IGTLDevice::Running;
  }

  bool IGTLDeviceSource::IsCommunicating()
  {
    return m_IGTLDevice.IsNotNull() && m_IGTLDevice->GetState() == IGTLDevice::Running;
  }

  void IGTLDeviceSource::Connect()
  {
    if (m_IGTLDevice.IsNull())
      throw std::invalid_argument(NoDeviceText);
    if (this->IsConnected())
      return;
    bool opened = false;
    try
    {
      opened = m_IGTLDevice->OpenConnection();
    }
    catch (const vexa::Exception &e)
    {
      throw std::runtime_error(std::string("vexa::IGTLDeviceSource: Could not openconnection to OpenIGTLink device. "
                                           "Error: ") +
                               e.GetDescription());
    }
    if (!opened)
    {
      // The device logged why (no port, unreachable host, ...).
      throw std::runtime_error("vexa::IGTLDeviceSource: Could not openconnection to OpenIGTLink device");
    }
  }

  void IGTLDeviceSource::Disconnect()
  {
    if (m_IGTLDevice.IsNull())
      throw std::invalid_argument(NoDeviceText);
    if (!m_IGTLDevice->CloseConnection())
      throw std::runtime_error("vexa::IGTLDeviceSource: Could not close connection to OpenIGTLink device");
  }

  void IGTLDeviceSource::StartCommunication()
  {
    if (m_IGTLDevice.IsNull())
      throw std::invalid_argument(NoDeviceText);
    if (m_IGTLDevice->GetState() == IGTLDevice::Running)
      return;
    if (!m_IGTLDevice->StartCommunication())
      throw std::runtime_error("vexa::IGTLDeviceSource: Could not start communication");
  }

  void IGTLDeviceSource::StopCommunication()
  {
    if (m_IGTLDevice.IsNull())
      throw std::invalid_argument(NoDeviceText);
    if (!m_IGTLDevice->StopCommunication())
      throw std::runtime_error("vexa::IGTLDeviceSource: Could not stop communicating");
  }

  void IGTLDeviceSource::RegisterAsMicroservice()
  {
    us::ModuleContext *context = us::GetModuleContext();
    vexa::UIDGenerator uidGen("org.vexa.services.IGTLDeviceSource.id_", 16);
    const std::string id = uidGen.GetUID();
    us::ServiceProperties props;
    props[US_PROPKEY_ID] = id;
    props[US_PROPKEY_DEVICENAME] = this->GetName();
    props[US_PROPKEY_IGTLDEVICENAME] = this->GetName();
    props[US_PROPKEY_DEVICETYPE] = m_Type;
    AddRegistration(context->RegisterService<IGTLDeviceSource>(this, props));
    VEXA_INFO << "Registered new DeviceSource as microservice: " << id;
  }

  void IGTLDeviceSource::OnIncomingMessage() {}
  void IGTLDeviceSource::OnIncomingCommand() {}
  void IGTLDeviceSource::OnLostConnection() {}

  void IGTLDeviceSource::SetInput(unsigned int idx, const IGTLMessage *msg)
  {
    if (msg == nullptr)
      this->RemoveInput(idx);
    else
      this->SetNthInput(idx, const_cast<IGTLMessage *>(msg));
  }

  const IGTLMessage *IGTLDeviceSource::GetInput() const
  {
    if (this->GetNumberOfInputs() < 1)
      return nullptr;
    return dynamic_cast<const IGTLMessage *>(this->ProcessObject::GetInput(0));
  }

  const IGTLMessage *IGTLDeviceSource::GetInput(unsigned int idx) const
  {
    if (this->GetNumberOfInputs() < 1)
      return nullptr;
    return dynamic_cast<const IGTLMessage *>(this->ProcessObject::GetInput(idx));
  }

  const IGTLMessage *IGTLDeviceSource::GetInput(std::string msgName) const
  {
    for (const itk::DataObject::Pointer &input : const_cast<IGTLDeviceSource *>(this)->GetInputs())
    {
      const auto *message = dynamic_cast<const IGTLMessage *>(input.GetPointer());
      if (message != nullptr && msgName == message->GetName())
        return message;
    }
    return nullptr;
  }

  itk::ProcessObject::DataObjectPointerArraySizeType IGTLDeviceSource::GetInputIndex(std::string msgName)
  {
    for (DataObjectPointerArraySizeType i = 0; i < this->GetNumberOfIndexedInputs(); ++i)
    {
      const auto *message = dynamic_cast<const IGTLMessage *>(this->ProcessObject::GetInput(i));
      if (message != nullptr && msgName == message->GetName())
        return i;
    }
    throw std::invalid_argument("output name does not exist");
  }
}
