// How the probe fails: reports and their levels, open failures, missing libraries, and
// contexts it does not own.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "converter/AVProbe.h"
#include "converter/ProbeTestSupport.h"
#include "media/FFmpegLoader.h"
#include "media/Owners.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {

class ProbeErrors : public ::testing::Test {
protected:
  void SetUp() override { test::LoadConverterLibraries(); }
};

void ExpectNoFile(const TCustomAVProbe &probe) {
  EXPECT_EQ(probe.FormatContext(), nullptr);
  EXPECT_FALSE(probe.OwnsContext());
  EXPECT_EQ(probe.FileName(), "");
  EXPECT_EQ(probe.FormatName(), "");
  EXPECT_EQ(probe.ForcedFormat(), "");
  for (std::int64_t value :
       {probe.FileSize(), std::int64_t{probe.StreamCount()}, std::int64_t{probe.ProgramCount()},
        std::int64_t{probe.AudioStreamCount()}, std::int64_t{probe.VideoStreamCount()},
        std::int64_t{probe.SubtitleStreamCount()}, std::int64_t{probe.FirstAudioStreamIndex()},
        std::int64_t{probe.FirstVideoStreamIndex()}, std::int64_t{probe.FirstSubtitleStreamIndex()}})
    EXPECT_EQ(value, -1);
}

TEST_F(ProbeErrors, QueriesWithoutAFileWarnAndResetTheRecords) {
  test::LogCapture log;
  TAVProbe probe;
  ExpectNoFile(probe);

  TFileStreamInfo file;
  file.Title = "stale";
  file.Timestamp = 5;
  EXPECT_FALSE(probe.GetFileStreamInfo(file));
  EXPECT_EQ(file.Title, "");
  EXPECT_EQ(file.Timestamp, -1);
  EXPECT_EQ(file.Year, -1);
  TAudioStreamInfo audio;
  audio.Channels = 2;
  audio.CodecName = "stale";
  EXPECT_FALSE(probe.GetAudioStreamInfo(-1, audio));
  EXPECT_EQ(audio.Channels, -1);
  EXPECT_EQ(audio.CodecName, "");
  TVideoStreamInfo video;
  video.AspectRatio = 1.5f;
  EXPECT_FALSE(probe.GetVideoStreamInfo(0, video));
  EXPECT_EQ(video.AspectRatio, -1.0f);
  EXPECT_FALSE(probe.IsAudioStream(0));
  EXPECT_FALSE(probe.IsVideoStream(0));
  EXPECT_EQ(probe.FileInfoText(), "");
  EXPECT_EQ(probe.LastErrorText(), "file not loaded.");

  const auto entries = log.From(&probe);
  ASSERT_EQ(entries.size(), 6u);
  for (const auto &e : entries) {
    EXPECT_EQ(e.level, llWarning);
    EXPECT_EQ(e.message, "file not loaded.");
  }
}

TEST_F(ProbeErrors, StreamIndexErrorsOnAnAudioOnlyFile) {
  test::LogCapture log;
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(test::FixturePath("audio_only.mp3"))) << probe.LastErrorText();
  EXPECT_EQ(probe.VideoStreamCount(), 0);
  EXPECT_EQ(probe.FirstVideoStreamIndex(), -1);
  EXPECT_EQ(probe.FirstAudioStreamIndex(), 0);

  TVideoStreamInfo video;
  TAudioStreamInfo audio;
  struct Case {
    bool result;
    const char *message;
  };
  const Case cases[] = {
      {probe.GetVideoStreamInfo(-1, video), "no video stream."},
      {probe.GetVideoStreamInfo(0, video), "stream #0 is not video stream."},
      {probe.GetAudioStreamInfo(1, audio), "stream index #1 is invalid."},
      {probe.IsAudioStream(-1), "stream index #-1 is invalid."},
      {probe.IsVideoStream(1), "stream index #1 is invalid."},
  };
  const auto entries = log.From(&probe);
  ASSERT_EQ(entries.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_FALSE(cases[i].result) << cases[i].message;
    EXPECT_EQ(entries[i].message, cases[i].message);
    EXPECT_EQ(entries[i].level, llError);
  }
  EXPECT_EQ(video.Width, -1);

  // A valid index of another type is a plain "no", and any negative index means the first.
  EXPECT_FALSE(probe.IsVideoStream(0));
  EXPECT_TRUE(probe.IsAudioStream(0));
  EXPECT_TRUE(probe.GetAudioStreamInfo(-7, audio));
  EXPECT_EQ(audio.SampleRate, 44100);
  EXPECT_EQ(log.From(&probe).size(), std::size(cases));
  EXPECT_EQ(probe.FileInfoText().find("Video:"), std::string::npos);
}

TEST_F(ProbeErrors, OpenFailuresLeaveNoFile) {
  test::LogCapture log;
  TAVProbe probe;
  const std::string good = test::FixturePath("h264_aac.mp4");

  // An unknown format also closes the file that was open, and logs nothing.
  ASSERT_TRUE(probe.LoadFile(good));
  EXPECT_FALSE(probe.LoadFile(good, "no_such_format"));
  EXPECT_EQ(probe.LastErrorText(), "Unknown input format: no_such_format");
  ExpectNoFile(probe);
  EXPECT_TRUE(log.From(&probe).empty());

  const std::string missing = test::FixturePath("missing.mp4");
  ASSERT_TRUE(probe.LoadFile(good));
  EXPECT_FALSE(probe.LoadFile(missing));
  EXPECT_EQ(probe.LastErrorText(), missing + ": No such file or directory");
  ExpectNoFile(probe);

  const std::string truncated = test::FixturePath("truncated.mp4");
  EXPECT_FALSE(probe.LoadFile(truncated));
  EXPECT_EQ(probe.LastErrorText(), truncated + ": Invalid data found when processing input");
  ExpectNoFile(probe);

  // Raw H.264 forced onto a file without a single start code: opens, but the stream
  // never gets its parameters.
  test::TempDir dir;
  const std::string zeros = dir.file("zeros.h264");
  std::ofstream(zeros, std::ios::binary) << std::string(64 * 1024, '\0');
  EXPECT_FALSE(probe.LoadFile(zeros, "h264"));
  EXPECT_EQ(probe.LastErrorText(), zeros + ": could not find codec parameters");
  ExpectNoFile(probe);

  const auto entries = log.From(&probe);
  ASSERT_EQ(entries.size(), 3u);
  for (const auto &e : entries)
    EXPECT_EQ(e.level, llError);

  ASSERT_TRUE(probe.LoadFile(test::FixturePath("mpeg2_mp2.mpg"), "mpeg")) << probe.LastErrorText();
  EXPECT_EQ(probe.ForcedFormat(), "mpeg");
  EXPECT_EQ(probe.FormatName(), "mpeg");
  probe.CloseFile();
  ExpectNoFile(probe);
}

// The check runs in the order avcodec, avformat, avutil, swscale; each step below
// unloads one more library, in the opposite order, so each message names the first
// missing library.
TEST_F(ProbeErrors, MissingLibrariesRaiseInCheckOrder) {
  const struct {
    int kind;
    const char *message;
  } steps[] = {{lkSWScale, "LibSwScale not loaded."},
               {lkAVUtil, "LibAVUtil not loaded."},
               {lkAVFormat, "LibAVFormat not loaded."},
               {lkAVCodec, "LibAVCodec not loaded."}};
  TFFmpegLoader &loader = TFFmpegLoader::Instance();
  TAVProbe probe;
  for (const auto &step : steps) {
    loader.UnloadLibrary(step.kind);
    try {
      probe.LoadFile(test::FixturePath("h264_aac.mp4"));
      ADD_FAILURE() << "LoadFile did not raise: " << step.message;
    } catch (const std::runtime_error &e) {
      EXPECT_STREQ(e.what(), step.message);
    }
    EXPECT_THROW(probe.AttachContext(nullptr), std::runtime_error) << step.message;
    EXPECT_EQ(probe.LastErrorText(), step.message);
  }
  ASSERT_TRUE(loader.LoadLibraries(CONVERTER_LIBRARIES)) << loader.LastErrorText();
  EXPECT_TRUE(probe.LoadFile(test::FixturePath("h264_aac.mp4"))) << probe.LastErrorText();
}

TEST_F(ProbeErrors, AttachedContextIsNeverClosedByTheProbe) {
  TInputFile input = test::OpenWithStreamInfo(test::FixturePath("h264_aac.mp4"));
  ASSERT_TRUE(input);
  {
    TAVProbe probe;
    probe.AttachContext(input.Context());
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.FormatContext(), input.Context());
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.FileName(), test::FixturePath("h264_aac.mp4"));
    probe.CloseFile();
    ExpectNoFile(probe);

    probe.AttachContext(input.Context());
    ASSERT_TRUE(probe.LoadFile(test::FixturePath("mpeg2_mp2.mpg"))) << probe.LastErrorText();
    EXPECT_TRUE(probe.OwnsContext());
    probe.AttachContext(input.Context()); // closes its own file, keeps ours
    EXPECT_FALSE(probe.OwnsContext());
  } // destroyed while attached

  // Still open and readable (AddressSanitizer catches a freed context here).
  PacketPtr packet = MakePacket();
  ASSERT_TRUE(packet);
  EXPECT_EQ(ff::av_read_frame(input.Context(), packet.get()), 0);

  TAVProbe probe;
  probe.AttachContext(input.Context());
  probe.AttachContext(nullptr); // how the player detaches
  ExpectNoFile(probe);
}

} // namespace
