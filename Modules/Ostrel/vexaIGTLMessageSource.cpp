#include "vexaIGTLMessageSource.h"

#include "vexaIGTLDeviceSource.h"

#include <vexaUIDGenerator.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <exception>
#include <stdexcept>

namespace vexa
{
  // The keys are built from the interface name, and the device source's key
  // from it as well: defined here, in this order, in one translation unit, so
  // that each is made after the one it is built from.
  const std::string IGTLMessageSource::US_INTERFACE_NAME = "org.vexa.services.IGTLMessageSource";
  const std::string IGTLMessageSource::US_PROPKEY_DEVICENAME = US_INTERFACE_NAME + ".devicename";
  const std::string IGTLMessageSource::US_PROPKEY_DEVICETYPE = US_INTERFACE_NAME + ".devicetype";
  const std::string IGTLMessageSource::US_PROPKEY_ID = US_INTERFACE_NAME + ".id";
  const std::string IGTLMessageSource::US_PROPKEY_ISACTIVE = US_INTERFACE_NAME + ".isActive";
  const std::string IGTLDeviceSource::US_PROPKEY_IGTLDEVICENAME =
    IGTLMessageSource::US_INTERFACE_NAME + ".igtldevicename";

  namespace
  {
    /**
     * Taken by every look-up that turns a registry pointer into a reference,
     * and by the dropping of a source's last reference: a look-up either takes
     * its reference before the last one goes, or sees the source dying.
     */
    std::mutex &LookUpMutex()
    {
      static std::mutex mutex;
      return mutex;
    }
  }

  IGTLMessageSource::IGTLMessageSource()
    : m_Name("IGTLMessageSource (no defined type)"), m_Type("NONE"), m_FPS(0), m_Dying(false)
  {
  }

  IGTLMessageSource::~IGTLMessageSource()
  {
    // Normally done when the last reference went; this covers a source
    // destroyed without it. Then wait for a look-up that may still hold this
    // source's pointer from the registry: it sees m_Dying and lets go.
    {
      std::lock_guard<std::mutex> lock(LookUpMutex());
      m_Dying = true;
    }
    IGTLMessageSource::Withdraw();
    std::lock_guard<std::mutex> lock(LookUpMutex());
  }

  void IGTLMessageSource::Withdraw() noexcept { WithdrawRegistrations(); }

  void IGTLMessageSource::UnRegister() const noexcept
  {
    {
      std::lock_guard<std::mutex> lock(LookUpMutex());
      if (GetReferenceCount() > 1)
      {
        // Not the last reference: the count cannot reach zero here, since
        // every other UnRegister waits for this lock, so nothing is called out.
        Superclass::UnRegister();
        return;
      }
      m_Dying = true;
    }
    // The last reference: end every outside use while the source is whole, so
    // that neither the registry's listeners nor a device's threads ever reach
    // a half-destroyed object.
    const_cast<IGTLMessageSource *>(this)->Withdraw();
    Superclass::UnRegister();
  }

  IGTLMessageSource::Pointer IGTLMessageSource::AcquireRegisteredSource(const us::ServiceReferenceBase &reference)
  {
    try
    {
      std::lock_guard<std::mutex> lock(LookUpMutex());
      auto *source = static_cast<IGTLMessageSource *>(us::GetModuleContext()->GetService(reference));
      if (source == nullptr || source->m_Dying)
        return nullptr;
      return Pointer(source);
    }
    catch (const std::exception &e)
    {
      VEXA_WARN("IGTLMessageSource") << "Could not get a registered message source: " << e.what();
    }
    return nullptr;
  }

  void IGTLMessageSource::WithdrawRegistrations() noexcept
  {
    std::vector<us::ServiceRegistrationU> registrations;
    {
      std::lock_guard<std::mutex> lock(m_RegistrationsMutex);
      registrations.swap(m_Registrations);
    }
    for (us::ServiceRegistrationU &registration : registrations)
    {
      try
      {
        // The registry withdraws the services of a module that stops; such a
        // handle is no longer valid and needs nothing.
        if (registration)
          registration.Unregister();
      }
      catch (const std::exception &e)
      {
        VEXA_WARN("IGTLMessageSource") << "A message source could not withdraw its registration: " << e.what();
      }
      catch (...)
      {
        VEXA_WARN("IGTLMessageSource") << "A message source could not withdraw its registration";
      }
    }
  }

  void IGTLMessageSource::AddRegistration(const us::ServiceRegistrationU &registration)
  {
    std::lock_guard<std::mutex> lock(m_RegistrationsMutex);
    m_Registrations.push_back(registration);
    m_ServiceRegistration = registration;
  }

  IGTLMessage *IGTLMessageSource::GetOutput()
  {
    if (this->GetNumberOfIndexedOutputs() < 1)
    {
      VEXA_WARN << "IGTLMessageSource contained no outputs. Returning nullptr.";
      return nullptr;
    }
    return GetOutput(0);
  }

  IGTLMessage *IGTLMessageSource::GetOutput(DataObjectPointerArraySizeType idx)
  {
    // ITK reads past the end of its list for an index beyond the outputs.
    if (idx >= this->GetNumberOfIndexedOutputs())
      return nullptr;
    itk::DataObject *output = itk::ProcessObject::GetOutput(idx);
    auto *message = dynamic_cast<IGTLMessage *>(output);
    if (message == nullptr && output != nullptr)
    {
      itkWarningMacro(<< "Unable to convert output number " << idx << " to type "
                      << Internal::DemangledTypeName(typeid(IGTLMessage)));
    }
    return message;
  }

  IGTLMessage *IGTLMessageSource::GetOutput(const std::string &messageName)
  {
    // Indexed outputs in index order (ITK lists them in the order of their
    // names, "_10" before "_2"), then any named ones.
    for (DataObjectPointerArraySizeType i = 0; i < this->GetNumberOfIndexedOutputs(); ++i)
    {
      auto *message = dynamic_cast<IGTLMessage *>(itk::ProcessObject::GetOutput(i));
      if (message != nullptr && messageName == message->GetName())
        return message;
    }
    for (const itk::DataObject::Pointer &output : this->GetOutputs())
    {
      auto *message = dynamic_cast<IGTLMessage *>(output.GetPointer());
      if (message != nullptr && messageName == message->GetName())
        return message;
    }
    return nullptr;
  }

  itk::ProcessObject::DataObjectPointerArraySizeType IGTLMessageSource::GetOutputIndex(std::string messageName)
  {
    for (DataObjectPointerArraySizeType i = 0; i < this->GetNumberOfIndexedOutputs(); ++i)
    {
      auto *message = dynamic_cast<IGTLMessage *>(itk::ProcessObject::GetOutput(i));
      if (message != nullptr && messageName == message->GetName())
        return i;
    }
    throw std::invalid_argument("output name does not exist");
  }

  std::string IGTLMessageSource::GetName() const { return m_Name; }

  void IGTLMessageSource::SetName(std::string name)
  {
    if (name == m_Name)
      return;
    m_Name = name;
    Modified();
  }

  std::string IGTLMessageSource::GetType() const { return m_Type; }

  void IGTLMessageSource::SetType(std::string type)
  {
    if (type == m_Type)
      return;
    m_Type = type;
    Modified();
  }

  void IGTLMessageSource::RegisterAsMicroservice()
  {
    us::ModuleContext *context = us::GetModuleContext();
    us::ServiceProperties props;
    vexa::UIDGenerator uidGen("org.vexa.services.IGTLMessageSource.id_", 16);
    props[US_PROPKEY_ID] = uidGen.GetUID();
    props[US_PROPKEY_DEVICENAME] = m_Name;
    props[US_PROPKEY_DEVICETYPE] = m_Type;
    {
      std::lock_guard<std::mutex> lock(LookUpMutex());
      m_Dying = false; // a source that was revived and registered again can be found again
    }
    AddRegistration(context->RegisterService<IGTLMessageSource>(this, props));
  }

  void IGTLMessageSource::UnRegisterMicroservice()
  {
    us::ServiceRegistrationU registration;
    {
      std::lock_guard<std::mutex> lock(m_RegistrationsMutex);
      registration = m_ServiceRegistration;
      m_ServiceRegistration = us::ServiceRegistrationU();
      for (auto it = m_Registrations.begin(); it != m_Registrations.end(); ++it)
      {
        if (*it == registration)
        {
          m_Registrations.erase(it);
          break;
        }
      }
    }
    if (registration)
      registration.Unregister();
  }

  std::string IGTLMessageSource::GetMicroserviceID()
  {
    us::ServiceRegistrationU registration;
    {
      std::lock_guard<std::mutex> lock(m_RegistrationsMutex);
      registration = m_ServiceRegistration;
    }
    return registration.GetReference().GetProperty(US_PROPKEY_ID).ToString();
  }

  void IGTLMessageSource::GraftOutput(itk::DataObject *graft) { this->GraftNthOutput(0, graft); }

  void IGTLMessageSource::GraftNthOutput(unsigned int idx, itk::DataObject *graft)
  {
    if (idx >= this->GetNumberOfIndexedOutputs())
    {
      vexaItkExceptionMacro(<< "Requested to graft output " << idx << " but this filteronly has "
                            << this->GetNumberOfIndexedOutputs() << " Outputs.");
    }
    if (graft == nullptr)
      vexaItkExceptionMacro(<< "Requested to graft output with a nullptr pointer object");
    IGTLMessage *output = GetOutput(idx);
    if (output == nullptr)
      vexaItkExceptionMacro(<< "Requested to graft output that is a nullptr pointer");
    output->Graft(graft);
  }

  itk::DataObject::Pointer IGTLMessageSource::MakeOutput(DataObjectPointerArraySizeType /*idx*/)
  {
    return IGTLMessage::New().GetPointer();
  }

  itk::DataObject::Pointer IGTLMessageSource::MakeOutput(const DataObjectIdentifierType &name)
  {
    if (this->IsIndexedOutputName(name))
      return this->MakeOutput(this->MakeIndexFromOutputName(name));
    return IGTLMessage::New().GetPointer();
  }

  void IGTLMessageSource::SetParameters(const vexa::PropertyList *) {}

  vexa::PropertyList::ConstPointer IGTLMessageSource::GetParameters() const
  {
    vexa::PropertyList::ConstPointer empty = vexa::PropertyList::New().GetPointer();
    return empty;
  }

  unsigned int IGTLMessageSource::GetFPS()
  {
    std::lock_guard<std::mutex> lock(m_FPSMutex);
    return m_FPS;
  }

  void IGTLMessageSource::SetFPS(unsigned int fps)
  {
    std::lock_guard<std::mutex> lock(m_FPSMutex);
    m_FPS = fps;
  }

  IGTLMessageCommon::IGTLMessageCommon() = default;
  IGTLMessageCommon::~IGTLMessageCommon() = default;
}
