// Conversions of option value texts. The strict forms accept the whole text or throw
// FFmpegException with the runtime-style message; the prefix forms behave like the C
// runtime's atoi/strtol/strtod and never throw.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovi::engine {

std::string Trim(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b); // ASCII, ignoring case

// Boolean option values: true unless the text is exactly "0".
inline bool OptionBool(const std::string &value) { return value != "0"; }

// Decimal, or hexadecimal with "0x"/"$", optional sign, surrounding blanks allowed.
// Out of range or anything else: "'%s' is not a valid integer value".
int StrictInt(const std::string &text);
std::int64_t StrictInt64(const std::string &text);
// Locale-independent decimal floating point; "'%s' is not a valid floating point value".
double StrictFloat(const std::string &text);

// strtol with base 0 starting at `pos`; `pos` moves past the digits read. Never reads
// past the end of `text`. Values beyond int are clamped.
int PrefixInt(const std::string &text, size_t &pos);
// A decimal floating-point prefix starting at `pos` (as strtod in the C locale);
// `pos` moves past what was read, 0 when nothing was.
double PrefixFloat(const std::string &text, size_t &pos);

// "%d"-style text of a number, for the generic setter's integer form.
std::string IntText(std::int64_t value);

} // namespace tovi::engine
