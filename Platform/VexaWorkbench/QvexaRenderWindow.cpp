#include "QvexaRenderWindow.h"

#include "vexaImageSliceRendering.h"

#include <vexaImage.h>

#include <vexaLog.h>
#include <vexaSlotGuard.h>

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace
{
  const vexa::Image *ImageOf(const vexa::DataNode *node, vexa::BaseData::Pointer &keep)
  {
    keep = node ? node->GetData() : nullptr;
    const auto *image = dynamic_cast<const vexa::Image *>(keep.GetPointer());
    return image && image->IsInitialized() ? image : nullptr;
  }
}

QvexaRenderWindow::QvexaRenderWindow(QWidget *parent) : QWidget(parent)
{
  setObjectName("RenderWindow");
  setMinimumSize(200, 200);
  setAttribute(Qt::WA_OpaquePaintEvent);
  vexa::RenderingManager::GetInstance()->AddRenderWindow(this);
}

QvexaRenderWindow::~QvexaRenderWindow()
{
  SetDataStorage(nullptr);
  vexa::RenderingManager::GetInstance()->RemoveRenderWindow(this);
}

void QvexaRenderWindow::SetDataStorage(vexa::DataStorage *storage)
{
  if (m_Storage)
    m_Storage->RemoveObserver(m_StorageObserver);
  m_Storage = storage;
  // the storage delivers its events on the GUI thread, with the node they are about
  if (m_Storage)
    m_StorageObserver = m_Storage->AddObserver(vexa::DataStorage::NodeEvent(),
                                               [this](const itk::EventObject &event) { OnNodeEvent(event); });
  vexa::RenderingManager::GetInstance()->RequestUpdate(this);
}

void QvexaRenderWindow::OnNodeEvent(const itk::EventObject &event)
{
  Guarded("Following the data storage", [this, &event] {
    const auto *removal = dynamic_cast<const vexa::DataStorage::RemoveNodeEvent *>(&event);
    const vexa::DataNode *removed = removal ? removal->GetNode() : nullptr;
    if (removed && !m_Storage->Exists(removed))
    {
      if (m_Automatic.node == removed)
        m_Automatic = Automatic();
      if (m_DragNode == removed)
        m_DragNode = nullptr;
      if (m_Shown == removed)
      {
        // the picture of a node that is gone is not shown a moment longer, nor its pixels held
        Repaint();
        return;
      }
    }
    vexa::RenderingManager::GetInstance()->RequestUpdate(this);
  });
}

vexa::DataNode::Pointer QvexaRenderWindow::ChooseNode() const
{
  if (!m_Storage)
    return nullptr;
  const vexa::DataStorage::SetOfObjects nodes = m_Storage->GetAll();
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
  {
    vexa::BaseData::Pointer data;
    if ((*it)->IsVisible() && ImageOf(*it, data))
      return *it;
  }
  return nullptr;
}

void QvexaRenderWindow::Repaint()
{
  m_Shown = ChooseNode();
  bool drawn = false;
  if (m_Shown)
  {
    vexa::BaseData::Pointer data;
    const vexa::Image *image = ImageOf(m_Shown, data);
    // A node shown without a level window gets the automatic one of its
    // image. It stays put from frame to frame, but while nobody changes it
    // it follows a new image object in the node: a live stream's first
    // picture is a placeholder whose window says nothing about the frames.
    vexa::LevelWindow levelWindow;
    const bool has = m_Shown->GetLevelWindow(levelWindow);
    const bool ownForAnother = has && m_Automatic.node == m_Shown.GetPointer() && m_Automatic.image != image &&
                               m_Automatic.levelWindow == levelWindow;
    if ((!has || ownForAnother) && levelWindow.SetAuto(image))
    {
      m_Shown->SetLevelWindow(levelWindow);
      m_Automatic = {m_Shown.GetPointer(), image, levelWindow};
    }
    const vexa::Vector3D spacing = image->GetGeometry()->GetSpacing();
    const double sx = spacing[0] > 0 ? spacing[0] : 1.0;
    const double sy = spacing[1] > 0 ? spacing[1] : 1.0;
    const double ny = image->GetDimension() > 1 ? image->GetDimension(1) : 1;
    m_ExtentMM = QSizeF(image->GetDimension(0) * sx, ny * sy);
    // at the resolution of the screen, not of the image
    const QSize pixels = (QSizeF(GetImageRect().size()) * devicePixelRatioF()).toSize();
    drawn = !pixels.isEmpty() && vexa::RenderImageSlice(image, levelWindow, m_Slice, pixels);
    if (drawn)
      m_Slice.setDevicePixelRatio(devicePixelRatioF());
  }
  if (!drawn)
  {
    m_Shown = nullptr;
    m_Slice = QImage();
    m_ExtentMM = QSizeF();
  }
  update();
}

void QvexaRenderWindow::FitToGeometry(const vexa::BaseGeometry *) {}

QRect QvexaRenderWindow::GetImageRect() const
{
  if (m_ExtentMM.isEmpty())
    return QRect();
  const QSizeF fitted = m_ExtentMM.scaled(QSizeF(size()), Qt::KeepAspectRatio);
  const QPointF corner((width() - fitted.width()) / 2.0, (height() - fitted.height()) / 2.0);
  return QRectF(corner, fitted).toAlignedRect().intersected(rect());
}

bool QvexaRenderWindow::SetShownLevelWindow(const vexa::LevelWindow &levelWindow)
{
  if (!m_Shown)
    return false;
  m_Shown->SetLevelWindow(levelWindow);
  vexa::RenderingManager::GetInstance()->RequestUpdate(this);
  emit LevelWindowChanged(levelWindow);
  return true;
}

bool QvexaRenderWindow::ResetShownLevelWindow()
{
  vexa::BaseData::Pointer data;
  const vexa::Image *image = ImageOf(m_Shown, data);
  vexa::LevelWindow levelWindow;
  if (!image || !levelWindow.SetAuto(image) || !SetShownLevelWindow(levelWindow))
    return false;
  m_Automatic = {m_Shown.GetPointer(), image, levelWindow};
  return true;
}

QString QvexaRenderWindow::LevelWindowText(const vexa::LevelWindow &levelWindow)
{
  // three or four significant digits of the range: 0..255 shows whole numbers, 0..0.1 four decimals
  const double range = levelWindow.GetRange();
  const int decimals = range > 0 ? std::clamp(3 - static_cast<int>(std::ceil(std::log10(range))), 0, 12) : 0;
  return QString("Level %1, Window %2")
    .arg(levelWindow.GetLevel(), 0, 'f', decimals)
    .arg(levelWindow.GetWindow(), 0, 'f', decimals);
}

template <class Body>
void QvexaRenderWindow::Guarded(const char *what, Body &&body)
{
  vexa::RunGuarded(body, [this, what](const vexa::GuardedFailure &failure) {
    VEXA_ERROR << what << " failed: " << failure.what;
    emit Failed(QString("%1 failed: %2").arg(what, QString::fromStdString(failure.description)));
  });
}

void QvexaRenderWindow::mousePressEvent(QMouseEvent *event)
{
  if (event->button() != Qt::RightButton)
    return QWidget::mousePressEvent(event);
  Guarded("Changing the level window", [&] {
    m_DragNode = m_Shown && m_Shown->GetLevelWindow(m_DragStartWindow) ? m_Shown : nullptr;
    m_DragStart = event->pos();
  });
  event->accept();
}

void QvexaRenderWindow::mouseMoveEvent(QMouseEvent *event)
{
  if (!m_DragNode)
    return QWidget::mouseMoveEvent(event);
  Guarded("Changing the level window", [&] {
    // Another node came on top during the drag (a result that arrived): the
    // start window belongs to the node below, so the drag ends there.
    if (m_DragNode != m_Shown)
    {
      m_DragNode = nullptr;
      return;
    }
    const QPoint moved = event->pos() - m_DragStart;
    const vexa::LevelWindow &start = m_DragStartWindow;
    const double range = start.GetRange();
    const double window = std::clamp(start.GetWindow() + moved.x() * range / std::max(1, width()), range * 1e-3, range);
    const double level = std::clamp(start.GetLevel() - moved.y() * range / std::max(1, height()),
                                    start.GetRangeMin() + window / 2, start.GetRangeMax() - window / 2);
    vexa::LevelWindow changed = start;
    changed.SetWindowBounds(level - window / 2, level + window / 2);
    SetShownLevelWindow(changed);
  });
  event->accept();
}

void QvexaRenderWindow::mouseReleaseEvent(QMouseEvent *event)
{
  if (event->button() != Qt::RightButton)
    return QWidget::mouseReleaseEvent(event);
  m_DragNode = nullptr;
  event->accept();
}

void QvexaRenderWindow::mouseDoubleClickEvent(QMouseEvent *event)
{
  m_DragNode = nullptr;
  Guarded("Going back to the automatic level window", [&] { ResetShownLevelWindow(); });
  event->accept();
}

void QvexaRenderWindow::resizeEvent(QResizeEvent *event)
{
  QWidget::resizeEvent(event);
  // the picture is drawn for the window's size
  vexa::RenderingManager::GetInstance()->RequestUpdate(this);
}

void QvexaRenderWindow::paintEvent(QPaintEvent *)
{
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (!m_Slice.isNull())
    painter.drawImage(GetImageRect(), m_Slice); // drawn for this size: a plain copy until a resize is redrawn
}
