// The crop dialog's output preview: the kept part of a player frame with the picture
// adjustments of the file's record applied, as the conversion's custom hook applies
// them to every converted frame.
//
// Threads: pure function; call it on a copy the caller owns (the GUI thread's copy of
// the newest hooked frame).
#pragma once

#include <QImage>

#include "appcore/CropGeometry.h"

namespace tovi {

// The picture adjustments of a record, neutral by default.
struct TPictureAdjustments {
  int Brightness = 255; // 0..512
  int Contrast = 0;     // -100..100
  int Saturation = 255; // 0..512
  int Exposure = 0;     // -255..512
  bool Neutral() const { return Brightness == 255 && Contrast == 0 && Saturation == 255 && Exposure == 0; }
  friend bool operator==(const TPictureAdjustments &, const TPictureAdjustments &) = default;
};

// The part of `frame` the source margins keep (margins larger than the frame keep at
// least one pixel row and column), with the adjustments applied when any differs from
// neutral. A 24-bit BGR image; null for a null frame.
QImage MakeOutputPreview(const QImage &frame, const TCropMargins &sourceMargins,
                         const TPictureAdjustments &adjustments);

} // namespace tovi
