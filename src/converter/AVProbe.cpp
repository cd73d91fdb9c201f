#include "converter/AVProbe.h"

#include <cstdio>
#include <limits>
#include <stdexcept>

#include "converter/ProbeText.h"
#include "media/FFmpegLoader.h"
#include "media/FileUtils.h"
#include "media/Owners.h"
#include "media/Texts.h"
#include "media/UnicodeProtocol.h"
#include "media/StringFormat.h"

namespace tovi {
namespace {

constexpr const char *kFileNotLoaded = "file not loaded.";

// The records keep 32-bit rates; today's libraries count bit rates in 64 bits.
std::int32_t Saturated(std::int64_t value) {
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::int64_t ToMicroseconds(std::int64_t value, AVRational timeBase) {
  return ff::av_rescale_q(value, UsableTimeBase(timeBase), AVRational{1, AV_TIME_BASE});
}

const char *TypeWord(AVMediaType type) { return type == AVMEDIA_TYPE_AUDIO ? "audio" : "video"; }

template <typename TInfo> void FillCommon(const AVStream *st, TInfo &info) {
  info.Language = MetadataValue(st->metadata, "language", "");
  info.CodecName = CodecDescription(st->codecpar, false);
  info.StreamStartTime = st->start_time;
  info.StreamDuration = st->duration;
  if (st->start_time != AV_NOPTS_VALUE) info.StartTime = ToMicroseconds(st->start_time, st->time_base);
  if (st->duration != AV_NOPTS_VALUE) info.Duration = ToMicroseconds(st->duration, st->time_base);
  info.BitRate = Saturated(st->codecpar->bit_rate);
}

} // namespace

TCustomAVProbe::~TCustomAVProbe() = default; // input_ closes an owned file

void TCustomAVProbe::Report(TLogLevel level, std::string text) {
  lastErrorText_ = std::move(text);
  TFFLogger::Instance().Log(this, level, lastErrorText_);
}

void TCustomAVProbe::CheckLibraries() {
  static constexpr struct {
    int kind;
    const char *message;
  } kRequired[] = {{lkAVCodec, "LibAVCodec not loaded."},
                   {lkAVFormat, "LibAVFormat not loaded."},
                   {lkAVUtil, "LibAVUtil not loaded."},
                   {lkSWScale, "LibSwScale not loaded."}};
  const TFFmpegLoader &loader = TFFmpegLoader::Instance();
  for (const auto &library : kRequired) {
    if (!loader.IsLibraryLoaded(library.kind)) {
      Report(llError, library.message);
      throw std::runtime_error(library.message);
    }
  }
}

int TCustomAVProbe::LoadInterrupt(void *probe) {
  return static_cast<const TCustomAVProbe *>(probe)->stopRequested_ ? 1 : 0;
}

bool TCustomAVProbe::LoadFile(const std::string &fileName, const std::string &formatName) {
  CheckLibraries();
  CloseFile();
  stopRequested_ = false;

  const AVInputFormat *format = nullptr;
  if (!formatName.empty()) {
    format = ff::av_find_input_format(formatName.c_str());
    if (!format) {
      lastErrorText_ = "Unknown input format: " + formatName;
      return false;
    }
  }

  // A pipe or device may keep the open and the stream probe waiting for ever; Stop
  // reaches them through this callback.
  const AVIOInterruptCB interrupt{&TCustomAVProbe::LoadInterrupt, this};
  const auto stopped = [&] {
    Report(llInfo, fileName + ": opening stopped");
    CloseFile();
    return false;
  };
  TInputFile input;
  int rc = OpenInputFile(fileName, format, nullptr, input, &interrupt);
  if (rc < 0 && stopRequested_) return stopped();
  if (rc < 0) {
    Report(llError, ErrorText(fileName, rc));
    CloseFile();
    return false;
  }
  // Keeps a device or a stream with nothing to deliver from stalling the caller (usually
  // the user-interface thread). Set on the opened context: OpenInputFile allocates the
  // context itself, and the "fflags" option of 5.1 has no name for this flag.
  input->flags |= AVFMT_FLAG_NONBLOCK;
  // Not under CodecLock(): 5.1 serialises the decoders that need it itself, and this
  // may read for a long time while library lines wait for the main thread.
  rc = ff::avformat_find_stream_info(input.Context(), nullptr);
  // A stop during the stream probe may leave it "successful" with half the streams.
  if (stopRequested_) return stopped();
  if (rc < 0) {
    Report(llError, fileName + ": could not find codec parameters");
    CloseFile();
    return false;
  }

  input_ = std::move(input);
  context_ = input_.Context();
  fileName_ = fileName;
  RefreshStreamInfo();
  forcedFormat_ = formatName;
  return true;
}

void TCustomAVProbe::AttachContext(AVFormatContext *context) {
  CheckLibraries();
  CloseFile();
  context_ = context;
  RefreshStreamInfo();
}

void TCustomAVProbe::CloseFile() {
  forcedFormat_.clear();
  input_.Close();
  context_ = nullptr;
  fileName_.clear();
  RefreshStreamInfo();
}

void TCustomAVProbe::ResetCounts() {
  fileSize_ = -1;
  streamCount_ = programCount_ = -1;
  audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = -1;
  firstAudioStreamIndex_ = firstVideoStreamIndex_ = firstSubtitleStreamIndex_ = -1;
}

void TCustomAVProbe::RefreshStreamInfo() {
  ResetCounts();
  if (!context_) return;

  std::int64_t size = context_->pb ? ff::avio_size(context_->pb) : -1;
  if (size <= 0) {
    const std::string name = ContextFileName(context_->url);
    if (IsExistingFile(name)) size = FileSizeOf(name);
  }
  // A library error code is no size.
  fileSize_ = size < 0 ? -1 : size;

  streamCount_ = static_cast<std::int32_t>(context_->nb_streams);
  programCount_ = static_cast<std::int32_t>(context_->nb_programs);
  audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = 0;
  for (std::int32_t i = 0; i < streamCount_; ++i) {
    switch (context_->streams[i]->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      if (videoStreamCount_++ == 0) firstVideoStreamIndex_ = i;
      break;
    case AVMEDIA_TYPE_AUDIO:
      if (audioStreamCount_++ == 0) firstAudioStreamIndex_ = i;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      if (subtitleStreamCount_++ == 0) firstSubtitleStreamIndex_ = i;
      break;
    default: break;
    }
  }
}

bool TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo &info) {
  info = TFileStreamInfo{};
  if (!context_) {
    Report(llWarning, kFileNotLoaded);
    return false;
  }
  const AVDictionary *m = context_->metadata;
  info.StartTime = context_->start_time == AV_NOPTS_VALUE ? -1 : context_->start_time;
  info.Duration = context_->duration == AV_NOPTS_VALUE ? -1 : context_->duration;
  info.BitRate = Saturated(context_->bit_rate);
  info.Timestamp = CreationTimeOf(m);
  info.Year = LeadingNumber(MetadataValue(m, "date", ""));
  if (info.Year == 0) info.Year = LeadingNumber(MetadataValue(m, "year", ""));
  info.Track = LeadingNumber(MetadataValue(m, "track", ""));
  info.Title = MetadataValue(m, "title", "");
  // Today's muxers and demuxers name the author "artist".
  info.Author = MetadataValue(m, "author", MetadataValue(m, "artist", ""));
  info.Copyright = MetadataValue(m, "copyright", "");
  info.Comment = MetadataValue(m, "comment", "");
  info.Album = MetadataValue(m, "album", "");
  info.Genre = MetadataValue(m, "genre", "");
  return true;
}

const AVStream *TCustomAVProbe::StreamOfType(int index, AVMediaType type) {
  if (!context_) {
    Report(llWarning, kFileNotLoaded);
    return nullptr;
  }
  if (index < 0) {
    index = type == AVMEDIA_TYPE_AUDIO ? firstAudioStreamIndex_ : firstVideoStreamIndex_;
    if (index < 0) {
      Report(llError, StringFormat("no %s stream.", TypeWord(type)));
      return nullptr;
    }
  }
  if (index >= streamCount_) {
    Report(llError, StringFormat("stream index #%d is invalid.", index));
    return nullptr;
  }
  const AVStream *st = context_->streams[index];
  if (st->codecpar->codec_type != type) {
    Report(llError, StringFormat("stream #%d is not %s stream.", index, TypeWord(type)));
    return nullptr;
  }
  return st;
}

bool TCustomAVProbe::GetAudioStreamInfo(int streamIndex, TAudioStreamInfo &info) {
  info = TAudioStreamInfo{};
  const AVStream *st = StreamOfType(streamIndex, AVMEDIA_TYPE_AUDIO);
  if (!st) return false;
  FillCommon(st, info);
  const AVCodecParameters *par = st->codecpar;
  info.Channels = par->ch_layout.nb_channels;
  info.SampleRate = par->sample_rate;
  info.SampleFormat = par->format;
  return true;
}

bool TCustomAVProbe::GetVideoStreamInfo(int streamIndex, TVideoStreamInfo &info) {
  info = TVideoStreamInfo{};
  const AVStream *st = StreamOfType(streamIndex, AVMEDIA_TYPE_VIDEO);
  if (!st) return false;
  FillCommon(st, info);
  const AVCodecParameters *par = st->codecpar;
  info.Width = par->width;
  info.Height = par->height;
  if (par->width > 0 && par->height > 0) {
    // An unknown sample aspect ratio means square pixels, as the player assumes.
    AVRational sar = par->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
    info.AspectRatio = static_cast<float>(av_q2d(sar) * par->width / par->height);
  }
  info.PixelFormat = par->format;
  info.FrameRateNum = st->r_frame_rate.num;
  info.FrameRateDen = st->r_frame_rate.den;
  if (st->nb_frames > 0) info.FrameCount = st->nb_frames;
  return true;
}

bool TCustomAVProbe::IsStreamOfType(int index, AVMediaType type) {
  if (!context_) {
    Report(llWarning, kFileNotLoaded);
    return false;
  }
  if (index < 0 || index >= streamCount_) {
    Report(llError, StringFormat("stream index #%d is invalid.", index));
    return false;
  }
  return context_->streams[index]->codecpar->codec_type == type;
}

bool TCustomAVProbe::IsAudioStream(int index) { return IsStreamOfType(index, AVMEDIA_TYPE_AUDIO); }
bool TCustomAVProbe::IsVideoStream(int index) { return IsStreamOfType(index, AVMEDIA_TYPE_VIDEO); }

std::string TCustomAVProbe::FileName() const {
  if (!context_) return {};
  return input_ ? fileName_ : ContextFileName(context_->url);
}

std::string TCustomAVProbe::FormatName() const {
  return context_ && context_->iformat && context_->iformat->name ? context_->iformat->name : "";
}

} // namespace tovi
