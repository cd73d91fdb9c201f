// The records the media probe fills (TCustomAVProbe::Get...StreamInfo). A default
// record is the "not filled" state: every number -1 (AspectRatio -1.0), texts empty.
#pragma once

#include <cstdint>
#include <string>

namespace tovi {

// File level.
struct TFileStreamInfo {
  std::int64_t StartTime = -1; // microseconds; -1 when the container has none
  std::int64_t Duration = -1;  // microseconds; -1 when the container has none
  std::int32_t BitRate = -1;   // bit/s
  std::int64_t Timestamp = -1; // seconds since 1970-01-01 UTC; 0 when the file has none
  std::int32_t Year = -1;      // 0 when the file has none
  std::int32_t Track = -1;     // 0 when the file has none
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TAudioStreamInfo {
  std::string Language;
  std::string CodecName;             // CodecDescription of the decoder side
  std::int64_t StreamStartTime = -1; // stream time-base units; AV_NOPTS_VALUE when none
  std::int64_t StartTime = -1;       // microseconds; -1 when none
  std::int64_t StreamDuration = -1;  // stream time-base units; AV_NOPTS_VALUE when none
  std::int64_t Duration = -1;        // microseconds; -1 when none
  std::int32_t BitRate = -1;         // bit/s
  std::int32_t Channels = -1;
  std::int32_t SampleRate = -1;   // Hz
  std::int32_t SampleFormat = -1; // AVSampleFormat
};

struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  std::int64_t StreamStartTime = -1;
  std::int64_t StartTime = -1;
  std::int64_t StreamDuration = -1;
  std::int64_t Duration = -1;
  std::int32_t BitRate = -1;
  std::int32_t Height = -1;       // pixels
  std::int32_t Width = -1;        // pixels
  float AspectRatio = -1.0f;      // display aspect ratio (width / height as shown)
  std::int32_t PixelFormat = -1;  // AVPixelFormat
  std::int32_t FrameRateNum = -1; // the stream's real base frame rate
  std::int32_t FrameRateDen = -1;
  std::int64_t FrameCount = -1; // pictures as the container records them; -1 when it records none
};

} // namespace tovi
