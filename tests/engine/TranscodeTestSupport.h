// Helpers for the tests that run whole jobs: an engine fixture that configures a job
// from an option list, and a reader that decodes a written file again and sums up what
// it holds (streams, codecs, sizes, frame counts, durations, audio level and the frame
// numbers the test pattern shows).
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "EngineTestSupport.h"
#include "fixtures/Pattern.h"
#include "media/SendReceive.h"

namespace tovi::test {

struct StreamSummary {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID Codec = AV_CODEC_ID_NONE;
  int Width = 0, Height = 0;
  int SampleRate = 0, Channels = 0;
  int Frames = 0;                           // decoded pictures, or audio frames
  std::int64_t Samples = 0;                 // audio samples per channel
  double FirstSeconds = 0, LastSeconds = 0; // pts of the first and last frame
  double Rms = 0;                           // audio level, full scale = 1
  std::vector<int> PatternFrames;           // frame number read from each picture (-1: unreadable)
  std::vector<uint8_t> FirstLuma;           // the first picture's luma plane, Width bytes a row
  int Luma(int x, int y) const { return FirstLuma.at(size_t(y) * size_t(Width) + size_t(x)); }
};

struct FileSummary {
  bool Opened = false;
  std::string Format;
  double DurationSeconds = 0;
  std::vector<StreamSummary> Streams;
  int CountOf(AVMediaType type) const {
    int n = 0;
    for (const auto &s : Streams)
      n += s.Type == type;
    return n;
  }
  const StreamSummary *First(AVMediaType type) const {
    for (const auto &s : Streams)
      if (s.Type == type) return &s;
    return nullptr;
  }
};

inline double SampleValue(const AVFrame *frame, int channel, int index) {
  const auto format = AVSampleFormat(frame->format);
  const bool planar = ff::av_sample_fmt_is_planar(format);
  const int channels = frame->ch_layout.nb_channels;
  const uint8_t *plane = frame->extended_data[planar ? channel : 0];
  const int at = planar ? index : index * channels + channel;
  switch (ff::av_get_packed_sample_fmt(format)) {
  case AV_SAMPLE_FMT_FLT: return reinterpret_cast<const float *>(plane)[at];
  case AV_SAMPLE_FMT_DBL: return reinterpret_cast<const double *>(plane)[at];
  case AV_SAMPLE_FMT_S16: return reinterpret_cast<const int16_t *>(plane)[at] / 32768.0;
  case AV_SAMPLE_FMT_S32: return reinterpret_cast<const int32_t *>(plane)[at] / 2147483648.0;
  case AV_SAMPLE_FMT_U8: return (plane[at] - 128) / 128.0;
  default: return 0;
  }
}

// Decodes every stream of `path` completely. Corrupt packets are skipped.
inline FileSummary ReadOutput(const std::string &path) {
  FileSummary summary;
  AVFormatContext *raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return summary;
  InputFormatContextPtr ic(raw);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avformat_find_stream_info(ic.get(), nullptr) < 0) return summary;
  }
  summary.Opened = true;
  summary.Format = ic->iformat->name;
  summary.DurationSeconds = ic->duration == AV_NOPTS_VALUE ? 0 : double(ic->duration) / AV_TIME_BASE;
  std::vector<CodecContextPtr> decoders;
  std::vector<double> squares(ic->nb_streams, 0.0);
  std::vector<std::int64_t> values(ic->nb_streams, 0);
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVCodecParameters *par = ic->streams[i]->codecpar;
    StreamSummary s;
    s.Type = par->codec_type;
    s.Codec = par->codec_id;
    s.Width = par->width;
    s.Height = par->height;
    s.SampleRate = par->sample_rate;
    s.Channels = par->ch_layout.nb_channels;
    s.FirstSeconds = -1;
    summary.Streams.push_back(s);
    CodecContextPtr dec;
    const AVCodec *codec = ff::avcodec_find_decoder(par->codec_id);
    if (codec && (s.Type == AVMEDIA_TYPE_VIDEO || s.Type == AVMEDIA_TYPE_AUDIO)) {
      dec.reset(ff::avcodec_alloc_context3(codec));
      ff::avcodec_parameters_to_context(dec.get(), par);
      dec->pkt_timebase = ic->streams[i]->time_base;
      std::lock_guard lock(CodecLock());
      if (ff::avcodec_open2(dec.get(), codec, nullptr) < 0) dec.reset();
    }
    decoders.push_back(std::move(dec));
  }
  FramePtr frame = MakeFrame();
  PacketPtr packet = MakePacket();
  const auto onFrame = [&](unsigned index) {
    return [&, index](AVFrame *f) {
      StreamSummary &s = summary.Streams[index];
      const double t = f->best_effort_timestamp == AV_NOPTS_VALUE
                           ? 0
                           : double(f->best_effort_timestamp) * av_q2d(ic->streams[index]->time_base);
      if (s.FirstSeconds < 0) s.FirstSeconds = t;
      s.LastSeconds = t;
      ++s.Frames;
      if (s.Type == AVMEDIA_TYPE_VIDEO) {
        s.Width = f->width;
        s.Height = f->height;
        if (s.FirstLuma.empty())
          for (int y = 0; y < f->height; ++y)
            s.FirstLuma.insert(s.FirstLuma.end(), f->data[0] + y * f->linesize[0],
                               f->data[0] + y * f->linesize[0] + f->width);
        s.PatternFrames.push_back(
            fixtures::ReadFrameNumberFromLuma(f->data[0], f->linesize[0], f->width, f->height));
      } else {
        s.Samples += f->nb_samples;
        for (int c = 0; c < f->ch_layout.nb_channels; ++c)
          for (int k = 0; k < f->nb_samples; ++k) {
            const double v = SampleValue(f, c, k);
            squares[index] += v * v;
            ++values[index];
          }
      }
      return 0;
    };
  };
  while (ff::av_read_frame(ic.get(), packet.get()) >= 0) {
    const unsigned index = unsigned(packet->stream_index);
    if (index < decoders.size() && decoders[index])
      DecodeAndReceive(decoders[index].get(), packet.get(), frame.get(), onFrame(index));
    ff::av_packet_unref(packet.get());
  }
  for (unsigned i = 0; i < decoders.size(); ++i)
    if (decoders[i]) DecodeAndReceive(decoders[i].get(), nullptr, frame.get(), onFrame(i));
  for (unsigned i = 0; i < summary.Streams.size(); ++i)
    if (values[i]) summary.Streams[i].Rms = std::sqrt(squares[i] / double(values[i]));
  return summary;
}

// A whole job on one engine: options in order (-i adds an input), the output last.
class TranscodeTest : public EngineTest {
protected:
  void TearDown() override { engine_.FreeAll(); }
  std::string Out(const std::string &name) const { return dir_.file(name); }

  // Applies `options` ("name", "value" pairs; "i" adds the fixture of that name) and
  // adds the output. False when something was refused (message in the test log).
  bool Configure(const std::vector<std::pair<std::string, std::string>> &options, const std::string &output,
                 bool join = false) {
    for (const auto &[name, value] : options) {
      if (name == "i") {
        if (!engine_.AddInputFile(FixturePath(value))) {
          ADD_FAILURE() << engine_.LastErrorText();
          return false;
        }
      } else {
        engine_.ParseOption(name, value);
      }
    }
    if (engine_.AddOutputFile(output, join) < 0) {
      ADD_FAILURE() << engine_.LastErrorText();
      return false;
    }
    return true;
  }
  // Runs the configured job in this thread; true when it completed normally.
  bool RunJob() {
    engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++terminations_; });
    engine_.Start(false);
    EXPECT_EQ(terminations_, 1);
    if (!engine_.CompletedNormally()) ADD_FAILURE() << "job failed: " << engine_.ErrorMessage();
    return engine_.CompletedNormally();
  }

  test::TempDir dir_;
  int terminations_ = 0;
};

// Pattern numbers of a decoded run are consecutive from `first`.
inline bool Consecutive(const std::vector<int> &frames, int first) {
  for (size_t i = 0; i < frames.size(); ++i)
    if (frames[i] != first + int(i)) return false;
  return true;
}

} // namespace tovi::test
