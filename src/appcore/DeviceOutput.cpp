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

void AddProfileOutputOptions(const std::string &items, TOutputOptions &out) {
  std::size_t start = 0;
  while (start <= items.size()) {
    const auto end = std::min(items.find(';', start), items.size());
    const std::string item = TrimBlanks(items.substr(start, end - start));
    if (!item.empty()) out.ExtOptions += (out.ExtOptions.empty() ? "" : "\n") + item;
    start = end + 1;
  }
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
