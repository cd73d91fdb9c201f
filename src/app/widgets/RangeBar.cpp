#include "app/widgets/RangeBar.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "appcore/TrimRange.h"

namespace tovi {

namespace {

const QColor kBarColor(0x20, 0x4B, 0x8B);  // the bar behind the markers
const QColor kBandColor(0xFF, 0x99, 0x00); // the chosen range
const QColor kMarkerColor(0xEE, 0xEE, 0xEE);
const QColor kMarkerEdge(0x30, 0x30, 0x30);

} // namespace

TRangeBar::TRangeBar(QWidget *parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TRangeBar::SetMaximum(int maximum) {
  maximum_ = std::max(maximum, 0);
  SetValues(start_, end_);
}

void TRangeBar::SetValues(int start, int end) {
  start_ = std::clamp(start, 0, maximum_);
  end_ = std::clamp(end, start_, maximum_);
  update();
}

int TRangeBar::TrackPixels() const { return std::max(width() - kMarkerWidth, 0); }

int TRangeBar::MarkerPixel(int value) const { return ValueToPixel(value, maximum_, TrackPixels()); }

QPoint TRangeBar::PointFor(int value) const { return {MarkerPixel(value) + kMarkerWidth / 2, height() / 2}; }

QSize TRangeBar::sizeHint() const { return {400, 20}; }
QSize TRangeBar::minimumSizeHint() const { return {4 * kMarkerWidth, 20}; }

bool TRangeBar::Place(TMarker marker, int value) {
  int &target = marker == mkStart ? start_ : end_;
  const int low = marker == mkStart ? 0 : start_;
  const int high = marker == mkStart ? end_ : maximum_;
  const int placed = std::clamp(value, low, high);
  if (placed == target) return false;
  target = placed;
  update();
  return true;
}

TRangeBar::TMarker TRangeBar::MarkerForPress(int x) const {
  // The middle between the markers' centres decides; on it, the end marker (so that two
  // markers at 0 can still be pulled apart to the right).
  const int middle = (MarkerPixel(start_) + MarkerPixel(end_) + kMarkerWidth) / 2;
  return x < middle ? mkStart : mkEnd;
}

void TRangeBar::MoveTo(TMarker marker, int x) {
  const int value = static_cast<int>(PixelToValue(x - kMarkerWidth / 2, maximum_, TrackPixels()));
  if (Place(marker, value)) emit MarkerMoved(marker, marker == mkStart ? start_ : end_);
}

void TRangeBar::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton || maximum_ <= 0) {
    QWidget::mousePressEvent(event);
    return;
  }
  const int x = static_cast<int>(event->position().x());
  focused_ = MarkerForPress(x);
  dragging_ = true;
  MoveTo(focused_, x);
  update();
}

void TRangeBar::mouseMoveEvent(QMouseEvent *event) {
  if (!dragging_) return;
  MoveTo(focused_, static_cast<int>(event->position().x()));
}

void TRangeBar::mouseReleaseEvent(QMouseEvent *event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return;
  MoveTo(focused_, static_cast<int>(event->position().x()));
  dragging_ = false;
  emit MarkerReleased(focused_, focused_ == mkStart ? start_ : end_);
}

void TRangeBar::keyPressEvent(QKeyEvent *event) {
  const int current = focused_ == mkStart ? start_ : end_;
  const int page = std::max(maximum_ / 10, 1);
  int wanted = current;
  switch (event->key()) {
  case Qt::Key_Left:
  case Qt::Key_Down: wanted = current - 1; break;
  case Qt::Key_Right:
  case Qt::Key_Up: wanted = current + 1; break;
  case Qt::Key_PageDown: wanted = current - page; break;
  case Qt::Key_PageUp: wanted = current + page; break;
  case Qt::Key_Home: wanted = 0; break;
  case Qt::Key_End: wanted = maximum_; break;
  default: QWidget::keyPressEvent(event); return;
  }
  if (Place(focused_, wanted)) {
    const int value = focused_ == mkStart ? start_ : end_;
    emit MarkerMoved(focused_, value);
    emit MarkerReleased(focused_, value);
  }
  event->accept();
}

bool TRangeBar::focusNextPrevChild(bool next) {
  if (next && focused_ == mkStart) {
    focused_ = mkEnd;
    update();
    return true;
  }
  if (!next && focused_ == mkEnd) {
    focused_ = mkStart;
    update();
    return true;
  }
  return QWidget::focusNextPrevChild(next);
}

void TRangeBar::focusInEvent(QFocusEvent *event) {
  if (event->reason() == Qt::TabFocusReason) focused_ = mkStart;
  if (event->reason() == Qt::BacktabFocusReason) focused_ = mkEnd;
  QWidget::focusInEvent(event);
  update();
}

void TRangeBar::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), kBarColor);
  const int startX = MarkerPixel(start_), endX = MarkerPixel(end_);
  const int bandTop = height() / 2 - 3;
  p.fillRect(QRect(startX + kMarkerWidth / 2, bandTop, endX - startX, 6), kBandColor);
  for (const TMarker marker : {mkStart, mkEnd}) {
    const int x = marker == mkStart ? startX : endX;
    const QRect box(x, 1, kMarkerWidth - 1, height() - 3);
    p.setPen(kMarkerEdge);
    p.setBrush(kMarkerColor);
    p.drawRect(box);
    // A notch on the side facing the range tells the two apart.
    const int notchX = marker == mkStart ? box.right() - 2 : box.left() + 2;
    p.drawLine(notchX, box.top() + 3, notchX, box.bottom() - 3);
    if (hasFocus() && marker == focused_) {
      p.setPen(QPen(palette().color(QPalette::Highlight), 2));
      p.setBrush(Qt::NoBrush);
      p.drawRect(box.adjusted(-1, -1, 1, 1));
    }
  }
}

} // namespace tovi
