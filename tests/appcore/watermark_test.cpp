// Watermark rendering: time ranges, text with opaque and transparent backgrounds,
// pictures, and the order of effects and stamps.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include <cstring>

#include "appcore/PictureEffects.h"
#include "appcore/WatermarkRenderer.h"
#include "media/Bitmap.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {

void Fill(TBitmap &b, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      std::uint8_t *p = b.ScanLine(y) + x * 3;
      p[0] = blue;
      p[1] = green;
      p[2] = red;
    }
}

int ChangedPixels(const TBitmap &b, std::uint8_t blue, std::uint8_t green, std::uint8_t red, int x0, int y0,
                  int x1, int y1) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const std::uint8_t *p = b.ScanLine(y) + x * 3;
      n += p[0] != blue || p[1] != green || p[2] != red;
    }
  return n;
}

TWmRec TextMark() {
  TWmRec m;
  m.Kind = TWmRec::wkText;
  m.Text = "Tovi";
  m.Font.Size = 20;
  m.Font.Color = MakeColor(255, 255, 255);
  m.TextLeft = 10;
  m.TextTop = 8;
  m.TextWidth = 80;
  m.TextHeight = 34;
  m.TextOpacity = 255;
  m.BackgroundColor = MakeColor(0, 0, 255); // blue
  m.Start = 0;
  m.End = 100;
  return m;
}

class Watermarks : public ::testing::Test {
protected:
  static void SetUpTestSuite() { EnsureGuiApplication(); }
};

} // namespace

TEST(WatermarkTime, WholeSecondRanges) {
  TWmRec m;
  m.Start = 5;
  m.End = 5;
  EXPECT_FALSE(m.CoversTime(4999999));
  EXPECT_TRUE(m.CoversTime(5000000));
  EXPECT_TRUE(m.CoversTime(5999999));
  EXPECT_FALSE(m.CoversTime(6000000));
  m.Start = 0;
  m.End = 0;
  EXPECT_TRUE(m.CoversTime(0));
}

TEST(WatermarkTime, NeedsCustomHook) {
  TlvFilesRecord r;
  EXPECT_FALSE(r.NeedsCustomHook());
  r.Brightness = 256;
  EXPECT_TRUE(r.NeedsCustomHook());
  r.Brightness = 255;
  r.Watermarks.emplace_back();
  EXPECT_FALSE(r.NeedsCustomHook()) << "an empty item";
  r.Watermarks.emplace_back();
  r.Watermarks[1].Text = "x";
  EXPECT_TRUE(r.NeedsCustomHook()) << "a text behind an empty first item";
  r.Watermarks[1].Text.clear();
  r.Watermarks[1].PictureFile = "/x.bmp";
  EXPECT_TRUE(r.NeedsCustomHook());
}

TEST_F(Watermarks, OpaqueTextFillsItsBoxAndIsClippedAtTheFrameEdge) {
  TBitmap frame(64, 48);
  Fill(frame, 0, 0, 0);
  TWmRec m = TextMark(); // box 10..90 x 8..42: runs past the right edge
  TWatermarkRenderer::StampText(frame, m);
  // Blue background everywhere in the box except the white strokes.
  const std::uint8_t *corner = frame.ScanLine(9) + 11 * 3;
  EXPECT_EQ(corner[0], (255 * 255) >> 8);
  EXPECT_EQ(corner[1], 0);
  EXPECT_EQ(ChangedPixels(frame, 0, 0, 0, 0, 0, 64, 8), 0) << "above the box";
  EXPECT_EQ(ChangedPixels(frame, 0, 0, 0, 0, 0, 10, 48), 0) << "left of the box";
  int white = 0;
  for (int y = 8; y < 42; ++y)
    for (int x = 10; x < 64; ++x)
      white += frame.ScanLine(y)[x * 3 + 1] > 200;
  EXPECT_GT(white, 20) << "the text strokes";
}

TEST_F(Watermarks, TransparentTextChangesOnlyItsStrokes) {
  TBitmap frame(120, 60);
  Fill(frame, 30, 60, 90);
  TWmRec m = TextMark();
  m.OpaqueBackground = false;
  m.TextLeft = -6; // negative: clipped on the left
  TWatermarkRenderer::StampText(frame, m);
  const int changed = ChangedPixels(frame, 30, 60, 90, 0, 0, 120, 60);
  EXPECT_GT(changed, 20);
  EXPECT_LT(changed, 80 * 34 / 2) << "most of the box keeps the frame's pixels";
  EXPECT_EQ(ChangedPixels(frame, 30, 60, 90, 0, 0, 120, 8), 0);
  EXPECT_EQ(ChangedPixels(frame, 30, 60, 90, 74, 0, 120, 60), 0) << "right of the box";
}

TEST_F(Watermarks, PicturesEffectsOrderAndTimeRanges) {
  tovi::test::TempDir dir;
  QImage picture(6, 4, QImage::Format_RGB888);
  picture.fill(QColor(250, 0, 0));
  const std::string file = dir.file("mark.bmp");
  ASSERT_TRUE(picture.save(QString::fromStdString(file)));

  TlvFilesRecord record;
  record.Brightness = 0; // turns every channel to 1 first
  TWmRec p;
  p.Kind = TWmRec::wkPicture;
  p.PictureFile = file;
  p.PictureLeft = 2;
  p.PictureTop = 3;
  p.PictureOpacity = 128;
  p.Start = 1;
  p.End = 2;
  record.Watermarks.push_back(p);

  TWatermarkRenderer renderer;
  TBitmap frame(16, 12);
  Fill(frame, 100, 100, 100);
  renderer.Render(frame, record, 500000); // 0.5 s: before the range
  EXPECT_EQ(ChangedPixels(frame, 1, 1, 1, 0, 0, 16, 12), 0) << "effects only";

  Fill(frame, 100, 100, 100);
  renderer.Render(frame, record, 2999999); // last microsecond of second 2
  const std::uint8_t *in = frame.ScanLine(3) + 2 * 3;
  EXPECT_EQ(in[2], (1 * 128 + 250 * 128) >> 8) << "red blended onto the darkened frame";
  EXPECT_EQ(in[0], (1 * 128) >> 8);
  EXPECT_EQ(ChangedPixels(frame, 1, 1, 1, 0, 0, 16, 3), 0);
  EXPECT_EQ(ChangedPixels(frame, 1, 1, 1, 8, 0, 16, 12), 0);

  record.Watermarks[0].PictureFile = dir.file("missing.bmp");
  EXPECT_THROW(renderer.Render(frame, record, 1500000), TWatermarkError);
  renderer.Render(frame, record, 3000000); // outside the range: never loaded
}

// A PNG's transparency survives: clear pixels leave the frame alone, half-clear ones
// blend at half the opacity, opaque ones at the full opacity; the editor's layer picture
// carries the same alpha.
TEST_F(Watermarks, PictureTransparencyScalesTheOpacity) {
  tovi::test::TempDir dir;
  QImage logo(3, 1, QImage::Format_ARGB32);
  logo.setPixel(0, 0, qRgba(200, 0, 0, 0));
  logo.setPixel(1, 0, qRgba(200, 0, 0, 128));
  logo.setPixel(2, 0, qRgba(200, 0, 0, 255));
  const std::string file = dir.file("logo.png");
  ASSERT_TRUE(logo.save(QString::fromStdString(file)));

  TlvFilesRecord record;
  TWmRec p;
  p.Kind = TWmRec::wkPicture;
  p.PictureFile = file;
  p.PictureOpacity = 255;
  p.End = 10;
  record.Watermarks.push_back(p);
  TWatermarkRenderer renderer;
  TBitmap frame(4, 1);
  Fill(frame, 0, 0, 0);
  renderer.Render(frame, record, 0);
  const std::uint8_t *row = frame.ScanLine(0);
  EXPECT_EQ(row[0 * 3 + 2], 0) << "a clear pixel";
  EXPECT_NEAR(row[1 * 3 + 2], 100, 2) << "half clear: half of the colour, not of a darkened one";
  EXPECT_EQ(row[2 * 3 + 2], (200 * 255) >> 8) << "opaque";
  EXPECT_EQ(row[3 * 3 + 2], 0) << "beside the picture";

  const QImage layer = TWatermarkRenderer::PictureLayer(file);
  ASSERT_TRUE(layer.hasAlphaChannel());
  EXPECT_EQ(qAlpha(layer.pixel(1, 0)), 128);
  EXPECT_EQ(qRed(layer.pixel(1, 0)), 200);
}
