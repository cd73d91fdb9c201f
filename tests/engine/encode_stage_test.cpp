// Jobs whose video encoder runs on a thread of its own (more than one thread): every
// picture arrives, in order, with its own contents, and a stop while the encoder is
// behind ends the job promptly with a whole file.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TranscodeTestSupport.h"

namespace tovi::test {
namespace {

using namespace std::chrono_literals;

class EncodeStageTest : public TranscodeTest {
protected:
  void SetUp() override {
    TranscodeTest::SetUp();
    engine_.SetThreadCount(2);
  }
};

TEST_F(EncodeStageTest, ScaledPicturesAllArriveInOrderWithTheirOwnContents) {
  // The scaler writes every picture into a buffer while the encoder's queue and its
  // look-ahead still hold earlier ones: a buffer used twice would show a later frame
  // number; a lost end of the queue would shorten the stream.
  const std::string out = Out("threaded.mp4");
  ASSERT_TRUE(Configure(
      {{"i", "h264_aac.mp4"}, {"vcodec", "libx264"}, {"vpre", "medium"}, {"s", "352x288"}, {"acodec", "aac"}},
      out));
  ASSERT_TRUE(RunJob());
  const FileSummary file = ReadOutput(out);
  const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
  const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(v && a);
  EXPECT_EQ(v->Width, 352);
  EXPECT_EQ(v->Height, 288);
  EXPECT_EQ(v->Frames, 50);
  EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
  EXPECT_NEAR(v->FirstSeconds, 0.0, 0.001);
  EXPECT_NEAR(v->LastSeconds, 49 * 0.04, 0.001);
  EXPECT_NEAR(file.DurationSeconds, 2.0, 0.05);
  EXPECT_GT(a->Rms, 0.1);
}

TEST_F(EncodeStageTest, StopWhileTheEncoderIsBehindFinishesTheFile) {
  // A slow encoder keeps the picture queue full, so the job's thread waits on it.
  const std::string out = Out("stopped.mp4");
  ASSERT_TRUE(Configure(
      {{"i", "h264_aac.mp4"}, {"vcodec", "libx264"}, {"vpre", "veryslow"}, {"s", "704x576"}, {"an", "1"}},
      out));
  engine_.SetProgressIntervalUs(0);
  std::atomic<int> reports{0};
  engine_.SetOnProgress([&](TCustomFFmpeg &, int, int, int, float, float, std::int64_t, std::int64_t,
                            std::int64_t) { ++reports; }); // job's thread
  std::atomic<int> notices{0};
  engine_.SetOnTerminate([&](TCustomFFmpeg &) { ++notices; });
  TConvertThread *thread = engine_.Start(true);
  ASSERT_NE(thread, nullptr);
  thread->Resume();
  for (int i = 0; i < 1000 && reports < 3; ++i)
    std::this_thread::sleep_for(10ms);
  engine_.Stop(true);
  EXPECT_FALSE(engine_.Busy());
  EXPECT_EQ(notices, 1);
  EXPECT_FALSE(engine_.ErrorOccurred()) << engine_.ErrorMessage();
  const FileSummary file = ReadOutput(out);
  ASSERT_TRUE(file.Opened);
  const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(v);
  // Every picture handed to the encoder before the stop is in the file, in order.
  EXPECT_GT(v->Frames, 0);
  EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
  EXPECT_NEAR(v->LastSeconds, (v->Frames - 1) * 0.04, 0.001);
  EXPECT_NEAR(file.DurationSeconds, v->Frames * 0.04, 0.041); // the index was written
}

} // namespace
} // namespace tovi::test
