#ifndef vexaParmodyActivator_h
#define vexaParmodyActivator_h

#include "QvexaUSAbstractCustomWidget.h"

#include <usModuleActivator.h>
#include <usServiceRegistration.h>

#include <vector>

namespace vexa
{
  /**
   * Parmody's module activator. Starting the module makes one prototype of
   * each custom device panel (video device, DiPhAS device) and registers it
   * under "org.vexa.QvexaUSAbstractCustomWidget" with the device class it
   * serves; stopping it withdraws those services, deletes the prototypes and
   * forgets them, so the module can be started again.
   *
   * The prototypes are widgets: the module is started after the
   * QApplication exists and stopped before it goes (us::ModuleRegistry's
   * StartAll / StopAll), on the GUI thread. Load refuses (throws) without a
   * QApplication.
   */
  class ParmodyActivator : public us::ModuleActivator
  {
  public:
    ParmodyActivator() = default;
    /** Frees the list only: the prototypes are widgets and go in Unload, while Qt still runs. */
    ~ParmodyActivator() override;

    void Load(us::ModuleContext *context) override;
    void Unload(us::ModuleContext *context) override;

  private:
    std::vector<QvexaUSAbstractCustomWidget *> m_USCustomWidgets;
    std::vector<us::ServiceRegistration<QvexaUSAbstractCustomWidget>> m_Registrations;
  };
}

#endif
