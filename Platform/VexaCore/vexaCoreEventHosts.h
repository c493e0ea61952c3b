#ifndef vexaCoreEventHosts_h
#define vexaCoreEventHosts_h

// Toolkit classes whose events are nested in them. The data node and the
// renderer's event live in vexaDataNode.h; the slice navigation controller
// belongs to the rendering side of the toolkit, which this system has no 3-D
// part of, and carries only its event.

#include "vexaDataNode.h"

#include <vexaEventMacro.h>

namespace vexa
{
  class SliceNavigationController
  {
  public:
    vexaEventMacro(UpdateEvent, itk::AnyEvent);
  };
}

#endif
