// Where preset files are looked up (docs/engine-options.md):
//   1. the name as a path (absolute, or relative to the working directory);
//   2. for a bare name (no "/"), in each preset folder in turn, the name itself and the
//      name + ".preset": $TOVI_PRESET_DIR, then <config folder>/presets (the config
//      folder is $TOVI_CONFIG_DIR, else $XDG_CONFIG_HOME/tovi-video-converter, else
//      ~/.config/tovi-video-converter), then the installed data folder's presets.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tovi {

// The preset folders in search order; unset variables are left out.
std::vector<std::filesystem::path> PresetFolders();

// The first existing regular file for the preset name, or nothing.
std::optional<std::filesystem::path> FindPresetFile(const std::string &name);

// Upper bound for a preset file: a preset is a few dozen short lines, so anything
// larger is not one (and reading it whole would be unbounded).
constexpr std::uintmax_t MAX_PRESET_FILE_BYTES = 1 << 20;

// The whole file as text. Throws FFmpegException when it cannot be read or exceeds
// MAX_PRESET_FILE_BYTES; `name` is the preset name for the message.
std::string ReadPresetFile(const std::filesystem::path &path, const std::string &name);

} // namespace tovi
