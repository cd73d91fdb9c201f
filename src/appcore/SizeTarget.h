// An output size target: parsing "25M", the bit rate that fills it, and the pass plan.
//
// A target is reached in two passes (the first writes the encoder's statistics, the
// second encodes at the computed rate); an output outside [90 %, 100 %] of the target
// is encoded once more at a rate corrected by the error measured. Sizes count in binary
// units (K = 1,024 and M = 1,048,576 bytes), as chat and mail limits do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tovi {

// "25M", "8.5M", "700K", "1G" or plain bytes ("500000"); a "B" after the unit, blanks
// and the case of the letters are allowed ("25 MB", "700kb"). Empty: nullopt, no error.
// Anything else (or a size under 1 KB): nullopt with the reason in *error.
std::optional<std::int64_t> ParseSizeTarget(const std::string &text, std::string *error);

// "24.6 MB", "713 KB", "900 bytes" (binary units, one decimal under 100 of the unit).
std::string SizeText(std::int64_t bytes);

// The part of the target the first encode aims at: x264's two-pass rate control lands
// within a few per cent, and the output must not pass the target.
inline constexpr double kSizeAim = 0.95;
// The lower end of the window a result must fall in (the upper end is the target).
inline constexpr double kSizeWindowLow = 0.90;

// What an MP4 adds to the packets: a fixed part (ftyp, moov headers, the codecs'
// headers, the encoder's tag) and the per-packet sample tables (size, time,
// composition offset and chunk entries). Measured on H.264 + AAC outputs of the
// converter: about 12 bytes per video frame and 6 per audio frame over 2.5 KB.
std::int64_t Mp4OverheadBytes(double seconds, double videoFramesPerSecond, double audioFramesPerSecond);

struct TSizePlan {
  std::int64_t TargetBytes = 0;
  double Seconds = 0;             // duration of the output (after trim)
  std::int64_t AudioBitRate = 0;  // bit/s, 0 without audio
  std::int64_t OverheadBytes = 0; // container
  std::int64_t VideoBitRate = 0;  // bit/s for the video encoder
  std::int64_t NonVideoBytes() const {
    return AudioBitRate * static_cast<std::int64_t>(Seconds * 1000) / 8000 + OverheadBytes;
  }
};

// The plan for `targetBytes` over `seconds`: the video bit rate that leaves room for
// the audio and the container. nullopt with the reason when the target cannot hold the
// audio and a usable picture (under 20 kbit/s of video) or the duration is unknown.
std::optional<TSizePlan> PlanSizeTarget(std::int64_t targetBytes, double seconds, std::int64_t audioBitRate,
                                        double videoFramesPerSecond, std::string *error);

// A result inside [90 %, 100 %] of the target.
inline bool SizeInWindow(std::int64_t targetBytes, std::int64_t actualBytes) {
  return actualBytes <= targetBytes && static_cast<double>(actualBytes) >= kSizeWindowLow * targetBytes;
}

// The video bit rate of the corrective encode: the rate that gave `actualBytes` scaled
// by how far the video part was from the aim (the audio and the container taken as
// planned), held within a quarter and four times the rate used.
std::int64_t CorrectedVideoBitRate(const TSizePlan &plan, std::int64_t usedVideoBitRate,
                                   std::int64_t actualBytes);

// The outcome as the row and the closing note show it: "24.6 MB of 25.0 MB, 2 passes";
// over the target "OVER TARGET: 25.3 MB of 25.0 MB after 3 passes".
std::string SizeOutcomeText(std::int64_t targetBytes, std::int64_t actualBytes, int passes);

// A folder for the passes' statistics and trial outputs, removed with everything in it
// when the owner goes. It lies beside the output so that a corrected output can be
// renamed over the first one. Path() is empty when it could not be made.
class TPassFolder {
public:
  explicit TPassFolder(const std::string &besideFile);
  ~TPassFolder();
  TPassFolder(const TPassFolder &) = delete;
  TPassFolder &operator=(const TPassFolder &) = delete;
  const std::string &Path() const { return path_; }

private:
  std::string path_;
};

// The option lines (name=value, CR LF between them) that make an encode pass `pass`
// (1 or 2) with its statistics in `folder`: the engine's log for the encoders that hand
// the statistics over, libx264's own file (its "stats" option), which it writes itself.
std::string PassOptionLines(const std::string &folder, int pass);

// The size of a file in bytes; -1 when it cannot be read.
std::int64_t FileBytes(const std::string &name);

// Of the second pass's output (secondBytes) and the corrective encode's (thirdBytes),
// whether the corrective one is to be kept: a result within the target before one above
// it; within, the larger; above, the smaller. A missing file (-1) is never kept.
bool KeepCorrectedOutput(std::int64_t targetBytes, std::int64_t secondBytes, std::int64_t thirdBytes);

} // namespace tovi
