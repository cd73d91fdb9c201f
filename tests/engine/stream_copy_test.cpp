// Stream copies into AVI, which times a stream by counting its chunks: pictures, rate,
// index and size of the copy as a reader sees them, and the copies it cannot hold.
#include <filesystem>

#include "TranscodeTestSupport.h"
#include "fixtures/Catalog.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;

namespace {

// What the AVI header says of the first video stream: its rate and its chunk count
// (empty chunks included).
struct TAviVideoHeader {
  AVRational Rate{0, 1};
  std::int64_t Chunks = -1;
};

TAviVideoHeader ReadVideoHeader(const std::string &path) {
  TAviVideoHeader header;
  AVFormatContext *raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return header;
  InputFormatContextPtr ic(raw);
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      header.Rate = ic->streams[i]->avg_frame_rate;
      header.Chunks = ic->streams[i]->nb_frames;
      break;
    }
  return header;
}

class StreamCopyTest : public TranscodeTest {};

TEST_F(StreamCopyTest, CopiesIntoAviKeepEveryPictureTheRateAndTheSize) {
  struct TCase {
    const char *Source;
    bool CopyAudio; // false: the audio is left out
  };
  // Length-prefixed H.264 from MP4 and from Matroska (no codec tag there), VP8 from
  // WebM, and a rate that is not a whole number.
  for (const TCase c : {TCase{"h264_aac.mp4", true}, TCase{"two_video.mkv", true},
                        TCase{"vp8_vorbis.webm", false}, TCase{"ntsc_30000_1001.mp4", true}}) {
    SCOPED_TRACE(c.Source);
    engine_.FreeAll();
    engine_.Reset();
    terminations_ = 0;
    const fixtures::FixtureFile *source = fixtures::FindFixture(c.Source);
    ASSERT_NE(source, nullptr);
    const std::string out = Out(std::string(c.Source) + ".avi");
    std::vector<std::pair<std::string, std::string>> options{{"i", c.Source}, {"vcodec", "copy"}};
    if (c.CopyAudio)
      options.emplace_back("acodec", "copy");
    else
      options.emplace_back("an", "1");
    ASSERT_TRUE(Configure(options, out));
    ASSERT_TRUE(RunJob());

    const int frames = fixtures::FrameCount(*source);
    const double frameSeconds = double(source->fpsDen) / source->fpsNum;
    const FileSummary file = ReadOutput(out);
    ASSERT_TRUE(file.Opened);
    EXPECT_EQ(file.Format, "avi");
    const StreamSummary *v = file.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(v, nullptr);
    // Every picture decodes and shows its own frame number, in order.
    EXPECT_EQ(v->Frames, frames);
    EXPECT_TRUE(Consecutive(v->PatternFrames, 0));
    EXPECT_NEAR(v->LastSeconds - v->FirstSeconds, (frames - 1) * frameSeconds, frameSeconds);
    EXPECT_NEAR(file.DurationSeconds, source->durationSeconds, 2 * frameSeconds);
    if (c.CopyAudio) {
      const StreamSummary *a = file.First(AVMEDIA_TYPE_AUDIO);
      ASSERT_NE(a, nullptr);
      EXPECT_NEAR(double(a->Samples), double(fixtures::SampleCount(*source)), 2048.0);
      EXPECT_GT(a->Rms, 0.1);
    }

    const TAviVideoHeader header = ReadVideoHeader(out);
    EXPECT_EQ(header.Rate.num * source->fpsDen, header.Rate.den * source->fpsNum)
        << header.Rate.num << "/" << header.Rate.den;
    EXPECT_EQ(header.Chunks, frames) << "chunks in the index, empty ones included";
    // The same packets in another wrapping: nowhere near the many times the source that
    // empty chunks make.
    EXPECT_LT(fs::file_size(out), 2 * fs::file_size(FixturePath(c.Source)));
  }
}

TEST_F(StreamCopyTest, ACopyAviCannotHoldIsRefusedWithItsReasonAndLeavesNoFile) {
  // Vorbis packets vary in length; AVI gives every audio chunk the same duration.
  const std::string vorbis = Out("vorbis.avi");
  ASSERT_TRUE(Configure({{"i", "vp8_vorbis.webm"}, {"vcodec", "copy"}, {"acodec", "copy"}}, vorbis));
  engine_.Start(false);
  EXPECT_FALSE(engine_.CompletedNormally());
  EXPECT_EQ(engine_.ErrorMessage(),
            "Audio stream #0:1 (vorbis) cannot be copied into avi: its packets vary in "
            "length, which the format cannot time. Convert the audio instead.");
  EXPECT_FALSE(fs::exists(vorbis));

  // A filter that cannot take the stream is found before the file is written.
  engine_.FreeAll();
  engine_.Reset();
  const std::string filtered = Out("filtered.avi");
  ASSERT_TRUE(Configure(
      {{"i", "vp8_vorbis.webm"}, {"vcodec", "copy"}, {"an", "1"}, {"vbsf", "h264_mp4toannexb"}}, filtered));
  engine_.Start(false);
  EXPECT_FALSE(engine_.CompletedNormally());
  EXPECT_EQ(engine_.ErrorMessage(),
            "Failed to initialize bitstream filter h264_mp4toannexb for output stream #0:0 (vp8)");
  EXPECT_FALSE(fs::exists(filtered));
}

} // namespace
