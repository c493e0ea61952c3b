#include "vexaWorkbenchDeviceWatcher.h"

#include <vexaQtEventBridge.h>
#include <vexaUSDevice.h>

#include <vexaLog.h>

#include <usGetModuleContext.h>

#include <QStatusBar>

#include <exception>

namespace vexa
{
  WorkbenchDeviceWatcher::WorkbenchDeviceWatcher(QStatusBar *statusBar) : QObject(statusBar), m_StatusBar(statusBar)
  {
    try
    {
      m_Listener = us::GetModuleContext()->AddServiceListener(
        MakeQueuedServiceListener(this, [this](const us::ServiceEvent &event) { OnDeviceEvent(event); }),
        "(objectclass=" + USDevice::GetPropertyKeys().US_INTERFACE_NAME + ")");
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR << "The workbench will not tell when an ultrasound device stops: " << e.what();
    }
  }

  WorkbenchDeviceWatcher::~WorkbenchDeviceWatcher()
  {
    if (!m_Listener)
      return;
    try
    {
      us::GetModuleContext()->RemoveServiceListener(m_Listener);
    }
    catch (const std::exception &e)
    {
      VEXA_WARN << "Could not remove the ultrasound device listener: " << e.what();
    }
  }

  void WorkbenchDeviceWatcher::OnDeviceEvent(const us::ServiceEvent &event)
  {
    const USDevice::PropertyKeys &keys = USDevice::GetPropertyKeys();
    const us::ServiceReferenceU reference = event.GetServiceReference();
    const std::string id = reference.GetProperty(keys.US_PROPKEY_ID).ToString();
    if (event.GetType() == us::ServiceEvent::UNREGISTERING || !reference)
    {
      m_Shown.erase(id);
      return;
    }
    if (event.GetType() != us::ServiceEvent::MODIFIED || !m_StatusBar)
      return;

    // read now, on the GUI thread: a device that runs again meanwhile shows nothing
    const bool active = reference.GetProperty(keys.US_PROPKEY_ISACTIVE).ToString() != "false";
    const std::string reason = reference.GetProperty(keys.US_PROPKEY_STOP_REASON).ToString();
    const auto shown = m_Shown.find(id);
    if (active || reason.empty())
    {
      // running again: its message is out of date
      if (shown != m_Shown.end())
      {
        if (m_StatusBar->currentMessage() == shown->second)
          m_StatusBar->clearMessage();
        m_Shown.erase(shown);
      }
      return;
    }
    const QString message =
      QString("%1 stopped: %2")
        .arg(QString::fromStdString(reference.GetProperty(keys.US_PROPKEY_DISPLAYNAME).ToString()),
             QString::fromStdString(reason));
    if (shown != m_Shown.end() && shown->second == message)
      return; // told already (a later change of another property)
    m_Shown[id] = message;
    m_StatusBar->showMessage(message);
  }
}
