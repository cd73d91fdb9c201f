// Whole jobs on generated media, each output decoded again: containers and codecs,
// stream copy, targets, cutting by start and recording time, joining inputs, two-pass
// encoding, the size limit, frame-rate conversion by dropping and duplicating, the
// frame limit and damaged inputs.
#include <filesystem>
#include <fstream>

#include "TranscodeTestSupport.h"
#include "fixtures/Catalog.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

struct Report {
  int Input, Frame, Fps;
  float Quality, BitRate;
  std::int64_t Size, TimeUs, TotalUs;
};

TEST_F(TranscodeTest, Mpeg4Mp3AviKeepsEveryFrameAndTheTone) {
  const std::string out = Out("out.avi");
  ASSERT_TRUE(
      Configure({{"i", "h264_aac.mp4"}, {"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"ab", "128k"}}, out));
  ASSERT_TRUE(RunJob());
  const FileSummary file = ReadOutput(out);
  ASSERT_TRUE(file.Opened);
  EXPECT_EQ(file.Format, "avi");
  ASSERT_EQ(file.Streams.size(), 2u);
  const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
  const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(v && a);
  EXPECT_EQ(v->Codec, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(v->Width, 176);
  EXPECT_EQ(v->Height, 144);
  EXPECT_EQ(v->Frames, 50);
  EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
  EXPECT_EQ(a->Codec, AV_CODEC_ID_MP3);
  EXPECT_EQ(a->SampleRate, 44100);
  EXPECT_EQ(a->Channels, 2);
  EXPECT_NEAR(double(a->Samples), 88200.0, 2 * 1152.0 + 1105); // encoder delay and padding
  EXPECT_GT(a->Rms, 0.1);
  EXPECT_EQ(engine_.DuplicatedFrames(), 0);
  EXPECT_EQ(engine_.DroppedFrames(), 0);
}

TEST_F(TranscodeTest, H264AacMp4WithPresetScalesAndKeepsTiming) {
  const std::string out = Out("out.mp4");
  ASSERT_TRUE(Configure({{"i", "h264_aac.mp4"},
                         {"vcodec", "libx264"},
                         {"vpre", "fast"},
                         {"s", "320x240"},
                         {"acodec", "aac"},
                         {"ar", "48000"},
                         {"ac", "1"}},
                        out));
  ASSERT_TRUE(RunJob());
  const FileSummary file = ReadOutput(out);
  ASSERT_EQ(file.Streams.size(), 2u);
  const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
  const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(v && a);
  EXPECT_EQ(v->Codec, AV_CODEC_ID_H264);
  EXPECT_EQ(v->Width, 320);
  EXPECT_EQ(v->Height, 240);
  EXPECT_EQ(v->Frames, 50);
  EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
  EXPECT_NEAR(v->FirstSeconds, 0.0, 0.001);
  EXPECT_NEAR(v->LastSeconds, 49 * 0.04, 0.001);
  EXPECT_EQ(a->Codec, AV_CODEC_ID_AAC);
  EXPECT_EQ(a->SampleRate, 48000); // resampled
  EXPECT_EQ(a->Channels, 1);       // down-mixed
  EXPECT_NEAR(double(a->Samples), 96000.0, 2048.0 + 1024);
  EXPECT_GT(a->Rms, 0.1);
  EXPECT_NEAR(file.DurationSeconds, 2.0, 0.05);
}

TEST_F(TranscodeTest, Mp4FamilyKeepsTheLastPicture) {
  // The MP4 muxers end the edit list at the end of the last sample: a picture packet
  // without a duration would make the last picture last nothing, and players (and the
  // demuxer) would drop it.
  for (const auto &[format, codec] : std::vector<std::pair<std::string, std::string>>{
           {"mp4", "mpeg4"}, {"ipod", "mpeg4"}, {"ipod", "libx264"}, {"3gp", "h263"}}) {
    SCOPED_TRACE(format + " " + codec);
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out("last_" + format + "_" + codec + ".mp4");
    Options options = {{"i", "short_clip.mp4"}, {"f", format}, {"vcodec", codec}, {"acodec", "aac"}};
    if (codec == "h263") options.push_back({"s", "176x144"});
    ASSERT_TRUE(Configure(options, out));
    ASSERT_TRUE(RunJob());
    const FileSummary file = ReadOutput(out);
    const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->Frames, 25);
    EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
    EXPECT_NEAR(v->LastSeconds, 0.96, 0.001);
    engine_.FreeAll();
  }
}

TEST_F(TranscodeTest, AudioOnlyMp3FromAVideoFile) {
  const std::string out = Out("sound.mp3");
  ASSERT_TRUE(
      Configure({{"i", "mpeg4_mp3.avi"}, {"vn", "1"}, {"acodec", "libmp3lame"}, {"ar", "22050"}}, out));
  std::vector<Report> reports;
  engine_.SetProgressIntervalUs(0);
  engine_.SetOnProgress([&](TCustomFFmpeg &, int input, int frame, int fps, float q, float rate,
                            std::int64_t size, std::int64_t time, std::int64_t total) {
    reports.push_back({input, frame, fps, q, rate, size, time, total});
  });
  ASSERT_TRUE(RunJob());
  // Without video, every report has no frame number, rate or quality.
  ASSERT_FALSE(reports.empty());
  for (const Report &r : reports) {
    EXPECT_EQ(r.Frame, -1);
    EXPECT_EQ(r.Fps, -1);
    EXPECT_EQ(r.Quality, -1.0f);
  }
  EXPECT_EQ(reports.back().Input, -1);
  const FileSummary file = ReadOutput(out);
  EXPECT_EQ(file.Format, "mp3");
  ASSERT_EQ(file.Streams.size(), 1u);
  EXPECT_EQ(file.Streams[0].Codec, AV_CODEC_ID_MP3);
  EXPECT_EQ(file.Streams[0].SampleRate, 22050);
  EXPECT_NEAR(double(file.Streams[0].Samples), 44100.0, 2 * 1152.0);
  EXPECT_GT(file.Streams[0].Rms, 0.1);
}

TEST_F(TranscodeTest, StreamCopyIntoMatroskaKeepsPacketsAndTimes) {
  const std::string out = Out("copy.mkv");
  ASSERT_TRUE(Configure({{"i", "h264_aac.mp4"}, {"vcodec", "copy"}, {"acodec", "copy"}}, out));
  int reports = 0;
  float quality = 0;
  engine_.SetOnProgress(
      [&](TCustomFFmpeg &, int, int, int, float q, float, std::int64_t, std::int64_t, std::int64_t) {
        ++reports;
        quality = q;
      });
  ASSERT_TRUE(RunJob());
  EXPECT_GE(reports, 1);
  EXPECT_EQ(quality, -1.0f); // stream copy has no quality
  const FileSummary file = ReadOutput(out);
  ASSERT_EQ(file.Streams.size(), 2u);
  const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
  const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(v && a);
  EXPECT_EQ(v->Codec, AV_CODEC_ID_H264);
  EXPECT_EQ(a->Codec, AV_CODEC_ID_AAC);
  EXPECT_EQ(v->Frames, 50);
  EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
  EXPECT_NEAR(v->LastSeconds - v->FirstSeconds, 49 * 0.04, 0.002);
  EXPECT_NEAR(double(a->Samples), 88200.0, 2048.0);
  EXPECT_GT(a->Rms, 0.1);
}

TEST_F(TranscodeTest, StartAndRecordingTimeCutTheInput) {
  // Before the input: the input seeks; after it: the output skips what comes earlier.
  for (const bool seekInput : {true, false}) {
    SCOPED_TRACE(seekInput ? "-ss before -i" : "-ss after -i");
    TCustomFFmpeg &engine = engine_;
    engine.Reset();
    const std::string out = Out(seekInput ? "cut_in.avi" : "cut_out.avi");
    Options options = {{"i", "video_only.mp4"}, {"t", "1"}, {"vcodec", "mpeg4"}};
    options.insert(seekInput ? options.begin() : options.end(), {"ss", "0.5"});
    terminations_ = 0;
    ASSERT_TRUE(Configure(options, out));
    ASSERT_TRUE(RunJob());
    const FileSummary file = ReadOutput(out);
    ASSERT_EQ(file.Streams.size(), 1u);
    const StreamSummary &v = file.Streams[0];
    EXPECT_NEAR(v.Frames, 25, 1);
    ASSERT_FALSE(v.PatternFrames.empty());
    EXPECT_NEAR(v.PatternFrames.front(), 12.5, 1.0);
    EXPECT_TRUE(Consecutive(v.PatternFrames, v.PatternFrames.front()));
    EXPECT_NEAR(v.FirstSeconds, 0.0, 0.001);
    engine.FreeAll();
  }
}

TEST_F(TranscodeTest, StartTimeCutsBothStreamsToTheRecordingTimeInEveryContainer) {
  // Seeking lands on the key frame before the start; that lead-in has negative times
  // and must not reach the output: Matroska and AVI would keep it (Matroska shifting
  // every stream by it), MP4 would hide it behind an edit list. The recording time
  // cuts the audio on the sample and the video at the picture showing at its end.
  constexpr double kFrame = 0.04, kAudioFrame = 1024.0 / 44100;
  for (const std::string ext : {"mkv", "mp4", "avi"}) {
    for (const bool seekInput : {true, false}) {
      SCOPED_TRACE(ext + (seekInput ? ", -ss before -i" : ", -ss after -i"));
      engine_.Reset();
      terminations_ = 0;
      const std::string out = Out(std::string(seekInput ? "in." : "out.") + ext);
      // AVI keeps no presentation times, so it gets an encoder without reordering.
      const bool avi = ext == "avi";
      Options options = {{"i", "h264_aac.mp4"},
                         {"t", "1"},
                         {"vcodec", avi ? "mpeg4" : "libx264"},
                         {"acodec", avi ? "libmp3lame" : "aac"}};
      options.insert(seekInput ? options.begin() : options.begin() + 1, {"ss", "0.5"});
      ASSERT_TRUE(Configure(options, out));
      ASSERT_TRUE(RunJob());
      const FileSummary file = ReadOutput(out);
      const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
      const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
      ASSERT_TRUE(v && a);
      // Matroska has no room for the AAC encoder's delay: every stream moves by it.
      EXPECT_NEAR(v->FirstSeconds, 0.0, kAudioFrame + 0.001);
      // AVI's times are counted from the decoder's first output, one picture late.
      if (!avi) {
        EXPECT_NEAR(v->LastSeconds + kFrame - v->FirstSeconds, 1.0, 0.001);
      }
      EXPECT_EQ(v->Frames, 25);
      ASSERT_FALSE(v->PatternFrames.empty());
      EXPECT_EQ(v->PatternFrames.front(), 13); // the first picture at or after 0.5 s
      EXPECT_TRUE(Consecutive(v->PatternFrames, 13));
      EXPECT_NEAR(a->FirstSeconds, 0.0, 0.001);
      // One second of sound, plus the encoder's delay and its last frame's padding
      // where the container does not trim them.
      EXPECT_GE(double(a->Samples), 44100.0);
      EXPECT_LE(double(a->Samples), 44100.0 + (avi ? 2 * 1152 + 1105 : 2 * 1024));
      EXPECT_GT(a->Rms, 0.1);
      engine_.FreeAll();
    }
  }
}

TEST_F(TranscodeTest, ShortestEndsEveryStreamWithTheShortestInput) {
  // Pictures from one input, sound from another that lasts half as long, and the
  // other way round: with "shortest" the longer stream stops within a frame of the
  // shorter one's end; without it each runs to the end of its own input.
  struct Case {
    const char *first, *second;
    bool shortest;
    double video, audio; // seconds expected
  };
  for (const Case c : {Case{"h264_aac.mp4", "short_clip.mp4", true, 1.0, 1.0},
                       Case{"short_clip.mp4", "h264_aac.mp4", true, 1.0, 1.0},
                       Case{"h264_aac.mp4", "short_clip.mp4", false, 2.0, 1.0}}) {
    SCOPED_TRACE(std::string(c.first) + (c.shortest ? " shortest" : ""));
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out("shortest.mp4");
    Options options = {{"i", c.first}, {"i", c.second},     {"map", "0.0"},
                       {"map", "1.1"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}};
    if (c.shortest) options.push_back({"shortest", "1"});
    ASSERT_TRUE(Configure(options, out));
    ASSERT_TRUE(RunJob());
    const FileSummary file = ReadOutput(out);
    const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
    const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    // The loop reads whichever stream is behind, so one more picture may be written.
    EXPECT_GE(v->Frames, int(c.video * 25));
    EXPECT_LE(v->Frames, int(c.video * 25) + 1);
    EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
    // An input's end is seen when it is read next, so the other stream may have gone
    // a few frames further by then.
    const double seconds = double(a->Samples) / a->SampleRate;
    EXPECT_GE(seconds, c.audio);
    EXPECT_LE(seconds, c.audio + 0.1);
    engine_.FreeAll();
  }
}

TEST_F(TranscodeTest, JoinedInputsContinueTimestampsAndFrameNumbers) {
  const std::string out = Out("joined.avi");
  ASSERT_TRUE(Configure(
      {{"i", "video_only.mp4"}, {"i", "odd_size.avi"}, {"an", "1"}, {"vcodec", "mpeg4"}, {"s", "160x120"}},
      out, /*join=*/true));
  std::vector<int> inputs;
  engine_.SetOnProgress([&](TCustomFFmpeg &, int input, int, int, float, float, std::int64_t, std::int64_t,
                            std::int64_t total) {
    inputs.push_back(input);
    EXPECT_EQ(total, 4000000); // both inputs' durations
  });
  engine_.SetProgressIntervalUs(0);
  ASSERT_TRUE(RunJob());
  EXPECT_EQ(inputs.front(), 0);
  EXPECT_NE(std::find(inputs.begin(), inputs.end(), 1), inputs.end());
  EXPECT_EQ(inputs.back(), -1);
  const FileSummary file = ReadOutput(out);
  ASSERT_EQ(file.Streams.size(), 1u);
  const StreamSummary &v = file.Streams[0];
  ASSERT_EQ(v.Frames, 100);
  const std::vector<int> first(v.PatternFrames.begin(), v.PatternFrames.begin() + 50);
  const std::vector<int> second(v.PatternFrames.begin() + 50, v.PatternFrames.end());
  EXPECT_TRUE(Consecutive(first, 0));
  EXPECT_TRUE(Consecutive(second, 0));
  EXPECT_NEAR(v.LastSeconds, 99 * 0.04, 0.001);
}

// Encoders with a delay (libx264's look-ahead, AAC's priming) still hold the end of the
// first input when the second starts: the second must follow what was given to them,
// not what they have returned, or its pictures are dropped and its samples refused.
TEST_F(TranscodeTest, JoinedInputsThroughDelayingEncodersKeepEverything) {
  const std::string out = Out("joined.mp4");
  ASSERT_TRUE(Configure({{"i", "h264_aac.mp4"},
                         {"i", "h264_aac.mp4"},
                         {"vcodec", "libx264"},
                         {"vpre", "fast"},
                         {"acodec", "aac"}},
                        out, /*join=*/true));
  ASSERT_TRUE(RunJob()) << engine_.ErrorMessage();
  const FileSummary file = ReadOutput(out);
  ASSERT_EQ(file.Streams.size(), 2u);
  ASSERT_TRUE(file.First(AVMEDIA_TYPE_VIDEO) && file.First(AVMEDIA_TYPE_AUDIO));
  const StreamSummary &v = *file.First(AVMEDIA_TYPE_VIDEO);
  const StreamSummary &a = *file.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_EQ(v.Frames, 100);
  const std::vector<int> first(v.PatternFrames.begin(), v.PatternFrames.begin() + 50);
  const std::vector<int> second(v.PatternFrames.begin() + 50, v.PatternFrames.end());
  EXPECT_TRUE(Consecutive(first, 0));
  EXPECT_TRUE(Consecutive(second, 0));
  EXPECT_NEAR(v.LastSeconds, 99 * 0.04, 0.001);
  // Both inputs' sound, without a gap or an overlap of more than one AAC frame.
  EXPECT_NEAR(double(a.Samples) / a.SampleRate, 4.0, 2048.0 / 44100);
}

TEST_F(TranscodeTest, TwoPassWritesStatisticsThenUsesThem) {
  const std::string log = Out("passlog");
  const std::string first = Out("pass1.avi"), second = Out("pass2.avi");
  ASSERT_TRUE(Configure(
      {{"i", "video_only.mp4"}, {"vcodec", "mpeg4"}, {"b", "200k"}, {"pass", "1"}, {"passlogfile", log}},
      first));
  ASSERT_TRUE(RunJob());
  const std::string stats = log + "-0.log";
  ASSERT_TRUE(fs::exists(stats));
  std::ifstream in(stats);
  int lines = 0;
  for (std::string line; std::getline(in, line);)
    lines += line.starts_with("in:");
  EXPECT_EQ(lines, 50); // one line per coded frame

  engine_.Reset();
  terminations_ = 0;
  ASSERT_TRUE(Configure(
      {{"i", "video_only.mp4"}, {"vcodec", "mpeg4"}, {"b", "200k"}, {"pass", "2"}, {"passlogfile", log}},
      second));
  ASSERT_TRUE(RunJob());
  const FileSummary file = ReadOutput(second);
  ASSERT_EQ(file.Streams.size(), 1u);
  EXPECT_EQ(file.Streams[0].Frames, 50);
  EXPECT_TRUE(Consecutive(file.Streams[0].PatternFrames, 0));
}

TEST_F(TranscodeTest, SizeLimitEndsTheJobWithAFinishedFile) {
  const std::string out = Out("limited.avi");
  ASSERT_TRUE(
      Configure({{"i", "video_only.mp4"}, {"vcodec", "mpeg4"}, {"qscale", "1"}, {"fs", "30000"}}, out));
  ASSERT_TRUE(RunJob());
  const FileSummary file = ReadOutput(out);
  ASSERT_EQ(file.Streams.size(), 1u);
  const StreamSummary &v = file.Streams[0];
  EXPECT_GT(v.Frames, 0);
  EXPECT_LT(v.Frames, 50);
  EXPECT_TRUE(Consecutive(v.PatternFrames, 0));
  EXPECT_LT(fs::file_size(out), 30000u + 40000u); // the limit plus what was in flight
}

TEST_F(TranscodeTest, FrameRateChangeDuplicatesOrDropsFrames) {
  // A picture is repeated only once it is more than 1.1 frames late and dropped only
  // when more than 1.1 frames early, so each output picture is the input picture of its
  // time within that margin.
  struct Case {
    int rate, frames, dup, drop;
  };
  for (const Case c : {Case{50, 98, 48, 0}, Case{10, 21, 0, 29}}) {
    SCOPED_TRACE(c.rate);
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out("rate" + std::to_string(c.rate) + ".avi");
    ASSERT_TRUE(
        Configure({{"i", "video_only.mp4"}, {"vcodec", "mpeg4"}, {"r", std::to_string(c.rate)}}, out));
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(engine_.DuplicatedFrames(), c.dup);
    EXPECT_EQ(engine_.DroppedFrames(), c.drop);
    const FileSummary file = ReadOutput(out);
    ASSERT_EQ(file.Streams.size(), 1u);
    const StreamSummary &v = file.Streams[0];
    EXPECT_EQ(v.Frames, c.frames);
    const double inputPerOutput = 25.0 / c.rate;
    for (size_t k = 0; k < v.PatternFrames.size(); ++k) {
      EXPECT_LE(v.PatternFrames[k], (double(k) + 1.1) * inputPerOutput + 0.5) << k;
      EXPECT_GE(v.PatternFrames[k], (double(k) - 1.1) * inputPerOutput - 0.5) << k;
    }
    engine_.FreeAll();
  }
}

TEST_F(TranscodeTest, FrameLimitStopsTheVideoStream) {
  const std::string out = Out("ten.avi");
  ASSERT_TRUE(Configure({{"i", "video_only.mp4"}, {"vcodec", "mpeg4"}, {"vframes", "10"}}, out));
  ASSERT_TRUE(RunJob());
  const FileSummary file = ReadOutput(out);
  ASSERT_EQ(file.Streams.size(), 1u);
  EXPECT_EQ(file.Streams[0].Frames, 10);
  EXPECT_TRUE(Consecutive(file.Streams[0].PatternFrames, 0));
}

TEST_F(TranscodeTest, DiscTargetsWriteTheirNorm) {
  struct Case {
    const char *target;
    AVCodecID codec;
    int width, height;
    AVCodecID audio;
    int rate;
  };
  for (const Case c : {Case{"pal-vcd", AV_CODEC_ID_MPEG1VIDEO, 352, 288, AV_CODEC_ID_MP2, 44100},
                       Case{"pal-dvd", AV_CODEC_ID_MPEG2VIDEO, 720, 576, AV_CODEC_ID_AC3, 48000}}) {
    SCOPED_TRACE(c.target);
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out(std::string(c.target) + ".mpg");
    ASSERT_TRUE(Configure({{"i", "mpeg2_mp2.mpg"}, {"target", c.target}}, out));
    ASSERT_TRUE(RunJob());
    const FileSummary file = ReadOutput(out);
    EXPECT_EQ(file.Format, "mpeg");
    const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
    const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(a->Codec, c.audio);
    EXPECT_EQ(a->SampleRate, c.rate);
    EXPECT_GT(a->Rms, 0.1);
    EXPECT_EQ(v->Codec, c.codec);
    EXPECT_EQ(v->Width, c.width);
    EXPECT_EQ(v->Height, c.height);
    EXPECT_NEAR(v->Frames, 50, 1);
    EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
    engine_.FreeAll();
  }
}

// Every damaged copy in the catalog, by what it is: a cut file that still opens converts
// up to the cut and the job completes (a shorter file that decodes, no error); one that
// cannot be opened is refused with a message, and the job that goes on without it fails
// and leaves no output behind.
TEST_F(TranscodeTest, TruncatedInputsEndCleanly) {
  int opens = 0, unopenable = 0;
  for (const fixtures::FixtureFile &f : fixtures::kCatalog) {
    if (f.integrity == fixtures::Integrity::Intact) continue;
    const std::string name(f.fileName);
    SCOPED_TRACE(name);
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out("from_" + name + ".avi");
    if (f.integrity == fixtures::Integrity::TruncatedOpens) {
      ++opens;
      // What the damaged file itself decodes to: the pictures and sound before the cut.
      const FileSummary source = ReadOutput(FixturePath(name));
      const StreamSummary *sourceVideo = source.First(AVMEDIA_TYPE_VIDEO);
      ASSERT_NE(sourceVideo, nullptr);
      ASSERT_TRUE(Configure({{"i", name}, {"vcodec", "mpeg4"}, {"acodec", "mp2"}}, out));
      ASSERT_TRUE(RunJob());
      EXPECT_FALSE(engine_.ErrorOccurred()) << engine_.ErrorMessage();
      const FileSummary file = ReadOutput(out);
      ASSERT_TRUE(file.Opened);
      const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
      ASSERT_NE(v, nullptr);
      // Every picture before the cut, in order, none repeated or invented; the cut keeps
      // a good share of the file, so a job that ends at the first damaged packet fails.
      EXPECT_EQ(v->PatternFrames, sourceVideo->PatternFrames);
      const double intactFrames = f.durationSeconds * f.fpsNum / f.fpsDen;
      EXPECT_GT(v->Frames, intactFrames * f.keptFraction / 2);
      EXPECT_LT(v->Frames, intactFrames);
      EXPECT_GT(file.DurationSeconds, 0.0);
      EXPECT_LT(file.DurationSeconds, f.durationSeconds);
      if (const StreamSummary *sourceAudio = source.First(AVMEDIA_TYPE_AUDIO)) {
        const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
        ASSERT_NE(a, nullptr);
        EXPECT_NEAR(double(a->Samples), double(sourceAudio->Samples), 2 * 1152.0); // encoder delay, padding
        EXPECT_GT(a->Rms, 0.1);
      }
    } else {
      ++unopenable;
      EXPECT_FALSE(engine_.AddInputFile(FixturePath(name)));
      EXPECT_NE(engine_.LastErrorText().find(name), std::string::npos) << engine_.LastErrorText();
      ASSERT_GE(engine_.AddOutputFile(out, false), 0) << engine_.LastErrorText();
      engine_.SetOnTerminate([this](TCustomFFmpeg &) { ++terminations_; });
      engine_.Start(false);
      EXPECT_EQ(terminations_, 1);
      EXPECT_FALSE(engine_.CompletedNormally());
      EXPECT_TRUE(engine_.ErrorOccurred());
      EXPECT_FALSE(engine_.ErrorMessage().empty());
      EXPECT_FALSE(fs::exists(out));
    }
    engine_.FreeAll();
  }
  EXPECT_GT(opens, 0);
  EXPECT_GT(unopenable, 0);
}

} // namespace

namespace {

// Start and duration (seconds) of every packet of the first subtitle stream.
std::vector<std::pair<double, double>> SubtitleTimes(const std::string &path) {
  std::vector<std::pair<double, double>> times;
  AVFormatContext *raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return times;
  InputFormatContextPtr ic(raw);
  ff::avformat_find_stream_info(ic.get(), nullptr);
  const int index = ff::av_find_best_stream(ic.get(), AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
  if (index < 0) return times;
  const double tb = av_q2d(ic->streams[index]->time_base);
  PacketPtr packet = MakePacket();
  while (ff::av_read_frame(ic.get(), packet.get()) >= 0) {
    if (packet->stream_index == index)
      times.emplace_back(double(packet->pts) * tb, double(packet->duration) * tb);
    ff::av_packet_unref(packet.get());
  }
  return times;
}

TEST_F(TranscodeTest, SubtitlesAreReEncodedAndCopiedWithTheirTimes) {
  for (const char *codec : {"srt", "copy"}) {
    SCOPED_TRACE(codec);
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out(std::string("subs_") + codec + ".mkv");
    ASSERT_TRUE(
        Configure({{"i", "vp8_vorbis_subs.mkv"}, {"vcodec", "mpeg4"}, {"an", "1"}, {"scodec", codec}}, out));
    ASSERT_TRUE(RunJob());
    const auto times = SubtitleTimes(out);
    const auto &cues = fixtures::kSubtitleCues;
    ASSERT_EQ(times.size(), cues.size());
    for (size_t k = 0; k < cues.size(); ++k) {
      EXPECT_NEAR(times[k].first, double(cues[k].startMs) / 1000, 0.01) << k;
      EXPECT_NEAR(times[k].second, double(cues[k].endMs - cues[k].startMs) / 1000, 0.01) << k;
    }
    engine_.FreeAll();
  }
}

} // namespace

namespace {

TEST_F(TranscodeTest, CropBandsCutThePictureBeforeScaling) {
  // The colour bars fill the lower half: red, green, blue, white, black, each a fifth of
  // the width. Cutting 72 of 176 columns on the left starts the picture in the blue bar.
  for (const char *size : {"", "160x120"}) {
    SCOPED_TRACE(size);
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out(std::string("crop") + size + ".avi");
    Options options = {{"i", "h264_aac.mp4"}, {"an", "1"},        {"vcodec", "mpeg4"},
                       {"qscale", "2"},       {"cropleft", "72"}, {"croptop", "36"}};
    if (*size) options.emplace_back("s", size);
    ASSERT_TRUE(Configure(options, out));
    ASSERT_TRUE(RunJob());
    const FileSummary file = ReadOutput(out);
    ASSERT_EQ(file.Streams.size(), 1u);
    const StreamSummary &v = file.Streams[0];
    EXPECT_EQ(v.Width, *size ? 160 : 104);
    EXPECT_EQ(v.Height, *size ? 120 : 108);
    EXPECT_EQ(v.Frames, 50);
    // Limited-range luma: blue 41, red 81, green 145. Left column, middle of the bars.
    EXPECT_NEAR(v.Luma(2, v.Height * 2 / 3), 41, 12);
    // The top band (frame number cells) is gone: the first row is the grey move band.
    EXPECT_NEAR(v.Luma(v.Width - 3, 1), 64 * 219 / 255 + 16, 12);
    engine_.FreeAll();
  }
}

} // namespace

namespace {

// Packets of each stream of a written file, with the first packet's time (seconds).
struct PacketCount {
  int Packets = 0;
  int KeyPackets = 0;
  double FirstDts = -1;
  bool FirstIsKey = false;
};
std::vector<PacketCount> CountPackets(const std::string &path) {
  std::vector<PacketCount> counts;
  AVFormatContext *raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return counts;
  InputFormatContextPtr ic(raw);
  ff::avformat_find_stream_info(ic.get(), nullptr);
  counts.resize(ic->nb_streams);
  PacketPtr packet = MakePacket();
  while (ff::av_read_frame(ic.get(), packet.get()) >= 0) {
    PacketCount &c = counts.at(size_t(packet->stream_index));
    if (c.Packets++ == 0) {
      c.FirstIsKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
      if (packet->dts != AV_NOPTS_VALUE)
        c.FirstDts = double(packet->dts) * av_q2d(ic->streams[packet->stream_index]->time_base);
    }
    c.KeyPackets += (packet->flags & AV_PKT_FLAG_KEY) != 0;
    ff::av_packet_unref(packet.get());
  }
  return counts;
}

TEST_F(TranscodeTest, StreamCopyStartsAtAKeyPacketUnlessToldOtherwise) {
  // The input has key pictures at 0 s and 1 s; the output starts 0.5 s in.
  for (const bool copyNonKey : {false, true}) {
    SCOPED_TRACE(copyNonKey ? "copyinkf" : "key packets only");
    engine_.Reset();
    terminations_ = 0;
    const std::string out = Out(copyNonKey ? "inkf.mkv" : "key.mkv");
    ASSERT_TRUE(Configure(
        {{"i", "video_only.mp4"}, {"vcodec", "copy"}, {"ss", "0.5"}, {"copyinkf", copyNonKey ? "1" : "0"}},
        out));
    ASSERT_TRUE(RunJob());
    const auto counts = CountPackets(out);
    ASSERT_EQ(counts.size(), 1u);
    if (copyNonKey) {
      EXPECT_NEAR(counts[0].Packets, 37, 1); // from 0.52 s to 1.96 s
      EXPECT_FALSE(counts[0].FirstIsKey);
      EXPECT_NEAR(counts[0].FirstDts, 0.0, 0.05); // shifted by the start time
    } else {
      EXPECT_EQ(counts[0].Packets, 25); // from the key picture at 1 s
      EXPECT_TRUE(counts[0].FirstIsKey);
      EXPECT_NEAR(counts[0].FirstDts, 0.5, 0.05);
    }
    engine_.FreeAll();
  }
}

} // namespace
