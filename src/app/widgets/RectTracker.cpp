#include "app/widgets/RectTracker.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <array>
#include <cstdlib>

namespace tovi {
namespace {

TPictureRect ToPicture(const QRect &r) { return {r.x(), r.y(), r.width(), r.height()}; }
QRect ToQt(const TPictureRect &r) { return {r.Left, r.Top, r.Width, r.Height}; }

constexpr std::array kHandles{
    TTrackerHandle::TopLeft,     TTrackerHandle::Top,    TTrackerHandle::TopRight,   TTrackerHandle::Right,
    TTrackerHandle::BottomRight, TTrackerHandle::Bottom, TTrackerHandle::BottomLeft, TTrackerHandle::Left};

Qt::CursorShape CursorFor(TTrackerHandle h) {
  switch (h) {
  case TTrackerHandle::TopLeft:
  case TTrackerHandle::BottomRight: return Qt::SizeFDiagCursor;
  case TTrackerHandle::TopRight:
  case TTrackerHandle::BottomLeft: return Qt::SizeBDiagCursor;
  case TTrackerHandle::Top:
  case TTrackerHandle::Bottom: return Qt::SizeVerCursor;
  case TTrackerHandle::Left:
  case TTrackerHandle::Right: return Qt::SizeHorCursor;
  case TTrackerHandle::Move: return Qt::SizeAllCursor;
  case TTrackerHandle::None: break;
  }
  return Qt::ArrowCursor;
}

} // namespace

TRectTracker::TRectTracker(QWidget *parent) : QWidget(parent) {
  setAttribute(Qt::WA_NoSystemBackground);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setGeometry(parent->rect());
  parent->installEventFilter(this);
}

bool TRectTracker::eventFilter(QObject *watched, QEvent *event) {
  if (watched == parent() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  return QWidget::eventFilter(watched, event);
}

void TRectTracker::SetBounds(const QRect &bounds) {
  bounds_ = bounds;
  SetRect(rect_.isValid() ? rect_ : bounds);
}

void TRectTracker::SetRect(const QRect &rect) {
  // A move of nothing clamps the rectangle into the bounds keeping its size.
  const TPictureRect clamped =
      DragTracker(ToPicture(rect), TTrackerHandle::Move, 0, 0, ToPicture(bounds_), minExtent_);
  rect_ = ToQt(clamped);
  update();
}

void TRectTracker::Change(const QRect &rect) {
  if (rect == rect_) return;
  rect_ = rect;
  update();
  emit RectChanged(rect_);
}

QPoint TRectTracker::HandleCenter(TTrackerHandle handle) const {
  const int l = rect_.x(), t = rect_.y(), r = rect_.x() + rect_.width(), b = rect_.y() + rect_.height();
  const int cx = l + rect_.width() / 2, cy = t + rect_.height() / 2;
  switch (handle) {
  case TTrackerHandle::TopLeft: return {l, t};
  case TTrackerHandle::Top: return {cx, t};
  case TTrackerHandle::TopRight: return {r, t};
  case TTrackerHandle::Right: return {r, cy};
  case TTrackerHandle::BottomRight: return {r, b};
  case TTrackerHandle::Bottom: return {cx, b};
  case TTrackerHandle::BottomLeft: return {l, b};
  case TTrackerHandle::Left: return {l, cy};
  case TTrackerHandle::Move:
  case TTrackerHandle::None: break;
  }
  return {cx, cy};
}

TTrackerHandle TRectTracker::HandleAt(const QPoint &point) const {
  if (rect_.isEmpty()) return TTrackerHandle::None;
  const int half = kHandleSize / 2 + 1; // a pixel of slack around the drawn square
  for (TTrackerHandle h : kHandles) {
    const QPoint c = HandleCenter(h);
    if (std::abs(point.x() - c.x()) <= half && std::abs(point.y() - c.y()) <= half) return h;
  }
  return rect_.contains(point) ? TTrackerHandle::Move : TTrackerHandle::None;
}

void TRectTracker::paintEvent(QPaintEvent *) {
  if (rect_.isEmpty()) return;
  QPainter p(this);
  // Dashed black over solid white reads on dark and light pictures alike.
  p.setPen(QPen(Qt::white, 1));
  p.drawRect(rect_.adjusted(0, 0, -1, -1));
  p.setPen(QPen(Qt::black, 1, Qt::DashLine));
  p.drawRect(rect_.adjusted(0, 0, -1, -1));
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  for (TTrackerHandle h : kHandles) {
    const QPoint c = HandleCenter(h);
    p.drawRect(c.x() - kHandleSize / 2, c.y() - kHandleSize / 2, kHandleSize - 1, kHandleSize - 1);
  }
}

void TRectTracker::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  dragging_ = HandleAt(event->position().toPoint());
  pressedAt_ = event->position().toPoint();
  pressedRect_ = rect_;
  setFocus(Qt::MouseFocusReason);
  if (dragging_ == TTrackerHandle::None) event->ignore();
}

void TRectTracker::mouseMoveEvent(QMouseEvent *event) {
  const QPoint at = event->position().toPoint();
  if (dragging_ == TTrackerHandle::None) {
    setCursor(CursorFor(HandleAt(at)));
    return;
  }
  const QPoint d = at - pressedAt_;
  Change(ToQt(DragTracker(ToPicture(pressedRect_), dragging_, d.x(), d.y(), ToPicture(bounds_), minExtent_)));
}

void TRectTracker::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() == Qt::LeftButton) dragging_ = TTrackerHandle::None;
}

void TRectTracker::keyPressEvent(QKeyEvent *event) {
  int dx = 0, dy = 0;
  switch (event->key()) {
  case Qt::Key_Left: dx = -1; break;
  case Qt::Key_Right: dx = 1; break;
  case Qt::Key_Up: dy = -1; break;
  case Qt::Key_Down: dy = 1; break;
  default: return QWidget::keyPressEvent(event);
  }
  const TTrackerHandle what =
      event->modifiers() & Qt::ShiftModifier ? TTrackerHandle::BottomRight : TTrackerHandle::Move;
  Change(ToQt(DragTracker(ToPicture(rect_), what, dx, dy, ToPicture(bounds_), minExtent_)));
}

} // namespace tovi
