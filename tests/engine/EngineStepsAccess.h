// Reaches the engine's per-frame steps (audio output, filters, hooks, previews) so that
// tests can drive them on the records of a real job set-up, one block or picture at a
// time, and helpers that build audio blocks and pictures for them.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/Owners.h"

namespace tovi {

class TEngineStepsAccess {
public:
  static TTranscodeTables &Tables(TCustomFFmpeg &e) { return *e.tables_; }
  static TJobSettings &Job(TCustomFFmpeg &e) { return e.job_; }
  static TPendingSettings &Pending(TCustomFFmpeg &e) { return e.pending_; }
  static void DoAudioOut(TCustomFFmpeg &e, TOutputStreamRecord &ost, TInputStreamRecord &ist,
                         const AVFrame *f) {
    e.DoAudioOut(ost, ist, f);
  }
  static void FlushAudioOut(TCustomFFmpeg &e, TOutputStreamRecord &ost) { e.FlushAudioOut(ost); }
  // Collects the encoded audio packets instead of writing them.
  static void CollectAudioPackets(TCustomFFmpeg &e,
                                  std::function<void(TOutputStreamRecord &, AVPacket *)> sink) {
    e.audioPacketSink_ = std::move(sink);
  }
  static int ConfigureFilters(TCustomFFmpeg &e, TInputStreamRecord &ist, TOutputStreamRecord &ost) {
    return e.ConfigureFilters(ist, ost);
  }
  static bool PushFilterFrame(TCustomFFmpeg &e, TInputStreamRecord &ist, AVFrame *picture,
                              std::int64_t ptsUs) {
    return e.PushFilterFrame(ist, picture, ptsUs);
  }
  static bool PullFilteredFrame(TCustomFFmpeg &e, TInputStreamRecord &ist) {
    return e.PullFilteredFrame(ist);
  }
  static void PreProcessVideoFrame(TCustomFFmpeg &e, TInputStreamRecord &ist, AVFrame *picture) {
    e.PreProcessVideoFrame(ist, picture);
  }
  static void RunCustomHook(TCustomFFmpeg &e, AVFrame *picture, std::int64_t pts = 0) {
    e.RunCustomHook(picture, nullptr, pts);
  }
  static void RunPreviews(TCustomFFmpeg &e, const AVFrame *picture, const AVCodecContext *encoder) {
    e.RunPreviews(picture, encoder);
  }
  static void AddVideoHook(TCustomFFmpeg &e, const std::string &commandLine) { e.AddVideoHook(commandLine); }
  static int DecodedFrames(const TCustomFFmpeg &e) { return e.decodedFrameCount_; }
  static std::int64_t AudioBytes(const TCustomFFmpeg &e) { return e.audioBytes_; }
};

namespace test {

// An audio block of `samples` samples: every sample of every channel is `value(i)`.
template <typename T>
FramePtr MakeAudioBlock(AVSampleFormat format, int channels, int rate, int samples,
                        const std::function<T(int)> &value) {
  FramePtr frame = MakeFrame();
  frame->format = format;
  frame->nb_samples = samples;
  frame->sample_rate = rate;
  ff::av_channel_layout_default(&frame->ch_layout, channels);
  if (ff::av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  const bool planar = ff::av_sample_fmt_is_planar(format);
  for (int c = 0; c < channels; ++c)
    for (int i = 0; i < samples; ++i) {
      T *plane = reinterpret_cast<T *>(frame->extended_data[planar ? c : 0]);
      plane[planar ? i : i * channels + c] = value(i);
    }
  return frame;
}

// A picture of `format` whose planes are filled by `value(plane, x, y)`.
inline FramePtr MakePicture(AVPixelFormat format, int width, int height,
                            const std::function<std::uint8_t(int, int, int)> &value) {
  FramePtr frame = MakeFrame();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  if (ff::av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  const AVPixFmtDescriptor *desc = ff::av_pix_fmt_desc_get(format);
  for (int p = 0; p < 4 && frame->data[p]; ++p) {
    const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int w = chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
    const int h = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
    const int bytes = (desc->flags & AV_PIX_FMT_FLAG_PLANAR) ? 1 : desc->nb_components;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * bytes; ++x)
        frame->data[p][y * frame->linesize[p] + x] = value(p, x, y);
  }
  return frame;
}

// The visible bytes of every plane, row after row (padding left out).
inline std::vector<std::uint8_t> PictureBytes(const AVFrame *frame) {
  std::vector<std::uint8_t> bytes;
  int lines[4] = {};
  ff::av_image_fill_linesizes(lines, static_cast<AVPixelFormat>(frame->format), frame->width);
  const AVPixFmtDescriptor *desc = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  for (int p = 0; p < 4 && frame->data[p]; ++p) {
    const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int h = chroma ? AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h) : frame->height;
    for (int y = 0; y < h; ++y) {
      const std::uint8_t *row = frame->data[p] + y * frame->linesize[p];
      bytes.insert(bytes.end(), row, row + lines[p]);
    }
  }
  return bytes;
}

} // namespace test
} // namespace tovi
