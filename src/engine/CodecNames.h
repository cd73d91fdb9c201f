// Encoder names of the old library generation that this FFmpeg build no longer has,
// mapped to today's encoder of the same purpose. The one place where such names are
// translated: names typed by users, taken from profiles, settings files or presets all
// reach the libraries through FindEncoderByName.
#pragma once

#include <string>
#include <string_view>

struct AVCodec;

namespace tovi {

// The replacement name for an encoder name of the old generation ("libfaac" -> "aac",
// "libamr_nb" -> "libopencore_amrnb"); the name itself when it has no replacement.
std::string ReplacementEncoderName(std::string_view name);

// The encoder of that name, else the encoder of its replacement name; null when
// neither exists (the caller reports "Unknown encoder ..."). Libraries must be loaded.
const AVCodec *FindEncoderByName(const std::string &name);

} // namespace tovi
