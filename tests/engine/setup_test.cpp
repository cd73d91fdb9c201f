// TranscodeSetup on generated media: the records and encoders it builds, the headers it
// writes, its refusals with their messages, two-pass log files, metadata maps and the
// stream-mapping listing; and that TranscodeTearDown leaves nothing open.
#include <filesystem>
#include <cstring>
#include <fstream>

#include "EngineTestSupport.h"
#include "fixtures/Catalog.h"
#include "media/Texts.h"

using namespace tovi;
using tovi::test::EngineTest;
using tovi::test::FixturePath;
namespace fs = std::filesystem;

namespace {

class SetupTest : public EngineTest {
protected:
  void TearDown() override { engine_.FreeAll(); }
  std::string Out(const std::string &name) const { return dir_.file(name); }
  void AddInput(const std::string &fixture) {
    ASSERT_TRUE(engine_.AddInputFile(FixturePath(fixture))) << engine_.LastErrorText();
  }
  void AddOutput(const std::string &name) {
    ASSERT_GE(engine_.AddOutputFile(Out(name), false), 1) << engine_.LastErrorText();
  }
  const TTranscodeTables &Tables() const { return *engine_.Tables(); }
  const AVCodecParameters *OutPar(int stream) const {
    return engine_.OutputFile(0).Context->streams[stream]->codecpar;
  }
  // Writes the trailer and closes the files, so that the output can be read back.
  void FinishOutput() {
    ASSERT_GE(ff::av_write_trailer(engine_.OutputFile(0).Context.get()), 0);
    engine_.TranscodeTearDown();
    engine_.FreeAll();
  }
  std::vector<std::string> Verbose() const {
    std::vector<std::string> lines;
    for (const auto &l : log_.Lines())
      if (l.Sender == &engine_ && l.Level == llVerbose) lines.push_back(l.Text);
    return lines;
  }

  test::TempDir dir_; // removed after the engine has closed its files
};

// Opens a written file and returns its streams' codec ids.
std::vector<AVCodecID> ReadBack(const std::string &path) {
  AVFormatContext *raw = nullptr;
  EXPECT_EQ(ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0) << path;
  InputFormatContextPtr ic(raw);
  std::vector<AVCodecID> ids;
  if (!ic) return ids;
  EXPECT_GE(ff::avformat_find_stream_info(ic.get(), nullptr), 0);
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    ids.push_back(ic->streams[i]->codecpar->codec_id);
  return ids;
}

TEST_F(SetupTest, AutomaticMappingEncodesIntoAviAndWritesAReadableHeader) {
  AddInput("h264_aac.mp4");
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioCodec("libmp3lame");
  engine_.SetFrameSize("320x240");
  engine_.SetAudioRate(22050);
  AddOutput("out.avi");
  engine_.TranscodeSetup();

  const TTranscodeTables &t = Tables();
  ASSERT_EQ(t.InputFiles.size(), 1u);
  EXPECT_EQ(t.InputFiles[0].StreamCount, 2);
  ASSERT_EQ(t.InputStreams.size(), 2u);
  ASSERT_EQ(t.OutputStreams.size(), 2u);
  for (const TInputStreamRecord &ist : t.InputStreams) {
    EXPECT_FALSE(ist.Discard);
    EXPECT_TRUE(ist.DecodingNeeded);
    EXPECT_TRUE(ist.IsStart);
    EXPECT_EQ(ist.NextPts, NO_TIMESTAMP);
  }
  const TOutputStreamRecord &video = t.OutputStreams[0];
  const TOutputStreamRecord &audio = t.OutputStreams[1];
  EXPECT_EQ(t.InputStreams[size_t(video.SourceIndex)].Stream->codecpar->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(t.InputStreams[size_t(audio.SourceIndex)].Stream->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(video.SyncIndex, video.SourceIndex);
  EXPECT_TRUE(video.EncodingNeeded && audio.EncodingNeeded);
  EXPECT_TRUE(video.ActiveForReports);
  // 176x144 into 320x240: the scaler and its picture are ready for the pipeline.
  EXPECT_TRUE(video.VideoResample);
  EXPECT_NE(video.Scaler, nullptr);
  ASSERT_NE(video.TemporaryPicture, nullptr);
  EXPECT_EQ(video.TemporaryPicture->width, 320);
  EXPECT_EQ(video.ResampleWidth, 176);
  EXPECT_EQ(video.InitialWidth, 176);
  EXPECT_GE(t.WorkBuffer.size(), size_t(6 * 320 * 240 + 200));
  // 44100 Hz into 22050 Hz: the converter exists now.
  EXPECT_TRUE(audio.AudioResample);
  EXPECT_NE(audio.Resampler, nullptr);
  EXPECT_NE(audio.Fifo, nullptr);
  EXPECT_EQ(engine_.OpenEncoderCount(), 2);
  EXPECT_EQ(engine_.OpenDecoderCount(), 2);

  // The muxer's parameters come from the opened encoders.
  EXPECT_EQ(OutPar(0)->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(OutPar(0)->width, 320);
  EXPECT_EQ(OutPar(0)->height, 240);
  EXPECT_EQ(OutPar(1)->codec_id, AV_CODEC_ID_MP3);
  EXPECT_EQ(OutPar(1)->ch_layout.nb_channels, 2);
  EXPECT_EQ(OutPar(1)->sample_rate, 22050);
  EXPECT_GT(OutPar(1)->frame_size, 0);
  EXPECT_TRUE(ff::avcodec_is_open(video.Encoder));

  FinishOutput();
  EXPECT_EQ(engine_.OpenEncoderCount(), 0);
  EXPECT_EQ(engine_.Tables(), nullptr);
  ASSERT_TRUE(fs::exists(Out("out.avi")));
  EXPECT_GT(fs::file_size(Out("out.avi")), 0u);
  EXPECT_EQ(ReadBack(Out("out.avi")), (std::vector<AVCodecID>{AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP3}));
}

TEST_F(SetupTest, AudioTimeBaseFollowsTheRateTheEncoderTakes) {
  AddInput("h264_aac.mp4");
  engine_.SetVideoDisabled(true);
  engine_.SetAudioCodec("libmp3lame");
  engine_.SetAudioRate(7000); // LAME's nearest is 8000
  AddOutput("rate.mp3");
  engine_.TranscodeSetup();
  EXPECT_EQ(OutPar(0)->sample_rate, 8000);
  EXPECT_EQ(Tables().OutputStreams[0].Encoder->time_base.den, 8000);
  EXPECT_NE(Tables().OutputStreams[0].Resampler, nullptr);
}

TEST_F(SetupTest, JoinModeMapsEachSlotToItsOwnInputAndOpensOneGroup) {
  AddInput("h264_aac.mp4");
  AddInput("ntsc_30000_1001.mp4");
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioCodec("libmp3lame");
  ASSERT_EQ(engine_.AddOutputFile(Out("joined.avi"), true), 2) << engine_.LastErrorText();
  log_.Clear();
  engine_.TranscodeSetup();
  const TTranscodeTables &t = Tables();
  EXPECT_EQ(t.JoinGroupSize, 2);
  ASSERT_EQ(t.OutputStreams.size(), 4u);
  for (const TOutputStreamRecord &ost : t.OutputStreams)
    EXPECT_EQ(t.InputStreams[size_t(ost.SourceIndex)].FileIndex, ost.FileIndex);
  EXPECT_EQ(engine_.OpenEncoderCount(), 2);
  EXPECT_EQ(t.OutputStreams[0].SavedCodecId, int(AV_CODEC_ID_MPEG4));
  EXPECT_EQ(Verbose(),
            (std::vector<std::string>{"Stream mapping:", "  Stream #0.0 -> #0.0 (Video)",
                                      "  Stream #0.1 -> #0.1 (Audio)", "  Stream #1.0 -> #0.0 (Video)",
                                      "  Stream #1.1 -> #0.1 (Audio)"}));
}

TEST_F(SetupTest, MapOfAnotherMediaTypeIsRefused) {
  AddInput("h264_aac.mp4");
  engine_.ParseOption("map", "0.1");
  engine_.ParseOption("map", "0.0:0.1");
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioCodec("libmp3lame");
  ASSERT_EQ(engine_.AddOutputFile(Out("mapped.avi"), false), 1) << engine_.LastErrorText();
  const std::string raised = Raised([&] { engine_.TranscodeSetup(); });
  // Output #0.0 is video, the first map names the audio stream.
  EXPECT_EQ(raised, "Codec type mismatch for mapping #0.1 (Audio) -> #0.0 (Video)");
  EXPECT_EQ(engine_.Tables(), nullptr);
}

TEST_F(SetupTest, ExplicitMapsChooseSourcesAndSyncStreams) {
  AddInput("h264_aac.mp4");
  engine_.ParseOption("map", "0.0:0.1");
  engine_.ParseOption("map", "0.1");
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioCodec("libmp3lame");
  AddOutput("mapped.avi");
  log_.Clear();
  engine_.TranscodeSetup();
  EXPECT_EQ(Tables().OutputStreams[0].SourceIndex, 0);
  EXPECT_EQ(Tables().OutputStreams[0].SyncIndex, 1);
  EXPECT_EQ(Verbose(), (std::vector<std::string>{"Stream mapping:", "  Stream #0.0 -> #0.0 (Video)",
                                                 " [sync #0.1 (Audio)]", "  Stream #0.1 -> #0.1 (Audio)"}));
}

TEST_F(SetupTest, InvalidMapsAreRefusedWithTheirMessage) {
  AddInput("h264_aac.mp4");
  engine_.ParseOption("map", "0.5");
  engine_.ParseOption("map", "0.1");
  AddOutput("bad.avi");
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }), "Could not find input stream #0.5");

  engine_.Reset();
  AddInput("h264_aac.mp4");
  engine_.ParseOption("map", "0.0:1.0");
  engine_.ParseOption("map", "0.1");
  AddOutput("bad.avi");
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }), "Could not find sync stream #1.0");

  engine_.Reset();
  AddInput("h264_aac.mp4");
  engine_.ParseOption("map", "0.0");
  AddOutput("bad.avi");
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }),
            "Number of stream maps must match number of output streams");
  EXPECT_EQ(engine_.OpenEncoderCount(), 0);
}

TEST_F(SetupTest, StreamCopyIntoMatroskaCopiesTheCodecParameters) {
  AddInput("h264_aac.mp4");
  engine_.SetVideoCodec("copy");
  engine_.SetAudioCodec("copy");
  AddOutput("copy.mkv");
  engine_.TranscodeSetup();
  const AVFormatContext *ic = engine_.InputFile(0).Context();
  for (int s = 0; s < 2; ++s) {
    const AVCodecParameters *in = ic->streams[s]->codecpar;
    EXPECT_EQ(OutPar(s)->codec_id, in->codec_id);
    ASSERT_EQ(OutPar(s)->extradata_size, in->extradata_size);
    EXPECT_EQ(0, std::memcmp(OutPar(s)->extradata, in->extradata, size_t(in->extradata_size)));
    EXPECT_FALSE(Tables().OutputStreams[size_t(s)].EncodingNeeded);
    EXPECT_FALSE(Tables().InputStreams[size_t(s)].DecodingNeeded);
  }
  EXPECT_EQ(OutPar(0)->width, 176);
  EXPECT_EQ(OutPar(1)->sample_rate, 44100);
  EXPECT_EQ(engine_.OpenEncoderCount(), 0);
  EXPECT_EQ(engine_.OpenDecoderCount(), 0);
  FinishOutput();
  // The Matroska demuxer refuses a file without a single cluster, so only the header
  // itself is checked here: EBML magic first.
  std::ifstream written(Out("copy.mkv"), std::ios::binary);
  unsigned char magic[4] = {};
  written.read(reinterpret_cast<char *>(magic), 4);
  EXPECT_EQ(std::vector<unsigned char>(magic, magic + 4),
            (std::vector<unsigned char>{0x1A, 0x45, 0xDF, 0xA3}));
}

TEST_F(SetupTest, StreamCopyRefusesWhatNeedsDecodedFrames) {
  AddInput("h264_aac.mp4");
  engine_.SetVideoCodec("copy");
  engine_.SetAudioCodec("copy");
  engine_.SetAudioVolume(512);
  AddOutput("copy.mkv");
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }),
            "-acodec copy and -vol are incompatible (frames are not decoded)");

  engine_.Reset();
  AddInput("h264_aac.mp4");
  engine_.SetVideoCodec("copy");
  engine_.SetPreviewFlags(1);
  AddOutput("copy.mkv");
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }),
            "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
}

TEST_F(SetupTest, OutputWithoutStreamsIsRefused) {
  AddInput("audio_only.mp3");
  engine_.SetAudioDisabled(true);
  ASSERT_EQ(engine_.AddOutputFile(Out("empty.mp4"), false), 1) << engine_.LastErrorText();
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }), "Output file #0 does not contain any stream");
}

TEST_F(SetupTest, MissingEncoderIsLoggedAndRaisedAfterTheListing) {
  AddInput("h264_aac.mp4");
  engine_.SetAudioDisabled(true);
  AddOutput("noenc.avi"); // the muxer's default encoder, not one chosen by name
  // A codec this build can only decode.
  engine_.OutputFile(0).Streams[0].Encoder->codec_id = AV_CODEC_ID_VP6;
  // No name override here: the encoder is looked up by id.
  ASSERT_EQ(engine_.EncoderOverrides()[0], nullptr);
  log_.Clear();
  const std::string expected = "Encoder (codec id " + std::to_string(int(AV_CODEC_ID_VP6)) +
                               ") not found for output stream #0.0 (Video)";
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }), expected);
  EXPECT_TRUE(log_.Has(&engine_, llError, expected));
  EXPECT_TRUE(log_.Has(&engine_, llVerbose, "Stream mapping:"));
}

TEST_F(SetupTest, NoCandidateInTheSelectedProgramIsRefused) {
  AddInput("h264_aac.mp4");
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioDisabled(true);
  AddOutput("a.avi");
  engine_.SetProgramId(99);
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }),
            "Could not find input stream matching output stream #0.0 (Video)");
}

TEST_F(SetupTest, FirstPassCreatesOneLogFilePerEncodedStream) {
  AddInput("h264_aac.mp4");
  engine_.ParseOption("pass", "1");
  engine_.ParseOption("passlogfile", Out("stats"));
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioDisabled(true);
  AddOutput("pass1.avi");
  engine_.TranscodeSetup();
  const TOutputStreamRecord &video = Tables().OutputStreams[0];
  EXPECT_EQ(video.PassLogFileName, Out("stats") + "-0.log");
  EXPECT_NE(video.PassLogFile, nullptr);
  EXPECT_TRUE(fs::exists(Out("stats-0.log")));

  // The second pass reads what the first wrote (here: nothing the encoder can use, so
  // only the naming and the read are checked) and refuses a missing file.
  engine_.Reset();
  AddInput("h264_aac.mp4");
  engine_.ParseOption("pass", "2");
  engine_.ParseOption("passlogfile", Out("nostats"));
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioDisabled(true);
  AddOutput("pass2.avi");
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }),
            "Cannot read file: Error reading log file \"" + Out("nostats") + "-0.log\" for pass-2 encoding");
}

TEST_F(SetupTest, FirstPassRefusesAnUnwritableLogFile) {
  AddInput("h264_aac.mp4");
  engine_.ParseOption("pass", "1");
  engine_.ParseOption("passlogfile", Out("missing-dir/stats"));
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioDisabled(true);
  AddOutput("pass1.avi");
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }),
            "Cannot write log file " + Out("missing-dir/stats") + "-0.log for pass-1 encoding");
}

TEST_F(SetupTest, MetadataMapsCopyWithoutOverwriting) {
  AddInput("metadata.mp4");
  engine_.ParseOption("map_meta_data", "0:0");
  engine_.AddMetadata("title", "Kept");
  engine_.SetVideoCodec("copy");
  engine_.SetAudioCodec("copy");
  AddOutput("meta.mkv");
  engine_.TranscodeSetup();
  const AVDictionary *meta = engine_.OutputFile(0).Context->metadata;
  EXPECT_EQ(MetadataValue(meta, "title", ""), "Kept");
  EXPECT_EQ(MetadataValue(meta, "artist", ""), "Tovi Artist");
  // Stream metadata follows the source too.
  EXPECT_EQ(MetadataValue(engine_.OutputFile(0).Context->streams[1]->metadata, "language", ""), "eng");

  engine_.Reset();
  AddInput("metadata.mp4");
  engine_.ParseOption("map_meta_data", "3:0");
  engine_.SetVideoCodec("copy");
  engine_.SetAudioCodec("copy");
  AddOutput("meta.mkv");
  const std::string expected = "Invalid output file index 3 map_meta_data(3,0)";
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }), expected);
  EXPECT_TRUE(log_.Has(&engine_, llError, expected));
}

// Adds a chapter in milliseconds to an opened input, kept the way the demuxer keeps them.
void AddChapter(AVFormatContext *ic, std::int64_t startMs, std::int64_t endMs, const char *title) {
  auto *chapter = static_cast<AVChapter *>(ff::av_mallocz(sizeof(AVChapter)));
  ASSERT_NE(chapter, nullptr);
  void *grown = ff::av_realloc(ic->chapters, (ic->nb_chapters + 1) * sizeof(AVChapter *));
  ASSERT_NE(grown, nullptr);
  ic->chapters = static_cast<AVChapter **>(grown);
  ic->chapters[ic->nb_chapters++] = chapter;
  chapter->id = int64_t(ic->nb_chapters);
  chapter->time_base = AVRational{1, 1000};
  chapter->start = startMs;
  chapter->end = endMs;
  ff::av_dict_set(&chapter->metadata, "title", title, 0);
}

TEST_F(SetupTest, ChaptersAreShiftedByTheStartAndCutAtTheRecordingTime) {
  AddInput("h264_aac.mp4");
  AVFormatContext *ic = engine_.InputFile(0).Context();
  AddChapter(ic, 0, 400, "before the start");
  AddChapter(ic, 400, 1200, "across the start");
  AddChapter(ic, 1200, 2000, "across the end");
  AddChapter(ic, 2000, 3000, "after the end");
  engine_.SetStartTime(500000);
  engine_.SetRecordingTime(1000000);
  engine_.SetVideoCodec("copy");
  engine_.SetAudioCodec("copy");
  AddOutput("chapters.mkv");
  engine_.TranscodeSetup();
  const AVFormatContext *oc = engine_.OutputFile(0).Context.get();
  ASSERT_EQ(oc->nb_chapters, 2u);
  const AVRational ms{1, 1000};
  EXPECT_EQ(ff::av_rescale_q(oc->chapters[0]->start, oc->chapters[0]->time_base, ms), 0);
  EXPECT_EQ(ff::av_rescale_q(oc->chapters[0]->end, oc->chapters[0]->time_base, ms), 700);
  EXPECT_EQ(MetadataValue(oc->chapters[0]->metadata, "title", ""), "across the start");
  EXPECT_EQ(ff::av_rescale_q(oc->chapters[1]->start, oc->chapters[1]->time_base, ms), 700);
  EXPECT_EQ(ff::av_rescale_q(oc->chapters[1]->end, oc->chapters[1]->time_base, ms), 1000);
}

TEST_F(SetupTest, VideoFilterGraphTextIsBuiltAtSetUp) {
  AddInput("h264_aac.mp4");
  engine_.SetVideoFilters("null");
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioDisabled(true);
  AddOutput("vf.avi");
  ASSERT_TRUE(engine_.UsingVideoFilters());
  EXPECT_EQ(Raised([&] { engine_.TranscodeSetup(); }), "");
}

TEST_F(SetupTest, VideoFilterGraphTextTheLibraryCannotParseStopsTheSetUp) {
  AddInput("h264_aac.mp4");
  engine_.SetVideoFilters("nosuchfilter=1");
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioDisabled(true);
  AddOutput("vf.avi");
  const std::string raised = Raised([&] { engine_.TranscodeSetup(); });
  EXPECT_EQ(raised.rfind("Error opening filters: ", 0), 0u) << raised;
}

TEST_F(SetupTest, TearDownIsSafeToRepeatAndEncodersAreFreed) {
  AddInput("h264_aac.mp4");
  engine_.SetVideoCodec("mpeg4");
  engine_.SetAudioCodec("libmp3lame");
  AddOutput("t.avi");
  engine_.TranscodeSetup();
  engine_.TranscodeTearDown();
  EXPECT_EQ(engine_.OutputFile(0).Streams[0].Encoder, nullptr);
  EXPECT_EQ(engine_.InputFile(0).Decoders[0], nullptr);
  engine_.TranscodeTearDown();
  EXPECT_EQ(engine_.Tables(), nullptr);
}

} // namespace
