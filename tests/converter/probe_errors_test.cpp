// How the probe fails: reports and their levels, open failures, missing libraries, and
// contexts it does not own.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "converter/AVProbe.h"
#include "converter/ProbeTestSupport.h"
#include "media/FFmpegLoader.h"
#include "media/Owners.h"
#include "support/StalledPipe.h"
#include "support/TestMedia.h"

using namespace tovi;

namespace {

class ProbeErrors : public ::testing::Test {
protected:
  void SetUp() override { test::LoadConverterLibraries(); }
};

void ExpectNoFile(const TCustomAVProbe &probe) {
  EXPECT_EQ(probe.FormatContext(), nullptr);
  EXPECT_EQ(probe.FileName(), "");
  EXPECT_EQ(probe.ForcedFormat(), "");
  const std::int64_t numbers[] = {probe.FileSize(),
                                  probe.StreamCount(),
                                  probe.ProgramCount(),
                                  probe.AudioStreamCount(),
                                  probe.VideoStreamCount(),
                                  probe.SubtitleStreamCount(),
                                  probe.FirstAudioStreamIndex(),
                                  probe.FirstVideoStreamIndex(),
                                  probe.FirstSubtitleStreamIndex()};
  for (std::int64_t n : numbers)
    EXPECT_EQ(n, -1);
}

// Each expected message once, in order, at `level`.
void ExpectReports(const test::LogCapture &log, const void *probe, TLogLevel level,
                   const std::vector<std::string> &messages) {
  const auto entries = log.From(probe);
  ASSERT_EQ(entries.size(), messages.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].message, messages[i]);
    EXPECT_EQ(entries[i].level, level) << messages[i];
  }
}

TEST_F(ProbeErrors, QueriesWithoutAFileWarnAndResetTheRecords) {
  test::LogCapture log;
  TAVProbe probe;
  ExpectNoFile(probe);
  TFileStreamInfo file;
  file.Title = "stale";
  TAudioStreamInfo audio;
  audio.Channels = 2;
  TVideoStreamInfo video;
  video.AspectRatio = 1.5f;
  EXPECT_FALSE(probe.GetFileStreamInfo(file));
  EXPECT_FALSE(probe.GetAudioStreamInfo(-1, audio));
  EXPECT_FALSE(probe.GetVideoStreamInfo(0, video));
  EXPECT_FALSE(probe.IsAudioStream(0));
  EXPECT_EQ(probe.FileInfoText(), "");
  EXPECT_EQ(file.Title, "");
  EXPECT_EQ(file.Timestamp, -1);
  EXPECT_EQ(audio.Channels, -1);
  EXPECT_EQ(video.AspectRatio, -1.0f);
  ExpectReports(log, &probe, llWarning, std::vector<std::string>(5, "file not loaded."));
}

TEST_F(ProbeErrors, StreamIndexErrorsOnAnAudioOnlyFile) {
  test::LogCapture log;
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(test::FixturePath("audio_only.mp3"))) << probe.LastErrorText();
  EXPECT_EQ(probe.VideoStreamCount(), 0);
  EXPECT_EQ(probe.FirstVideoStreamIndex(), -1);
  TVideoStreamInfo video;
  TAudioStreamInfo audio;
  EXPECT_FALSE(probe.GetVideoStreamInfo(-1, video));
  EXPECT_EQ(probe.LastErrorText(), "no video stream.");
  EXPECT_FALSE(probe.GetVideoStreamInfo(0, video));
  EXPECT_FALSE(probe.GetAudioStreamInfo(1, audio));
  EXPECT_FALSE(probe.IsAudioStream(-1));
  ExpectReports(log, &probe, llError,
                {"no video stream.", "stream #0 is not video stream.", "stream index #1 is invalid.",
                 "stream index #-1 is invalid."});
  // A valid index of another type is a plain "no"; any negative index means the first.
  EXPECT_FALSE(probe.IsVideoStream(0));
  EXPECT_TRUE(probe.GetAudioStreamInfo(-7, audio));
  EXPECT_EQ(audio.SampleRate, 44100);
  EXPECT_EQ(log.From(&probe).size(), 4u);
  EXPECT_FALSE(test::Has(probe.FileInfoText(), "Video:"));
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
  ExpectNoFile(probe);
  // Raw H.264 forced onto a file without a single start code: it opens, but the
  // stream never gets its parameters.
  test::TempDir dir;
  const std::string zeros = dir.file("zeros.h264");
  std::ofstream(zeros, std::ios::binary) << std::string(64 * 1024, '\0');
  EXPECT_FALSE(probe.LoadFile(zeros, "h264"));
  ExpectNoFile(probe);
  ExpectReports(log, &probe, llError,
                {missing + ": No such file or directory", zeros + ": could not find codec parameters"});

  ASSERT_TRUE(probe.LoadFile(test::FixturePath("mpeg2_mp2.mpg"), "mpeg")) << probe.LastErrorText();
  EXPECT_EQ(probe.ForcedFormat(), "mpeg");
  probe.CloseFile();
  ExpectNoFile(probe);
}

// Checked in the order avcodec, avformat, avutil, swscale: each step unloads one more
// library, going backwards, so each message names the first one missing.
TEST_F(ProbeErrors, MissingLibrariesRaiseInCheckOrder) {
  const std::pair<int, const char *> steps[] = {{lkSWScale, "LibSwScale not loaded."},
                                                {lkAVUtil, "LibAVUtil not loaded."},
                                                {lkAVFormat, "LibAVFormat not loaded."},
                                                {lkAVCodec, "LibAVCodec not loaded."}};
  TFFmpegLoader &loader = TFFmpegLoader::Instance();
  TAVProbe probe;
  for (const auto &[kind, message] : steps) {
    loader.UnloadLibrary(kind);
    try {
      probe.LoadFile(test::FixturePath("h264_aac.mp4"));
      ADD_FAILURE() << "no error for " << message;
    } catch (const std::runtime_error &e) {
      EXPECT_STREQ(e.what(), message);
    }
    EXPECT_THROW(probe.AttachContext(nullptr), std::runtime_error) << message;
  }
  ASSERT_TRUE(loader.LoadLibraries(CONVERTER_LIBRARIES)) << loader.LastErrorText();
}

TEST_F(ProbeErrors, AttachedContextIsNeverClosedByTheProbe) {
  TInputFile input = test::OpenWithStreamInfo(test::FixturePath("h264_aac.mp4"));
  ASSERT_TRUE(input);
  {
    TAVProbe probe;
    probe.AttachContext(input.Context());
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.StreamCount(), 2);
    probe.CloseFile();
    ExpectNoFile(probe);
    probe.AttachContext(input.Context());
    ASSERT_TRUE(probe.LoadFile(test::FixturePath("mpeg2_mp2.mpg"))) << probe.LastErrorText();
    EXPECT_TRUE(probe.OwnsContext());
    probe.AttachContext(input.Context()); // closes its own file, keeps ours
  }                                       // destroyed while attached
  // Still open and readable (AddressSanitizer catches a freed context here).
  PacketPtr packet = MakePacket();
  EXPECT_EQ(ff::av_read_frame(input.Context(), packet.get()), 0);

  TAVProbe probe;
  probe.AttachContext(input.Context());
  probe.AttachContext(nullptr); // how the player detaches
  ExpectNoFile(probe);
}

// A pipe that stays silent keeps LoadFile waiting for its first bytes, one nobody
// writes to keeps it waiting for a writer; Stop from another thread ends both, and the
// probe is left without a file but able to load the next one. The silent pipe's name
// has a colon, so it is read as a "unicode:utf8:" URL; the other by its plain name.
TEST_F(ProbeErrors, StopEndsLoadFileOnAStalledPipe) {
  test::TempDir dir;
  for (const auto kind : {test::TStalledPipe::Silent, test::TStalledPipe::NoWriter}) {
    SCOPED_TRACE(kind == test::TStalledPipe::Silent ? "silent writer" : "no writer");
    const std::string name = dir.file(kind == test::TStalledPipe::Silent ? "silent:pipe.ts" : "lonely.ts");
    test::TStalledPipe pipe(name, kind);
    ASSERT_TRUE(pipe.Ready());
    TAVProbe probe;
    std::atomic<bool> ended{false}, loaded{true};
    std::thread loader([&] {
      loaded = probe.LoadFile(name);
      ended = true;
    });
    EXPECT_TRUE(test::StopUntilEnded([&] { probe.Stop(); }, [&] { return ended.load(); }))
        << "LoadFile waited on";
    pipe.Release(); // lets a LoadFile that ignored the stop end
    loader.join();
    EXPECT_FALSE(loaded);
    EXPECT_EQ(probe.LastErrorText(), name + ": opening stopped");
    ExpectNoFile(probe);
    // The stop belonged to that call only.
    EXPECT_TRUE(probe.LoadFile(test::FixturePath("audio_only.mp3"))) << probe.LastErrorText();
    EXPECT_EQ(probe.AudioStreamCount(), 1);
  }
}

} // namespace
