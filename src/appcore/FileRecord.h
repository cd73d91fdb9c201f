// One row of the file list: the source, its output name and the user's editing choices
// (trim, crop, zoom, picture adjustments, watermarks).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovi {

// Colours are stored as the settings file and the dialogs hold them: 0x00BBGGRR.
using TColor = std::uint32_t;
inline constexpr int ColorRed(TColor c) { return static_cast<int>(c & 0xFF); }
inline constexpr int ColorGreen(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
inline constexpr int ColorBlue(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }
inline constexpr TColor MakeColor(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// The font of a text watermark.
struct TWmFont {
  std::string Name = "DejaVu Sans";
  int Size = 26; // points
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
  TColor Color = MakeColor(0, 0, 255);
};

// One watermark. Positions and sizes are in source-picture pixels; opacities 0..255
// (255 opaque); Start and End are the first and last whole second of the frame time
// stamps on which it is stamped.
struct TWmRec {
  enum TKind { wkText = 0, wkPicture = 1 };

  std::string Text;
  TWmFont Font;
  int TextLeft = 0, TextTop = 0, TextWidth = 0, TextHeight = 0;
  int TextOpacity = 255;
  TColor BackgroundColor = MakeColor(0, 255, 0);
  bool OpaqueBackground = true;
  std::string PictureFile;
  int PictureLeft = 0, PictureTop = 0, PictureWidth = 0, PictureHeight = 0;
  int PictureOpacity = 255;
  int Kind = wkText;
  int Start = 0, End = 0;

  // True when the watermark is stamped on a frame at `ptsUs` microseconds.
  bool CoversTime(std::int64_t ptsUs) const;
};

struct TlvFilesRecord {
  std::int32_t SelectionIndex = 0;
  std::string SourceFile;
  std::string DestinationFile;
  std::int32_t DurationSeconds = 0;
  std::int64_t TrimStart = 0;  // microseconds
  std::int64_t TrimLength = 0; // microseconds, 0 = to the end
  std::string ZoomMode = "lbox";
  std::int32_t CropTop = 0, CropLeft = 0, CropBottom = 0, CropRight = 0;
  std::int32_t CropTopShown = 0, CropLeftShown = 0, CropBottomShown = 0, CropRightShown = 0;
  std::vector<TWmRec> Watermarks;
  std::int32_t Brightness = 255; // 0..512, 255 neutral
  std::int32_t Contrast = 0;     // -100..100, 0 neutral
  std::int32_t Saturation = 255; // 0..512, 255 neutral
  std::int32_t Exposure = 0;     // -255..512, 0 neutral
  bool ProcessText = false;
  bool ProcessImage = false;
  // The row's size target ("25M", see SizeTarget.h); empty: the profile's, if any.
  std::string TargetSize;

  bool HasEffects() const { return Brightness != 255 || Contrast != 0 || Saturation != 255 || Exposure != 0; }
  bool AnyCropMargin() const { return CropTop > 0 || CropBottom > 0 || CropLeft > 0 || CropRight > 0; }
  // Picture adjustments, or any watermark with a text or a picture file.
  bool NeedsCustomHook() const;
};

} // namespace tovi
