#include "engine/H264Levels.h"

#include <cmath>

namespace tovi {
namespace {

struct TLevelLimits {
  int Level; // level_idc
  std::int64_t MacroblocksPerSecond;
  std::int64_t FrameMacroblocks;
  std::int64_t BitRateKbit; // Baseline and Main, video layer
  std::int64_t BufferKbit;
};

constexpr TLevelLimits kLevels[] = {
    {10, 1485, 99, 64, 175},
    {11, 3000, 396, 192, 500},
    {12, 6000, 396, 384, 1000},
    {13, 11880, 396, 768, 2000},
    {20, 11880, 396, 2000, 2000},
    {21, 19800, 792, 4000, 4000},
    {22, 20250, 1620, 4000, 4000},
    {30, 40500, 1620, 10000, 10000},
    {31, 108000, 3600, 14000, 14000},
    {32, 216000, 5120, 20000, 20000},
    {40, 245760, 8192, 20000, 25000},
    {41, 245760, 8192, 50000, 62500},
    {42, 522240, 8704, 50000, 62500},
    {50, 589824, 22080, 135000, 135000},
    {51, 983040, 36864, 240000, 240000},
    {52, 2073600, 36864, 240000, 240000},
    {60, 4177920, 139264, 240000, 240000},
    {61, 8355840, 139264, 480000, 480000},
    {62, 16711680, 139264, 800000, 800000},
};

bool Holds(const TLevelLimits &l, const TH264Stream &s) {
  const std::int64_t across = (s.Width + 15) / 16, down = (s.Height + 15) / 16;
  const std::int64_t frame = across * down;
  // Neither side may exceed sqrt(8 * MaxFS) macroblocks.
  const double longestSide = std::sqrt(8.0 * static_cast<double>(l.FrameMacroblocks));
  if (frame > l.FrameMacroblocks || across > longestSide || down > longestSide) return false;
  if (s.FramesPerSecond > 0 &&
      frame * s.FramesPerSecond > static_cast<double>(l.MacroblocksPerSecond) * 1.0001)
    return false;
  if (s.BitRate > l.BitRateKbit * 1000) return false;
  return s.BufferBits <= l.BufferKbit * 1000;
}

} // namespace

int FitH264Level(int level, const TH264Stream &stream) {
  for (const TLevelLimits &l : kLevels)
    if (l.Level >= level && Holds(l, stream)) return l.Level;
  return 0;
}

} // namespace tovi
