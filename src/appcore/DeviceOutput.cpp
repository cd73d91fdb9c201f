#include "appcore/DeviceOutput.h"

#include <algorithm>
#include <cstdint>

#include "appcore/IniFile.h"

namespace tovi {

void AskPixelFormat(const std::string &format, TOutputOptions &out) {
  const std::string name = TrimBlanks(format);
  if (name.empty() || LowerCase(name) == "as source") return;
  out.ExtOptions += (out.ExtOptions.empty() ? "" : "\n") + std::string("pix_fmt=") + name;
}

void FollowVideoBitRate(const std::string &maxRate, const std::string &bufferSize, TOutputOptions &out) {
  if (out.VideoBitrate <= 0) return;
  std::int64_t profileMax = 0, profileBuffer = 0;
  if (!IsIntegerText(maxRate, &profileMax)) profileMax = 0;
  if (!IsIntegerText(bufferSize, &profileBuffer)) profileBuffer = 0;
  const std::int64_t max =
      std::min<std::int64_t>(std::max<std::int64_t>(profileMax, out.VideoBitrate), INT32_MAX);
  out.VideoMaxRate = static_cast<std::int32_t>(max);
  out.VideoBufSize =
      static_cast<std::int32_t>(std::min<std::int64_t>(std::max(profileBuffer, max), INT32_MAX));
}

} // namespace tovi
