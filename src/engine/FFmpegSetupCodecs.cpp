// The job set-up's codec steps: stream-copy parameters, encoding parameters with the
// scaler, resampler and two-pass log files they need, and opening the encoders and
// decoders under the codec lock.
#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/CodecChoice.h"
#include "engine/FFmpeg.h"
#include "engine/H264Levels.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/FormatIO.h"
#include "media/StringFormat.h"
#include "media/Texts.h"

namespace tovi {

namespace {

// The library's padding after extradata (AV_INPUT_BUFFER_PADDING_SIZE in today's
// headers; the limit check uses the value the copy really allocates).
constexpr std::int64_t kExtradataPadding = AV_INPUT_BUFFER_PADDING_SIZE;

bool SameChannelLayout(const AVChannelLayout &a, const AVChannelLayout &b) {
  return ff::av_channel_layout_compare(&a, &b) == 0;
}

// The H.264 stream the encoder is about to make, as the level table measures it: the
// peak rate is the VBV maximum when there is one, else the average rate.
TH264Stream LevelStream(const AVCodecContext *enc) {
  TH264Stream s;
  s.Width = enc->width;
  s.Height = enc->height;
  if (enc->framerate.num > 0 && enc->framerate.den > 0)
    s.FramesPerSecond = av_q2d(enc->framerate);
  else if (enc->time_base.num > 0 && enc->time_base.den > 0)
    s.FramesPerSecond = 1.0 / av_q2d(enc->time_base);
  s.BitRate = enc->rc_max_rate > 0 ? enc->rc_max_rate : enc->bit_rate;
  s.BufferBits = enc->rc_buffer_size;
  return s;
}

// AVI times a stream by counting its chunks: the stream's time base is written as the
// duration of one chunk, and every tick without a packet becomes an empty chunk.
bool TimesByChunkCount(const AVOutputFormat *format) { return std::strcmp(format->name, "avi") == 0; }

// Muxers that store H.264 and HEVC as a start-code stream and do not convert the
// length-prefixed form (MP4, Matroska) themselves. Muxers with their own bitstream
// check (MPEG-TS, raw streams) insert the conversion while writing.
bool NeedsStartCodes(const AVOutputFormat *format) {
  if (format->check_bitstream) return false;
  for (const char *name : {"avi", "mpeg", "vob", "dvd", "svcd"})
    if (std::strcmp(format->name, name) == 0) return true;
  return false;
}

// The filter that turns a length-prefixed H.264/HEVC stream into start codes, when the
// copied parameters (their extradata is the decoder configuration record) say it is one.
const char *StartCodeFilterFor(const AVCodecParameters *par) {
  const std::uint8_t *x = par->extradata;
  switch (par->codec_id) {
  case AV_CODEC_ID_H264:
    // An avcC record starts with version 1; a start-code header with 0.
    return par->extradata_size >= 7 && x[0] == 1 ? "h264_mp4toannexb" : nullptr;
  case AV_CODEC_ID_HEVC:
    return par->extradata_size >= 23 && (x[0] != 0 || x[1] != 0 || x[2] > 1) ? "hevc_mp4toannexb" : nullptr;
  default: return nullptr;
  }
}

// The source's frame rate as best known, or 0/1.
AVRational SourceFrameRate(const AVStream *stream, const AVCodecContext *dec) {
  for (const AVRational rate :
       {stream->avg_frame_rate, stream->r_frame_rate, dec ? dec->framerate : AVRational{0, 1}})
    if (rate.num > 0 && rate.den > 0 && av_q2d(rate) < 1000.0) return rate;
  return AVRational{0, 1};
}

} // namespace

void TCustomFFmpeg::SetupStreamCopy(TTranscodeTables &t, TOutputStreamRecord &ost) {
  const TInputStreamRecord &ist = t.InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
  const AVCodecParameters *in = ist.Stream->codecpar;
  AVCodecParameters *out = ost.Stream->codecpar;
  AVCodecContext *enc = ost.Encoder;
  const AVCodecContext *dec = ist.Decoder;
  AVFormatContext *oc = outputFiles_[static_cast<std::size_t>(ost.FileIndex)]->Context.get();

  if (static_cast<std::int64_t>(in->extradata_size) + kExtradataPadding > INT_MAX)
    throw FFmpegException("icodec.extradata_size is invalid (too large)");

  switch (in->codec_type) {
  case AVMEDIA_TYPE_VIDEO:
    if (HasCustomHook())
      throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
    if (job_.UsingVideoHooks)
      throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
    if (PreviewFlags() != 0)
      throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
    break;
  case AVMEDIA_TYPE_AUDIO:
    if (job_.AudioVolume != 256)
      throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
    // Such a muxer gives every audio chunk one length: packets of varying length (no
    // fixed frame size, no fixed block) could only be timed by an empty chunk per sample.
    if (TimesByChunkCount(oc->oformat) && in->frame_size <= 0 && in->block_align <= 0)
      throw FFmpegException::Fmt(
          "Audio stream #%d:%d (%s) cannot be copied into %s: its packets vary in length, "
          "which the format cannot time. Convert the audio instead.",
          ist.FileIndex, ist.StreamIndex, ff::avcodec_get_name(in->codec_id), oc->oformat->name);
    break;
  case AVMEDIA_TYPE_SUBTITLE: break;
  default: throw FFmpegException("invalid codec_type of output stream");
  }

  const std::uint32_t forcedTag = enc->codec_tag;
  const AVRational keptAspect = ost.Stream->sample_aspect_ratio;
  if (ff::avcodec_parameters_copy(out, in) < 0) throw FFmpegException("av_mallocz fail");
  // The codec tag travels only where the muxer reads it as the same codec.
  std::uint32_t tag = forcedTag;
  if (!tag) {
    const AVCodecTag *const *tags = oc->oformat->codec_tag;
    unsigned muxerTag = 0;
    if (!tags || ff::av_codec_get_id(tags, in->codec_tag) == in->codec_id ||
        !ff::av_codec_get_tag2(tags, in->codec_id, &muxerTag))
      tag = in->codec_tag;
  }
  // A length-prefixed stream going where start codes are expected is converted on the
  // way; its tag then is the muxer's own for the converted form.
  if (NeedsStartCodes(oc->oformat)) {
    if (const char *name = StartCodeFilterFor(in)) {
      TBitstreamFilterChain &chain = ChainOf(ost);
      const auto &filters = chain.Filters();
      const bool present = std::any_of(filters.begin(), filters.end(), [&](const AVBitStreamFilter *f) {
        return std::strcmp(f->name, name) == 0;
      });
      const AVBitStreamFilter *filter = ff::av_bsf_get_by_name(name);
      if (!present && filter) chain.Append(filter);
      if (filter) tag = forcedTag;
    }
  }
  out->codec_tag = tag;
  if (in->codec_type == AVMEDIA_TYPE_AUDIO &&
      ((in->codec_id == AV_CODEC_ID_MP3 && in->block_align == 1) || in->codec_id == AV_CODEC_ID_AC3))
    out->block_align = 0;
  if (in->codec_type == AVMEDIA_TYPE_VIDEO) {
    // The aspect given for the output wins; the input's stays when none was given.
    if (keptAspect.num != 0)
      out->sample_aspect_ratio = keptAspect;
    else
      ost.Stream->sample_aspect_ratio =
          in->sample_aspect_ratio.num ? in->sample_aspect_ratio : ist.Stream->sample_aspect_ratio;
  }

  // The stream's time base, unless the decoder's frame time is much finer.
  AVRational timeBase = ist.Stream->time_base;
  if (dec && dec->time_base.num > 0 && dec->time_base.den > 0) {
    const int ticks = std::max(dec->ticks_per_frame, 1);
    const double streamTb = av_q2d(ist.Stream->time_base);
    if (streamTb < av_q2d(dec->time_base) * ticks && streamTb < 0.001) {
      ff::av_reduce(&timeBase.num, &timeBase.den, std::int64_t(dec->time_base.num) * ticks,
                    dec->time_base.den, INT_MAX);
    }
  }
  // A frame-counting muxer needs the frame duration itself as the time base: a finer one
  // fills the index with empty entries between the pictures.
  if (in->codec_type == AVMEDIA_TYPE_VIDEO && TimesByChunkCount(oc->oformat)) {
    const AVRational rate = SourceFrameRate(ist.Stream, dec);
    if (rate.num > 0) timeBase = av_inv_q(rate);
    ost.CopyCountsChunks = true;
    // Shifting every stream up by the audio encoder's delay (the muxer's default for
    // negative times) would turn the delay into a whole empty frame before the first.
    if (oc->avoid_negative_ts == AVFMT_AVOID_NEG_TS_AUTO) oc->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
  }
  // The settings record follows the copied parameters, for the later steps' reports.
  ff::avcodec_parameters_to_context(enc, out);
  enc->time_base = timeBase;
  ost.Stream->time_base = timeBase;
  ost.EncodingNeeded = false;
}

void TCustomFFmpeg::SetupEncoding(TTranscodeTables &t, TOutputStreamRecord &ost, int tableIndex) {
  TInputStreamRecord &ist = t.InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
  const AVCodecContext *dec = ist.Decoder;
  if (!dec)
    throw FFmpegException::Fmt("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                               int(ist.Stream->codecpar->codec_id), ist.FileIndex, ist.StreamIndex,
                               MediaTypeName(ist.Stream->codecpar->codec_type).c_str());
  switch (ost.Encoder->codec_type) {
  case AVMEDIA_TYPE_AUDIO: SetupAudioEncoding(ost, dec); break;
  case AVMEDIA_TYPE_VIDEO: SetupVideoEncoding(ist, ost, dec); break;
  case AVMEDIA_TYPE_SUBTITLE: break;
  default: throw FFmpegException("invalid codec_type of output stream");
  }
  ost.EncodingNeeded = true;
  ist.DecodingNeeded = true;
  if (ost.Encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) SetupPassLog(ost, tableIndex);
}

void TCustomFFmpeg::SetupAudioEncoding(TOutputStreamRecord &ost, const AVCodecContext *dec) {
  AVCodecContext *enc = ost.Encoder;
  // Today's encoders check the layout itself, not only the count.
  if (enc->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    const int channels = enc->ch_layout.nb_channels;
    ff::av_channel_layout_uninit(&enc->ch_layout);
    ff::av_channel_layout_default(&enc->ch_layout, channels);
  }
  // The rate may have moved to the nearest one the encoder supports.
  if (enc->sample_rate > 0) enc->time_base = AVRational{1, enc->sample_rate};
  ost.Fifo.reset(ff::av_audio_fifo_alloc(enc->sample_fmt, std::max(enc->ch_layout.nb_channels, 1), 1024));
  if (!ost.Fifo) throw FFmpegException("av_fifo_alloc fail");
  ost.SampleFormatPair = NO_SAMPLE_FORMAT_PAIR;
  ost.AudioResample = enc->sample_rate != dec->sample_rate || job_.AudioSyncMethod > 1;

  AVChannelLayout decoderLayout{};
  if (dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    ff::av_channel_layout_default(&decoderLayout, dec->ch_layout.nb_channels);
  else
    ff::av_channel_layout_copy(&decoderLayout, &dec->ch_layout);
  const bool differs = ost.AudioResample || enc->sample_fmt != dec->sample_fmt ||
                       !SameChannelLayout(enc->ch_layout, decoderLayout);
  // A decoder that reports its format only once it runs gets its converter then.
  const bool known =
      dec->sample_fmt != AV_SAMPLE_FMT_NONE && dec->sample_rate > 0 && decoderLayout.nb_channels > 0;
  if (differs && known) {
    SwrContext *swr = nullptr;
    const int rc = ff::swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                                           &decoderLayout, dec->sample_fmt, dec->sample_rate, 0, nullptr);
    ost.Resampler.reset(swr);
    if (rc < 0 || !swr || ff::swr_init(swr) < 0) {
      ff::av_channel_layout_uninit(&decoderLayout);
      throw FFmpegException::Fmt("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                 dec->ch_layout.nb_channels, dec->sample_rate, enc->ch_layout.nb_channels,
                                 enc->sample_rate);
    }
    ost.SampleFormatPair = int(enc->sample_fmt) + 5 * int(dec->sample_fmt);
  }
  ff::av_channel_layout_uninit(&decoderLayout);
}

void TCustomFFmpeg::SetupVideoEncoding(TInputStreamRecord &ist, TOutputStreamRecord &ost,
                                       const AVCodecContext *dec) {
  AVCodecContext *enc = ost.Encoder;
  if (dec->pix_fmt == AV_PIX_FMT_NONE)
    throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
  ost.TopBand = ost.InitialTopBand = pending_.CropTop;
  ost.BottomBand = ost.InitialBottomBand = pending_.CropBottom;
  ost.LeftBand = ost.InitialLeftBand = pending_.CropLeft;
  ost.RightBand = ost.InitialRightBand = pending_.CropRight;
  ost.VideoCrop = ost.TopBand || ost.BottomBand || ost.LeftBand || ost.RightBand;
  const int croppedWidth = dec->width - ost.LeftBand - ost.RightBand;
  const int croppedHeight = dec->height - ost.TopBand - ost.BottomBand;
  int evenWidth = enc->width, evenHeight = enc->height;
  EvenFrameSize(enc->codec_id, enc->pix_fmt, evenWidth, evenHeight);
  if (evenWidth != enc->width || evenHeight != enc->height) {
    LogFmt(llInfo, "Frame size %dx%d made %dx%d: the encoder takes only even sizes in %s", enc->width,
           enc->height, evenWidth, evenHeight, ff::av_get_pix_fmt_name(enc->pix_fmt));
    enc->width = evenWidth;
    enc->height = evenHeight;
  }
  ost.VideoResample =
      !(croppedWidth == enc->width && croppedHeight == enc->height && dec->pix_fmt == enc->pix_fmt);
  if (ost.VideoResample) {
    ost.TemporaryPicture = MakeFrame();
    if (ost.TemporaryPicture) {
      ost.TemporaryPicture->format = enc->pix_fmt;
      ost.TemporaryPicture->width = enc->width;
      ost.TemporaryPicture->height = enc->height;
    }
    if (!ost.TemporaryPicture || enc->pix_fmt == AV_PIX_FMT_NONE || enc->width <= 0 || enc->height <= 0 ||
        ff::av_frame_get_buffer(ost.TemporaryPicture.get(), 0) < 0)
      throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    std::int64_t flags = job_.ScalerFlags;
    if (SwsContext *options = optionContexts_->ScalerOptions();
        options && ff::av_opt_get_int(options, "sws_flags", 0, &flags) >= 0)
      job_.ScalerFlags = static_cast<int>(flags);
    ost.Scaler.reset(croppedWidth > 0 && croppedHeight > 0
                         ? ff::sws_getContext(croppedWidth, croppedHeight, dec->pix_fmt, enc->width,
                                              enc->height, enc->pix_fmt, job_.ScalerFlags, nullptr, nullptr,
                                              nullptr)
                         : nullptr);
    if (!ost.Scaler) throw FFmpegException("Cannot get resampling context");
    if (!usingVideoFilters_) {
      ost.InitialWidth = dec->width;
      ost.InitialHeight = dec->height;
    }
  }
  enc->bits_per_raw_sample = 0;
  ost.ResampleHeight = croppedHeight;
  ost.ResampleWidth = croppedWidth;
  ost.ResamplePixelFormat = dec->pix_fmt;
  if (usingVideoFilters_) {
    lastError_.clear();
    if (ConfigureFilters(ist, ost) < 0)
      throw FFmpegException(lastError_.empty() ? std::string("Error opening filters!")
                                               : "Error opening filters: " + lastError_);
  }
}

void TCustomFFmpeg::SetupPassLog(TOutputStreamRecord &ost, int tableIndex) {
  const std::string prefix = job_.PassLogFileName.empty() ? "ffmpeg2pass" : job_.PassLogFileName;
  ost.PassLogFileName = (prefix + "-" + std::to_string(tableIndex) + ".log").substr(0, 1023);
  const char *name = ost.PassLogFileName.c_str();
  AVCodecContext *enc = ost.Encoder;
  if (enc->flags & AV_CODEC_FLAG_PASS1) {
    ost.PassLogFile.reset(ff::fopen(name, "wb"));
    if (!ost.PassLogFile) throw FFmpegException::Fmt("Cannot write log file %s for pass-1 encoding", name);
    return;
  }
  LogFilePtr file(ff::fopen(name, "rb"));
  long size = -1;
  if (file && ff::fseek(file.get(), 0, SEEK_END) == 0) size = ff::ftell(file.get());
  if (!file || size < 0 || ff::fseek(file.get(), 0, SEEK_SET) != 0)
    throw FFmpegException::Fmt("Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name);
  AVBufferPtr buffer(static_cast<std::uint8_t *>(ff::av_malloc(static_cast<std::size_t>(size) + 1)));
  if (!buffer)
    throw FFmpegException::Fmt(
        "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding", name);
  if (ff::fread(buffer.get(), 1, static_cast<std::size_t>(size), file.get()) !=
      static_cast<std::size_t>(size))
    throw FFmpegException::Fmt("Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name);
  buffer.get()[size] = 0;
  ost.StatsIn = std::move(buffer);
  enc->stats_in = reinterpret_cast<char *>(ost.StatsIn.get());
}

void TCustomFFmpeg::OpenEncoders(TTranscodeTables &t) {
  for (std::size_t i = 0; i < t.OutputStreams.size(); ++i) {
    TOutputStreamRecord &ost = t.OutputStreams[i];
    if (!ost.EncodingNeeded) continue;
    if (joinMode_ && static_cast<int>(i) >= t.JoinGroupSize) continue;
    AVCodecContext *enc = ost.Encoder;
    const AVCodec *codec =
        i < static_cast<std::size_t>(encoderOverrideCount_) ? encoderOverrides_[i] : nullptr;
    if (!codec) codec = ff::avcodec_find_encoder(enc->codec_id);
    const std::string type = MediaTypeName(enc->codec_type);
    if (!codec)
      FailWithListing(t,
                      FFmpegException::Fmt("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                                           int(enc->codec_id), ost.FileIndex, ost.StreamIndex, type.c_str())
                          .Message());
    if (joinMode_) ost.SavedCodecId = codec->id;
    enc->thread_count = job_.ThreadCount;
    // Subtitle encoders want a time base (times are in us); text ones also the style
    // header the decoder of their source made.
    if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE && (enc->time_base.num <= 0 || enc->time_base.den <= 0))
      enc->time_base = AVRational{1, AV_TIME_BASE};
    if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE && !enc->subtitle_header) {
      const AVCodecContext *dec = t.InputStreams[size_t(ost.SourceIndex)].Decoder;
      if (dec && dec->subtitle_header && dec->subtitle_header_size > 0) {
        enc->subtitle_header = static_cast<uint8_t *>(ff::av_mallocz(size_t(dec->subtitle_header_size) + 1));
        if (!enc->subtitle_header) throw FFmpegException("av_mallocz fail");
        std::memcpy(enc->subtitle_header, dec->subtitle_header, size_t(dec->subtitle_header_size));
        enc->subtitle_header_size = dec->subtitle_header_size;
      }
    }
    if (codec->id == AV_CODEC_ID_H264 && enc->level > 0) FitH264EncoderLevel(enc);
    DictionaryPtr options;
    ApplyPrivateOptions(*optionContexts_, codec, options.Out());
    int rc;
    TLibraryErrorCapture refusal;
    {
      std::lock_guard lock(CodecLock());
      rc = ff::avcodec_open2(enc, codec, options.Out());
    }
    if (rc < 0) {
      // The encoder's own words say what it refused; the fixed text alone only says
      // where to look.
      const std::string cause = refusal.Text();
      FailWithListing(
          t, FFmpegException::Fmt("Error while opening encoder for output stream #%d.%d (%s) - maybe "
                                  "incorrect parameters such as bit_rate, rate, width or height. Please "
                                  "check error log message to find out more detail information.%s%s",
                                  ost.FileIndex, ost.StreamIndex, type.c_str(), cause.empty() ? "" : " ",
                                  cause.c_str())
                 .Message());
    }
    openEncoders_.push_back(&OutputStreamEntry(ost.FileIndex, ost.StreamIndex).Encoder);
    // The muxer reads the opened encoder's final parameters (extradata, frame size...).
    const AVRational aspect = ost.Stream->sample_aspect_ratio;
    if (ff::avcodec_parameters_from_context(ost.Stream->codecpar, enc) < 0)
      throw FFmpegException("av_mallocz fail");
    if (aspect.num != 0) ost.Stream->codecpar->sample_aspect_ratio = aspect;
    ost.Stream->time_base = enc->time_base;
    t.ExtraSizeBytes += enc->extradata_size;
  }
}

void TCustomFFmpeg::FitH264EncoderLevel(AVCodecContext *enc) const {
  const TH264Stream stream = LevelStream(enc);
  const int fitting = FitH264Level(enc->level, stream);
  if (fitting == enc->level) return;
  if (fitting == 0) {
    LogFmt(llWarning, "No H.264 level holds %dx%d at %.3g fps; the encoder chooses one", stream.Width,
           stream.Height, stream.FramesPerSecond);
    enc->level = FF_LEVEL_UNKNOWN;
    return;
  }
  LogFmt(llInfo, "H.264 level %d.%d cannot hold %dx%d at %.3g fps and %lld kbit/s; level %d.%d is used",
         enc->level / 10, enc->level % 10, stream.Width, stream.Height, stream.FramesPerSecond,
         static_cast<long long>(stream.BitRate / 1000), fitting / 10, fitting % 10);
  enc->level = fitting;
}

void TCustomFFmpeg::OpenDecoders(TTranscodeTables &t) {
  for (std::size_t j = 0; j < t.InputStreams.size(); ++j) {
    TInputStreamRecord &ist = t.InputStreams[j];
    if (!ist.DecodingNeeded) continue;
    AVCodecContext *dec = ist.Decoder;
    const AVCodecParameters *par = ist.Stream->codecpar;
    const std::string type = MediaTypeName(par->codec_type);
    const AVCodec *codec =
        j < static_cast<std::size_t>(decoderOverrideCount_) ? decoderOverrides_[j] : nullptr;
    if (!codec) codec = ff::avcodec_find_decoder(par->codec_id);
    if (!codec || !dec)
      FailWithListing(t,
                      FFmpegException::Fmt("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                                           int(par->codec_id), ist.FileIndex, ist.StreamIndex, type.c_str())
                          .Message());
    dec->thread_count = job_.ThreadCount;
    int rc;
    {
      std::lock_guard lock(CodecLock());
      rc = ff::avcodec_open2(dec, codec, nullptr);
    }
    // A damaged header (extradata, parameters) shows up here: the message names the
    // file, as the user may have many open, and says what the decoder found.
    if (rc < 0) {
      const AVFormatContext *ic = inputFiles_[static_cast<std::size_t>(ist.FileIndex)].Context();
      FailWithListing(t,
                      ErrorText(StringFormat("Error while opening decoder for input stream #%d.%d (%s) of %s",
                                             ist.FileIndex, ist.StreamIndex, type.c_str(),
                                             ic ? ContextFileName(ic->url).c_str() : "?"),
                                rc));
    }
    openDecoders_.push_back(&inputFiles_[static_cast<std::size_t>(ist.FileIndex)]
                                 .Decoders[static_cast<std::size_t>(ist.StreamIndex)]);
  }
}

void TCustomFFmpeg::SetupInputTiming(TTranscodeTables &t) {
  for (TInputStreamRecord &ist : t.InputStreams) {
    const AVRational rate = ist.Stream->avg_frame_rate;
    const int delay = ist.Decoder ? ist.Decoder->has_b_frames : 0;
    ist.Pts = rate.num && rate.den ? static_cast<std::int64_t>(-delay * 1000000.0 / av_q2d(rate)) : 0;
    ist.NextPts = NO_TIMESTAMP;
    ist.IsStart = true;
  }
}

} // namespace tovi
