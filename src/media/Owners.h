// RAII owners of the media libraries' objects, each releasing through the library's own
// free function in the run-time entry-point table.
//
// Hazard: a deleter calls into the bound libraries, so every owner must be released
// before the libraries are unloaded (TFFmpegLoader::UnloadLibraries). Releasing an
// owner whose pointer is null never calls the library.
#pragma once

#include <cstdint>
#include <memory>

#include "media/EntryPoints.h"

namespace tovi {

struct FrameFree {
  void operator()(AVFrame *p) const noexcept { ff::av_frame_free(&p); }
};
struct PacketFree {
  void operator()(AVPacket *p) const noexcept { ff::av_packet_free(&p); }
};
struct CodecParametersFree {
  void operator()(AVCodecParameters *p) const noexcept { ff::avcodec_parameters_free(&p); }
};

// Frees a codec context; one that has been opened is freed under CodecLock(), because
// closing a codec touches the same global codec state as avcodec_open2.
// Hazard: the deleter takes CodecLock() itself, so never let a CodecContextPtr holding
// an opened context go out of scope while this thread holds that lock; use
// FreeCodecContextLocked for that case.
struct CodecContextFree {
  void operator()(AVCodecContext *p) const noexcept;
};

// Output contexts (avformat_alloc_context, avformat_alloc_output_context2) and format
// option contexts. The caller closes the output I/O context before the owner goes.
struct FormatContextFree {
  void operator()(AVFormatContext *p) const noexcept { ff::avformat_free_context(p); }
};
// Contexts opened with avformat_open_input.
struct InputFormatContextClose {
  void operator()(AVFormatContext *p) const noexcept { ff::avformat_close_input(&p); }
};
struct SwsContextFree {
  void operator()(SwsContext *p) const noexcept { ff::sws_freeContext(p); }
};
struct SwrContextFree {
  void operator()(SwrContext *p) const noexcept { ff::swr_free(&p); }
};
struct FilterGraphFree {
  void operator()(AVFilterGraph *p) const noexcept { ff::avfilter_graph_free(&p); }
};
// Memory from av_malloc/av_mallocz/av_strdup and strings the libraries hand out to be
// freed with av_free (av_opt_get, av_channel_layout_describe's callers...).
struct AVMemFree {
  void operator()(void *p) const noexcept { ff::av_free(p); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;
using InputFormatContextPtr = std::unique_ptr<AVFormatContext, InputFormatContextClose>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFree>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFree>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFree>;
using AVBufferPtr = std::unique_ptr<std::uint8_t, AVMemFree>;
using AVStringPtr = std::unique_ptr<char, AVMemFree>;

// Frees `ctx` without taking CodecLock(); for a caller that already holds it.
void FreeCodecContextLocked(CodecContextPtr &ctx) noexcept;

// Null when the library is out of memory.
inline FramePtr MakeFrame() { return FramePtr(ff::av_frame_alloc()); }
inline PacketPtr MakePacket() { return PacketPtr(ff::av_packet_alloc()); }

// An AVDictionary owner. Unlike a unique_ptr it hands out the address of its pointer
// (Out()), because av_dict_set and avcodec_open2 replace the dictionary itself.
class DictionaryPtr {
public:
  DictionaryPtr() = default;
  explicit DictionaryPtr(AVDictionary *d) noexcept : dict_(d) {}
  DictionaryPtr(DictionaryPtr &&other) noexcept : dict_(other.release()) {}
  DictionaryPtr &operator=(DictionaryPtr &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  DictionaryPtr(const DictionaryPtr &) = delete;
  DictionaryPtr &operator=(const DictionaryPtr &) = delete;
  ~DictionaryPtr() { reset(); }

  AVDictionary *get() const noexcept { return dict_; }
  AVDictionary **Out() noexcept { return &dict_; }
  explicit operator bool() const noexcept { return dict_ != nullptr; }
  AVDictionary *release() noexcept {
    AVDictionary *d = dict_;
    dict_ = nullptr;
    return d;
  }
  void reset(AVDictionary *d = nullptr) noexcept {
    if (dict_ && dict_ != d) ff::av_dict_free(&dict_);
    dict_ = d;
  }

private:
  AVDictionary *dict_ = nullptr;
};

} // namespace tovi
