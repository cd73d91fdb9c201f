// A rectangle tracker over an image area: a frame with eight handles that the user
// drags to resize the rectangle, or drags by its inside to move it. The rectangle
// stays inside a bounding rectangle (the picture) and keeps a minimum size; the arrow
// keys move it by a pixel and, with Shift, move its right and bottom edges.
//
// The tracker is a transparent child laid over the widget that shows the picture; its
// coordinates are that widget's. Threads: GUI thread only.
#pragma once

#include <QRect>
#include <QWidget>

#include "appcore/CropGeometry.h"

namespace tovi {

class TRectTracker final : public QWidget {
  Q_OBJECT
public:
  // Covers `parent` and follows its size.
  explicit TRectTracker(QWidget *parent);

  // Where the rectangle may go; the rectangle is clamped into it.
  void SetBounds(const QRect &bounds);
  QRect Bounds() const { return bounds_; }
  // Sets the rectangle (clamped into the bounds; not signalled).
  void SetRect(const QRect &rect);
  QRect Rect() const { return rect_; }
  void SetMinimumExtent(int pixels) { minExtent_ = pixels; }
  int MinimumExtent() const { return minExtent_; }

  // The part of the tracker at `point` (handles win over the inside).
  TTrackerHandle HandleAt(const QPoint &point) const;
  // The centre of a handle (for tests and the cursor shapes).
  QPoint HandleCenter(TTrackerHandle handle) const;

  static constexpr int kHandleSize = 7;

signals:
  // After every change the user makes (drag step or key press).
  void RectChanged(const QRect &rect);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;

private:
  void Change(const QRect &rect);

  QRect bounds_;
  QRect rect_;
  int minExtent_ = 10;
  TTrackerHandle dragging_ = TTrackerHandle::None;
  QPoint pressedAt_;
  QRect pressedRect_;
};

} // namespace tovi
