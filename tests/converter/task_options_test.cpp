// Task records applied to a real engine: the ExtOptions text format, which of a record
// field and an option line wins, the time stamp conversion, and the streams that
// "newaudio"/"newvideo" lines add to a real output file.
#include <cstdlib>
#include <ctime>

#include "converter/TaskOptionsApply.h"
#include "engine/EngineTestSupport.h"
#include "media/TimeZone.h"

using namespace tovi;
using tovi::test::EngineTest;
using tovi::test::FixturePath;

namespace {

std::vector<std::pair<std::string, std::string>> Pairs(const std::string &text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const TExtOption &line : ParseExtOptions(text))
    pairs.emplace_back(line.Name, line.Value);
  return pairs;
}
using P = std::vector<std::pair<std::string, std::string>>;

TEST(ExtOptionsText, LinesNamesAndValues) {
  // Names are lower-cased, values are kept exactly (spaces and further "=" included),
  // a line without "=" is a name with an empty value, a line with no name is dropped.
  EXPECT_EQ(Pairs(" \t\r\nVCodec=mpeg4\r\nvf=scale=w=1: h \rnewaudio\n=orphan\n\nAB= 64000 \x01\r\n"),
            (P{{"vcodec", "mpeg4"}, {"vf", "scale=w=1: h "}, {"newaudio", ""}, {"ab", " 64000"}}));
  EXPECT_TRUE(Pairs("  \r\n\t ").empty());
  // A settings file keeps multi-line values on one line with the literal "<CRLF>".
  EXPECT_EQ(Pairs("acodec=aac<CRLF>newaudio=<CRLF>acodec=mp2"), Pairs("acodec=aac\r\nnewaudio=\nacodec=mp2"));
}

TEST(RecordTimestamp, DaysSince1899InLocalTimeOfThatDate) {
  ASSERT_EQ(setenv("TZ", "UTC0", 1), 0);
  EXPECT_EQ(RecordTimestampToUnix(25569.0), 0);
  EXPECT_EQ(RecordTimestampToUnix(25570.5), 129600);
  EXPECT_EQ(RecordTimestampToUnix(25569.0 + 0.4 / 86400), 0); // rounded, not truncated
  EXPECT_EQ(RecordTimestampToUnix(25569.0 + 0.6 / 86400), 1);
  // One hour ahead of UTC in winter, two in summer.
  ASSERT_EQ(setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1), 0);
  EXPECT_EQ(RecordTimestampToUnix(25569.0), -3600);
  EXPECT_EQ(RecordTimestampToUnix(25569.0 + 200), 200 * 86400 - 7200); // a July date
  // 0 is "now", whatever the zone.
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_LE(std::llabs(RecordTimestampToUnix(0) - now), 2);
  unsetenv("TZ");
}

class TaskOptionsTest : public EngineTest {
protected:
  void TearDown() override { engine_.FreeAll(); }
  void ApplyOutput(const TOutputOptions &o) { TOutputOptionsApplier(o).ApplyBeforeOpen(engine_); }
  test::TempDir dir_;
};

TEST_F(TaskOptionsTest, UnsetRecordsLeaveTheEngineDefaults) {
  TCustomFFmpeg fresh;
  fresh.Reset();
  TInputOptions in;
  in.ExtOptions = "x=1"; // filled below by Init
  InitInputOptions(in);
  TOutputOptions out;
  out.AudioVolume = 0;
  out.Metadata.Year = 2000;
  InitOutputOptions(out);
  EXPECT_EQ(out.Metadata.Year, -1);
  EXPECT_EQ(out.AudioVolume, -1);
  EXPECT_TRUE(in.ExtOptions.empty());
  out.FileName = dir_.file("x.mp4");

  ApplyInputOptions(engine_, in);
  ApplyOutput(out);

  const TJobSettings &a = engine_.Job(), &b = fresh.Job();
  EXPECT_EQ(a.AudioSyncMethod, b.AudioSyncMethod);
  EXPECT_EQ(a.VideoSyncMethod, b.VideoSyncMethod);
  EXPECT_EQ(a.InputSync, b.InputSync);
  EXPECT_EQ(a.AudioVolume, b.AudioVolume);
  EXPECT_EQ(a.StartTimeUs, b.StartTimeUs);
  EXPECT_EQ(a.RecordingTimeUs, b.RecordingTimeUs);
  EXPECT_EQ(a.ProgramId, b.ProgramId);
  EXPECT_EQ(a.OutputTimestampSeconds, b.OutputTimestampSeconds);
  EXPECT_EQ(a.MuxMaxDelaySeconds, b.MuxMaxDelaySeconds);
  EXPECT_EQ(a.MuxPreloadSeconds, b.MuxPreloadSeconds);
  EXPECT_TRUE(a.Metadata.empty());
  const TPendingSettings &p = engine_.Pending(), &q = fresh.Pending();
  EXPECT_EQ(p.AudioSampleRate, q.AudioSampleRate);
  EXPECT_EQ(p.AudioChannels, q.AudioChannels);
  EXPECT_EQ(p.FrameWidth, q.FrameWidth);
  EXPECT_EQ(p.AudioCodecName, q.AudioCodecName);
  EXPECT_EQ(p.VideoCodecName, q.VideoCodecName);
  EXPECT_EQ(p.VideoFilters, q.VideoFilters);
  EXPECT_FALSE(p.AudioDisable || p.VideoDisable || p.SubtitleDisable);
  EXPECT_EQ(p.FormatName, "");
  EXPECT_TRUE(engine_.GenericOptions()->Names().empty());
}

TEST_F(TaskOptionsTest, RecordFieldsOverrideOptionLines) {
  TOutputOptions o;
  o.ExtOptions = "ar=22050\nac=1\nalang=fre\nasync=1\nvsync=2\nvlang=ger\nisync=1\nab=64000\n"
                 "vol=100\nvtag=XVID\nr=15\nf=avi";
  o.AudioSampleRate = 48000; // set: wins over the line
  o.AudioSync = 0;           // applied always: wins even at its default
  o.VideoSync = -1;
  o.AudioVolume = 0; // 0 is silence, and is applied
  o.FrameRate = "25";
  o.FileFormat = "matroska";
  ApplyOutput(o);
  EXPECT_EQ(engine_.Pending().AudioSampleRate, 48000);
  EXPECT_EQ(engine_.Pending().AudioChannels, 1); // unset field: the line stays
  EXPECT_EQ(engine_.Pending().AudioLanguage, "");
  EXPECT_EQ(engine_.Pending().VideoLanguage, "");
  EXPECT_EQ(engine_.Job().AudioSyncMethod, 0);
  EXPECT_EQ(engine_.Job().VideoSyncMethod, -1);
  EXPECT_FALSE(engine_.Job().InputSync);
  EXPECT_EQ(engine_.Job().AudioVolume, 0);
  EXPECT_EQ(engine_.Pending().VideoCodecTag, 0x44495658u); // unset field: the line stays
  EXPECT_EQ(engine_.Pending().FrameRate.num, 25);
  EXPECT_EQ(engine_.Pending().FormatName, "matroska");
  EXPECT_EQ(AudioInt("b"), 64000);
}

TEST_F(TaskOptionsTest, GenericFieldsAndMetadataOrder) {
  TOutputOptions o;
  o.AudioBitrate = 500; // low, but a record value never gives the kbit/s warning
  o.VideoBitrate = 800000;
  o.GOPSize = 12;
  o.VideoBufSize = 1000000;
  o.VideoMaxRate = 900000;
  o.Metadata.Genre = "Drama";
  o.Metadata.Title = "T";
  o.Metadata.Track = 3;
  o.Metadata.Year = 1999;
  o.Metadata.Album = "A";
  o.Metadata.Timestamp = -1;
  o.Duration = 1500000;
  ApplyOutput(o);
  EXPECT_EQ(AudioInt("b"), 500);
  EXPECT_EQ(VideoInt("b"), 800000);
  EXPECT_EQ(VideoInt("g"), 12);
  EXPECT_EQ(VideoInt("bufsize"), 1000000);
  EXPECT_EQ(VideoInt("maxrate"), 900000);
  for (const auto &line : log_.Lines())
    EXPECT_EQ(line.Text.find("set too low"), std::string::npos);
  EXPECT_EQ(engine_.Job().Metadata,
            (P{{"year", "1999"}, {"track", "3"}, {"title", "T"}, {"album", "A"}, {"genre", "Drama"}}));
  EXPECT_EQ(engine_.Job().OutputTimestampSeconds, 0);
  EXPECT_EQ(engine_.Job().RecordingTimeUs, 1500000);
  EXPECT_EQ(engine_.ProgressTotalUs(), 1500000);

  TCustomFFmpeg stamped;
  stamped.Reset();
  TOutputOptions s;
  s.Metadata.Timestamp = 45000.25;
  TOutputOptionsApplier(s).ApplyBeforeOpen(stamped);
  EXPECT_EQ(stamped.Job().OutputTimestampSeconds, LocalToUnix(45000.25));
}

TEST_F(TaskOptionsTest, SizeAndFilterDefaults) {
  TOutputOptions o;
  o.ExtOptions = "vfilters=hflip\ns=640x480\nvf=vflip";
  ApplyOutput(o);
  EXPECT_EQ(engine_.Pending().VideoFilters, "hflip"); // the first line fills def_vf
  EXPECT_EQ(engine_.Pending().FrameWidth, 640);

  TCustomFFmpeg second;
  second.Reset();
  o.FrameSize = "320x240";
  o.VideoFilters = "negate";
  TOutputOptionsApplier applier(o);
  applier.ApplyBeforeOpen(second);
  EXPECT_EQ(second.Pending().FrameWidth, 320);
  EXPECT_EQ(second.Pending().VideoFilters, "negate");
  EXPECT_EQ(applier.Pending(), (std::vector<TExtOption>{{"vf", "hflip"}, {"s", "640x480"}, {"vf", "vflip"}}));
}

TEST_F(TaskOptionsTest, TargetThenRecordFields) {
  TOutputOptions o;
  o.TargetType = 1;
  o.TargetNorm = 2;
  o.AudioSampleRate = 48000;
  ApplyOutput(o);
  EXPECT_EQ(engine_.Pending().FormatName, "vcd");
  EXPECT_EQ(engine_.Pending().VideoCodecName, "mpeg1video");
  EXPECT_EQ(engine_.Pending().FrameHeight, 240); // NTSC
  EXPECT_EQ(engine_.Pending().AudioSampleRate, 48000);
}

TEST_F(TaskOptionsTest, RejectedValuesRaiseTheEngineMessage) {
  TOutputOptions o;
  o.AudioTag = "mp4";
  EXPECT_EQ(Raised([&] { ApplyOutput(o); }), "audio tag parameter must be 4 chars");
  o.AudioTag.clear();
  o.FrameRate = "fast";
  EXPECT_EQ(Raised([&] { ApplyOutput(o); }), "Incorrect frame rate");
  o.FrameRate.clear();
  o.VideoPreset = "no-such-preset-anywhere";
  EXPECT_NE(Raised([&] { ApplyOutput(o); }), "");
}

TEST_F(TaskOptionsTest, InputRecordOverridesLinesAndSkipsOutputOnlyLines) {
  TInputOptions in;
  in.ExtOptions = "ss=5\nvf=hflip\nnewaudio=\nvpre=nothing\nprogramid=7\nf=avi\nvcodec=h264";
  in.StartTime = 1000000;
  in.FileFormat = "mp4";
  ApplyInputOptions(engine_, in);
  EXPECT_EQ(engine_.Job().StartTimeUs, 1000000);
  EXPECT_EQ(engine_.Job().ProgramId, 7); // ProgramID unset: the line stays
  EXPECT_EQ(engine_.Pending().FormatName, "mp4");
  EXPECT_EQ(engine_.Pending().VideoFilters, "");
  EXPECT_EQ(engine_.Pending().VideoCodecName, "h264");
}

// Codec names of the audio (or video) streams of output slot 0, in stream order.
std::vector<std::string> EncoderNames(const TCustomFFmpeg &engine, AVMediaType type) {
  std::vector<std::string> names;
  for (const TOutputStream &s : engine.OutputFile(0).Streams)
    if (s.Encoder && s.Encoder->codec_type == type) names.push_back(s.Codec ? s.Codec->name : "?");
  return names;
}

TEST_F(TaskOptionsTest, StreamAddingLinesTakePendingOptionsInOrder) {
  ASSERT_TRUE(engine_.AddInputFile(FixturePath("h264_aac.mp4"))) << engine_.LastErrorText();
  TOutputOptions o;
  o.VideoCodec = "mpeg4";
  o.ExtOptions = "acodec=aac<CRLF>newaudio=<CRLF>acodec=mp2<CRLF>newaudio=<CRLF>s=96x64<CRLF>newvideo=";
  TOutputOptionsApplier applier(o);
  applier.ApplyBeforeOpen(engine_);
  ASSERT_GE(engine_.AddOutputFile(dir_.file("out.mkv"), false), 1) << engine_.LastErrorText();
  applier.AddStreams(engine_);
  EXPECT_EQ(EncoderNames(engine_, AVMEDIA_TYPE_AUDIO), (std::vector<std::string>{"aac", "aac", "mp2"}));
  // No pending "vcodec": the added video stream gets the record's codec again; the
  // pending size line is used up by the first stream's default and the added one.
  EXPECT_EQ(EncoderNames(engine_, AVMEDIA_TYPE_VIDEO), (std::vector<std::string>{"mpeg4", "mpeg4"}));
  for (const TOutputStream &s : engine_.OutputFile(0).Streams)
    if (s.Encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
      EXPECT_EQ(s.Encoder->width, 96);
    }
  EXPECT_TRUE(applier.Pending().empty());
}

} // namespace
