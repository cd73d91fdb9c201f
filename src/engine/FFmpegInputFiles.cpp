// AddInputFile: opens one input, applies the pending input settings, probes it and
// copies its stream properties back into the pending settings, so that the output
// streams created later default to the input's size, rate and audio layout.
#include <cinttypes>
#include <cmath>

#include "engine/FFmpeg.h"
#include "media/StringFormat.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/Texts.h"

namespace tovi {

namespace {

std::string RateText(AVRational rate) { return std::to_string(rate.num) + "/" + std::to_string(rate.den); }

bool IsKnownMediaType(int type) { return type >= AVMEDIA_TYPE_UNKNOWN && type < AVMEDIA_TYPE_NB; }

} // namespace

bool TCustomFFmpeg::AddInputFile(const std::string &fileName) {
  RequireLibraries();
  if (!optionContexts_) throw FFmpegException("The engine has not been reset");
  // Refused before anything is opened or consumed.
  if (inputCount_ >= MAX_FILES)
    throw FFmpegException::Fmt("Too many input files (the table holds %d)", MAX_FILES);

  const AVInputFormat *format = nullptr;
  if (!pending_.FormatName.empty()) {
    format = ff::av_find_input_format(pending_.FormatName.c_str());
    if (!format) throw FFmpegException::Fmt("Unknown input format: \"%s\"", pending_.FormatName.c_str());
    pending_.FormatName.clear();
  }

  // Consumed whether the file is added or not.
  const auto consumeNames = [this] {
    pending_.VideoCodecName.clear();
    pending_.AudioCodecName.clear();
    pending_.SubtitleCodecName.clear();
    pending_.VideoChannel = 0;
  };
  const auto fail = [&](const std::string &message) {
    lastError_ = message;
    consumeNames();
    return false;
  };

  // Decoders forced by name, each checked against its media type's strictness.
  const auto strictness = [this](AVMediaType type) {
    return optionContexts_->CodecOptions(type)->strict_std_compliance;
  };
  AVCodecID videoId, audioId, subtitleId;
  const AVCodec *videoDecoder = nullptr, *audioDecoder = nullptr, *subtitleDecoder = nullptr;
  if (!FindCodec(pending_.VideoCodecName, AVMEDIA_TYPE_VIDEO, false, strictness(AVMEDIA_TYPE_VIDEO), videoId,
                 &videoDecoder) ||
      !FindCodec(pending_.AudioCodecName, AVMEDIA_TYPE_AUDIO, false, strictness(AVMEDIA_TYPE_AUDIO), audioId,
                 &audioDecoder) ||
      !FindCodec(pending_.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, strictness(AVMEDIA_TYPE_SUBTITLE),
                 subtitleId, &subtitleDecoder))
    return fail(lastError_);

  // The demuxer parameters: hints for raw formats and capture devices; demuxers that
  // have no such option leave them unused.
  DictionaryPtr parameters;
  ff::av_dict_set_int(parameters.Out(), "sample_rate", pending_.AudioSampleRate, 0);
  ff::av_dict_set_int(parameters.Out(), "channels", pending_.AudioChannels, 0);
  if (pending_.FrameRate.num > 0 && pending_.FrameRate.den > 0)
    ff::av_dict_set(parameters.Out(), "framerate", RateText(pending_.FrameRate).c_str(), 0);
  if (pending_.FrameWidth > 0 && pending_.FrameHeight > 0)
    ff::av_dict_set(
        parameters.Out(), "video_size",
        (std::to_string(pending_.FrameWidth) + "x" + std::to_string(pending_.FrameHeight)).c_str(), 0);
  if (const char *pixel = ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(pending_.FramePixelFormat)))
    ff::av_dict_set(parameters.Out(), "pixel_format", pixel, 0);
  ff::av_dict_set_int(parameters.Out(), "channel", pending_.VideoChannel, 0);
  if (!pending_.VideoStandard.empty())
    ff::av_dict_set(parameters.Out(), "standard", pending_.VideoStandard.c_str(), 0);

  TInputFile file;
  // A stop must reach a read that waits for data (a pipe that stalls), also while the
  // file is being opened and probed here.
  const AVIOInterruptCB interrupt{&TCustomFFmpeg::InputInterrupt, this};
  const int opened = OpenInputFile(fileName, format, parameters.Out(), file, &interrupt);
  if (opened < 0) return fail(ErrorText(fileName, opened));
  AVFormatContext *context = file.Context();

  // Options that steer probing (analyzeduration, probesize, fflags...) take effect in
  // the stream probe below.
  CopyGenericOptions(*optionContexts_, context, optionContexts_->FormatOptions(), AV_OPT_FLAG_DECODING_PARAM);
  context->video_codec_id = videoId;
  context->audio_codec_id = audioId;
  context->subtitle_codec_id = subtitleId;
  context->video_codec = videoDecoder;
  context->audio_codec = audioDecoder;
  context->subtitle_codec = subtitleDecoder;
  if (job_.PgmyuvCompatibility) context->video_codec_id = AV_CODEC_ID_PGMYUV;

  if (job_.ProgramId != 0) {
    bool found = false;
    for (unsigned i = 0; i < context->nb_streams; ++i)
      context->streams[i]->discard = AVDISCARD_ALL;
    for (unsigned p = 0; p < context->nb_programs; ++p) {
      AVProgram *program = context->programs[p];
      if (program->id == job_.ProgramId) {
        found = true;
        for (unsigned i = 0; i < program->nb_stream_indexes; ++i)
          context->streams[program->stream_index[i]]->discard = AVDISCARD_NONE;
      } else {
        program->discard = AVDISCARD_ALL;
      }
    }
    if (!found) return fail("Specified program id not found");
    job_.ProgramId = 0;
  }

  // Looping a picture sequence is the image demuxer's own option now.
  if (pending_.LoopInput) ff::av_opt_set_int(context, "loop", 1, AV_OPT_SEARCH_CHILDREN);

  int probed;
  {
    std::lock_guard lock(CodecLock());
    probed = ff::avformat_find_stream_info(context, nullptr);
  }
  if (probed < 0 && job_.Verbose >= 0) {
    const std::string message = fileName + ": could not find codec parameters";
    Log(llVerbose, message);
    return fail(message);
  }

  // A start at or past the end would give a file without a single packet, reported as
  // a success; a file of unknown length is left to try.
  const std::int64_t startUs = job_.StartTimeUs;
  if (startUs > 0 && context->duration != AV_NOPTS_VALUE && context->duration > 0 &&
      startUs >= context->duration)
    return fail(StringFormat("%s: the start time %.3f s is at or past the end of the input (%.3f s)",
                             fileName.c_str(), double(startUs) / AV_TIME_BASE,
                             double(context->duration) / AV_TIME_BASE));

  std::int64_t seekTarget = job_.StartTimeUs;
  if (context->start_time != AV_NOPTS_VALUE) seekTarget += context->start_time;
  if (job_.StartTimeUs != 0) {
    if (ff::av_seek_frame(context, -1, seekTarget, AVSEEK_FLAG_BACKWARD) < 0 && job_.Verbose > 0)
      LogFmt(llVerbose, "%s: could not seek to position %0.3f", fileName.c_str(),
             double(seekTarget) / AV_TIME_BASE);
    job_.StartTimeUs = 0;
  }

  // The decoder override table must take one entry per stream other than data.
  int overrides = 0;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const int type = context->streams[i]->codecpar->codec_type;
    if (!IsKnownMediaType(type)) throw FFmpegException("invalid codec_type");
    if (type != AVMEDIA_TYPE_DATA) ++overrides;
  }
  if (decoderOverrideCount_ + overrides > MAX_CODEC_OVERRIDES)
    throw FFmpegException::Fmt("Too many input streams (the table holds %d)", MAX_CODEC_OVERRIDES);

  std::vector<CodecContextPtr> decoders;
  decoders.reserve(context->nb_streams);
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    AVStream *stream = context->streams[i];
    const AVCodecParameters *par = stream->codecpar;
    // One decoder context per stream, set up now and opened by the transcode set-up.
    CodecContextPtr decoder(ff::avcodec_alloc_context3(nullptr));
    if (!decoder || ff::avcodec_parameters_to_context(decoder.get(), par) < 0)
      throw FFmpegException("avcodec_alloc_context failed");
    decoder->thread_count = job_.ThreadCount;
    decoder->pkt_timebase = stream->time_base;

    switch (par->codec_type) {
    case AVMEDIA_TYPE_VIDEO: {
      CopyGenericOptions(*optionContexts_, decoder.get(), optionContexts_->CodecOptions(AVMEDIA_TYPE_VIDEO),
                         AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
      pending_.FrameHeight = par->height;
      pending_.FrameWidth = par->width;
      const AVRational sar =
          stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio : par->sample_aspect_ratio;
      double aspect = sar.num && sar.den ? double(sar.num) / sar.den : 0;
      if (par->width * par->height != 0)
        aspect = aspect != 0 ? par->width * aspect / par->height : double(par->width) / par->height;
      else if (aspect == 0)
        aspect = 4.0 / 3.0;
      pending_.FrameAspectRatio = aspect;
      pending_.FrameAspectFromInput = true;
      pending_.FramePixelFormat = par->format < 0 ? 0 : par->format;
      pending_.FramePixelFormatChosen = false;
      if (decoder->lowres > 0) {
        pending_.FrameWidth >>= decoder->lowres;
        pending_.FrameHeight >>= decoder->lowres;
      }
      const AVRational codecRate = stream->avg_frame_rate;
      const AVRational streamRate = stream->r_frame_rate;
      if (codecRate.num > 0 && codecRate.den > 0 && streamRate.den > 0 &&
          ::av_cmp_q(codecRate, streamRate) != 0 && job_.Verbose >= 0)
        LogFmt(llInfo,
               "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> %2.2f "
               "(%d/%d)",
               int(i), double(codecRate.num) / codecRate.den, codecRate.num, codecRate.den,
               double(streamRate.num) / streamRate.den, streamRate.num, streamRate.den);
      pending_.FrameRate = streamRate;
      AppendDecoderOverride(videoDecoder);
      if (pending_.VideoDisable)
        stream->discard = AVDISCARD_ALL;
      else if (pending_.VideoDiscard != 0)
        stream->discard = static_cast<AVDiscard>(pending_.VideoDiscard);
      break;
    }
    case AVMEDIA_TYPE_AUDIO:
      CopyGenericOptions(*optionContexts_, decoder.get(), optionContexts_->CodecOptions(AVMEDIA_TYPE_AUDIO),
                         AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
      pending_.ChannelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
      pending_.AudioChannels = par->ch_layout.nb_channels;
      pending_.AudioSampleRate = par->sample_rate;
      pending_.AudioSampleFormat = par->format;
      AppendDecoderOverride(audioDecoder);
      if (pending_.AudioDisable) stream->discard = AVDISCARD_ALL;
      break;
    case AVMEDIA_TYPE_DATA: break;
    case AVMEDIA_TYPE_SUBTITLE:
      AppendDecoderOverride(subtitleDecoder);
      if (pending_.SubtitleDisable) stream->discard = AVDISCARD_ALL;
      break;
    default: AppendDecoderOverride(nullptr); break; // attachment, unknown
    }
    decoders.push_back(std::move(decoder));
  }

  // What is left to convert after the start: the progress total.
  if (context->duration != AV_NOPTS_VALUE &&
      context->duration - std::max<std::int64_t>(startUs, 0) > progressTotalUs_)
    progressTotalUs_ = context->duration - std::max<std::int64_t>(startUs, 0);

  const std::int64_t offset = job_.CopyTimestamps ? job_.InputTsOffsetUs : job_.InputTsOffsetUs - seekTarget;
  const int index = RegisterInputFile(std::move(file), offset);
  inputFiles_[static_cast<size_t>(index)].Decoders = std::move(decoders);
  if (job_.Verbose >= 0) ff::av_dump_format(context, index, fileName.c_str(), 0);
  consumeNames();
  return true;
}

} // namespace tovi
