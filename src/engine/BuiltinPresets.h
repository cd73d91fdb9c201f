// The 40 built-in presets: named lists of key=value lines, one per line feed, written in
// option names that this generation's libx264 wrapper accepts (generic codec options
// and the wrapper's private options). docs/engine-options.md maps them to the older
// option names they replace.
#pragma once

#include <span>
#include <string_view>

namespace tovi {

struct TBuiltinPreset {
  std::string_view Name;
  std::string_view Text;
};

// All presets, in table order.
std::span<const TBuiltinPreset> BuiltinPresets();
// The preset of that name, ignoring letter case; null when there is none.
const TBuiltinPreset *FindBuiltinPreset(std::string_view name);

} // namespace tovi
