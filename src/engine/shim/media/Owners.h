// TEMPORARY stand-in until the shared owners land on main; deleted at the merge.
#pragma once
#include <memory>
#include "media/EntryPoints.h"
namespace tovi {
struct TInputContextClose {
  void operator()(AVFormatContext *c) const {
    if (c && ff::avformat_close_input) ff::avformat_close_input(&c);
  }
};
struct TOutputContextFree {
  void operator()(AVFormatContext *c) const {
    if (c && ff::avformat_free_context) ff::avformat_free_context(c);
  }
};
using TInputContextPtr = std::unique_ptr<AVFormatContext, TInputContextClose>;
using TOutputContextPtr = std::unique_ptr<AVFormatContext, TOutputContextFree>;
} // namespace tovi
