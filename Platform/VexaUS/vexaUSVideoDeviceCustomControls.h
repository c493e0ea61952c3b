#ifndef vexaUSVideoDeviceCustomControls_h
#define vexaUSVideoDeviceCustomControls_h

#include "vexaUSAbstractControlInterface.h"
#include "vexaUSImageVideoSource.h"
#include "vexaUSProbe.h"

#include <string>
#include <vector>

namespace vexa
{
  class USVideoDevice;

  /**
   * The custom controls of a video device: the cropping of its pictures, its
   * probes and the imaging depth. Changes show in the next picture. The
   * operations are virtual so that tests can stand in for a device.
   */
  class VEXAUS_EXPORT USVideoDeviceCustomControls : public USAbstractControlInterface
  {
  public:
    vexaClassMacro(USVideoDeviceCustomControls, USAbstractControlInterface);

    static Pointer New(USVideoDevice *device);

    /**
     * Crops the pictures. Throws vexa::Exception, changing nothing, when the
     * cropping leaves no pixel of the device's pictures.
     */
    virtual void SetCropArea(USImageVideoSource::USImageCropping newArea);
    /** The cropping of the current probe (that of the pictures when there is no probe). */
    virtual USProbe::USProbeCropping_ GetCropArea();
    /** Stores the cropping in the current probe (nothing without one). */
    virtual void UpdateProbeCropping(USImageVideoSource::USImageCropping newArea);

    /** The depth whose spacing the pictures get. */
    virtual void SetNewDepth(double depth);
    /** Makes the probe of that name current. */
    virtual void SetNewProbeIdentifier(std::string probename);
    virtual std::vector<USProbe::Pointer> GetProbes();
    /** The depths of the probe of that name, ascending; empty for an unknown name. */
    virtual std::vector<int> GetDepthsForProbe(std::string name);
    virtual void SetDefaultProbeAsCurrentProbe();

  protected:
    explicit USVideoDeviceCustomControls(USVideoDevice *device);
    ~USVideoDeviceCustomControls() override;

  private:
    USVideoDevice *VideoDevice() const;
  };
}

#endif
