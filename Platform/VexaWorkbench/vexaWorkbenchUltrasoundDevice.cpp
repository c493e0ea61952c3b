#include "vexaWorkbenchUltrasoundDevice.h"

#include <vexaUSDeviceReaderXML.h>
#include <vexaUSImageVideoSource.h>
#include <vexaUSVideoDevice.h>

#include <vexaLog.h>

#include <exception>

namespace vexa
{
  USDevice::Pointer StartUltrasoundDevice(const QString &configuration, QString *error)
  {
    USDeviceReaderXML reader;
    reader.SetFilename(configuration.toStdString());
    if (!reader.ReadUltrasoundDeviceConfiguration())
    {
      *error = "cannot read the device configuration " + configuration;
      return nullptr;
    }
    const USDeviceReaderXML::USVideoDeviceConfigData_ &config = reader.GetUSVideoDeviceConfigData();
    if (config.deviceType != "video")
    {
      *error = QString("%1 describes a device of type \"%2\"; only video devices can be opened")
                 .arg(configuration, QString::fromStdString(config.deviceType));
      return nullptr;
    }

    USVideoDevice::Pointer device;
    try
    {
      device = config.filePath.empty() ? USVideoDevice::New(config.deviceIndex, config.manufacturer, config.model)
                                       : USVideoDevice::New(config.filePath, config.manufacturer, config.model);
      device->SetComment(config.comment);
      for (const USProbe::Pointer &probe : config.probes)
        device->AddNewProbe(probe);
      if (auto source = dynamic_cast<USImageVideoSource *>(device->GetImageSource().GetPointer()))
      {
        source->SetColorOutput(!config.useGreyscale);
        source->OverrideResolution(config.resolutionWidth, config.resolutionHeight);
        source->EnableResolutionOverride(config.useResolutionOverride);
      }
      if (!device->Initialize())
        *error = "the device could not be initialised";
      else if (!device->Connect())
        *error = "the device could not be connected (is the file or camera there?)";
      else if (!device->Activate())
        *error = "the device could not be activated";
    }
    catch (const std::exception &e)
    {
      *error = QString("the device failed: ") + e.what();
    }
    if (!error->isEmpty())
    {
      *error = configuration + ": " + *error;
      if (device)
        StopUltrasoundDevice(device);
      return nullptr;
    }
    VEXA_INFO << "Ultrasound device " << config.manufacturer << " " << config.model << " active";
    return device.GetPointer();
  }

  void StopUltrasoundDevice(USDevice *device)
  {
    if (!device)
      return;
    try
    {
      if (device->GetIsActive())
        device->Deactivate();
      if (device->GetIsConnected())
        device->Disconnect();
      device->UnregisterOnService();
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR << "Stopping the ultrasound device: " << e.what();
    }
  }
}
