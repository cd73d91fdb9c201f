// The "target" option: norm decision (prefix, frame rate setting, input streams,
// default) and the settings of each disc or camcorder type.
#include "EngineTestSupport.h"

using namespace tovi;
using tovi::test::EngineTest;

namespace {

class TargetTest : public EngineTest {
protected:
  std::string Refused(const std::string &value) {
    return Raised([&] { engine_.ParseOption("target", value); });
  }
  // Registers a generated file as AddInputFile would.
  void AddInput(const std::string &name) { engine_.RegisterInputFile(test::OpenFixture(name), 0); }
  void ExpectRate(int num, int den) {
    EXPECT_EQ(engine_.Pending().FrameRate.num, num);
    EXPECT_EQ(engine_.Pending().FrameRate.den, den);
  }
  void ExpectSize(int width, int height) {
    EXPECT_EQ(engine_.Pending().FrameWidth, width);
    EXPECT_EQ(engine_.Pending().FrameHeight, height);
  }
};

TEST_F(TargetTest, PalDvd) {
  engine_.ParseOption("ac", "1");
  engine_.ParseOption("target", " pal-dvd ");
  ExpectSize(720, 576);
  ExpectRate(25, 1);
  EXPECT_EQ(engine_.Pending().VideoCodecName, "mpeg2video");
  EXPECT_EQ(engine_.Pending().AudioCodecName, "ac3");
  EXPECT_EQ(engine_.Pending().FormatName, "dvd");
  EXPECT_EQ(engine_.Pending().AudioSampleRate, 48000);
  EXPECT_EQ(engine_.Pending().AudioChannels, 2);
  EXPECT_EQ(VideoInt("g"), 15);
  EXPECT_EQ(VideoInt("b"), 6000000);
  EXPECT_EQ(VideoInt("maxrate"), 9000000);
  EXPECT_EQ(VideoInt("bufsize"), 1835008);
  EXPECT_EQ(AudioInt("b"), 448000);
  EXPECT_DOUBLE_EQ(engine_.Pending().FrameAspectRatio, 16.0 / 9.0);
  EXPECT_TRUE(log_.Has(&engine_, llInfo, "Assuming 16:9 for aspect ratio"));
  // A given norm needs no decision.
  EXPECT_FALSE(log_.Has(&engine_, llVerbose, "Assuming PAL for target."));
}

TEST_F(TargetTest, GivenAspectAndChannelsAreKept) {
  engine_.ParseOption("aspect", "4:3");
  engine_.ParseOption("ac", "6");
  engine_.ParseOption("target", "ntsc-dvd");
  EXPECT_DOUBLE_EQ(engine_.Pending().FrameAspectRatio, 4.0 / 3.0);
  EXPECT_FALSE(log_.Has(&engine_, llInfo, "Assuming 16:9 for aspect ratio"));
  EXPECT_EQ(engine_.Pending().AudioChannels, 6);
  EXPECT_EQ(VideoInt("g"), 18);
  ExpectSize(720, 480);
  ExpectRate(30000, 1001);
}

TEST_F(TargetTest, VcdDecidesNtscFromTheFrameRateSetting) {
  engine_.ParseOption("r", "30000/1001");
  engine_.ParseOption("ac", "6");
  engine_.ParseOption("target", "vcd");
  EXPECT_TRUE(log_.Has(&engine_, llVerbose, "Assuming NTSC for target."));
  ExpectSize(352, 240);
  ExpectRate(30000, 1001);
  EXPECT_EQ(engine_.Pending().VideoCodecName, "mpeg1video");
  EXPECT_EQ(engine_.Pending().AudioCodecName, "mp2");
  EXPECT_EQ(engine_.Pending().AudioSampleRate, 44100);
  EXPECT_EQ(engine_.Pending().AudioChannels, 2);
  EXPECT_EQ(VideoInt("g"), 18);
  EXPECT_EQ(VideoInt("minrate"), 1150000);
  EXPECT_EQ(AudioInt("b"), 224000);
  EXPECT_DOUBLE_EQ(engine_.Job().MuxPreloadSeconds, 0.44);
  EXPECT_DOUBLE_EQ(engine_.Pending().FrameAspectRatio, 4.0 / 3.0);
  EXPECT_TRUE(log_.Has(&engine_, llInfo, "Assuming 4:3 for aspect ratio"));
}

TEST_F(TargetTest, FrameRateSettingNeededForAutomaticNorm) {
  EXPECT_EQ(Refused("vcd"), "frame_rate is invalid.");
  EXPECT_TRUE(engine_.Pending().VideoCodecName.empty());
  // The verbose level only silences the decision's message.
  engine_.ParseOption("r", "25");
  engine_.ParseOption("v", "0");
  engine_.ParseOption("target", "vcd");
  ExpectSize(352, 288);
  EXPECT_FALSE(log_.Has(&engine_, llVerbose, "Assuming PAL for target."));
}

TEST_F(TargetTest, UndecidedRateLooksAtTheInputsVideoStreams) {
  engine_.ParseOption("r", "15");
  AddInput("audio_only.wav");      // no video stream
  AddInput("ntsc_30000_1001.mp4"); // decides: NTSC sizes
  AddInput("h264_aac.mp4");        // 25 fps, not reached
  engine_.ParseOption("target", "svcd");
  EXPECT_TRUE(log_.Has(&engine_, llVerbose, "Assuming NTSC for target."));
  ExpectSize(480, 480);
  ExpectRate(30000, 1001);
}

TEST_F(TargetTest, PalInputDecides) {
  engine_.ParseOption("r", "10");
  AddInput("h264_aac.mp4");
  engine_.ParseOption("target", "dvd");
  ExpectSize(720, 576);
  ExpectRate(25, 1);
}

TEST_F(TargetTest, DefaultNormWhenNothingDecides) {
  engine_.ParseOption("r", "10");
  engine_.ParseOption("target", "vcd"); // the option's default is NTSC
  ExpectSize(352, 240);
  engine_.SetFrameRate("10");
  log_.Clear();
  engine_.SetTarget("vcd", "", "film");
  ExpectRate(24000, 1001);
  EXPECT_TRUE(log_.Has(&engine_, llVerbose, "Assuming NTSC for target."));
  engine_.SetFrameRate("10");
  engine_.SetTarget("vcd", "secam", "pal");
  ExpectSize(352, 288);
  EXPECT_TRUE(log_.Has(&engine_, llVerbose, "Assuming PAL for target."));
}

TEST_F(TargetTest, FilmSvcd) {
  engine_.ParseOption("ac", "1");
  engine_.ParseOption("target", "film-svcd");
  ExpectSize(480, 480);
  ExpectRate(24000, 1001);
  EXPECT_EQ(engine_.Pending().FormatName, "svcd");
  EXPECT_EQ(engine_.Pending().AudioChannels, 2);
  EXPECT_EQ(VideoInt("b"), 2040000);
  EXPECT_EQ(VideoInt("maxrate"), 2516000);
  EXPECT_EQ(VideoInt("g"), 18);
}

TEST_F(TargetTest, DvPixelFormats) {
  engine_.ParseOption("target", "ntsc-dv");
  EXPECT_EQ(engine_.Pending().FramePixelFormat, AV_PIX_FMT_YUV411P);
  EXPECT_EQ(engine_.Pending().FormatName, "dv");
  ExpectSize(720, 480);
  EXPECT_TRUE(engine_.Pending().VideoCodecName.empty());
  engine_.ParseOption("target", "pal-dv");
  EXPECT_EQ(engine_.Pending().FramePixelFormat, AV_PIX_FMT_YUV420P);
  for (const char *value : {"pal-dv50", "ntsc-dv50", "film-dv50"}) {
    engine_.ParseOption("target", value);
    EXPECT_EQ(engine_.Pending().FramePixelFormat, AV_PIX_FMT_YUV422P) << value;
    EXPECT_EQ(engine_.Pending().AudioSampleRate, 48000);
    EXPECT_DOUBLE_EQ(engine_.Pending().FrameAspectRatio, 0); // dv assumes no aspect
  }
}

TEST_F(TargetTest, UnknownType) {
  EXPECT_EQ(Refused("pal-bluray"), "Unknown target type");
  EXPECT_EQ(Refused("PAL-dvd"), "frame_rate is invalid."); // prefixes are lower case
  engine_.ParseOption("r", "25");
  EXPECT_EQ(Refused("PAL-dvd"), "Unknown target type");
}

} // namespace
