// The arithmetic of the crop dialog, free of widgets: fitting a picture into a preview
// box, the crop rectangle dragged over the fitted picture, the margins it leaves in
// preview pixels and their scaling to the source picture, the hidden zoom list, and the
// position bar's time mapping.
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <string>

namespace tovi {

// A rectangle in whole pixels (left, top, width, height).
struct TPictureRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int Right() const { return Left + Width; }  // one past the last column
  int Bottom() const { return Top + Height; } // one past the last row
  bool Empty() const { return Width <= 0 || Height <= 0; }
  friend bool operator==(const TPictureRect &, const TPictureRect &) = default;
};

// Margins cut off a picture, in the record's order of the dialog's fields.
struct TCropMargins {
  int Top = 0, Left = 0, Bottom = 0, Right = 0;
  bool Any() const { return Top > 0 || Left > 0 || Bottom > 0 || Right > 0; }
  friend bool operator==(const TCropMargins &, const TCropMargins &) = default;
};

// The rectangle a picture of pictureWidth x pictureHeight is drawn stretched into so
// that it fills a box of boxWidth x boxHeight keeping its shape: it spans the box's
// width (bands above and below) when it is relatively wider than the box, else its
// height (bands left and right). Relative to the box's top-left corner; empty when
// either size is not positive.
TPictureRect FitPictureInBox(int pictureWidth, int pictureHeight, int boxWidth, int boxHeight);

// The margins a crop rectangle leaves of the picture rectangle (both in the same
// pixels); negative values become 0.
TCropMargins MarginsFromTracker(const TPictureRect &picture, const TPictureRect &tracker);

// The crop rectangle for `margins` over `picture`. Margins that would leave less than
// `minSize` pixels are cut back (the bottom and right ones first), so a record written
// for another preview size still gives a usable rectangle.
TPictureRect TrackerFromMargins(const TPictureRect &picture, const TCropMargins &margins, int minSize);

// A preview margin in source pixels: margin x sourceSize / pictureSize, rounded to the
// nearest pixel, then down to an even number (4:2:0 pictures are cut in pixel pairs),
// and kept within 0..sourceSize. 0 when pictureSize is not positive.
int ScaleMarginToSource(int margin, int sourceSize, int pictureSize);

// All four margins scaled; a pair that would leave less than two source pixels is cut
// back (bottom or right first) so the kept picture is never empty.
TCropMargins ScaleMarginsToSource(const TCropMargins &shown, const TPictureRect &picture, int sourceWidth,
                                  int sourceHeight);

// The part of a sourceWidth x sourceHeight picture the source margins keep.
TPictureRect KeptSourceRect(int sourceWidth, int sourceHeight, const TCropMargins &source);

// What a drag on the crop rectangle grabs.
enum class TTrackerHandle {
  None,
  Move,
  TopLeft,
  Top,
  TopRight,
  Right,
  BottomRight,
  Bottom,
  BottomLeft,
  Left
};

// The rectangle after the part `handle` of `start` was dragged by (dx, dy). It stays
// inside `bounds`: when moving, an edge pushed past a bound is put back on it with the
// size kept; when resizing, the dragged edges stop at the bounds and `minSize` pixels
// short of the opposite edges, which stay where they were.
TPictureRect DragTracker(const TPictureRect &start, TTrackerHandle handle, int dx, int dy,
                         const TPictureRect &bounds, int minSize);

// The hidden zoom list: the entry a record's ZoomMode selects ("full" 0, "lbox" 1,
// "orig" and "cent" none = -1, any other text 0), and the ZoomMode Ok writes back for an
// entry (none keeps `current`).
int ZoomListIndex(const std::string &zoomMode);
std::string ZoomModeForIndex(int index, const std::string &current);

// The position bar: (maximum x pts) div duration, and trunc(position / maximum x
// duration) microseconds for a seek; 0 when the duration or the maximum is not positive
// (a file whose length is unknown has no position to show).
int BarPositionForTime(int maximum, std::int64_t ptsUs, std::int64_t durationUs);
std::int64_t TimeForBarPosition(int position, int maximum, std::int64_t durationUs);

// "HH:MM:SS" of a time in microseconds, rounded to whole seconds (negative as 0).
std::string ClockText(std::int64_t us);

} // namespace tovi
