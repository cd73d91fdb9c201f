// Picture adjustments and the blend, checked on real pixel values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "appcore/PictureEffects.h"
#include "engine/EngineEvents.h"
#include "media/Bitmap.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/Owners.h"
#include "media/RGBHolder.h"

using namespace tovi;

namespace {

// A bitmap of odd width (row padding in play) filled with deterministic noise.
void FillNoise(TBitmap &b, unsigned seed) {
  std::mt19937 rng(seed);
  for (int y = 0; y < b.Height(); ++y)
    for (int i = 0; i < b.Width() * 3; ++i)
      b.ScanLine(y)[i] = static_cast<std::uint8_t>(rng());
}

bool SamePixels(const TBitmap &a, const TBitmap &b) {
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<std::size_t>(a.Width()) * 3) != 0) return false;
  return true;
}

void Copy(const TBitmap &from, TBitmap &to) {
  to.SetSize(from.Width(), from.Height());
  std::memcpy(to.Bits(), from.Bits(), from.SizeBytes());
}

} // namespace

TEST(Effects, NeutralValuesLeaveEveryPixelUntouched) {
  TBitmap frame(37, 11), before;
  FillNoise(frame, 1);
  Copy(frame, before);
  ApplyPictureEffects(frame, 255, 0, 255, 0);
  EXPECT_TRUE(SamePixels(frame, before));
  // Brightness 256 runs the pass, and its tables are the identity.
  ApplyPictureEffects(frame, 256, 0, 255, 0);
  EXPECT_TRUE(SamePixels(frame, before));
  const auto t = MakeColorTables(256, 0, 255);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(t.Level[static_cast<std::size_t>(i)], i);
}

TEST(Effects, ContrastExtremes) {
  // 100 would divide by cos(pi/2) = 0; it acts as 99.
  const auto at100 = MakeColorTables(256, 100, 255), at99 = MakeColorTables(256, 99, 255);
  EXPECT_EQ(at100.Level, at99.Level);
  EXPECT_EQ(at100.Level[0], 0);
  EXPECT_EQ(at100.Level[255], 255);
  EXPECT_EQ(at100.Level[170], 170);
  // -100 flattens every channel towards 170.
  const auto flat = MakeColorTables(256, -100, 255);
  for (int i = 0; i < 256; ++i)
    EXPECT_NEAR(flat.Level[static_cast<std::size_t>(i)], 170, 1) << i;
}

TEST(Effects, SaturationZeroMakesGreyAndBrightnessScales) {
  TBitmap frame(3, 1);
  std::uint8_t *p = frame.ScanLine(0);
  const std::uint8_t pixels[9] = {10, 200, 90, 0, 0, 255, 128, 128, 128};
  std::memcpy(p, pixels, 9);
  ApplyPictureEffects(frame, 256, 0, 0, 0);
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(p[x * 3], p[x * 3 + 1]);
    EXPECT_EQ(p[x * 3 + 1], p[x * 3 + 2]);
  }
  EXPECT_EQ(p[0], (10 + 200 + 90) / 3);
  EXPECT_EQ(p[6], 128);
  // Brightness 0 takes every level to 1: (0 x j + 256) >> 8.
  const auto dark = MakeColorTables(0, 0, 255);
  EXPECT_EQ(dark.Level[0], 1);
  EXPECT_EQ(dark.Level[255], 1);
  const auto bright = MakeColorTables(512, 0, 255);
  EXPECT_EQ(bright.Level[100], 199);
  EXPECT_EQ(bright.Level[200], 255);
}

TEST(Effects, ExposureTable) {
  const auto none = MakeExposureTable(0);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(none[static_cast<std::size_t>(i)], i);
  const auto up = MakeExposureTable(512), down = MakeExposureTable(-255);
  EXPECT_EQ(up[0], 0);
  EXPECT_EQ(up[255], 255);
  EXPECT_EQ(down[255], 255);
  for (int i = 1; i < 255; ++i) {
    EXPECT_GE(up[static_cast<std::size_t>(i)], i) << i;
    EXPECT_LE(down[static_cast<std::size_t>(i)], i) << i;
  }
  EXPECT_GT(up[128], 200);
  TBitmap frame(5, 2), before;
  FillNoise(frame, 2);
  Copy(frame, before);
  ApplyPictureEffects(frame, 255, 0, 255, 100);
  EXPECT_EQ(frame.ScanLine(1)[4], MakeExposureTable(100)[before.ScanLine(1)[4]]);
}

TEST(Effects, OnePassEqualsColourThenExposure) {
  TBitmap fused(33, 9), stepwise;
  FillNoise(fused, 4);
  Copy(fused, stepwise);
  ApplyPictureEffects(fused, 300, 20, 200, 40);
  ApplyColorTables(stepwise, MakeColorTables(300, 20, 200));
  ApplyExposureTable(stepwise, MakeExposureTable(40));
  EXPECT_TRUE(SamePixels(fused, stepwise));
  // Out-of-range values are held at the ends of their ranges.
  TBitmap wild(4, 4), held;
  FillNoise(wild, 5);
  Copy(wild, held);
  ApplyPictureEffects(wild, 9000, 400, 9000, 0);
  ApplyPictureEffects(held, 512, 99, 512, 0);
  EXPECT_TRUE(SamePixels(wild, held));
}

namespace {

// A 4:2:0 picture made from `bitmap` by the scaler, as a decoder would hand it over.
FramePtr ToPicture(TRGBHolder &holder, const TBitmap &bitmap) {
  FramePtr frame(ff::av_frame_alloc());
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = bitmap.Width();
  frame->height = bitmap.Height();
  if (ff::av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  holder.Bitmap = std::make_unique<TBitmap>(bitmap.Width(), bitmap.Height());
  std::memcpy(holder.Bitmap->Bits(), bitmap.Bits(), bitmap.SizeBytes());
  return ConvertFromBitmap(holder, frame.get()) ? std::move(frame) : nullptr;
}

FramePtr Clone(const AVFrame *picture) {
  FramePtr copy(ff::av_frame_alloc());
  copy->format = picture->format;
  copy->width = picture->width;
  copy->height = picture->height;
  if (ff::av_frame_get_buffer(copy.get(), 0) < 0) return nullptr;
  ff::av_image_copy(copy->data, copy->linesize, const_cast<const std::uint8_t **>(picture->data),
                    picture->linesize, AV_PIX_FMT_YUV420P, picture->width, picture->height);
  return copy;
}

// The picture as a player shows it.
void Shown(TRGBHolder &holder, const AVFrame *picture, TBitmap &shown) {
  ASSERT_TRUE(ConvertToBitmap(holder, picture));
  Copy(*holder.Bitmap, shown);
}

THookPlanes PlanesOf(AVFrame *picture) {
  THookPlanes planes;
  for (int c = 0; c < 3; ++c) {
    planes.Data[c] = picture->data[c];
    planes.LineSize[c] = picture->linesize[c];
  }
  planes.Width = picture->width;
  planes.Height = picture->height;
  planes.ChromaShiftX = planes.ChromaShiftY = 1;
  return planes;
}

} // namespace

// The adjustments done on the YUV planes look as the 24-bit pass between two scaler
// conversions made them look (which the output preview shows): saturated colours,
// where every channel clips, are where a pass that works on Y, U and V alone drifts.
TEST(Effects, OnThePlanesTheyLookAsOnTheBitmap) {
  ASSERT_TRUE(TFFmpegLoader::Instance().LoadLibraries(CONVERTER_LIBRARIES))
      << TFFmpegLoader::Instance().LastErrorText();
  // Odd size: the last chroma column and row cover a single pixel.
  TBitmap source(161, 121);
  const std::uint8_t bars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                   {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
  for (int y = 0; y < source.Height(); ++y)
    for (int x = 0; x < source.Width(); ++x)
      for (int c = 0; c < 3; ++c)
        source.ScanLine(y)[x * 3 + c] = y < 80 ? bars[std::min(x / 20, 7)][c] // colour bars, BGR
                                               : static_cast<std::uint8_t>(64 + x * 4 / 5); // grey ramp
  TRGBHolder holder;
  const FramePtr decoded = ToPicture(holder, source);
  ASSERT_TRUE(decoded);
  TBitmap before, expected, got;
  Shown(holder, decoded.get(), before);
  struct TCase {
    int Brightness, Contrast, Saturation, Exposure;
  };
  for (const TCase k : {TCase{400, 60, 450, 120}, TCase{330, 40, 150, 60}, TCase{160, -50, 480, -100}}) {
    SCOPED_TRACE(testing::Message() << k.Brightness << " " << k.Contrast << " " << k.Saturation << " "
                                    << k.Exposure);
    // The whole-frame path: to the bitmap, the 24-bit pass, back.
    const FramePtr old = Clone(decoded.get());
    ASSERT_TRUE(old && ConvertToBitmap(holder, old.get()));
    ApplyPictureEffects(*holder.Bitmap, k.Brightness, k.Contrast, k.Saturation, k.Exposure);
    ASSERT_TRUE(ConvertFromBitmap(holder, old.get()));
    const FramePtr planed = Clone(decoded.get());
    ASSERT_TRUE(planed);
    THookPlanes planes = PlanesOf(planed.get());
    ApplyPictureEffects(planes, k.Brightness, k.Contrast, k.Saturation, k.Exposure);
    Shown(holder, old.get(), expected);
    Shown(holder, planed.get(), got);
    int worst = 0;
    long changed = 0;
    for (int y = 0; y < got.Height(); ++y)
      for (int i = 0; i < got.Width() * 3; ++i) {
        // Left out: 5 pixels either side of a colour edge, where the scaler's own
        // bicubic chroma filters decide, and the last columns, which the scaler gives
        // a colour cast in an odd-width picture (already before any adjustment).
        if (const int x = i / 3; (y < 80 && (x % 20 < 5 || x % 20 > 14)) || std::abs(y - 80) < 8 || x > 156)
          continue;
        worst = std::max(worst, std::abs(got.ScanLine(y)[i] - expected.ScanLine(y)[i]));
        changed += std::abs(got.ScanLine(y)[i] - before.ScanLine(y)[i]);
      }
    EXPECT_LE(worst, 4);
    EXPECT_GT(changed / (got.Width() * got.Height() * 3), 20); // far from the unadjusted picture
  }
}

TEST(Blend, OpacityRangeAndClippingOnEveryEdge) {
  TBitmap frame(8, 6), source(4, 4), before;
  FillNoise(frame, 3);
  for (int y = 0; y < 4; ++y)
    std::memset(source.ScanLine(y), 200, 12);
  Copy(frame, before);

  BlendBitmap(frame, source, 2, 1, 0);
  EXPECT_TRUE(SamePixels(frame, before)) << "opacity 0";

  BlendBitmap(frame, source, 2, 1, 255);
  EXPECT_EQ(frame.ScanLine(1)[2 * 3], (before.ScanLine(1)[6] * 1 + 200 * 255) >> 8)
      << "255/256 of the source";
  EXPECT_EQ(frame.ScanLine(0)[6], before.ScanLine(0)[6]) << "row above untouched";
  EXPECT_EQ(frame.ScanLine(1)[5], before.ScanLine(1)[5]) << "column left untouched";

  // Negative position: only the overlapping corner, from the source's inner part.
  Copy(before, frame);
  BlendBitmap(frame, source, -3, -2, 128);
  EXPECT_EQ(frame.ScanLine(0)[0], (before.ScanLine(0)[0] * 128 + 200 * 128) >> 8);
  EXPECT_EQ(frame.ScanLine(1)[2], (before.ScanLine(1)[2] * 128 + 200 * 128) >> 8);
  EXPECT_EQ(frame.ScanLine(2)[0], before.ScanLine(2)[0]) << "source rows end at |y| + 2";
  EXPECT_EQ(frame.ScanLine(0)[3], before.ScanLine(0)[3]) << "one column overlaps";

  // Beyond the right and bottom edges: clipped, nothing written past the frame.
  Copy(before, frame);
  BlendBitmap(frame, source, 6, 4, 128);
  EXPECT_EQ(frame.ScanLine(5)[7 * 3 + 2], (before.ScanLine(5)[7 * 3 + 2] * 128 + 200 * 128) >> 8);
  EXPECT_EQ(frame.ScanLine(3)[7 * 3], before.ScanLine(3)[7 * 3]);
  BlendBitmap(frame, source, 100, 100, 128);
  BlendBitmap(frame, source, -100, 0, 128);
}
