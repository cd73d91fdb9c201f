// The decode side of the pipeline: every packet the loop reads (or none, at the end of
// an input) goes through ProcessPacket, which decodes it, keeps the input stream's
// clock, runs the video pre-processing and filter graph, and feeds every output the
// stream is the source of: encoders, subtitle encoders and stream copies.
#include <algorithm>
#include <cstring>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/SendReceive.h"
#include "media/Texts.h"

namespace tovi {

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

// Duration of one picture of a stream in us, from what is known about its rate.
std::int64_t FrameDurationUs(const TInputStreamRecord &ist, int repeatPict) {
  AVRational rate{0, 0};
  if (ist.Decoder && ist.Decoder->framerate.num > 0 && ist.Decoder->framerate.den > 0)
    rate = ist.Decoder->framerate;
  else if (ist.Stream->avg_frame_rate.num > 0 && ist.Stream->avg_frame_rate.den > 0)
    rate = ist.Stream->avg_frame_rate;
  else if (ist.Stream->r_frame_rate.num > 0 && ist.Stream->r_frame_rate.den > 0)
    rate = ist.Stream->r_frame_rate;
  if (rate.num == 0) return 0;
  // A repeated field lengthens the picture by half a frame each.
  const std::int64_t ticks = 2 + std::max(repeatPict, 0);
  return ff::av_rescale(std::int64_t(AV_TIME_BASE) * rate.den, ticks, std::int64_t(rate.num) * 2);
}

} // namespace

double TCustomFFmpeg::SyncTime(const TOutputStreamRecord &ost) const {
  const TInputStreamRecord &sync = tables_->InputStreams[size_t(ost.SyncIndex)];
  return double(sync.Pts - job_.StartTimeUs) / AV_TIME_BASE;
}

int TCustomFFmpeg::ProcessPacket(TInputStreamRecord &ist, int istIndex, const AVPacket *packet) {
  TTranscodeTables &t = *tables_;
  if (ist.NextPts == NO_TIMESTAMP) ist.NextPts = ist.Pts;
  const AVRational tb = ist.Stream->time_base;
  if (packet && packet->dts != AV_NOPTS_VALUE)
    ist.Pts = ist.NextPts = ff::av_rescale_q(packet->dts, tb, kMicroseconds);
  // The clock at the start of the packet, for stream copies.
  const std::int64_t packetPtsUs = ist.Pts;
  const AVMediaType type = ist.Stream->codecpar->codec_type;
  int result = 0;

  if (ist.DecodingNeeded) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
    case AVMEDIA_TYPE_AUDIO: {
      if (!decodedFrame_) decodedFrame_ = MakeFrame();
      if (!decodedFrame_) throw FFmpegException("av_frame_alloc fail");
      int frames = 0;
      const int rc = DecodeAndReceive(ist.Decoder, packet, decodedFrame_.get(), [&](AVFrame *frame) {
        // Decoders now hand out frames one by one; a packet that still yields a second
        // frame packs several (old AVI audio, some MPEG streams).
        if (++frames == 2 && packet &&
            ((!ist.MultiPacketWarningShown && job_.Verbose > 0) || job_.Verbose > 1)) {
          LogFmt(llError, "Multiple frames in a packet from stream %d", packet->stream_index);
          ist.MultiPacketWarningShown = true;
        }
        ProcessDecodedFrame(ist, istIndex, frame);
        return 0;
      });
      if (rc < 0 && rc != AVERROR_EOF) result = -1;
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
      if (packet) DecodeSubtitle(ist, istIndex, packet, result);
      break;
    default: result = -1; break;
    }
  } else if (packet) {
    // Not decoded: the clock advances by what the packet holds.
    std::int64_t durationUs = 0;
    if (packet->duration > 0) durationUs = ff::av_rescale_q(packet->duration, tb, kMicroseconds);
    const AVCodecParameters *par = ist.Stream->codecpar;
    if (type == AVMEDIA_TYPE_AUDIO && par->frame_size > 0 && par->sample_rate > 0)
      durationUs = std::int64_t(AV_TIME_BASE) * par->frame_size / par->sample_rate;
    else if (type == AVMEDIA_TYPE_VIDEO && durationUs == 0)
      durationUs = FrameDurationUs(ist, 0);
    ist.NextPts += durationUs;
  }

  if (packet && (job_.StartTimeUs == 0 || packetPtsUs >= job_.StartTimeUs)) {
    for (TOutputStreamRecord &ost : t.OutputStreams)
      if (ost.SourceIndex == istIndex && !ost.EncodingNeeded) CopyPacket(ost, ist, packet, packetPtsUs);
  }

  if (!packet && drainEncoders_) {
    for (TOutputStreamRecord &ost : t.OutputStreams)
      if (ost.SourceIndex == istIndex && ost.EncodingNeeded) DrainEncoder(ost);
  }
  return result;
}

bool TCustomFFmpeg::OutsideRecordingWindow(const TInputStreamRecord &ist, AVMediaType type) const {
  // A start time given before the input was applied by seeking: the input then begins
  // at the key frame before the wanted time, and its lead-in has negative times (the
  // start time is 0 by now). Nothing of it belongs in the output; a muxer shifting
  // negative times up (Matroska) would move every stream by the lead-in otherwise.
  // An audio block reaching past the start is kept: the audio output trims it.
  const std::int64_t endUs = type == AVMEDIA_TYPE_AUDIO ? ist.NextPts : ist.Pts + 1;
  if (endUs <= job_.StartTimeUs) return true;
  // The loop stops reading at the recording time by decoding order; pictures that a
  // decoder reorders or holds back can still show after it.
  return job_.RecordingTimeUs != INT64_MAX && ist.Pts >= job_.StartTimeUs + job_.RecordingTimeUs;
}

void TCustomFFmpeg::ProcessDecodedFrame(TInputStreamRecord &ist, int istIndex, AVFrame *frame) {
  const AVRational tb = ist.Stream->time_base;
  const AVMediaType type = ist.Stream->codecpar->codec_type;
  // The clock follows the frames' own times where the decoder knows them.
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
    ist.Pts = ff::av_rescale_q(frame->best_effort_timestamp, tb, kMicroseconds);
  else
    ist.Pts = ist.NextPts;
  std::int64_t durationUs = 0;
  if (type == AVMEDIA_TYPE_AUDIO) {
    if (frame->sample_rate > 0)
      durationUs = std::int64_t(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
  } else {
    durationUs = frame->pkt_duration > 0 ? ff::av_rescale_q(frame->pkt_duration, tb, kMicroseconds)
                                         : FrameDurationUs(ist, frame->repeat_pict);
  }
  ist.NextPts = ist.Pts + durationUs;

  const bool filtering = type == AVMEDIA_TYPE_VIDEO && usingVideoFilters_ && ist.InputVideoFilter;
  if (type == AVMEDIA_TYPE_VIDEO) {
    ist.Quality = float(frame->quality);
    PreProcessVideoFrame(ist, frame);
    if (filtering && !PushFilterFrame(ist, frame, ist.Pts))
      Log(llError, "Error while adding a picture to the video filter graph");
  }

  if (job_.RateEmulation) {
    const std::int64_t elapsed = ff::av_gettime() - ist.StartUs;
    if (ist.Pts - elapsed > 1000) WaitUnlessStopped(ist.Pts - elapsed);
  }

  if (OutsideRecordingWindow(ist, type)) return;
  if (filtering && ist.OutputVideoFilter) {
    while (PullFilteredFrame(ist)) {
      AVFrame *picture = ist.FilteredPicture.get();
      if (picture->pts != AV_NOPTS_VALUE) ist.Pts = picture->pts;
      ServeOutputs(ist, istIndex, picture, true);
    }
    return;
  }
  ServeOutputs(ist, istIndex, frame, false);
}

void TCustomFFmpeg::ServeOutputs(TInputStreamRecord &ist, int istIndex, AVFrame *frame, bool filtered) {
  for (TOutputStreamRecord &ost : tables_->OutputStreams) {
    if (ost.SourceIndex != istIndex || !ost.EncodingNeeded) continue;
    switch (ost.Encoder->codec_type) {
    case AVMEDIA_TYPE_AUDIO: DoAudioOut(ost, ist, frame); break;
    case AVMEDIA_TYPE_VIDEO: {
      // The graph may change the aspect ratio; an encoder on its own thread takes it there.
      const bool takeAspect = filtered && frame->sample_aspect_ratio.num;
      if (takeAspect && !EncodesApart(ost)) ost.Encoder->sample_aspect_ratio = frame->sample_aspect_ratio;
      const int frameSize = EncodeVideoFrame(ost, ist, frame, takeAspect);
      if (!job_.VStatsFileName.empty() && frameSize > 0) WriteVideoStats(ost, frameSize);
      break;
    }
    default: throw FFmpegException("invalid codec_type");
    }
  }
}

void TCustomFFmpeg::DecodeSubtitle(TInputStreamRecord &ist, int istIndex, const AVPacket *packet,
                                   int &result) {
  AVSubtitle subtitle{};
  int got = 0;
  // The packet is only read; the library's signature predates const.
  if (ff::avcodec_decode_subtitle2(ist.Decoder, &subtitle, &got, const_cast<AVPacket *>(packet)) < 0) {
    result = -1;
    return;
  }
  if (!got) return;
  struct Free {
    AVSubtitle *s;
    ~Free() { ff::avsubtitle_free(s); }
  } release{&subtitle};
  if (job_.StartTimeUs != 0 && ist.Pts < job_.StartTimeUs) return;
  for (TOutputStreamRecord &ost : tables_->OutputStreams)
    if (ost.SourceIndex == istIndex && ost.EncodingNeeded) EncodeSubtitle(ost, ist, &subtitle, packet->pts);
}

void TCustomFFmpeg::CopyPacket(TOutputStreamRecord &ost, const TInputStreamRecord &ist,
                               const AVPacket *packet, std::int64_t packetPtsUs) {
  // A copy starts at a key packet, unless the start may be broken.
  if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && !job_.CopyInitialNonKeyFrames) return;
  const AVMediaType type = ist.Stream->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_AUDIO) {
    audioBytes_ += packet->size;
  } else if (type == AVMEDIA_TYPE_VIDEO) {
    videoBytes_ += packet->size;
    ++ost.SyncOutputPts;
  }
  if (!copyPacket_) copyPacket_ = MakePacket();
  if (!copyPacket_ || ff::av_packet_ref(copyPacket_.get(), packet) < 0)
    throw FFmpegException("av_packet_ref fail");
  AVPacket *out = copyPacket_.get();
  const AVRational in = ist.Stream->time_base;
  const AVRational outTb = ost.Stream->time_base;
  const std::int64_t offset = ff::av_rescale_q(job_.StartTimeUs, kMicroseconds, outTb);
  out->pts =
      packet->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(packet->pts, in, outTb) - offset : AV_NOPTS_VALUE;
  out->dts = (packet->dts != AV_NOPTS_VALUE ? ff::av_rescale_q(packet->dts, in, outTb)
                                            : ff::av_rescale_q(packetPtsUs, kMicroseconds, outTb)) -
             offset;
  if (ost.CopyCountsChunks && packet->dts != AV_NOPTS_VALUE) {
    // The first picture's place is rounded down: a start a fraction of a frame after 0
    // (Matroska shifts every stream by the audio encoder's delay) must not become a
    // whole empty frame; the pictures after it keep their distance from it.
    if (ost.CopyOriginIn == AV_NOPTS_VALUE) {
      ost.CopyOriginIn = packet->dts;
      ost.CopyOriginOut = ff::av_rescale_q_rnd(packet->dts, in, outTb, AV_ROUND_DOWN) - offset;
    }
    out->dts = ost.CopyOriginOut + ff::av_rescale_q(packet->dts - ost.CopyOriginIn, in, outTb);
    if (packet->pts != AV_NOPTS_VALUE)
      out->pts = ost.CopyOriginOut + ff::av_rescale_q(packet->pts - ost.CopyOriginIn, in, outTb);
  }
  out->duration = ff::av_rescale_q(packet->duration, in, outTb);
  // A coarser time base (a frame-counting muxer's frame duration) can round two close
  // source times onto one tick; the muxer refuses a decoding time that does not advance.
  if (out->dts != AV_NOPTS_VALUE && type != AVMEDIA_TYPE_SUBTITLE) {
    if (ost.LastCopiedDts != AV_NOPTS_VALUE && out->dts <= ost.LastCopiedDts)
      out->dts = ost.LastCopiedDts + 1;
    if (out->pts != AV_NOPTS_VALUE && out->pts < out->dts) out->pts = out->dts;
    ost.LastCopiedDts = out->dts;
  }
  out->time_base = outTb;
  // Today's muxers take the packets as the demuxer gave them; there is no parser
  // rewrite step left to apply.
  WriteFrame(ost, out);
  ff::av_packet_unref(out);
  ++ost.FrameNumber;
}

void TCustomFFmpeg::DrainEncoder(TOutputStreamRecord &ost) {
  AVCodecContext *enc = ost.Encoder;
  if (!enc || !ff::avcodec_is_open(enc)) return;
  switch (enc->codec_type) {
  case AVMEDIA_TYPE_AUDIO: FlushAudioOut(ost); break;
  case AVMEDIA_TYPE_VIDEO: {
    if (ost.EncodeStage) {
      ost.EncodeStage->Drain([&](AVPacket *packet) { WriteVideoPacket(ost, packet); });
      break;
    }
    if (!encodedPacket_) encodedPacket_ = MakePacket();
    const int rc = EncodeAndReceive(enc, nullptr, encodedPacket_.get(), [&](AVPacket *packet) {
      WriteVideoPacket(ost, packet);
      return 0;
    });
    if (rc < 0 && rc != AVERROR_EOF) throw FFmpegException("Video encoding failed");
    break;
  }
  default: break; // subtitle encoders hold nothing back
  }
}

void TCustomFFmpeg::EncodeSubtitle(TOutputStreamRecord &ost, TInputStreamRecord &ist, AVSubtitle *subtitle,
                                   std::int64_t pts) {
  if (pts == AV_NOPTS_VALUE) {
    if (job_.ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
    Log(llError, "Subtitle packets must have a pts");
    return;
  }
  constexpr std::size_t kSubtitleBufferBytes = 1 << 20;
  if (subtitleBuffer_.size() < kSubtitleBufferBytes) subtitleBuffer_.resize(kSubtitleBufferBytes);
  AVCodecContext *enc = ost.Encoder;
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const AVRational outTb = ost.Stream->time_base;
  const unsigned rects = subtitle->num_rects;
  // DVB subtitles are shown by one packet and cleared by a second, empty one.
  for (int round = 0; round < (dvb ? 2 : 1); ++round) {
    subtitle->pts = ff::av_rescale_q(pts, ist.Stream->time_base, kMicroseconds) +
                    ff::av_rescale_q(subtitle->start_display_time, AVRational{1, 1000}, kMicroseconds);
    subtitle->end_display_time -= subtitle->start_display_time;
    subtitle->start_display_time = 0;
    if (round == 1) subtitle->num_rects = 0;
    const int size =
        ff::avcodec_encode_subtitle(enc, subtitleBuffer_.data(), int(subtitleBuffer_.size()), subtitle);
    subtitle->num_rects = rects;
    if (size < 0) throw FFmpegException("Subtitle encoding failed");
    PacketPtr packet = MakePacket();
    if (!packet || ff::av_new_packet(packet.get(), size) < 0) throw FFmpegException("av_new_packet fail");
    std::memcpy(packet->data, subtitleBuffer_.data(), std::size_t(size));
    packet->pts = ff::av_rescale_q(subtitle->pts, kMicroseconds, outTb);
    if (dvb)
      packet->pts += ff::av_rescale_q(round == 0 ? subtitle->start_display_time : subtitle->end_display_time,
                                      AVRational{1, 1000}, outTb);
    packet->dts = packet->pts;
    if (!dvb) packet->duration = ff::av_rescale_q(subtitle->end_display_time, AVRational{1, 1000}, outTb);
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->time_base = outTb;
    WriteFrame(ost, packet.get());
  }
}

} // namespace tovi
