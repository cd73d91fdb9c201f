#include "appcore/PictureEffects.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/HookYuvMath.h"
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

// The mix step of ApplyMix on one row of separate channels. The saturation and grey
// tables are computed rather than looked up (S[x] = ((x + 1) * s) >> 8 and
// G[t] = t / 3 - S[t / 3], with t / 3 as (t * 21846) >> 16, exact for t <= 765) so
// that only the final table is a lookup. Each channel becomes its index into that table.
[[gnu::always_inline]] inline void MixIndices(std::int16_t *__restrict b, std::int16_t *__restrict g,
                                              std::int16_t *__restrict r, int n, int saturation) {
  for (int i = 0; i < n; ++i) {
    const int third = ((b[i] + g[i] + r[i]) * 21846) >> 16;
    const int m = third - (((third + 1) * saturation) >> 8);
    b[i] = static_cast<std::int16_t>(m + (((b[i] + 1) * saturation) >> 8));
    g[i] = static_cast<std::int16_t>(m + (((g[i] + 1) * saturation) >> 8));
    r[i] = static_cast<std::int16_t>(m + (((r[i] + 1) * saturation) >> 8));
  }
}

// The indices first (vector arithmetic), then the lookups on their own (plain loads from
// a byte table that stays in the first-level cache).
[[gnu::always_inline]] inline void MixRow(TRgbRow &row, int n, int saturation, const std::uint8_t *out) {
  MixIndices(row.B.data(), row.G.data(), row.R.data(), n, saturation);
  for (auto *channel : {&row.B, &row.G, &row.R}) {
    std::int16_t *values = channel->data();
    for (int i = 0; i < n; ++i)
      values[i] = out[values[i]];
  }
}

// The pass over the planes.
TOVI_PIXEL_CLONES void AdjustPlanes(THookPlanes &p, int saturation, const std::uint8_t *out) {
  const TYuvMath k(p.FullRange);
  const int sx = p.ChromaShiftX, sy = p.ChromaShiftY, w = p.Width;
  const int chromaWidth = (w + (1 << sx) - 1) >> sx;
  TRgbRow row;
  row.Resize(w);
  std::vector<int> sumB(static_cast<std::size_t>(chromaWidth)), sumG(sumB.size()), sumR(sumB.size());
  for (int cy = 0; cy < (p.Height + (1 << sy) - 1) >> sy; ++cy) {
    const int y0 = cy << sy, y1 = std::min(p.Height, y0 + (1 << sy));
    std::fill(sumB.begin(), sumB.end(), 0);
    std::fill(sumG.begin(), sumG.end(), 0);
    std::fill(sumR.begin(), sumR.end(), 0);
    // Every row of the chroma row is converted before the chroma is overwritten.
    for (int y = y0; y < y1; ++y) {
      yuv::RowToRgb(p, k, y, 0, w, row);
      MixRow(row, w, saturation, out);
      yuv::RgbToLuma(row, k, w, p.Data[0] + static_cast<std::ptrdiff_t>(y) * p.LineSize[0]);
      yuv::AddToSums(row, w, sx, sumB.data(), sumG.data(), sumR.data());
    }
    std::uint8_t *u = p.Data[1] + static_cast<std::ptrdiff_t>(cy) * p.LineSize[1];
    std::uint8_t *v = p.Data[2] + static_cast<std::ptrdiff_t>(cy) * p.LineSize[2];
    for (int cx = 0; cx < chromaWidth; ++cx) {
      const int cols = std::min(w, (cx + 1) << sx) - (cx << sx);
      const auto c = static_cast<std::size_t>(cx);
      yuv::ChromaFromSums(k, sumB[c], sumG[c], sumR[c], (cols - 1) + (y1 - y0 - 1), u[cx], v[cx]);
    }
  }
}

} // namespace

void ApplyPictureEffects(THookPlanes &p, int brightness, int contrast, int saturation, int exposure) {
  const bool color = brightness != 255 || contrast != 0 || saturation != 255;
  if ((!color && exposure == 0) || p.Width <= 0 || p.Height <= 0) return;
  // Neutral colour tables map every channel to itself, so exposure alone goes through
  // the same mix with them.
  const TColorTables tables =
      color ? MakeColorTables(brightness, contrast, saturation) : MakeColorTables(255, 0, 255);
  std::array<std::uint8_t, 256> exposureTable;
  if (exposure != 0) exposureTable = MakeExposureTable(exposure);
  const TMixTable mix = MixTable(tables, exposure != 0 ? &exposureTable : nullptr);
  AdjustPlanes(p, color ? std::clamp(saturation, 0, 512) : 255, mix.data() + kMixOffset);
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
