#include "engine/PresetFiles.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/FFmpegException.h"

#ifndef TOVI_PRESET_DATA_DIR
#define TOVI_PRESET_DATA_DIR "/usr/share/tovi-video-converter/presets"
#endif

namespace tovi {

namespace fs = std::filesystem;

namespace {

std::string Env(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

bool IsFile(const fs::path &path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

} // namespace

std::vector<fs::path> PresetFolders() {
  std::vector<fs::path> folders;
  if (const std::string dir = Env("TOVI_PRESET_DIR"); !dir.empty()) folders.emplace_back(dir);
  fs::path config;
  if (const std::string dir = Env("TOVI_CONFIG_DIR"); !dir.empty())
    config = dir;
  else if (const std::string xdg = Env("XDG_CONFIG_HOME"); !xdg.empty())
    config = fs::path(xdg) / "tovi-video-converter";
  else if (const std::string home = Env("HOME"); !home.empty())
    config = fs::path(home) / ".config" / "tovi-video-converter";
  if (!config.empty()) folders.push_back(config / "presets");
  folders.emplace_back(TOVI_PRESET_DATA_DIR);
  return folders;
}

std::optional<fs::path> FindPresetFile(const std::string &name) {
  if (name.empty()) return std::nullopt;
  if (IsFile(name)) return fs::path(name);
  if (name.find('/') != std::string::npos) return std::nullopt;
  for (const fs::path &folder : PresetFolders()) {
    for (const fs::path &candidate : {folder / name, folder / (name + ".preset")})
      if (IsFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::string ReadPresetFile(const fs::path &path, const std::string &name) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) throw FFmpegException::Fmt("Preset \"%s\" not found", name.c_str());
  if (size > MAX_PRESET_FILE_BYTES)
    throw FFmpegException::Fmt("Preset \"%s\" is too large for a preset file", name.c_str());
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FFmpegException::Fmt("Preset \"%s\" not found", name.c_str());
  std::string text;
  text.reserve(static_cast<size_t>(size));
  // Bounded again while reading: the file may have grown since it was measured.
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > MAX_PRESET_FILE_BYTES)
      throw FFmpegException::Fmt("Preset \"%s\" is too large for a preset file", name.c_str());
  }
  return text;
}

} // namespace tovi
