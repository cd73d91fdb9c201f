#include "engine/CodecChoice.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/FFmpegException.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLogger.h"

namespace tovi {

void ChoosePixelFormat(AVCodecContext *stream, const AVCodec *encoder) {
  if (!encoder || !encoder->pix_fmts) return;
  const AVPixelFormat *formats = encoder->pix_fmts;
  // The MJPEG encoder only lists the full-range formats as official; with a loose
  // strictness it also takes the limited-range ones, which then need no conversion.
  if (encoder->id == AV_CODEC_ID_MJPEG && stream->strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL &&
      (stream->pix_fmt == AV_PIX_FMT_YUV420P || stream->pix_fmt == AV_PIX_FMT_YUV422P))
    return;
  // Otherwise MJPEG takes only its full-range formats, although it lists the others too:
  // keeping a limited-range source format would make the encoder refuse to open.
  const bool fullRangeOnly = encoder->id == AV_CODEC_ID_MJPEG;
  for (const AVPixelFormat *p = formats; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == stream->pix_fmt && !(fullRangeOnly && (*p == AV_PIX_FMT_YUV420P || *p == AV_PIX_FMT_YUV422P ||
                                                     *p == AV_PIX_FMT_YUV444P)))
      return;
  stream->pix_fmt = formats[0];
}

void ChooseDvPixelFormat(AVCodecContext *stream, const AVCodec *encoder) {
  // DV has one chroma layout per size and rate (NTSC DV25 is 4:1:1, PAL 4:2:0, DV50
  // 4:2:2): a source format without a DV profile at this size takes the encoder's first
  // format that has one, instead of failing to open.
  if (!encoder || encoder->id != AV_CODEC_ID_DVVIDEO || !encoder->pix_fmts) return;
  const auto fits = [&](AVPixelFormat f) {
    return ff::av_dv_codec_profile2(stream->width, stream->height, f, stream->framerate) != nullptr;
  };
  if (fits(stream->pix_fmt)) return;
  for (const AVPixelFormat *p = encoder->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
    if (fits(*p)) {
      stream->pix_fmt = *p;
      return;
    }
}

bool OfferDesignedPixelFormat(AVCodecContext *stream, const AVCodec *encoder) {
  if (!encoder) return false;
  static constexpr AVPixelFormat kEightBit420[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
  const AVPixelFormat *designed = nullptr;
  switch (encoder->id) {
  case AV_CODEC_ID_H264:
  case AV_CODEC_ID_THEORA: designed = kEightBit420; break;
  default: return false;
  }
  for (const AVPixelFormat *p = designed; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == stream->pix_fmt) return false;
  stream->pix_fmt = designed[0];
  return true;
}

TEvenSides EvenSides(AVCodecID codec, AVPixelFormat format) {
  if (codec != AV_CODEC_ID_H264 && codec != AV_CODEC_ID_HEVC) return {};
  const AVPixFmtDescriptor *desc = ff::av_pix_fmt_desc_get(format);
  if (!desc) return {};
  return {desc->log2_chroma_w > 0, desc->log2_chroma_h > 0};
}

void EvenFrameSize(AVCodecID codec, AVPixelFormat format, int &width, int &height) {
  const TEvenSides even = EvenSides(codec, format);
  if (even.Width) width = std::max(2, width / 2 * 2);
  if (even.Height) height = std::max(2, height / 2 * 2);
}

void ChooseSampleFormat(AVCodecContext *stream, const AVCodec *encoder) {
  if (!encoder || !encoder->sample_fmts) return;
  const AVSampleFormat *formats = encoder->sample_fmts;
  for (const AVSampleFormat *p = formats; *p != AV_SAMPLE_FMT_NONE; ++p)
    if (*p == stream->sample_fmt) return;
  stream->sample_fmt = formats[0];
}

void ChooseSampleRate(AVCodecContext *stream, const AVCodec *encoder, const void *logSender) {
  if (!encoder || !encoder->supported_samplerates || !encoder->supported_samplerates[0]) return;
  const int requested = stream->sample_rate;
  int best = 0;
  long long bestDistance = -1;
  for (const int *p = encoder->supported_samplerates; *p; ++p) {
    const long long distance = std::llabs(static_cast<long long>(*p) - requested);
    if (bestDistance < 0 || distance < bestDistance) {
      best = *p;
      bestDistance = distance;
    }
  }
  if (best != requested)
    TFFLogger::Instance().LogFmt(logSender, llWarning,
                                 "Requested sampling rate unsupported using closest supported (%d)", best);
  stream->sample_rate = best;
}

namespace {

// One decimal integer (optional sign) that fills the field exactly.
bool ParseInt(const std::string &field, int &out) {
  if (field.empty()) return false;
  const char *begin = field.c_str();
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(begin, &end, 10);
  if (end == begin || *end != '\0' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int>(value);
  return true;
}

} // namespace

std::vector<RcOverride> ParseRcOverride(const std::string &text) {
  std::vector<RcOverride> entries;
  if (text.empty()) return entries;
  size_t start = 0;
  while (true) {
    const size_t slash = text.find('/', start);
    const std::string group =
        text.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    // Exactly three comma-separated integers; anything else would make a partial
    // entry out of garbage.
    int values[3];
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
      const size_t comma = i < 2 ? group.find(',', from) : std::string::npos;
      if (i < 2 && comma == std::string::npos) throw FFmpegException("error parsing rc_override");
      const std::string field =
          group.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
      if (!ParseInt(field, values[i])) throw FFmpegException("error parsing rc_override");
      from = comma + 1;
    }
    RcOverride entry{};
    entry.start_frame = values[0];
    entry.end_frame = values[1];
    if (values[2] > 0) {
      entry.qscale = values[2];
      entry.quality_factor = 1.0f;
    } else {
      entry.qscale = 0;
      entry.quality_factor = static_cast<float>(-values[2] / 100.0);
    }
    entries.push_back(entry);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return entries;
}

void SetRcOverride(AVCodecContext *encoder, const std::vector<RcOverride> &entries) {
  ff::av_freep(&encoder->rc_override);
  encoder->rc_override_count = 0;
  if (entries.empty()) return;
  void *memory = ff::av_malloc(entries.size() * sizeof(RcOverride));
  if (!memory) throw FFmpegException("error parsing rc_override: out of memory");
  std::memcpy(memory, entries.data(), entries.size() * sizeof(RcOverride));
  encoder->rc_override = static_cast<RcOverride *>(memory);
  encoder->rc_override_count = static_cast<int>(entries.size());
}

} // namespace tovi
