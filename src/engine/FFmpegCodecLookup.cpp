// Codec lookup by name, shared by input files (decoders) and output streams (encoders).
#include "engine/CodecNames.h"
#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"

namespace tovi {

bool TCustomFFmpeg::FindCodec(const std::string &name, AVMediaType type, bool encoder, int strictness,
                              AVCodecID &id, const AVCodec **codecOut) {
  id = AV_CODEC_ID_NONE;
  if (codecOut) *codecOut = nullptr;
  if (name.empty()) return true;
  RequireLibraries();
  const char *word = encoder ? "encoder" : "decoder";
  const AVCodec *codec = encoder ? FindEncoderByName(name) : ff::avcodec_find_decoder_by_name(name.c_str());
  char message[1024];
  if (!codec) {
    std::snprintf(message, sizeof message, "Unknown %s '%s'", word, name.c_str());
    lastError_ = message;
    return false;
  }
  if (codec->type != type) {
    std::snprintf(message, sizeof message, "Invalid %s type '%s'", word, name.c_str());
    lastError_ = message;
    return false;
  }
  if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strictness > FF_COMPLIANCE_EXPERIMENTAL) {
    std::snprintf(message, sizeof message,
                  "%s '%s' is experimental and might produce bad results.\r\n"
                  "Add '-strict experimental' if you want to use it.",
                  word, codec->name);
    lastError_ = message;
    const AVCodec *first =
        encoder ? ff::avcodec_find_encoder(codec->id) : ff::avcodec_find_decoder(codec->id);
    if (first && !(first->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
      std::snprintf(message, sizeof message, "\r\nOr use the non experimental %s '%s'.", word, first->name);
      lastError_ += message;
    }
    return false;
  }
  id = codec->id;
  if (codecOut) *codecOut = codec;
  return true;
}

} // namespace tovi
