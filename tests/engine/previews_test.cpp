// Previews of encoded pictures: the rate limit, the two outputs, and how a closed or
// missing previewer stops them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/EngineStepsAccess.h"
#include "engine/EngineTestSupport.h"
#include "media/Bitmap.h"

namespace tovi::test {
namespace {

using A = TEngineStepsAccess;

struct PreviewerLog {
  std::atomic<int> Created{0};
  std::atomic<int> Shown{0};
  std::atomic<int> Destroyed{0};
  int CloseAfter = 1000000; // ShowFrame answers false from this call on
  std::int64_t LastPts = 0;
  int LastWidth = 0;
};

class TestPreviewer : public IFramePreviewer {
public:
  explicit TestPreviewer(PreviewerLog &log) : log_(log) { ++log_.Created; }
  ~TestPreviewer() override { ++log_.Destroyed; }
  bool ShowFrame(const TBitmap &bitmap, int, std::int64_t pts) override {
    log_.LastPts = pts;
    log_.LastWidth = bitmap.Width();
    return ++log_.Shown < log_.CloseAfter;
  }

private:
  PreviewerLog &log_;
};

class PreviewsTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    encoder_.reset(ff::avcodec_alloc_context3(nullptr));
    encoder_->time_base = AVRational{1, 25};
    picture_ = MakePicture(AV_PIX_FMT_YUV420P, 64, 48, [](int, int x, int) { return std::uint8_t(x * 3); });
    SetPreviewerFactory([this] { return std::make_unique<TestPreviewer>(previewer_); });
  }
  void TearDown() override { SetPreviewerFactory(nullptr); }
  void Preview(std::int64_t pts = 0) {
    picture_->pts = pts;
    A::RunPreviews(engine_, picture_.get(), encoder_.get());
  }

  CodecContextPtr encoder_;
  FramePtr picture_;
  PreviewerLog previewer_;
};

TEST_F(PreviewsTest, AtMostOnePreviewPerInterval) {
  int previews = 0;
  std::int64_t lastPts = -1;
  engine_.SetOnPreviewBitmap([&](TCustomFFmpeg &, const TBitmap &bitmap, int, std::int64_t pts) {
    ++previews;
    lastPts = pts;
    EXPECT_EQ(bitmap.Width(), 64);
  });
  engine_.SetPreviewFlags(PREVIEW_BITMAP);
  const auto start = std::chrono::steady_clock::now();
  // A fast encoder: a picture every 5 ms for a third of a second.
  for (int frame = 0; std::chrono::steady_clock::now() - start < std::chrono::milliseconds(330); ++frame) {
    Preview(frame);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto elapsedUs =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(previews, 1);
  EXPECT_LE(previews, elapsedUs / engine_.PreviewIntervalUs() + 1);
  EXPECT_EQ(lastPts % 40000, 0);  // frames of 1/25 s, in microseconds
  EXPECT_EQ(previewer_.Shown, 0); // the bitmap output wins
}

TEST_F(PreviewsTest, PreviewerIsMadeOnFirstUseAndItsClosingClearsItsBit) {
  previewer_.CloseAfter = 2;
  engine_.SetPreviewFlags(PREVIEW_PREVIEWER);
  Preview(50);
  EXPECT_EQ(previewer_.Shown, 1);
  EXPECT_EQ(previewer_.LastPts, 2000000);
  EXPECT_EQ(previewer_.LastWidth, 64);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  Preview(); // the user has closed the window meanwhile
  EXPECT_EQ(previewer_.Shown, 2);
  EXPECT_EQ(engine_.PreviewFlags(), 0);
  EXPECT_EQ(previewer_.Destroyed, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  Preview();
  EXPECT_EQ(previewer_.Shown, 2);
}

TEST_F(PreviewsTest, ClearingThePreviewerBitFreesThePreviewerAndKeepsTheOtherBit) {
  engine_.SetPreviewFlags(PREVIEW_PREVIEWER);
  Preview();
  ASSERT_EQ(previewer_.Shown, 1);
  engine_.SetPreviewFlags(PREVIEW_PREVIEWER | PREVIEW_BITMAP);
  EXPECT_EQ(previewer_.Destroyed, 0);
  engine_.SetPreviewFlags(PREVIEW_BITMAP);
  EXPECT_EQ(previewer_.Destroyed, 1);
  EXPECT_EQ(engine_.PreviewFlags(), PREVIEW_BITMAP);
}

TEST_F(PreviewsTest, WithoutAFactoryThePreviewerBitClearsAtOnce) {
  SetPreviewerFactory(nullptr);
  engine_.SetPreviewFlags(PREVIEW_PREVIEWER | PREVIEW_BITMAP); // no bitmap callback set
  Preview();
  EXPECT_EQ(engine_.PreviewFlags(), PREVIEW_BITMAP);
}

TEST_F(PreviewsTest, APictureThatCannotBeConvertedStopsItsOutput) {
  int previews = 0;
  engine_.SetOnPreviewBitmap([&](TCustomFFmpeg &, const TBitmap &, int, std::int64_t) { ++previews; });
  engine_.SetPreviewFlags(PREVIEW_BITMAP | PREVIEW_PREVIEWER);
  picture_->width = 0;
  Preview();
  EXPECT_EQ(previews, 0);
  EXPECT_TRUE(log_.Has(&engine_, llError, "Cannot initialize the toRGB conversion context"));
  EXPECT_EQ(engine_.PreviewFlags(), PREVIEW_PREVIEWER);
}

TEST_F(PreviewsTest, FlagsChangedFromAnotherThreadWhileFramesArePreviewed) {
  std::atomic<int> previews{0};
  engine_.SetOnPreviewBitmap([&](TCustomFFmpeg &, const TBitmap &, int, std::int64_t) { ++previews; });
  std::atomic<bool> done{false};
  std::thread host([&] {
    for (int i = 0; !done; ++i) {
      engine_.SetPreviewFlags(i % 3 == 0 ? PREVIEW_PREVIEWER : PREVIEW_BITMAP | PREVIEW_PREVIEWER);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(400))
    Preview();
  done = true;
  host.join();
  engine_.SetPreviewFlags(0);
  // Every previewer the flags dropped while a frame was shown went afterwards.
  EXPECT_EQ(previewer_.Created, previewer_.Destroyed);
  EXPECT_GE(previews.load() + previewer_.Shown, 1);
}

} // namespace
} // namespace tovi::test
