#include "media/Owners.h"

#include <mutex>

#include "media/FFmpegLoader.h"

namespace tovi {

void CodecContextFree::operator()(AVCodecContext *p) const noexcept {
  if (!p) return;
  if (ff::avcodec_is_open(p)) {
    std::lock_guard lock(CodecLock());
    ff::avcodec_free_context(&p);
  } else {
    ff::avcodec_free_context(&p);
  }
}

void FreeCodecContextLocked(CodecContextPtr &ctx) noexcept {
  AVCodecContext *p = ctx.release();
  if (p) ff::avcodec_free_context(&p);
}

} // namespace tovi
