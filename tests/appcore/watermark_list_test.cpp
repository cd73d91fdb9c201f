// The watermark editor's list: built from a file record, edited, written back; new
// items' defaults; unreadable pictures; and the text layer the editor shows matching
// what the conversion stamps.
#include <gtest/gtest.h>

#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <cstdlib>
#include <fstream>

#include "appcore/WatermarkList.h"
#include "appcore/WatermarkRenderer.h"
#include "media/Bitmap.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {

class WatermarkList : public ::testing::Test {
protected:
  static void SetUpTestSuite() { EnsureGuiApplication(); }
};

TWmRec Text(const std::string &text, int left) {
  TWmRec r;
  r.Kind = TWmRec::wkText;
  r.Text = text;
  r.TextLeft = left;
  r.TextTop = 3;
  r.TextWidth = 40;
  r.TextHeight = 20;
  r.TextOpacity = 200;
  r.Font.Bold = true;
  r.OpaqueBackground = false;
  r.Start = 1;
  r.End = 4;
  return r;
}

TWmRec Picture(const std::string &file, int left) {
  TWmRec r;
  r.Kind = TWmRec::wkPicture;
  r.PictureFile = file;
  r.PictureLeft = left;
  r.PictureTop = 7;
  r.PictureWidth = 16;
  r.PictureHeight = 8;
  r.PictureOpacity = 90;
  r.Start = 2;
  r.End = 2;
  return r;
}

} // namespace

TEST_F(WatermarkList, EditsReachTheRecordInListOrderAndCancelLeavesItAlone) {
  TlvFilesRecord record;
  record.Watermarks = {Text("first", 1), Picture("/p.bmp", 2), Text("third", 3)};
  TWatermarkList list;
  list.Load(record);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Item(1).Caption(), "/p.bmp");
  EXPECT_EQ(list.Item(1).Opacity, 90);
  EXPECT_EQ(list.Item(0).Opacity, 200);

  // Cancel: nothing written, the record stays as it was whatever was edited.
  list.Item(0).Left = 99;
  EXPECT_EQ(list.Delete(2), 1);
  EXPECT_EQ(record.Watermarks.size(), 3u);
  EXPECT_EQ(record.Watermarks[0].TextLeft, 1);

  // Ok after moving the picture first: two watermarks, picture underneath the text.
  EXPECT_EQ(list.MoveUp(1), 0);
  EXPECT_EQ(list.MoveUp(0), 0) << "already first";
  EXPECT_EQ(list.MoveDown(1), 1) << "already last";
  list.Item(1).Start = 0;
  list.Item(1).End = 9;
  list.WriteTo(record);
  ASSERT_EQ(record.Watermarks.size(), 2u);
  const TWmRec &pic = record.Watermarks[0];
  EXPECT_EQ(pic.Kind, TWmRec::wkPicture);
  EXPECT_EQ(pic.PictureFile, "/p.bmp");
  EXPECT_EQ(pic.PictureLeft, 2);
  EXPECT_EQ(pic.PictureOpacity, 90);
  EXPECT_EQ(pic.Start, 2);
  const TWmRec &text = record.Watermarks[1];
  EXPECT_EQ(text.Kind, TWmRec::wkText);
  EXPECT_EQ(text.Text, "first");
  EXPECT_EQ(text.TextLeft, 99);
  EXPECT_EQ(text.TextWidth, 40);
  EXPECT_TRUE(text.Font.Bold);
  EXPECT_FALSE(text.OpaqueBackground);
  EXPECT_EQ(text.TextOpacity, 200);
  EXPECT_EQ(text.Start, 0);
  EXPECT_EQ(text.End, 9);
  EXPECT_TRUE(record.NeedsCustomHook());

  // Deleting every line empties the record's list.
  list.Delete(0);
  EXPECT_EQ(list.Delete(0), -1);
  list.WriteTo(record);
  EXPECT_TRUE(record.Watermarks.empty());
  EXPECT_FALSE(record.NeedsCustomHook());
}

TEST_F(WatermarkList, NewItemsAreCentredOverTheWholeClipAndBadPicturesAddNothing) {
  tovi::test::TempDir dir;
  TWatermarkList list;
  const TWmStyle style = DefaultWmStyle("DejaVu Sans");
  EXPECT_EQ(style.Font.Size, 26);
  EXPECT_EQ(style.Font.Color, MakeColor(0, 0, 255));
  EXPECT_EQ(style.BackgroundColor, MakeColor(0, 128, 0));
  EXPECT_EQ(style.Opacity, 125);

  ASSERT_EQ(list.AddText(style, 640, 360, 7), 0);
  const TWmItem &text = list.Item(0);
  EXPECT_EQ(text.Caption(), "Add Text");
  int w = 0, h = 0;
  MeasureText("Add Text", style.Font, w, h);
  EXPECT_EQ(text.Width, w);
  EXPECT_EQ(text.Height, h);
  EXPECT_NEAR(text.Left + text.Width / 2.0, 320, 1);
  EXPECT_NEAR(text.Top + text.Height / 2.0, 180, 1);
  EXPECT_EQ(text.Opacity, 125);
  EXPECT_EQ(text.Start, 0);
  EXPECT_EQ(text.End, 7);

  // A longer text widens the box from the same corner.
  const int left = text.Left;
  list.SetText(0, "A much longer watermark");
  EXPECT_GT(list.Item(0).Width, w);
  EXPECT_EQ(list.Item(0).Left, left);

  QImage png(30, 10, QImage::Format_ARGB32);
  png.fill(Qt::red);
  const std::string file = dir.file("logo.png");
  ASSERT_TRUE(png.save(QString::fromStdString(file)));
  ASSERT_EQ(list.AddPicture(file, 77, 640, 360, 7), 1);
  EXPECT_EQ(list.Item(1).Width, 30);
  EXPECT_EQ(list.Item(1).Height, 10);
  EXPECT_EQ(list.Item(1).Left, 305);
  EXPECT_EQ(list.Item(1).Top, 175);

  std::ofstream(dir.file("broken.bmp")) << "BM not really a bitmap";
  for (const std::string &bad : {dir.file("broken.bmp"), dir.file("missing.bmp")}) {
    try {
      list.AddPicture(bad, 77, 640, 360, 7);
      ADD_FAILURE() << bad << " was accepted";
    } catch (const TWatermarkError &e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << "the message names the file";
    }
  }
  EXPECT_EQ(list.Count(), 2) << "nothing half-added";
}

// The editor draws a text layer over the frame with its opacity; the conversion stamps
// the same item into the frame. Both must give the same picture.
TEST_F(WatermarkList, TextLayerLooksAsTheStampedText) {
  for (const bool opaque : {true, false}) {
    TWmRec mark = Text("Tovi", 6);
    mark.OpaqueBackground = opaque;
    mark.Font.Color = MakeColor(255, 255, 0);
    mark.BackgroundColor = MakeColor(0, 0, 200);
    mark.TextOpacity = 255;
    MeasureText(mark.Text, mark.Font, mark.TextWidth, mark.TextHeight);

    TBitmap stamped(80, 50);
    QImage shown(80, 50, QImage::Format_RGB32);
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 80; ++x) {
        const int g = (x * 3 + y * 5) & 0xFF;
        std::uint8_t *p = stamped.ScanLine(y) + x * 3;
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(g);
        shown.setPixel(x, y, qRgb(g, g, g));
      }
    TWatermarkRenderer::StampText(stamped, mark);
    {
      QPainter painter(&shown);
      painter.drawImage(mark.TextLeft, mark.TextTop, TWatermarkRenderer::TextLayer(mark));
    }
    int worst = 0, changed = 0;
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 80; ++x) {
        const std::uint8_t *p = stamped.ScanLine(y) + x * 3;
        const QRgb q = shown.pixel(x, y);
        worst = std::max(
            {worst, std::abs(p[2] - qRed(q)), std::abs(p[1] - qGreen(q)), std::abs(p[0] - qBlue(q))});
        changed += qGreen(q) != qBlue(q);
      }
    EXPECT_LE(worst, 3) << (opaque ? "opaque" : "transparent");
    EXPECT_GT(changed, 10) << "the text is drawn";
  }
}
