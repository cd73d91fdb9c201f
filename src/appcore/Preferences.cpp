#include "appcore/Preferences.h"

#include <algorithm>

#include "appcore/GlobalObject.h"
#include "appcore/Settings.h"

namespace tovi {

TPreferences LoadPreferences(TAppSettings &settings) {
  TPreferences p;
  p.SnapFolder = settings.SnapOutPutDir();
  if (!IsDirectoryWritable(p.SnapFolder)) {
    p.SnapFolder = DefaultOutputDir();
    settings.SetSnapOutPutDir(p.SnapFolder);
  }
  p.FullSize = settings.SnapFullSize();
  p.SmallSize = settings.SnapSmallSize();
  if (!p.FullSize && !p.SmallSize) p.FullSize = true;
  p.Bmp = settings.SnapBmp();
  p.Jpg = settings.SnapJpg();
  if (!p.Bmp && !p.Jpg) p.Bmp = true;
  p.JpgQuality = std::clamp(settings.JpgCmp(), 1, 100);
  p.Priority = settings.Priority();
  if (p.Priority < 0 || p.Priority > 3) p.Priority = 1;
  return p;
}

TPreferences DefaultPreferences() {
  TPreferences p;
  p.SnapFolder = DefaultOutputDir();
  return p;
}

void SavePreferences(TAppSettings &settings, const TPreferences &p) {
  settings.SetSnapOutPutDir(p.SnapFolder.empty() ? DefaultOutputDir() : p.SnapFolder);
  settings.SetSnapBmp(p.Bmp);
  settings.SetSnapJpg(p.Jpg);
  settings.SetSnapFullSize(p.FullSize);
  settings.SetSnapSmallSize(p.SmallSize);
  if (p.JpgQuality > 0) settings.SetJpgCmp(std::min(p.JpgQuality, 100));
  settings.SetPriority(p.Priority);
}

} // namespace tovi
