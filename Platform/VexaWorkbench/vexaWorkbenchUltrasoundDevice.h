#ifndef vexaWorkbenchUltrasoundDevice_h
#define vexaWorkbenchUltrasoundDevice_h

#include "VexaWorkbenchHostExports.h"

#include <vexaUSDevice.h>

#include <QString>

namespace vexa
{
  /**
   * The ultrasound device of the workbench's --us-device option: a video
   * device made from a device configuration file (file or camera,
   * manufacturer, model, comment, grey or colour, resolution override,
   * probes), then initialised (which registers it as a service), connected
   * and activated. Null with `error` set when the file cannot be read,
   * describes no video device, or a step fails; a device that got part of
   * the way is taken down again.
   */
  VEXAWORKBENCHHOST_EXPORT USDevice::Pointer StartUltrasoundDevice(const QString &configuration, QString *error);

  /** Deactivates, disconnects and withdraws the device's service (GUI thread, before the registry stops). */
  VEXAWORKBENCHHOST_EXPORT void StopUltrasoundDevice(USDevice *device);
}

#endif
