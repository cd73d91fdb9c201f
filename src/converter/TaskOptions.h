// Task option records: how the application describes one conversion task to the
// converter component. One TInputOptions per input file, one TOutputOptions per output
// file (with the file's metadata in a nested TStreamInfo).
//
// Every field has an "unset" value (-1, empty text, false or the no-time sentinel)
// that leaves the engine's own default in force; InitInputOptions / InitOutputOptions
// put a record back to those values, and the application calls them before filling a
// record. The component turns every set field into the engine option of the same
// meaning (TaskOptionsApply.h), so a record and the equivalent engine option list have
// the same effect.
//
// Texts are UTF-8. Times are microseconds.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace tovi {

// The media libraries' value for a missing time stamp: "no time" in the records.
constexpr std::int64_t RECORD_NO_TIME = std::numeric_limits<std::int64_t>::min();

struct TInputOptions {
  std::string FileName;                    // filled in by the component when empty
  std::string FileFormat;                  // forced container format ("f")
  std::int64_t StartTime = RECORD_NO_TIME; // start offset into the input ("ss")
  std::int32_t ProgramID = -1;             // program to keep ("programid"); used when >= 0
  std::string ExtOptions;                  // further options as name=value lines
};

// The metadata of one output file.
struct TStreamInfo {
  // Date-time in days since 1899-12-30, local time. Exactly 0: now; > 0: this moment;
  // < 0: no time stamp.
  double Timestamp = -1.0;
  std::int32_t Year = -1;  // > 0: "year"
  std::int32_t Track = -1; // > 0: "track"
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TOutputOptions {
  std::string FileName; // filled in by the component when empty
  std::string FileFormat;
  std::int32_t PacketSize = -1;
  std::int32_t MuxRate = -1;
  float MuxDelay = -1.0f;   // seconds
  float MuxPreload = -1.0f; // seconds
  std::string AudioCodec;
  std::string AudioPreset;
  bool DisableAudio = false;
  std::int32_t AudioVolume = -1; // 256 = unchanged; 0 = silence
  std::int32_t AudioChannels = -1;
  std::int32_t AudioSampleRate = -1; // Hz
  std::int32_t AudioBitrate = -1;    // bit/s
  std::int32_t AudioBitrateTolerance = -1;
  std::string AudioLanguage;  // always applied
  std::int32_t AudioSync = 0; // always applied
  std::string AudioTag;       // exactly 4 characters when set
  std::string VideoCodec;
  std::string VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string AspectRatio;
  std::int32_t CropTop = -1; // pixels
  std::int32_t CropBottom = -1;
  std::int32_t CropLeft = -1;
  std::int32_t CropRight = -1;
  std::int32_t GOPSize = -1;      // frames
  std::int32_t VideoBitrate = -1; // bit/s
  std::int32_t VideoMaxRate = -1; // bit/s
  std::int32_t VideoMinRate = -1; // bit/s
  std::int32_t VideoBitrateTolerance = -1;
  std::int32_t VideoBufSize = -1;
  std::int32_t VideoSync = -1; // always applied
  std::string VideoTag;        // exactly 4 characters when set
  std::string VideoFilters;
  std::string VideoLanguage; // always applied
  std::string SubtitleCodec;
  std::string SubtitlePreset;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage; // always applied
  bool InputSync = false;       // always applied
  bool CopyTimestamps = false;
  std::int64_t StartTime = RECORD_NO_TIME; // microseconds
  std::int64_t Duration = RECORD_NO_TIME;  // microseconds
  TStreamInfo Metadata;
  std::int32_t TargetType = 0;         // 1 "vcd", 2 "svcd", 3 "dvd"; else none
  std::int32_t TargetNorm = 0;         // 0 "auto", 1 "pal", 2 "ntsc"; else "auto"
  std::int32_t TargetFallbackNorm = 1; // 1 "pal", else "ntsc"
  bool CustomHook = false;             // every decoded video frame goes to the component's hook event
  bool Join = false;                   // several inputs are joined into this one output
  std::string ExtOptions;              // further options as name=value lines
};

// Every field to its unset value.
void InitInputOptions(TInputOptions &options);
// Every field, the metadata included, to its unset value.
void InitOutputOptions(TOutputOptions &options);

} // namespace tovi
