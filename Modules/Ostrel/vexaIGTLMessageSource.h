#ifndef vexaIGTLMessageSource_h
#define vexaIGTLMessageSource_h

#include "OstrelExports.h"
#include "vexaIGTLMessage.h"

#include <vexaCommon.h>
#include <vexaPropertyList.h>

#include <itkDataObject.h>
#include <itkProcessObject.h>

#include <usServiceInterface.h>
#include <usServiceReference.h>
#include <usServiceRegistration.h>

#include <mutex>
#include <string>
#include <vector>

namespace vexa
{
  /**
   * Base of the pipeline objects whose outputs are vexa::IGTLMessage: device
   * sources, the message provider and the image-to-message filter.
   *
   * A source has a name and a device type (the OpenIGTLink type of what it
   * produces, such as "IMAGE"). Registered as a micro-service
   * (RegisterAsMicroservice) it can be found by the message provider, which
   * looks for a source whose device type is what a peer asked for.
   *
   * The registry holds plain pointers. A source therefore withdraws every
   * registration it made before it goes away (when its last reference is
   * dropped, while it is still whole), and the registry's pointer is turned
   * into a reference only through AcquireRegisteredSource, which never
   * revives a source that is being destroyed.
   */
  class OSTREL_EXPORT IGTLMessageSource : public itk::ProcessObject
  {
  public:
    vexaClassMacroItkParent(IGTLMessageSource, itk::ProcessObject);

    /** "org.vexa.services.IGTLMessageSource": the interface id of registered sources. */
    static const std::string US_INTERFACE_NAME;
    static const std::string US_PROPKEY_DEVICENAME;
    static const std::string US_PROPKEY_DEVICETYPE;
    static const std::string US_PROPKEY_ID;
    static const std::string US_PROPKEY_ISACTIVE;

    /** The primary output, or null (with a warning) when the source has no output. */
    IGTLMessage *GetOutput();
    /** Output idx, or null when there is none at idx or it is not a vexa::IGTLMessage. */
    IGTLMessage *GetOutput(DataObjectPointerArraySizeType idx);
    /** The first output (in index order, then the named ones) whose name is `messageName`, or null. */
    IGTLMessage *GetOutput(const std::string &messageName);

    /** The index of the first indexed output named `messageName`; std::invalid_argument when there is none. */
    DataObjectPointerArraySizeType GetOutputIndex(std::string messageName);

    virtual std::string GetName() const;
    virtual void SetName(std::string name);
    virtual std::string GetType() const;
    virtual void SetType(std::string type);

    /**
     * Registers the source under US_INTERFACE_NAME with a new id, its name and
     * its device type (a snapshot: later changes of name or type do not
     * change the registration). Every call makes another registration.
     */
    virtual void RegisterAsMicroservice();

    /** Withdraws the most recent registration (when there is one). */
    virtual void UnRegisterMicroservice();

    /** The id of the most recent registration; std::logic_error when it is not registered. */
    std::string GetMicroserviceID();

    /** Lets output idx share the graft's message, valid flag, time stamp and name. */
    virtual void GraftNthOutput(unsigned int idx, itk::DataObject *graft);
    virtual void GraftOutput(itk::DataObject *graft);

    itk::DataObject::Pointer MakeOutput(DataObjectPointerArraySizeType idx) override;
    itk::DataObject::Pointer MakeOutput(const DataObjectIdentifierType &name) override;

    /** Sources take no parameters: nothing is done. */
    virtual void SetParameters(const vexa::PropertyList *);
    /** A new, empty list on every call. */
    virtual vexa::PropertyList::ConstPointer GetParameters() const;

    /** Frames per second wanted for streaming; kept for callers. */
    unsigned int GetFPS();
    void SetFPS(unsigned int fps);

    /**
     * A reference to the source registered behind `reference`, or null when
     * the service is gone or its source is being destroyed. Look-ups of
     * registered sources go through here.
     */
    static Pointer AcquireRegisteredSource(const us::ServiceReferenceBase &reference);

    /** Dropping the last reference calls Withdraw() before the source is destroyed (see the class comment). */
    void UnRegister() const noexcept override;

  protected:
    IGTLMessageSource();
    ~IGTLMessageSource() override;

    /** Keeps `registration` as the most recent one; every kept registration is withdrawn by Withdraw(). */
    void AddRegistration(const us::ServiceRegistrationU &registration);

    /**
     * Ends every use of the source from outside: here its registrations;
     * subclasses add their own (device observers, posted calls) and call this
     * one. Runs when the last reference is dropped, while the object is still
     * whole, so that no other thread calls into a half-destroyed source; and
     * again from the destructor, for safety. Must be idempotent and not throw.
     */
    virtual void Withdraw() noexcept;

    std::string m_Name;
    std::string m_Type;

    std::mutex m_FPSMutex; // guards m_FPS
    unsigned int m_FPS;

  private:
    void WithdrawRegistrations() noexcept;

    std::mutex m_RegistrationsMutex;                       // guards the two below
    us::ServiceRegistrationU m_ServiceRegistration;        // the most recent registration, or invalid
    std::vector<us::ServiceRegistrationU> m_Registrations; // every registration not yet withdrawn
    mutable bool m_Dying; // the last reference is being dropped; guarded by the look-up lock
  };

  /** A data object for pipelines of messages; holds nothing of its own. */
  class OSTREL_EXPORT IGTLMessageCommon : public itk::DataObject
  {
  public:
    vexaClassMacroItkParent(IGTLMessageCommon, itk::DataObject);
    vexaNewMacro(IGTLMessageCommon);

  protected:
    IGTLMessageCommon();
    ~IGTLMessageCommon() override;
  };
}

US_DECLARE_SERVICE_INTERFACE(vexa::IGTLMessageSource, "org.vexa.services.IGTLMessageSource")

#endif
