// Brightness, contrast, saturation and exposure of a 24-bit frame (bytes blue, green,
// red), computed through lookup tables so that a frame costs one table walk per pass.
//
// Threads: pure functions; the caller holds the bitmap's canvas lock.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tovi {

class TBitmap;
struct THookPlanes;

// The tables of the brightness/contrast/saturation pass.
struct TColorTables {
  std::array<std::uint8_t, 256> Level{}; // brightness then contrast
  std::array<int, 256> Saturation{};     // channel scaled by the saturation
  std::array<int, 766> GreyOffset{};     // per channel sum B+G+R
};

// brightness 0..512 (255 neutral), contrast -100..100 (0 neutral; 100 acts as 99),
// saturation 0..512 (255 neutral).
TColorTables MakeColorTables(int brightness, int contrast, int saturation);
// exposure -255..512, 0 neutral.
std::array<std::uint8_t, 256> MakeExposureTable(int exposure);

void ApplyColorTables(TBitmap &bitmap, const TColorTables &tables);
void ApplyExposureTable(TBitmap &bitmap, const std::array<std::uint8_t, 256> &table);

// The adjustments of a file's record in their order: brightness/contrast/saturation
// when any of the three differs from neutral, then exposure when it is not 0. Neutral
// values leave every pixel untouched.
void ApplyPictureEffects(TBitmap &bitmap, int brightness, int contrast, int saturation, int exposure);
// The same adjustments straight on an 8-bit planar YUV picture, in one pass that gives
// what the 24-bit pass gives between the hook's own conversions (the region path's
// BT.601 math): each pixel to B, G, R, the same tables (each channel clipped as there),
// back to luma, each chroma sample from the mean of the adjusted pixels it covers.
void ApplyPictureEffects(THookPlanes &planes, int brightness, int contrast, int saturation, int exposure);

// Blends `source` onto `frame` with its top-left corner at (x, y) (either may be
// negative; what falls outside the frame is clipped): each channel becomes
// (frame x (256 - opacity) + source x opacity) >> 8. Opacity 0 leaves the frame as
// it was; 255 gives 255/256 of the source. With `alpha` (one byte per source pixel, row
// after row, 255 opaque) each pixel's opacity is opacity x alpha / 255.
void BlendBitmap(TBitmap &frame, const TBitmap &source, int x, int y, int opacity,
                 const std::vector<std::uint8_t> *alpha = nullptr);

} // namespace tovi
