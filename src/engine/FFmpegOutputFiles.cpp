// AddOutputFile: the job's output file, its muxer, its streams and join mode.
#include <cinttypes>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/Texts.h"
#include "media/UnicodeProtocol.h"

namespace tovi {

namespace {

bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

std::string NativeName(const std::string &nameOrUrl) {
  return IsUnicodeURL(nameOrUrl) ? URLToFileName(nameOrUrl) : nameOrUrl;
}

// The old generation let muxers allocate nothing until the header was written; today's
// private options (preload, loop...) need the private context now, as
// avformat_alloc_output_context2 would make it.
bool AllocateMuxerPrivateData(AVFormatContext *oc) {
  const AVOutputFormat *format = oc->oformat;
  if (!format->priv_class || format->priv_data_size <= 0 || oc->priv_data) return true;
  oc->priv_data = ff::av_mallocz(static_cast<size_t>(format->priv_data_size));
  if (!oc->priv_data) return false;
  *static_cast<const AVClass **>(oc->priv_data) = format->priv_class;
  ff::av_opt_set_defaults(oc->priv_data);
  return true;
}

// "creation_time" is what the muxers write as the file's date now.
void SetCreationTime(AVFormatContext *oc, std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (!gmtime_r(&time, &utc)) return;
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
  ff::av_dict_set(&oc->metadata, "creation_time", text, 0);
}

void RemoveIfEmpty(const std::string &fileName) {
  std::error_code ec;
  if (!fileName.empty() && std::filesystem::is_regular_file(fileName, ec) &&
      std::filesystem::file_size(fileName, ec) == 0 && !ec)
    std::filesystem::remove(fileName, ec);
}

} // namespace

TInputMediaTypes TCustomFFmpeg::CheckAudioVideoSubInputs(bool join) const {
  TInputMediaTypes types;
  const int files = join ? std::min(inputCount_, 1) : inputCount_;
  for (int i = 0; i < files; ++i) {
    const AVFormatContext *context = inputFiles_[static_cast<size_t>(i)].Context();
    if (!context) continue;
    for (unsigned s = 0; s < context->nb_streams; ++s) {
      switch (context->streams[s]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO: types.HasVideo = true; break;
      case AVMEDIA_TYPE_AUDIO: types.HasAudio = true; break;
      case AVMEDIA_TYPE_SUBTITLE: types.HasSubtitle = true; break;
      case AVMEDIA_TYPE_UNKNOWN:
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT: break;
      default: throw FFmpegException("invalid codec_type of input file");
      }
    }
  }
  return types;
}

const AVOutputFormat *TCustomFFmpeg::ChooseMuxer(const std::string &fileName) {
  char message[2048];
  if (!pending_.FormatName.empty()) {
    const AVOutputFormat *format = ff::av_guess_format(pending_.FormatName.c_str(), nullptr, nullptr);
    if (!format) {
      std::snprintf(message, sizeof message, "Requested output format '%s' is not a suitable output format",
                    pending_.FormatName.c_str());
      lastError_ = message;
      return nullptr;
    }
    pending_.FormatName.clear();
    return format;
  }
  const AVOutputFormat *format = ff::av_guess_format(nullptr, fileName.c_str(), nullptr);
  if (!format) {
    std::snprintf(message, sizeof message, "Unable to find a suitable output format for '%s'",
                  fileName.c_str());
    lastError_ = message;
  }
  return format;
}

int TCustomFFmpeg::InputIndexOfFile(const std::string &fileName) const {
  std::error_code ec;
  const std::filesystem::path output(NativeName(fileName));
  if (!std::filesystem::exists(output, ec)) return -1;
  for (int i = 0; i < inputCount_; ++i) {
    const AVFormatContext *context = inputFiles_[static_cast<size_t>(i)].Context();
    if (!context || !context->url) continue;
    const std::filesystem::path input(ContextFileName(context->url));
    if (std::filesystem::equivalent(output, input, ec) && !ec) return i;
  }
  return -1;
}

int TCustomFFmpeg::AddOutputFile(const std::string &fileName, bool join) {
  RequireLibraries();
  if (!optionContexts_) throw FFmpegException("The engine has not been reset");
  if (joinMode_) {
    lastError_ = "Cannot join more than one output file.";
    return -1;
  }
  // Refused before anything is made: the slots of this file (one per input in join
  // mode) must fit the table.
  const int slotsNeeded = join && inputCount_ > 1 ? inputCount_ : 1;
  if (outputCount_ + slotsNeeded > MAX_FILES) {
    lastError_ = "Too many output files (the table holds " + std::to_string(MAX_FILES) + ")";
    return -1;
  }
  // Feeds were served by ffserver, which this library generation no longer has.
  const size_t dot = fileName.find_last_of("./");
  const bool feedMuxer =
      pending_.FormatName == "ffm" ||
      (pending_.FormatName.empty() && dot != std::string::npos && fileName.substr(dot) == ".ffm");
  if (feedMuxer && StartsWith(fileName, "http:")) {
    lastError_ = "Feed output '" + fileName + "' is not supported: this FFmpeg has no feed server (ffm)";
    return -1;
  }

  usingVideoFilters_ = !pending_.VideoFilters.empty();

  auto file = std::make_shared<TOutputFile>();
  file->Context.reset(ff::avformat_alloc_context());
  if (!file->Context) throw FFmpegException("avformat_alloc_context failed");
  AVFormatContext *oc = file->Context.get();

  const AVOutputFormat *format = ChooseMuxer(fileName);
  if (!format) return -1;
  oc->oformat = format;
  file->FileName = NativeName(fileName);
  const std::string url = FileNameToURL(file->FileName);
  oc->url = ff::av_strdup(url.c_str());
  if (!oc->url || !AllocateMuxerPrivateData(oc)) throw FFmpegException("avformat_alloc_context failed");
  // Checked before anything is consumed or opened: opening truncates the file.
  if (!(format->flags & AVFMT_NOFILE)) {
    if (const int input = InputIndexOfFile(file->FileName); input >= 0) {
      lastError_ = "Output file '" + fileName + "' is the same file as input file #" + std::to_string(input) +
                   "; it will not be overwritten";
      return -1;
    }
  }

  bool wantVideo =
      pending_.VideoStreamCopy || format->video_codec != AV_CODEC_ID_NONE || !pending_.VideoCodecName.empty();
  bool wantAudio =
      pending_.AudioStreamCopy || format->audio_codec != AV_CODEC_ID_NONE || !pending_.AudioCodecName.empty();
  bool wantSubtitle = pending_.SubtitleStreamCopy || format->subtitle_codec != AV_CODEC_ID_NONE ||
                      !pending_.SubtitleCodecName.empty();
  if (inputCount_ > 0) {
    try {
      const TInputMediaTypes inputs = CheckAudioVideoSubInputs(join);
      wantVideo = wantVideo && inputs.HasVideo;
      wantAudio = wantAudio && inputs.HasAudio;
      wantSubtitle = wantSubtitle && inputs.HasSubtitle;
    } catch (const FFmpegException &error) {
      lastError_ = "check_audio_video_sub_inputs fail: " + error.Message();
      return -1;
    }
  }
  wantAudio = wantAudio && !pending_.AudioDisable;
  wantVideo = wantVideo && !pending_.VideoDisable;
  wantSubtitle = wantSubtitle && !pending_.SubtitleDisable;

  const int slot = outputCount_;
  const int overridesBefore = encoderOverrideCount_;
  // A failure from here on drops what this call attached to the slot and the tables,
  // and a file it created.
  const auto fail = [&](const std::string &message) {
    lastError_ = message;
    for (auto &chain : outputBitstreamFilters_[static_cast<size_t>(slot)])
      chain.Clear();
    for (int i = overridesBefore; i < encoderOverrideCount_; ++i)
      encoderOverrides_[static_cast<size_t>(i)] = nullptr;
    encoderOverrideCount_ = overridesBefore;
    if (outputFiles_[static_cast<size_t>(slot)] == file) {
      outputFiles_[static_cast<size_t>(slot)].reset();
      outputCount_ = slot;
    }
    if (file->IO) {
      file->IO->Close();
      file->IO.reset();
      RemoveIfEmpty(file->FileName);
    }
    return -1;
  };

  const auto create = [&](const char *what, void (TCustomFFmpeg::*creator)(TOutputFile &, int)) {
    try {
      (this->*creator)(*file, slot);
      return true;
    } catch (const FFmpegException &error) {
      fail(std::string(what) + " fail: " + error.Message());
      return false;
    }
  };
  if (wantVideo && !create("new_video_stream", &TCustomFFmpeg::NewVideoStream)) return -1;
  if (wantAudio && !create("new_audio_stream", &TCustomFFmpeg::NewAudioStream)) return -1;
  if (wantSubtitle && !create("new_subtitle_stream", &TCustomFFmpeg::NewSubtitleStream)) return -1;

  if (job_.OutputTimestampSeconds != 0) SetCreationTime(oc, job_.OutputTimestampSeconds);
  // Last pair first with overwrite: of repeated keys the first one given wins.
  for (auto it = job_.Metadata.rbegin(); it != job_.Metadata.rend(); ++it)
    ff::av_dict_set(&oc->metadata, it->first.c_str(), it->second.c_str(), 0);
  job_.Metadata.clear();

  outputFiles_[static_cast<size_t>(slot)] = file;
  ++outputCount_;

  if ((format->flags & AVFMT_NEEDNUMBER) && !ff::av_filename_number_test(url.c_str()))
    return fail(fileName + ": Number syntax expected in filename");

  {
    auto io = std::make_unique<TOutputIO>();
    if (const int rc = OpenOutputIO(oc, url, AVIO_FLAG_WRITE, *io); rc < 0)
      return fail(ErrorText(fileName, rc));
    // A muxer without a file of its own only got the name and the hooks.
    if (io->IsOpen()) file->IO = std::move(io);
  }

  // Muxers of this generation keep preload as a private option (MPEG PS/TS) and the
  // output loop likewise (GIF, APNG); others have neither.
  ff::av_opt_set_int(oc, "preload", static_cast<std::int64_t>(std::trunc(job_.MuxPreloadSeconds * 1000000)),
                     AV_OPT_SEARCH_CHILDREN);
  oc->max_delay = static_cast<int>(std::trunc(job_.MuxMaxDelaySeconds * 1000000));
  if (pending_.LoopOutput >= 0) ff::av_opt_set_int(oc, "loop", pending_.LoopOutput, AV_OPT_SEARCH_CHILDREN);
  oc->flags |= AVFMT_FLAG_NONBLOCK;
  CopyGenericOptions(*optionContexts_, oc, optionContexts_->FormatOptions(), AV_OPT_FLAG_ENCODING_PARAM);

  streamIdMap_ = {};

  if (join && inputCount_ > 1) {
    joinMode_ = true;
    std::int64_t total = 0;
    for (int i = 0; i < inputCount_; ++i) {
      const AVFormatContext *input = inputFiles_[static_cast<size_t>(i)].Context();
      if (input && input->duration != AV_NOPTS_VALUE && input->duration > 0) total += input->duration;
    }
    progressTotalUs_ = total == 0 ? -1 : total;
    for (int k = 1; k < inputCount_; ++k)
      outputFiles_[static_cast<size_t>(outputCount_++)] = file;
  }
  return outputCount_;
}

} // namespace tovi
