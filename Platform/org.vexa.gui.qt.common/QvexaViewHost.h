#ifndef QvexaViewHost_h
#define QvexaViewHost_h

#include "vexaIRenderWindowPart.h"

#include <vexaDataNode.h>
#include <vexaDataStorage.h>

#include <QList>

/** What the workbench lends its views: the data storage, the data manager's selection, the render windows. */
class QvexaViewHost
{
public:
  virtual ~QvexaViewHost() = default;
  virtual vexa::DataStorage::Pointer GetDataStorage() const = 0;
  /** The nodes selected in the data manager, in its order. */
  virtual QList<vexa::DataNode::Pointer> GetDataManagerSelection() const = 0;
  /** The part that shows the render windows; null when there is none. */
  virtual vexa::IRenderWindowPart *GetRenderWindowPart() const = 0;
};

#endif
