#include "appcore/FileRecord.h"

namespace tovi {

bool TWmRec::CoversTime(std::int64_t ptsUs) const {
  // Whole seconds, truncated: [Start, End] covers time stamps in [Start, End + 1) s.
  const std::int64_t t = ptsUs / 1000000;
  return Start <= t && t <= End;
}

bool TlvFilesRecord::NeedsCustomHook() const {
  if (HasEffects()) return true;
  return !Watermarks.empty() && (!Watermarks.front().Text.empty() || !Watermarks.front().PictureFile.empty());
}

} // namespace tovi
