#ifndef QvexaRenderWindow_h
#define QvexaRenderWindow_h

#include "VexaWorkbenchHostExports.h"

#include <vexaDataNode.h>
#include <vexaDataStorage.h>
#include <vexaRenderingManager.h>

#include <QImage>
#include <QList>
#include <QWidget>

/**
 * The workbench's 2-D render window: shows the central slice of one image
 * node through the node's level window, the whole image fitted into the
 * window with its pixel spacing kept.
 *
 * The node shown is the first selected node that is visible and holds an
 * image, otherwise the newest visible image node of the data storage. A
 * node shown without a "levelwindow" property gets one computed from its
 * image (vexa::LevelWindow::SetAuto) the first time it is drawn. The
 * window redraws when the rendering manager carries out an update request
 * (never on other threads); a fit request shows the whole image again (the
 * window has no zoom of its own, so that is what it always shows).
 */
class VEXAWORKBENCHHOST_EXPORT QvexaRenderWindow : public QWidget, public vexa::RenderingManager::RenderWindow
{
  Q_OBJECT

public:
  explicit QvexaRenderWindow(QWidget *parent = nullptr);
  ~QvexaRenderWindow() override;

  void SetDataStorage(vexa::DataStorage *storage);
  void SetSelectedNodes(const QList<vexa::DataNode::Pointer> &nodes);

  /** The node drawn by the last repaint; null when there was none to draw. */
  vexa::DataNode::Pointer GetShownNode() const { return m_Shown; }
  /** The slice as last drawn (image pixels, before scaling). */
  QImage GetSliceImage() const { return m_Slice; }
  /** Where the slice lands in the widget; empty when nothing is shown. */
  QRect GetImageRect() const;

  // vexa::RenderingManager::RenderWindow
  void Repaint() override;
  void FitToGeometry(const vexa::BaseGeometry *geometry) override;

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  vexa::DataNode::Pointer ChooseNode() const;

  vexa::DataStorage::Pointer m_Storage;
  QList<vexa::DataNode::Pointer> m_Selection;
  vexa::DataNode::Pointer m_Shown;
  QImage m_Slice;
  QSizeF m_ExtentMM;
};

#endif
