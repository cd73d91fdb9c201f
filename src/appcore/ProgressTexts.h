// What the progress window and the Progress column show for one progress report, and
// where the live preview is drawn.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "converter/Converter.h"

namespace tovi {

struct TProgressTexts {
  std::optional<int> Percent; // nullopt while the total duration is unknown or 0
  std::string Time;           // "12 Second"
  std::string Length;         // "30 Second"; "unknown" while the total is unknown or 0
  std::string Size;           // "1234 kb" (thousands of bytes)
  std::string Position;       // "[1/2]"
  std::string File;           // the row caption, shortened
};

TProgressTexts ProgressTexts(const TProgressInfo &info, int taskCount, const std::string &caption);

// The file label: the caption when shorter than 51 characters, else its first 44
// characters + ".." + its extension (with the dot).
std::string ShortFileLabel(const std::string &caption);

struct TPreviewRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0; // right and bottom exclusive
};

// A picture of `sourceW` x `sourceH` scaled to fit a `targetW` x `targetH` area keeping its
// proportions, centred; the margin is rounded to the nearest whole pixel, halves to the
// even neighbour. An empty rectangle when either size is not above 0.
TPreviewRect FitPreviewRect(int targetW, int targetH, int sourceW, int sourceH);

} // namespace tovi
