// The parameter builder's decisions, from small profile and settings files written by
// each test.
#include <gtest/gtest.h>

#include "AppcoreTestSupport.h"
#include "appcore/ParameterBuilder.h"
#include "appcore/ProfileCatalog.h"

using namespace tovi;

namespace {

constexpr int kCode = 300;

class Builder : public ::testing::Test {
protected:
  Builder() : profile_(dir_.file("profile.ini")), settings_(dir_.file("settings.ini")) {
    source_.VideoStreamCount = 1;
    source_.Width = 640;
    source_.Height = 480;
    source_.VideoBitRate = 900000;
    source_.AudioSampleRate = 48000;
    source_.AudioBitRate = 128000;
    Setting("paraVideoEncoder", "mpeg4");
    Setting("paraAudioEncoder", "libfaac");
    Setting("paraVideoSize", "320x240");
    item_.ZoomMode = "full";
  }

  void Profile(const char *key, const std::string &value) {
    profile_.WriteString(ProfileSection(kCode), key, value);
  }
  void Setting(const char *key, const std::string &value) {
    settings_.WriteString(ProfileSection(kCode), key, value);
  }

  // One build; `answer` is the reply to the 320x240 question, counted in asked_.
  void Build(bool answer = true) {
    InitInputOptions(in_);
    InitOutputOptions(out_);
    if (item_.AnyCropMargin()) {
      out_.CropTop = item_.CropTop;
      out_.CropBottom = item_.CropBottom;
      out_.CropLeft = item_.CropLeft;
      out_.CropRight = item_.CropRight;
    }
    TParameterBuilder builder(profile_, settings_, [&](const std::string &q) {
      EXPECT_EQ(q, "Error output Video Size.Use the default size 320x240?");
      ++asked_;
      return answer;
    });
    builder.BuildConversionParameters(item_, kCode, out_, source_, in_);
  }
  bool InRange(const std::string &kind, double v) {
    return TParameterBuilder(profile_, settings_, {}).SourceValueInRange(kCode, kind, v);
  }

  tovi::test::TempDir dir_;
  TIniFile profile_, settings_;
  TSourceFacts source_;
  TlvFilesRecord item_;
  TInputOptions in_;
  TOutputOptions out_;
  int asked_ = 0;
};

} // namespace

TEST_F(Builder, AudioOnlyProfileDropsVideoAndSubtitlesAndSetsNoPicture) {
  Setting("paraVideoEncoder", "   ");
  Setting("paraChannel", "1");
  Profile("Format", "AC3");
  Build();
  EXPECT_EQ(in_.ExtOptions, "vn=1");
  EXPECT_TRUE(out_.DisableVideo);
  EXPECT_TRUE(out_.DisableSubtitle);
  EXPECT_FALSE(out_.DisableAudio);
  EXPECT_EQ(out_.FileFormat, "ac3");
  EXPECT_EQ(out_.AudioCodec, "libfaac");
  EXPECT_EQ(out_.AudioChannels, 1);
  EXPECT_TRUE(out_.FrameSize.empty());
  EXPECT_TRUE(out_.VideoFilters.empty());
  EXPECT_EQ(out_.VideoBitrate, -1);
  EXPECT_EQ(out_.CropTop, -1);
  EXPECT_EQ(out_.AudioVolume, -1) << "an absent paraVolume leaves the volume unchanged";

  Profile("Format", "mp3"); // not a word the builder passes on: the extension decides
  Setting("paraVolume", "256");
  Build();
  EXPECT_TRUE(out_.FileFormat.empty());
  EXPECT_EQ(out_.AudioVolume, -1) << "256 is unchanged volume";
}

TEST_F(Builder, VideoCodecsPresetsTargetsAndContainers) {
  for (const char *word : {"wmv3", "flv", "mov"}) {
    Setting("paraVideoEncoder", word);
    Build();
    EXPECT_TRUE(out_.VideoCodec.empty()) << word;
  }
  Setting("paraVideoEncoder", "libx264");
  Profile("Format", "PSP");
  Build();
  EXPECT_EQ(out_.VideoCodec, "libx264");
  EXPECT_EQ(out_.VideoPreset, "libx264-psp");
  EXPECT_EQ(out_.FileFormat, "PSP") << "the value as read";
  Profile("Format", "mp4");
  Build();
  EXPECT_EQ(out_.VideoPreset, "libx264-mp4");
  EXPECT_TRUE(out_.FileFormat.empty());

  Setting("paraVideoEncoder", "mpeg2video");
  Profile("Format", "pal-dvd");
  Setting("paraVideoSize", "720x576");
  Build();
  EXPECT_EQ(out_.TargetType, 3);
  EXPECT_EQ(out_.TargetNorm, 1);
  Profile("Format", "ntsc-vcd");
  Setting("paraVideoEncoder", "mpeg1video");
  Build();
  EXPECT_EQ(out_.TargetType, 1);
  EXPECT_EQ(out_.TargetNorm, 2);
  EXPECT_EQ(out_.AspectRatio, "720:576") << "the zoom overrides the target's 4:3";

  Setting("paraAudioEncoder", "libamr_nb");
  Build();
  EXPECT_EQ(out_.AudioCodec, "libopencore_amrnb");
  Setting("paraAudioEncoder", " ");
  Build();
  EXPECT_TRUE(out_.DisableAudio);
}

TEST_F(Builder, FrameSizeTextsAndTheDefaultSizeQuestion) {
  Setting("paraVideoSize", "x240");
  Build(true);
  EXPECT_EQ(asked_, 1);
  EXPECT_EQ(out_.FrameSize, "320x240");
  Setting("paraVideoSize", "640x");
  Build(false);
  EXPECT_EQ(asked_, 2);
  EXPECT_EQ(out_.FrameSize, "640x480") << "No keeps the source size";
  Setting("paraVideoSize", "abcx240");
  Build();
  EXPECT_EQ(asked_, 2);
  EXPECT_EQ(out_.FrameSize, "640x240");
  Setting("paraVideoSize", "as source");
  Build();
  EXPECT_EQ(out_.FrameSize, "640x480");
  EXPECT_EQ(asked_, 2);
}

TEST_F(Builder, H263SnapsToItsStandardSizes) {
  Setting("paraVideoEncoder", "h263");
  for (const auto &[size, expected] : {std::pair{"320x240", "352x288"},
                                       {"176x144", "176x144"},
                                       {"128x96", "128x96"},
                                       {"800x600", "704x576"},
                                       {"400x300", "704x576"},
                                       {"160x128", "160x128"}}) {
    Setting("paraVideoSize", size);
    Build();
    EXPECT_EQ(out_.FrameSize, expected) << size;
  }
  Setting("paraVideoEncoder", "mpeg4");
  Setting("paraVideoSize", "800x600");
  Build();
  EXPECT_EQ(out_.FrameSize, "800x600") << "other codecs keep any size";
}

TEST_F(Builder, AsSourceRatesFollowTheProfileRange) {
  Setting("paraSampleRate", "as source");
  Profile("SampleRate", "as source,22050,44100");
  Profile("paraSampleRate", "22050");
  Build();
  EXPECT_EQ(out_.AudioSampleRate, 22050) << "48000 is above the range";
  Profile("SampleRate", "as source,8000,48000");
  Build();
  EXPECT_EQ(out_.AudioSampleRate, 48000);

  Setting("paraAudioBitRate", "as source");
  Profile("AudioBitRate", "as source,64,128");
  Build();
  EXPECT_EQ(out_.AudioBitrate, 128000) << "128000 bit/s lies within 64..128 kbit/s";
  source_.AudioBitRate = 192000;
  Profile("paraAudioBitRate", "96.5");
  Build();
  EXPECT_EQ(out_.AudioBitrate, 96500);

  Setting("paraVideoBitRate", "as source");
  Profile("VideoBitRate", "as source,256,1000");
  Build();
  EXPECT_EQ(out_.VideoBitrate, 900000);
  source_.VideoBitRate = 5000000;
  Profile("paraVideoBitRate", "700000");
  Build();
  EXPECT_EQ(out_.VideoBitrate, 700000) << "the profile's fallback is in bit/s";

  EXPECT_TRUE(InRange("audiobitrate", 64000));
  EXPECT_FALSE(InRange("audiobitrate", 63999));
  Profile("FrameRate", "25,30");
  EXPECT_TRUE(InRange("framerate", 25));
  EXPECT_FALSE(InRange("framerate", 29.97)) << "one comma: lower bound = upper bound";
  Profile("FrameRate", "30");
  EXPECT_FALSE(InRange("framerate", 30)) << "no comma: no range";
  EXPECT_FALSE(InRange("nonsense", 30));
}

TEST_F(Builder, TypedRatesWinAndBadFallbacksEndTheStart) {
  Setting("paraAudioBitRate", "127.5");
  Setting("paraSampleRate", "32000");
  Setting("paraFrameRate", "29.97");
  Setting("paraVideoBitRate", "800");
  Build();
  EXPECT_EQ(out_.AudioBitrate, 127500);
  EXPECT_EQ(out_.AudioSampleRate, 32000);
  EXPECT_EQ(out_.FrameRate, "29.97");
  EXPECT_EQ(out_.VideoBitrate, 800000);

  Setting("paraAudioBitRate", "0");
  Setting("paraFrameRate", "as source");
  Build();
  EXPECT_EQ(out_.AudioBitrate, -1) << "a typed 0 sets nothing and falls back to nothing";
  EXPECT_TRUE(out_.FrameRate.empty());

  Setting("paraSampleRate", "as source");
  Profile("SampleRate", "null");
  Profile("paraSampleRate", "fast");
  EXPECT_THROW(Build(), TConversionError);
  Profile("paraSampleRate", "as source");
  EXPECT_THROW(Build(), TConversionError) << "a video profile's fallback is unguarded";
  Setting("paraVideoEncoder", "");
  EXPECT_NO_THROW(Build()) << "an audio profile's fallback is guarded";
  EXPECT_EQ(out_.AudioSampleRate, -1);
}

TEST_F(Builder, LetterboxArithmetic) {
  item_.ZoomMode = "lbox";
  Setting("paraVideoSize", "320x180");
  Build();
  EXPECT_EQ(out_.FrameSize, "240x180");
  EXPECT_EQ(out_.AspectRatio, "240:180");
  EXPECT_EQ(out_.VideoFilters, "pad=320:180:40:0");

  Setting("paraVideoSize", "320x240"); // same aspect ratio
  Build();
  EXPECT_EQ(out_.FrameSize, "320x240");
  EXPECT_EQ(out_.VideoFilters, "pad=320:240:0:0");

  Setting("paraVideoSize", "640x480"); // same size
  Build();
  EXPECT_EQ(out_.FrameSize, "640x480");
  EXPECT_EQ(out_.VideoFilters, "pad=640:480:0:0");

  Setting("paraVideoSize", "1280x720"); // larger and wider: pillarbox
  Build();
  EXPECT_EQ(out_.FrameSize, "960x720");
  EXPECT_EQ(out_.VideoFilters, "pad=1280:720:160:0");

  source_.Width = 1280;
  source_.Height = 720;
  Setting("paraVideoSize", "320x240"); // wide source into 4:3: bars top and bottom
  Build();
  EXPECT_EQ(out_.FrameSize, "320x180");
  EXPECT_EQ(out_.VideoFilters, "pad=320:240:0:30");

  // The cropped 1260x700 picture is what is fitted, and only the filter crops it.
  item_.CropTop = item_.CropBottom = 10;
  item_.CropLeft = 20;
  Build();
  EXPECT_EQ(out_.VideoFilters, "crop=w=1260:h=700:x=20:y=10,scale=320:176,pad=320:240:0:32");
  for (int m : {out_.CropTop, out_.CropBottom, out_.CropLeft, out_.CropRight})
    EXPECT_EQ(m, 0) << "no crop bands on top of the filter's crop";

  item_.ZoomMode = "center"; // treated as letterbox
  Build();
  EXPECT_EQ(out_.VideoFilters, "crop=w=1260:h=700:x=20:y=10,scale=320:176,pad=320:240:0:32");
}

TEST_F(Builder, PanFullAndOtherZoomModes) {
  source_.Width = 640;
  source_.Height = 360;
  item_.ZoomMode = "pan";
  Build();
  EXPECT_EQ(out_.FrameSize, "320x240");
  EXPECT_EQ(out_.AspectRatio, "320:240");
  EXPECT_EQ(out_.CropLeft, 80) << "480x360 of the middle is kept: 4:3";
  EXPECT_EQ(out_.CropRight, 80);
  EXPECT_EQ(out_.CropTop, 0);
  EXPECT_TRUE(out_.VideoFilters.empty());

  source_.Width = 1920;
  source_.Height = 1080;
  Build();
  EXPECT_EQ(out_.CropLeft, 240) << "1440x1080 kept";
  item_.CropLeft = item_.CropRight = 100; // the user's margins, then the cut of what is left
  Build();
  EXPECT_EQ(out_.CropLeft, 100 + 140);
  EXPECT_EQ(out_.CropRight, 100 + 140);
  item_.CropLeft = item_.CropRight = 0;

  source_.Width = 480; // tall: top and bottom go
  source_.Height = 640;
  Build();
  EXPECT_EQ(out_.CropTop, 140);
  EXPECT_EQ(out_.CropBottom, 140);
  EXPECT_EQ(out_.CropLeft, 0);

  Setting("paraVideoSize", "as source"); // the target is the source's own shape
  Build();
  EXPECT_EQ(out_.CropTop, 0);
  Setting("paraVideoSize", "320x240");

  source_.Width = 640;
  source_.Height = 480; // already 4:3
  Build();
  EXPECT_EQ(out_.CropLeft, 0);
  EXPECT_EQ(out_.CropTop, 0);

  item_.ZoomMode = "full";
  Build();
  for (int m : {out_.CropTop, out_.CropBottom, out_.CropLeft, out_.CropRight})
    EXPECT_EQ(m, 0);
  item_.CropLeft = 8;
  Build();
  EXPECT_EQ(out_.CropLeft, 8);
  EXPECT_EQ(out_.CropTop, 0);

  item_.ZoomMode = "orig";
  Build();
  EXPECT_TRUE(out_.FrameSize.empty());
  EXPECT_TRUE(out_.VideoFilters.empty());
}

TEST_F(Builder, SourceWithoutVideoKeepsItsAudio) {
  source_.VideoStreamCount = 0;
  item_.ZoomMode = "lbox";
  Setting("paraSampleRate", "44100");
  Build();
  EXPECT_TRUE(out_.DisableVideo);
  EXPECT_TRUE(out_.FrameSize.empty());
  EXPECT_TRUE(out_.VideoFilters.empty());
  EXPECT_EQ(out_.VideoBitrate, -1);
  EXPECT_EQ(out_.AudioCodec, "libfaac");
  EXPECT_EQ(out_.AudioSampleRate, 44100);
}

// MPEG-2 outside the disc formats: a rate "as source" is kept where MPEG-2 has it, else
// the nearest rate of a norm, and a norm-bound size goes with the rate's norm.
TEST_F(Builder, Mpeg2KeepsTheSourcesRateWithTheSizeOfItsNorm) {
  Setting("paraVideoEncoder", "mpeg2video");
  Setting("paraFrameRate", "as source");
  Setting("paraVideoSize", "720x576");
  Profile("Format", "mpeg");
  struct Case {
    int num, den;
    const char *rate, *size;
    int norm;
  };
  for (const Case &c :
       {Case{30, 1, "30", "720x480", 2}, Case{60, 1, "60", "720x480", 2},
        Case{24000, 1001, "24000/1001", "720x480", 2}, Case{2997, 100, "30000/1001", "720x480", 2},
        Case{25, 1, "25", "720x576", 1}, Case{50, 1, "50", "720x576", 1},
        Case{15, 1, "24000/1001", "720x480", 2}, Case{27, 1, "25", "720x576", 1}}) {
    source_.FrameRateNum = c.num;
    source_.FrameRateDen = c.den;
    Build();
    EXPECT_EQ(out_.FrameRate, c.rate) << c.num << "/" << c.den;
    EXPECT_EQ(out_.FrameSize, c.size) << c.num << "/" << c.den;
    EXPECT_EQ(out_.TargetNorm, c.norm) << c.num << "/" << c.den;
  }
  Setting("paraVideoSize", "1280x720"); // no norm's size: kept
  Build();
  EXPECT_EQ(out_.FrameSize, "1280x720");
  Setting("paraFrameRate", "29.97"); // a rate the user chose is not touched
  Build();
  EXPECT_EQ(out_.FrameRate, "29.97");
  EXPECT_EQ(out_.TargetNorm, 0);
}
