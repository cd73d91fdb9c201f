// The 24-bit bitmap and the RGB frame holder: pictures of odd and even sizes in YUV and
// BGR24, checked by the colours that arrive in the bitmap's rows.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "media/Bitmap.h"
#include "media/RGBHolder.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {

struct Colour {
  const char *name;
  int r, g, b; // what the bitmap must show
  int y, u, v; // BT.601 limited range, the scaler's default for YUV420P
};
constexpr Colour kRed{"red", 255, 0, 0, 81, 90, 240};
constexpr Colour kGreen{"green", 0, 255, 0, 145, 54, 34};
constexpr Colour kBlue{"blue", 0, 0, 255, 41, 240, 110};
constexpr Colour kWhite{"white", 255, 255, 255, 235, 128, 128};
constexpr Colour kBlack{"black", 0, 0, 0, 16, 128, 128};
// Top row of blocks and bottom row: every column differs between the two, so a picture
// turned upside down or mirrored shows the wrong colours.
constexpr Colour kTopRow[] = {kRed, kGreen, kBlue, kWhite, kBlack};
constexpr Colour kBottomRow[] = {kWhite, kBlack, kGreen, kBlue, kRed};

// Blocks of `columns` x 2 whose borders fall on even coordinates, so that every chroma
// sample lies inside one block.
struct Grid {
  int width, height, columns;
  int ColumnWidth() const { return (width / columns) & ~1; }
  int RowBorder() const { return (height / 2) & ~1; }
  const Colour &At(int x, int y) const {
    const int column = std::min(x / ColumnWidth(), columns - 1);
    return y < RowBorder() ? kTopRow[column] : kBottomRow[column];
  }
  int CentreX(int column) const {
    const int left = column * ColumnWidth();
    const int right = column == columns - 1 ? width : left + ColumnWidth();
    return (left + right) / 2;
  }
  int CentreY(int row) const { return row == 0 ? RowBorder() / 2 : (RowBorder() + height) / 2; }
};

FramePtr YuvFrame(int width, int height) {
  FramePtr frame = MakeFrame();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  EXPECT_EQ(ff::av_frame_get_buffer(frame.get(), 0), 0);
  return frame;
}

FramePtr GridFrame(const Grid &grid) {
  FramePtr frame = YuvFrame(grid.width, grid.height);
  for (int y = 0; y < grid.height; ++y)
    for (int x = 0; x < grid.width; ++x)
      frame->data[0][y * frame->linesize[0] + x] = grid.At(x, y).y;
  for (int cy = 0; cy < (grid.height + 1) / 2; ++cy)
    for (int cx = 0; cx < (grid.width + 1) / 2; ++cx) {
      const Colour &c = grid.At(2 * cx, 2 * cy);
      frame->data[1][cy * frame->linesize[1] + cx] = c.u;
      frame->data[2][cy * frame->linesize[2] + cx] = c.v;
    }
  return frame;
}

void ExpectGridColours(const TBitmap &bitmap, const Grid &grid, int tolerance) {
  ASSERT_EQ(bitmap.Width(), grid.width);
  ASSERT_EQ(bitmap.Height(), grid.height);
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < grid.columns; ++column) {
      const int x = grid.CentreX(column), y = grid.CentreY(row);
      const Colour &want = grid.At(x, y);
      const std::uint8_t *px = bitmap.ScanLine(y) + 3 * x;
      EXPECT_NEAR(px[0], want.b, tolerance) << want.name << " at " << x << "," << y;
      EXPECT_NEAR(px[1], want.g, tolerance) << want.name << " at " << x << "," << y;
      EXPECT_NEAR(px[2], want.r, tolerance) << want.name << " at " << x << "," << y;
    }
}

// A BGR24 picture whose every byte depends on its position.
FramePtr PatternFrame(int width, int height, int align) {
  FramePtr frame = MakeFrame();
  frame->format = AV_PIX_FMT_BGR24;
  frame->width = width;
  frame->height = height;
  EXPECT_EQ(ff::av_frame_get_buffer(frame.get(), align), 0);
  for (int y = 0; y < height; ++y)
    for (int i = 0; i < width * 3; ++i)
      frame->data[0][y * frame->linesize[0] + i] = (y * 31 + i * 7) & 0xff;
  return frame;
}

void ExpectSamePixels(const TBitmap &bitmap, const AVFrame *frame) {
  ASSERT_EQ(bitmap.Width(), frame->width);
  ASSERT_EQ(bitmap.Height(), frame->height);
  for (int y = 0; y < frame->height; ++y)
    ASSERT_EQ(std::memcmp(bitmap.ScanLine(y), frame->data[0] + y * frame->linesize[0], frame->width * 3), 0)
        << "row " << y;
}

class Holder : public ::testing::Test {
protected:
  void SetUp() override { tovi::test::LoadConverterLibraries(); }
  void TearDown() override { ResetHolder(holder_); }
  TRGBHolder holder_;
};

} // namespace

TEST(Bitmap, RowsArePaddedTopDownAndResizingClears) {
  const int expected[] = {0, 4, 8, 12, 12, 16, 20, 24, 24};
  for (int w = 0; w <= 8; ++w)
    EXPECT_EQ(TBitmap::RowBytesFor(w), expected[w]) << w;
  TBitmap bitmap(33, 17);
  EXPECT_EQ(bitmap.RowBytes(), 100);
  EXPECT_EQ(bitmap.ScanLine(16), bitmap.Bits() + 1600);
  std::memset(bitmap.Bits(), 0x55, bitmap.SizeBytes());
  bitmap.SetSize(33, 17);
  EXPECT_EQ(bitmap.ScanLine(16)[99], 0x55);
  bitmap.SetSize(5, 3);
  ASSERT_EQ(bitmap.SizeBytes(), 48u);
  for (std::size_t i = 0; i < bitmap.SizeBytes(); ++i)
    ASSERT_EQ(bitmap.Bits()[i], 0) << i;
  bitmap.SetSize(-3, 5);
  EXPECT_EQ(bitmap.Bits(), nullptr);
}

TEST_F(Holder, OddAndEvenYuvPicturesArriveWithTheirColours) {
  for (const Grid grid : {Grid{161, 121, 5}, Grid{33, 17, 3}, Grid{160, 120, 5}, Grid{2, 2, 1}}) {
    SCOPED_TRACE(testing::Message() << grid.width << "x" << grid.height);
    FramePtr frame = GridFrame(grid);
    ASSERT_TRUE(ConvertToBitmap(holder_, frame.get()));
    ASSERT_TRUE(holder_.Bitmap);
    ExpectGridColours(*holder_.Bitmap, grid, 12);
  }
}

TEST_F(Holder, BgrPicturesArriveByteForByteWithOrWithoutTheScaler) {
  // 64 x 3 = 192 bytes per row is already 4-aligned: copied without a scaler.
  FramePtr frame = PatternFrame(64, 4, 1);
  ASSERT_TRUE(ConvertToBitmap(holder_, frame->data, frame->linesize, AV_PIX_FMT_BGR24, 4, 64));
  ExpectSamePixels(*holder_.Bitmap, frame.get());
  EXPECT_FALSE(holder_.ToRGB || holder_.Buffer);
  // Odd sizes, and even sizes whose line size is wider than the bitmap's row.
  for (auto [w, h, align] : {std::tuple{33, 17, 1}, std::tuple{62, 10, 64}, std::tuple{64, 4, 128}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    frame = PatternFrame(w, h, align);
    ASSERT_TRUE(ConvertToBitmap(holder_, frame.get()));
    EXPECT_TRUE(holder_.ToRGB);
    ExpectSamePixels(*holder_.Bitmap, frame.get());
  }
}

TEST_F(Holder, BufferIsReusedUntilAPictureNeedsMore) {
  const Grid big{161, 121, 5};
  ASSERT_TRUE(ConvertToBitmap(holder_, GridFrame(big).get()));
  const std::uint8_t *buffer = holder_.Buffer.get();
  const int size = holder_.BufferSize;
  const SwsContext *scaler = holder_.ToRGB.get();
  EXPECT_GE(size, ff::av_image_get_buffer_size(AV_PIX_FMT_BGR24, 161, 121, 1));
  ASSERT_TRUE(ConvertToBitmap(holder_, GridFrame(big).get()));
  EXPECT_EQ(holder_.ToRGB.get(), scaler) << "the cached context serves the same conversion again";

  const Grid small{33, 17, 3};
  ASSERT_TRUE(ConvertToBitmap(holder_, GridFrame(small).get()));
  EXPECT_EQ(holder_.Buffer.get(), buffer);
  EXPECT_EQ(holder_.BufferSize, size);
  ExpectGridColours(*holder_.Bitmap, small, 12);

  ASSERT_TRUE(ConvertToBitmap(holder_, GridFrame(big).get()));
  EXPECT_EQ(holder_.Buffer.get(), buffer);
  ExpectGridColours(*holder_.Bitmap, big, 12);

  const Grid larger{320, 240, 5};
  ASSERT_TRUE(ConvertToBitmap(holder_, GridFrame(larger).get()));
  EXPECT_GT(holder_.BufferSize, size);
  ExpectGridColours(*holder_.Bitmap, larger, 12);
}

TEST_F(Holder, ResetFreesEverythingAndTheHolderWorksAgain) {
  ASSERT_TRUE(ConvertToBitmap(holder_, GridFrame({33, 17, 3}).get()));
  FramePtr back = YuvFrame(33, 17);
  ASSERT_TRUE(ConvertFromBitmap(holder_, back.get()));
  ResetHolder(holder_);
  EXPECT_FALSE(holder_.Bitmap || holder_.Buffer || holder_.ToRGB || holder_.FromRGB);
  EXPECT_EQ(holder_.BufferSize, 0);
  EXPECT_EQ(holder_.Data[0], nullptr);
  EXPECT_FALSE(ConvertFromBitmap(holder_, back.get()));
  ASSERT_TRUE(ConvertToBitmap(holder_, GridFrame({161, 121, 5}).get()));
  ExpectGridColours(*holder_.Bitmap, {161, 121, 5}, 12);
  // Empty pictures are refused.
  EXPECT_FALSE(ConvertToBitmap(holder_, back->data, back->linesize, AV_PIX_FMT_YUV420P, 0, 4));
  EXPECT_FALSE(ConvertToBitmap(holder_, back->data, back->linesize, AV_PIX_FMT_YUV420P, 4, -1));
}

TEST_F(Holder, BitmapTurnsBackIntoAPictureOfAnySize) {
  const Grid grid{161, 121, 5};
  ASSERT_TRUE(ConvertToBitmap(holder_, GridFrame(grid).get()));
  // Back to YUV at the same size and at half size; the blocks keep their colours.
  for (const Grid target : {grid, Grid{80, 60, 5}}) {
    FramePtr back = YuvFrame(target.width, target.height);
    ASSERT_TRUE(ConvertFromBitmap(holder_, back.get()));
    TRGBHolder again;
    ASSERT_TRUE(ConvertToBitmap(again, back.get()));
    ExpectGridColours(*again.Bitmap, target, 24);
  }
}
