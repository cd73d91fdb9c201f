// Playing generated files for real (SDL dummy drivers): opening and its failures, the
// end of a file, the pictures the hook and the snapshot get, and A/V sync.
#include <fstream>

#include "PlayerTestSupport.h"
#include "media/Texts.h"

using namespace tovi;
using namespace tovi::test;

namespace {

class PlaybackTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { UseDummyDrivers(); }
  void SetUp() override { LoadPlayerLibraries(); }
};

constexpr std::int64_t kFrameUs = 40000; // the fixtures' 25 frames per second

TEST_F(PlaybackTest, OpenFailuresGiveTheirTexts) {
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  const std::string missing = FixturePath("no_such_file.mp4");
  EXPECT_FALSE(player.Open(missing, 0, false));
  EXPECT_EQ(player.LastErrorText(), ErrorText(missing, AVERROR(ENOENT)));

  // A file whose only stream is a subtitle opens, but nothing in it can be played.
  TempDir dir;
  const std::string srt = dir.file("only_subtitles.srt");
  std::ofstream(srt)
      << "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n2\n00:00:01,000 --> 00:00:02,000\nWorld\n";
  EXPECT_FALSE(player.Open(srt, 0, false));
  EXPECT_EQ(player.LastErrorText(), srt + ": could not open codecs, no stream to play.");

  // After failures the player is idle and reports nothing.
  EXPECT_TRUE(player.IsPaused());
  EXPECT_EQ(player.CurrentPosition(), -1);
  EXPECT_TRUE(log.States().empty());

  // ... and still plays the next file.
  EXPECT_TRUE(player.Open(FixturePath("video_only.mp4"), 0, false)) << player.LastErrorText();
  EXPECT_TRUE(log.WaitFor(psPlay));
}

TEST_F(PlaybackTest, OpenReportsTheFileAndANewOpenStopsTheOldFileFirst) {
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  std::int64_t duration = 0;
  int width = 0, height = 0;
  player.SetOnFileOpen([&](TCustomPlayer *, std::int64_t d, int w, int h, int &, int &) {
    duration = d;
    width = w;
    height = h;
  });
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, false)) << player.LastErrorText();
  EXPECT_NEAR(duration, 2000000, 50000);
  EXPECT_EQ(width, 176);
  EXPECT_EQ(height, 144);
  ASSERT_TRUE(log.WaitFor(psPlay));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  ASSERT_TRUE(player.Open(FixturePath("audio_only.wav"), 0, false)) << player.LastErrorText();
  EXPECT_EQ(width, -1); // no video stream
  EXPECT_EQ(height, -1);
  ASSERT_TRUE(log.WaitFor(psPlay, 2));
  const auto states = log.States();
  const auto firstPlay = std::find(states.begin(), states.end(), psPlay);
  const auto stop = std::find(firstPlay, states.end(), psStop);
  const auto secondPlay = std::find(firstPlay + 1, states.end(), psPlay);
  ASSERT_NE(stop, states.end());
  EXPECT_LT(stop, secondPlay) << "the old file's psStop arrives before the new file's psPlay";
  EXPECT_EQ(std::count(states.begin(), states.end(), psStop), 1);
  player.Stop(true);
  EXPECT_TRUE(log.WaitFor(psStop, 2, 100));
}

TEST_F(PlaybackTest, AFileWithVideoReportsItsEndOnceAndTheClampedDuration) {
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, false)) << player.LastErrorText();
  ASSERT_TRUE(log.WaitFor(psEnd, 1, 6000));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(log.Count(psEnd), 1);
  const auto positions = log.Positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_NEAR(static_cast<double>(positions.back()), 2000000.0, 2.0 * kFrameUs);
  EXPECT_FALSE(player.IsPaused());
}

TEST_F(PlaybackTest, AnAudioOnlyFileKeepsReportingItsEndWhileDrained) {
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  ASSERT_TRUE(player.Open(FixturePath("audio_only.wav"), 0, false)) << player.LastErrorText();
  // The wave display replaces the picture; there is no picture to snapshot.
  std::int64_t pts = 0;
  TBitmap *frame = player.CurrentFrame(pts);
  EXPECT_EQ(frame->Width(), 0);
  EXPECT_EQ(frame->Height(), 0);
  EXPECT_EQ(pts, -1);
  // Consecutive psEnd posts merge in the ring, so each delivery is a separate report.
  EXPECT_TRUE(log.WaitFor(psEnd, 3, 5000)) << "psEnd delivered " << log.Count(psEnd) << " times";
  EXPECT_GT(player.CurrentPosition(), 900000);
}

TEST_F(PlaybackTest, RawFlacPlaysToItsEndBeforeTheEndIsReported) {
  // The raw FLAC demuxer still holds parsed frames when the last bytes have been read.
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  std::int64_t duration = 0;
  player.SetOnFileOpen([&](TCustomPlayer *, std::int64_t d, int, int, int &, int &) { duration = d; });
  ASSERT_TRUE(player.Open(FixturePath("audio_only.flac"), 0, false)) << player.LastErrorText();
  EXPECT_NEAR(static_cast<double>(duration), 2000000.0, 50000.0);
  ASSERT_TRUE(log.WaitFor(psEnd, 1, 8000));
  // When the end is first reported the clock has passed every sample, bar the device's
  // own small buffer.
  const auto positions = log.Positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_GE(positions.back(), 1900000);
  EXPECT_LE(positions.back(), duration);
  player.Stop(true);
}

TEST_F(PlaybackTest, CurrentFrameShowsThePatternPictureAtItsTime) {
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, true)) << player.LastErrorText();
  ASSERT_TRUE(log.WaitFor(psPause));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(player.IsPaused());
  std::int64_t pts = -2;
  TBitmap *bmp = player.CurrentFrame(pts);
  ASSERT_EQ(bmp->Width(), 176);
  ASSERT_EQ(bmp->Height(), 144);
  const int frame = fixtures::ReadFrameNumberFromBGR(bmp->Bits(), bmp->RowBytes(), 176, 144);
  ASSERT_GE(frame, 0);
  EXPECT_EQ(frame, 1); // opened paused: the second picture is the one left on screen
  EXPECT_EQ(frame, static_cast<int>((pts + kFrameUs / 2) / kFrameUs));
  // Colour bars survive the YUV 4:2:0 round trip (BGR byte order).
  for (int bar = 0; bar < fixtures::kBarCount; ++bar) {
    const fixtures::PixelRect r = fixtures::PatternBarRect(bar, 176, 144);
    const std::uint8_t *px = bmp->ScanLine(r.CenterY()) + 3 * r.CenterX();
    const fixtures::Rgb want = fixtures::PatternBarColor(bar);
    EXPECT_NEAR(px[2], want.r, 40) << "bar " << bar;
    EXPECT_NEAR(px[1], want.g, 40) << "bar " << bar;
    EXPECT_NEAR(px[0], want.b, 40) << "bar " << bar;
  }
}

TEST_F(PlaybackTest, TheHookSeesEveryPictureInOrderAndItsDrawingIsShown) {
  THookLog all;
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  // The hook paints a white square into the bottom right corner (the black bar); the
  // snapshot must show it.
  player.SetHook(true);
  player.SetOnHook([](TCustomPlayer *, TBitmap *bmp, std::int64_t) {
    for (int y = bmp->Height() - 16; y < bmp->Height(); ++y)
      for (int x = bmp->Width() - 16; x < bmp->Width(); ++x) {
        std::uint8_t *p = bmp->ScanLine(y) + 3 * x;
        p[0] = p[1] = p[2] = 255;
      }
  });
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, true)) << player.LastErrorText();
  ASSERT_TRUE(log.WaitFor(psPause));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  TBitmap *bmp = player.CurrentFrame();
  ASSERT_EQ(bmp->Width(), 176);
  const std::uint8_t *inside = bmp->ScanLine(144 - 8) + 3 * (176 - 8);
  EXPECT_GT(inside[0], 200);
  EXPECT_GT(inside[1], 200);
  EXPECT_GT(inside[2], 200);
  const std::uint8_t *outside = bmp->ScanLine(144 - 8) + 3 * (176 - 26);
  EXPECT_LT(outside[0] + outside[1] + outside[2], 120); // still the black bar
  player.Stop(true);

  // Played through, the hook gets the pictures in order, each with its own time.
  all.Attach(player);
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, false));
  ASSERT_TRUE(log.WaitFor(psEnd, 1, 6000));
  const auto hooked = all.Hooked();
  ASSERT_GE(hooked.size(), 40u) << "a 50-picture clip hooks (nearly) every picture";
  for (size_t i = 0; i < hooked.size(); ++i) {
    EXPECT_EQ(hooked[i].frame, static_cast<int>((hooked[i].pts + kFrameUs / 2) / kFrameUs)) << i;
    if (i) {
      EXPECT_GT(hooked[i].frame, hooked[i - 1].frame) << i;
    }
  }
}

TEST_F(PlaybackTest, VideoFollowsTheAudioClock) {
  TEventLog log;
  TFFPlayer player;
  log.Attach(player);
  ASSERT_TRUE(player.Open(FixturePath("h264_aac.mp4"), 0, false)) << player.LastErrorText();
  ASSERT_TRUE(log.WaitFor(psPlay));
  const auto start = std::chrono::steady_clock::now();
  double worst = 0, sum = 0;
  int samples = 0;
  while (SecondsSince(start) < 1.8 && log.Count(psEnd) == 0) {
    double video = 0, audio = 0;
    if (SecondsSince(start) > 1.0 && player.GetClocks(video, audio)) {
      worst = std::max(worst, std::fabs(video - audio));
      sum += std::fabs(video - audio);
      ++samples;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_GT(samples, 5);
  std::printf(
      "[ measured ] video - audio clock after the first second: mean %.1f ms, worst %.1f ms (%d samples)\n",
      1000 * sum / samples, 1000 * worst, samples);
  EXPECT_LT(1000 * sum / samples, 40.0);
  EXPECT_LT(worst, 0.15); // loose: sanitizer builds and a busy machine stretch single ticks
}

} // namespace
