// TEMPORARY stand-in until the shared owners land on main; deleted at the merge.
#pragma once
#include <memory>
#include "media/EntryPoints.h"
namespace tovi {
struct FormatContextFree {
  void operator()(AVFormatContext *p) const noexcept { ff::avformat_free_context(p); }
};
struct InputFormatContextClose {
  void operator()(AVFormatContext *p) const noexcept { ff::avformat_close_input(&p); }
};
struct CodecContextFree {
  void operator()(AVCodecContext *p) const noexcept { ff::avcodec_free_context(&p); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;
using InputFormatContextPtr = std::unique_ptr<AVFormatContext, InputFormatContextClose>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
} // namespace tovi
