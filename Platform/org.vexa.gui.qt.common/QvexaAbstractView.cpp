#include "QvexaAbstractView.h"

#include <vexaLog.h>

#include <exception>

QvexaAbstractView::QvexaAbstractView() = default;
QvexaAbstractView::~QvexaAbstractView() = default;

void QvexaAbstractView::SetViewHost(QvexaViewHost *host) { m_Host = host; }

void QvexaAbstractView::CreatePartControl(QWidget *parent)
{
  if (m_PartCreated)
    return;
  m_PartCreated = true;
  m_Parent = parent;
  CreateQtPartControl(parent);
}

void QvexaAbstractView::SetFocus()
{
  try
  {
    SetViewFocus();
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << "The focus hook of " << metaObject()->className() << " failed: " << e.what();
  }
}

bool QvexaAbstractView::NotifyNodeSelectionChanged(wick::WorkbenchPart *source,
                                                   const QList<vexa::DataNode::Pointer> &nodes)
{
  try
  {
    OnNodeSelectionChanged(source, nodes);
    return true;
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << "The selection hook of " << metaObject()->className() << " failed: " << e.what();
  }
  catch (...)
  {
    VEXA_ERROR << "The selection hook of " << metaObject()->className() << " failed.";
  }
  return false;
}

bool QvexaAbstractView::HasRunningWork() const { return false; }

vexa::DataStorage::Pointer QvexaAbstractView::GetDataStorage() const
{
  if (m_Host)
    return m_Host->GetDataStorage();
  if (!m_OwnStorage)
    m_OwnStorage = vexa::DataStorage::New();
  return m_OwnStorage;
}

QList<vexa::DataNode::Pointer> QvexaAbstractView::GetDataManagerSelection() const
{
  return m_Host ? m_Host->GetDataManagerSelection() : QList<vexa::DataNode::Pointer>();
}

vexa::IRenderWindowPart *QvexaAbstractView::GetRenderWindowPart(int) const
{
  return m_Host ? m_Host->GetRenderWindowPart() : nullptr;
}

void QvexaAbstractView::RequestRenderWindowUpdate(int requestType)
{
  if (vexa::IRenderWindowPart *part = GetRenderWindowPart())
    part->RequestUpdate(requestType);
  else
    vexa::RenderingManager::GetInstance()->RequestUpdateAll(
      static_cast<vexa::RenderingManager::RequestType>(requestType));
}

void QvexaAbstractView::SetViewFocus() {}

void QvexaAbstractView::OnNodeSelectionChanged(wick::WorkbenchPart *, const QList<vexa::DataNode::Pointer> &) {}
