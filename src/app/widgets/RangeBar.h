// A horizontal bar choosing a range of whole numbers 0..Maximum with two markers, the
// start (low value) and the end (high value); the band between them is the range.
//
// Mouse: a press left of the middle between the markers takes the start marker, right
// of it the end marker; the marker jumps under the pointer and follows it while the
// button is held. Keyboard: Left/Down and Right/Up move the focused marker by one,
// Page Up/Page Down by a tenth of the range, Home/End to the ends; Tab moves the focus
// from the start marker to the end marker before it leaves the bar (Shift+Tab back).
// The markers never cross: one pushed against the other stops there, so the range can
// be empty (start equal to end) but never inverted.
//
// The setters do not emit: the signals report what the user did.
#pragma once

#include <QWidget>

namespace tovi {

class TRangeBar final : public QWidget {
  Q_OBJECT
public:
  enum TMarker { mkStart = 0, mkEnd = 1 };

  explicit TRangeBar(QWidget *parent = nullptr);

  int Maximum() const { return maximum_; }
  // Sets the range 0..maximum (negative taken as 0) and clamps the values into it.
  void SetMaximum(int maximum);
  int Start() const { return start_; }
  int End() const { return end_; }
  // Both values, clamped to the range; an end below the start is raised to it.
  void SetValues(int start, int end);
  TMarker FocusedMarker() const { return focused_; }
  // True while the user holds a marker with the mouse.
  bool Dragging() const { return dragging_; }

  // Width of a marker in pixels; a marker at value v covers [pixel(v), pixel(v) + width).
  static constexpr int kMarkerWidth = 10;
  // Pixels the markers move over: the bar's width less one marker.
  int TrackPixels() const;
  // Left edge of the marker at `value`, in the bar's coordinates.
  int MarkerPixel(int value) const;
  // Where to press to put a marker on `value` (the middle of the marker there).
  QPoint PointFor(int value) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

signals:
  // The user moved `marker` to `value` (press, drag or a key).
  void MarkerMoved(int marker, int value);
  // The user let go of `marker` at `value` (button released, or after each key).
  void MarkerReleased(int marker, int value);

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  bool focusNextPrevChild(bool next) override;
  void focusInEvent(QFocusEvent *event) override;

private:
  // Moves `marker` to the value under pointer x (centred on the marker), within the other.
  void MoveTo(TMarker marker, int x);
  // Sets `marker` to `value` within the range and the other marker; true when it moved.
  bool Place(TMarker marker, int value);
  TMarker MarkerForPress(int x) const;

  int maximum_ = 0;
  int start_ = 0, end_ = 0;
  TMarker focused_ = mkStart;
  bool dragging_ = false;
};

} // namespace tovi
