#ifndef vexaCoreEventHosts_h
#define vexaCoreEventHosts_h

// Toolkit classes whose events are nested in them. The data node, the
// renderer and the slice navigation controller themselves belong to the
// workbench side of the toolkit; this stand-in carries only their events
// until a module of this tree needs more of them.

#include <vexaEventMacro.h>

namespace vexa
{
  class DataNode
  {
  public:
    vexaEventMacro(InteractorChangedEvent, itk::AnyEvent);
  };

  class BaseRenderer
  {
  public:
    vexaEventMacro(RendererResetEvent, itk::AnyEvent);
  };

  class SliceNavigationController
  {
  public:
    vexaEventMacro(UpdateEvent, itk::AnyEvent);
  };
}

#endif
