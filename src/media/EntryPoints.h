// The process-wide entry-point table: one function pointer per library export the
// system calls. The libraries are never linked; TFFmpegLoader fills these pointers with
// dlsym() and clears them again on unload. Every call into FFmpeg, SDL or the bound C
// runtime goes through `tovi::ff::name(...)`.
//
// Each pointer is declared with decltype(&::name) from the libraries' own headers, so a
// signature can never drift from the library we compile against.
//
// To bind another export: add it to its library's list in EntryPointLists.h.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavcodec/dv_profile.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
#include <SDL2/SDL.h>
}

#include "media/EntryPointLists.h"

namespace tovi::ff {

#define TOVI_DECLARE_ENTRY_POINT(name) extern decltype(&::name) name;
#define TOVI_DECLARE_VARIABLE(name) extern const char *name;

TOVI_AVCODEC_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)
TOVI_AVDEVICE_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)
TOVI_AVFILTER_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)
TOVI_AVFORMAT_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)
TOVI_AVUTIL_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)
TOVI_SWSCALE_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)
TOVI_CRT_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)
TOVI_SDL_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)
TOVI_SWRESAMPLE_FUNCTIONS(TOVI_DECLARE_ENTRY_POINT)

// Version strings the libraries export as data (the address of each symbol).
TOVI_AVCODEC_VARIABLES(TOVI_DECLARE_VARIABLE)
TOVI_AVDEVICE_VARIABLES(TOVI_DECLARE_VARIABLE)
TOVI_AVFILTER_VARIABLES(TOVI_DECLARE_VARIABLE)
TOVI_AVFORMAT_VARIABLES(TOVI_DECLARE_VARIABLE)
TOVI_AVUTIL_VARIABLES(TOVI_DECLARE_VARIABLE)
TOVI_SWRESAMPLE_VARIABLES(TOVI_DECLARE_VARIABLE)

#undef TOVI_DECLARE_ENTRY_POINT
#undef TOVI_DECLARE_VARIABLE

} // namespace tovi::ff
