#include "app/widgets/LayerView.h"

#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace tovi {

namespace {

constexpr int kCheckerSize = 13;                 // checkerboard squares, view pixels
constexpr QRgb kCheckerGrey = 0xFFB0B0B0;        // where column and row parities agree
constexpr int kHandleRadius = 4;                 // half a handle square, view pixels
constexpr int kGrabDistance = kHandleRadius + 2; // how near a handle a press must be
constexpr int kMinBoxSize = 4;                   // no half-width or half-height below 2 pixels

} // namespace

// One layer: a picture in a box of frame pixels, with its own opacity and, while
// selected, a dashed frame with eight handles drawn at a fixed size on screen.
class TLayerItem final : public QGraphicsItem {
public:
  TLayerItem(const QImage &picture, const QRect &box, int opacity, bool resizable)
      : picture_(picture), box_(box), opacity_(opacity), resizable_(resizable) {}

  QRectF boundingRect() const override {
    const qreal m = handleMargin_ + 1;
    return QRectF(box_).adjusted(-m, -m, m, m);
  }

  void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override {
    painter->save();
    painter->setOpacity(opacity_ / 255.0);
    if (resizable_)
      painter->drawImage(QRectF(box_), picture_);
    else
      painter->drawImage(box_.topLeft(), picture_);
    painter->restore();
    if (!selected_) return;
    QPen solid(Qt::white, 0);
    QPen dashed(Qt::black, 0, Qt::DashLine);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(solid);
    painter->drawRect(QRectF(box_));
    painter->setPen(dashed);
    painter->drawRect(QRectF(box_));
    if (!resizable_) return;
    painter->setPen(QPen(Qt::black, 0));
    painter->setBrush(Qt::white);
    for (const QPointF &p : HandlePoints())
      painter->drawRect(
          QRectF(p.x() - handleMargin_, p.y() - handleMargin_, 2 * handleMargin_, 2 * handleMargin_));
  }

  // Corners and edge middles, with the edges each one drags.
  std::array<QPointF, 8> HandlePoints() const {
    const QRectF r(box_);
    return {r.topLeft(),     QPointF(r.center().x(), r.top()),
            r.topRight(),    QPointF(r.right(), r.center().y()),
            r.bottomRight(), QPointF(r.center().x(), r.bottom()),
            r.bottomLeft(),  QPointF(r.left(), r.center().y())};
  }
  static int HandleEdges(int handle) {
    static constexpr std::array<int, 8> edges{1 | 2, 2, 4 | 2, 4, 4 | 8, 8, 1 | 8, 1};
    return edges[static_cast<std::size_t>(handle)];
  }

  void SetBox(const QRect &box) {
    prepareGeometryChange();
    box_ = box;
  }
  const QRect &Box() const { return box_; }
  void SetPicture(const QImage &picture) {
    picture_ = picture;
    if (!resizable_) SetBox(QRect(box_.topLeft(), picture.size()));
    update();
  }
  void SetOpacity(int opacity) {
    opacity_ = std::clamp(opacity, 0, 255);
    update();
  }
  void SetSelected(bool selected) {
    selected_ = selected;
    update();
  }
  void SetHandleMargin(qreal margin) {
    prepareGeometryChange();
    handleMargin_ = margin;
  }
  bool Resizable() const { return resizable_; }

private:
  QImage picture_;
  QRect box_;
  int opacity_;
  bool resizable_;
  bool selected_ = false;
  qreal handleMargin_ = kHandleRadius; // in frame pixels, set from the view's scale
};

TLayerView::TLayerView(QWidget *parent) : QGraphicsView(parent), scene_(new QGraphicsScene(this)) {
  setScene(scene_);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setViewportUpdateMode(QGraphicsView::FullViewportUpdate); // the checkerboard is in view pixels
  setRenderHint(QPainter::SmoothPixmapTransform, true);
  setFrameShape(QFrame::NoFrame);
  setMouseTracking(true);
  SetFrameSize(QSize(320, 240));
}

TLayerView::~TLayerView() = default;

void TLayerView::SetFrameSize(const QSize &size) {
  if (!size.isValid() || size.isEmpty()) return;
  if (sceneRect() == QRectF(QPointF(0, 0), size)) return;
  scene_->setSceneRect(QRectF(QPointF(0, 0), size));
  Fit();
}

QSize TLayerView::FrameSize() const { return sceneRect().size().toSize(); }

void TLayerView::SetFrame(const QImage &frame) {
  frame_ = frame;
  if (!frame.isNull()) SetFrameSize(frame.size());
  viewport()->update();
}

void TLayerView::Fit() {
  resetTransform();
  fitInView(sceneRect(), Qt::KeepAspectRatio);
  const qreal scale = transform().m11() > 0 ? transform().m11() : 1;
  for (TLayerItem *layer : layers_)
    layer->SetHandleMargin(kHandleRadius / scale);
  viewport()->update();
}

void TLayerView::resizeEvent(QResizeEvent *event) {
  QGraphicsView::resizeEvent(event);
  Fit();
}

void TLayerView::drawBackground(QPainter *painter, const QRectF &) {
  painter->save();
  painter->resetTransform();
  const QRect area = viewport()->rect();
  for (int y = 0; y < area.height(); y += kCheckerSize)
    for (int x = 0; x < area.width(); x += kCheckerSize) {
      const bool grey = (x / kCheckerSize) % 2 == (y / kCheckerSize) % 2;
      painter->fillRect(x, y, kCheckerSize, kCheckerSize, grey ? QColor::fromRgba(kCheckerGrey) : Qt::white);
    }
  painter->restore();
  if (!frame_.isNull()) painter->drawImage(sceneRect(), frame_);
}

int TLayerView::InsertLayer(int index, const QImage &picture, const QRect &box, int opacity, bool resizable) {
  if (index < 0 || index > LayerCount()) index = LayerCount();
  auto *layer = new TLayerItem(picture, resizable ? box : QRect(box.topLeft(), picture.size()),
                               std::clamp(opacity, 0, 255), resizable);
  const qreal scale = transform().m11() > 0 ? transform().m11() : 1;
  layer->SetHandleMargin(kHandleRadius / scale);
  scene_->addItem(layer);
  layers_.insert(layers_.begin() + index, layer);
  if (selected_ >= index) ++selected_;
  Restack();
  return index;
}

void TLayerView::RemoveLayer(int index) {
  if (index < 0 || index >= LayerCount()) return;
  TLayerItem *layer = layers_[static_cast<std::size_t>(index)];
  layers_.erase(layers_.begin() + index);
  scene_->removeItem(layer);
  delete layer;
  if (selected_ == index)
    selected_ = -1;
  else if (selected_ > index)
    --selected_;
  drag_ = hNone;
  Restack();
}

void TLayerView::ClearLayers() {
  while (!layers_.empty())
    RemoveLayer(LayerCount() - 1);
}

void TLayerView::MoveLayer(int from, int to) {
  if (from < 0 || from >= LayerCount() || to < 0 || to >= LayerCount() || from == to) return;
  TLayerItem *layer = layers_[static_cast<std::size_t>(from)];
  layers_.erase(layers_.begin() + from);
  layers_.insert(layers_.begin() + to, layer);
  if (selected_ == from)
    selected_ = to;
  else if (from < selected_ && selected_ <= to)
    --selected_;
  else if (to <= selected_ && selected_ < from)
    ++selected_;
  Restack();
}

void TLayerView::Restack() {
  for (std::size_t i = 0; i < layers_.size(); ++i)
    layers_[i]->setZValue(static_cast<qreal>(i));
  viewport()->update();
}

void TLayerView::SetLayerPicture(int index, const QImage &picture) {
  if (index >= 0 && index < LayerCount()) layers_[static_cast<std::size_t>(index)]->SetPicture(picture);
}

void TLayerView::SetLayerBox(int index, const QRect &box) {
  if (index < 0 || index >= LayerCount()) return;
  TLayerItem *layer = layers_[static_cast<std::size_t>(index)];
  layer->SetBox(layer->Resizable() ? box : QRect(box.topLeft(), layer->Box().size()));
  viewport()->update();
}

QRect TLayerView::LayerBox(int index) const {
  return index >= 0 && index < LayerCount() ? layers_[static_cast<std::size_t>(index)]->Box() : QRect();
}

void TLayerView::SetLayerOpacity(int index, int opacity) {
  if (index >= 0 && index < LayerCount()) layers_[static_cast<std::size_t>(index)]->SetOpacity(opacity);
}

void TLayerView::SetLayerVisible(int index, bool visible) {
  if (index >= 0 && index < LayerCount()) layers_[static_cast<std::size_t>(index)]->setVisible(visible);
}

bool TLayerView::LayerVisible(int index) const {
  return index >= 0 && index < LayerCount() && layers_[static_cast<std::size_t>(index)]->isVisible();
}

void TLayerView::SetSelected(int index) {
  if (index < -1 || index >= LayerCount()) index = -1;
  if (selected_ >= 0 && selected_ < LayerCount())
    layers_[static_cast<std::size_t>(selected_)]->SetSelected(false);
  selected_ = index;
  if (selected_ >= 0) layers_[static_cast<std::size_t>(selected_)]->SetSelected(true);
}

QPoint TLayerView::ToView(const QPointF &framePoint) const { return mapFromScene(framePoint); }

QPointF TLayerView::ToFrame(const QPoint &viewPoint) const { return mapToScene(viewPoint); }

int TLayerView::HandleAt(const QPoint &viewPoint) const {
  if (selected_ < 0) return hNone;
  const TLayerItem *layer = layers_[static_cast<std::size_t>(selected_)];
  if (!layer->Resizable() || !layer->isVisible()) return hNone;
  // The nearest handle within reach: on a small box several are.
  const auto points = layer->HandlePoints();
  int best = hNone, bestDistance = 2 * kGrabDistance + 1;
  for (std::size_t h = 0; h < points.size(); ++h) {
    const QPoint d = ToView(points[h]) - viewPoint;
    if (std::abs(d.x()) > kGrabDistance || std::abs(d.y()) > kGrabDistance) continue;
    if (d.manhattanLength() < bestDistance) {
      bestDistance = d.manhattanLength();
      best = TLayerItem::HandleEdges(static_cast<int>(h));
    }
  }
  return best;
}

int TLayerView::LayerAt(const QPoint &viewPoint) const {
  const QPointF p = ToFrame(viewPoint);
  for (int i = LayerCount() - 1; i >= 0; --i) {
    const TLayerItem *layer = layers_[static_cast<std::size_t>(i)];
    if (layer->isVisible() && QRectF(layer->Box()).contains(p)) return i;
  }
  return -1;
}

QRect TLayerView::DraggedBox(const QPointF &frameDelta, bool keepCentre) const {
  const int dx = static_cast<int>(std::lround(frameDelta.x()));
  const int dy = static_cast<int>(std::lround(frameDelta.y()));
  if (drag_ == hMove) return dragBox_.translated(dx, dy);
  // Edges as left, top, right, bottom with right and bottom exclusive.
  int l = dragBox_.x(), t = dragBox_.y(), r = l + dragBox_.width(), b = t + dragBox_.height();
  if (drag_ & hLeft) {
    l += dx;
    if (keepCentre) r -= dx;
  }
  if (drag_ & hRight) {
    r += dx;
    if (keepCentre) l -= dx;
  }
  if (drag_ & hTop) {
    t += dy;
    if (keepCentre) b -= dy;
  }
  if (drag_ & hBottom) {
    b += dy;
    if (keepCentre) t -= dy;
  }
  const auto limit = [&](int &low, int &high, int startLow, int startHigh, bool lowEdge) {
    if (high - low >= kMinBoxSize) return;
    if (keepCentre) {
      const int centre = (startLow + startHigh) / 2;
      low = centre - kMinBoxSize / 2;
      high = centre + kMinBoxSize / 2;
    } else if (lowEdge) {
      low = high - kMinBoxSize;
    } else {
      high = low + kMinBoxSize;
    }
  };
  limit(l, r, dragBox_.x(), dragBox_.x() + dragBox_.width(), (drag_ & hLeft) != 0);
  limit(t, b, dragBox_.y(), dragBox_.y() + dragBox_.height(), (drag_ & hTop) != 0);
  return QRect(l, t, r - l, b - t);
}

void TLayerView::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint at = event->position().toPoint();
  drag_ = HandleAt(at);
  if (drag_ == hNone) {
    const int layer = LayerAt(at);
    if (layer < 0) return;
    SetSelected(layer);
    drag_ = hMove;
    emit LayerPressed(layer);
  }
  dragStart_ = ToFrame(at);
  dragBox_ = LayerBox(selected_);
}

void TLayerView::mouseMoveEvent(QMouseEvent *event) {
  if (drag_ == hNone || selected_ < 0 || !(event->buttons() & Qt::LeftButton)) return;
  const QRect box =
      DraggedBox(ToFrame(event->position().toPoint()) - dragStart_, event->modifiers() & Qt::ControlModifier);
  if (box == LayerBox(selected_)) return;
  SetLayerBox(selected_, box);
  emit LayerGeometryChanged(selected_, LayerBox(selected_));
}

void TLayerView::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() == Qt::LeftButton) drag_ = hNone;
}

} // namespace tovi
