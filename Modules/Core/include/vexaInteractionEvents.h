#ifndef vexaInteractionEvents_h
#define vexaInteractionEvents_h

#include "vexaEventMacro.h"

namespace vexa
{
  vexaEventMacro(DataInteractorEvent, itk::AnyEvent);
  vexaEventMacro(StartInteraction, DataInteractorEvent);
  vexaEventMacro(ResultReady, DataInteractorEvent);

  vexaEventMacro(RenderingManagerEvent, itk::AnyEvent);
  vexaEventMacro(RenderingManagerViewsInitializedEvent, RenderingManagerEvent);

  vexaEventMacro(PointSetEvent, itk::AnyEvent);
  vexaEventMacro(PointSetMoveEvent, PointSetEvent);
  vexaEventMacro(PointSetSizeChangeEvent, PointSetEvent);
  vexaEventMacro(PointSetAddEvent, PointSetSizeChangeEvent);
  vexaEventMacro(PointSetRemoveEvent, PointSetSizeChangeEvent);
  vexaEventMacro(PointSetExtendTimeRangeEvent, PointSetEvent);
}

#endif
