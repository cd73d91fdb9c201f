// The preferences of section "settings": snapshot folder, sizes and formats, JPEG
// quality and conversion priority, as the preferences dialog loads, resets and stores
// them.
#pragma once

#include <string>

namespace tovi {

class TAppSettings;

struct TPreferences {
  std::string SnapFolder;
  bool FullSize = true, SmallSize = false; // at least one is on
  bool Bmp = true, Jpg = false;            // at least one is on
  int JpgQuality = 20;                     // 1..100
  int Priority = 1;                        // 0 idle, 1 normal, 2 lower, 3 lowest; -1 none chosen
};

// What the dialog shows: the snapshot folder (one that fails the writability test is
// replaced by DefaultOutputDir(), which is written back), each box from its key, the
// quality and the priority. A file that turns both sizes (or both formats) off shows
// the first of the pair on, as the dialog would never let the user leave it.
TPreferences LoadPreferences(TAppSettings &settings);

// The Default button's values: the default folder, full size, BMP, quality 20, normal
// priority. Nothing is written.
TPreferences DefaultPreferences();

// OK: the folder (DefaultOutputDir() when empty), the four boxes, the quality when it
// is above 0 (held at 100 at most), the priority.
void SavePreferences(TAppSettings &settings, const TPreferences &preferences);

} // namespace tovi
