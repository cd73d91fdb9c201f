// A layered picture view: a frame fitted into the view over a grey and white
// checkerboard, and on top of it layers (pictures with an opacity) in a stacking order,
// each of which the user can drag, and resize by the handles of its selection frame.
// Coordinates of layers are frame pixels, whatever the view's scale.
//
// It knows nothing of what the layers mean: the owner gives each layer its picture and
// box and listens to LayerPressed / LayerGeometryChanged.
//
// Threads: GUI thread only.
#pragma once

#include <QGraphicsView>
#include <QImage>
#include <QRect>

#include <vector>

class QGraphicsScene;

namespace tovi {

class TLayerItem;

class TLayerView final : public QGraphicsView {
  Q_OBJECT
public:
  explicit TLayerView(QWidget *parent = nullptr);
  ~TLayerView() override;

  // The background picture. A frame of another size than the last one re-fits the view.
  void SetFrame(const QImage &frame);
  const QImage &Frame() const { return frame_; }
  // The frame size layers are placed in before the first frame arrives.
  void SetFrameSize(const QSize &size);
  QSize FrameSize() const;

  // Layer `index` is drawn above every layer with a lower index.
  int LayerCount() const { return static_cast<int>(layers_.size()); }
  // Inserts a layer at `index` (the end when out of range); returns its index. The
  // picture is drawn stretched into `box`, or at its own size from the box's corner when
  // `resizable` is false (and then the box cannot be resized).
  int InsertLayer(int index, const QImage &picture, const QRect &box, int opacity, bool resizable = true);
  void RemoveLayer(int index);
  void ClearLayers();
  // Moves layer `from` to position `to` of the stacking order.
  void MoveLayer(int from, int to);
  void SetLayerPicture(int index, const QImage &picture);
  void SetLayerBox(int index, const QRect &box);
  QRect LayerBox(int index) const;
  void SetLayerOpacity(int index, int opacity); // 0..255
  void SetLayerVisible(int index, bool visible);
  bool LayerVisible(int index) const;

  // The layer with the selection frame, -1 for none.
  int Selected() const { return selected_; }
  void SetSelected(int index);

  // Frame pixels to view (viewport) pixels and back, for tests and the owner.
  QPoint ToView(const QPointF &framePoint) const;
  QPointF ToFrame(const QPoint &viewPoint) const;

signals:
  // The user pressed on layer `index` (it is now the selected one).
  void LayerPressed(int index);
  // The user moved or resized layer `index`; `box` is its new box in frame pixels.
  void LayerGeometryChanged(int index, const QRect &box);

protected:
  void drawBackground(QPainter *painter, const QRectF &rect) override;
  void resizeEvent(QResizeEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;

private:
  enum THandle { hNone = -1, hMove = 0, hLeft = 1, hTop = 2, hRight = 4, hBottom = 8 };
  void Fit();
  void Restack();
  int HandleAt(const QPoint &viewPoint) const;
  int LayerAt(const QPoint &viewPoint) const;
  QRect DraggedBox(const QPointF &frameDelta, bool keepCentre) const;

  QGraphicsScene *scene_;
  QImage frame_;
  std::vector<TLayerItem *> layers_; // owned by the scene; index = stacking position
  int selected_ = -1;
  int drag_ = hNone;  // what the pressed button drags: hMove or a set of edge bits
  QPointF dragStart_; // frame point where the drag began
  QRect dragBox_;     // the layer's box when the drag began
};

} // namespace tovi
