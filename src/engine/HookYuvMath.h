// The colour math between an 8-bit planar YUV picture and 24-bit pixels that the custom
// hook's region path uses, shared with hosts that adjust the planes themselves so that
// both give the same pixels: BT.601 in 16-bit fixed point (the colours the scaler gives
// these pictures by default), luma per pixel, each chroma sample from the mean colour of
// the pixels it covers.
//
// The row functions work on separate B, G, R arrays so that the compiler can vectorise
// them; they are always inlined, so that a caller built for a wider vector unit gets
// them built for it too (an out-of-line copy could come from any file). Threads: pure functions on the
// caller's memory.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/EngineEvents.h"

// Per-pixel passes are built twice on x86-64 with GCC, for AVX2 (32-bit products in
// vector registers) and for the base instruction set; the loader picks one. Not under
// ThreadSanitizer: the loader runs the choosing function before the sanitizer's run-time
// is set up, and its instrumented code crashes the program at start.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define TOVI_PIXEL_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TOVI_PIXEL_CLONES
#endif

namespace tovi {

struct TYuvMath {
  explicit TYuvMath(bool fullRange) {
    const double ys = fullRange ? 1.0 : 219.0 / 255, cs = fullRange ? 1.0 : 224.0 / 255;
    const auto fx = [](double v) { return static_cast<int>(std::lround(v * 65536)); };
    YOffset = fullRange ? 0 : 16;
    YMax = fullRange ? 255 : 235;
    CMin = fullRange ? 0 : 16;
    CMax = fullRange ? 255 : 240;
    YScale = fx(1 / ys);
    Rv = fx(1.402 / cs), Gu = fx(0.344136 / cs), Gv = fx(0.714136 / cs), Bu = fx(1.772 / cs);
    Yr = fx(0.299 * ys), Yg = fx(0.587 * ys), Yb = fx(0.114 * ys);
    Ur = fx(-0.168736 * cs), Ug = fx(-0.331264 * cs), Ub = fx(0.5 * cs);
    Vr = fx(0.5 * cs), Vg = fx(-0.418688 * cs), Vb = fx(-0.081312 * cs);
  }
  int YOffset, YMax, CMin, CMax, YScale, Rv, Gu, Gv, Bu, Yr, Yg, Yb, Ur, Ug, Ub, Vr, Vg, Vb;
};

// One row of pixels as separate channels (0..255 each), with the row's chroma spread
// to one value per pixel.
struct TRgbRow {
  std::vector<std::int16_t> B, G, R, Cu, Cv;
  void Resize(int n) {
    for (auto *channel : {&B, &G, &R, &Cu, &Cv})
      channel->resize(static_cast<std::size_t>(n));
  }
};

namespace yuv {

constexpr int kHalf = 1 << 15;

inline std::int16_t Clip(int v, int lo, int hi) { return static_cast<std::int16_t>(std::clamp(v, lo, hi)); }

// n pixels from their luma and their chroma (one pair per pixel, 128 taken off).
[[gnu::always_inline]] inline void RowToRgb(const std::uint8_t *__restrict luma,
                                            const std::int16_t *__restrict cu,
                                            const std::int16_t *__restrict cv, int n, const TYuvMath &k,
                                            std::int16_t *__restrict b, std::int16_t *__restrict g,
                                            std::int16_t *__restrict r) {
  const int yOffset = k.YOffset, yScale = k.YScale, bu = k.Bu, gu = k.Gu, gv = k.Gv, rv = k.Rv;
  for (int i = 0; i < n; ++i) {
    const int yy = (luma[i] - yOffset) * yScale + kHalf;
    b[i] = Clip((yy + bu * cu[i]) >> 16, 0, 255);
    g[i] = Clip((yy - gu * cu[i] - gv * cv[i]) >> 16, 0, 255);
    r[i] = Clip((yy + rv * cv[i]) >> 16, 0, 255);
  }
}

// Pixels [x0, x0 + n) of row y into row.B/G/R[0, n). `row` holds at least n pixels.
[[gnu::always_inline]] inline void RowToRgb(const THookPlanes &p, const TYuvMath &k, int y, int x0, int n,
                                            TRgbRow &row) {
  const std::uint8_t *__restrict luma = p.Data[0] + static_cast<std::ptrdiff_t>(y) * p.LineSize[0] + x0;
  const std::uint8_t *__restrict u =
      p.Data[1] + static_cast<std::ptrdiff_t>(y >> p.ChromaShiftY) * p.LineSize[1];
  const std::uint8_t *__restrict v =
      p.Data[2] + static_cast<std::ptrdiff_t>(y >> p.ChromaShiftY) * p.LineSize[2];
  std::int16_t *__restrict cu = row.Cu.data();
  std::int16_t *__restrict cv = row.Cv.data();
  if (p.ChromaShiftX == 0) {
    for (int i = 0; i < n; ++i) {
      cu[i] = static_cast<std::int16_t>(u[x0 + i] - 128);
      cv[i] = static_cast<std::int16_t>(v[x0 + i] - 128);
    }
  } else {
    // Whole chroma samples first, then a left or right half of one at either end.
    int i = 0;
    if (x0 & 1) {
      cu[0] = static_cast<std::int16_t>(u[x0 >> 1] - 128);
      cv[0] = static_cast<std::int16_t>(v[x0 >> 1] - 128);
      i = 1;
    }
    const std::uint8_t *__restrict us = u + ((x0 + i) >> 1);
    const std::uint8_t *__restrict vs = v + ((x0 + i) >> 1);
    const int pairs = (n - i) / 2;
    for (int c = 0; c < pairs; ++c) {
      cu[i + 2 * c] = cu[i + 2 * c + 1] = static_cast<std::int16_t>(us[c] - 128);
      cv[i + 2 * c] = cv[i + 2 * c + 1] = static_cast<std::int16_t>(vs[c] - 128);
    }
    if (i + 2 * pairs < n) {
      cu[n - 1] = static_cast<std::int16_t>(us[pairs] - 128);
      cv[n - 1] = static_cast<std::int16_t>(vs[pairs] - 128);
    }
  }
  RowToRgb(luma, cu, cv, n, k, row.B.data(), row.G.data(), row.R.data());
}

// row.B/G/R[0, n) into n luma samples.
[[gnu::always_inline]] inline void RgbToLuma(const TRgbRow &row, const TYuvMath &k, int n,
                                             std::uint8_t *__restrict luma) {
  const std::int16_t *__restrict b = row.B.data();
  const std::int16_t *__restrict g = row.G.data();
  const std::int16_t *__restrict r = row.R.data();
  const int yb = k.Yb, yg = k.Yg, yr = k.Yr, yOffset = k.YOffset, yMax = k.YMax;
  for (int i = 0; i < n; ++i)
    luma[i] = static_cast<std::uint8_t>(
        std::clamp(((yb * b[i] + yg * g[i] + yr * r[i] + kHalf) >> 16) + yOffset, yOffset, yMax));
}

// Each pixel of the row added to the sums of the chroma sample that covers it (the
// row starts at a whole chroma sample).
[[gnu::always_inline]] inline void AddToSums(const TRgbRow &row, int n, int shiftX, int *__restrict sumB,
                                             int *__restrict sumG, int *__restrict sumR) {
  const std::int16_t *__restrict b = row.B.data();
  const std::int16_t *__restrict g = row.G.data();
  const std::int16_t *__restrict r = row.R.data();
  if (shiftX == 0) {
    for (int i = 0; i < n; ++i)
      sumB[i] += b[i], sumG[i] += g[i], sumR[i] += r[i];
    return;
  }
  const int pairs = n / 2;
  for (int c = 0; c < pairs; ++c) {
    sumB[c] += b[2 * c] + b[2 * c + 1];
    sumG[c] += g[2 * c] + g[2 * c + 1];
    sumR[c] += r[2 * c] + r[2 * c + 1];
  }
  if (n & 1) sumB[pairs] += b[n - 1], sumG[pairs] += g[n - 1], sumR[pairs] += r[n - 1];
}

// num / 2^shift rounded to the nearest, halves away from zero.
inline int ShiftRound(int num, int shift) {
  const int half = 1 << (shift - 1);
  return num >= 0 ? (num + half) >> shift : -((-num + half) >> shift);
}

// One chroma sample from the sums of the 2^countShift pixels it covers (one, two or
// four: a chroma sample never covers more than 2 x 2).
inline void ChromaFromSums(const TYuvMath &k, int b, int g, int r, int countShift, std::uint8_t &u,
                           std::uint8_t &v) {
  // Sums of up to four pixels: the products stay well inside int.
  u = static_cast<std::uint8_t>(
      std::clamp(128 + ShiftRound(k.Ub * b + k.Ug * g + k.Ur * r, 16 + countShift), k.CMin, k.CMax));
  v = static_cast<std::uint8_t>(
      std::clamp(128 + ShiftRound(k.Vb * b + k.Vg * g + k.Vr * r, 16 + countShift), k.CMin, k.CMax));
}

} // namespace yuv
} // namespace tovi
