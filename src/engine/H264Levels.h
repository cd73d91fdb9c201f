// The H.264 level table: which level a stream of a given frame size, rate, bit rate and
// buffer needs. A level that is too small does not stop the encoder, but a player that
// trusts it may refuse or stutter on the stream, so a level asked for is raised to fit.
#pragma once

#include <cstdint>

namespace tovi {

struct TH264Stream {
  int Width = 0;               // pixels
  int Height = 0;              // pixels
  double FramesPerSecond = 0;  // 0 = unknown, not checked
  std::int64_t BitRate = 0;    // bit/s the decoder must take in (the peak rate); 0 = not checked
  std::int64_t BufferBits = 0; // decoder buffer the stream assumes; 0 = not checked
};

// The smallest level at or above `level` (level_idc: 30 is 3.0, 31 is 3.1) that holds
// the stream, or 0 when none does. Bit rate and buffer are held to the Baseline and
// Main limits, which High streams also meet.
int FitH264Level(int level, const TH264Stream &stream);

} // namespace tovi
