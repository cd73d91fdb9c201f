#include "engine/ValueParsing.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "engine/FFmpegException.h"

namespace tovi::engine {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Parses the whole trimmed text as a signed integer; false on any leftover or overflow.
bool ParseWholeInt64(const std::string &text, std::int64_t &out) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (t[i] == '+' || t[i] == '-') negative = t[i++] == '-';
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  std::uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(t.data() + i, t.data() + t.size(), magnitude, base);
  if (ec != std::errc() || end != t.data() + t.size()) return false;
  const std::uint64_t limit = negative ? std::uint64_t(INT64_MAX) + 1 : std::uint64_t(INT64_MAX);
  if (magnitude > limit) return false;
  out = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

} // namespace

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b]))
    ++b;
  while (e > b && IsBlank(text[e - 1]))
    --e;
  return std::string(text.substr(b, e - b));
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int StrictInt(const std::string &text) {
  std::int64_t v = 0;
  if (!ParseWholeInt64(text, v) || v < INT_MIN || v > INT_MAX)
    throw FFmpegException::Fmt("'%s' is not a valid integer value", text.c_str());
  return static_cast<int>(v);
}

std::int64_t StrictInt64(const std::string &text) {
  std::int64_t v = 0;
  if (!ParseWholeInt64(text, v))
    throw FFmpegException::Fmt("'%s' is not a valid integer value", text.c_str());
  return v;
}

double StrictFloat(const std::string &text) {
  const std::string t = Trim(text);
  const char *begin = t.data();
  const char *end = t.data() + t.size();
  if (begin != end && *begin == '+') ++begin;
  double v = 0;
  const auto [stop, ec] = std::from_chars(begin, end, v);
  if (t.empty() || ec != std::errc() || stop != end || !std::isfinite(v))
    throw FFmpegException::Fmt("'%s' is not a valid floating point value", text.c_str());
  return v;
}

int PrefixInt(const std::string &text, size_t &pos) {
  if (pos >= text.size()) return 0;
  const char *start = text.c_str() + pos;
  char *stop = nullptr;
  const long v = std::strtol(start, &stop, 0);
  pos += static_cast<size_t>(stop - start);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

double PrefixFloat(const std::string &text, size_t &pos) {
  // from_chars rather than strtod: the application may run under a locale whose decimal
  // separator is not ".".
  size_t i = pos;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  if (i < text.size() && text[i] == '+') ++i;
  double v = 0;
  const auto [stop, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v);
  if (ec != std::errc()) return 0;
  pos = static_cast<size_t>(stop - text.data());
  return v;
}

std::string IntText(std::int64_t value) { return std::to_string(value); }

} // namespace tovi::engine
