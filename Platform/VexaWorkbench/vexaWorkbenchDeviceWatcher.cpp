#include "vexaWorkbenchDeviceWatcher.h"

#include <vexaQtEventBridge.h>
#include <vexaSlotGuard.h>
#include <vexaUSDevice.h>

#include <vexaLog.h>

#include <usGetModuleContext.h>

#include <QStatusBar>
#include <QTimer>

#include <exception>
#include <vector>

namespace vexa
{
  namespace
  {
    // often enough that the count of seconds is right to a quarter of one
    constexpr int kLookInterval = 250;

    const std::string kStopped = "stopped ";
    const std::string kSilent = "silent ";
    const std::string kLost = "lost ";

    void ReportLookFailure(const GuardedFailure &failure)
    {
      VEXA_WARN << "Looking at the ultrasound devices failed: " << failure.what;
    }
  }

  WorkbenchDeviceWatcher::WorkbenchDeviceWatcher(QStatusBar *statusBar)
    : QObject(statusBar), m_StatusBar(statusBar), m_Timer(new QTimer(this))
  {
    m_Timer->setInterval(kLookInterval);
    connect(m_Timer, &QTimer::timeout, this, [this] { RunGuarded([this] { Look(); }, ReportLookFailure); });
    try
    {
      m_Listener = us::GetModuleContext()->AddServiceListener(
        MakeQueuedServiceListener(
          this,
          [this](const us::ServiceEvent &event) { RunGuarded([&] { OnDeviceEvent(event); }, ReportLookFailure); }),
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

  void WorkbenchDeviceWatcher::Show(const QString &text, const std::string &key)
  {
    if (!m_StatusBar)
      return;
    m_StatusBar->showMessage(text);
    m_Own = text;
    m_OwnKey = key;
  }

  void WorkbenchDeviceWatcher::ClearOwn()
  {
    if (m_StatusBar && !m_Own.isEmpty() && m_StatusBar->currentMessage() == m_Own)
      m_StatusBar->clearMessage();
    m_Own.clear();
    m_OwnKey.clear();
  }

  void WorkbenchDeviceWatcher::OnDeviceEvent(const us::ServiceEvent &event)
  {
    const USDevice::PropertyKeys &keys = USDevice::GetPropertyKeys();
    const us::ServiceReferenceU reference = event.GetServiceReference();
    const std::string id = reference.GetProperty(keys.US_PROPKEY_ID).ToString();
    if (event.GetType() == us::ServiceEvent::UNREGISTERING || !reference)
    {
      // what it said while it was there is out of date, except why it stopped
      const auto found = m_Devices.find(id);
      if (found == m_Devices.end())
        return;
      if (!found->second.announced.empty() && m_OwnKey == found->second.announced)
        ClearOwn();
      m_Devices.erase(found);
      return;
    }
    if (event.GetType() != us::ServiceEvent::MODIFIED || !m_StatusBar)
      return;

    // read now, on the GUI thread: a device that runs again meanwhile shows nothing
    Device &device = m_Devices[id];
    const bool active = reference.GetProperty(keys.US_PROPKEY_ISACTIVE).ToString() != "false";
    const std::string reason = reference.GetProperty(keys.US_PROPKEY_STOP_REASON).ToString();
    if (active || reason.empty())
    {
      // running again: its message is out of date
      if (!device.stopped.isEmpty() && m_OwnKey == kStopped + id)
        ClearOwn();
      device.stopped.clear();
    }
    else
    {
      const QString message =
        QString("%1 stopped: %2")
          .arg(QString::fromStdString(reference.GetProperty(keys.US_PROPKEY_DISPLAYNAME).ToString()),
               QString::fromStdString(reason));
      // told already when the same stop comes again (a later change of another property)
      if (device.stopped != message)
      {
        device.stopped = message;
        Show(message, kStopped + id);
      }
    }
    // a client that went away, a device activated or deactivated: told or ended at once
    Look();
  }

  void WorkbenchDeviceWatcher::Look()
  {
    if (!m_StatusBar)
      return;
    const USDevice::PropertyKeys &keys = USDevice::GetPropertyKeys();
    us::ModuleContext *context = us::GetModuleContext();
    const Clock::time_point now = Clock::now();

    struct Condition
    {
      Device *device;
      std::string key; // "" while nothing lasts
      QString text;
    };
    std::vector<Condition> conditions;
    bool anyActive = false;
    bool started = false; // a device streams that did not before
    for (const us::ServiceReference<USDevice> &reference : context->GetServiceReferences<USDevice>())
    {
      const std::string id = reference.GetProperty(keys.US_PROPKEY_ID).ToString();
      Device &device = m_Devices[id];
      const bool active = reference.GetProperty(keys.US_PROPKEY_ISACTIVE).ToString() == "true";
      Condition condition{&device, std::string(), QString()};
      if (!active)
      {
        device.active = false;
        device.lostClient.clear();
        conditions.push_back(condition);
        continue;
      }
      anyActive = true;

      std::uint64_t pictures = device.pictures;
      if (USDevice *service = context->GetService(reference))
      {
        const USDevice::Pointer held = service; // alive while it is read, even if withdrawn meanwhile
        context->UngetService(reference);
        pictures = held->GetNumberOfAcquiredPictures();
      }
      const std::string lostClient = reference.GetProperty(keys.US_PROPKEY_LOST_CLIENT).ToString();
      if (!device.active)
      {
        // just activated: the count starts again from 0
        device.active = true;
        device.streaming = false;
        device.pictures = 0;
        device.since = now;
      }
      if (pictures != device.pictures)
      {
        device.pictures = pictures;
        device.since = now;
        started = started || !device.streaming;
        device.streaming = true;
      }
      if (!device.lostClient.empty() && lostClient.empty())
        device.since = now; // a client came: its silence counts from now
      device.lostClient = lostClient;

      const QString name = QString::fromStdString(reference.GetProperty(keys.US_PROPKEY_DISPLAYNAME).ToString());
      const auto silent = std::chrono::duration_cast<std::chrono::seconds>(now - device.since);
      if (!lostClient.empty())
      {
        condition.key = kLost + id + " " + lostClient;
        condition.text = QString("%1: the client %2 went away; waiting for the next one")
                           .arg(name, QString::fromStdString(lostClient));
      }
      else if (silent >= SilenceToldAfter)
      {
        device.streaming = false;
        condition.key = kSilent + id;
        condition.text = QString("%1 has sent no image for %2 s").arg(name).arg(silent.count());
      }
      conditions.push_back(condition);
    }

    // a stop is out of date once a device streams (again)
    if (started && m_OwnKey.compare(0, kStopped.size(), kStopped) == 0)
      ClearOwn();

    for (const Condition &condition : conditions)
    {
      Device &device = *condition.device;
      if (condition.key != device.announced)
      {
        const std::string ended = device.announced;
        device.announced = condition.key;
        if (!condition.key.empty())
          Show(condition.text, condition.key); // news: told at once
        else if (m_OwnKey == ended)
          ClearOwn();
        continue;
      }
      if (condition.key.empty())
        continue;
      // the same condition lasts: its text is brought up to date where the
      // bar still shows it, or shown again once the bar is free
      const QString current = m_StatusBar->currentMessage();
      if (current.isEmpty() || (m_OwnKey == condition.key && current == m_Own))
      {
        if (current != condition.text)
          Show(condition.text, condition.key);
      }
    }

    if (anyActive && !m_Timer->isActive())
      m_Timer->start();
    else if (!anyActive && m_Timer->isActive())
      m_Timer->stop();
  }
}
