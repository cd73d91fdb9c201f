#include "appcore/PictureEffects.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "media/Bitmap.h"

namespace tovi {
namespace {

int Clamp255(long v) { return static_cast<int>(std::clamp<long>(v, 0, 255)); }

// Right shift that truncates toward zero, as the tables were defined on: a negative
// sum gets 255 added first.
long ShiftRight8(long v) { return v < 0 ? (v + 255) >> 8 : v >> 8; }

} // namespace

TColorTables MakeColorTables(int brightness, int contrast, int saturation) {
  TColorTables t;
  if (contrast == 100) contrast = 99; // the slope 1/cos(pi/2) is infinite
  const double k =
      contrast > 0 ? 1.0 / std::cos(contrast * std::numbers::pi / 200.0) : std::cos(contrast * 0.015708);
  std::array<std::uint8_t, 256> contrastTable{};
  for (int i = 0; i < 256; ++i)
    contrastTable[static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(Clamp255(std::lround((i - 170) * k + 170)));
  for (int j = 0; j < 256; ++j) {
    const long e = ShiftRight8(static_cast<long>(brightness) * j + 256 - brightness);
    t.Level[static_cast<std::size_t>(j)] = contrastTable[static_cast<std::size_t>(Clamp255(e))];
  }
  for (int i = 0; i < 256; ++i)
    t.Saturation[static_cast<std::size_t>(i)] = ((i + 1) * saturation) >> 8;
  for (int s = 0; s < 766; ++s)
    t.GreyOffset[static_cast<std::size_t>(s)] = s / 3 - t.Saturation[static_cast<std::size_t>(s / 3)];
  return t;
}

std::array<std::uint8_t, 256> MakeExposureTable(int exposure) {
  std::array<std::uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    const std::int64_t c =
        std::llround((1.0 - std::exp(-static_cast<double>(exposure) * i / 16384.0)) * 256.0);
    std::int64_t v;
    if (exposure >= 0)
      v = i + ((c * (255 - i)) >> 8);
    else
      v = i - (((-c) * (255 - i)) >> 8);
    t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
  }
  return t;
}

void ApplyColorTables(TBitmap &bitmap, const TColorTables &t) {
  const int w = bitmap.Width();
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t *p = bitmap.ScanLine(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const int m = t.GreyOffset[static_cast<std::size_t>(p[0] + p[1] + p[2])];
      for (int c = 0; c < 3; ++c)
        p[c] = t.Level[static_cast<std::size_t>(Clamp255(m + t.Saturation[p[c]]))];
    }
  }
}

void ApplyExposureTable(TBitmap &bitmap, const std::array<std::uint8_t, 256> &table) {
  const int bytes = bitmap.Width() * 3;
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t *p = bitmap.ScanLine(y);
    for (int i = 0; i < bytes; ++i)
      p[i] = table[p[i]];
  }
}

void ApplyPictureEffects(TBitmap &bitmap, int brightness, int contrast, int saturation, int exposure) {
  if (brightness != 255 || contrast != 0 || saturation != 255)
    ApplyColorTables(bitmap, MakeColorTables(brightness, contrast, saturation));
  if (exposure != 0) ApplyExposureTable(bitmap, MakeExposureTable(exposure));
}

void BlendBitmap(TBitmap &frame, const TBitmap &source, int x, int y, int opacity) {
  // Source rows/columns [s0, s0 + n) land on frame rows/columns [d0, d0 + n).
  const auto span = [](int pos, int sourceSize, int frameSize, int &s0, int &d0) {
    if (pos >= 0) {
      s0 = 0;
      d0 = pos;
      return std::min(sourceSize, frameSize - pos);
    }
    s0 = -pos;
    d0 = 0;
    return std::min(sourceSize + pos, frameSize);
  };
  int sy0, dy0, sx0, dx0;
  const int rows = span(y, source.Height(), frame.Height(), sy0, dy0);
  const int cols = span(x, source.Width(), frame.Width(), sx0, dx0);
  if (rows <= 0 || cols <= 0) return;
  const int a = std::clamp(opacity, 0, 255), na = 256 - a;
  for (int r = 0; r < rows; ++r) {
    std::uint8_t *d = frame.ScanLine(dy0 + r) + dx0 * 3;
    const std::uint8_t *s = source.ScanLine(sy0 + r) + sx0 * 3;
    for (int i = 0; i < cols * 3; ++i)
      d[i] = static_cast<std::uint8_t>((d[i] * na + s[i] * a) >> 8);
  }
}

} // namespace tovi
