// The audio side: SDL's audio device, the callback that decodes the audio queue on
// demand and mixes signed 16-bit samples at the player's volume, and the audio clock,
// which is the master clock of playback.
#include <algorithm>
#include <cstring>

#include "media/StringFormat.h"
#include "player/PlayerCore.h"

namespace tovi {

namespace {

// Builds the converter for `frame` when its format, rate or layout changed. False when
// none can be made (reported).
bool EnsureConverter(TPlayContext &ctx, const AVFrame *frame) {
  if (ctx.swr && ctx.swrInFormat == frame->format && ctx.swrInRate == frame->sample_rate &&
      ff::av_channel_layout_compare(&ctx.swrInLayout, &frame->ch_layout) == 0)
    return true;
  ctx.swr.reset();
  AVChannelLayout outLayout{};
  ff::av_channel_layout_default(&outLayout, ctx.audioChannels);
  SwrContext *raw = nullptr;
  int rc = ff::swr_alloc_set_opts2(
      &raw, &outLayout, AV_SAMPLE_FMT_S16, ctx.audioRate, const_cast<AVChannelLayout *>(&frame->ch_layout),
      static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
  SwrContextPtr swr(raw);
  if (rc >= 0) rc = ff::swr_init(swr.get());
  if (rc < 0) {
    const char *name = ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
    ctx.player->Report(llError,
                       StringFormat("Cannot convert %s sample format to %s sample format",
                                    name ? name : "unknown", ff::av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)));
    return false;
  }
  ctx.swr = std::move(swr);
  ctx.swrInFormat = frame->format;
  ctx.swrInRate = frame->sample_rate;
  ff::av_channel_layout_uninit(&ctx.swrInLayout);
  ff::av_channel_layout_copy(&ctx.swrInLayout, &frame->ch_layout);
  return true;
}

// Puts `frame` as signed 16-bit samples into one of the two buffers. Bytes, or -1.
int ConvertFrame(TPlayContext &ctx, const AVFrame *frame) {
  const int channels = frame->ch_layout.nb_channels;
  if (frame->format == AV_SAMPLE_FMT_S16 && channels == ctx.audioChannels &&
      frame->sample_rate == ctx.audioRate) {
    const int bytes = std::min(frame->nb_samples * channels * 2, AUDIO_BUFFER_BYTES);
    std::memcpy(ctx.audioBuf1.data(), frame->data[0], bytes);
    ctx.audioBuf = ctx.audioBuf1.data();
    return bytes;
  }
  if (!EnsureConverter(ctx, frame)) return -1;
  std::uint8_t *out[1] = {ctx.audioBuf2.data()};
  const int capacity = AUDIO_BUFFER_BYTES / (2 * ctx.audioChannels);
  const int samples =
      ff::swr_convert(ctx.swr.get(), out, capacity, const_cast<const std::uint8_t **>(frame->extended_data),
                      frame->nb_samples);
  if (samples < 0) {
    ctx.player->Report(llError, "av_audio_convert() failed");
    return -1;
  }
  ctx.audioBuf = ctx.audioBuf2.data();
  return samples * 2 * ctx.audioChannels;
}

// Audio thread: the byte count of the next decoded samples in ctx.audioBuf, or -1.
int AudioDecodeFrame(TPlayContext &ctx) {
  AVCodecContext *dec = ctx.audioDec.get();
  AVFrame *frame = ctx.audioFrame.get();
  for (;;) {
    if (ctx.audioPktPending) {
      const int rc = ff::avcodec_send_packet(dec, ctx.audioPkt.get());
      if (rc != AVERROR(EAGAIN)) {
        if (rc < 0 && rc != AVERROR_EOF) ctx.player->Report(llInfo, "avcodec_decode_audio2() failed");
        ff::av_packet_unref(ctx.audioPkt.get());
        ctx.audioPktPending = false;
      }
    }
    const int rc = ff::avcodec_receive_frame(dec, frame);
    if (rc >= 0) {
      const std::int64_t ts = frame->best_effort_timestamp;
      const int bytes = frame->nb_samples > 0 ? ConvertFrame(ctx, frame) : 0;
      ff::av_frame_unref(frame);
      if (bytes <= 0) continue;
      double clock = ctx.audioClock;
      if (ts != AV_NOPTS_VALUE) clock = ts * av_q2d(ctx.audioSt->time_base);
      ctx.audioClock = clock + static_cast<double>(bytes) / (2.0 * ctx.audioChannels * ctx.audioRate);
      return bytes;
    }
    if (ctx.audioPktPending) continue; // the decoder made room: send again
    if (ctx.paused || ctx.audioq.Aborted()) return -1;
    // Cleared before a packet leaves the queue: the demux thread reads the queue's size
    // first and this mark second, so it never sees both empty while a packet is in flight.
    ctx.audioDrained = false;
    if (ctx.audioq.Get(ctx.audioPkt.get(), false) <= 0) {
      ctx.audioDrained = true; // every decoded sample has gone to the device
      return -1;
    }
    if (IsFlushPacket(ctx.audioPkt.get())) {
      ff::avcodec_flush_buffers(dec);
      ff::av_packet_unref(ctx.audioPkt.get());
      continue;
    }
    // A packet with a time stamp sets the clock through its frame; one without
    // continues from the previous frame.
    ctx.audioPktPending = true;
  }
}

// SDL's audio thread.
void AudioCallback(void *opaque, Uint8 *stream, int len) {
  TPlayContext &ctx = *static_cast<TPlayContext *>(opaque);
  TPlayerCore &core = *ctx.player;
  core.audioCallbackTime = WallClockMicros();
  while (len > 0) {
    if (ctx.audioBufIndex >= ctx.audioBufSize) {
      const int n = AudioDecodeFrame(ctx);
      if (ctx.audioq.Aborted()) break;
      if (n < 0) {
        ctx.audioBuf = ctx.audioBuf1.data();
        std::memset(ctx.audioBuf, 0, 1024);
        ctx.audioBufSize = 1024;
      } else {
        if (ctx.showAudio) WaveRingUpdate(ctx, reinterpret_cast<const std::int16_t *>(ctx.audioBuf), n / 2);
        ctx.audioBufSize = n;
      }
      ctx.audioBufIndex = 0;
    }
    const int n = std::min(ctx.audioBufSize - ctx.audioBufIndex, len);
    std::memset(stream, 0, n);
    if (!core.mute)
      ff::SDL_MixAudioFormat(stream, ctx.audioBuf + ctx.audioBufIndex, AUDIO_S16SYS, n, core.audioVolume);
    ctx.audioBufIndex += n;
    stream += n;
    len -= n;
  }
  if (len > 0) std::memset(stream, 0, len);
}

} // namespace

int AudioOpen(TPlayContext &ctx) {
  AVCodecContext *dec = ctx.audioDec.get();
  const int decChannels = dec->ch_layout.nb_channels;
  SDL_AudioSpec wanted{}, obtained{};
  wanted.freq = dec->sample_rate;
  wanted.format = AUDIO_S16SYS;
  // At most two channels: the converter mixes anything wider down to stereo.
  wanted.channels = static_cast<Uint8>(std::clamp(decChannels, 1, 2));
  wanted.silence = 0;
  wanted.samples = 1024;
  wanted.callback = &AudioCallback;
  wanted.userdata = &ctx;
  SDL_AudioDeviceID dev = 0;
  if (wanted.freq > 0 && decChannels > 0) dev = ff::SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (dev == 0) {
    ctx.player->Report(llError, std::string("SDL_OpenAudio() failed: ") +
                                    (wanted.freq > 0 ? ff::SDL_GetError() : "no sample rate"));
    return -1;
  }
  ctx.audioDevice = dev;
  ctx.audioRate = obtained.freq;
  ctx.audioChannels = obtained.channels;
  ctx.swrInFormat = AV_SAMPLE_FMT_S16;
  ctx.audioBuf1.assign(AUDIO_BUFFER_BYTES, 0);
  ctx.audioBuf2.assign(AUDIO_BUFFER_BYTES, 0);
  ctx.audioBuf = ctx.audioBuf1.data();
  ctx.sampleArray.assign(SAMPLE_ARRAY_SIZE, 0);
  ctx.audioPkt = MakePacket();
  ctx.audioFrame = MakeFrame();
  if (!ctx.audioPkt || !ctx.audioFrame) {
    ff::SDL_CloseAudioDevice(dev);
    ctx.audioDevice = 0;
    return -1;
  }
  return 0;
}

void AudioStart(TPlayContext &ctx) {
  ctx.audioBufSize = 0;
  ctx.audioBufIndex = 0;
  ff::av_packet_unref(ctx.audioPkt.get());
  ctx.audioPktPending = false;
  ff::SDL_PauseAudioDevice(ctx.audioDevice, 0);
}

void AudioClose(TPlayContext &ctx) {
  if (ctx.audioDevice) ff::SDL_CloseAudioDevice(ctx.audioDevice);
  ctx.audioDevice = 0;
}

double AudioClock(const TPlayContext &ctx) {
  double pts = ctx.audioClock;
  if (ctx.HasAudio() && ctx.audioRate > 0) {
    const int pending = ctx.audioBufSize - ctx.audioBufIndex;
    pts -= static_cast<double>(pending) / (2.0 * ctx.audioChannels * ctx.audioRate);
  }
  return pts;
}

} // namespace tovi
