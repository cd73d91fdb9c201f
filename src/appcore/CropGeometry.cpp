#include "appcore/CropGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tovi {
namespace {

// Cuts a pair of margins back so that `size - first - second` is at least `keep`: the
// second one goes first, then the first.
void KeepAtLeast(int size, int keep, int &first, int &second) {
  const int excess = first + second - std::max(size - keep, 0);
  if (excess <= 0) return;
  const int fromSecond = std::min(excess, second);
  second -= fromSecond;
  first -= excess - fromSecond;
}

} // namespace

TPictureRect FitPictureInBox(int pictureWidth, int pictureHeight, int boxWidth, int boxHeight) {
  if (pictureWidth <= 0 || pictureHeight <= 0 || boxWidth <= 0 || boxHeight <= 0) return {};
  const double a = static_cast<double>(pictureWidth) / boxWidth;
  const double b = static_cast<double>(pictureHeight) / boxHeight;
  if (a >= b) {
    const int m = static_cast<int>(std::lround((boxHeight - pictureHeight / a) / 2));
    return {0, m, boxWidth, boxHeight - 2 * m};
  }
  const int m = static_cast<int>(std::lround((boxWidth - pictureWidth / b) / 2));
  return {m, 0, boxWidth - 2 * m, boxHeight};
}

TCropMargins MarginsFromTracker(const TPictureRect &picture, const TPictureRect &tracker) {
  TCropMargins m;
  m.Top = std::max(tracker.Top - picture.Top, 0);
  m.Bottom = std::max(picture.Height + picture.Top - tracker.Height - tracker.Top, 0);
  m.Left = std::max(tracker.Left - picture.Left, 0);
  m.Right = std::max(picture.Width + picture.Left - tracker.Width - tracker.Left, 0);
  return m;
}

TPictureRect TrackerFromMargins(const TPictureRect &picture, const TCropMargins &margins, int minSize) {
  int top = std::clamp(margins.Top, 0, std::max(picture.Height, 0));
  int bottom = std::clamp(margins.Bottom, 0, std::max(picture.Height, 0));
  int left = std::clamp(margins.Left, 0, std::max(picture.Width, 0));
  int right = std::clamp(margins.Right, 0, std::max(picture.Width, 0));
  KeepAtLeast(picture.Height, std::min(minSize, picture.Height), top, bottom);
  KeepAtLeast(picture.Width, std::min(minSize, picture.Width), left, right);
  return {picture.Left + left, picture.Top + top, picture.Width - left - right,
          picture.Height - top - bottom};
}

int ScaleMarginToSource(int margin, int sourceSize, int pictureSize) {
  if (pictureSize <= 0 || sourceSize <= 0 || margin <= 0) return 0;
  const long scaled = std::lround(static_cast<double>(margin) * sourceSize / pictureSize);
  const int even = static_cast<int>(scaled / 2 * 2);
  return std::clamp(even, 0, sourceSize / 2 * 2);
}

TCropMargins ScaleMarginsToSource(const TCropMargins &shown, const TPictureRect &picture, int sourceWidth,
                                  int sourceHeight) {
  TCropMargins s;
  s.Top = ScaleMarginToSource(shown.Top, sourceHeight, picture.Height);
  s.Bottom = ScaleMarginToSource(shown.Bottom, sourceHeight, picture.Height);
  s.Left = ScaleMarginToSource(shown.Left, sourceWidth, picture.Width);
  s.Right = ScaleMarginToSource(shown.Right, sourceWidth, picture.Width);
  // Two pixels kept at least; the pairs stay even because every term is.
  KeepAtLeast(sourceHeight / 2 * 2, 2, s.Top, s.Bottom);
  KeepAtLeast(sourceWidth / 2 * 2, 2, s.Left, s.Right);
  return s;
}

TPictureRect KeptSourceRect(int sourceWidth, int sourceHeight, const TCropMargins &source) {
  return {source.Left, source.Top, std::max(sourceWidth - source.Left - source.Right, 0),
          std::max(sourceHeight - source.Top - source.Bottom, 0)};
}

TPictureRect DragTracker(const TPictureRect &start, TTrackerHandle handle, int dx, int dy,
                         const TPictureRect &bounds, int minSize) {
  int left = start.Left, top = start.Top, right = start.Right(), bottom = start.Bottom();
  if (handle == TTrackerHandle::Move) {
    const int w = std::min(start.Width, bounds.Width), h = std::min(start.Height, bounds.Height);
    left = std::clamp(left + dx, bounds.Left, bounds.Right() - w);
    top = std::clamp(top + dy, bounds.Top, bounds.Bottom() - h);
    return {left, top, w, h};
  }
  const bool moveLeft = handle == TTrackerHandle::TopLeft || handle == TTrackerHandle::Left ||
                        handle == TTrackerHandle::BottomLeft;
  const bool moveRight = handle == TTrackerHandle::TopRight || handle == TTrackerHandle::Right ||
                         handle == TTrackerHandle::BottomRight;
  const bool moveTop = handle == TTrackerHandle::TopLeft || handle == TTrackerHandle::Top ||
                       handle == TTrackerHandle::TopRight;
  const bool moveBottom = handle == TTrackerHandle::BottomLeft || handle == TTrackerHandle::Bottom ||
                          handle == TTrackerHandle::BottomRight;
  // A bounding rectangle smaller than the minimum size allows only itself.
  const int minW = std::min(minSize, bounds.Width), minH = std::min(minSize, bounds.Height);
  if (moveLeft) left = std::clamp(left + dx, bounds.Left, std::max(right - minW, bounds.Left));
  if (moveRight) right = std::clamp(right + dx, std::min(left + minW, bounds.Right()), bounds.Right());
  if (moveTop) top = std::clamp(top + dy, bounds.Top, std::max(bottom - minH, bounds.Top));
  if (moveBottom) bottom = std::clamp(bottom + dy, std::min(top + minH, bounds.Bottom()), bounds.Bottom());
  return {left, top, right - left, bottom - top};
}

int ZoomListIndex(const std::string &zoomMode) {
  if (zoomMode == "lbox") return 1;
  if (zoomMode == "orig" || zoomMode == "cent") return -1;
  return 0;
}

std::string ZoomModeForIndex(int index, const std::string &current) {
  if (index == 0) return "full";
  if (index == 1) return "lbox";
  return current;
}

int BarPositionForTime(int maximum, std::int64_t ptsUs, std::int64_t durationUs) {
  if (durationUs <= 0 || maximum <= 0) return 0;
  return static_cast<int>(std::clamp<std::int64_t>(maximum * ptsUs / durationUs, 0, maximum));
}

std::int64_t TimeForBarPosition(int position, int maximum, std::int64_t durationUs) {
  if (durationUs <= 0 || maximum <= 0) return 0;
  return static_cast<std::int64_t>(static_cast<double>(position) / maximum * static_cast<double>(durationUs));
}

std::string ClockText(std::int64_t us) {
  const std::int64_t s = std::max<std::int64_t>((us + 500000) / 1000000, 0);
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  return text;
}

} // namespace tovi
