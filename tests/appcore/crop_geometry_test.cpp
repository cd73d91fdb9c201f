// The crop dialog's arithmetic: previews, the dragged rectangle, margins in preview and
// source pixels, and the output preview.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "appcore/CropGeometry.h"
#include "appcore/CropPreview.h"
#include "appcore/PictureEffects.h"
#include "media/Bitmap.h"

using namespace tovi;

TEST(CropGeometry, PicturesFitTheBoxKeepingTheirShape) {
  // Wider than the box: full width, equal bands above and below.
  EXPECT_EQ(FitPictureInBox(1920, 1080, 420, 303), (TPictureRect{0, 33, 420, 237}));
  // Taller (4:3 into a wide box): full height, bands left and right.
  EXPECT_EQ(FitPictureInBox(640, 480, 420, 200), (TPictureRect{77, 0, 266, 200}));
  // The same shape fills the box; a tiny picture is stretched up.
  EXPECT_EQ(FitPictureInBox(840, 606, 420, 303), (TPictureRect{0, 0, 420, 303}));
  EXPECT_EQ(FitPictureInBox(176, 144, 420, 303), (TPictureRect{25, 0, 370, 303}));
  // Nothing to fit.
  EXPECT_TRUE(FitPictureInBox(0, 144, 420, 303).Empty());
  EXPECT_TRUE(FitPictureInBox(176, 144, 0, 0).Empty());
}

TEST(CropGeometry, MarginsRoundTripThroughTheTracker) {
  const TPictureRect picture{25, 10, 370, 280};
  const TCropMargins m{12, 30, 40, 7};
  const TPictureRect tracker = TrackerFromMargins(picture, m, 10);
  EXPECT_EQ(tracker, (TPictureRect{55, 22, 333, 228}));
  EXPECT_EQ(MarginsFromTracker(picture, tracker), m);
  // A tracker reaching past the picture gives no negative margins.
  EXPECT_EQ(MarginsFromTracker(picture, {0, 0, 500, 400}), (TCropMargins{}));
  // Margins restored on a smaller preview are cut back to leave the minimum size,
  // the bottom and right ones first.
  EXPECT_EQ(TrackerFromMargins({0, 0, 100, 50}, {30, 60, 30, 60}, 10), (TPictureRect{60, 30, 10, 10}));
  EXPECT_EQ(TrackerFromMargins({0, 0, 100, 50}, {45, 95, 0, 0}, 10), (TPictureRect{90, 40, 10, 10}));
}

TEST(CropGeometry, MarginsScaleToEvenSourcePixels) {
  // 720 source pixels shown 420 wide: 35 -> 60; 36 -> 61.7 -> 62.
  EXPECT_EQ(ScaleMarginToSource(35, 720, 420), 60);
  EXPECT_EQ(ScaleMarginToSource(36, 720, 420), 62);
  // 33 source pixels become 32 (rounded first, then down to even).
  EXPECT_EQ(ScaleMarginToSource(33, 100, 100), 32);
  EXPECT_EQ(ScaleMarginToSource(11, 144, 303), 4); // 5.23 -> 5 -> 4
  EXPECT_EQ(ScaleMarginToSource(0, 720, 420), 0);
  EXPECT_EQ(ScaleMarginToSource(-4, 720, 420), 0);
  EXPECT_EQ(ScaleMarginToSource(10, 720, 0), 0);
  EXPECT_EQ(ScaleMarginToSource(500, 121, 100), 120); // never past the picture

  // Vertical margins use the heights, horizontal ones the widths.
  const TPictureRect picture{25, 0, 370, 303};
  const TCropMargins s = ScaleMarginsToSource({101, 74, 50, 148}, picture, 176, 144);
  EXPECT_EQ(s, (TCropMargins{48, 34, 24, 70}));
  for (int v : {s.Top, s.Left, s.Bottom, s.Right})
    EXPECT_EQ(v % 2, 0);
  EXPECT_EQ(KeptSourceRect(176, 144, s), (TPictureRect{34, 48, 72, 72}));
  // A pair that would keep nothing still leaves two pixels.
  const TCropMargins all = ScaleMarginsToSource({160, 0, 160, 0}, picture, 176, 144);
  EXPECT_EQ(all, (TCropMargins{76, 0, 66, 0}));
}

TEST(CropGeometry, DraggingKeepsTheRectangleInsideThePicture) {
  const TPictureRect bounds{25, 0, 370, 303};
  const TPictureRect start{100, 50, 100, 80};
  // Moving keeps the size; past an edge it stops on that edge.
  EXPECT_EQ(DragTracker(start, TTrackerHandle::Move, 20, -10, bounds, 10), (TPictureRect{120, 40, 100, 80}));
  EXPECT_EQ(DragTracker(start, TTrackerHandle::Move, -500, -500, bounds, 10), (TPictureRect{25, 0, 100, 80}));
  EXPECT_EQ(DragTracker(start, TTrackerHandle::Move, 500, 500, bounds, 10),
            (TPictureRect{295, 223, 100, 80}));
  // Resizing moves only the grabbed edges; the opposite ones stay.
  EXPECT_EQ(DragTracker(start, TTrackerHandle::TopLeft, -500, -500, bounds, 10),
            (TPictureRect{25, 0, 175, 130}));
  EXPECT_EQ(DragTracker(start, TTrackerHandle::BottomRight, 500, 500, bounds, 10),
            (TPictureRect{100, 50, 295, 253}));
  EXPECT_EQ(DragTracker(start, TTrackerHandle::Right, 30, 99, bounds, 10), (TPictureRect{100, 50, 130, 80}));
  EXPECT_EQ(DragTracker(start, TTrackerHandle::Top, 99, 30, bounds, 10), (TPictureRect{100, 80, 100, 50}));
  // An edge cannot cross the opposite one: the minimum size stays.
  EXPECT_EQ(DragTracker(start, TTrackerHandle::Left, 300, 0, bounds, 10), (TPictureRect{190, 50, 10, 80}));
  EXPECT_EQ(DragTracker(start, TTrackerHandle::Bottom, 0, -300, bounds, 10),
            (TPictureRect{100, 50, 100, 10}));
  EXPECT_EQ(DragTracker(start, TTrackerHandle::None, 40, 40, bounds, 10), start);
  // Wherever it is dragged, every margin stays non-negative.
  for (int d : {-1000, -37, 0, 41, 1000})
    for (auto h : {TTrackerHandle::Move, TTrackerHandle::TopRight, TTrackerHandle::BottomLeft}) {
      const TPictureRect r = DragTracker(start, h, d, -d, bounds, 10);
      const TCropMargins m = MarginsFromTracker(bounds, r);
      EXPECT_GE(r.Left, bounds.Left);
      EXPECT_LE(r.Right(), bounds.Right());
      EXPECT_GE(r.Top, bounds.Top);
      EXPECT_LE(r.Bottom(), bounds.Bottom());
      EXPECT_GE(std::min({m.Top, m.Left, m.Bottom, m.Right}), 0);
    }
}

TEST(CropGeometry, ZoomListAndPositionBar) {
  EXPECT_EQ(ZoomListIndex("full"), 0);
  EXPECT_EQ(ZoomListIndex("lbox"), 1);
  EXPECT_EQ(ZoomListIndex("orig"), -1);
  EXPECT_EQ(ZoomListIndex("cent"), -1);
  EXPECT_EQ(ZoomListIndex("pan"), 0);
  EXPECT_EQ(ZoomModeForIndex(0, "pan"), "full");
  EXPECT_EQ(ZoomModeForIndex(1, "pan"), "lbox");
  EXPECT_EQ(ZoomModeForIndex(-1, "orig"), "orig");

  EXPECT_EQ(BarPositionForTime(400, 1'000'000, 2'000'000), 200);
  EXPECT_EQ(BarPositionForTime(400, 5'000'000, 2'000'000), 400);
  EXPECT_EQ(BarPositionForTime(400, 1'000'000, 0), 0); // unknown length: no division
  EXPECT_EQ(TimeForBarPosition(100, 400, 2'000'000), 500'000);
  EXPECT_EQ(TimeForBarPosition(100, 0, 2'000'000), 0);
  EXPECT_EQ(ClockText(3'725'600'000), "01:02:06");
  EXPECT_EQ(ClockText(-5), "00:00:00");
}

TEST(CropPreview, KeepsTheRectangleAndAppliesTheAdjustmentsOfTheConversion) {
  // A frame whose pixels tell where they came from: blue = x, green = y, red = x ^ y.
  QImage frame(64, 40, QImage::Format_BGR888);
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) {
      std::uint8_t *p = frame.scanLine(y) + x * 3;
      p[0] = static_cast<std::uint8_t>(x * 3);
      p[1] = static_cast<std::uint8_t>(y * 5);
      p[2] = static_cast<std::uint8_t>((x ^ y) * 4);
    }
  const TCropMargins margins{6, 10, 4, 20};
  const QImage plain = MakeOutputPreview(frame, margins, {});
  ASSERT_EQ(plain.size(), QSize(34, 30));
  EXPECT_EQ(plain.pixel(0, 0), frame.pixel(10, 6));
  EXPECT_EQ(plain.pixel(33, 29), frame.pixel(43, 35));

  // The same adjustments the conversion's hook applies to a whole frame, then cut.
  const TPictureAdjustments adjust{300, 40, 100, 60};
  const QImage adjusted = MakeOutputPreview(frame, margins, adjust);
  TBitmap whole(frame.width(), frame.height());
  for (int y = 0; y < frame.height(); ++y)
    std::memcpy(whole.ScanLine(y), frame.constScanLine(y), static_cast<std::size_t>(frame.width()) * 3);
  ApplyPictureEffects(whole, adjust.Brightness, adjust.Contrast, adjust.Saturation, adjust.Exposure);
  int changed = 0;
  for (int y = 0; y < adjusted.height(); ++y)
    for (int x = 0; x < adjusted.width(); ++x) {
      const std::uint8_t *want = whole.ScanLine(y + 6) + (x + 10) * 3;
      const std::uint8_t *got = adjusted.constScanLine(y) + x * 3;
      ASSERT_EQ(std::memcmp(want, got, 3), 0) << x << "," << y;
      changed += std::memcmp(got, plain.constScanLine(y) + x * 3, 3) != 0;
    }
  EXPECT_GT(changed, adjusted.width() * adjusted.height() / 2);
  // Margins past the frame still leave a pixel; no frame, no preview.
  EXPECT_EQ(MakeOutputPreview(frame, {50, 70, 50, 70}, {}).size(), QSize(1, 1));
  EXPECT_TRUE(MakeOutputPreview(QImage(), margins, {}).isNull());
}
