// The media probe: opens a media file, or attaches to a container an engine or the
// player has already opened, and reports its container, duration, bit rate, metadata
// and streams as records, as single values and as a multi-line description text.
//
// Failures of the queries come back as false (or an empty text) with the reason in
// LastErrorText, which also goes to the log router with the probe as sender. Only a
// missing media library raises (std::runtime_error).
//
// Threads: a probe is used by one thread at a time, except Stop, which any thread may
// call while LoadFile runs. An attached context must not be used by another thread
// while the probe reads it.
//
// Hazard: an opened file is closed through the bound libraries, so close the probe
// (or let it go) before the libraries are unloaded.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "converter/FFBaseComponent.h"
#include "converter/ProbeRecords.h"
#include "media/FFmpegLogger.h"
#include "media/FormatIO.h"

namespace tovi {

class TCustomAVProbe : public TFFBaseComponent {
public:
  // Closes an owned file; an attached context is left to its owner.
  ~TCustomAVProbe() override;
  TCustomAVProbe(const TCustomAVProbe &) = delete;
  TCustomAVProbe &operator=(const TCustomAVProbe &) = delete;

  // Opens `fileName` (UTF-8; any name, see FormatIO.h), with the demuxer named by
  // `formatName` when it is not empty. Any file open before is closed first. False,
  // with the probe left without a file, when the format name is unknown ("Unknown input
  // format: %s"), the file cannot be opened (ErrorText of the name) or its streams
  // cannot be read ("%s: could not find codec parameters").
  // Throws std::runtime_error when avcodec, avformat, avutil or swscale is not loaded.
  // A LoadFile that Stop ends fails with "<name>: opening stopped".
  bool LoadFile(const std::string &fileName, const std::string &formatName = {});
  // Ends the LoadFile running on another thread, also one that waits for data that
  // never comes (a pipe no program writes to, a silent device). Any thread. Meant for
  // the LoadFile in progress: the next LoadFile starts afresh.
  void Stop() { stopRequested_ = true; }
  // Reads an already opened container (after avformat_find_stream_info) without owning
  // it: CloseFile and destruction leave it open. Null just closes. Throws like LoadFile.
  virtual void AttachContext(AVFormatContext *context);
  // Closes an owned file or forgets an attached context; every number returns to -1.
  virtual void CloseFile();
  // Re-reads the counts and the file size from the context (e.g. after streams were
  // added to an attached context).
  virtual void RefreshStreamInfo();

  // Each resets the record first and returns true when it was filled. A negative
  // stream index means the first stream of that type.
  bool GetFileStreamInfo(TFileStreamInfo &info);
  bool GetAudioStreamInfo(int streamIndex, TAudioStreamInfo &info);
  bool GetVideoStreamInfo(int streamIndex, TVideoStreamInfo &info);
  bool IsAudioStream(int index);
  bool IsVideoStream(int index);

  // The name given to LoadFile; for an attached context the user's name behind its url.
  // Empty without a file.
  std::string FileName() const;
  // The demuxer's short name; empty without a file.
  std::string FormatName() const;
  // The description, lines joined with CR LF; empty (and "file not loaded.") without
  // a file.
  std::string FileInfoText();

  AVFormatContext *FormatContext() const { return context_; }
  bool OwnsContext() const { return static_cast<bool>(input_); }
  const std::string &LastErrorText() const { return lastErrorText_; }
  const std::string &ForcedFormat() const { return forcedFormat_; }

  // Each -1 while no file is open.
  std::int64_t FileSize() const { return fileSize_; }
  std::int32_t StreamCount() const { return streamCount_; }
  std::int32_t ProgramCount() const { return programCount_; }
  std::int32_t AudioStreamCount() const { return audioStreamCount_; }
  std::int32_t VideoStreamCount() const { return videoStreamCount_; }
  std::int32_t SubtitleStreamCount() const { return subtitleStreamCount_; }
  std::int32_t FirstAudioStreamIndex() const { return firstAudioStreamIndex_; }
  std::int32_t FirstVideoStreamIndex() const { return firstVideoStreamIndex_; }
  std::int32_t FirstSubtitleStreamIndex() const { return firstSubtitleStreamIndex_; }

protected:
  TCustomAVProbe() = default;

private:
  void CheckLibraries();
  void Report(TLogLevel level, std::string text);
  // The stream for Get...StreamInfo after the checks and reports those make.
  const AVStream *StreamOfType(int index, AVMediaType type);
  bool IsStreamOfType(int index, AVMediaType type);
  void ResetCounts();
  // The interrupt callback of the file LoadFile opens; runs on LoadFile's thread.
  static int LoadInterrupt(void *probe);

  TInputFile input_;                   // the file LoadFile opened; empty when attached
  AVFormatContext *context_ = nullptr; // input_'s context, an attached one, or null
  std::string fileName_;               // the name given to LoadFile
  std::string lastErrorText_;
  std::string forcedFormat_;
  std::atomic<bool> stopRequested_{false}; // set by Stop, cleared when LoadFile starts

  std::int64_t fileSize_ = -1;
  std::int32_t streamCount_ = -1;
  std::int32_t programCount_ = -1;
  std::int32_t audioStreamCount_ = -1;
  std::int32_t videoStreamCount_ = -1;
  std::int32_t subtitleStreamCount_ = -1;
  std::int32_t firstAudioStreamIndex_ = -1;
  std::int32_t firstVideoStreamIndex_ = -1;
  std::int32_t firstSubtitleStreamIndex_ = -1;
};

// The component the application and the converter create.
class TAVProbe final : public TCustomAVProbe {
public:
  TAVProbe() = default;
};

} // namespace tovi
