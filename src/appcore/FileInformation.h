// The texts of the file information window for one media file, read through the
// media probe.
#pragma once

#include <cstdint>
#include <string>

namespace tovi {

class TCustomAVProbe;

struct TFileInformation {
  std::string Name;     // the file's name without its folder, shortened (ShortFileName)
  std::string Duration; // "12.345 Second"
  std::string Format;   // container short name
  // Of the first video stream; all empty when there is none.
  std::string Resolution;  // "1280x720"
  std::string BitRate;     // bit/s; "unknown" when the container does not say
  std::string FrameRate;   // frames per second as a decimal: "29.97", "25"
  std::string TotalFrames; // "60", or "60 (estimated)" from duration x rate
  // Of the first audio stream; all empty when there is none.
  std::string AudioFormat;  // codec short name: "aac", "mp3"
  std::string AudioBitRate; // bit/s; "unknown" when not known
  std::string SampleRate;   // Hz
  std::string Channels;
};

// Reads everything from `probe`, which has the file open. A file with only audio still
// gets its name, duration, format and audio fields.
TFileInformation DescribeFile(TCustomAVProbe &probe);

// A name shorter than 46 characters whole; a longer one as its first 40 characters,
// "..", its extension (with the dot) and two blanks. Counted in characters, not bytes,
// so a name is never cut inside a character.
std::string ShortFileName(const std::string &name);

// Microseconds as "seconds.milliseconds Second" ("2.000 Second"); a missing duration
// (negative) as "0.000 Second".
std::string DurationText(std::int64_t microseconds);

// num/den frames per second as a decimal with up to three places, without trailing
// zeros: 30000/1001 gives "29.97", 24000/1001 "23.976", 25/1 "25". Empty when unknown.
std::string FrameRateText(int num, int den);

} // namespace tovi
