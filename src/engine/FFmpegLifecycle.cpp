// Creation, reset and release of the engine, its tables and their capacity checks.
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/StringFormat.h"

namespace tovi {

TCustomFFmpeg::TCustomFFmpeg() { ResetSettings(); }

TCustomFFmpeg::~TCustomFFmpeg() {
  // A running job ends (trailer written, notice sent) before anything it uses goes.
  if (busy_) Stop(true);
  ownedThread_.reset();
  terminateThread_.reset();
  FreeAll();
}

void TCustomFFmpeg::RequireLibraries() {
  if (!TFFmpegLoader::Instance().LibrariesLoaded(CONVERTER_LIBRARIES))
    throw FFmpegException("The media libraries are not loaded");
}

void TCustomFFmpeg::Reset() {
  if (!TFFmpegLoader::Instance().LibrariesLoaded(CONVERTER_LIBRARIES)) return;
  FreeAll();
  ResetSettings();
  joinMode_ = false;
  busy_ = false;
  stopRequested_ = false;
  completedNormally_ = false;
  terminated_ = false;
  progressTotalUs_ = -1;
  CreateGenericOptions();
}

void TCustomFFmpeg::ResetSettings() {
  pending_ = TPendingSettings{};
  job_ = TJobSettings{};
  // Tables: only the counters say what is in use; the slots beyond them are cleared so
  // that nothing stale can be read through a later bug.
  inputTsScale_ = {};
  decoderOverrides_ = {};
  decoderOverrideCount_ = 0;
  encoderOverrides_ = {};
  encoderOverrideCount_ = 0;
  streamMaps_ = {};
  streamMapCount_ = 0;
  metaDataMaps_ = {};
  metaDataMapCount_ = 0;
  streamIdMap_ = {};
  errorOccurred_ = false;
  errorMessage_.clear();
}

void TCustomFFmpeg::FreeAll() {
  const bool loaded = TFFmpegLoader::Instance().LibrariesLoaded(CONVERTER_LIBRARIES);
  if (loaded) {
    FreeGenericOptions();
  } else if (optionContexts_) {
    // Their memory belongs to the unloaded libraries' allocator; abandon it.
    (void)optionContexts_.release();
  }
  CloseFiles(loaded);
  ReleaseFrameWorkState(loaded);
  pending_.VideoCodecName.clear();
  pending_.AudioCodecName.clear();
  pending_.SubtitleCodecName.clear();
  pending_.VideoStandard.clear();
}

namespace {

// Abandons what a library owner holds when the library that must free it is gone.
template <typename Ptr> void Abandon(Ptr &owner) { (void)owner.release(); }

} // namespace

void TCustomFFmpeg::CloseFiles(bool librariesLoaded) {
  // The job's records point into the files and their codec contexts.
  if (librariesLoaded) {
    TranscodeTearDown();
  } else {
    openEncoders_.clear();
    openDecoders_.clear();
    ReleaseTables(false);
  }
  // Output files first, one record at a time: in join mode several slots share one.
  for (int i = 0; i < MAX_FILES; ++i) {
    std::shared_ptr<TOutputFile> file = std::move(outputFiles_[static_cast<size_t>(i)]);
    if (!file || file.use_count() > 1) continue; // another slot still holds it
    const bool writesFile =
        file->Context && file->Context->oformat && !(file->Context->oformat->flags & AVFMT_NOFILE);
    if (!librariesLoaded) {
      Abandon(file->IO);
      for (TOutputStream &stream : file->Streams)
        Abandon(stream.Encoder);
      Abandon(file->Context);
    }
    // The file is flushed and closed before its size decides whether it goes.
    if (file->IO) file->IO->Close();
    file->Streams.clear();
    file->IO.reset();
    file->Context.reset();
    std::error_code ec;
    if (writesFile && !file->FileName.empty() && std::filesystem::is_regular_file(file->FileName, ec) &&
        std::filesystem::file_size(file->FileName, ec) == 0 && !ec)
      std::filesystem::remove(file->FileName, ec);
  }
  outputCount_ = 0;
  for (TInputSlot &input : inputFiles_) {
    if (!librariesLoaded) {
      Abandon(input.File);
      for (CodecContextPtr &decoder : input.Decoders)
        Abandon(decoder);
    }
    input = TInputSlot{};
  }
  inputCount_ = 0;
  // Filter contexts are freed only through a bound entry point (TBsfContextFree).
  for (auto &file : outputBitstreamFilters_)
    for (auto &chain : file)
      chain.Clear();
  pendingVideoFilters_.Clear();
  pendingAudioFilters_.Clear();
  pendingSubtitleFilters_.Clear();
}

int TCustomFFmpeg::RegisterInputFile(TInputFile file, std::int64_t tsOffsetUs) {
  if (inputCount_ >= MAX_FILES)
    throw FFmpegException::Fmt("Too many input files (the table holds %d)", MAX_FILES);
  TInputSlot &slot = inputFiles_[static_cast<size_t>(inputCount_)];
  slot.File = std::make_unique<TInputFile>(std::move(file));
  slot.TsOffsetUs = tsOffsetUs;
  return inputCount_++;
}

void TCustomFFmpeg::AppendStreamMap(const TStreamMap &map) {
  if (streamMapCount_ >= MAX_STREAM_MAPS)
    throw FFmpegException::Fmt("Too many stream maps (the table holds %d)", MAX_STREAM_MAPS);
  streamMaps_[static_cast<size_t>(streamMapCount_++)] = map;
}

void TCustomFFmpeg::AppendMetaDataMap(const TMetaDataMap &map) {
  if (metaDataMapCount_ >= MAX_META_DATA_MAPS)
    throw FFmpegException::Fmt("Too many metadata maps (the table holds %d)", MAX_META_DATA_MAPS);
  metaDataMaps_[static_cast<size_t>(metaDataMapCount_++)] = map;
}

void TCustomFFmpeg::AppendDecoderOverride(const AVCodec *codec) {
  if (decoderOverrideCount_ >= MAX_CODEC_OVERRIDES)
    throw FFmpegException::Fmt("Too many input streams (the table holds %d)", MAX_CODEC_OVERRIDES);
  decoderOverrides_[static_cast<size_t>(decoderOverrideCount_++)] = codec;
}

void TCustomFFmpeg::AppendEncoderOverride(const AVCodec *codec) {
  if (encoderOverrideCount_ >= MAX_CODEC_OVERRIDES)
    throw FFmpegException::Fmt("Too many output streams (the table holds %d)", MAX_CODEC_OVERRIDES);
  encoderOverrides_[static_cast<size_t>(encoderOverrideCount_++)] = codec;
}

double TCustomFFmpeg::InputTsScale(int file, int stream) const {
  if (file < 0 || file >= MAX_FILES || stream < 0 || stream >= MAX_STREAMS) return 0;
  return inputTsScale_[static_cast<size_t>(file)][static_cast<size_t>(stream)];
}

const TBitstreamFilterChain &TCustomFFmpeg::PendingBitstreamFilters(AVMediaType type) const {
  switch (type) {
  case AVMEDIA_TYPE_VIDEO: return pendingVideoFilters_;
  case AVMEDIA_TYPE_AUDIO: return pendingAudioFilters_;
  default: return pendingSubtitleFilters_;
  }
}

const TBitstreamFilterChain &TCustomFFmpeg::OutputBitstreamFilters(int file, int stream) const {
  return outputBitstreamFilters_.at(static_cast<size_t>(file)).at(static_cast<size_t>(stream));
}

TBitstreamFilterChain &TCustomFFmpeg::PendingChain(char kindLetter) {
  switch (kindLetter) {
  case 'v': return pendingVideoFilters_;
  case 'a': return pendingAudioFilters_;
  default: return pendingSubtitleFilters_;
  }
}

void TCustomFFmpeg::Log(TLogLevel level, const std::string &text) const {
  TFFLogger::Instance().Log(this, level, text);
}

void TCustomFFmpeg::LogFmt(TLogLevel level, const char *format, ...) const {
  va_list args;
  va_start(args, format);
  const std::string text = StringFormatV(format, args);
  va_end(args);
  Log(level, text);
}

} // namespace tovi
