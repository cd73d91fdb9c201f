// The working tables of one conversion job: one state per input file, one record per
// input stream and one per output stream. TCustomFFmpeg::TranscodeSetup builds them from
// the opened input and output files; the decode/encode pipeline and the transcode loop
// use them; TCustomFFmpeg::TranscodeTearDown releases them at the end of the job.
//
// Every library object a record holds has an owner here, so dropping the tables (also
// when set-up fails half-way) releases everything. Codec contexts are not held: they
// belong to the input slots and output files, which outlive the tables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "media/EntryPoints.h"
#include "engine/VideoEncodeStage.h"
#include "media/Owners.h"

namespace tovi {

struct LogFileClose {
  void operator()(std::FILE *file) const noexcept { ff::fclose(file); }
};
using LogFilePtr = std::unique_ptr<std::FILE, LogFileClose>;

struct AudioFifoFree {
  void operator()(AVAudioFifo *fifo) const noexcept { ff::av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;

// The sample-format pair value that means "no converter yet".
constexpr int NO_SAMPLE_FORMAT_PAIR = -6;

struct TInputFileState {
  bool EndOfFile = false;
  int FirstStream = 0; // index of its first record in the input stream table
  int StreamCount = 0;
};

struct TInputStreamRecord {
  int FileIndex = 0;
  int StreamIndex = 0;
  AVStream *Stream = nullptr;        // the demuxer's; owned by the input file
  AVCodecContext *Decoder = nullptr; // the slot's decoder context; opened when DecodingNeeded
  bool Discard = true;
  bool DecodingNeeded = false;
  std::int64_t StartUs = 0; // wall clock at set-up, with rate emulation only
  std::int64_t NextPts = 0;
  std::int64_t Pts = 0;
  bool IsStart = false;
  bool MultiPacketWarningShown = false;
  bool PastRecordingTime = false;
  bool Flushed = false;
  float Quality = 0; // the last decoded picture's quality ("same quality")
  // The video filter graph, when the job uses one: source ("src") and sink ("out")
  // belong to the graph; FilteredPicture is the picture last taken from the sink.
  FilterGraphPtr FilterGraph;
  AVFilterContext *InputVideoFilter = nullptr;
  AVFilterContext *OutputVideoFilter = nullptr;
  FramePtr FilteredPicture;
};

struct TOutputStreamRecord {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SourceIndex = 0;               // into the input stream table
  AVStream *Stream = nullptr;        // the muxer's; owned by the output file
  AVCodecContext *Encoder = nullptr; // owned by the output file's stream entry
  bool EncodingNeeded = false;
  int FrameNumber = 0;
  int SyncIndex = 0; // input stream record whose clock the output follows
  std::int64_t SyncOutputPts = 0;
  std::int64_t LastMuxDts = AV_NOPTS_VALUE; // of the last packet handed to the muxer, stream time base
  int MovedPackets = 0;                     // packets whose decoding time went backwards

  // Video.
  bool VideoResample = false;
  FramePtr TemporaryPicture; // scaler output, the encoder's size and format
  SwsContextPtr Scaler;
  int ResampleHeight = 0, ResampleWidth = 0, ResamplePixelFormat = -1;
  int InitialHeight = 0, InitialWidth = 0;
  bool VideoCrop = false;
  int TopBand = 0, BottomBand = 0, LeftBand = 0, RightBand = 0;
  int InitialTopBand = 0, InitialBottomBand = 0, InitialLeftBand = 0, InitialRightBand = 0;

  // Audio. One resampler does rate, layout and sample-format conversion.
  bool AudioResample = false;
  SwrContextPtr Resampler;
  int SampleFormatPair = NO_SAMPLE_FORMAT_PAIR;
  // The input the resampler was made for; a block that differs gets a new one.
  int ResamplerInFormat = -1; // AVSampleFormat; -1 = not known
  int ResamplerInRate = 0;
  int ResamplerInChannels = 0;
  AudioFifoPtr Fifo; // samples waiting for a full encoder frame

  // Two-pass.
  std::string PassLogFileName;
  LogFilePtr PassLogFile; // pass 1: statistics written here
  AVBufferPtr StatsIn;    // pass 2: the encoder's statistics input (it points in here)

  int SavedCodecId = 0; // join mode
  bool ActiveForReports = false;

  // Muxing progress: the end (dts + duration) of the last packet written, in the
  // stream's time base; chooses the next input and gives the time reached.
  std::int64_t CurrentPts = 0;
  // Stream copy: the last decoding time handed to the muxer, in the stream's time base.
  std::int64_t LastCopiedDts = AV_NOPTS_VALUE;
  // Stream copy into a muxer that counts chunks: the first packet's decoding time in the
  // input's and in the output's time base, the origin every later time is counted from.
  bool CopyCountsChunks = false;
  std::int64_t CopyOriginIn = AV_NOPTS_VALUE, CopyOriginOut = 0;
  // The encoder's report on the last coded video frame (quality in lambda units,
  // picture type, per-plane squared error when PSNR is on).
  int CodedQuality = 0;
  int CodedPictType = 0;
  std::uint64_t CodedError[4] = {};
  // The encoder's own thread, when the job runs its video encoder apart from decoding
  // (made with the first picture); ended before the encoder is freed.
  std::unique_ptr<TVideoEncodeStage> EncodeStage;
};

struct TTranscodeTables {
  std::vector<TInputFileState> InputFiles;
  std::vector<TInputStreamRecord> InputStreams;
  std::vector<TOutputStreamRecord> OutputStreams;
  int JoinGroupSize = 0; // streams of the first output slot
  std::vector<std::uint8_t> WorkBuffer;
  std::int64_t ExtraSizeBytes = 0; // encoders' extradata, for the final report
};

} // namespace tovi
