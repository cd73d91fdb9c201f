// Presets: named key=value lists from the built-in table or from preset files.
#include "engine/BuiltinPresets.h"
#include "engine/FFmpeg.h"
#include "engine/PresetFiles.h"
#include "engine/ValueParsing.h"

namespace tovi {

using engine::SameText;
using engine::Trim;

void TCustomFFmpeg::LoadPreset(const std::string &kind, const std::string &name) {
  if (kind.empty() || name.empty()) return;
  const char letter = kind[0];
  std::string presetName = name;
  std::string text;
  bool found = false;
  if (letter != 'f') {
    const TBuiltinPreset *preset = FindBuiltinPreset(name);
    if (!preset) {
      // Second search: the name qualified by the pending codec of the kind's media
      // type ("ipod" with libx264 pending becomes "libx264-ipod").
      const std::string &codec = letter == 'v'   ? pending_.VideoCodecName
                                 : letter == 'a' ? pending_.AudioCodecName
                                                 : pending_.SubtitleCodecName;
      if (!codec.empty()) {
        presetName = codec + "-" + name;
        preset = FindBuiltinPreset(presetName);
      }
    }
    if (preset) {
      text = std::string(preset->Text);
      presetName = std::string(preset->Name);
      found = true;
    }
  }
  if (!found) {
    presetName = name;
    const auto path = FindPresetFile(name);
    if (!path) throw FFmpegException::Fmt("Preset \"%s\" not found", name.c_str());
    text = ReadPresetFile(*path, name);
  }
  ApplyPresetText(presetName, text);
}

void TCustomFFmpeg::ApplyPresetText(const std::string &presetName, const std::string &text) {
  // Line breaks of any convention become line feeds.
  std::string normalised;
  const std::string trimmed = Trim(text);
  normalised.reserve(trimmed.size());
  for (size_t i = 0; i < trimmed.size(); ++i) {
    if (trimmed[i] == '\r') {
      normalised += '\n';
      if (i + 1 < trimmed.size() && trimmed[i + 1] == '\n') ++i;
    } else {
      normalised += trimmed[i];
    }
  }
  size_t start = 0;
  while (start <= normalised.size()) {
    size_t end = normalised.find('\n', start);
    if (end == std::string::npos) end = normalised.size();
    const std::string line = Trim(std::string_view(normalised).substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? line : Trim(line.substr(0, eq));
    const std::string value = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
    if (key.empty() || value.empty())
      throw FFmpegException::Fmt("%s: Invalid syntax: \"%s\"", presetName.c_str(), line.c_str());
    if (SameText(key, "acodec"))
      SetAudioCodec(value);
    else if (SameText(key, "vcodec"))
      SetVideoCodec(value);
    else if (SameText(key, "scodec"))
      SetSubtitleCodec(value);
    else if (!SetGenericOption(key, value))
      throw FFmpegException::Fmt("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                 presetName.c_str(), line.c_str(), key.c_str(), value.c_str());
  }
}

} // namespace tovi
