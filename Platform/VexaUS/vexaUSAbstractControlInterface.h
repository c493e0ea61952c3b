#ifndef vexaUSAbstractControlInterface_h
#define vexaUSAbstractControlInterface_h

#include "VexaUSExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <atomic>

namespace vexa
{
  class USDevice;

  /**
   * Base of the control interfaces a device offers its panels (B mode,
   * probes, Doppler, the device's own custom controls). An interface belongs
   * to its device, which detaches it when it is destroyed: a panel that still
   * holds the interface then talks to nothing (its calls do nothing and its
   * getters answer neutral values). Used from the GUI thread.
   */
  class VEXAUS_EXPORT USAbstractControlInterface : public itk::Object
  {
  public:
    vexaClassMacroItkParent(USAbstractControlInterface, itk::Object);

    /** Switches the interface on or off; an inactive interface is still usable. */
    virtual void SetIsActive(bool isActive);
    virtual bool GetIsActive();

    /** The device this interface controls, or null (fakes and detached interfaces). */
    USDevice *GetDevice() const { return m_Device.load(); }

    /** Called by the owning device before it goes away. */
    void DetachDevice() { m_Device.store(nullptr); }

  protected:
    explicit USAbstractControlInterface(USDevice *device);
    ~USAbstractControlInterface() override;

  private:
    std::atomic<USDevice *> m_Device;
    std::atomic<bool> m_IsActive{false};
  };
}

#endif
