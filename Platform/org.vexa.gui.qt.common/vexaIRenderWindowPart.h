#ifndef vexaIRenderWindowPart_h
#define vexaIRenderWindowPart_h

#include <vexaRenderingManager.h>

namespace vexa
{
  /** The part of the workbench that shows the render windows, as views reach it. */
  class IRenderWindowPart
  {
  public:
    virtual ~IRenderWindowPart() = default;
    /** The manager that repaints and fits this part's windows. */
    virtual RenderingManager *GetRenderingManager() const = 0;
    /** Repaint this part's windows of the type (a RenderingManager::RequestType) in the next turn. */
    virtual void RequestUpdate(int requestType = RenderingManager::REQUEST_UPDATE_ALL) = 0;
  };
}

#endif
