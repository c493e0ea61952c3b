#include "vexaUSVideoDeviceCustomControls.h"
#include "vexaUSVideoDevice.h"

namespace vexa
{
  USVideoDeviceCustomControls::Pointer USVideoDeviceCustomControls::New(USVideoDevice *device)
  {
    Pointer p = new USVideoDeviceCustomControls(device);
    p->UnRegister();
    return p;
  }

  USVideoDeviceCustomControls::USVideoDeviceCustomControls(USVideoDevice *device) : USAbstractControlInterface(device)
  {
  }

  USVideoDeviceCustomControls::~USVideoDeviceCustomControls() = default;

  USVideoDevice *USVideoDeviceCustomControls::VideoDevice() const { return static_cast<USVideoDevice *>(GetDevice()); }

  void USVideoDeviceCustomControls::SetCropArea(USImageVideoSource::USImageCropping newArea)
  {
    if (USVideoDevice *device = VideoDevice())
      static_cast<USImageVideoSource *>(device->GetImageSource().GetPointer())->SetCropping(newArea);
  }

  USProbe::USProbeCropping_ USVideoDeviceCustomControls::GetCropArea()
  {
    USProbe::USProbeCropping_ cropping;
    USVideoDevice *device = VideoDevice();
    if (!device)
      return cropping;
    if (USProbe::Pointer probe = device->GetCurrentProbe())
      return probe->GetProbeCropping();
    const USImageVideoSource::USImageCropping current =
      static_cast<USImageVideoSource *>(device->GetImageSource().GetPointer())->GetCropping();
    cropping.top = current.top;
    cropping.bottom = current.bottom;
    cropping.left = current.left;
    cropping.right = current.right;
    return cropping;
  }

  void USVideoDeviceCustomControls::UpdateProbeCropping(USImageVideoSource::USImageCropping newArea)
  {
    if (USVideoDevice *device = VideoDevice())
      if (USProbe::Pointer probe = device->GetCurrentProbe())
        probe->SetProbeCropping(newArea.top, newArea.bottom, newArea.left, newArea.right);
  }

  void USVideoDeviceCustomControls::SetNewDepth(double depth)
  {
    if (USVideoDevice *device = VideoDevice())
      device->SetCurrentDepth(depth);
  }

  void USVideoDeviceCustomControls::SetNewProbeIdentifier(std::string probename)
  {
    if (USVideoDevice *device = VideoDevice())
      device->SetCurrentProbe(probename);
  }

  std::vector<USProbe::Pointer> USVideoDeviceCustomControls::GetProbes()
  {
    USVideoDevice *device = VideoDevice();
    return device ? device->GetAllProbes() : std::vector<USProbe::Pointer>();
  }

  std::vector<int> USVideoDeviceCustomControls::GetDepthsForProbe(std::string name)
  {
    std::vector<int> depths;
    USVideoDevice *device = VideoDevice();
    if (!device)
      return depths;
    if (USProbe::Pointer probe = device->GetProbeByName(name))
      for (const auto &entry : probe->GetDepthsAndSpacing())
        depths.push_back(entry.first);
    return depths;
  }

  void USVideoDeviceCustomControls::SetDefaultProbeAsCurrentProbe()
  {
    if (USVideoDevice *device = VideoDevice())
      device->SetDefaultProbeAsCurrentProbe();
  }
}
