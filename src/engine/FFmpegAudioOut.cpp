// Audio output of one re-encoded stream: drift correction against the sync clock,
// channel/rate/format conversion through the stream's resampler, the volume change,
// framing into encoder frames through the stream's FIFO, encoding and writing.
//
// Everything here runs on the job's thread.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/SendReceive.h"

namespace tovi {

namespace {

// Deltas up to this many samples are timing noise, not drift.
constexpr double kDriftNoiseSamples = 50;

// The frame's channel layout, or the default one for its channel count when the
// decoder left the order unspecified.
void InputLayout(const AVFrame *samples, const AVCodecContext *dec, AVChannelLayout &layout) {
  const AVChannelLayout &given = samples->ch_layout.nb_channels > 0 ? samples->ch_layout : dec->ch_layout;
  if (given.order == AV_CHANNEL_ORDER_UNSPEC)
    ff::av_channel_layout_default(&layout, given.nb_channels);
  else
    ff::av_channel_layout_copy(&layout, &given);
}

struct LayoutGuard {
  AVChannelLayout Layout{};
  ~LayoutGuard() { ff::av_channel_layout_uninit(&Layout); }
};

// Encoders that take any number of samples per frame: those that say so and the
// PCM-like ones without a frame size.
bool TakesAnyFrameSize(const AVCodecContext *enc) {
  return enc->frame_size <= 1 ||
         (enc->codec && (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
}

// Plane pointers of `data` moved forward by `offset` samples (one per channel for
// planar formats, which may have more planes than AVFrame::data holds).
void OffsetPlanes(const std::uint8_t *const *data, AVSampleFormat format, int channels, int offset,
                  std::vector<const std::uint8_t *> &planes) {
  const bool planar = ff::av_sample_fmt_is_planar(format);
  const int bytes = ff::av_get_bytes_per_sample(format);
  const std::size_t count = planar ? static_cast<std::size_t>(channels) : 1;
  const std::size_t step = static_cast<std::size_t>(offset) * bytes * (planar ? 1 : channels);
  planes.assign(count, nullptr);
  for (std::size_t p = 0; p < count; ++p)
    planes[p] = data[p] + step;
}

} // namespace

void TCustomFFmpeg::EnsureAudioConverter(TOutputStreamRecord &ost, const AVCodecContext *dec,
                                         const AVFrame *samples) {
  AVCodecContext *enc = ost.Encoder;
  LayoutGuard in;
  InputLayout(samples, dec, in.Layout);
  const int inRate = samples->sample_rate > 0 ? samples->sample_rate : dec->sample_rate;
  const auto inFormat = static_cast<AVSampleFormat>(samples->format);

  if (in.Layout.nb_channels != enc->ch_layout.nb_channels || inRate != enc->sample_rate)
    ost.AudioResample = true;
  const bool convert = ost.AudioResample || inFormat != enc->sample_fmt ||
                       ff::av_channel_layout_compare(&in.Layout, &enc->ch_layout) != 0;
  if (!convert) {
    ost.Resampler.reset();
    ost.ResamplerInFormat = -1;
    return;
  }
  if (ost.Resampler && ost.ResamplerInFormat == inFormat && ost.ResamplerInRate == inRate &&
      ost.ResamplerInChannels == in.Layout.nb_channels)
    return;

  ost.Resampler.reset();
  SwrContext *swr = nullptr;
  const int rc = ff::swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &in.Layout,
                                         inFormat, inRate, 0, nullptr);
  ost.Resampler.reset(swr);
  if (rc < 0 || !swr || ff::swr_init(swr) < 0) {
    ost.Resampler.reset();
    if (ost.AudioResample)
      throw FFmpegException::Fmt("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                 in.Layout.nb_channels, inRate, enc->ch_layout.nb_channels, enc->sample_rate);
    const char *from = ff::av_get_sample_fmt_name(inFormat);
    const char *to = ff::av_get_sample_fmt_name(enc->sample_fmt);
    throw FFmpegException::Fmt("Cannot convert %s sample format to %s sample format", from ? from : "none",
                               to ? to : "none");
  }
  ost.ResamplerInFormat = inFormat;
  ost.ResamplerInRate = inRate;
  ost.ResamplerInChannels = in.Layout.nb_channels;
  ost.SampleFormatPair = int(enc->sample_fmt) + 5 * int(inFormat);
}

void TCustomFFmpeg::ApplyVolume(AVFrame *block, int samples) const {
  const int volume = job_.AudioVolume;
  if (volume == 256 || samples <= 0) return;
  const auto format = static_cast<AVSampleFormat>(block->format);
  const bool planar = ff::av_sample_fmt_is_planar(format);
  const int channels = block->ch_layout.nb_channels;
  const int planes = planar ? channels : 1;
  const std::size_t count = static_cast<std::size_t>(samples) * (planar ? 1 : channels);
  const double factor = volume / 256.0;
  for (int p = 0; p < planes; ++p) {
    std::uint8_t *plane = block->extended_data[p];
    switch (ff::av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: {
      // Unsigned 8-bit samples swing around 128.
      for (std::size_t i = 0; i < count; ++i) {
        const int s = plane[i] - 128;
        plane[i] = static_cast<std::uint8_t>(std::clamp(((s * volume + 128) >> 8) + 128, 0, 255));
      }
      break;
    }
    case AV_SAMPLE_FMT_S16: {
      auto *s = reinterpret_cast<std::int16_t *>(plane);
      for (std::size_t i = 0; i < count; ++i)
        s[i] = static_cast<std::int16_t>(std::clamp((s[i] * volume + 128) >> 8, -32768, 32767));
      break;
    }
    case AV_SAMPLE_FMT_S32: {
      auto *s = reinterpret_cast<std::int32_t *>(plane);
      for (std::size_t i = 0; i < count; ++i)
        s[i] = static_cast<std::int32_t>(
            std::clamp<std::int64_t>((std::int64_t(s[i]) * volume + 128) >> 8, INT32_MIN, INT32_MAX));
      break;
    }
    case AV_SAMPLE_FMT_S64: {
      auto *s = reinterpret_cast<std::int64_t *>(plane);
      for (std::size_t i = 0; i < count; ++i) {
        const long double v = static_cast<long double>(s[i]) * factor;
        s[i] = v >= static_cast<long double>(INT64_MAX)   ? INT64_MAX
               : v <= static_cast<long double>(INT64_MIN) ? INT64_MIN
                                                          : static_cast<std::int64_t>(v);
      }
      break;
    }
    case AV_SAMPLE_FMT_FLT: {
      // Float samples are not clipped here: the encoder clips what it must.
      auto *s = reinterpret_cast<float *>(plane);
      for (std::size_t i = 0; i < count; ++i)
        s[i] = static_cast<float>(s[i] * factor);
      break;
    }
    case AV_SAMPLE_FMT_DBL: {
      auto *s = reinterpret_cast<double *>(plane);
      for (std::size_t i = 0; i < count; ++i)
        s[i] *= factor;
      break;
    }
    default: return;
    }
  }
}

// Converts `samples` input samples (the input described by the stream's converter, or
// already in the encoder's format when there is none) and appends them to the FIFO,
// with the volume applied. Null data with a converter drains the converter.
void TCustomFFmpeg::ConvertAudioIntoFifo(TOutputStreamRecord &ost, const std::uint8_t *const *data,
                                         int samples) {
  AVCodecContext *enc = ost.Encoder;
  SwrContext *swr = ost.Resampler.get();
  const int capacity =
      swr ? ff::swr_get_out_samples(swr, data ? samples : 0) : samples; // upper bound of this call's output
  if (capacity < 0) throw FFmpegException("av_audio_convert() failed");
  if (capacity == 0) return;

  // The block buffer follows the encoder's format and only grows.
  if (!audioBlock_ || audioBlockCapacity_ < capacity || audioBlock_->format != enc->sample_fmt ||
      ff::av_channel_layout_compare(&audioBlock_->ch_layout, &enc->ch_layout) != 0) {
    audioBlock_ = MakeFrame();
    if (!audioBlock_) throw FFmpegException("Out of memory in do_audio_out");
    audioBlock_->format = enc->sample_fmt;
    audioBlock_->nb_samples = std::max(capacity, audioBlockCapacity_);
    audioBlock_->sample_rate = enc->sample_rate;
    if (ff::av_channel_layout_copy(&audioBlock_->ch_layout, &enc->ch_layout) < 0 ||
        ff::av_frame_get_buffer(audioBlock_.get(), 0) < 0) {
      audioBlock_.reset();
      audioBlockCapacity_ = 0;
      throw FFmpegException("Out of memory in do_audio_out");
    }
    audioBlockCapacity_ = audioBlock_->nb_samples;
  }

  int produced = samples;
  if (swr) {
    produced = ff::swr_convert(swr, audioBlock_->extended_data, audioBlockCapacity_,
                               const_cast<const std::uint8_t **>(data), data ? samples : 0);
    if (produced < 0) {
      if (job_.ExitOnError) throw FFmpegException("av_audio_convert() failed");
      Log(llError, "av_audio_convert() failed");
      return;
    }
  } else {
    ff::av_samples_copy(audioBlock_->extended_data, const_cast<std::uint8_t *const *>(data), 0, 0, samples,
                        enc->ch_layout.nb_channels, enc->sample_fmt);
  }
  if (produced <= 0) return;
  ApplyVolume(audioBlock_.get(), produced);
  if (ff::av_audio_fifo_write(ost.Fifo.get(), reinterpret_cast<void **>(audioBlock_->extended_data),
                              produced) < produced)
    throw FFmpegException("av_fifo_realloc2() failed");
}

void TCustomFFmpeg::EncodeAudioFrame(TOutputStreamRecord &ost, const AVFrame *frame) {
  AVCodecContext *enc = ost.Encoder;
  if (!audioPacket_) {
    audioPacket_ = MakePacket();
    if (!audioPacket_) throw FFmpegException("Out of memory in do_audio_out");
  }
  const int rc = EncodeAndReceive(enc, frame, audioPacket_.get(), [&](AVPacket *packet) {
    audioBytes_ += packet->size;
    packet->stream_index = ost.Stream->index;
    ff::av_packet_rescale_ts(packet, enc->time_base, ost.Stream->time_base);
    packet->time_base = ost.Stream->time_base;
    packet->flags |= AV_PKT_FLAG_KEY;
    if (audioPacketSink_)
      audioPacketSink_(ost, packet);
    else
      WriteFrame(ost, packet);
    return 0;
  });
  if (rc < 0 && rc != AVERROR_EOF) throw FFmpegException("Audio encoding failed");
}

namespace {

// A fresh encoder frame of `samples` samples read from the FIFO, silence after what
// the FIFO held; its pts is `pts` in samples at the encoder's rate.
FramePtr TakeEncoderFrame(AVCodecContext *enc, AVAudioFifo *fifo, int samples, std::int64_t pts) {
  FramePtr frame = MakeFrame();
  if (!frame) throw FFmpegException("Out of memory in do_audio_out");
  frame->format = enc->sample_fmt;
  frame->nb_samples = samples;
  frame->sample_rate = enc->sample_rate;
  if (ff::av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 ||
      ff::av_frame_get_buffer(frame.get(), 0) < 0)
    throw FFmpegException("Out of memory in do_audio_out");
  const int got =
      std::max(ff::av_audio_fifo_read(fifo, reinterpret_cast<void **>(frame->extended_data), samples), 0);
  if (got < samples)
    ff::av_samples_set_silence(frame->extended_data, got, samples - got, enc->ch_layout.nb_channels,
                               enc->sample_fmt);
  frame->pts = ff::av_rescale_q(pts, AVRational{1, enc->sample_rate}, enc->time_base);
  return frame;
}

} // namespace

void TCustomFFmpeg::DoAudioOut(TOutputStreamRecord &ost, TInputStreamRecord &ist, const AVFrame *samples) {
  AVCodecContext *enc = ost.Encoder;
  if (!samples || samples->nb_samples <= 0 || !enc || !ost.Fifo) return;
  EnsureAudioConverter(ost, ist.Decoder, samples);

  const int encRate = enc->sample_rate;
  const int inRate = samples->sample_rate > 0 ? samples->sample_rate : ist.Decoder->sample_rate;
  const auto inFormat = static_cast<AVSampleFormat>(samples->format);
  const int inChannels = samples->ch_layout.nb_channels > 0 ? samples->ch_layout.nb_channels
                                                            : ist.Decoder->ch_layout.nb_channels;
  std::vector<const std::uint8_t *> planes;
  OffsetPlanes(samples->extended_data, inFormat, inChannels, 0, planes);
  int size = samples->nb_samples; // input samples still to convert
  int silence = 0;                // input samples of silence to put before them

  // The output starts and ends on the sample: the part of a block before the start
  // time or past the recording time is cut off.
  int skipped = 0;
  if (const std::int64_t leadUs = job_.StartTimeUs - ist.Pts; leadUs > 0 && inRate > 0) {
    skipped =
        int(std::min<std::int64_t>(ff::av_rescale_rnd(leadUs, inRate, AV_TIME_BASE, AV_ROUND_UP), size));
    size -= skipped;
    OffsetPlanes(samples->extended_data, inFormat, inChannels, skipped, planes);
  }
  if (job_.RecordingTimeUs != INT64_MAX && inRate > 0) {
    const std::int64_t endUs = job_.StartTimeUs + job_.RecordingTimeUs;
    const std::int64_t room =
        ff::av_rescale_rnd(endUs - ist.Pts, inRate, AV_TIME_BASE, AV_ROUND_UP) - skipped;
    size = int(std::clamp<std::int64_t>(room, 0, size));
  }
  if (size <= 0) return;
  // Where this block's first kept sample belongs on the output's clock.
  const double syncTime = SyncTime(ost) + (inRate > 0 ? double(skipped) / inRate : 0.0);

  // Samples produced but not yet encoded: in the FIFO and inside the resampler.
  const auto pending = [&] {
    std::int64_t waiting = ff::av_audio_fifo_size(ost.Fifo.get());
    if (ost.Resampler) waiting += ff::swr_get_delay(ost.Resampler.get(), encRate);
    return waiting;
  };

  if (job_.AudioSyncMethod != 0) {
    const double delta = syncTime * encRate - double(ost.SyncOutputPts) - double(pending());
    const auto inDelta = static_cast<std::int64_t>(delta * inRate / encRate);
    if (std::fabs(delta) > kDriftNoiseSamples) {
      if (ist.IsStart || std::fabs(delta) > job_.AudioDriftThreshold * encRate) {
        if (inDelta < 0) {
          const int drop = static_cast<int>(std::min<std::int64_t>(-inDelta, size));
          size -= drop;
          OffsetPlanes(samples->extended_data, inFormat, inChannels, skipped + drop, planes);
          if (job_.Verbose > 2) LogFmt(llVerbose, "discarding %d audio samples", static_cast<int>(-delta));
          if (size <= 0) return;
          ist.IsStart = false;
        } else if (inDelta > 0) {
          ist.IsStart = false;
          silence = static_cast<int>(std::min<std::int64_t>(inDelta, INT_MAX / 2));
          if (job_.Verbose > 2)
            LogFmt(llVerbose, "adding %d audio samples of silence", static_cast<int>(delta));
        }
      } else if (job_.AudioSyncMethod > 1) {
        const int comp = static_cast<int>(std::clamp<std::int64_t>(
            static_cast<std::int64_t>(delta), -job_.AudioSyncMethod, job_.AudioSyncMethod));
        if (!ost.Resampler) {
          // Stretching needs a resampler even where nothing else has to be converted.
          ost.AudioResample = true;
          EnsureAudioConverter(ost, ist.Decoder, samples);
        }
        if (job_.Verbose > 2)
          LogFmt(llVerbose, "compensating audio timestamp drift:%f compensation:%d in:%d", delta, comp,
                 encRate);
        if (ff::swr_set_compensation(ost.Resampler.get(), comp, encRate) < 0)
          Log(llError, "Cannot compensate the audio timestamp drift");
      }
    }
  } else {
    ost.SyncOutputPts = std::llround(syncTime * encRate) - pending();
  }

  if (silence > 0) {
    if (ost.Resampler) {
      if (ff::swr_inject_silence(ost.Resampler.get(), silence) < 0)
        throw FFmpegException("av_audio_convert() failed");
    } else {
      // Without a converter the input already has the encoder's format and rate.
      FramePtr zeros = MakeFrame();
      if (!zeros) throw FFmpegException("Out of memory in do_audio_out");
      zeros->format = enc->sample_fmt;
      zeros->nb_samples = silence;
      if (ff::av_channel_layout_copy(&zeros->ch_layout, &enc->ch_layout) < 0 ||
          ff::av_frame_get_buffer(zeros.get(), 0) < 0)
        throw FFmpegException("Out of memory in do_audio_out");
      ff::av_samples_set_silence(zeros->extended_data, 0, silence, enc->ch_layout.nb_channels,
                                 enc->sample_fmt);
      if (ff::av_audio_fifo_write(ost.Fifo.get(), reinterpret_cast<void **>(zeros->extended_data), silence) <
          silence)
        throw FFmpegException("av_fifo_realloc2() failed");
    }
  }
  ConvertAudioIntoFifo(ost, planes.data(), size);

  AVAudioFifo *fifo = ost.Fifo.get();
  if (TakesAnyFrameSize(enc)) {
    const int count = ff::av_audio_fifo_size(fifo);
    if (count <= 0) return;
    FramePtr frame = TakeEncoderFrame(enc, fifo, count, ost.SyncOutputPts);
    ost.SyncOutputPts += count;
    EncodeAudioFrame(ost, frame.get());
    return;
  }
  const int frameSize = enc->frame_size;
  while (ff::av_audio_fifo_size(fifo) >= frameSize) {
    FramePtr frame = TakeEncoderFrame(enc, fifo, frameSize, ost.SyncOutputPts);
    ost.SyncOutputPts += frameSize;
    EncodeAudioFrame(ost, frame.get());
  }
}

void TCustomFFmpeg::FlushAudioOut(TOutputStreamRecord &ost) {
  AVCodecContext *enc = ost.Encoder;
  if (!enc || !ost.EncodingNeeded || enc->codec_type != AVMEDIA_TYPE_AUDIO || !ost.Fifo) return;
  // What the resampler still holds belongs before the FIFO's remainder is framed.
  if (ost.Resampler) ConvertAudioIntoFifo(ost, nullptr, 0);
  AVAudioFifo *fifo = ost.Fifo.get();
  const bool anySize = TakesAnyFrameSize(enc);
  const int frameSize = anySize ? 0 : enc->frame_size;
  while (!anySize && ff::av_audio_fifo_size(fifo) >= frameSize) {
    FramePtr frame = TakeEncoderFrame(enc, fifo, frameSize, ost.SyncOutputPts);
    ost.SyncOutputPts += frameSize;
    EncodeAudioFrame(ost, frame.get());
  }
  const int left = ff::av_audio_fifo_size(fifo);
  if (left > 0) {
    // A short last frame where the encoder takes one; otherwise padded with silence.
    const bool shortLast =
        anySize || (enc->codec && (enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME));
    const int samples = shortLast ? left : frameSize;
    FramePtr frame = TakeEncoderFrame(enc, fifo, samples, ost.SyncOutputPts);
    ost.SyncOutputPts += samples;
    EncodeAudioFrame(ost, frame.get());
  }
  EncodeAudioFrame(ost, nullptr);
}

} // namespace tovi
