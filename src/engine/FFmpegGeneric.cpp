// The engine's side of the generic option contexts: creating and releasing them,
// passing names to the shared generic setter and reading values back.
#include "engine/FFmpeg.h"
#include "engine/ValueParsing.h"
#include "media/EntryPoints.h"

namespace tovi {

void TCustomFFmpeg::CreateGenericOptions() {
  auto set = std::make_unique<TOptionContexts>();
  if (!CreateOptionContexts(*set, job_.ScalerFlags))
    throw FFmpegException("Cannot create the option contexts");
  optionContexts_ = std::move(set);
}

void TCustomFFmpeg::FreeGenericOptions() { optionContexts_.reset(); }

bool TCustomFFmpeg::SetGenericOption(const std::string &name, const std::string &value) {
  if (!optionContexts_) return false;
  return ::tovi::SetGenericOption(*optionContexts_, name, value);
}

bool TCustomFFmpeg::SetGenericIntOption(const std::string &name, std::int64_t value) {
  return SetGenericOption(name, engine::IntText(value));
}

std::int64_t TCustomFFmpeg::GenericBitRate(AVMediaType type) const {
  if (!optionContexts_) return 0;
  AVCodecContext *context =
      optionContexts_->CodecOptions(type == AVMEDIA_TYPE_AUDIO ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO);
  std::int64_t rate = 0;
  if (ff::av_opt_get_int(context, "b", 0, &rate) < 0) return 0;
  return rate;
}

} // namespace tovi
