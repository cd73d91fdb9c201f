// AddInputFile on generated media: what an input consumes and takes over from the file,
// the failures reported as false, program selection, seeking and timestamp offsets.
#include "EngineTestSupport.h"
#include "fixtures/Catalog.h"
#include "media/Texts.h"

using namespace tovi;
using tovi::test::EngineTest;
using tovi::test::FixturePath;

namespace {

class InputFileTest : public EngineTest {
protected:
  bool Add(const std::string &fixture) { return engine_.AddInputFile(FixturePath(fixture)); }
  AVFormatContext *Input(int index) const { return engine_.InputFile(index).Context(); }
};

TEST_F(InputFileTest, TakesOverTheStreamPropertiesAndConsumesThePendingNames) {
  engine_.ParseOption("f", "mp4");
  engine_.ParseOption("vcodec", "h264");
  engine_.ParseOption("acodec", "aac");
  engine_.ParseOption("vc", "3");
  ASSERT_TRUE(Add("h264_aac.mp4")) << engine_.LastErrorText();
  EXPECT_EQ(engine_.InputFileCount(), 1);
  const auto &p = engine_.Pending();
  EXPECT_TRUE(p.FormatName.empty());
  EXPECT_TRUE(p.VideoCodecName.empty());
  EXPECT_TRUE(p.AudioCodecName.empty());
  EXPECT_EQ(p.VideoChannel, 0);
  EXPECT_EQ(p.FrameWidth, 176);
  EXPECT_EQ(p.FrameHeight, 144);
  EXPECT_EQ(p.FrameRate.num, 25);
  EXPECT_EQ(p.FrameRate.den, 1);
  EXPECT_DOUBLE_EQ(p.FrameAspectRatio, 176.0 / 144.0);
  EXPECT_EQ(p.FramePixelFormat, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(p.AudioSampleRate, 44100);
  EXPECT_EQ(p.AudioChannels, 2);
  EXPECT_EQ(p.ChannelLayout, std::uint64_t(AV_CH_LAYOUT_STEREO));
  // One decoder override per stream, the forced decoders in stream order.
  const auto overrides = engine_.DecoderOverrides();
  ASSERT_EQ(overrides.size(), 2u);
  ASSERT_NE(overrides[0], nullptr);
  EXPECT_STREQ(overrides[0]->name, "h264");
  EXPECT_STREQ(overrides[1]->name, "aac");
  EXPECT_EQ(engine_.InputFile(0).Decoders.size(), 2u);
  EXPECT_NEAR(double(engine_.ProgressTotalUs()) / AV_TIME_BASE, 2.0, 0.1);
}

TEST_F(InputFileTest, FailuresAreReportedAsFalseWithTheReason) {
  engine_.ParseOption("f", "nosuchdemuxer");
  EXPECT_EQ(Raised([&] { Add("h264_aac.mp4"); }), "Unknown input format: \"nosuchdemuxer\"");

  engine_.Reset();
  const std::string missing = FixturePath("does_not_exist.mp4");
  EXPECT_FALSE(engine_.AddInputFile(missing));
  EXPECT_EQ(engine_.LastErrorText(), ErrorText(missing, AVERROR(ENOENT)));

  engine_.ParseOption("vcodec", "mp3");
  engine_.ParseOption("scodec", "ass");
  EXPECT_FALSE(Add("h264_aac.mp4"));
  EXPECT_EQ(engine_.LastErrorText(), "Invalid decoder type 'mp3'");
  EXPECT_TRUE(engine_.Pending().VideoCodecName.empty());
  EXPECT_TRUE(engine_.Pending().SubtitleCodecName.empty());
  EXPECT_EQ(engine_.InputFileCount(), 0);
  EXPECT_TRUE(engine_.DecoderOverrides().empty());
}

TEST_F(InputFileTest, ProgramSelection) {
  const auto &programs = fixtures::kTsPrograms;
  engine_.ParseOption("programid", "999");
  EXPECT_FALSE(Add("two_programs.ts"));
  EXPECT_EQ(engine_.LastErrorText(), "Specified program id not found");
  EXPECT_EQ(engine_.InputFileCount(), 0);

  engine_.SetProgramId(programs[1].programId);
  ASSERT_TRUE(Add("two_programs.ts")) << engine_.LastErrorText();
  EXPECT_EQ(engine_.Job().ProgramId, 0);
  AVFormatContext *input = Input(0);
  for (unsigned p = 0; p < input->nb_programs; ++p) {
    const AVProgram *program = input->programs[p];
    const bool chosen = program->id == programs[1].programId;
    // The demuxer may move a read stream between "none" and "default"; only the other
    // program's streams must be discarded.
    for (unsigned i = 0; i < program->nb_stream_indexes; ++i) {
      const AVDiscard discard = input->streams[program->stream_index[i]]->discard;
      if (chosen)
        EXPECT_LT(discard, AVDISCARD_ALL) << "program " << program->id;
      else
        EXPECT_EQ(discard, AVDISCARD_ALL) << "program " << program->id;
    }
  }
}

TEST_F(InputFileTest, StartTimeSeeksOnceAndSetsTheTimestampOffset) {
  engine_.ParseOption("itsoffset", "1");
  ASSERT_TRUE(Add("mpeg2_mp2.mpg"));
  const std::int64_t fileStart = Input(0)->start_time;
  ASSERT_NE(fileStart, AV_NOPTS_VALUE);
  EXPECT_GT(fileStart, 0); // a program stream starts near 0.5 s
  EXPECT_EQ(engine_.InputFile(0).TsOffsetUs, 1000000 - fileStart);

  engine_.ParseOption("ss", "0.5");
  ASSERT_TRUE(Add("mpeg2_mp2.mpg"));
  EXPECT_EQ(engine_.Job().StartTimeUs, 0);
  EXPECT_EQ(engine_.InputFile(1).TsOffsetUs, 1000000 - (500000 + Input(1)->start_time));

  engine_.ParseOption("copyts", "");
  engine_.ParseOption("ss", "0.5");
  ASSERT_TRUE(Add("mpeg2_mp2.mpg"));
  EXPECT_EQ(engine_.InputFile(2).TsOffsetUs, 1000000);
}

TEST_F(InputFileTest, LastVideoStreamWinsAndDisabledStreamsAreDiscarded) {
  engine_.ParseOption("vn", "1");
  ASSERT_TRUE(Add("two_video.mkv"));
  EXPECT_EQ(engine_.Pending().FrameWidth, 320);
  EXPECT_EQ(engine_.Pending().FrameHeight, 240);
  EXPECT_EQ(engine_.Pending().AudioSampleRate, 48000);
  AVFormatContext *input = Input(0);
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const bool video = input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    EXPECT_EQ(input->streams[i]->discard, video ? AVDISCARD_ALL : AVDISCARD_DEFAULT) << i;
  }
}

TEST_F(InputFileTest, TwentyFirstInputIsRefusedBeforeOpening) {
  for (int i = 0; i < MAX_FILES; ++i)
    ASSERT_TRUE(Add("audio_only.wav"));
  engine_.ParseOption("acodec", "pcm_s16le");
  EXPECT_EQ(Raised([&] { Add("audio_only.wav"); }), "Too many input files (the table holds 20)");
  EXPECT_EQ(engine_.Pending().AudioCodecName, "pcm_s16le");
  EXPECT_EQ(engine_.DecoderOverrides().size(), size_t(MAX_FILES));
  engine_.FreeAll();
  EXPECT_EQ(engine_.InputFileCount(), 0);
}

} // namespace
