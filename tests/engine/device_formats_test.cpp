// What a player needs of an H.264 output: 8-bit 4:2:0 unless another format is asked
// for, even frame sizes, a level that holds the frame, and the encoder's own reason
// when it refuses.
#include <gtest/gtest.h>

#include "TranscodeTestSupport.h"
#include "engine/H264Levels.h"

namespace tovi::test {
namespace {

// What the demuxer and the decoder say about the first video stream of a written file.
struct VideoFacts {
  bool Opened = false;
  std::string PixelFormat; // decoded pictures
  int Profile = FF_PROFILE_UNKNOWN;
  int Level = FF_LEVEL_UNKNOWN;
  int Width = 0, Height = 0;
};

VideoFacts ReadVideoFacts(const std::string &path) {
  VideoFacts facts;
  AVFormatContext *raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return facts;
  InputFormatContextPtr ic(raw);
  {
    // Reading the stream info decodes the first pictures, which gives their format.
    std::lock_guard lock(CodecLock());
    if (ff::avformat_find_stream_info(ic.get(), nullptr) < 0) return facts;
  }
  const int v = ff::av_find_best_stream(ic.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (v < 0) return facts;
  const AVCodecParameters *par = ic->streams[v]->codecpar;
  facts.Opened = true;
  const char *name = ff::av_get_pix_fmt_name(AVPixelFormat(par->format));
  facts.PixelFormat = name ? name : "none";
  facts.Profile = par->profile;
  facts.Level = par->level;
  facts.Width = par->width;
  facts.Height = par->height;
  return facts;
}

bool PlayerProfile(int profile) {
  return profile == FF_PROFILE_H264_BASELINE || profile == FF_PROFILE_H264_CONSTRAINED_BASELINE ||
         profile == FF_PROFILE_H264_MAIN || profile == FF_PROFILE_H264_HIGH;
}

using DeviceFormatsTest = TranscodeTest;

TEST_F(DeviceFormatsTest, HighChromaAndDeepSourcesBecomeEightBit420UnlessAFormatIsChosen) {
  for (const char *source : {"h264_yuv422p.mp4", "h264_yuv444p.mp4", "h264_yuv420p10.mp4"}) {
    SCOPED_TRACE(source);
    TranscodeTest::TearDown();
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out(std::string("plain_") + source);
    ASSERT_TRUE(Configure({{"i", source}, {"an", "1"}, {"vcodec", "libx264"}}, out));
    ASSERT_TRUE(RunJob());
    const VideoFacts facts = ReadVideoFacts(out);
    ASSERT_TRUE(facts.Opened);
    EXPECT_EQ(facts.PixelFormat, "yuv420p");
    EXPECT_TRUE(PlayerProfile(facts.Profile)) << "profile " << facts.Profile;
    const FileSummary summary = ReadOutput(out);
    ASSERT_NE(summary.First(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_TRUE(Consecutive(summary.First(AVMEDIA_TYPE_VIDEO)->PatternFrames, 0)) << "pictures survive";
  }
  // A format named with -pix_fmt is still taken as it is.
  TranscodeTest::TearDown();
  engine_.Reset();
  terminations_ = 0;
  const std::string out = Out("chosen.mp4");
  ASSERT_TRUE(Configure(
      {{"i", "h264_yuv420p10.mp4"}, {"an", "1"}, {"vcodec", "libx264"}, {"pix_fmt", "yuv422p"}}, out));
  ASSERT_TRUE(RunJob());
  const VideoFacts facts = ReadVideoFacts(out);
  EXPECT_EQ(facts.PixelFormat, "yuv422p");
  EXPECT_EQ(facts.Profile, FF_PROFILE_H264_HIGH_422);
}

TEST_F(DeviceFormatsTest, OddSizesBecomeEvenForH264WithAndWithoutFilters) {
  struct Case {
    const char *name;
    std::vector<std::pair<std::string, std::string>> options;
    int width, height;
  };
  const std::vector<Case> cases{
      {"scaled.mp4", {{"s", "161x121"}}, 160, 120},
      {"tiny.mp4", {{"s", "1x1"}}, 2, 2},
      {"filtered.mp4", {{"vf", "crop=w=151:h=111"}}, 150, 110},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TranscodeTest::TearDown();
    engine_.Reset();
    terminations_ = 0;
    std::vector<std::pair<std::string, std::string>> options{{"i", "video_only.mp4"}, {"vcodec", "libx264"}};
    options.insert(options.end(), c.options.begin(), c.options.end());
    ASSERT_TRUE(Configure(options, Out(c.name)));
    ASSERT_TRUE(RunJob());
    const FileSummary summary = ReadOutput(Out(c.name));
    const StreamSummary *video = summary.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->Width, c.width);
    EXPECT_EQ(video->Height, c.height);
    EXPECT_EQ(video->Frames, 50);
  }
}

TEST_F(DeviceFormatsTest, AnEncoderThatStillRefusesSaysWhy) {
  // H.263 takes only sizes in steps of 4; its own words reach the job's message.
  const std::string out = Out("refused.3gp");
  ASSERT_TRUE(Configure({{"i", "video_only.mp4"}, {"vcodec", "h263"}, {"s", "161x121"}}, out));
  engine_.Start(false);
  EXPECT_FALSE(engine_.CompletedNormally());
  const std::string message = engine_.ErrorMessage();
  EXPECT_TRUE(message.starts_with("Error while opening encoder for output stream #0.0")) << message;
  EXPECT_NE(message.find("h263: width and height must be a multiple of 4"), std::string::npos) << message;
}

TEST_F(DeviceFormatsTest, APresetLevelIsRaisedOnlyWhenTheFrameNeedsIt) {
  // The device presets ask for level 3.0, which holds 640x480 but not 1280x720.
  for (const auto &[size, level] : {std::pair{"1280x720", 31}, std::pair{"320x240", 30}}) {
    SCOPED_TRACE(size);
    TranscodeTest::TearDown();
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out(std::string("level_") + size + ".mp4");
    ASSERT_TRUE(Configure({{"i", "short_clip.mp4"},
                           {"an", "1"},
                           {"vcodec", "libx264"},
                           {"vpre", "mp4"},
                           {"s", size},
                           {"t", "0.4"}},
                          out));
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(ReadVideoFacts(out).Level, level);
  }
}

TEST(H264Levels, SmallestLevelHoldingSizeRateBitRateAndBuffer) {
  // level asked, width, height, fps, peak bit/s, buffer bits -> level
  struct Case {
    int asked, width, height;
    double fps;
    std::int64_t rate, buffer;
    int want;
  };
  const Case cases[] = {
      {30, 1280, 720, 30, 1500000, 4000000, 31}, // frame too big for 3.0
      {30, 1280, 720, 60, 1500000, 4000000, 32}, // macroblock rate of 720p60
      {30, 1920, 1080, 30, 10000000, 10000000, 40},
      {30, 640, 480, 30, 1250000, 4000000, 30},    // fits: kept
      {13, 320, 240, 29.97, 768000, 2000000, 13},  // the iPod profile's own limits
      {13, 320, 240, 29.97, 1500000, 2000000, 20}, // bit rate above 1.3
      {30, 640, 480, 30, 12000000, 12000000, 31},  // bit rate above 3.0
      {10, 16, 16, 15, 0, 0, 10},
      {30, 8192, 64, 1, 0, 0, 51},     // a side longer than sqrt(8 * MaxFS) up to 5.0
      {30, 65536, 65536, 30, 0, 0, 0}, // nothing holds it
      {40, 320, 240, 25, 0, 0, 40},    // never lowered
  };
  for (const Case &c : cases)
    EXPECT_EQ(FitH264Level(c.asked, {c.width, c.height, c.fps, c.rate, c.buffer}), c.want)
        << c.width << "x" << c.height << "@" << c.fps << " " << c.rate;
}

} // namespace
} // namespace tovi::test
