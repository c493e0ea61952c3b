#include "vexaParmodyActivator.h"

#include "QvexaUSControlsCustomDiPhASDeviceWidget.h"
#include "QvexaUSControlsCustomVideoDeviceWidget.h"

#include <vexaLog.h>

#include <usModuleContext.h>

#include <QApplication>

#include <stdexcept>

namespace vexa
{
  ParmodyActivator::~ParmodyActivator() = default;

  void ParmodyActivator::Load(us::ModuleContext *context)
  {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
      throw std::logic_error("Parmody's custom device panels need a QApplication: start the module after "
                             "creating it (us::ModuleRegistry::StartAll).");

    m_USCustomWidgets.push_back(new QvexaUSControlsCustomVideoDeviceWidget());
    m_USCustomWidgets.push_back(new QvexaUSControlsCustomDiPhASDeviceWidget());

    for (QvexaUSAbstractCustomWidget *prototype : m_USCustomWidgets)
      m_Registrations.push_back(
        context->RegisterService<QvexaUSAbstractCustomWidget>(prototype, prototype->GetServiceProperties()));
  }

  void ParmodyActivator::Unload(us::ModuleContext *)
  {
    for (auto &registration : m_Registrations)
      if (registration) // the registry may have withdrawn it already
        registration.Unregister();
    m_Registrations.clear();

    if (!QCoreApplication::instance() && !m_USCustomWidgets.empty())
    {
      // Widgets cannot be deleted once Qt is gone (the module was left started
      // until the program's end): leave them to the process's exit.
      VEXA_WARN << "Parmody was stopped after the QApplication ended; its panel prototypes are not deleted.";
      m_USCustomWidgets.clear();
      return;
    }
    for (QvexaUSAbstractCustomWidget *prototype : m_USCustomWidgets)
      delete prototype;
    m_USCustomWidgets.clear();
  }
}

US_EXPORT_MODULE_ACTIVATOR(vexa::ParmodyActivator)
