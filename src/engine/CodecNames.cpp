#include "engine/CodecNames.h"

#include <array>
#include <utility>

#include "media/EntryPoints.h"

namespace tovi {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 2> kReplacements{{
    {"libfaac", "aac"},
    {"libamr_nb", "libopencore_amrnb"},
}};

} // namespace

std::string ReplacementEncoderName(std::string_view name) {
  for (const auto &[old, replacement] : kReplacements)
    if (name == old) return std::string(replacement);
  return std::string(name);
}

const AVCodec *FindEncoderByName(const std::string &name) {
  if (const AVCodec *codec = ff::avcodec_find_encoder_by_name(name.c_str())) return codec;
  const std::string replacement = ReplacementEncoderName(name);
  if (replacement == name) return nullptr;
  return ff::avcodec_find_encoder_by_name(replacement.c_str());
}

} // namespace tovi
