#include "QvexaRenderWindow.h"

#include "vexaImageSliceRendering.h"

#include <vexaImage.h>

#include <vexaLog.h>

#include <QPainter>

#include <exception>

QvexaRenderWindow::QvexaRenderWindow(QWidget *parent) : QWidget(parent)
{
  setObjectName("RenderWindow");
  setMinimumSize(200, 200);
  setAttribute(Qt::WA_OpaquePaintEvent);
  vexa::RenderingManager::GetInstance()->AddRenderWindow(this);
}

QvexaRenderWindow::~QvexaRenderWindow() { vexa::RenderingManager::GetInstance()->RemoveRenderWindow(this); }

void QvexaRenderWindow::SetDataStorage(vexa::DataStorage *storage)
{
  m_Storage = storage;
  vexa::RenderingManager::GetInstance()->RequestUpdate(this);
}

void QvexaRenderWindow::SetSelectedNodes(const QList<vexa::DataNode::Pointer> &nodes)
{
  m_Selection = nodes;
  vexa::RenderingManager::GetInstance()->RequestUpdate(this);
}

vexa::DataNode::Pointer QvexaRenderWindow::ChooseNode() const
{
  const auto shows = [](const vexa::DataNode *node) {
    if (!node || !node->IsVisible())
      return false;
    const vexa::BaseData::Pointer data = node->GetData();
    const auto *image = dynamic_cast<const vexa::Image *>(data.GetPointer());
    return image && image->IsInitialized();
  };
  for (const vexa::DataNode::Pointer &node : m_Selection)
    if (shows(node) && (!m_Storage || m_Storage->Exists(node)))
      return node;
  if (!m_Storage)
    return nullptr;
  const vexa::DataStorage::SetOfObjects nodes = m_Storage->GetAll();
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
    if (shows(*it))
      return *it;
  return nullptr;
}

void QvexaRenderWindow::Repaint()
{
  m_Shown = ChooseNode();
  bool drawn = false;
  if (m_Shown)
  {
    const vexa::BaseData::Pointer data = m_Shown->GetData();
    const auto *image = dynamic_cast<const vexa::Image *>(data.GetPointer());
    vexa::LevelWindow levelWindow;
    // a node shown without a level window gets one from its image, once: it
    // then stays put from frame to frame, and views can change it
    if (!m_Shown->GetLevelWindow(levelWindow) && levelWindow.SetAuto(image))
      m_Shown->SetLevelWindow(levelWindow);
    drawn = vexa::RenderImageSlice(image, levelWindow, m_Slice);
    if (drawn)
    {
      const vexa::Vector3D spacing = image->GetGeometry()->GetSpacing();
      const double sx = spacing[0] > 0 ? spacing[0] : 1.0;
      const double sy = spacing[1] > 0 ? spacing[1] : 1.0;
      m_ExtentMM = QSizeF(m_Slice.width() * sx, m_Slice.height() * sy);
    }
  }
  if (!drawn)
  {
    m_Shown = nullptr;
    m_Slice = QImage();
  }
  update();
}

void QvexaRenderWindow::FitToGeometry(const vexa::BaseGeometry *) {}

QRect QvexaRenderWindow::GetImageRect() const
{
  if (m_Slice.isNull() || m_ExtentMM.isEmpty())
    return QRect();
  const QSizeF fitted = m_ExtentMM.scaled(QSizeF(size()), Qt::KeepAspectRatio);
  const QPointF corner((width() - fitted.width()) / 2.0, (height() - fitted.height()) / 2.0);
  return QRectF(corner, fitted).toAlignedRect().intersected(rect());
}

void QvexaRenderWindow::paintEvent(QPaintEvent *)
{
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (!m_Slice.isNull())
    painter.drawImage(GetImageRect(), m_Slice); // nearest neighbour: pixels stay pixels
}
