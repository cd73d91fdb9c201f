// The output stream creators (new_video_stream, new_audio_stream, new_subtitle_stream):
// one stream each, configured from the pending settings, which they then reset.
//
// Everything that can fail is done before the stream is added to the muxer context, so
// that a refused stream (reached through "newvideo"...) leaves no half-made stream in an
// output file that stays open.
#include <cmath>

#include "engine/CodecChoice.h"
#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"

namespace tovi {

namespace {

// The library's quality scale per quantiser step (FF_QP2LAMBDA).
constexpr double kQualityPerQuantiser = 118.0;

// Display aspect ratio to sample aspect ratio, limited to terms of 255 as the muxers of
// the old generation wrote them.
AVRational SampleAspect(double frameAspect, int width, int height) {
  const double sar = width * height == 0 ? frameAspect * 3.0 / 4.0 : frameAspect * height / width;
  return ff::av_d2q(sar, 255);
}

CodecContextPtr NewEncoderContext(const AVCodec *codec, AVMediaType type) {
  // Allocated for the encoder when it is known, so that the encoder's own defaults
  // (libx264's rate control, for one) apply before the generic options are copied.
  CodecContextPtr context(ff::avcodec_alloc_context3(codec));
  if (!context) throw FFmpegException("avcodec_alloc_context failed");
  context->codec_type = type;
  return context;
}

uint16_t *CopyMatrix(const TQuantMatrix &matrix) {
  auto *copy = static_cast<uint16_t *>(ff::av_malloc(sizeof(matrix)));
  if (!copy) throw FFmpegException("Could not allocate the quantiser matrix");
  std::copy(matrix.begin(), matrix.end(), copy);
  return copy;
}

} // namespace

AVStream *TCustomFFmpeg::CreateOutputStream(TOutputFile &file) {
  AVFormatContext *context = file.Context.get();
  // The stream id map and the filter chain table hold MAX_STREAMS entries per file.
  if (context->nb_streams >= static_cast<unsigned>(MAX_STREAMS))
    throw FFmpegException("Could not alloc stream");
  if (encoderOverrideCount_ >= MAX_CODEC_OVERRIDES)
    throw FFmpegException::Fmt("Too many output streams (the table holds %d)", MAX_CODEC_OVERRIDES);
  AVStream *stream = ff::avformat_new_stream(context, nullptr);
  if (!stream) throw FFmpegException("Could not alloc stream");
  stream->id = streamIdMap_[stream->index];
  return stream;
}

void TCustomFFmpeg::AttachOutputStream(TOutputFile &file, int slot, AVStream *stream, TOutputStream encoder,
                                       TBitstreamFilterChain &pendingChain, const AVCodec *override,
                                       std::string &language) {
  // Seam: provisional; the transcode set-up fills codecpar from the opened encoder or
  // from the copied input stream.
  ff::avcodec_parameters_from_context(stream->codecpar, encoder.Encoder.get());
  outputBitstreamFilters_[static_cast<size_t>(slot)][static_cast<size_t>(stream->index)] =
      std::move(pendingChain);
  pendingChain = TBitstreamFilterChain{};
  file.Streams.push_back(std::move(encoder));
  AppendEncoderOverride(override);
  if (!language.empty()) ff::av_dict_set(&stream->metadata, "language", language.c_str(), 0);
  language.clear();
}

void TCustomFFmpeg::NewVideoStream(TOutputFile &file, int slot) {
  AVFormatContext *oc = file.Context.get();
  AVCodecContext *videoOptions = optionContexts_->CodecOptions(AVMEDIA_TYPE_VIDEO);
  TOutputStream out;
  out.StreamCopy = pending_.VideoStreamCopy;
  const AVCodec *override = nullptr;
  if (!out.StreamCopy) {
    if (!pending_.VideoCodecName.empty()) {
      AVCodecID id;
      if (!FindCodec(pending_.VideoCodecName, AVMEDIA_TYPE_VIDEO, true, videoOptions->strict_std_compliance,
                     id, &override))
        throw FFmpegException(lastError_);
      out.Codec = override;
    } else {
      const AVCodecID id =
          ff::av_guess_codec(oc->oformat, nullptr, file.FileName.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
      out.Codec = ff::avcodec_find_encoder(id);
    }
  }
  out.Encoder = NewEncoderContext(out.Codec, AVMEDIA_TYPE_VIDEO);
  AVCodecContext *enc = out.Encoder.get();
  enc->thread_count = job_.ThreadCount;
  if (pending_.VideoCodecTag) enc->codec_tag = pending_.VideoCodecTag;

  if ((job_.VideoGlobalHeader & 1) ||
      (job_.VideoGlobalHeader == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    videoOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (job_.VideoGlobalHeader & 2) {
    enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    videoOptions->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  }

  const AVRational aspect =
      SampleAspect(pending_.FrameAspectRatio, pending_.FrameWidth, pending_.FrameHeight);
  enc->sample_aspect_ratio = aspect;
  if (!out.StreamCopy) {
    AVRational rate = pending_.FrameRate.num == 0 ? AVRational{25, 1} : pending_.FrameRate;
    if (out.Codec) enc->codec_id = out.Codec->id;
    CopyGenericOptions(*optionContexts_, enc, videoOptions,
                       AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
    if (out.Codec && out.Codec->supported_framerates && !job_.ForceFps)
      rate =
          out.Codec->supported_framerates[ff::av_find_nearest_q_idx(rate, out.Codec->supported_framerates)];
    enc->time_base = AVRational{rate.den, rate.num};
    enc->framerate = rate;
    enc->width = pending_.FrameWidth;
    enc->height = pending_.FrameHeight;
    enc->pix_fmt = static_cast<AVPixelFormat>(pending_.FramePixelFormat);
    if (!pending_.FramePixelFormatChosen && OfferDesignedPixelFormat(enc, out.Codec) &&
        pending_.FramePixelFormat >= 0)
      LogFmt(llInfo,
             "Pixel format %s of the source converted to %s for %s, as players expect (-pix_fmt "
             "chooses another)",
             ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(pending_.FramePixelFormat)),
             ff::av_get_pix_fmt_name(enc->pix_fmt), out.Codec->name);
    ChoosePixelFormat(enc, out.Codec);
    ChooseDvPixelFormat(enc, out.Codec);
    if (pending_.IntraOnly) enc->gop_size = 0;
    if (pending_.VideoQScale != 0 || pending_.SameQuality) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(std::trunc(kQualityPerQuantiser * pending_.VideoQScale));
    }
    if (pending_.IntraMatrix) enc->intra_matrix = CopyMatrix(*pending_.IntraMatrix);
    if (pending_.InterMatrix) enc->inter_matrix = CopyMatrix(*pending_.InterMatrix);
    SetRcOverride(enc, ParseRcOverride(pending_.RcOverride));
    if (enc->rc_initial_buffer_occupancy == 0) enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
    // The motion-estimation threshold has no counterpart in this library generation.
    enc->intra_dc_precision = pending_.IntraDcPrecision - 8;
    if (job_.DoPsnr) enc->flags |= AV_CODEC_FLAG_PSNR;
    if (job_.Pass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
    if (job_.Pass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
  }

  AVStream *stream;
  try {
    stream = CreateOutputStream(file);
  } catch (const FFmpegException &) {
    pending_.VideoCodecName.clear();
    throw;
  }
  stream->sample_aspect_ratio = aspect;
  AttachOutputStream(file, slot, stream, std::move(out), pendingVideoFilters_, override,
                     pending_.VideoLanguage);
  pending_.VideoDisable = false;
  pending_.VideoCodecName.clear();
  pending_.VideoStreamCopy = false;
  pending_.FramePixelFormat = -1;
  pending_.FramePixelFormatChosen = false;
}

void TCustomFFmpeg::NewAudioStream(TOutputFile &file, int slot) {
  AVFormatContext *oc = file.Context.get();
  AVCodecContext *audioOptions = optionContexts_->CodecOptions(AVMEDIA_TYPE_AUDIO);
  TOutputStream out;
  out.StreamCopy = pending_.AudioStreamCopy;
  const AVCodec *override = nullptr;
  if (!out.StreamCopy) {
    if (!pending_.AudioCodecName.empty()) {
      AVCodecID id;
      if (!FindCodec(pending_.AudioCodecName, AVMEDIA_TYPE_AUDIO, true, audioOptions->strict_std_compliance,
                     id, &override))
        throw FFmpegException(lastError_);
      out.Codec = override;
    } else {
      const AVCodecID id =
          ff::av_guess_codec(oc->oformat, nullptr, file.FileName.c_str(), nullptr, AVMEDIA_TYPE_AUDIO);
      out.Codec = ff::avcodec_find_encoder(id);
    }
  }
  out.Encoder = NewEncoderContext(out.Codec, AVMEDIA_TYPE_AUDIO);
  AVCodecContext *enc = out.Encoder.get();
  enc->thread_count = job_.ThreadCount;
  if (pending_.AudioCodecTag) enc->codec_tag = pending_.AudioCodecTag;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    audioOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }

  enc->sample_rate = pending_.AudioSampleRate;
  ff::av_channel_layout_uninit(&enc->ch_layout);
  if (out.StreamCopy) {
    ff::av_channel_layout_default(&enc->ch_layout, pending_.AudioChannels);
  } else {
    CopyGenericOptions(*optionContexts_, enc, audioOptions,
                       AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
    if (out.Codec) enc->codec_id = out.Codec->id;
    if (pending_.AudioQScale > -99999.0) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(std::trunc(kQualityPerQuantiser * pending_.AudioQScale));
    }
    // A layout that does not match the channel count is dropped: the count wins.
    AVChannelLayout layout{};
    if (pending_.ChannelLayout != 0 &&
        ff::av_channel_layout_from_mask(&layout, pending_.ChannelLayout) == 0 &&
        layout.nb_channels == pending_.AudioChannels) {
      enc->ch_layout = layout;
    } else {
      ff::av_channel_layout_uninit(&layout);
      enc->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
      enc->ch_layout.nb_channels = pending_.AudioChannels;
    }
    enc->sample_fmt = static_cast<AVSampleFormat>(pending_.AudioSampleFormat);
    ChooseSampleFormat(enc, out.Codec);
    ChooseSampleRate(enc, out.Codec, this);
  }
  if (pending_.AudioSampleRate > 0) enc->time_base = AVRational{1, pending_.AudioSampleRate};

  AVStream *stream;
  try {
    stream = CreateOutputStream(file);
  } catch (const FFmpegException &) {
    pending_.AudioCodecName.clear();
    pending_.AudioLanguage.clear();
    throw;
  }
  AttachOutputStream(file, slot, stream, std::move(out), pendingAudioFilters_, override,
                     pending_.AudioLanguage);
  pending_.AudioDisable = false;
  pending_.AudioCodecName.clear();
  pending_.AudioStreamCopy = false;
}

void TCustomFFmpeg::NewSubtitleStream(TOutputFile &file, int slot) {
  AVFormatContext *oc = file.Context.get();
  AVCodecContext *subtitleOptions = optionContexts_->CodecOptions(AVMEDIA_TYPE_SUBTITLE);
  TOutputStream out;
  out.StreamCopy = pending_.SubtitleStreamCopy;
  const AVCodec *override = nullptr;
  if (!out.StreamCopy) {
    if (!pending_.SubtitleCodecName.empty()) {
      AVCodecID id;
      if (!FindCodec(pending_.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true,
                     subtitleOptions->strict_std_compliance, id, &override))
        throw FFmpegException(lastError_);
      out.Codec = override;
    } else {
      // Like video and audio, the muxer's default subtitle encoder; without it the
      // stream would have no codec at all and the set-up could only refuse it.
      const AVCodecID id =
          ff::av_guess_codec(oc->oformat, nullptr, file.FileName.c_str(), nullptr, AVMEDIA_TYPE_SUBTITLE);
      out.Codec = ff::avcodec_find_encoder(id);
    }
  }
  out.Encoder = NewEncoderContext(out.Codec, AVMEDIA_TYPE_SUBTITLE);
  AVCodecContext *enc = out.Encoder.get();
  if (pending_.SubtitleCodecTag) enc->codec_tag = pending_.SubtitleCodecTag;
  if (!out.StreamCopy) {
    CopyGenericOptions(*optionContexts_, enc, subtitleOptions,
                       AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_SUBTITLE_PARAM);
    if (out.Codec) enc->codec_id = out.Codec->id;
  }

  AVStream *stream;
  try {
    stream = CreateOutputStream(file);
  } catch (const FFmpegException &) {
    pending_.SubtitleCodecName.clear();
    pending_.SubtitleLanguage.clear();
    throw;
  }
  AttachOutputStream(file, slot, stream, std::move(out), pendingSubtitleFilters_, override,
                     pending_.SubtitleLanguage);
  pending_.SubtitleDisable = false;
  pending_.SubtitleCodecName.clear();
  pending_.SubtitleStreamCopy = false;
}

} // namespace tovi
