// The transcoding engine: one TCustomFFmpeg performs one conversion job (one or more
// input files into one output file).
//
// It owns every table and setting a media command-line tool of this kind keeps as
// global state: the input and output files, the stream and metadata maps, the settings
// that apply to the next input file, the next output stream or the whole job, the
// generic codec option contexts and the run state. The converter component configures
// it through ParseOption (one call per name=value line of a task's option text) and the
// direct setters, then adds the input and output files and starts the job.
//
// Threading: configuration (everything declared here) runs on the caller's thread while
// no job runs; an engine is never configured from two threads at once.
//
// Errors: validation failures raise FFmpegException with the system's fixed message;
// nothing here catches them, so they reach the caller.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

#include "engine/BitstreamFilters.h"
#include "engine/ConvertThread.h"
#include "engine/EngineEvents.h"
#include "engine/FFmpegException.h"
#include "engine/TranscodeTables.h"
#include "engine/VideoHookPlugins.h"
#include "media/FFmpegLogger.h"
#include "media/FormatIO.h"
#include "media/OptionContexts.h"
#include "media/Owners.h"
#include "media/RGBHolder.h"

struct AVCodec;
struct AVFrame;
struct AVSubtitle;
struct AVPacket;
struct AVFormatContext;
struct AVOutputFormat;
struct AVStream;

namespace tovi {

// Capacities of the engine's fixed tables. A full table refuses the next entry with an
// FFmpegException; nothing is ever written past one.
constexpr int MAX_FILES = 20;            // input files, output file slots, metadata maps
constexpr int MAX_STREAMS = 20;          // streams per file for scales, ids and filter chains
constexpr int MAX_CODEC_OVERRIDES = 400; // input decoder and output encoder overrides
constexpr int MAX_STREAM_MAPS = 400;
constexpr int MAX_META_DATA_MAPS = 20;

// The media library's value for "no time stamp"; also "not set" for times here.
constexpr std::int64_t NO_TIMESTAMP = AV_NOPTS_VALUE;

// Disc and camcorder norms of the "target" option.
enum class TTargetNorm { PAL, NTSC, FILM, Unknown };

using TQuantMatrix = std::array<std::uint16_t, 64>;

struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

struct TMetaDataMap {
  int OutFile = 0;
  int InFile = 0;
};

// Settings read by the next input file or the next output stream. Which of them a
// file or stream consumes (resets) is documented at AddInputFile / AddOutputFile.
struct TPendingSettings {
  std::string FormatName; // container format; empty = guess
  int FrameWidth = 0;     // 0 = keep the input's size
  int FrameHeight = 0;
  double FrameAspectRatio = 0;         // display aspect; 0 = unset
  bool FrameAspectFromInput = false;   // the input's own picture shape, not an asked-for aspect
  int FramePixelFormat = -1;           // AVPixelFormat, -1 = none
  bool FramePixelFormatChosen = false; // set by "pix_fmt"; an input's own format is no choice
  int AudioSampleFormat = -1;          // AVSampleFormat, -1 = none
  int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  // Indexed by AVMediaType: video, audio, data, subtitle.
  std::array<int, 4> MaxFrames{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
  AVRational FrameRate{0, 0}; // 0/0 = unset
  double VideoQScale = 0;     // 0 = unset
  std::optional<TQuantMatrix> IntraMatrix, InterMatrix;
  std::string RcOverride;
  bool VideoDisable = false;
  int VideoDiscard = 0;
  std::string VideoCodecName; // empty = guess
  std::uint32_t VideoCodecTag = 0;
  std::string VideoLanguage;
  bool SameQuality = false;
  bool Deinterlace = false;
  int TopFieldFirst = -1; // -1 = take from the input
  int MeThreshold = 0;
  int IntraDcPrecision = 8;
  bool LoopInput = false;
  int LoopOutput = -1; // -1 = no output loop
  bool QpHistogram = false;
  std::string VideoFilters;
  bool IntraOnly = false;
  int AudioSampleRate = 44100;
  std::uint64_t ChannelLayout = 0;
  double AudioQScale = -99999.0; // -99999 = unset
  bool AudioDisable = false;
  int AudioChannels = 2;
  std::string AudioCodecName;
  std::uint32_t AudioCodecTag = 0;
  std::string AudioLanguage;
  bool SubtitleDisable = false;
  std::string SubtitleCodecName;
  std::string SubtitleLanguage;
  std::uint32_t SubtitleCodecTag = 0;
  bool AudioStreamCopy = false;
  bool VideoStreamCopy = false;
  bool SubtitleStreamCopy = false;
  int VideoChannel = 0;
  std::string VideoStandard;
};

// Settings for the whole job.
struct TJobSettings {
  double MuxPreloadSeconds = 0.5;
  double MuxMaxDelaySeconds = 0.7;
  std::int64_t RecordingTimeUs = INT64_MAX; // no limit
  std::int64_t StartTimeUs = 0;
  std::int64_t OutputTimestampSeconds = 0;
  std::int64_t InputTsOffsetUs = 0; // for the next input
  std::vector<std::pair<std::string, std::string>> Metadata;
  bool HexDump = false;
  bool PacketDump = false;
  bool DoPsnr = false;
  int Pass = 0;                // 0, 1 or 2
  std::string PassLogFileName; // empty = "ffmpeg2pass"
  int VideoSyncMethod = -1;    // -1 = automatic
  int AudioSyncMethod = 0;
  double AudioDriftThreshold = 0.1;
  bool CopyTimestamps = false;
  bool Shortest = false;
  int VideoGlobalHeader = 0; // bit 0 global headers, bit 1 local headers
  std::string VStatsFileName;
  int ProgramId = 0;
  int CopyInitialNonKeyFrames = 0;
  bool RateEmulation = false;
  int AudioVolume = 256; // 256 = unity
  bool ExitOnError = false;
  bool UsingVideoHooks = false;
  int Verbose = 1;
  int ThreadCount = 1; // decoder/encoder threads
  bool InputSync = false;
  std::int64_t LimitFileSizeBytes = 0; // 0 = none
  bool ForceFps = false;
  bool PgmyuvCompatibility = false;
  double DtsDeltaThresholdSeconds = 10.0;
  int ScalerFlags = 4; // bicubic
  int OutputBufferSizeBytes = 262144;
};

// One opened input file and its timestamp offset. The file is held through a pointer so
// that it can be abandoned rather than closed once the libraries are gone (FreeAll).
struct TInputSlot {
  std::unique_ptr<TInputFile> File;
  std::int64_t TsOffsetUs = 0;
  // One decoder context per stream of the file, configured (not opened) by AddInputFile.
  std::vector<CodecContextPtr> Decoders;
  AVFormatContext *Context() const { return File ? File->Context() : nullptr; }
};

// One output stream as AddOutputFile (or "newvideo"/"newaudio"/"newsubtitle") leaves it
// for the transcode set-up, index = the stream's index in the muxer context.
//
// Set-up seams: for an encoded stream, open Encoder with Codec (plus the private options
// of ApplyPrivateOptions) and fill the stream's codecpar from the opened context; for a
// stream copy, copy the input stream's codec parameters into codecpar and keep the
// sample aspect ratio set here. Until then codecpar holds a provisional copy of the
// encoder context's settings (type, id, size...) so that listings and dumps are sane.
struct TOutputStream {
  CodecContextPtr Encoder;        // not opened; also carries the settings of a stream copy
  const AVCodec *Codec = nullptr; // the encoder to open; null for a stream copy or none found
  bool StreamCopy = false;
};

// One output file. In join mode the same record occupies several output slots.
// Members are released in reverse order: the streams' encoders, then the I/O (which
// needs the context alive), then the context.
struct TOutputFile {
  // The job's input files, which the muxer may not open for writing (its context's
  // opaque points here from the header on); declared first so that it outlives Context.
  TReadOnlyFiles Sources;
  FormatContextPtr Context;
  std::unique_ptr<TOutputIO> IO; // the open output file; null for a muxer without one
  std::string FileName;          // native path; an empty file is deleted when it is closed
  std::vector<TOutputStream> Streams;
};

// Which media types the input files hold (check_audio_video_sub_inputs).
struct TInputMediaTypes {
  bool HasVideo = false;
  bool HasAudio = false;
  bool HasSubtitle = false;
};

class TCustomFFmpeg {
public:
  // ResetSettings; the generic option contexts are created by Reset.
  TCustomFFmpeg();
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg &) = delete;
  TCustomFFmpeg &operator=(const TCustomFFmpeg &) = delete;

  // ---- life cycle ------------------------------------------------------------------
  // Returns a used engine to the freshly created state and creates the generic option
  // contexts. Does nothing while the converter libraries are not loaded.
  void Reset();
  // Every setting to its default; tables, counters and the stream id map cleared; the
  // error flag cleared. Keeps the open files and the option contexts.
  void ResetSettings();
  // Releases the option contexts, the input and output files (deleting an output file
  // of 0 bytes), the pending bitstream filter chains and the codec names. Without the
  // libraries loaded, library objects are abandoned rather than freed.
  void FreeAll();

  // ---- configuration ---------------------------------------------------------------
  // The option dispatcher: `name` without a leading dash, compared exactly. Unknown
  // names go to SetGenericOption and are dropped silently when it refuses them.
  void ParseOption(const std::string &name, const std::string &value);
  // Throws FFmpegException naming the option when the engine does not know `name` (not
  // in the option table, not a generic or private codec option) or refuses `value` as a
  // value of that kind: a generic value the contexts reject, a bit rate that is not one,
  // a sample rate or channel count of 0 or less, a negative duration. Anything that
  // depends on other options or on the files (an encoder that does not exist, a preset
  // not found) is only found when the option is applied. May set the value on the
  // generic option contexts; meant for a scratch engine that checks a command line.
  void CheckOption(const std::string &name, const std::string &value);
  // The generic option setter over the engine's option contexts: true when the name
  // was found and the value accepted. False before Reset.
  bool SetGenericOption(const std::string &name, const std::string &value);
  bool SetGenericIntOption(const std::string &name, std::int64_t value);

  // Opens an input file (UTF-8 name) and registers it; false: not added, the reason is
  // in LastErrorText. Consumes the pending container format, codec names, video
  // channel, start time (once it has seeked) and program id (once applied), and
  // overwrites the pending frame size, aspect, pixel format and frame rate with those of
  // the file's last video stream and the audio rate, channels, layout and sample format
  // with those of its last audio stream. Raises FFmpegException for an unknown
  // container format, a stream of an invalid media type and a full table. Must not be
  // called while this thread holds CodecLock().
  bool AddInputFile(const std::string &fileName);
  // Creates the output file (UTF-8 name, opened through OpenOutputIO; an existing file is
  // overwritten) and one video, audio and subtitle stream from the pending settings, as
  // far as the muxer and the open inputs call for them. Returns the number of output
  // slots in use, or -1 with the reason in LastErrorText; a failed call leaves no slot
  // and no file of its own behind. Refuses a name that is the same file as an open
  // input. With `join` and more than one input, every input is joined into this file:
  // slot k (one per input) shares the file, and the progress total is the sum of the
  // inputs' durations. Consumes the pending container format, the metadata list, the
  // pending bitstream filter chains and the per-stream settings listed at the stream
  // creators. Raises FFmpegException only when the muxer context cannot be allocated.
  int AddOutputFile(const std::string &fileName, bool join);
  // Media types of the open inputs (only the first one when `join`). Raises
  // "invalid codec_type of input file" for a stream of an unknown media type.
  TInputMediaTypes CheckAudioVideoSubInputs(bool join) const;

  // Registers an opened input in the next input slot (the last step of AddInputFile).
  // Throws FFmpegException when the table is full. Returns the index.
  int RegisterInputFile(TInputFile file, std::int64_t tsOffsetUs);

  // Direct setters: each has the effect of the option named beside it.
  void SetFormat(const std::string &name);                            // "f"
  void SetVerbose(int level);                                         // "v"
  void SetFrameRate(const std::string &text);                         // "r"
  void SetFrameSize(const std::string &text);                         // "s"
  void SetFrameAspectRatio(const std::string &text);                  // "aspect"
  void SetCropTop(int pixels);                                        // "croptop"
  void SetCropBottom(int pixels);                                     // "cropbottom"
  void SetCropLeft(int pixels);                                       // "cropleft"
  void SetCropRight(int pixels);                                      // "cropright"
  void SetAudioRate(int hz);                                          // "ar"; <= 0 ignored
  void SetAudioChannels(int count);                                   // "ac"; <= 0 ignored
  void SetVideoCodec(const std::string &name);                        // "vcodec"; "copy" = stream copy
  void SetAudioCodec(const std::string &name);                        // "acodec"
  void SetSubtitleCodec(const std::string &name);                     // "scodec"
  void SetVideoTag(const std::string &text);                          // "vtag"
  void SetAudioTag(const std::string &text);                          // "atag"
  void SetSubtitleTag(const std::string &text);                       // "stag"
  void SetVideoFilters(const std::string &text);                      // "vfilters"
  void SetStartTime(std::int64_t us);                                 // "ss"; NO_TIMESTAMP ignored
  void SetRecordingTime(std::int64_t us);                             // "t"; NO_TIMESTAMP ignored
  void SetProgramId(int id);                                          // "programid"; negative ignored
  void SetAudioVolume(int volume);                                    // "vol"; negative ignored
  void SetAudioSyncMethod(int method);                                // "async"
  void SetVideoSyncMethod(int method);                                // "vsync"
  void SetMuxMaxDelay(double seconds);                                // "muxdelay"; <= 0 ignored
  void SetMuxPreload(double seconds);                                 // "muxpreload"; <= 0 ignored
  void AddMetadata(const std::string &key, const std::string &value); // "metadata"
  // "target": type "vcd", "svcd", "dvd", "dv" or "dv50"; norm "pal", "ntsc", "film" or
  // anything else for automatic; defaultNorm when the automatic decision finds nothing.
  void SetTarget(const std::string &type, const std::string &norm, const std::string &defaultNorm);
  // "apre", "vpre", "spre", "fpre": only the first letter of `kind` matters.
  void LoadPreset(const std::string &kind, const std::string &name);
  // "absf", "vbsf", "sbsf": only the first letter of `kind` matters.
  void AddBitstreamFilter(const std::string &kind, const std::string &text);

  // Settings the component sets directly.
  void SetVideoDisabled(bool value) { pending_.VideoDisable = value; }
  void SetAudioDisabled(bool value) { pending_.AudioDisable = value; }
  void SetSubtitleDisabled(bool value) { pending_.SubtitleDisable = value; }
  void SetVideoLanguage(const std::string &value) { pending_.VideoLanguage = value; }
  void SetAudioLanguage(const std::string &value) { pending_.AudioLanguage = value; }
  void SetSubtitleLanguage(const std::string &value) { pending_.SubtitleLanguage = value; }
  void SetInputSync(bool value) { job_.InputSync = value; }
  void SetCopyTimestamps(bool value) { job_.CopyTimestamps = value; }
  void SetOutputTimestamp(std::int64_t seconds) { job_.OutputTimestampSeconds = seconds; }
  void SetProgressIntervalUs(std::int64_t us) { progressIntervalUs_ = us; }
  // Under the process-wide preview lock; clearing the previewer bit frees the previewer.
  void SetPreviewFlags(int flags);
  // Decoder and encoder threads; 0 = as many as the machine has cores. Throws for a
  // negative count. The "threads" option itself stays refused.
  void SetThreadCount(int count);

  // ---- job set-up ------------------------------------------------------------------
  // The first phase of a job: builds the working tables from the opened files, maps
  // every output stream to its source, derives and opens the encoders and the needed
  // decoders (under CodecLock(); must not be called while this thread holds it),
  // copies metadata and chapters, writes the headers and logs the stream mapping.
  // Raises FFmpegException with the system's message; the tables are then already
  // released, while codecs opened so far stay in the open lists for TranscodeTearDown.
  void TranscodeSetup();
  // The end of a job: frees the opened encoders and decoders under CodecLock() and
  // releases the tables (resamplers, scalers, FIFOs, pass log files). Safe to repeat.
  void TranscodeTearDown();
  // The tables of the running job; null outside one.
  const TTranscodeTables *Tables() const { return tables_.get(); }
  int OpenEncoderCount() const { return int(openEncoders_.size()); }
  int OpenDecoderCount() const { return int(openDecoders_.size()); }

  // ---- running a job (FFmpegRun.cpp) ------------------------------------------------
  // Starts the configured job. A busy or terminated engine returns null and does
  // nothing. Without an output or an input file the job is rejected: FreeAll, the
  // message is logged and stored, the termination callback runs, null is returned.
  // inThread false runs the job in the calling thread and returns null; inThread true
  // returns the worker thread, created suspended: the caller starts it with Resume().
  // The engine owns the thread.
  TConvertThread *Start(bool inThread, TThreadPriority priority = TThreadPriority::Normal);
  // The job body: Transcode, then the clean-up stages, each protected so that a failure
  // is recorded (ErrorOccurred, ErrorMessage) instead of escaping; ends with
  // NotifyTermination.
  void Run();
  // busy false, terminated true, then the termination callback.
  void NotifyTermination();
  // Asks the job to stop; a paused job is resumed first. With wait, returns when the job
  // has ended (servicing pending main-thread calls when called on the main thread).
  void Stop(bool wait);
  // Stop for a busy engine; otherwise sends the termination notice once if it was not
  // sent yet (on a thread of its own), waiting for it with wait.
  void Terminate(bool wait);
  // Holds the job between two packets; Resume lets it go on. Stop ends a pause.
  void Pause();
  void Resume();

  // Host callbacks; set them before Start.
  void SetOnProgress(TProgressEvent handler) { onProgress_ = std::move(handler); }
  void SetOnTerminate(TTerminateEvent handler) { onTerminate_ = std::move(handler); }
  void SetOnCustomHook(TCustomHookEvent handler) { onCustomHook_ = std::move(handler); }
  // Optional: lets the custom hook's handler say which parts of each picture it draws on.
  void SetOnCustomHookPlan(TCustomHookPlanEvent handler) { onCustomHookPlan_ = std::move(handler); }
  // The plan followed for the picture in the custom hook (job's thread, during the hook).
  const THookPlan &CustomHookPlan() const { return customHookPlan_; }
  void SetOnPreviewBitmap(TPreviewBitmapEvent handler) { onPreviewBitmap_ = std::move(handler); }
  bool HasCustomHook() const { return static_cast<bool>(onCustomHook_); }

  bool Busy() const { return busy_; }
  bool Terminated() const { return terminated_; }
  bool CompletedNormally() const { return completedNormally_; }
  bool StopRequested() const { return stopRequested_; }
  bool Paused() const;
  const std::string &ErrorMessage() const { return errorMessage_; }
  // The last job got past its set-up (headers written): its output holds its work.
  bool SetupCompleted() const { return setupCompleted_; }
  // Frames the last job duplicated and dropped to keep the frame rate.
  int DuplicatedFrames() const { return duplicatedFrames_; }
  int DroppedFrames() const { return droppedFrames_; }

  // ---- state -----------------------------------------------------------------------
  const TPendingSettings &Pending() const { return pending_; }
  const TJobSettings &Job() const { return job_; }
  const std::string &LastErrorText() const { return lastError_; }
  std::int64_t ProgressTotalUs() const { return progressTotalUs_; }
  std::int64_t ProgressIntervalUs() const { return progressIntervalUs_; }
  std::int64_t PreviewIntervalUs() const { return previewIntervalUs_; }
  int PreviewFlags() const;
  bool JoinMode() const { return joinMode_; }
  bool ErrorOccurred() const { return errorOccurred_; }

  int InputFileCount() const { return inputCount_; }
  const TInputSlot &InputFile(int index) const { return inputFiles_.at(static_cast<size_t>(index)); }
  int OutputFileCount() const { return outputCount_; }
  // The file in an output slot (in join mode several slots hold the same one).
  const TOutputFile &OutputFile(int index) const { return *outputFiles_.at(static_cast<size_t>(index)); }
  // The video filter graph text was set when the last output file was added.
  bool UsingVideoFilters() const { return usingVideoFilters_; }
  std::span<const TStreamMap> StreamMaps() const { return {streamMaps_.data(), size_t(streamMapCount_)}; }
  std::span<const TMetaDataMap> MetaDataMaps() const {
    return {metaDataMaps_.data(), size_t(metaDataMapCount_)};
  }
  std::span<const AVCodec *const> DecoderOverrides() const {
    return {decoderOverrides_.data(), size_t(decoderOverrideCount_)};
  }
  std::span<const AVCodec *const> EncoderOverrides() const {
    return {encoderOverrides_.data(), size_t(encoderOverrideCount_)};
  }
  // Timestamp scale for (input file, stream); 0 = not set.
  double InputTsScale(int file, int stream) const;
  const std::array<int, MAX_STREAMS> &StreamIdMap() const { return streamIdMap_; }
  // Pending chain for the next stream of a media type (video, audio; anything else:
  // subtitle) and the chain attached to an output stream.
  const TBitstreamFilterChain &PendingBitstreamFilters(AVMediaType type) const;
  const TBitstreamFilterChain &OutputBitstreamFilters(int file, int stream) const;
  // The generic option contexts; null before Reset.
  const TOptionContexts *GenericOptions() const { return optionContexts_.get(); }

  // Codec lookup by name shared by input and output files: true with `id` (and the
  // codec) on success, also for an empty name (id AV_CODEC_ID_NONE). Encoders of the
  // old generation are found under their replacement name. On failure the message is
  // in LastErrorText.
  bool FindCodec(const std::string &name, AVMediaType type, bool encoder, int strictness, AVCodecID &id,
                 const AVCodec **codec = nullptr);

protected:
  // Logs with the engine as sender.
  void Log(TLogLevel level, const std::string &text) const;
  void LogFmt(TLogLevel level, const char *format, ...) const __attribute__((format(printf, 3, 4)));

private:
  struct TOptionDef {
    std::string_view Name;
    void (*Action)(TCustomFFmpeg &engine, const std::string &name, const std::string &value);
  };
  static const TOptionDef *FindOption(std::string_view name);

  // Throws FFmpegException when the converter libraries are not bound.
  static void RequireLibraries();

  // Option actions with more than one line (FFmpegOptionParsers.cpp).
  static std::int64_t ParseDuration(const std::string &name, const std::string &value);
  static std::int64_t ParseDate(const std::string &name, const std::string &value);
  // Throws when an output start time lies at or past the end of the inputs' known length.
  void RefuseStartPastTheEnd() const;
  // "-t": a duration that is not negative.
  static std::int64_t ParseRecordingTime(const std::string &name, const std::string &value);
  void OptionBitRate(const std::string &name, const std::string &value, AVMediaType type);
  void OptionMap(const std::string &value);
  void OptionMapMetaData(const std::string &value);
  void OptionItsScale(const std::string &value);
  void OptionMetadata(const std::string &value);
  void OptionStreamId(const std::string &name, const std::string &value);
  void OptionPixelFormat(const std::string &value);
  void OptionSampleFormat(const std::string &value);
  void OptionMatrix(const std::string &value, std::optional<TQuantMatrix> &matrix);
  void OptionVStats();
  void OptionTarget(const std::string &value);
  void OptionNewStream(AVMediaType type);
  void OptionDoNothing(const std::string &name);
  void SetCodecName(AVMediaType type, const std::string &name);
  static std::uint32_t ParseCodecTag(const std::string &text, const char *what, std::uint32_t current);
  enum class TCropSide { Top, Bottom, Left, Right };
  void SetCrop(TCropSide side, int pixels);

  // Generic option contexts (FFmpegGeneric.cpp).
  void CreateGenericOptions();
  void FreeGenericOptions();
  std::int64_t GenericBitRate(AVMediaType type) const;

  // Targets and presets.
  TTargetNorm DecideNorm(const std::string &norm, const std::string &defaultNorm) const;
  void ApplyPresetText(const std::string &presetName, const std::string &text);
  TBitstreamFilterChain &PendingChain(char kindLetter);

  // Table appends with capacity checks, used by the option actions and file steps.
  void AppendStreamMap(const TStreamMap &map);
  void AppendMetaDataMap(const TMetaDataMap &map);
  void AppendDecoderOverride(const AVCodec *codec);
  void AppendEncoderOverride(const AVCodec *codec);

  // Output streams (FFmpegOutputStreams.cpp): each adds one stream to `file`, whose
  // bitstream filter chains live in output slot `slot`; raise FFmpegException.
  void NewVideoStream(TOutputFile &file, int slot);
  void NewAudioStream(TOutputFile &file, int slot);
  void NewSubtitleStream(TOutputFile &file, int slot);
  // Creates the next stream of `file` with its id from the stream id map. Throws
  // "Could not alloc stream" (also when the file holds MAX_STREAMS streams).
  AVStream *CreateOutputStream(TOutputFile &file);
  // Registers a finished stream: filter chain, encoder, override, language.
  void AttachOutputStream(TOutputFile &file, int slot, AVStream *stream, TOutputStream encoder,
                          TBitstreamFilterChain &pendingChain, const AVCodec *override,
                          std::string &language);
  // The muxer for the output name or the pending format; null with LastErrorText set.
  const AVOutputFormat *ChooseMuxer(const std::string &fileName);
  // The open input that is the same file as `fileName`, or -1.
  int InputIndexOfFile(const std::string &fileName) const;
  void AddVideoHook(const std::string &commandLine);

  void CloseFiles(bool librariesLoaded);

  // Set-up steps (FFmpegSetup*.cpp), in the order TranscodeSetup runs them.
  void SetupInputTables(TTranscodeTables &t);
  void SetupOutputTables(TTranscodeTables &t);
  int AutoMapSource(const TTranscodeTables &t, int slot, int stream, AVMediaType type) const;
  void SetupStreamCopy(TTranscodeTables &t, TOutputStreamRecord &ost);
  void SetupEncoding(TTranscodeTables &t, TOutputStreamRecord &ost, int tableIndex);
  void SetupAudioEncoding(TOutputStreamRecord &ost, const AVCodecContext *dec);
  void SetupVideoEncoding(TInputStreamRecord &ist, TOutputStreamRecord &ost, const AVCodecContext *dec);
  // A level asked of an H.264 encoder (presets ask for 3.0) raised to one that holds the
  // stream's size, rate and bit rate, with a note in the log.
  void FitH264EncoderLevel(AVCodecContext *enc) const;
  void SetupPassLog(TOutputStreamRecord &ost, int tableIndex);
  void OpenEncoders(TTranscodeTables &t);
  void OpenDecoders(TTranscodeTables &t);
  void SetupInputTiming(TTranscodeTables &t);
  void CopyMetaDataMaps(const TTranscodeTables &t);
  void CopyChapters();
  void WriteHeaders(const TTranscodeTables &t);
  void LogStreamListing(const TTranscodeTables &t) const;
  // Logs the listing, then `message` at llError, and raises it.
  [[noreturn]] void FailWithListing(const TTranscodeTables &t, const std::string &message) const;
  // ---- video filters, hooks, previews (FFmpegFilters.cpp, FFmpegHooks.cpp,
  // FFmpegPreviews.cpp) and audio output (FFmpegAudioOut.cpp) ----
  // Builds the filter graph of one video output stream into its source's record:
  // 0 or -1.
  int ConfigureFilters(TInputStreamRecord &ist, TOutputStreamRecord &ost);
  // Hands a decoded picture (with its pts in us) to the input stream's filter graph;
  // false when the graph refuses it.
  bool PushFilterFrame(TInputStreamRecord &ist, AVFrame *picture, std::int64_t ptsUs);
  // Takes the next filtered picture into ist.FilteredPicture (replacing the last one);
  // false when the graph has none ready.
  bool PullFilteredFrame(TInputStreamRecord &ist);
  // Deinterlacing, the custom hook and the video hook plug-ins on one decoded picture;
  // the picture afterwards shows their result.
  void PreProcessVideoFrame(TInputStreamRecord &ist, AVFrame *picture);
  void RunCustomHook(AVFrame *picture, const AVCodecContext *decoder, std::int64_t pts);
  // The planning step of the custom hook: true when the picture took the region path.
  bool RunPlannedHook(AVFrame *picture, std::int64_t pts, bool &stopHook);
  bool CallCustomHook(TBitmap &bitmap, std::int64_t pts, bool &stopHook);
  // The previews of a picture just given to the encoder.
  void RunPreviews(const AVFrame *picture, const AVCodecContext *encoder);
  // One block of decoded audio into encoded packets of one output stream.
  void DoAudioOut(TOutputStreamRecord &ost, TInputStreamRecord &ist, const AVFrame *samples);
  // End of input for an audio output stream: flushes the resampler and the FIFO (a short
  // last frame where the encoder takes one, else padded with silence) and drains the
  // encoder. Raises "Audio encoding failed".
  void FlushAudioOut(TOutputStreamRecord &ost);

  // ---- pipeline (FFmpegPipeline*.cpp) ----
  // Every packet of an output stream reaches its file here, through the stream's
  // bitstream filters; the packet's stream index and time base are set by the caller.
  void WriteFrame(TOutputStreamRecord &ost, AVPacket *packet);
  // Moves a packet whose decoding time would go backwards to just after the last one.
  void KeepDecodingTimeRising(TOutputStreamRecord &ost, const AVFormatContext *oc, AVPacket *packet);
  // (pts of the output's sync input stream - start time) in seconds.
  double SyncTime(const TOutputStreamRecord &ost) const;
  TOutputStream &OutputStreamEntry(int slot, int stream);
  void ReleaseTables(bool librariesLoaded);
  // One packet of input stream `istIndex` (null: end of that input: drain) through
  // decoding, the video steps and every output fed by the stream. 0 handled, -1 the
  // decoder refused the packet. Raises FFmpegException for encoding and muxing failures.
  int ProcessPacket(TInputStreamRecord &ist, int istIndex, const AVPacket *packet);
  // Whether the frame just decoded (its times are the stream's Pts and NextPts) lies
  // wholly before the start time or at or after the end of the recording time.
  bool OutsideRecordingWindow(const TInputStreamRecord &ist, AVMediaType type) const;
  // One decoded frame: input clock, video pre-processing, rate emulation, outputs.
  void ProcessDecodedFrame(TInputStreamRecord &ist, int istIndex, AVFrame *frame);
  // Hands one (decoded or filtered) frame to every encoding output fed by the stream.
  void ServeOutputs(TInputStreamRecord &ist, int istIndex, AVFrame *frame, bool filtered);
  void DecodeSubtitle(TInputStreamRecord &ist, int istIndex, const AVPacket *packet, int &result);
  void CopyPacket(TOutputStreamRecord &ost, const TInputStreamRecord &ist, const AVPacket *packet,
                  std::int64_t packetPtsUs);
  void DrainEncoder(TOutputStreamRecord &ost);
  // Whether the stream's encoder runs on a thread of its own (TVideoEncodeStage).
  bool EncodesApart(const TOutputStreamRecord &ost) const;
  // Returns the size of the last packet the encoder gave out during the call (0 when
  // the encoder runs apart: its packets come later). `takeAspect`: the encoder takes the
  // picture's sample aspect ratio.
  int EncodeVideoFrame(TOutputStreamRecord &ost, TInputStreamRecord &ist, AVFrame *picture, bool takeAspect);
  // Frames to emit for a picture at the output's sync time (drop 0, duplicate > 1).
  int VideoFramesToEmit(TOutputStreamRecord &ost);
  // The picture the encoder wants: cropped by plane offsets, then scaled; null when the
  // call must end (crop failure logged).
  AVFrame *PrepareVideoPicture(TOutputStreamRecord &ost, const TInputStreamRecord &ist, AVFrame *picture);
  void RebuildScaler(TOutputStreamRecord &ost, const TInputStreamRecord &ist, const AVFrame *picture);
  // An encoded video packet: timestamps to the stream, counters, pass-1 statistics,
  // then WriteFrame.
  void WriteVideoPacket(TOutputStreamRecord &ost, AVPacket *packet);
  void EncodeSubtitle(TOutputStreamRecord &ost, TInputStreamRecord &ist, AVSubtitle *subtitle,
                      std::int64_t pts);
  void WriteVideoStats(TOutputStreamRecord &ost, int frameSize);
  // Set-up, main loop and finish of the job; raises FFmpegException on failure.
  void Transcode();
  void TranscodeLoop();
  // Returns true when the loop ends with this input's end.
  bool EndOfInput(int file, int &current);
  void FinishTranscode();
  void InitializeBitstreamFilters();
  TBitstreamFilterChain &ChainOf(const TOutputStreamRecord &ost);
  bool MaxFramesReached(const TOutputStreamRecord &ost) const;
  std::int64_t FirstOutputPosition() const;
  void ReportProgress(bool isLast, int inputIndex);
  // Holds the calling (job) thread while paused; returns at once on a stop request.
  void WaitWhilePaused();
  // Holds the job thread for up to `us` microseconds (rate emulation); a stop request
  // ends the wait at once.
  void WaitUnlessStopped(std::int64_t us);
  // The interrupt callback of every input: the library gives up a read (or an open)
  // once a stop has been requested. Runs on whichever thread reads the input.
  static int InputInterrupt(void *engine);
  // Records a failure of a job stage: logged at llQuiet, kept as the error message.
  void RecordFailure(const std::string &message);

  // ---- settings ----
  TPendingSettings pending_;
  TJobSettings job_;
  std::unique_ptr<TOptionContexts> optionContexts_;

  // ---- tables ----
  std::array<TInputSlot, MAX_FILES> inputFiles_;
  int inputCount_ = 0;
  std::array<std::array<double, MAX_STREAMS>, MAX_FILES> inputTsScale_{};
  std::array<const AVCodec *, MAX_CODEC_OVERRIDES> decoderOverrides_{};
  int decoderOverrideCount_ = 0;
  std::array<std::shared_ptr<TOutputFile>, MAX_FILES> outputFiles_;
  int outputCount_ = 0;
  std::array<const AVCodec *, MAX_CODEC_OVERRIDES> encoderOverrides_{};
  int encoderOverrideCount_ = 0;
  std::array<TStreamMap, MAX_STREAM_MAPS> streamMaps_{};
  int streamMapCount_ = 0;
  std::array<TMetaDataMap, MAX_META_DATA_MAPS> metaDataMaps_{};
  int metaDataMapCount_ = 0;
  std::array<int, MAX_STREAMS> streamIdMap_{};
  std::array<std::array<TBitstreamFilterChain, MAX_STREAMS>, MAX_FILES> outputBitstreamFilters_;
  TBitstreamFilterChain pendingVideoFilters_, pendingAudioFilters_, pendingSubtitleFilters_;

  // ---- run state ----
  // Written by the worker thread of a running job and read by the caller.
  std::atomic<bool> busy_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> completedNormally_{false};
  std::atomic<bool> terminated_{false};
  bool errorOccurred_ = false;
  std::string errorMessage_;
  std::string lastError_;
  bool joinMode_ = false;
  bool usingVideoFilters_ = false;
  int previewFlags_ = 0;
  std::int64_t progressTotalUs_ = -1; // -1 = unknown
  std::int64_t progressIntervalUs_ = 500000;
  std::int64_t previewIntervalUs_ = 100000;

  // ---- host callbacks ----
  TProgressEvent onProgress_;
  TTerminateEvent onTerminate_;
  TCustomHookEvent onCustomHook_;
  TCustomHookPlanEvent onCustomHookPlan_;
  TPreviewBitmapEvent onPreviewBitmap_;

  // ---- byte counters of the running job (final report) ----
  std::int64_t videoBytes_ = 0;
  std::int64_t audioBytes_ = 0;

  // ---- pipeline and loop state (FFmpegPipeline*.cpp, FFmpegRun.cpp) ----
  // The running job's thread. ownedThread_ keeps it alive until the engine goes;
  // workerThread_ is "the worker thread" of the run state, cleared by NotifyTermination.
  std::unique_ptr<TConvertThread> ownedThread_;
  std::atomic<TConvertThread *> workerThread_{nullptr};
  // Protects the claim of the termination notice: the busy_/terminated_ transitions of
  // Start, Terminate and NotifyTermination, and terminateThread_. Never held while a
  // callback runs or a thread is joined.
  std::mutex noticeMutex_;
  std::unique_ptr<TDoTerminateThread> terminateThread_;
  TEvent runFinished_{true};
  TEvent terminateFinished_{true};
  mutable std::mutex pauseMutex_; // protects paused_; pauseChanged_ also wakes on a stop
  std::condition_variable pauseChanged_;
  bool paused_ = false;
  bool setupCompleted_ = false;
  bool outputRefused_ = false; // a muxer refused a packet, or an output could not be written
  // Decoding and encoding scratch objects, reused for every frame of the job.
  FramePtr decodedFrame_, cropFrame_, encodeFrame_;
  PacketPtr encodedPacket_, copyPacket_;
  // End of an input drains the encoders it feeds, except between joined inputs.
  bool drainEncoders_ = true;
  std::int64_t timerStartUs_ = 0;
  std::int64_t lastReportUs_ = 0;
  int duplicatedFrames_ = 0;
  int droppedFrames_ = 0;
  bool frameCountsChanged_ = false;
  std::int64_t extraBytes_ = 0;
  // Subtitle encoding buffer (1 MiB), per engine so that two jobs never share it.
  std::vector<std::uint8_t> subtitleBuffer_;
  LogFilePtr vstatsFile_;

  // ---- filters, hooks, previews and audio output state ----
  // Tests drive the filter, hook, preview and audio steps on hand-built records.
  friend class TEngineStepsAccess;
  // Releases what the steps below keep between frames (scratch frames, holders, the
  // deinterlacer, the previewer, the plug-in chain); abandons library objects when the
  // libraries are gone. Called by FreeAll.
  void ReleaseFrameWorkState(bool librariesLoaded);
  // Audio output helpers (FFmpegAudioOut.cpp).
  void EnsureAudioConverter(TOutputStreamRecord &ost, const AVCodecContext *dec, const AVFrame *samples);
  void ConvertAudioIntoFifo(TOutputStreamRecord &ost, const std::uint8_t *const *data, int samples);
  void EncodeAudioFrame(TOutputStreamRecord &ost, const AVFrame *frame);
  void ApplyVolume(AVFrame *block, int samples) const;
  // Frees the previewer (under the preview lock); the flags stay.
  void DropPreviewer();
  // Deinterlaces `picture` in place; false when the picture cannot be deinterlaced.
  bool DeinterlacePicture(AVFrame *picture);

  // Where encoded audio packets go: WriteFrame, unless a test collects them.
  std::function<void(TOutputStreamRecord &, AVPacket *)> audioPacketSink_;
  // Scratch of the audio output (job's thread only): one converted block in the
  // encoder's format, layout and rate, grown and kept for the job.
  FramePtr audioBlock_;
  int audioBlockCapacity_ = 0; // samples per channel audioBlock_ holds
  PacketPtr audioPacket_;
  // Pictures decoded so far in the job (frame numbers of the hook and the previews).
  int decodedFrameCount_ = 0;
  // The deinterlacing step and the picture format it was built for.
  FilterGraphPtr deinterlaceGraph_;
  AVFilterContext *deinterlaceSource_ = nullptr;
  AVFilterContext *deinterlaceSink_ = nullptr;
  int deinterlaceWidth_ = 0, deinterlaceHeight_ = 0, deinterlaceFormat_ = -1;
  FramePtr deinterlaced_;
  // Bitmaps of the custom hook and of the previews (job's thread only).
  TRGBHolder customHookHolder_;
  THookPlan customHookPlan_; // the current picture's; kept between pictures for its capacity
  TRGBHolder previewHolder_;
  // The floating previewer, made on first use. Guarded by the process-wide preview lock
  // together with previewFlags_ and lastPreviewUs_; shared so that a frame being shown
  // outside the lock keeps its previewer alive when the flags drop it meanwhile.
  std::shared_ptr<IFramePreviewer> previewer_;
  std::int64_t lastPreviewUs_ = 0; // monotonic clock, us
  // The "vhook" plug-ins, called in order on every decoded picture.
  TVideoHookChain videoHooks_;

  // ---- job tables ----
  std::unique_ptr<TTranscodeTables> tables_;
  // Opened codec contexts, by their owners in the input slots and output files; they
  // outlive the tables and are freed by TranscodeTearDown (or when the files close).
  std::vector<CodecContextPtr *> openEncoders_;
  std::vector<CodecContextPtr *> openDecoders_;
};

} // namespace tovi
