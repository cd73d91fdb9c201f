#include "appcore/PictureEffects.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

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
  // Values outside the editors' ranges are held at their ends: the mix table below is
  // sized for saturations up to 512.
  brightness = std::clamp(brightness, 0, 512);
  saturation = std::clamp(saturation, 0, 512);
  contrast = std::clamp(contrast, -100, 100);
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

namespace {

// m + S[x] spans [-257, 767] (m = t/3 - S[t/3] with S up to 512): one table over that
// span replaces the clamp, and an exposure table can be folded into it.
constexpr int kMixOffset = 512;
using TMixTable = std::array<std::uint8_t, 1280>;

TMixTable MixTable(const TColorTables &t, const std::array<std::uint8_t, 256> *exposure) {
  TMixTable mix{};
  for (int i = 0; i < static_cast<int>(mix.size()); ++i) {
    const std::uint8_t level = t.Level[static_cast<std::size_t>(Clamp255(i - kMixOffset))];
    mix[static_cast<std::size_t>(i)] = exposure ? (*exposure)[level] : level;
  }
  return mix;
}

void ApplyMix(TBitmap &bitmap, const TColorTables &t, const TMixTable &mix) {
  const int w = bitmap.Width();
  const int *sat = t.Saturation.data();
  const int *grey = t.GreyOffset.data();
  const std::uint8_t *out = mix.data() + kMixOffset;
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t *p = bitmap.ScanLine(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const int m = grey[p[0] + p[1] + p[2]];
      p[0] = out[m + sat[p[0]]];
      p[1] = out[m + sat[p[1]]];
      p[2] = out[m + sat[p[2]]];
    }
  }
}

} // namespace

void ApplyColorTables(TBitmap &bitmap, const TColorTables &t) { ApplyMix(bitmap, t, MixTable(t, nullptr)); }

void ApplyExposureTable(TBitmap &bitmap, const std::array<std::uint8_t, 256> &table) {
  const int bytes = bitmap.Width() * 3;
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t *p = bitmap.ScanLine(y);
    for (int i = 0; i < bytes; ++i)
      p[i] = table[p[i]];
  }
}

void ApplyPictureEffects(TBitmap &bitmap, int brightness, int contrast, int saturation, int exposure) {
  const bool color = brightness != 255 || contrast != 0 || saturation != 255;
  if (!color && exposure == 0) return;
  if (!color) {
    ApplyExposureTable(bitmap, MakeExposureTable(exposure));
    return;
  }
  // Exposure maps each channel after the colour pass, so it folds into the last table:
  // one walk over the pixels instead of two.
  const TColorTables tables = MakeColorTables(brightness, contrast, saturation);
  std::array<std::uint8_t, 256> exposureTable;
  if (exposure != 0) exposureTable = MakeExposureTable(exposure);
  ApplyMix(bitmap, tables, MixTable(tables, exposure != 0 ? &exposureTable : nullptr));
}

namespace {

// The YUV pass's tables, each indexed by luma plus the saturation's shift of it (which
// stays within the tables' padding).
struct TPlaneTables {
  const std::uint8_t *Luma; // the curve in the picture's levels
  const int *Gain;          // chroma factor there, 4096 = 1, at most kMaxGain
  const std::uint8_t *Clip; // 128 + c held to the chroma levels, c in [-kClipSpan, kClipSpan]
  int Kb, Kr;               // luma shift per chroma step, 1/65536
};
constexpr int kMaxGain = 16 * 4096;     // any chroma step already spans the range
constexpr int kClipSpan = 128 * 16 + 1; // (c x kMaxGain + 2048) >> 12 for |c| <= 128

// One chroma sample and the luma pixels it covers per step; SX/SY the subsampling.
// Blocks cut by the right or bottom edge take the checked loop.
template <int SX, int SY> void ApplyPlaneTables(const THookPlanes &p, const TPlaneTables &t) {
  const int width = p.Width, height = p.Height;
  const int cw = (width + (1 << SX) - 1) >> SX, ch = (height + (1 << SY) - 1) >> SY;
  const int kb = t.Kb, kr = t.Kr;
  const int *const gain = t.Gain;
  const std::uint8_t *const clip = t.Clip;
  const int whole = width >> SX; // blocks with all their columns
  for (int cy = 0; cy < ch; ++cy) {
    std::uint8_t *__restrict u = p.Data[1] + static_cast<std::ptrdiff_t>(cy) * p.LineSize[1];
    std::uint8_t *__restrict v = p.Data[2] + static_cast<std::ptrdiff_t>(cy) * p.LineSize[2];
    std::uint8_t *__restrict row0 = p.Data[0] + static_cast<std::ptrdiff_t>(cy << SY) * p.LineSize[0];
    const int rows = std::min(1 << SY, height - (cy << SY));
    std::uint8_t *__restrict row1 = rows > 1 ? row0 + p.LineSize[0] : nullptr;
    int cx = 0;
    if (SX == 1 && SY == 1 && row1)
      for (; cx < whole; ++cx) {
        const int cb = u[cx] - 128, cr = v[cx] - 128;
        const int d = (kb * cb + kr * cr + (1 << 15)) >> 16;
        const std::uint8_t *__restrict lut = t.Luma + d;
        const int x = cx << 1;
        const std::uint8_t a0 = row0[x], a1 = row0[x + 1], b0 = row1[x], b1 = row1[x + 1];
        // The slope where the block's first pixel lands.
        const int g = gain[a0 + d];
        u[cx] = clip[(cb * g + 2048) >> 12];
        v[cx] = clip[(cr * g + 2048) >> 12];
        row0[x] = lut[a0], row0[x + 1] = lut[a1], row1[x] = lut[b0], row1[x + 1] = lut[b1];
      }
    for (; cx < cw; ++cx) {
      const int cb = u[cx] - 128, cr = v[cx] - 128;
      const int d = (kb * cb + kr * cr + (1 << 15)) >> 16;
      const std::uint8_t *__restrict lut = t.Luma + d;
      const int x = cx << SX;
      const int g = gain[row0[x] + d];
      u[cx] = clip[(cb * g + 2048) >> 12];
      v[cx] = clip[(cr * g + 2048) >> 12];
      const bool pair = SX == 1 && x + 1 < width;
      row0[x] = lut[row0[x]];
      if (pair) row0[x + 1] = lut[row0[x + 1]];
      if (SY == 1 && row1) {
        row1[x] = lut[row1[x]];
        if (pair) row1[x + 1] = lut[row1[x + 1]];
      }
    }
  }
}

} // namespace

void ApplyPictureEffects(const THookPlanes &p, int brightness, int contrast, int saturation, int exposure) {
  const bool color = brightness != 255 || contrast != 0 || saturation != 255;
  if (!color && exposure == 0) return;
  const TColorTables tables = MakeColorTables(brightness, contrast, saturation);
  const std::array<std::uint8_t, 256> exposureTable = MakeExposureTable(exposure);
  // The per-channel curve the bitmap pass applies after its saturation mix.
  std::array<int, 256> curve{};
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t level =
        color ? tables.Level[static_cast<std::size_t>(i)] : static_cast<std::uint8_t>(i);
    curve[static_cast<std::size_t>(i)] = exposure != 0 ? exposureTable[level] : level;
  }
  const double s = std::clamp(saturation, 0, 512) == 255 ? 1.0 : std::clamp(saturation, 0, 512) / 256.0;
  const double ys = p.FullRange ? 1.0 : 219.0 / 255, cs = p.FullRange ? 1.0 : 224.0 / 255;
  const int yOffset = p.FullRange ? 0 : 16, yMax = p.FullRange ? 255 : 235;
  const int cMin = p.FullRange ? 0 : 16, cMax = p.FullRange ? 255 : 240;
  // Luma index t = Y + shift over [-kLumaPad, 256 + kLumaPad): the curve in the picture's
  // levels and the slope there (4096 = 1), times the saturation, for the chroma.
  constexpr int kLumaPad = 256;
  std::array<std::uint8_t, 256 + 2 * kLumaPad> luma{};
  std::array<int, 256 + 2 * kLumaPad> gain{};
  const auto full = [&](double t) { return (t - yOffset) / ys; };
  const auto curveAt = [&](double x) {
    return curve[static_cast<std::size_t>(std::clamp<long>(std::lround(x), 0, 255))];
  };
  for (int i = 0; i < static_cast<int>(luma.size()); ++i) {
    const double x = full(i - kLumaPad);
    luma[static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(std::clamp<long>(std::lround(curveAt(x) * ys + yOffset), yOffset, yMax));
    const double slope = (curveAt(x + 4) - curveAt(x - 4)) / 8.0;
    gain[static_cast<std::size_t>(i)] =
        static_cast<int>(std::min<double>(kMaxGain, static_cast<double>(std::lround(s * slope * 4096))));
  }
  // The mix pulls each channel towards the mean of the three, not towards the luma: the
  // luma moves by (1 - s) x (Y - mean), a fixed mix of the chroma (1/65536 units).
  const int kb = static_cast<int>(std::lround((1 - s) * 0.475955 * ys / cs * 65536));
  const int kr = static_cast<int>(std::lround((1 - s) * 0.229288 * ys / cs * 65536));
  std::array<std::uint8_t, 2 * kClipSpan + 1> clip{};
  for (int c = -kClipSpan; c <= kClipSpan; ++c)
    clip[static_cast<std::size_t>(c + kClipSpan)] =
        static_cast<std::uint8_t>(std::clamp(128 + c, cMin, cMax));
  const TPlaneTables t{luma.data() + kLumaPad, gain.data() + kLumaPad, clip.data() + kClipSpan, kb, kr};
  if (p.ChromaShiftX == 1 && p.ChromaShiftY == 1)
    ApplyPlaneTables<1, 1>(p, t);
  else if (p.ChromaShiftX == 1 && p.ChromaShiftY == 0)
    ApplyPlaneTables<1, 0>(p, t);
  else if (p.ChromaShiftX == 0 && p.ChromaShiftY == 0)
    ApplyPlaneTables<0, 0>(p, t);
  else if (p.ChromaShiftX == 0 && p.ChromaShiftY == 1)
    ApplyPlaneTables<0, 1>(p, t);
}

void BlendBitmap(TBitmap &frame, const TBitmap &source, int x, int y, int opacity,
                 const std::vector<std::uint8_t> *alpha) {
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
  const bool perPixel = alpha && alpha->size() == static_cast<std::size_t>(source.Width()) * source.Height();
  for (int r = 0; r < rows; ++r) {
    std::uint8_t *d = frame.ScanLine(dy0 + r) + dx0 * 3;
    const std::uint8_t *s = source.ScanLine(sy0 + r) + sx0 * 3;
    if (!perPixel) {
      for (int i = 0; i < cols * 3; ++i)
        d[i] = static_cast<std::uint8_t>((d[i] * na + s[i] * a) >> 8);
      continue;
    }
    // The picture's own transparency scales the opacity pixel by pixel.
    const std::uint8_t *coverage = alpha->data() + static_cast<std::size_t>(sy0 + r) * source.Width() + sx0;
    for (int c = 0; c < cols; ++c) {
      const int pa = (a * coverage[c] + 127) / 255, pna = 256 - pa;
      for (int k = 0; k < 3; ++k)
        d[c * 3 + k] = static_cast<std::uint8_t>((d[c * 3 + k] * pna + s[c * 3 + k] * pa) >> 8);
    }
  }
}

} // namespace tovi
