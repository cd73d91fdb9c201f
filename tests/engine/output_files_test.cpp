// AddOutputFile and the output stream creators on generated media: which streams a file
// gets, what each encoder context carries, join mode, the refusals and what a refused
// or unused output leaves on disk.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "EngineTestSupport.h"
#include "engine/CodecChoice.h"
#include "fixtures/Catalog.h"
#include "media/Texts.h"

using namespace tovi;
using tovi::test::EngineTest;
using tovi::test::FixturePath;
namespace fs = std::filesystem;

namespace {

class OutputFileTest : public EngineTest {
protected:
  void TearDown() override { engine_.FreeAll(); }
  std::string Out(const std::string &name) const { return dir_.file(name); }
  bool AddInput(const std::string &fixture) {
    const bool added = engine_.AddInputFile(FixturePath(fixture));
    EXPECT_TRUE(added) << engine_.LastErrorText();
    return added;
  }
  AVFormatContext *Output(int slot = 0) const { return engine_.OutputFile(slot).Context.get(); }
  const AVCodecContext *Encoder(int stream, int slot = 0) const {
    return engine_.OutputFile(slot).Streams.at(static_cast<size_t>(stream)).Encoder.get();
  }
  std::vector<AVMediaType> Types(int slot = 0) const {
    std::vector<AVMediaType> types;
    for (unsigned i = 0; i < Output(slot)->nb_streams; ++i)
      types.push_back(Output(slot)->streams[i]->codecpar->codec_type);
    return types;
  }

  test::TempDir dir_; // removed after the engine has closed its files
};

TEST_F(OutputFileTest, MuxerRefusalsCreateNothing) {
  const std::string unknown = Out("movie.nosuchextension");
  EXPECT_EQ(engine_.AddOutputFile(unknown, false), -1);
  EXPECT_EQ(engine_.LastErrorText(), "Unable to find a suitable output format for '" + unknown + "'");

  engine_.SetFormat("nosuchmuxer");
  EXPECT_EQ(engine_.AddOutputFile(Out("movie.mp4"), false), -1);
  EXPECT_EQ(engine_.LastErrorText(), "Requested output format 'nosuchmuxer' is not a suitable output format");

  engine_.Reset(); // a refused format name stays pending
  EXPECT_EQ(engine_.AddOutputFile("http://localhost:8090/feed1.ffm", false), -1);
  EXPECT_NE(engine_.LastErrorText().find("no feed server"), std::string::npos) << engine_.LastErrorText();

  EXPECT_EQ(engine_.OutputFileCount(), 0);
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(OutputFileTest, StreamsFollowWhatTheInputsHold) {
  ASSERT_TRUE(AddInput("audio_only.mp3"));
  engine_.SetVideoCodec("mpeg4");
  ASSERT_EQ(engine_.AddOutputFile(Out("a.mp4"), false), 1) << engine_.LastErrorText();
  EXPECT_EQ(Types(), std::vector<AVMediaType>{AVMEDIA_TYPE_AUDIO});
  EXPECT_EQ(engine_.OutputFile(0).Streams.size(), 1u);
  EXPECT_EQ(engine_.EncoderOverrides().size(), 1u);

  engine_.Reset();
  ASSERT_TRUE(AddInput("video_only.mp4"));
  ASSERT_EQ(engine_.AddOutputFile(Out("v.mp4"), false), 1) << engine_.LastErrorText();
  EXPECT_EQ(Types(), std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO});

  engine_.Reset();
  ASSERT_TRUE(AddInput("h264_aac.mp4"));
  engine_.SetAudioDisabled(true);
  engine_.SetVideoDisabled(true);
  ASSERT_EQ(engine_.AddOutputFile(Out("none.mp4"), false), 1) << engine_.LastErrorText();
  EXPECT_TRUE(Types().empty());
}

TEST_F(OutputFileTest, VideoAndAudioEncoderSettings) {
  ASSERT_TRUE(AddInput("h264_aac.mp4"));
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioCodec("libfaac"); // the old name finds today's encoder
  engine_.ParseOption("qscale", "3");
  engine_.ParseOption("rc_override", "0,100,5/200,300,-50");
  engine_.ParseOption("b", "300000");
  engine_.ParseOption("streamid", "0:33");
  engine_.SetVideoLanguage("eng");
  ASSERT_EQ(engine_.AddOutputFile(Out("out.mp4"), false), 1) << engine_.LastErrorText();

  ASSERT_EQ(Types(), (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}));
  const AVCodecContext *video = Encoder(0);
  EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_STREQ(engine_.OutputFile(0).Streams[0].Codec->name, "mpeg4");
  EXPECT_EQ(video->width, 176);
  EXPECT_EQ(video->height, 144);
  EXPECT_EQ(video->time_base.num, 1);
  EXPECT_EQ(video->time_base.den, 25);
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(video->bit_rate, 300000);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER); // mp4 wants global headers
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(video->global_quality, 3 * 118);
  ASSERT_EQ(video->rc_override_count, 2);
  EXPECT_EQ(video->rc_override[0].start_frame, 0);
  EXPECT_EQ(video->rc_override[0].end_frame, 100);
  EXPECT_EQ(video->rc_override[0].qscale, 5);
  EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 1.0f);
  EXPECT_EQ(video->rc_override[1].start_frame, 200);
  EXPECT_EQ(video->rc_override[1].end_frame, 300);
  EXPECT_EQ(video->rc_override[1].qscale, 0);
  EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 0.5f);
  EXPECT_EQ(Output()->streams[0]->id, 33);
  EXPECT_EQ(MetadataValue(Output()->streams[0]->metadata, "language", ""), "eng");

  const AVCodecContext *audio = Encoder(1);
  EXPECT_EQ(audio->codec_id, AV_CODEC_ID_AAC);
  EXPECT_EQ(audio->sample_rate, 44100);
  EXPECT_EQ(audio->ch_layout.nb_channels, 2);
  EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_FLTP); // the one format the aac encoder takes
  EXPECT_FALSE(audio->flags & AV_CODEC_FLAG_QSCALE);

  // Both named encoders are the overrides; the per-stream settings are consumed.
  const auto overrides = engine_.EncoderOverrides();
  ASSERT_EQ(overrides.size(), 2u);
  EXPECT_STREQ(overrides[0]->name, "mpeg4");
  EXPECT_STREQ(overrides[1]->name, "aac");
  const auto &p = engine_.Pending();
  EXPECT_TRUE(p.VideoCodecName.empty());
  EXPECT_TRUE(p.AudioCodecName.empty());
  EXPECT_TRUE(p.VideoLanguage.empty());
  EXPECT_EQ(p.FramePixelFormat, -1);
  EXPECT_EQ(engine_.StreamIdMap()[0], 0);
}

TEST_F(OutputFileTest, MalformedRcOverrideFailsWithoutLeavingAnything) {
  for (const char *text : {"0,100", "0,,5", "x,100,5", "0,100,5/", "0,100,5,7"})
    EXPECT_EQ(Raised([&] { ParseRcOverride(text); }), "error parsing rc_override") << text;

  ASSERT_TRUE(AddInput("h264_aac.mp4"));
  engine_.SetVideoCodec("mpeg4");
  engine_.ParseOption("rc_override", "0,100,5/200");
  const std::string name = Out("bad.mp4");
  EXPECT_EQ(engine_.AddOutputFile(name, false), -1);
  EXPECT_EQ(engine_.LastErrorText(), "new_video_stream fail: error parsing rc_override");
  EXPECT_EQ(engine_.OutputFileCount(), 0);
  EXPECT_TRUE(engine_.EncoderOverrides().empty());
  EXPECT_FALSE(fs::exists(name));

  // An unknown encoder is reported the same way, and the next attempt starts clean.
  engine_.ParseOption("rc_override", "");
  engine_.SetAudioCodec("nosuchencoder");
  EXPECT_EQ(engine_.AddOutputFile(name, false), -1);
  EXPECT_EQ(engine_.LastErrorText(), "new_audio_stream fail: Unknown encoder 'nosuchencoder'");
  EXPECT_TRUE(engine_.EncoderOverrides().empty());
  EXPECT_FALSE(fs::exists(name));
  engine_.SetAudioCodec("aac");
  EXPECT_EQ(engine_.AddOutputFile(name, false), 1) << engine_.LastErrorText();
  EXPECT_EQ(engine_.EncoderOverrides().size(), 2u);
}

TEST_F(OutputFileTest, JoinSharesTheFileAndSumsTheDurations) {
  std::int64_t sum = 0;
  for (const char *fixture : {"h264_aac.mp4", "mpeg4_mp3.avi", "audio_only.wav"}) {
    ASSERT_TRUE(AddInput(fixture));
    sum += engine_.InputFile(engine_.InputFileCount() - 1).Context()->duration;
  }
  ASSERT_EQ(engine_.AddOutputFile(Out("joined.mp4"), true), 3) << engine_.LastErrorText();
  EXPECT_TRUE(engine_.JoinMode());
  EXPECT_EQ(engine_.OutputFileCount(), 3);
  EXPECT_EQ(engine_.ProgressTotalUs(), sum);
  EXPECT_EQ(Output(1), Output(0));
  EXPECT_EQ(Output(2), Output(0));

  EXPECT_EQ(engine_.AddOutputFile(Out("second.mp4"), false), -1);
  EXPECT_EQ(engine_.LastErrorText(), "Cannot join more than one output file.");
  EXPECT_FALSE(fs::exists(Out("second.mp4")));

  // "newaudio" adds to the shared file; its filter chain belongs to the first slot.
  engine_.AddBitstreamFilter("a", "null");
  engine_.ParseOption("newaudio", "");
  EXPECT_EQ(Output(0)->nb_streams, 3u);
  EXPECT_EQ(engine_.OutputBitstreamFilters(0, 2).Size(), 1u);

  // The file is written once, and being empty it goes with FreeAll.
  engine_.FreeAll();
  EXPECT_FALSE(fs::exists(Out("joined.mp4")));
}

TEST_F(OutputFileTest, SubtitleStreamGetsTheMuxersDefaultCodecAndTheMetadata) {
  ASSERT_TRUE(AddInput("vp8_vorbis_subs.mkv"));
  engine_.SetSubtitleLanguage("fre");
  engine_.AddMetadata("title", "First");
  engine_.AddMetadata("title", "Second");
  engine_.AddMetadata("artist", "Someone");
  ASSERT_EQ(engine_.AddOutputFile(Out("subs.mkv"), false), 1) << engine_.LastErrorText();
  ASSERT_EQ(Types(),
            (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}));
  const AVCodecContext *subtitle = Encoder(2);
  EXPECT_EQ(subtitle->codec_id, Output()->oformat->subtitle_codec);
  EXPECT_NE(subtitle->codec_id, AV_CODEC_ID_NONE);
  ASSERT_NE(engine_.OutputFile(0).Streams[2].Codec, nullptr);
  EXPECT_EQ(MetadataValue(Output()->streams[2]->metadata, "language", ""), "fre");
  EXPECT_TRUE(engine_.Pending().SubtitleLanguage.empty());
  // Last pair first with overwrite: the first value given for a key stays.
  EXPECT_EQ(MetadataValue(Output()->metadata, "title", ""), "First");
  EXPECT_EQ(MetadataValue(Output()->metadata, "artist", ""), "Someone");
  EXPECT_TRUE(engine_.Job().Metadata.empty());
}

TEST_F(OutputFileTest, StreamCopyKeepsTheAspectAndNoEncoder) {
  ASSERT_TRUE(AddInput("h264_aac.mp4"));
  engine_.SetVideoCodec("copy");
  engine_.SetAudioCodec("copy");
  engine_.SetFrameAspectRatio("16:9");
  ASSERT_EQ(engine_.AddOutputFile(Out("copy.mkv"), false), 1) << engine_.LastErrorText();
  const TOutputFile &file = engine_.OutputFile(0);
  ASSERT_EQ(file.Streams.size(), 2u);
  EXPECT_TRUE(file.Streams[0].StreamCopy);
  EXPECT_EQ(file.Streams[0].Codec, nullptr);
  EXPECT_TRUE(file.Streams[1].StreamCopy);
  // 16/9 * 144/176, as a fraction of terms up to 255.
  const AVRational sar = Output()->streams[0]->sample_aspect_ratio;
  EXPECT_NEAR(av_q2d(sar), 16.0 / 9.0 * 144.0 / 176.0, 1e-3);
  EXPECT_LE(sar.num, 255);
  EXPECT_LE(sar.den, 255);
  EXPECT_FALSE(engine_.Pending().VideoStreamCopy);
  EXPECT_FALSE(engine_.Pending().AudioStreamCopy);
}

TEST_F(OutputFileTest, ClosestSupportedSampleRateIsTakenWithAWarning) {
  // An encoder whose list lacks 44100 (libopus: 48000 and below; opus: 48000 only).
  const AVCodec *encoder = nullptr;
  for (const char *name : {"libopus", "opus", "libopencore_amrnb"}) {
    const AVCodec *c = ff::avcodec_find_encoder_by_name(name);
    bool has44100 = false;
    for (const int *r = c && c->supported_samplerates ? c->supported_samplerates : nullptr; r && *r; ++r)
      has44100 = has44100 || *r == 44100;
    if (c && c->supported_samplerates && !has44100) {
      encoder = c;
      break;
    }
  }
  ASSERT_NE(encoder, nullptr);
  int expected = 0;
  for (const int *r = encoder->supported_samplerates; *r; ++r)
    if (expected == 0 || std::abs(*r - 44100) < std::abs(expected - 44100)) expected = *r;

  CodecContextPtr context(ff::avcodec_alloc_context3(nullptr));
  context->sample_rate = 44100;
  ChooseSampleRate(context.get(), encoder, &engine_);
  EXPECT_EQ(context->sample_rate, expected);
  const std::string warning =
      "Requested sampling rate unsupported using closest supported (" + std::to_string(expected) + ")";
  EXPECT_TRUE(log_.Has(&engine_, llWarning, warning));

  // A supported rate is kept silently.
  log_.Clear();
  ChooseSampleRate(context.get(), encoder, &engine_);
  EXPECT_EQ(context->sample_rate, expected);
  EXPECT_EQ(log_.Count(&engine_, llWarning, warning), 0);

  // The same choice through an output stream.
  ASSERT_TRUE(AddInput("h264_aac.mp4"));
  engine_.SetAudioCodec(encoder->name);
  engine_.SetAudioRate(44100);
  engine_.SetVideoDisabled(true);
  ASSERT_EQ(engine_.AddOutputFile(Out("rate.mkv"), false), 1) << engine_.LastErrorText();
  EXPECT_EQ(Encoder(0)->sample_rate, expected);
  EXPECT_TRUE(log_.Has(&engine_, llWarning, warning));
}

TEST_F(OutputFileTest, PixelAndSampleFormatsFallBackToTheEncodersFirst) {
  const AVCodec *mjpeg = ff::avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  ASSERT_NE(mjpeg, nullptr);
  CodecContextPtr context(ff::avcodec_alloc_context3(nullptr));
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
  ChoosePixelFormat(context.get(), mjpeg);
  EXPECT_EQ(context->pix_fmt, AV_PIX_FMT_YUV420P);
  context->pix_fmt = AV_PIX_FMT_RGB24;
  ChoosePixelFormat(context.get(), mjpeg);
  EXPECT_EQ(context->pix_fmt, mjpeg->pix_fmts[0]);

  const AVCodec *mp2 = ff::avcodec_find_encoder(AV_CODEC_ID_MP2);
  ASSERT_NE(mp2, nullptr);
  context->sample_fmt = AV_SAMPLE_FMT_FLTP;
  ChooseSampleFormat(context.get(), mp2);
  EXPECT_EQ(context->sample_fmt, mp2->sample_fmts[0]);
}

TEST_F(OutputFileTest, AnInputIsNeverOverwritten) {
  const fs::path copy = dir_.path() / "source.mp4";
  fs::copy_file(FixturePath("h264_aac.mp4"), copy);
  const auto size = fs::file_size(copy);
  ASSERT_TRUE(engine_.AddInputFile(copy.string())) << engine_.LastErrorText();
  // Another spelling of the same file.
  const std::string sameFile = (dir_.path() / "." / "source.mp4").string();
  EXPECT_EQ(engine_.AddOutputFile(sameFile, false), -1);
  EXPECT_NE(engine_.LastErrorText().find("is the same file as input file #0"), std::string::npos)
      << engine_.LastErrorText();
  EXPECT_EQ(fs::file_size(copy), size);
  EXPECT_EQ(engine_.OutputFileCount(), 0);
}

// A muxer that names its files itself: the sequence "img%03d.png" would write its first
// picture over the source img001.png, which the job reads.
TEST_F(OutputFileTest, AnImageSequenceNeverWritesOverItsSource) {
  const std::string picture = Out("img001.png");
  {
    TCustomFFmpeg maker;
    maker.Reset();
    ASSERT_TRUE(maker.AddInputFile(FixturePath("h264_aac.mp4"))) << maker.LastErrorText();
    maker.ParseOption("vframes", "1");
    ASSERT_EQ(maker.AddOutputFile(picture, false), 1) << maker.LastErrorText();
    maker.Start(false);
    ASSERT_TRUE(maker.CompletedNormally()) << maker.ErrorMessage();
  }
  std::ifstream in(picture, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(before.empty());

  ASSERT_TRUE(engine_.AddInputFile(picture)) << engine_.LastErrorText();
  engine_.ParseOption("s", "32x24");
  ASSERT_EQ(engine_.AddOutputFile(Out("img%03d.png"), false), 1) << engine_.LastErrorText();
  engine_.Start(false);
  EXPECT_TRUE(engine_.ErrorOccurred());
  const auto lines = log_.Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const test::LoggedLine &line) {
    return line.Text.find(picture + " is an input of this job; it will not be overwritten") !=
           std::string::npos;
  }));
  std::ifstream again(picture, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), before)
      << "the source was written over";

  // A source whose own name is the pattern, read as a single picture, is not what the
  // failed job cleans up after itself.
  engine_.FreeAll();
  engine_.Reset();
  const std::string patternNamed = Out("img%03d.png");
  fs::copy_file(picture, patternNamed);
  engine_.ParseOption("f", "png_pipe");
  ASSERT_TRUE(engine_.AddInputFile(patternNamed)) << engine_.LastErrorText();
  ASSERT_TRUE(engine_.AddInputFile(picture)) << engine_.LastErrorText();
  ASSERT_EQ(engine_.AddOutputFile(patternNamed, false), 1) << engine_.LastErrorText();
  engine_.Start(false);
  EXPECT_TRUE(engine_.ErrorOccurred());
  EXPECT_TRUE(fs::exists(patternNamed)) << "a source was removed";
  EXPECT_EQ(fs::file_size(picture), before.size());
}

TEST_F(OutputFileTest, CreatedFileGoesWithFreeAllWhenNothingWasWritten) {
  ASSERT_TRUE(AddInput("h264_aac.mp4"));
  const std::string name = Out("created.mp4");
  ASSERT_EQ(engine_.AddOutputFile(name, false), 1) << engine_.LastErrorText();
  EXPECT_TRUE(fs::exists(name));
  ASSERT_NE(engine_.OutputFile(0).IO, nullptr);
  EXPECT_TRUE(engine_.OutputFile(0).IO->IsOpen());
  engine_.FreeAll();
  EXPECT_FALSE(fs::exists(name));
}

TEST_F(OutputFileTest, NamesTheLibraryWouldMisreadGoThroughTheUnicodeProtocol) {
  for (const std::string leaf : {"Grüße – 映画.mp4", "part:one.mp4"}) {
    engine_.Reset();
    ASSERT_TRUE(AddInput("h264_aac.mp4"));
    const std::string name = Out(leaf);
    ASSERT_EQ(engine_.AddOutputFile(name, false), 1) << leaf << ": " << engine_.LastErrorText();
    EXPECT_TRUE(fs::exists(fs::u8path(name))) << leaf;
    EXPECT_EQ(engine_.OutputFile(0).FileName, name);
    if (leaf.find(':') != std::string::npos) {
      EXPECT_TRUE(engine_.OutputFile(0).IO->UsesUnicodeIO());
    }
    EXPECT_EQ(ContextFileName(Output()->url), name);
  }
}

TEST_F(OutputFileTest, TheOutputTableRefusesATwentyFirstFile) {
  engine_.SetAudioDisabled(true);
  for (int i = 0; i < MAX_FILES; ++i) {
    engine_.SetAudioDisabled(true);
    engine_.SetVideoDisabled(true);
    std::string name = std::to_string(i);
    name.insert(0, 1, 'f').append(".mp4");
    ASSERT_EQ(engine_.AddOutputFile(Out(name), false), i + 1) << engine_.LastErrorText();
  }
  const std::string extra = Out("extra.mp4");
  EXPECT_EQ(engine_.AddOutputFile(extra, false), -1);
  EXPECT_EQ(engine_.LastErrorText(), "Too many output files (the table holds 20)");
  EXPECT_FALSE(fs::exists(extra));
  EXPECT_EQ(engine_.OutputFileCount(), MAX_FILES);
}

TEST_F(OutputFileTest, NewStreamOptionsNeedAnOutputAndResetTheirSettings) {
  EXPECT_EQ(Raised([&] { engine_.ParseOption("newvideo", ""); }),
            "At least one output file must be specified");
  ASSERT_TRUE(AddInput("h264_aac.mp4"));
  ASSERT_EQ(engine_.AddOutputFile(Out("more.mkv"), false), 1) << engine_.LastErrorText();
  engine_.SetAudioCodec("nosuchencoder");
  EXPECT_EQ(Raised([&] { engine_.ParseOption("newaudio", ""); }), "Unknown encoder 'nosuchencoder'");
  EXPECT_EQ(Output()->nb_streams, 2u); // nothing half-made was left in the file
  engine_.SetAudioCodec("mp2");
  engine_.SetAudioLanguage("ger");
  engine_.ParseOption("newaudio", "");
  ASSERT_EQ(Output()->nb_streams, 3u);
  EXPECT_EQ(Encoder(2)->codec_id, AV_CODEC_ID_MP2);
  EXPECT_EQ(MetadataValue(Output()->streams[2]->metadata, "language", ""), "ger");
  EXPECT_TRUE(engine_.Pending().AudioCodecName.empty());
  EXPECT_EQ(engine_.OutputFile(0).Streams.size(), 3u);
}

} // namespace

namespace {

TEST_F(OutputFileTest, MuxingParametersReachTheMuxer) {
  ASSERT_TRUE(AddInput("mpeg2_mp2.mpg"));
  engine_.SetMuxPreload(0.25);
  engine_.SetOutputTimestamp(86400); // 1970-01-02
  ASSERT_EQ(engine_.AddOutputFile(Out("program.mpg"), false), 1) << engine_.LastErrorText();
  std::int64_t preload = 0;
  ASSERT_GE(ff::av_opt_get_int(Output(), "preload", AV_OPT_SEARCH_CHILDREN, &preload), 0);
  EXPECT_EQ(preload, 250000);
  EXPECT_EQ(Output()->max_delay, 700000);
  EXPECT_TRUE(Output()->flags & AVFMT_FLAG_NONBLOCK);
  EXPECT_EQ(MetadataValue(Output()->metadata, "creation_time", ""), "1970-01-02T00:00:00.000000Z");
}

} // namespace
