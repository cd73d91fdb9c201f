// Decodes an output file completely and reports what a player would see: container,
// codecs, picture size, the number of pictures and the time the streams cover.
#pragma once

#include <mutex>
#include <string>

#include "media/FFmpegLoader.h"
#include "media/FormatIO.h"
#include "media/Owners.h"
#include "media/SendReceive.h"

namespace tovi::test {

struct DecodedMedia {
  bool opened = false;
  std::string demuxer;
  std::string videoCodec, audioCodec; // decoder names, empty when absent
  int width = 0, height = 0;
  int videoFrames = 0;
  double videoStart = 0, videoEnd = 0; // seconds: first pts, last pts + one frame
  double frameSeconds = 0;             // one frame at the stream's rate
  int pixelFormat = -1;                // AVPixelFormat of the decoded pictures
  std::string videoTag;                // the container's four-character code, e.g. "hvc1"
  int sampleRate = 0, channels = 0;
  int audioSampleFormat = -1, audioBits = 0; // decoded AVSampleFormat; bits per sample stored
  long long audioSamples = 0;
  int decodeErrors = 0;
};

// Mean luma of a rectangle of a decoded 8-bit YUV picture.
inline double MeanLuma(const AVFrame *f, int x0, int y0, int w, int h) {
  double sum = 0;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x)
      sum += f->data[0][y * f->linesize[0] + x];
  return sum / (w * h);
}

inline double Seconds(std::int64_t pts, AVRational tb) { return pts * static_cast<double>(tb.num) / tb.den; }

// Calls `onPicture(frame, stream)` for every decoded video picture when given.
template <class OnPicture> DecodedMedia DecodeFile(const std::string &file, OnPicture onPicture) {
  DecodedMedia m;
  TInputFile in;
  if (OpenInputFile(file, nullptr, nullptr, in) < 0 ||
      ff::avformat_find_stream_info(in.Context(), nullptr) < 0)
    return m;
  m.opened = true;
  m.demuxer = in->iformat->name;
  const int v = ff::av_find_best_stream(in.Context(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int a = ff::av_find_best_stream(in.Context(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  CodecContextPtr vdec, adec;
  const auto open = [&](int index, CodecContextPtr &ctx) {
    if (index < 0) return;
    const AVStream *st = in->streams[index];
    const AVCodec *codec = ff::avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) return;
    ctx.reset(ff::avcodec_alloc_context3(codec));
    ff::avcodec_parameters_to_context(ctx.get(), st->codecpar);
    ctx->pkt_timebase = st->time_base;
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(ctx.get(), codec, nullptr) < 0) ctx.reset();
  };
  open(v, vdec);
  open(a, adec);
  if (vdec) {
    const AVStream *st = in->streams[v];
    m.videoCodec = vdec->codec->name;
    for (int shift = 0; shift < 32 && st->codecpar->codec_tag; shift += 8)
      m.videoTag += static_cast<char>((st->codecpar->codec_tag >> shift) & 0xff);
    // The nominal rate: the average one is skewed by a missing or extra last picture.
    AVRational rate = st->r_frame_rate.num > 0 ? st->r_frame_rate : st->avg_frame_rate;
    m.frameSeconds = rate.num > 0 ? rate.den / static_cast<double>(rate.num) : 0;
  }
  if (adec) {
    m.audioCodec = adec->codec->name;
    m.sampleRate = adec->sample_rate;
    m.channels = adec->ch_layout.nb_channels;
    m.audioBits = in->streams[a]->codecpar->bits_per_raw_sample;
  }
  FramePtr frame = MakeFrame();
  PacketPtr packet = MakePacket();
  bool firstVideo = true;
  const auto videoSink = [&](AVFrame *f) {
    const AVStream *st = in->streams[v];
    const double t = Seconds(f->best_effort_timestamp, st->time_base);
    if (firstVideo) m.videoStart = t;
    firstVideo = false;
    m.videoEnd = std::max(m.videoEnd, t + m.frameSeconds);
    m.width = f->width;
    m.height = f->height;
    m.pixelFormat = f->format;
    ++m.videoFrames;
    onPicture(f);
    return 0;
  };
  const auto audioSink = [&](AVFrame *f) {
    m.audioSampleFormat = f->format;
    m.audioSamples += f->nb_samples;
    return 0;
  };
  while (ff::av_read_frame(in.Context(), packet.get()) >= 0) {
    int r = 0;
    if (vdec && packet->stream_index == v)
      r = DecodeAndReceive(vdec.get(), packet.get(), frame.get(), videoSink);
    if (adec && packet->stream_index == a)
      r = DecodeAndReceive(adec.get(), packet.get(), frame.get(), audioSink);
    if (r < 0 && r != AVERROR_EOF) ++m.decodeErrors;
    ff::av_packet_unref(packet.get());
  }
  if (vdec) DecodeAndReceive(vdec.get(), nullptr, frame.get(), videoSink);
  if (adec) DecodeAndReceive(adec.get(), nullptr, frame.get(), audioSink);
  return m;
}

inline DecodedMedia DecodeFile(const std::string &file) {
  return DecodeFile(file, [](AVFrame *) {});
}

} // namespace tovi::test
