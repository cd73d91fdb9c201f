// The job set-up's tables and stream mapping, the order of its steps, and the tear-down
// that releases the tables at the end of a job.
#include <algorithm>
#include <new>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/Texts.h"

namespace tovi {

namespace {

bool StreamInProgram(const AVFormatContext *ic, int programId, unsigned streamIndex) {
  for (unsigned p = 0; p < ic->nb_programs; ++p) {
    const AVProgram *program = ic->programs[p];
    if (program->id != programId) continue;
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
      if (program->stream_index[k] == streamIndex) return true;
  }
  return false;
}

} // namespace

void TCustomFFmpeg::TranscodeSetup() {
  RequireLibraries();
  if (!optionContexts_) throw FFmpegException("The engine has not been reset");
  TranscodeTearDown(); // a previous job's leftovers
  try {
    tables_ = std::make_unique<TTranscodeTables>();
  } catch (const std::bad_alloc &) {
    throw FFmpegException("av_mallocz fail");
  }
  TTranscodeTables &t = *tables_;
  try {
    RefuseStartPastTheEnd();
    SetupInputTables(t);
    SetupOutputTables(t);
    std::size_t bufferSize = static_cast<std::size_t>(std::max(job_.OutputBufferSizeBytes, 0));
    for (std::size_t i = 0; i < t.OutputStreams.size(); ++i) {
      TOutputStreamRecord &ost = t.OutputStreams[i];
      const TInputStreamRecord &ist = t.InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
      ff::av_dict_copy(&ost.Stream->metadata, ist.Stream->metadata, AV_DICT_DONT_OVERWRITE);
      ost.Stream->disposition = ist.Stream->disposition;
      ost.Encoder->bits_per_raw_sample = ist.Stream->codecpar->bits_per_raw_sample;
      ost.Encoder->chroma_sample_location = ist.Stream->codecpar->chroma_location;
      if (OutputStreamEntry(ost.FileIndex, ost.StreamIndex).StreamCopy)
        SetupStreamCopy(t, ost);
      else
        SetupEncoding(t, ost, static_cast<int>(i));
      if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        const std::size_t need =
            6 * std::size_t(std::max(ost.Encoder->width, 0)) * std::size_t(std::max(ost.Encoder->height, 0)) +
            200;
        bufferSize = std::max(bufferSize, need);
      }
    }
    t.WorkBuffer.clear();
    t.WorkBuffer.shrink_to_fit();
    try {
      t.WorkBuffer.resize(bufferSize);
    } catch (const std::bad_alloc &) {
      throw FFmpegException::Fmt("Cannot allocate %d bytes output buffer",
                                 int(std::min<std::size_t>(bufferSize, INT32_MAX)));
    }
    // Decoders first: a subtitle encoder starts from its decoder's style header.
    OpenDecoders(t);
    OpenEncoders(t);
    SetupInputTiming(t);
    CopyMetaDataMaps(t);
    CopyChapters();
    // Before the headers: they describe the filtered packets, and a chain that cannot
    // take its stream refuses the job before a file is written.
    InitializeBitstreamFilters();
    WriteHeaders(t);
    LogStreamListing(t);
  } catch (...) {
    ReleaseTables(true);
    throw;
  }
}

void TCustomFFmpeg::RefuseStartPastTheEnd() const {
  // An output start time (one given after the inputs; an input's own start was checked
  // when it was opened) at or past the end of what the inputs hold would give a file
  // without a single packet. Inputs of unknown length leave it to the job.
  if (job_.StartTimeUs <= 0 || inputCount_ <= 0) return;
  std::int64_t lengthUs = 0;
  for (int i = 0; i < inputCount_; ++i) {
    const AVFormatContext *context = inputFiles_[static_cast<size_t>(i)].Context();
    if (!context || context->duration == AV_NOPTS_VALUE || context->duration <= 0) return;
    lengthUs = joinMode_ ? lengthUs + context->duration : std::max(lengthUs, context->duration);
  }
  if (job_.StartTimeUs >= lengthUs)
    throw FFmpegException::Fmt("The start time %.3f s is at or past the end of the input (%.3f s)",
                               double(job_.StartTimeUs) / AV_TIME_BASE, double(lengthUs) / AV_TIME_BASE);
}

void TCustomFFmpeg::TranscodeTearDown() {
  // The encode stages' threads may still be in their encoders.
  if (tables_)
    for (TOutputStreamRecord &ost : tables_->OutputStreams)
      ost.EncodeStage.reset();
  if (!openEncoders_.empty() || !openDecoders_.empty()) {
    std::lock_guard lock(CodecLock());
    for (CodecContextPtr *encoder : openEncoders_) {
      if (!*encoder) continue;
      (*encoder)->stats_in = nullptr; // the record's buffer, released with the tables
      FreeCodecContextLocked(*encoder);
    }
    for (CodecContextPtr *decoder : openDecoders_)
      if (*decoder) FreeCodecContextLocked(*decoder);
  }
  openEncoders_.clear();
  openDecoders_.clear();
  ReleaseTables(true);
}

void TCustomFFmpeg::ReleaseTables(bool librariesLoaded) {
  if (!tables_) return;
  // The encode stages' threads end here; with the libraries gone, what they still hold
  // is abandoned like everything else in the tables.
  for (TOutputStreamRecord &ost : tables_->OutputStreams)
    if (ost.EncodeStage && !librariesLoaded) ost.EncodeStage->Abandon();
  if (!librariesLoaded) {
    // Every owner in the tables would call the unloaded libraries.
    (void)tables_.release();
    return;
  }
  // An encoder that outlives the tables must not keep pointing at the statistics buffer.
  // The record's own Encoder pointer is not used for that: TranscodeTearDown frees the
  // opened encoders first, so it may point at a freed context. The owner in the output
  // file says whether the context still exists.
  for (TOutputStreamRecord &ost : tables_->OutputStreams) {
    if (!ost.StatsIn) continue;
    const std::shared_ptr<TOutputFile> &file = outputFiles_.at(static_cast<std::size_t>(ost.FileIndex));
    if (!file || static_cast<std::size_t>(ost.StreamIndex) >= file->Streams.size()) continue;
    AVCodecContext *encoder = file->Streams[static_cast<std::size_t>(ost.StreamIndex)].Encoder.get();
    if (encoder && encoder->stats_in == reinterpret_cast<char *>(ost.StatsIn.get()))
      encoder->stats_in = nullptr;
  }
  tables_.reset();
}

TOutputStream &TCustomFFmpeg::OutputStreamEntry(int slot, int stream) {
  return outputFiles_.at(static_cast<std::size_t>(slot))->Streams.at(static_cast<std::size_t>(stream));
}

void TCustomFFmpeg::SetupInputTables(TTranscodeTables &t) {
  try {
    t.InputFiles.resize(static_cast<std::size_t>(inputCount_));
    for (int i = 0; i < inputCount_; ++i) {
      const TInputSlot &slot = inputFiles_[static_cast<std::size_t>(i)];
      AVFormatContext *ic = slot.Context();
      TInputFileState &state = t.InputFiles[static_cast<std::size_t>(i)];
      state.FirstStream = static_cast<int>(t.InputStreams.size());
      state.StreamCount = ic ? static_cast<int>(ic->nb_streams) : 0;
      for (int s = 0; s < state.StreamCount; ++s) {
        TInputStreamRecord ist;
        ist.FileIndex = i;
        ist.StreamIndex = s;
        ist.Stream = ic->streams[s];
        if (static_cast<std::size_t>(s) < slot.Decoders.size())
          ist.Decoder = slot.Decoders[static_cast<std::size_t>(s)].get();
        if (job_.RateEmulation) ist.StartUs = ff::av_gettime();
        t.InputStreams.push_back(std::move(ist));
      }
    }
  } catch (const std::bad_alloc &) {
    throw FFmpegException("av_mallocz fail");
  }
}

void TCustomFFmpeg::SetupOutputTables(TTranscodeTables &t) {
  int total = 0;
  for (int i = 0; i < outputCount_; ++i) {
    const TOutputFile &file = *outputFiles_[static_cast<std::size_t>(i)];
    if (file.Context->nb_streams == 0) {
      ff::av_dump_format(file.Context.get(), i, file.Context->url ? file.Context->url : file.FileName.c_str(),
                         1);
      throw FFmpegException::Fmt("Output file #%d does not contain any stream", i);
    }
    total += static_cast<int>(file.Context->nb_streams);
  }
  if (outputCount_ > 0) t.JoinGroupSize = static_cast<int>(outputFiles_[0]->Context->nb_streams);

  const auto inputExists = [&](int file, int stream) {
    return file >= 0 && file < inputCount_ && stream >= 0 &&
           stream < t.InputFiles[static_cast<std::size_t>(file)].StreamCount;
  };
  if (streamMapCount_ > 0) {
    if (streamMapCount_ != total)
      throw FFmpegException("Number of stream maps must match number of output streams");
    for (const TStreamMap &map : StreamMaps()) {
      if (!inputExists(map.FileIndex, map.StreamIndex))
        throw FFmpegException::Fmt("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex);
      if (!inputExists(map.SyncFileIndex, map.SyncStreamIndex))
        throw FFmpegException::Fmt("Could not find sync stream #%d.%d", map.SyncFileIndex,
                                   map.SyncStreamIndex);
    }
  }
  try {
    t.OutputStreams.resize(static_cast<std::size_t>(total));
  } catch (const std::bad_alloc &) {
    throw FFmpegException("av_mallocz fail");
  }

  int n = 0;
  for (int i = 0; i < outputCount_; ++i) {
    TOutputFile &file = *outputFiles_[static_cast<std::size_t>(i)];
    AVFormatContext *oc = file.Context.get();
    for (int k = 0; k < static_cast<int>(oc->nb_streams); ++k, ++n) {
      TOutputStreamRecord &ost = t.OutputStreams[static_cast<std::size_t>(n)];
      ost.FileIndex = i;
      ost.StreamIndex = k;
      ost.Stream = oc->streams[k];
      ost.Encoder = file.Streams.at(static_cast<std::size_t>(k)).Encoder.get();
      const AVMediaType type = ost.Encoder->codec_type;
      if (streamMapCount_ > 0) {
        const TStreamMap &map = streamMaps_[static_cast<std::size_t>(n)];
        ost.SourceIndex = t.InputFiles[static_cast<std::size_t>(map.FileIndex)].FirstStream + map.StreamIndex;
        ost.SyncIndex =
            t.InputFiles[static_cast<std::size_t>(map.SyncFileIndex)].FirstStream + map.SyncStreamIndex;
        const AVMediaType sourceType =
            t.InputStreams[static_cast<std::size_t>(ost.SourceIndex)].Stream->codecpar->codec_type;
        if (sourceType != type) {
          ff::av_dump_format(oc, i, oc->url ? oc->url : file.FileName.c_str(), 1);
          throw FFmpegException::Fmt("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                     map.FileIndex, map.StreamIndex, MediaTypeName(sourceType).c_str(), i, k,
                                     MediaTypeName(type).c_str());
        }
      } else {
        ost.SourceIndex = AutoMapSource(t, i, k, type);
        if (ost.SourceIndex < 0) {
          ff::av_dump_format(oc, i, oc->url ? oc->url : file.FileName.c_str(), 1);
          throw FFmpegException::Fmt("Could not find input stream matching output stream #%d.%d (%s)", i, k,
                                     MediaTypeName(type).c_str());
        }
        ost.SyncIndex = ost.SourceIndex;
      }
      t.InputStreams[static_cast<std::size_t>(ost.SourceIndex)].Discard = false;
      ost.ActiveForReports = true;
    }
  }
}

// The candidate with the most frames wins. This library generation keeps the frames
// counted while probing to itself, so the container's frame count stands in for it.
int TCustomFFmpeg::AutoMapSource(const TTranscodeTables &t, int slot, int, AVMediaType type) const {
  int best = -1;
  std::int64_t bestFrames = -1;
  for (std::size_t j = 0; j < t.InputStreams.size(); ++j) {
    const TInputStreamRecord &ist = t.InputStreams[j];
    const AVStream *st = ist.Stream;
    if (!ist.Discard || st->discard >= AVDISCARD_ALL || st->codecpar->codec_type != type) continue;
    if (job_.ProgramId != 0 &&
        !StreamInProgram(inputFiles_[static_cast<std::size_t>(ist.FileIndex)].Context(), job_.ProgramId,
                         static_cast<unsigned>(ist.StreamIndex)))
      continue;
    if (joinMode_ && ist.FileIndex != slot) continue;
    if (st->nb_frames > bestFrames) {
      bestFrames = st->nb_frames;
      best = static_cast<int>(j);
    }
  }
  if (best < 0 && job_.ProgramId == 0 && !joinMode_) {
    for (std::size_t j = 0; j < t.InputStreams.size(); ++j) {
      const AVStream *st = t.InputStreams[j].Stream;
      if (st->codecpar->codec_type == type && st->discard < AVDISCARD_ALL) best = static_cast<int>(j);
    }
  }
  return best;
}

void TCustomFFmpeg::FailWithListing(const TTranscodeTables &t, const std::string &message) const {
  LogStreamListing(t);
  Log(llError, message);
  throw FFmpegException(message);
}

void TCustomFFmpeg::LogStreamListing(const TTranscodeTables &t) const {
  const int files = joinMode_ ? std::min(outputCount_, 1) : outputCount_;
  for (int i = 0; i < files; ++i) {
    AVFormatContext *oc = outputFiles_[static_cast<std::size_t>(i)]->Context.get();
    ff::av_dump_format(oc, i, oc->url ? oc->url : "", 1);
  }
  if (job_.Verbose < 0) return;
  Log(llVerbose, "Stream mapping:");
  for (const TOutputStreamRecord &ost : t.OutputStreams) {
    const TInputStreamRecord &source = t.InputStreams.at(static_cast<std::size_t>(ost.SourceIndex));
    const std::string type = MediaTypeName(ost.Encoder ? ost.Encoder->codec_type : AVMEDIA_TYPE_UNKNOWN);
    LogFmt(llVerbose, "  Stream #%d.%d -> #%d.%d (%s)", source.FileIndex, source.StreamIndex,
           joinMode_ ? 0 : ost.FileIndex, ost.StreamIndex, type.c_str());
    if (ost.SyncIndex != ost.SourceIndex) {
      const TInputStreamRecord &sync = t.InputStreams.at(static_cast<std::size_t>(ost.SyncIndex));
      LogFmt(llVerbose, " [sync #%d.%d (%s)]", sync.FileIndex, sync.StreamIndex,
             MediaTypeName(sync.Stream->codecpar->codec_type).c_str());
    }
  }
}

} // namespace tovi
