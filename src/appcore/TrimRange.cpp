#include "appcore/TrimRange.h"

#include <algorithm>
#include <cstdio>

namespace tovi {

namespace {

constexpr std::int64_t kUsPerSecond = 1000000;

// round(a * b / c) for a, b >= 0 and c > 0, halves up, without going through floating
// point (durations in microseconds times a slider maximum stay well inside 64 bits).
std::int64_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c) { return (2 * a * b + c) / (2 * c); }

} // namespace

int ValueToPixel(std::int64_t value, std::int64_t maximum, int trackPixels) {
  if (maximum <= 0 || trackPixels <= 0) return 0;
  return static_cast<int>(MulDivRound(std::clamp<std::int64_t>(value, 0, maximum), trackPixels, maximum));
}

std::int64_t PixelToValue(int pixel, std::int64_t maximum, int trackPixels) {
  if (maximum <= 0 || trackPixels <= 0) return 0;
  return MulDivRound(std::clamp(pixel, 0, trackPixels), maximum, trackPixels);
}

int SliderPosition(std::int64_t ptsUs, std::int64_t durationUs, int maximum) {
  if (durationUs <= 0 || maximum <= 0) return 0;
  return static_cast<int>(MulDivRound(std::clamp<std::int64_t>(ptsUs, 0, durationUs), maximum, durationUs));
}

std::int64_t SliderSeekTarget(int position, int maximum, std::int64_t durationUs) {
  if (maximum <= 0 || durationUs <= 0) return 0;
  return std::clamp(position, 0, maximum) * durationUs / maximum;
}

std::int64_t RoundedSeconds(std::int64_t us) { return us <= 0 ? 0 : (us + kUsPerSecond / 2) / kUsPerSecond; }

std::string ShortTimeText(std::int64_t seconds) {
  const std::int64_t s = std::max<std::int64_t>(seconds, 0);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  return text;
}

std::string LongTimeText(std::int64_t us) {
  const std::int64_t ms = std::max<std::int64_t>(us, 0) / 1000;
  const std::int64_t s = ms / 1000;
  char text[40];
  std::snprintf(text, sizeof text, "%.2lld:%.2lld:%.2lld.%.3lld", static_cast<long long>(s / 3600),
                static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60),
                static_cast<long long>(ms % 1000));
  return text;
}

TTrimOutcome TrimFromRange(std::int64_t startSeconds, std::int64_t endSeconds, std::int64_t durationSeconds) {
  TTrimOutcome outcome;
  if (durationSeconds <= 0) return outcome; // tkKeep: nothing to choose from
  const std::int64_t start = std::clamp<std::int64_t>(startSeconds, 0, durationSeconds);
  const std::int64_t end = std::clamp<std::int64_t>(endSeconds, 0, durationSeconds);
  if (end <= start) {
    outcome.Kind = TTrimOutcome::tkRefuse;
    outcome.Message = "Trim End must be later than Trim Start: the range " + ShortTimeText(start) + " - " +
                      ShortTimeText(end) + " keeps nothing of the file.";
    return outcome;
  }
  const std::int64_t length = end - start;
  outcome.Kind = TTrimOutcome::tkStore;
  outcome.TrimStart = start * kUsPerSecond;
  outcome.TrimLength = length >= durationSeconds ? 0 : length * kUsPerSecond;
  return outcome;
}

TTrimMarkers MarkersFromRecord(const TlvFilesRecord &record, std::int64_t durationSeconds) {
  TTrimMarkers markers;
  if (durationSeconds <= 0) return markers;
  const std::int64_t startUs = std::max<std::int64_t>(record.TrimStart, 0);
  markers.StartSeconds = std::min(startUs / kUsPerSecond, durationSeconds);
  markers.EndSeconds = record.TrimLength > 0 ? (startUs + record.TrimLength) / kUsPerSecond : durationSeconds;
  markers.EndSeconds = std::clamp(markers.EndSeconds, markers.StartSeconds, durationSeconds);
  return markers;
}

std::string TrimmedLengthText(const TlvFilesRecord &record) {
  const std::int64_t startSeconds = std::max<std::int64_t>(record.TrimStart, 0) / kUsPerSecond;
  const std::int64_t rest = std::max<std::int64_t>(record.DurationSeconds - startSeconds, 0);
  std::int64_t kept = rest;
  if (record.TrimLength > 0) {
    kept = record.TrimLength / kUsPerSecond;
    if (record.DurationSeconds > 0) kept = std::min(kept, rest); // the conversion ends with the file
  }
  return std::to_string(kept);
}

} // namespace tovi
