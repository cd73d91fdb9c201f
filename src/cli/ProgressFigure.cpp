#include "cli/ProgressFigure.h"

#include <algorithm>

#include "media/StringFormat.h"

namespace tovi::cli {

void TProgressFigure::Start(TClock::time_point start) {
  if (started_) return;
  started_ = true;
  start_ = start;
}

bool TProgressFigure::Update(std::int64_t currentUs, std::int64_t totalUs, TClock::time_point now) {
  Start(now);
  elapsed_ = std::chrono::duration<double>(now - start_).count();
  if (totalUs <= 0) return false;
  const int before = int(Percent());
  // Only a finished file shows 100 %.
  const double reached =
      std::clamp(double(std::max<std::int64_t>(currentUs, 0)) / double(totalUs), 0.0, 0.999);
  fraction_ = std::max(fraction_, reached);
  return int(Percent()) != before;
}

bool TProgressFigure::Finish(TClock::time_point now) {
  Start(now);
  elapsed_ = std::chrono::duration<double>(now - start_).count();
  const bool changed = fraction_ < 1;
  fraction_ = 1;
  return changed;
}

double TProgressFigure::LeftSeconds() const {
  if (fraction_ >= 1) return 0;
  if (fraction_ < 0.01 || elapsed_ <= 0) return -1;
  return elapsed_ * (1 - fraction_) / fraction_;
}

std::string TProgressFigure::Text() const {
  std::string text = Known() ? StringFormat("%3d%%", int(Percent())) : std::string("  ?%");
  text += "  elapsed " + ClockText(elapsed_);
  if (const double left = LeftSeconds(); left >= 0) text += "  left " + ClockText(left);
  return text;
}

std::string ClockText(double seconds) {
  const long total = long(std::max(seconds, 0.0) + 0.5);
  if (total >= 3600) return StringFormat("%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return StringFormat("%ld:%02ld", total / 60, total % 60);
}

} // namespace tovi::cli
