#include "appcore/CropPreview.h"

#include <algorithm>
#include <cstring>

#include "appcore/PictureEffects.h"
#include "media/Bitmap.h"

namespace tovi {

QImage MakeOutputPreview(const QImage &frame, const TCropMargins &sourceMargins,
                         const TPictureAdjustments &adjustments) {
  if (frame.isNull()) return {};
  const QImage bgr =
      frame.format() == QImage::Format_BGR888 ? frame : frame.convertToFormat(QImage::Format_BGR888);
  // The frame may be a pixel smaller than the probed source (odd sizes are decoded to
  // even ones): the margins are applied to what is there.
  const int left = std::clamp(sourceMargins.Left, 0, bgr.width() - 1);
  const int top = std::clamp(sourceMargins.Top, 0, bgr.height() - 1);
  const int width = std::max(bgr.width() - left - std::max(sourceMargins.Right, 0), 1);
  const int height = std::max(bgr.height() - top - std::max(sourceMargins.Bottom, 0), 1);
  // The effects work on our bitmap type; only the kept rows and columns are copied, so
  // a small crop costs less than the whole frame would.
  TBitmap kept(width, height);
  for (int y = 0; y < height; ++y)
    std::memcpy(kept.ScanLine(y), bgr.constScanLine(top + y) + static_cast<std::size_t>(left) * 3,
                static_cast<std::size_t>(width) * 3);
  if (!adjustments.Neutral())
    ApplyPictureEffects(kept, adjustments.Brightness, adjustments.Contrast, adjustments.Saturation,
                        adjustments.Exposure);
  return QImage(kept.Bits(), width, height, kept.RowBytes(), QImage::Format_BGR888).copy();
}

} // namespace tovi
