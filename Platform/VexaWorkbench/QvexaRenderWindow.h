#ifndef QvexaRenderWindow_h
#define QvexaRenderWindow_h

#include "VexaWorkbenchHostExports.h"

#include <vexaDataNode.h>
#include <vexaDataStorage.h>
#include <vexaImage.h>
#include <vexaLevelWindow.h>
#include <vexaRenderingManager.h>

#include <QImage>
#include <QWidget>

/**
 * The workbench's 2-D render window: shows the central slice of one image
 * node through the node's level window, the whole image fitted into the
 * window with its own pixel spacing kept.
 *
 * The node shown is the topmost visible image node of the data storage: the
 * one added last, whatever the data manager selects, as a layered render
 * window shows its top layer. Each image is fitted to its own geometry, so a
 * raw image in samples and a result in millimetres each fill the window. A
 * node shown without a "levelwindow" property gets one computed from its
 * image (vexa::LevelWindow::SetAuto) when it is first drawn; that window
 * follows the node to a new image object (the first frame of a stream after
 * its placeholder) until the user or a view sets another one.
 *
 * The picture is drawn at the window's own resolution (see
 * vexa::RenderImageSlice), so a large image costs one pass over its pixels.
 * The window redraws when the rendering manager carries out an update
 * request (never on other threads), when it is resized and when nodes come
 * into or go from the storage (it follows the storage's add and remove
 * events itself); a fit request shows the whole image again (the window has
 * no zoom of its own, so that is what it always shows). A node removed from
 * the storage is let go of as its remove event arrives: the node below it
 * is drawn at once, and the window keeps nothing of the removed one.
 *
 * The user changes the shown node's level window with the right mouse
 * button held: dragging up raises the level, down lowers it, right widens
 * the window, left narrows it; the window's full width or height moves it
 * by the level window's range, and the window stays inside the range. A
 * drag changes only the node it started on: once another node is shown
 * (one added on top meanwhile), the drag ends. A double click goes back to
 * the automatic window. Each change is stored in the node's "levelwindow"
 * property and announced by LevelWindowChanged. GUI thread only.
 */
class VEXAWORKBENCHHOST_EXPORT QvexaRenderWindow : public QWidget, public vexa::RenderingManager::RenderWindow
{
  Q_OBJECT

public:
  explicit QvexaRenderWindow(QWidget *parent = nullptr);
  ~QvexaRenderWindow() override;

  void SetDataStorage(vexa::DataStorage *storage);

  /** The node drawn by the last repaint; null when there was none to draw. */
  vexa::DataNode::Pointer GetShownNode() const { return m_Shown; }
  /** The picture as last drawn (the window's resolution, placed at GetImageRect()). */
  QImage GetSliceImage() const { return m_Slice; }
  /** Where the slice lands in the widget; empty when nothing is shown. */
  QRect GetImageRect() const;

  /** The shown node's level window set to `levelWindow`; false when no node is shown. */
  bool SetShownLevelWindow(const vexa::LevelWindow &levelWindow);
  /** The shown node's automatic level window (vexa::LevelWindow::SetAuto); false when there is none. */
  bool ResetShownLevelWindow();

  /** "Level L, Window W", with as many decimals as the level window's range needs. */
  static QString LevelWindowText(const vexa::LevelWindow &levelWindow);

  // vexa::RenderingManager::RenderWindow
  void Repaint() override;
  void FitToGeometry(const vexa::BaseGeometry *geometry) override;

signals:
  /** The user changed the shown node's level window (stored in the node already). */
  void LevelWindowChanged(const vexa::LevelWindow &levelWindow);
  /** Something the user did failed; the text says what. */
  void Failed(const QString &text);

protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
  vexa::DataNode::Pointer ChooseNode() const;
  void OnNodeEvent(const itk::EventObject &event);
  /** Runs what a mouse or storage event asks for; a failure is logged and reported. */
  template <class Body>
  void Guarded(const char *what, Body &&body);

  vexa::DataStorage::Pointer m_Storage;
  unsigned long m_StorageObserver = 0;
  vexa::DataNode::Pointer m_Shown;
  QImage m_Slice;
  QSizeF m_ExtentMM;

  /** The last automatic window this window gave a node (compared, never dereferenced). */
  struct Automatic
  {
    const vexa::DataNode *node = nullptr;
    const vexa::Image *image = nullptr;
    vexa::LevelWindow levelWindow;
  } m_Automatic;

  /** The node a right-button drag started on; null when none is under way. */
  vexa::DataNode::Pointer m_DragNode;
  QPoint m_DragStart;
  vexa::LevelWindow m_DragStartWindow;
};

#endif
