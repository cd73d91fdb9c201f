#include "appcore/SizeTarget.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tovi {

std::optional<std::int64_t> ParseSizeTarget(const std::string &text, std::string *error) {
  std::string t;
  for (const char c : text)
    if (!std::isspace(static_cast<unsigned char>(c)))
      t += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (t.empty()) return std::nullopt;
  const auto fail = [&](const std::string &why) -> std::optional<std::int64_t> {
    if (error) *error = "\"" + text + "\" is not a size target: " + why;
    return std::nullopt;
  };
  std::size_t digits = 0, dots = 0;
  while (digits < t.size() && (std::isdigit(static_cast<unsigned char>(t[digits])) || t[digits] == '.')) {
    dots += t[digits] == '.';
    ++digits;
  }
  if (digits == 0 || dots > 1 || t == ".")
    return fail("give a number with K, M or G (e.g. 25M, 8.5M, 700K) or bytes");
  std::string unit = t.substr(digits);
  if (unit.size() > 1 && unit.back() == 'B') unit.pop_back(); // "MB", "KB"
  double scale = 1;
  if (unit == "K")
    scale = 1024.0;
  else if (unit == "M")
    scale = 1048576.0;
  else if (unit == "G")
    scale = 1073741824.0;
  else if (!unit.empty() && unit != "B")
    return fail("unknown unit \"" + t.substr(digits) + "\" (K, M or G)");
  if (scale == 1 && dots) return fail("a number of bytes is a whole number");
  double value = 0;
  if (std::sscanf(t.substr(0, digits).c_str(), "%lf", &value) != 1) return fail("not a number");
  const double bytes = std::floor(value * scale);
  if (bytes < 1024) return fail("a target must be at least 1K");
  if (bytes > 1e15) return fail("too large");
  return static_cast<std::int64_t>(bytes);
}

std::string SizeText(std::int64_t bytes) {
  char buf[64];
  const double b = static_cast<double>(bytes);
  if (bytes < 1024)
    std::snprintf(buf, sizeof buf, "%lld bytes", static_cast<long long>(bytes));
  else if (b < 1048576.0)
    std::snprintf(buf, sizeof buf, b < 102400.0 ? "%.1f KB" : "%.0f KB", b / 1024.0);
  else if (b < 1073741824.0)
    std::snprintf(buf, sizeof buf, b < 104857600.0 ? "%.1f MB" : "%.0f MB", b / 1048576.0);
  else
    std::snprintf(buf, sizeof buf, "%.2f GB", b / 1073741824.0);
  return buf;
}

std::int64_t Mp4OverheadBytes(double seconds, double videoFramesPerSecond, double audioFramesPerSecond) {
  return static_cast<std::int64_t>(2560 + seconds * (12 * videoFramesPerSecond + 6 * audioFramesPerSecond));
}

std::optional<TSizePlan> PlanSizeTarget(std::int64_t targetBytes, double seconds, std::int64_t audioBitRate,
                                        double videoFramesPerSecond, std::string *error) {
  const auto fail = [&](const std::string &why) -> std::optional<TSizePlan> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (!(seconds > 0)) return fail("a size target needs the duration of the source, which is unknown");
  TSizePlan plan;
  plan.TargetBytes = targetBytes;
  plan.Seconds = seconds;
  plan.AudioBitRate = std::max<std::int64_t>(audioBitRate, 0);
  const double fps = videoFramesPerSecond > 0 ? videoFramesPerSecond : 25.0;
  // AAC codes 1024 samples a frame; 48 kHz is the most frames a second it makes here.
  plan.OverheadBytes = Mp4OverheadBytes(seconds, fps, plan.AudioBitRate > 0 ? 48000.0 / 1024 : 0);
  const double videoBytes =
      kSizeAim * static_cast<double>(targetBytes) - static_cast<double>(plan.NonVideoBytes());
  const double rate = videoBytes * 8 / seconds;
  if (rate < 20000)
    return fail("the size target " + SizeText(targetBytes) + " is too small for " +
                std::to_string(static_cast<int>(std::lround(seconds))) + " s with " +
                std::to_string(plan.AudioBitRate / 1000) + " kbit/s of audio");
  plan.VideoBitRate = static_cast<std::int64_t>(rate);
  return plan;
}

std::int64_t CorrectedVideoBitRate(const TSizePlan &plan, std::int64_t usedVideoBitRate,
                                   std::int64_t actualBytes) {
  const double nonVideo = static_cast<double>(plan.NonVideoBytes());
  const double wanted = kSizeAim * static_cast<double>(plan.TargetBytes) - nonVideo;
  const double got = std::max(static_cast<double>(actualBytes) - nonVideo, 1.0);
  const double ratio = std::clamp(wanted / got, 0.25, 4.0);
  return static_cast<std::int64_t>(static_cast<double>(usedVideoBitRate) * ratio);
}

std::string SizeOutcomeText(std::int64_t targetBytes, std::int64_t actualBytes, int passes) {
  if (actualBytes > targetBytes)
    return "OVER TARGET: " + SizeText(actualBytes) + " of " + SizeText(targetBytes) + " after " +
           std::to_string(passes) + " passes";
  return SizeText(actualBytes) + " of " + SizeText(targetBytes) + ", " + std::to_string(passes) + " passes";
}

TPassFolder::TPassFolder(const std::string &besideFile) {
  std::string pattern = (std::filesystem::path(besideFile).parent_path() / ".tovi-passes-XXXXXX").string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TPassFolder::~TPassFolder() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string PassOptionLines(const std::string &folder, int pass) {
  return "passlogfile=" + folder + "/pass\r\nstats=" + folder + "/x264.log\r\npass=" + std::to_string(pass);
}

std::int64_t FileBytes(const std::string &name) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(name, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

bool KeepCorrectedOutput(std::int64_t targetBytes, std::int64_t secondBytes, std::int64_t thirdBytes) {
  const auto score = [&](std::int64_t b) {
    if (b < 0) return -1e18;
    return b <= targetBytes ? double(b) : -double(b);
  };
  return score(thirdBytes) > score(secondBytes);
}

} // namespace tovi
