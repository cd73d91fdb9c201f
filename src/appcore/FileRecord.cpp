#include "appcore/FileRecord.h"

#include <algorithm>

namespace tovi {

bool TWmRec::CoversTime(std::int64_t ptsUs) const {
  // Whole seconds, truncated: [Start, End] covers time stamps in [Start, End + 1) s.
  const std::int64_t t = ptsUs / 1000000;
  return Start <= t && t <= End;
}

bool TlvFilesRecord::NeedsCustomHook() const {
  if (HasEffects()) return true;
  return std::any_of(Watermarks.begin(), Watermarks.end(),
                     [](const TWmRec &mark) { return !mark.Text.empty() || !mark.PictureFile.empty(); });
}

} // namespace tovi
